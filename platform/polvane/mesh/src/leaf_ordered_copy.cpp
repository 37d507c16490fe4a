#include "polvane/mesh/leaf_ordered_copy.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "simplex_storage.h"

namespace orvex {
namespace {

// Writes the storage directly: one exported call per point or element would cost more than
// the copy itself on millions of elements.
template <typename Mesh, index_t D, index_t N>
LeafOrderedCopy<Mesh, D> leaf_ordered(const detail::SimplexStorage<D, N>& from) {
    static_assert(N == D + 1, "the elements are simplices of the mesh's dimension");
    using Storage = detail::SimplexStorage<D, N>;
    std::vector<index_t> leaves = AABBTree<D>::leaf_order(from.points, from.elements);
    auto copy = std::make_unique<Mesh>();
    Storage& to = detail::StorageAccess::storage(*copy);
    const std::size_t n = leaves.size();
    std::vector<index_t> renumbered(from.points.size(), NO_ID);
    to.points.reserve(from.points.size());
    to.elements.reserve(n);
    // The leaf order visits the source's elements out of their order: each read would wait on
    // memory, so the element a few leaves ahead is fetched early.
    constexpr std::size_t lead = 16;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + lead < n) {
            __builtin_prefetch(&from.elements[leaves[i + lead]]);
        }
        typename Storage::Element element = from.elements[leaves[i]];
        for (index_t& vertex : element) {
            index_t& number = renumbered[vertex];
            if (number == NO_ID) {
                number = static_cast<index_t>(to.points.size());
                to.points.push_back(from.points[vertex]);
            }
            vertex = number;
        }
        to.elements.push_back(element);
    }
    // No adjacency array: every neighbour unknown, in no memory.
    to.vertex_manager.resize(to.nb_vertices());
    to.element_manager.resize(to.nb_elements());
    AABBTree<D> tree{to.points, to.elements, std::move(leaves)};
    return {std::move(copy), std::move(tree)};
}

}  // namespace

LeafOrderedCopy<EdgedCurve<1>, 1> create_leaf_ordered_copy(const EdgedCurve<1>& curve) {
    return leaf_ordered<EdgedCurve<1>>(detail::StorageAccess::storage(curve));
}

LeafOrderedCopy<TriangulatedSurface<2>, 2> create_leaf_ordered_copy(
    const TriangulatedSurface<2>& surface) {
    return leaf_ordered<TriangulatedSurface<2>>(detail::StorageAccess::storage(surface));
}

LeafOrderedCopy<TetrahedralSolid<3>, 3> create_leaf_ordered_copy(const TetrahedralSolid<3>& solid) {
    return leaf_ordered<TetrahedralSolid<3>>(detail::StorageAccess::storage(solid));
}

}  // namespace orvex
