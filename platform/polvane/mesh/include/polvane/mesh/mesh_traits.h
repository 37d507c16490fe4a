#pragma once

#include <absl/types/span.h>

#include <array>
#include <optional>
#include <vector>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/edged_curve_builder.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

/// One vocabulary for the three simplicial mesh kinds, so that code written once for "a mesh
/// of simplices" can be instantiated for curves, surfaces and solids alike.
///
/// `MeshTraits<Mesh>` is defined for exactly `EdgedCurve<1>`, `TriangulatedSurface<2>` and
/// `TetrahedralSolid<3>`; using it with any other type fails to compile. Every specialisation
/// provides:
/// - `Mesh`: the mesh type itself, and `Builder`, its builder;
/// - `name`: the mesh kind in messages ("curve", "triangulated surface", "tetrahedral solid");
/// - `element_name`: the plural noun of the elements ("edges", "triangles", "tetrahedra"), for
///   messages;
/// - `dimension`: D, the dimension of the space and of the elements;
/// - `nb_element_vertices`: D + 1, the vertices of one element;
/// - `Simplex`: the geometric view of an element (`Segment<1>`, `Triangle<2>`, `Tetrahedron`),
///   referring to the mesh's points, valid until the points change;
/// - `ElementDistance`: the functor `distance(point, element)` of
///   "polvane/mesh/distance_to_element.h", bound to a mesh that must outlive it;
/// - `nb_elements(mesh)`, `element_vertices(mesh, element)` (the D + 1 vertex indices in
///   local order, by reference into the mesh, valid until the mesh changes) and
///   `simplex(mesh, element)`;
/// - `element_attribute_manager(mesh)`, const or not: the attribute manager of the elements;
/// - the builder's element edits under one name: `create_element(builder, vertices)`,
///   `create_elements(builder, elements)` (the index of the first new element),
///   `set_element_vertices(builder, element, vertices)`, `permute_elements(builder,
///   permutation)` and `delete_elements(builder, flags)` (the old
///   to new index map), with the meaning of the builder's own functions.
/// Surfaces and solids, whose elements know their neighbours across facets, also provide (curves
/// keep no adjacencies and do not):
/// - `nb_facets`: D + 1, the facets of one element, numbered as the mesh numbers them (see
///   "polvane/mesh/element_identifiers.h": the edge of local vertices f and (f + 1) mod 3 of a
///   triangle, the facet opposite local vertex f of a tetrahedron);
/// - `Facet`: the facet identifier (`PolygonEdge`, `PolyhedronFacet`), and
///   `facet_vertices(mesh, element, facet)`, `adjacent(mesh, element, facet)` (the element
///   across, if any) and `is_on_border(mesh, element, facet)`;
/// - `set_adjacent(builder, element, facet, adjacent)` and `compute_adjacencies(builder)`;
/// - `orientation(mesh, element)`: the sign of the element's area or volume.
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
    /// The mesh kind in messages.
    static constexpr const char* name = "curve";
    /// Its builder.
    using Builder = EdgedCurveBuilder<1>;
    /// The plural noun of the elements.
    static constexpr const char* element_name = "edges";
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 1;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 2;
    /// The geometric view of an element.
    using Simplex = Segment<1>;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToEdge<1>;

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

    /// The attribute manager of the elements.
    [[nodiscard]] static AttributeManager& element_attribute_manager(Mesh& mesh) {
        return mesh.edge_attribute_manager();
    }

    /// The attribute manager of the elements.
    [[nodiscard]] static const AttributeManager& element_attribute_manager(const Mesh& mesh) {
        return mesh.edge_attribute_manager();
    }

    /// Creates one element; its index.
    static index_t create_element(Builder& builder, const std::array<index_t, 2>& vertices) {
        return builder.create_edge(vertices[0], vertices[1]);
    }

    /// Creates the elements in order; the index of the first.
    static index_t create_elements(Builder& builder,
                                   absl::Span<const std::array<index_t, 2>> elements) {
        return builder.create_edges(elements);
    }

    /// Replaces the vertices of `element` in place.
    static void set_element_vertices(Builder& builder, index_t element,
                                     const std::array<index_t, 2>& vertices) {
        builder.set_edge_vertices(element, vertices);
    }

    /// Reorders the elements: afterwards element k is the one that was `permutation[k]`.
    static void permute_elements(Builder& builder, absl::Span<const index_t> permutation) {
        builder.permute_edges(permutation);
    }

    /// Removes the flagged elements, keeping the others in order; the old-to-new element list
    /// (`NO_ID` for removed elements).
    static std::vector<index_t> delete_elements(Builder& builder, const std::vector<bool>& flags) {
        return builder.delete_edges(flags);
    }
};

