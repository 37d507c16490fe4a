#pragma once

#include <array>

#include "polvane/basic/index.h"
#include "polvane/geometry/aabb_tree.h"
#include "polvane/geometry/compact_aabb_tree.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

/// One vocabulary for the three simplicial mesh kinds, so that code written once for "a mesh
/// of simplices" can be instantiated for curves, surfaces and solids alike.
///
/// `MeshTraits<Mesh>` is defined for exactly `EdgedCurve<1>`, `TriangulatedSurface<2>` and
/// `TetrahedralSolid<3>`; using it with any other type fails to compile. Every specialisation
/// provides:
/// - `Mesh`: the mesh type itself;
/// - `dimension`: D, the dimension of the space and of the elements;
/// - `nb_element_vertices`: D + 1, the vertices of one element;
/// - `Simplex`: the geometric view of an element (`Segment<1>`, `Triangle<2>`, `Tetrahedron`),
///   referring to the mesh's points, valid until the points change;
/// - `ElementDistance`: the functor `distance(point, element)` of
///   "polvane/mesh/distance_to_element.h", bound to a mesh that must outlive it;
/// - `Tree` and `CompactTree`: the tree types over the elements (`AABBTree<D>`,
///   `CompactAABBTree<D>`);
/// - `nb_elements(mesh)`, `element_vertices(mesh, element)` (the D + 1 vertex indices in
///   local order, by reference into the mesh, valid until the mesh changes) and
///   `simplex(mesh, element)`;
/// - `create_tree(mesh)` and `create_compact_tree(mesh)`: the trees over the mesh's elements,
///   element i of the tree being element i of the mesh.
/// Element indices are not checked, as in the mesh accessors.
namespace orvex {

/// The vocabulary of a simplicial mesh kind; see the description of this header.
template <typename Mesh>
struct MeshTraits;

/// A curve of edges on the line.
template <>
struct MeshTraits<EdgedCurve<1>> {
    /// The mesh type.
    using Mesh = EdgedCurve<1>;
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 1;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 2;
    /// The geometric view of an element.
    using Simplex = Segment<1>;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToEdge<1>;
    /// The tree over the elements, double-precision boxes.
    using Tree = AABBTree<1>;
    /// The compact tree over the elements, single-precision boxes.
    using CompactTree = CompactAABBTree<1>;

    /// The number of elements.
    [[nodiscard]] static index_t nb_elements(const Mesh& mesh) { return mesh.nb_edges(); }

    /// The vertices of `element` in local order.
    [[nodiscard]] static const std::array<index_t, 2>& element_vertices(const Mesh& mesh,
                                                                        index_t element) {
        return mesh.edge_vertices(element);
    }

    /// The geometric view of `element`.
    [[nodiscard]] static Simplex simplex(const Mesh& mesh, index_t element) {
        return mesh.segment(element);
    }

    /// The tree over the elements.
    [[nodiscard]] static Tree create_tree(const Mesh& mesh) { return create_aabb_tree(mesh); }

    /// The compact tree over the elements.
    [[nodiscard]] static CompactTree create_compact_tree(const Mesh& mesh) {
        return create_compact_aabb_tree(mesh);
    }
};

/// A triangulated surface of the plane.
template <>
struct MeshTraits<TriangulatedSurface<2>> {
    /// The mesh type.
    using Mesh = TriangulatedSurface<2>;
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 2;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 3;
    /// The geometric view of an element.
    using Simplex = Triangle<2>;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToTriangle<2>;
    /// The tree over the elements, double-precision boxes.
    using Tree = AABBTree<2>;
    /// The compact tree over the elements, single-precision boxes.
    using CompactTree = CompactAABBTree<2>;

    /// The number of elements.
    [[nodiscard]] static index_t nb_elements(const Mesh& mesh) { return mesh.nb_polygons(); }

    /// The vertices of `element` in local order.
    [[nodiscard]] static const std::array<index_t, 3>& element_vertices(const Mesh& mesh,
                                                                        index_t element) {
        return mesh.polygon_vertices(element);
    }

    /// The geometric view of `element`.
    [[nodiscard]] static Simplex simplex(const Mesh& mesh, index_t element) {
        return mesh.triangle(element);
    }

    /// The tree over the elements (the surface seen as a `SurfaceMesh<2>`).
    [[nodiscard]] static Tree create_tree(const Mesh& mesh) {
        return create_aabb_tree(static_cast<const SurfaceMesh<2>&>(mesh));
    }

    /// The compact tree over the elements.
    [[nodiscard]] static CompactTree create_compact_tree(const Mesh& mesh) {
        return create_compact_aabb_tree(static_cast<const SurfaceMesh<2>&>(mesh));
    }
};

/// A tetrahedral solid of space.
template <>
struct MeshTraits<TetrahedralSolid<3>> {
    /// The mesh type.
    using Mesh = TetrahedralSolid<3>;
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 3;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 4;
    /// The geometric view of an element.
    using Simplex = Tetrahedron;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToTetrahedron<3>;
    /// The tree over the elements, double-precision boxes.
    using Tree = AABBTree<3>;
    /// The compact tree over the elements, single-precision boxes.
    using CompactTree = CompactAABBTree<3>;

    /// The number of elements.
    [[nodiscard]] static index_t nb_elements(const Mesh& mesh) { return mesh.nb_polyhedra(); }

    /// The vertices of `element` in local order.
    [[nodiscard]] static const std::array<index_t, 4>& element_vertices(const Mesh& mesh,
                                                                        index_t element) {
        return mesh.polyhedron_vertices(element);
    }

    /// The geometric view of `element`.
    [[nodiscard]] static Simplex simplex(const Mesh& mesh, index_t element) {
        return mesh.tetrahedron(element);
    }

    /// The tree over the elements (the solid seen as a `SolidMesh<3>`).
    [[nodiscard]] static Tree create_tree(const Mesh& mesh) {
        return create_aabb_tree(static_cast<const SolidMesh<3>&>(mesh));
    }

    /// The compact tree over the elements.
    [[nodiscard]] static CompactTree create_compact_tree(const Mesh& mesh) {
        return create_compact_aabb_tree(static_cast<const SolidMesh<3>&>(mesh));
    }
};

}  // namespace orvex
