// The behaviours surfaces and solids share, written once and run on both kinds; the local
// queries of each kind stay in surface_mesh_test.cpp and solid_mesh_test.cpp.

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "orvex_testing/mesh_checks.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace {

using test::expect_brute_force_adjacencies;
using test::expect_edges_match_elements;
using test::random_flags;
using test::random_permutation;
using test::tag_with_indices;
using test::Topology;

index_t power(index_t base, index_t exponent) {
    index_t result = 1;
    for (index_t i = 0; i < exponent; ++i) {
        result *= base;
    }
    return result;
}

index_t factorial(index_t n) {
    return n <= 1 ? 1 : n * factorial(n - 1);
}

template <typename Mesh>
class SimplicialMesh : public ::testing::Test {};

using MeshKinds = ::testing::Types<TriangulatedSurface<2>, TetrahedralSolid<3>>;
// The empty last argument keeps the default names (SimplicialMesh/0, /1) without a warning of
// clang's about an omitted variadic macro argument.
TYPED_TEST_SUITE(SimplicialMesh, MeshKinds, );

TYPED_TEST(SimplicialMesh, GeneratedGridIsConsistentAndPositivelyOriented) {
    using T = Topology<TypeParam>;
    constexpr index_t n = T::small_grid;
    constexpr index_t d = T::dimension;
    const auto mesh = T::grid(n);
    // A Kuhn grid of n cells per side: (n + 1)^d vertices, d! simplices per cell, and
    // (d - 1)! border facets per cell side on each of the 2 d sides of the box.
    EXPECT_EQ(mesh.nb_vertices(), power(n + 1, d));
    EXPECT_EQ(T::nb_elements(mesh), factorial(d) * power(n, d));
    EXPECT_EQ(mesh.vertex_attribute_manager().nb_elements(), mesh.nb_vertices());
    EXPECT_EQ(T::element_attribute_manager(mesh).nb_elements(), T::nb_elements(mesh));
    index_t border_facets = 0;
    for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
        EXPECT_EQ(T::orientation(mesh, e), SIDE::positive) << "element " << e;
        const auto simplex = T::simplex(mesh, e);
        for (local_index_t v = 0; v <= d; ++v) {
            // The geometric view refers to the mesh's own points, in local order.
            EXPECT_EQ(&simplex.vertices()[v].get(), &mesh.point(T::element_vertices(mesh, e)[v]));
        }
        for (local_index_t f = 0; f < T::nb_facets; ++f) {
            border_facets += T::is_on_border(mesh, e, f) ? 1 : 0;
        }
    }
    EXPECT_EQ(border_facets, 2 * d * factorial(d - 1) * power(n, d - 1));
    expect_brute_force_adjacencies(mesh);
}

TYPED_TEST(SimplicialMesh, AdjacenciesMatchBruteForceAfterShufflesAndHoles) {
    using T = Topology<TypeParam>;
    std::mt19937_64 random{7};
    for (int round = 0; round < 4; ++round) {
        auto mesh = T::grid(T::small_grid, false);
        typename T::Builder builder{mesh};
        builder.permute_vertices(random_permutation(mesh.nb_vertices(), random));
        T::permute_elements(builder, random_permutation(T::nb_elements(mesh), random));
        T::delete_elements(builder, random_flags(T::nb_elements(mesh), 0.2, random));
        T::compute_adjacencies(builder);
        expect_brute_force_adjacencies(mesh);
        // Editing keeps the computed adjacencies right without recomputing them.
        T::permute_elements(builder, random_permutation(T::nb_elements(mesh), random));
        expect_brute_force_adjacencies(mesh);
        T::delete_elements(builder, random_flags(T::nb_elements(mesh), 0.3, random));
        expect_brute_force_adjacencies(mesh);
        builder.delete_isolated_vertices();
        expect_brute_force_adjacencies(mesh);
    }
}

