#pragma once

#include <memory>

#include "polvane/basic/index.h"
#include "polvane/geometry/aabb_tree.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {

/// A copy of a mesh's geometry laid out for point location, and the bounding-box tree over it.
///
/// - `mesh` holds the points and elements of the source mesh and nothing else: no attribute,
///   no edges, no adjacency (every neighbour is unknown). Element i of the copy is the element
///   `tree.leaf_element(i)` of the source, with its vertices in the same local order, so that
///   every distance to it is computed on the same numbers. The copy's vertices are numbered in
///   the order in which its elements first use them; source vertices of no element are left
///   out.
/// - `tree` is the bounding-box tree over the source's elements (the one `create_aabb_tree`
///   builds), built over the copy: its leaf position i is the copy's element i, and it names
///   that element by its source index.
///
/// A nearest-element query meets the elements of a few neighbouring leaves: here their vertex
/// lists and coordinates lie side by side in memory, which saves cache misses on every element
/// measured (see `AABBTree::closest_position_within`).
template <typename Mesh, index_t D>
struct LeafOrderedCopy {
    /// The copy, in leaf order.
    std::unique_ptr<Mesh> mesh;
    /// The tree over the copy's elements, naming them by their source indices.
    AABBTree<D> tree;
};

/// The leaf-ordered copy of `curve` and its tree.
[[nodiscard]] POLVANE_MESH_EXPORT LeafOrderedCopy<EdgedCurve<1>, 1> create_leaf_ordered_copy(
    const EdgedCurve<1>& curve);

/// The leaf-ordered copy of `surface` and its tree.
[[nodiscard]] POLVANE_MESH_EXPORT LeafOrderedCopy<TriangulatedSurface<2>, 2>
create_leaf_ordered_copy(const TriangulatedSurface<2>& surface);

/// The leaf-ordered copy of `solid` and its tree.
[[nodiscard]] POLVANE_MESH_EXPORT LeafOrderedCopy<TetrahedralSolid<3>, 3> create_leaf_ordered_copy(
    const TetrahedralSolid<3>& solid);

}  // namespace orvex
