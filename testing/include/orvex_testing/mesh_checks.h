#pragma once

// Brute-force references for the mesh tests: adjacencies found by comparing every facet with
// every other, and the set of unique edges read off the elements; and `Topology`, the one place
// where the mesh tests tell surfaces from solids, so that a test written once runs on both.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/geometry/orientation.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/solid_mesh.h"
#include "polvane/mesh/surface_mesh.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {

// Failing tests print identifiers as "p3 e1" rather than as raw bytes.
inline void PrintTo(const PolygonEdge& value, std::ostream* out) {
    *out << value.string();
}

inline void PrintTo(const PolyhedronFacet& value, std::ostream* out) {
    *out << value.string();
}

inline void PrintTo(const PolyhedronFacetEdge& value, std::ostream* out) {
    *out << value.string();
}

}  // namespace orvex

namespace orvex::test {

/// Uniform access to the elements and facets of surfaces and solids and, for the concrete
/// meshes, to their builders and generated grids.
template <typename Mesh>
struct Topology;

template <>
struct Topology<SurfaceMesh<2>> {
    static constexpr local_index_t nb_facets = 3;
    static constexpr std::array<std::array<local_index_t, 2>, 3> edges{{{0, 1}, {1, 2}, {2, 0}}};

    static index_t nb_elements(const SurfaceMesh<2>& mesh) { return mesh.nb_polygons(); }

    static AttributeManager& element_manager(SurfaceMesh<2>& mesh) {
        return mesh.polygon_attribute_manager();
    }

    static const AttributeManager& element_manager(const SurfaceMesh<2>& mesh) {
        return mesh.polygon_attribute_manager();
    }

    static bool is_on_border(const SurfaceMesh<2>& mesh, index_t e, local_index_t f) {
        return mesh.is_edge_on_border({e, f});
    }

    static std::vector<index_t> sorted_facet(const SurfaceMesh<2>& mesh, index_t e,
                                             local_index_t f) {
        const auto vertices = mesh.polygon_edge_vertices({e, f});
        std::vector<index_t> result(vertices.begin(), vertices.end());
        std::sort(result.begin(), result.end());
        return result;
    }

    static std::optional<index_t> adjacent(const SurfaceMesh<2>& mesh, index_t e, local_index_t f) {
        return mesh.polygon_adjacent({e, f});
    }

    static const std::array<index_t, 3>& vertices(const SurfaceMesh<2>& mesh, index_t e) {
        return mesh.polygon_vertices(e);
    }
};

template <>
struct Topology<SolidMesh<3>> {
    static constexpr local_index_t nb_facets = 4;
    static constexpr std::array<std::array<local_index_t, 2>, 6> edges{
        {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};

    static index_t nb_elements(const SolidMesh<3>& mesh) { return mesh.nb_polyhedra(); }

    static AttributeManager& element_manager(SolidMesh<3>& mesh) {
        return mesh.polyhedron_attribute_manager();
    }

    static const AttributeManager& element_manager(const SolidMesh<3>& mesh) {
        return mesh.polyhedron_attribute_manager();
    }

    static bool is_on_border(const SolidMesh<3>& mesh, index_t e, local_index_t f) {
        return mesh.is_polyhedron_facet_on_border({e, f});
    }

    static std::vector<index_t> sorted_facet(const SolidMesh<3>& mesh, index_t e, local_index_t f) {
        const auto vertices = mesh.polyhedron_facet_vertices({e, f});
        std::vector<index_t> result(vertices.begin(), vertices.end());
        std::sort(result.begin(), result.end());
        return result;
    }

    static std::optional<index_t> adjacent(const SolidMesh<3>& mesh, index_t e, local_index_t f) {
        return mesh.polyhedron_adjacent({e, f});
    }

    static const std::array<index_t, 4>& vertices(const SolidMesh<3>& mesh, index_t e) {
        return mesh.polyhedron_vertices(e);
    }
};

/// The concrete meshes add their builders' edits and the jittered grids of
/// mesh_generators.h: `grid(n)` has n cells per side, `small_grid` cells make about a hundred
/// elements (few enough for the brute-force checks).
template <>
struct Topology<TriangulatedSurface<2>> : Topology<SurfaceMesh<2>> {
    using Builder = TriangulatedSurfaceBuilder<2>;
    static constexpr index_t dimension = 2;
    static constexpr index_t small_grid = 7;

    static TriangulatedSurface<2> grid(index_t n, bool adjacencies = true) {
        return jittered_square_surface(n, 0.1, adjacencies);
    }

    static SIDE orientation(const TriangulatedSurface<2>& mesh, index_t e) {
        return triangle_area_sign(mesh.triangle(e));
    }

    /// The element's geometric view, whose vertices refer to the mesh's points.
    static Triangle<2> simplex(const TriangulatedSurface<2>& mesh, index_t e) {
        return mesh.triangle(e);
    }

    static index_t create_element(Builder& builder, const std::array<index_t, 3>& vertices) {
        return builder.create_triangle(vertices);
    }

    static void set_adjacent(Builder& builder, index_t e, local_index_t f, index_t adjacent) {
        builder.set_polygon_adjacent({e, f}, adjacent);
    }