TYPED_TEST(SimplicialMesh, AttributesAndEdgesFollowEdits) {
    using T = Topology<TypeParam>;
    for (const bool with_edges : {false, true}) {
        SCOPED_TRACE(with_edges ? "with edges" : "without edges");
        std::mt19937_64 random{11};
        auto mesh = T::grid(T::small_grid);
        typename T::Builder builder{mesh};
        if (with_edges) {
            builder.enable_edges();
            expect_edges_match_elements(mesh);
        }
        const auto element_tag = tag_with_indices(T::element_attribute_manager(mesh));
        const auto vertex_tag = tag_with_indices(mesh.vertex_attribute_manager());
        const auto edge_tag =
            with_edges ? tag_with_indices(mesh.edges().edge_attribute_manager()) : nullptr;
        std::vector<std::decay_t<decltype(mesh.point(0))>> points;
        std::vector<std::decay_t<decltype(T::element_vertices(mesh, 0))>> elements;
        std::vector<std::array<index_t, 2>> edges;
        for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
            points.push_back(mesh.point(v));
        }
        for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
            elements.push_back(T::element_vertices(mesh, e));
        }
        for (index_t e = 0; with_edges && e < mesh.edges().nb_edges(); ++e) {
            edges.push_back(mesh.edges().edge_vertices(e));
        }
        // Each element and edge must still name the same points, and each tag its original
        // index.
        const auto expect_follow = [&] {
            ASSERT_EQ(T::element_attribute_manager(mesh).nb_elements(), T::nb_elements(mesh));
            ASSERT_EQ(mesh.vertex_attribute_manager().nb_elements(), mesh.nb_vertices());
            for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
                ASSERT_EQ(mesh.point(v), points[vertex_tag->value(v)]);
            }
            for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
                const auto& original = elements[element_tag->value(e)];
                for (local_index_t i = 0; i < original.size(); ++i) {
                    ASSERT_EQ(points[original[i]], mesh.point(T::element_vertices(mesh, e)[i]));
                }
            }
            if (!with_edges) {
                return;
            }
            expect_edges_match_elements(mesh);
            for (index_t e = 0; e < mesh.edges().nb_edges(); ++e) {
                const auto& vertices = mesh.edges().edge_vertices(e);
                for (int i = 0; i < 2; ++i) {
                    ASSERT_EQ(mesh.point(vertices[i]), points[edges[edge_tag->value(e)][i]]);
                }
            }
        };
        T::permute_elements(builder, random_permutation(T::nb_elements(mesh), random));
        expect_follow();
        builder.permute_vertices(random_permutation(mesh.nb_vertices(), random));
        expect_follow();
        const auto flags = random_flags(T::nb_elements(mesh), 0.5, random);
        std::vector<index_t> tags_before;
        for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
            tags_before.push_back(element_tag->value(e));
        }
        const auto old2new = T::delete_elements(builder, flags);
        for (index_t e = 0; e < flags.size(); ++e) {
            if (flags[e]) {
                EXPECT_EQ(old2new[e], NO_ID);
            } else {
                EXPECT_EQ(element_tag->value(old2new[e]), tags_before[e]);
            }
        }
        expect_follow();
        const auto vertices_old2new = builder.delete_isolated_vertices();
        EXPECT_EQ(vertices_old2new.size(), points.size());
        EXPECT_LT(mesh.nb_vertices(), points.size());
        expect_follow();
    }
}

TYPED_TEST(SimplicialMesh, CloneIsIndependentOfItsSource) {
    using T = Topology<TypeParam>;
    constexpr index_t n = 3;
    auto source = T::grid(n);
    source.enable_edges();
    const auto element_tag = tag_with_indices(T::element_attribute_manager(source));
    const auto vertex_tag = tag_with_indices(source.vertex_attribute_manager());
    tag_with_indices(source.edges().edge_attribute_manager());
    const auto copy = source.clone();
    const auto expect_same_as_generated = [](const TypeParam& mesh) {
        const auto reference = T::grid(n);
        ASSERT_EQ(mesh.nb_vertices(), reference.nb_vertices());
        ASSERT_EQ(T::nb_elements(mesh), T::nb_elements(reference));
        for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
            EXPECT_EQ(mesh.point(v), reference.point(v));
        }
        for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
            EXPECT_EQ(T::element_vertices(mesh, e), T::element_vertices(reference, e));
            for (local_index_t f = 0; f < T::nb_facets; ++f) {
                EXPECT_EQ(T::adjacent(mesh, e, f), T::adjacent(reference, e, f));
            }
        }
    };
    expect_same_as_generated(*copy);

    typename T::Builder builder{source};
    builder.set_point(0, source.point(1));
    element_tag->set_value(0, 99);
    vertex_tag->set_value(0, 99);
    std::mt19937_64 random{3};
    T::permute_elements(builder, random_permutation(T::nb_elements(source), random));
    T::delete_elements(builder, std::vector<bool>(T::nb_elements(source), true));
    builder.delete_isolated_vertices();
    EXPECT_EQ(source.edges().nb_edges(), 0U);

    expect_same_as_generated(*copy);
    ASSERT_TRUE(copy->are_edges_enabled());
    expect_edges_match_elements(*copy);
    const auto copied = [](const AttributeManager& manager) {
        return std::dynamic_pointer_cast<VariableAttribute<index_t>>(
            manager.find_attribute_base("original"));
    };
    const auto copied_element_tag = copied(T::element_attribute_manager(*copy));
    const auto copied_vertex_tag = copied(copy->vertex_attribute_manager());
    const auto copied_edge_tag = copied(copy->edges().edge_attribute_manager());
    ASSERT_TRUE(copied_element_tag && copied_vertex_tag && copied_edge_tag);
    EXPECT_NE(copied_element_tag, element_tag);
    for (index_t e = 0; e < T::nb_elements(*copy); ++e) {
        EXPECT_EQ(copied_element_tag->value(e), e);
    }
    for (index_t v = 0; v < copy->nb_vertices(); ++v) {
        EXPECT_EQ(copied_vertex_tag->value(v), v);
    }
    for (index_t e = 0; e < copy->edges().nb_edges(); ++e) {
        EXPECT_EQ(copied_edge_tag->value(e), e);
    }
}

