#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "helpers/mesh_generators.h"
#include "mesh_checks.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/vector.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"

namespace orvex {
namespace {

using test::expect_brute_force_adjacencies;
using test::expect_edges_match_elements;
using test::jittered_cube_solid;
using test::random_flags;
using test::random_permutation;

std::shared_ptr<VariableAttribute<index_t>> tag_with_indices(AttributeManager& manager) {
    auto attribute =
        manager.find_or_create_attribute<VariableAttribute, index_t>("original", NO_ID, {});
    for (index_t i = 0; i < manager.nb_elements(); ++i) {
        attribute->set_value(i, i);
    }
    return attribute;
}

TEST(SolidMesh, GeneratedGridIsPositivelyOrientedAndGlued) {
    const auto solid = jittered_cube_solid(3);
    EXPECT_EQ(solid.nb_vertices(), 64U);
    EXPECT_EQ(solid.nb_polyhedra(), 162U);
    EXPECT_EQ(solid.polyhedron_attribute_manager().nb_elements(), 162U);
    index_t border_facets = 0;
    for (index_t t = 0; t < solid.nb_polyhedra(); ++t) {
        const auto tetrahedron = solid.tetrahedron(t);
        EXPECT_EQ(tetrahedron_volume_sign(tetrahedron), SIDE::positive) << "tetrahedron " << t;
        for (local_index_t v = 0; v < 4; ++v) {
            EXPECT_EQ(&tetrahedron.vertices()[v].get(),
                      &solid.point(solid.polyhedron_vertex({t, v})));
        }
        for (local_index_t f = 0; f < 4; ++f) {
            border_facets += solid.is_polyhedron_facet_on_border({t, f}) ? 1 : 0;
        }
    }
    EXPECT_EQ(border_facets, 6U * 9 * 2);  // two triangles per border square
    expect_brute_force_adjacencies(solid);
}

TEST(SolidMesh, LocalFacetsAreOppositeTheirVertexAndTurnAlike) {
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    builder.create_point(Point<3>{{0, 0, 0}});
    builder.create_point(Point<3>{{1, 0, 0}});
    builder.create_point(Point<3>{{0, 1, 0}});
    builder.create_point(Point<3>{{0, 0, 1}});
    builder.create_tetrahedron({0, 1, 2, 3});
    constexpr std::array<std::array<index_t, 3>, 4> expected{
        {{1, 3, 2}, {0, 2, 3}, {3, 1, 0}, {0, 1, 2}}};
    for (local_index_t f = 0; f < 4; ++f) {
        const auto facet = solid.polyhedron_facet_vertices({0, f});
        EXPECT_EQ(facet, expected[f]);
        const Vector<3> u{solid.point(facet[0]), solid.point(facet[1])};
        const Vector<3> w{solid.point(facet[0]), solid.point(facet[2])};
        const Vector<3> to_opposite{solid.point(facet[0]), solid.point(f)};
        // Every facet's normal points towards the opposite vertex of this positive tetrahedron.
        EXPECT_GT(u.cross(w).dot(to_opposite), 0) << "facet " << +f;
    }
    // Every pair of vertices is an edge, found on the first facet that holds it.
    for (index_t a = 0; a < 4; ++a) {
        for (index_t b = a + 1; b < 4; ++b) {
            const auto edge = solid.polyhedron_facet_edge_from_vertices({b, a}, 0);
            ASSERT_TRUE(edge.has_value());
            const auto vertices = solid.polyhedron_facet_edge_vertices(*edge);
            EXPECT_TRUE((vertices == std::array<index_t, 2>{a, b})
                        || (vertices == std::array<index_t, 2>{b, a}));
            for (local_index_t f = 0; f < edge->polyhedron_facet.facet_id; ++f) {
                const auto facet = solid.polyhedron_facet_vertices({0, f});
                EXPECT_FALSE(std::count(facet.begin(), facet.end(), a) == 1
                             && std::count(facet.begin(), facet.end(), b) == 1);
            }
        }
    }
    EXPECT_EQ(solid.polyhedron_facet_edge_vertices({{0, 2}, 1}), (std::array<index_t, 2>{1, 0}));
    builder.create_point(Point<3>{{1, 1, 1}});
    EXPECT_EQ(solid.polyhedron_facet_edge_from_vertices({0, 4}, 0), std::nullopt);
    EXPECT_EQ(solid.polyhedron_facet_edge_from_vertices({2, 2}, 0), std::nullopt);
}

TEST(SolidMesh, AdjacenciesMatchBruteForceAfterShufflesAndHoles) {
    std::mt19937_64 random{17};
    for (int round = 0; round < 3; ++round) {
        auto solid = jittered_cube_solid(3, 0.1, false);
        TetrahedralSolidBuilder<3> builder{solid};
        builder.permute_vertices(random_permutation(solid.nb_vertices(), random));
        builder.permute_polyhedra(random_permutation(solid.nb_polyhedra(), random));
        builder.delete_polyhedra(random_flags(solid.nb_polyhedra(), 0.2, random));
        builder.compute_polyhedron_adjacencies();
        expect_brute_force_adjacencies(solid);
        builder.permute_polyhedra(random_permutation(solid.nb_polyhedra(), random));
        expect_brute_force_adjacencies(solid);
        builder.delete_polyhedra(random_flags(solid.nb_polyhedra(), 0.3, random));
        builder.delete_isolated_vertices();
        expect_brute_force_adjacencies(solid);
    }
}

TEST(SolidMesh, AttributesAndEdgesFollowEdits) {
    std::mt19937_64 random{19};
    auto solid = jittered_cube_solid(3);
    TetrahedralSolidBuilder<3> builder{solid};
    builder.enable_edges();
    expect_edges_match_elements(solid);
    const auto polyhedron_tag = tag_with_indices(solid.polyhedron_attribute_manager());
    const auto vertex_tag = tag_with_indices(solid.vertex_attribute_manager());
    const auto edge_tag = tag_with_indices(solid.edges().edge_attribute_manager());
    std::vector<Point<3>> points;
    std::vector<std::array<index_t, 4>> polyhedra;
    std::vector<std::array<index_t, 2>> edges;
    for (index_t v = 0; v < solid.nb_vertices(); ++v) {
        points.push_back(solid.point(v));
    }
    for (index_t t = 0; t < solid.nb_polyhedra(); ++t) {
        polyhedra.push_back(solid.polyhedron_vertices(t));
    }
    for (index_t e = 0; e < solid.edges().nb_edges(); ++e) {
        edges.push_back(solid.edges().edge_vertices(e));
    }
    const auto expect_follow = [&] {
        expect_edges_match_elements(solid);
        ASSERT_EQ(solid.polyhedron_attribute_manager().nb_elements(), solid.nb_polyhedra());
        for (index_t v = 0; v < solid.nb_vertices(); ++v) {
            ASSERT_EQ(solid.point(v), points[vertex_tag->value(v)]);
        }
        for (index_t t = 0; t < solid.nb_polyhedra(); ++t) {
            for (local_index_t i = 0; i < 4; ++i) {
                ASSERT_EQ(solid.point(solid.polyhedron_vertex({t, i})),
                          points[polyhedra[polyhedron_tag->value(t)][i]]);
            }
        }
        for (index_t e = 0; e < solid.edges().nb_edges(); ++e) {
            const auto& vertices = solid.edges().edge_vertices(e);
            for (int i = 0; i < 2; ++i) {
                ASSERT_EQ(solid.point(vertices[i]), points[edges[edge_tag->value(e)][i]]);
            }
        }
    };
    builder.permute_polyhedra(random_permutation(solid.nb_polyhedra(), random));
    expect_follow();
    builder.permute_vertices(random_permutation(solid.nb_vertices(), random));
    expect_follow();
    builder.delete_polyhedra(random_flags(solid.nb_polyhedra(), 0.5, random));
    expect_follow();
    const index_t nb_vertices = solid.nb_vertices();
    builder.delete_isolated_vertices();
    EXPECT_LT(solid.nb_vertices(), nb_vertices);
    expect_follow();
}

TEST(SolidMesh, CloneIsIndependentOfItsSource) {
    auto source = jittered_cube_solid(2);
    source.enable_edges();
    const auto tag = tag_with_indices(source.polyhedron_attribute_manager());
    const auto copy = source.clone();
    TetrahedralSolidBuilder<3> builder{source};
    builder.set_point(13, Point<3>{{5, 5, 5}});
    tag->set_value(0, 77);
    builder.delete_polyhedra(std::vector<bool>(source.nb_polyhedra(), true));

    const auto reference = jittered_cube_solid(2);
    ASSERT_EQ(copy->nb_polyhedra(), reference.nb_polyhedra());
    ASSERT_EQ(copy->nb_vertices(), reference.nb_vertices());
    EXPECT_EQ(copy->point(13), reference.point(13));
    for (index_t t = 0; t < copy->nb_polyhedra(); ++t) {
        EXPECT_EQ(copy->polyhedron_vertices(t), reference.polyhedron_vertices(t));
        for (local_index_t f = 0; f < 4; ++f) {
            EXPECT_EQ(copy->polyhedron_adjacent({t, f}), reference.polyhedron_adjacent({t, f}));
        }
    }
    const auto copied_tag = std::dynamic_pointer_cast<VariableAttribute<index_t>>(
        copy->polyhedron_attribute_manager().find_attribute_base("original"));
    ASSERT_TRUE(copied_tag);
    EXPECT_EQ(copied_tag->value(0), 0U);
    expect_edges_match_elements(*copy);
    EXPECT_EQ(source.edges().nb_edges(), 0U);
}

TEST(SolidMesh, InvalidEditsThrowAndChangeNothing) {
    auto solid = jittered_cube_solid(1);
    TetrahedralSolidBuilder<3> builder{solid};
    std::vector<bool> flags(solid.nb_vertices(), false);
    flags[0] = true;
    EXPECT_THROW(builder.delete_vertices(flags), PolvaneException);
    EXPECT_THROW(builder.create_tetrahedron({0, 1, 2, 8}), PolvaneException);
    EXPECT_THROW(builder.set_polyhedron_adjacent({0, 4}, 1), PolvaneException);
    EXPECT_THROW(builder.permute_polyhedra({0, 1, 2, 3, 4, 4}), PolvaneException);
    EXPECT_EQ(solid.nb_vertices(), 8U);
    EXPECT_EQ(solid.nb_polyhedra(), 6U);
    expect_brute_force_adjacencies(solid);
}

}  // namespace
}  // namespace orvex
