#include "polvane/mesh/mesh_aabb_tree.h"

#include "simplex_storage.h"

namespace orvex {
namespace {

// Reads the storage directly: a tree over millions of elements would otherwise pay one
// exported call per point read.
template <index_t D, index_t N>
AABBTree<D> tree_over_elements(const detail::SimplexStorage<D, N>& storage) {
    static_assert(N == D + 1, "the elements are simplices of the mesh's dimension");
    return AABBTree<D>{storage.points, storage.elements};
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

}  // namespace orvex
