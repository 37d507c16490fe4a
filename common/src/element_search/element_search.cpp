#include "orvex/background_common/element_search/element_search.h"

#include <cmath>
#include <cstddef>
#include <tuple>
#include <utility>

#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace internal {

template <typename Mesh>
class ElementSearch<Mesh>::Impl {
public:
    using Traits = MeshTraits<Mesh>;
    // The compact tree: the layout and the query of the general tree with half its memory
    // and a linear-time build, which matters when a search is rebuilt after every change of a
    // large mesh.
    using Tree = typename Traits::CompactTree;
    using Distance = typename Traits::ElementDistance;
    using ElementsTree = std::pair<Tree, Distance>;

    // Declared in this order so that the tree, whose distance functor refers to the mesh copy,
    // is destroyed first.
    std::unique_ptr<Mesh> mesh;
    std::unique_ptr<ElementsTree> elements_tree;

    // The query on a built snapshot.
    [[nodiscard]] std::optional<index_t> containing_element(const Point<dimension>& point) const {
        const auto& [tree, distance] = *elements_tree;
        if (tree.nb_bboxes() == 0) {
            return NO_ID;
        }
        // The nearest element, found by the greedy seed and the pruned depth-first search; the
        // search is cut short wherever that cannot change an answer within the tolerance (see
        // `closest_element_within`), which makes queries several times faster.
        const auto [nearest, best] =
            tree.closest_element_within(point, distance, std::nextafter(GLOBAL_EPSILON, 1.));
        // Accept only a distance known to be within the tolerance: a NaN distance never is.
        if (best <= GLOBAL_EPSILON) {
            return nearest;
        }
        return std::nullopt;
    }
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
        Impl::Traits::create_compact_tree(*copy), typename Impl::Distance{*copy});
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
    return impl_->containing_element(point);
}

template <typename Mesh>
std::vector<std::optional<index_t>> ElementSearch<Mesh>::initial_containing_elements(
    absl::Span<const Point<dimension>> points) const {
    std::vector<std::optional<index_t>> answers(points.size());
    if (!impl_ || !impl_->elements_tree || points.empty()) {
        return answers;
    }
    // Each answer is the single query's own; only the order of the work changes.
    for (const std::size_t i : impl_->elements_tree->first.curve_order(points)) {
        answers[i] = impl_->containing_element(points[i]);
    }
    return answers;
}

template class ElementSearch<EdgedCurve<1>>;
template class ElementSearch<TriangulatedSurface<2>>;
template class ElementSearch<TetrahedralSolid<3>>;

}  // namespace internal
}  // namespace orvex