    static void compute_adjacencies(Builder& builder) { builder.compute_polygon_adjacencies(); }

    static void permute_elements(Builder& builder, const std::vector<index_t>& permutation) {
        builder.permute_polygons(permutation);
    }

    static std::vector<index_t> delete_elements(Builder& builder, const std::vector<bool>& flags) {
        return builder.delete_polygons(flags);
    }
};

template <>
struct Topology<TetrahedralSolid<3>> : Topology<SolidMesh<3>> {
    using Builder = TetrahedralSolidBuilder<3>;
    static constexpr index_t dimension = 3;
    static constexpr index_t small_grid = 3;

    static TetrahedralSolid<3> grid(index_t n, bool adjacencies = true) {
        return jittered_cube_solid(n, 0.1, adjacencies);
    }

    static SIDE orientation(const TetrahedralSolid<3>& mesh, index_t e) {
        return tetrahedron_volume_sign(mesh.tetrahedron(e));
    }

    static Tetrahedron simplex(const TetrahedralSolid<3>& mesh, index_t e) {
        return mesh.tetrahedron(e);
    }

    static index_t create_element(Builder& builder, const std::array<index_t, 4>& vertices) {
        return builder.create_tetrahedron(vertices);
    }

    static void set_adjacent(Builder& builder, index_t e, local_index_t f, index_t adjacent) {
        builder.set_polyhedron_adjacent({e, f}, adjacent);
    }

    static void compute_adjacencies(Builder& builder) { builder.compute_polyhedron_adjacencies(); }

    static void permute_elements(Builder& builder, const std::vector<index_t>& permutation) {
        builder.permute_polyhedra(permutation);
    }

    static std::vector<index_t> delete_elements(Builder& builder, const std::vector<bool>& flags) {
        return builder.delete_polyhedra(flags);
    }
};

/// Gives every element of the manager an attribute "original" holding its own index, to follow
/// the elements through edits.
inline std::shared_ptr<VariableAttribute<index_t>> tag_with_indices(AttributeManager& manager) {
    auto attribute =
        manager.find_or_create_attribute<VariableAttribute, index_t>("original", NO_ID, {});
    for (index_t i = 0; i < manager.nb_elements(); ++i) {
        attribute->set_value(i, i);
    }
    return attribute;
}

/// Checks every stored adjacency against a search of all facets of all other elements
/// (meshes whose facets are shared by at most two elements).
template <typename Mesh>
void expect_brute_force_adjacencies(const Mesh& mesh) {
    using T = Topology<Mesh>;
    const index_t n = T::nb_elements(mesh);
    std::vector<std::vector<index_t>> facets;
    for (index_t e = 0; e < n; ++e) {
        for (local_index_t f = 0; f < T::nb_facets; ++f) {
            facets.push_back(T::sorted_facet(mesh, e, f));
        }
    }
    for (index_t e = 0; e < n; ++e) {
        for (local_index_t f = 0; f < T::nb_facets; ++f) {
            const auto& facet = facets[e * T::nb_facets + f];
            std::optional<index_t> expected;
            for (index_t other = 0; other < n && !expected; ++other) {
                for (local_index_t g = 0; g < T::nb_facets && other != e; ++g) {
                    if (facets[other * T::nb_facets + g] == facet) {
                        expected = other;
                    }
                }
            }
            ASSERT_EQ(T::adjacent(mesh, e, f), expected) << "element " << e << " facet " << +f;
        }
    }
}

/// Checks that the mesh's edges are exactly the edges of its elements, each once, and that
/// `edge_from_vertices` finds them.
template <typename Mesh>
void expect_edges_match_elements(const Mesh& mesh) {
    using T = Topology<Mesh>;
    std::set<std::array<index_t, 2>> from_elements;
    for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
        const auto& vertices = T::vertices(mesh, e);
        for (const auto& local : T::edges) {
            const index_t a = vertices[local[0]];
            const index_t b = vertices[local[1]];
            from_elements.insert({std::min(a, b), std::max(a, b)});
            ASSERT_TRUE(mesh.edges().edge_from_vertices(b, a).has_value());
        }
    }
    const MeshEdges& edges = mesh.edges();
    ASSERT_EQ(edges.nb_edges(), from_elements.size());
    ASSERT_EQ(edges.edge_attribute_manager().nb_elements(), edges.nb_edges());
    std::set<std::array<index_t, 2>> stored;
    for (index_t edge = 0; edge < edges.nb_edges(); ++edge) {
        const auto& vertices = edges.edge_vertices(edge);
        stored.insert({std::min(vertices[0], vertices[1]), std::max(vertices[0], vertices[1])});
        ASSERT_EQ(edges.edge_from_vertices(vertices), edge);
    }
    EXPECT_EQ(stored, from_elements);
}

inline std::vector<index_t> random_permutation(index_t size, std::mt19937_64& random) {
    std::vector<index_t> permutation(size);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), random);
    return permutation;
}

inline std::vector<bool> random_flags(index_t size, double probability, std::mt19937_64& random) {
    std::bernoulli_distribution flag{probability};
    std::vector<bool> flags(size);
    for (index_t i = 0; i < size; ++i) {
        flags[i] = flag(random);
    }
    return flags;
}

}  // namespace orvex::test