/// A triangulated surface of the plane.
template <>
struct MeshTraits<TriangulatedSurface<2>> {
    /// The mesh type.
    using Mesh = TriangulatedSurface<2>;
    /// The mesh kind in messages.
    static constexpr const char* name = "triangulated surface";
    /// Its builder.
    using Builder = TriangulatedSurfaceBuilder<2>;
    /// The plural noun of the elements.
    static constexpr const char* element_name = "triangles";
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 2;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 3;
    /// The geometric view of an element.
    using Simplex = Triangle<2>;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToTriangle<2>;

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

    /// The attribute manager of the elements.
    [[nodiscard]] static AttributeManager& element_attribute_manager(Mesh& mesh) {
        return mesh.polygon_attribute_manager();
    }

    /// The attribute manager of the elements.
    [[nodiscard]] static const AttributeManager& element_attribute_manager(const Mesh& mesh) {
        return mesh.polygon_attribute_manager();
    }

    /// Creates one element; its index.
    static index_t create_element(Builder& builder, const std::array<index_t, 3>& vertices) {
        return builder.create_triangle(vertices);
    }

    /// Creates the elements in order; the index of the first.
    static index_t create_elements(Builder& builder,
                                   absl::Span<const std::array<index_t, 3>> elements) {
        return builder.create_triangles(elements);
    }

    /// Replaces the vertices of `element` in place.
    static void set_element_vertices(Builder& builder, index_t element,
                                     const std::array<index_t, 3>& vertices) {
        builder.set_triangle_vertices(element, vertices);
    }

    /// Reorders the elements: afterwards element k is the one that was `permutation[k]`.
    static void permute_elements(Builder& builder, absl::Span<const index_t> permutation) {
        builder.permute_polygons(permutation);
    }

    /// Removes the flagged elements, keeping the others in order; the old-to-new element list
    /// (`NO_ID` for removed elements).
    static std::vector<index_t> delete_elements(Builder& builder, const std::vector<bool>& flags) {
        return builder.delete_polygons(flags);
    }

    /// The number of facets of an element.
    static constexpr local_index_t nb_facets = 3;
    /// The facet identifier.
    using Facet = PolygonEdge;

    /// The vertices of facet `facet` of `element`.
    [[nodiscard]] static std::array<index_t, 2> facet_vertices(const Mesh& mesh, index_t element,
                                                               local_index_t facet) {
        return mesh.polygon_edge_vertices({element, facet});
    }

    /// The element across facet `facet` of `element`, if any.
    [[nodiscard]] static std::optional<index_t> adjacent(const Mesh& mesh, index_t element,
                                                         local_index_t facet) {
        return mesh.polygon_adjacent({element, facet});
    }

    /// Whether no element lies across facet `facet` of `element`.
    [[nodiscard]] static bool is_on_border(const Mesh& mesh, index_t element, local_index_t facet) {
        return mesh.is_edge_on_border({element, facet});
    }

    /// Sets the element across facet `facet` of `element`.
    static void set_adjacent(Builder& builder, index_t element, local_index_t facet,
                             index_t adjacent) {
        builder.set_polygon_adjacent({element, facet}, adjacent);
    }

    /// The sign of the element's measure.
    [[nodiscard]] static SIDE orientation(const Mesh& mesh, index_t element) {
        return triangle_area_sign(simplex(mesh, element));
    }

