#pragma once

// The brute-force reference of every nearest-element query: the smallest distance from a point
// to the elements of a mesh, and every element at that distance, found by measuring them all.

#include <limits>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::test {

/// The smallest element distance from a point and the elements at exactly that distance, in
/// increasing order. A NaN distance never counts: with no element, or none at a number,
/// `distance` is +infinity and `elements` is empty.
struct NearestElements {
    double distance{std::numeric_limits<double>::infinity()};
    std::vector<index_t> elements;

    /// Whether `element` is one of the nearest.
    [[nodiscard]] bool holds(index_t element) const {
        for (const index_t nearest : elements) {
            if (nearest == element) {
                return true;
            }
        }
        return false;
    }
};

/// The nearest elements of `mesh` to `point`, by the mesh's element distance
/// (`MeshTraits<Mesh>::ElementDistance`).
template <typename Mesh>
NearestElements nearest_elements(const Mesh& mesh,
                                 const Point<MeshTraits<Mesh>::dimension>& point) {
    using Traits = MeshTraits<Mesh>;
    const typename Traits::ElementDistance distance{mesh};
    NearestElements result;
    for (index_t e = 0; e < Traits::nb_elements(mesh); ++e) {
        const double d = distance(point, e);
        if (d < result.distance) {
            result.distance = d;
            result.elements.assign(1, e);
        } else if (d == result.distance) {
            result.elements.push_back(e);
        }
    }
    return result;
}

/// The answer an element search must give for `point`: whether some element lies within the
/// tolerance (1e-6, included), and if so the nearest ones.
template <typename Mesh>
NearestElements containing_elements(const Mesh& mesh,
                                    const Point<MeshTraits<Mesh>::dimension>& point) {
    NearestElements result = nearest_elements(mesh, point);
    if (!(result.distance <= GLOBAL_EPSILON)) {
        result.elements.clear();
    }
    return result;
}

}  // namespace orvex::test
