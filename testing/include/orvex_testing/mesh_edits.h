#pragma once

// The edits of a remeshing loop, applied to a mesh through its builder and recorded in the
// `MeshChanges` that describe them, for tests and benchmarks of structures that follow a mesh.
// The changes of several edits accumulate in one record as long as no renumbering comes after
// a creation (a deletion renumbers everything before it: apply it first, or commit the
// changes before it).

#include <array>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_changes.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::test {

/// Splits `element` at `point` into D + 1 elements (a tetrahedron into four, a triangle into
/// three, an edge into two), each with one vertex replaced by the new one: the first keeps the
/// element's index, the others are appended. Returns the new vertex.
template <typename Mesh>
index_t split_element(Mesh& mesh, index_t element, const Point<MeshTraits<Mesh>::dimension>& point,
                      MeshChanges& changes) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    typename Traits::Builder builder{mesh};
    const index_t vertex = builder.create_point(point);
    const std::array<index_t, D + 1> old = Traits::element_vertices(mesh, element);
    std::vector<std::array<index_t, D + 1>> parts;
    for (index_t replaced = 1; replaced <= D; ++replaced) {
        parts.push_back(old);
        parts.back()[replaced] = vertex;
    }
    std::array<index_t, D + 1> kept = old;
    kept[0] = vertex;
    Traits::set_element_vertices(builder, element, kept);
    const index_t first = Traits::create_elements(builder, parts);
    changes.modified_elements.push_back(element);
    for (index_t k = 0; k < D; ++k) {
        changes.created_elements.push_back(first + k);
    }
    return vertex;
}

/// Moves `vertex` to `point`.
template <typename Mesh>
void move_vertex(Mesh& mesh, index_t vertex, const Point<MeshTraits<Mesh>::dimension>& point,
                 MeshChanges& changes) {
    typename MeshTraits<Mesh>::Builder builder{mesh};
    builder.set_point(vertex, point);
    changes.moved_vertices.push_back(vertex);
}

/// Deletes the flagged elements with compaction, then the vertices no element uses any more;
/// records both renumberings. \pre `changes` holds no other change yet.
template <typename Mesh>
void delete_elements(Mesh& mesh, const std::vector<bool>& flags, MeshChanges& changes) {
    using Traits = MeshTraits<Mesh>;
    typename Traits::Builder builder{mesh};
    changes.element_renumbering = Traits::delete_elements(builder, flags);
    changes.vertex_renumbering = builder.delete_isolated_vertices();
}

/// The centroid of `element`, each coordinate divided before the sum so that it does not
/// overflow.
template <typename Mesh>
Point<MeshTraits<Mesh>::dimension> element_centroid(const Mesh& mesh, index_t element) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    Point<D> result;
    for (const index_t vertex : Traits::element_vertices(mesh, element)) {
        for (index_t axis = 0; axis < D; ++axis) {
            result.set_value(axis, result.value(axis) + mesh.point(vertex).value(axis) / (D + 1));
        }
    }
    return result;
}

}  // namespace orvex::test