    /// Computes the adjacencies across facets.
    static void compute_adjacencies(Builder& builder) { builder.compute_polygon_adjacencies(); }
};

/// A tetrahedral solid of space.
template <>
struct MeshTraits<TetrahedralSolid<3>> {
    /// The mesh type.
    using Mesh = TetrahedralSolid<3>;
    /// The mesh kind in messages.
    static constexpr const char* name = "tetrahedral solid";
    /// Its builder.
    using Builder = TetrahedralSolidBuilder<3>;
    /// The plural noun of the elements.
    static constexpr const char* element_name = "tetrahedra";
    /// The dimension of the space and of the elements.
    static constexpr index_t dimension = 3;
    /// The number of vertices of an element.
    static constexpr index_t nb_element_vertices = 4;
    /// The geometric view of an element.
    using Simplex = Tetrahedron;
    /// The distance from a point to an element.
    using ElementDistance = DistanceToTetrahedron<3>;

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

    /// The attribute manager of the elements.
    [[nodiscard]] static AttributeManager& element_attribute_manager(Mesh& mesh) {
        return mesh.polyhedron_attribute_manager();
    }

    /// The attribute manager of the elements.
    [[nodiscard]] static const AttributeManager& element_attribute_manager(const Mesh& mesh) {
        return mesh.polyhedron_attribute_manager();
    }

    /// Creates one element; its index.
    static index_t create_element(Builder& builder, const std::array<index_t, 4>& vertices) {
        return builder.create_tetrahedron(vertices);
    }

    /// Creates the elements in order; the index of the first.
    static index_t create_elements(Builder& builder,
                                   absl::Span<const std::array<index_t, 4>> elements) {
        return builder.create_tetrahedra(elements);
    }

    /// Replaces the vertices of `element` in place.
    static void set_element_vertices(Builder& builder, index_t element,
                                     const std::array<index_t, 4>& vertices) {
        builder.set_tetrahedron_vertices(element, vertices);
    }

    /// Reorders the elements: afterwards element k is the one that was `permutation[k]`.
    static void permute_elements(Builder& builder, absl::Span<const index_t> permutation) {
        builder.permute_polyhedra(permutation);
    }

    /// Removes the flagged elements, keeping the others in order; the old-to-new element list
    /// (`NO_ID` for removed elements).
    static std::vector<index_t> delete_elements(Builder& builder, const std::vector<bool>& flags) {
        return builder.delete_polyhedra(flags);
    }

    /// The number of facets of an element.
    static constexpr local_index_t nb_facets = 4;
    /// The facet identifier.
    using Facet = PolyhedronFacet;

    /// The vertices of facet `facet` of `element`.
    [[nodiscard]] static std::array<index_t, 3> facet_vertices(const Mesh& mesh, index_t element,
                                                               local_index_t facet) {
        return mesh.polyhedron_facet_vertices({element, facet});
    }

    /// The element across facet `facet` of `element`, if any.
    [[nodiscard]] static std::optional<index_t> adjacent(const Mesh& mesh, index_t element,
                                                         local_index_t facet) {
        return mesh.polyhedron_adjacent({element, facet});
    }

    /// Whether no element lies across facet `facet` of `element`.
    [[nodiscard]] static bool is_on_border(const Mesh& mesh, index_t element, local_index_t facet) {
        return mesh.is_polyhedron_facet_on_border({element, facet});
    }

    /// Sets the element across facet `facet` of `element`.
    static void set_adjacent(Builder& builder, index_t element, local_index_t facet,
                             index_t adjacent) {
        builder.set_polyhedron_adjacent({element, facet}, adjacent);
    }

    /// The sign of the element's measure.
    [[nodiscard]] static SIDE orientation(const Mesh& mesh, index_t element) {
        return tetrahedron_volume_sign(simplex(mesh, element));
    }

    /// Computes the adjacencies across facets.
    static void compute_adjacencies(Builder& builder) { builder.compute_polyhedron_adjacencies(); }
};

}  // namespace orvex
