#include "orvex/background_common/element_search/element_search.h"

#include <cmath>
#include <tuple>
#include <utility>

#include "polvane/geometry/aabb_tree.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace internal {
namespace {

template <typename Mesh>
struct SearchTraits;

template <>
struct SearchTraits<EdgedCurve<1>> {
    using Distance = DistanceToEdge<1>;
};

template <>
struct SearchTraits<TriangulatedSurface<2>> {
    using Distance = DistanceToTriangle<2>;
};

template <>
struct SearchTraits<TetrahedralSolid<3>> {
    using Distance = DistanceToTetrahedron<3>;
};

constexpr double containment_tolerance = 1e-6;

}  // namespace

template <typename Mesh>
class ElementSearch<Mesh>::Impl {
public:
    using Tree = AABBTree<dimension>;
    using Distance = typename SearchTraits<Mesh>::Distance;
    using ElementsTree = std::pair<Tree, Distance>;

    // Declared in this order so that the tree, whose distance functor refers to the mesh copy,
    // is destroyed first.
    std::unique_ptr<Mesh> mesh;
    std::unique_ptr<ElementsTree> elements_tree;
};

template <typename Mesh>
ElementSearch<Mesh>::ElementSearch() : impl_{std::make_unique<Impl>()} {}

// A body rather than `= default`: g++ hides out-of-line defaulted members of class templates
// under -fvisibility-inlines-hidden, and the destructor must be exported.
template <typename Mesh>
ElementSearch<Mesh>::~ElementSearch() {}  // NOLINT(modernize-use-equals-default)

template <typename Mesh>
ElementSearch<Mesh>::ElementSearch(ElementSearch&& other) noexcept
    : impl_{std::move(other.impl_)} {}

template <typename Mesh>
ElementSearch<Mesh>& ElementSearch<Mesh>::operator=(ElementSearch&& other) noexcept {
    if (this != &other) {
        // Take the other's snapshot first; the previous one dies with `previous`, tree before
        // mesh copy.
        auto previous = std::exchange(impl_, std::move(other.impl_));
    }
    return *this;
}

template <typename Mesh>
void ElementSearch<Mesh>::reinitialize_elements_tree(const Mesh& mesh) {
    // Everything new is built before anything is released, so a throwing copy or build leaves
    // the previous snapshot answering.
    std::unique_ptr<Mesh> copy = mesh.clone();
    auto elements_tree = std::make_unique<typename Impl::ElementsTree>(
        create_aabb_tree(*copy), typename Impl::Distance{*copy});
    if (!impl_) {
        impl_ = std::make_unique<Impl>();
    }
    std::swap(impl_->elements_tree, elements_tree);
    std::swap(impl_->mesh, copy);
    // The previous tree (now in `elements_tree`) is destroyed before the previous copy (now in
    // `copy`): locals die in reverse order of declaration.
}

template <typename Mesh>
std::optional<index_t> ElementSearch<Mesh>::initial_containing_element(
    const Point<dimension>& point) const {
    if (!impl_ || !impl_->elements_tree) {
        return std::nullopt;
    }
    const auto& [tree, distance] = *impl_->elements_tree;
    if (tree.nb_bboxes() == 0) {
        return NO_ID;
    }
    // The nearest element, found by the greedy seed and the pruned depth-first search; the
    // search is cut short wherever that cannot change an answer within the tolerance (see
    // `closest_element_within`), which makes queries several times faster.
    const auto [nearest, best] = tree.closest_element_within(
        point, distance, std::nextafter(containment_tolerance, 1.));
    // Accept only a distance known to be within the tolerance: a NaN distance never is.
    if (best <= containment_tolerance) {
        return nearest;
    }
    return std::nullopt;
}

template class ElementSearch<EdgedCurve<1>>;
template class ElementSearch<TriangulatedSurface<2>>;
template class ElementSearch<TetrahedralSolid<3>>;

}  // namespace internal
}  // namespace orvex