TYPED_TEST(SimplicialMesh, EdgesAreRefusedWhileDisabledNamingTheMeshKind) {
    using T = Topology<TypeParam>;
    auto mesh = T::grid(1);
    const std::string expected = std::string{"["} + (T::dimension == 2 ? "Surface" : "Solid")
                                 + "Mesh::edges] Edges are not enabled.";
    const auto expect_refused = [&] {
        EXPECT_FALSE(mesh.are_edges_enabled());
        try {
            static_cast<void>(mesh.edges());
            ADD_FAILURE() << "edges() answered while edges are disabled";
        } catch (const PolvaneException& error) {
            EXPECT_EQ(error.what(), expected);
        }
        EXPECT_THROW(static_cast<void>(std::as_const(mesh).edges()), PolvaneException);
    };
    expect_refused();
    mesh.enable_edges();
    EXPECT_TRUE(mesh.are_edges_enabled());
    EXPECT_GT(mesh.edges().nb_edges(), 0U);
    mesh.disable_edges();
    expect_refused();
}

TYPED_TEST(SimplicialMesh, InvalidEditsThrowAndChangeNothing) {
    using T = Topology<TypeParam>;
    auto mesh = T::grid(2);
    typename T::Builder builder{mesh};
    const auto tag = tag_with_indices(mesh.vertex_attribute_manager());
    const index_t nb_vertices = mesh.nb_vertices();
    const index_t nb_elements = T::nb_elements(mesh);
    std::vector<bool> flags(nb_vertices, false);
    flags[T::element_vertices(mesh, 0)[0]] = true;  // a vertex used by elements
    EXPECT_THROW(builder.delete_vertices(flags), PolvaneException);
    EXPECT_THROW(builder.delete_vertices({true}), PolvaneException);
    EXPECT_THROW(T::delete_elements(builder, {true}), PolvaneException);
    auto outside = T::element_vertices(mesh, 0);
    outside.back() = nb_vertices;
    EXPECT_THROW(T::create_element(builder, outside), PolvaneException);
    EXPECT_THROW(builder.set_point(nb_vertices, mesh.point(0)), PolvaneException);
    EXPECT_THROW(T::set_adjacent(builder, 0, T::nb_facets, 1), PolvaneException);
    EXPECT_THROW(T::set_adjacent(builder, 0, 0, nb_elements), PolvaneException);
    std::vector<index_t> not_a_permutation(nb_vertices, 0);
    EXPECT_THROW(builder.permute_vertices(not_a_permutation), PolvaneException);
    EXPECT_THROW(T::permute_elements(builder, {0, 1}), PolvaneException);
    std::mt19937_64 random{5};
    auto repeated = random_permutation(nb_elements, random);
    repeated.back() = repeated.front();
    EXPECT_THROW(T::permute_elements(builder, repeated), PolvaneException);
    EXPECT_EQ(mesh.nb_vertices(), nb_vertices);
    EXPECT_EQ(T::nb_elements(mesh), nb_elements);
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        EXPECT_EQ(tag->value(v), v);
    }
    expect_brute_force_adjacencies(mesh);
}

}  // namespace
}  // namespace orvex
