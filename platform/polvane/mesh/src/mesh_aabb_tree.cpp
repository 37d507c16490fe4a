#include "polvane/mesh/mesh_aabb_tree.h"

#include <vector>

#include "simplex_storage.h"

namespace orvex {
namespace {

// Reads the storage directly: a tree over millions of elements would otherwise pay one
// exported call per point read.
template <index_t D, index_t N>
AABBTree<D> tree_over_elements(const detail::SimplexStorage<D, N>& storage) {
    std::vector<BoundingBox<D>> boxes(storage.elements.size());
    for (std::size_t e = 0; e < boxes.size(); ++e) {
        for (const index_t vertex : storage.elements[e]) {
            boxes[e].add_point(storage.points[vertex]);
        }
    }
    return AABBTree<D>{boxes};
}

template <index_t D, index_t N>
CompactAABBTree<D> compact_tree_over_elements(const detail::SimplexStorage<D, N>& storage) {
    static_assert(N == D + 1, "the elements are simplices of the mesh's dimension");
    return CompactAABBTree<D>{storage.points, storage.elements};
}

}  // namespace

AABBTree<1> create_aabb_tree(const EdgedCurve<1>& curve) {
    return tree_over_elements(detail::StorageAccess::storage(curve));
}

AABBTree<2> create_aabb_tree(const SurfaceMesh<2>& mesh) {
    return tree_over_elements(detail::StorageAccess::storage(mesh));
}

AABBTree<3> create_aabb_tree(const SolidMesh<3>& mesh) {
    return tree_over_elements(detail::StorageAccess::storage(mesh));
}

CompactAABBTree<1> create_compact_aabb_tree(const EdgedCurve<1>& curve) {
    return compact_tree_over_elements(detail::StorageAccess::storage(curve));
}

CompactAABBTree<2> create_compact_aabb_tree(const SurfaceMesh<2>& mesh) {
    return compact_tree_over_elements(detail::StorageAccess::storage(mesh));
}

CompactAABBTree<3> create_compact_aabb_tree(const SolidMesh<3>& mesh) {
    return compact_tree_over_elements(detail::StorageAccess::storage(mesh));
}

}  // namespace orvex
