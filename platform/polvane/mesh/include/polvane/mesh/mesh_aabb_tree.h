#pragma once

#include "polvane/geometry/aabb_tree.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/solid_mesh.h"
#include "polvane/mesh/surface_mesh.h"

/// Trees over the elements of a mesh: element i of the tree is element i of the mesh, and its
/// box is the bounding box of the element's points, read from the vertices as the tree is
/// built (no box array is made). The tree is a snapshot: it does not follow later changes of
/// the mesh. See `AABBTree` for the layout and the queries, and
/// "polvane/mesh/distance_to_element.h" for the element distances that its nearest-element
/// query takes.
namespace orvex {

/// A tree over the edges of `curve`.
[[nodiscard]] POLVANE_MESH_EXPORT AABBTree<1> create_aabb_tree(const EdgedCurve<1>& curve);

/// A tree over the polygons of `mesh`.
[[nodiscard]] POLVANE_MESH_EXPORT AABBTree<2> create_aabb_tree(const SurfaceMesh<2>& mesh);

/// A tree over the polyhedra of `mesh`.
[[nodiscard]] POLVANE_MESH_EXPORT AABBTree<3> create_aabb_tree(const SolidMesh<3>& mesh);

}  // namespace orvex
