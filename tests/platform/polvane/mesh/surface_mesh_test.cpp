#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "orvex_testing/mesh_checks.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {
namespace {

using test::expect_edges_match_elements;
using test::jittered_square_surface;
using test::random_flags;
using test::random_permutation;
using test::tag_with_indices;

TEST(SurfaceMesh, EdgesFollowElementsAndKeepTheirAttributes) {
    std::mt19937_64 random{13};
    auto surface = jittered_square_surface(5);
    TriangulatedSurfaceBuilder<2> builder{surface};
    EXPECT_FALSE(surface.are_edges_enabled());
    EXPECT_THROW(static_cast<void>(surface.edges()), PolvaneException);
    builder.enable_edges();
    expect_edges_match_elements(surface);
    EXPECT_EQ(surface.edges().nb_edges(), 2U * 5 * 6 + 5U * 5);  // sides + diagonals
    const auto edge_tag = tag_with_indices(surface.edges().edge_attribute_manager());
    std::vector<std::array<Point<2>, 2>> edge_points;
    for (index_t e = 0; e < surface.edges().nb_edges(); ++e) {
        const auto& vertices = surface.edges().edge_vertices(e);
        edge_points.push_back({surface.point(vertices[0]), surface.point(vertices[1])});
    }
    const auto expect_follow = [&] {
        expect_edges_match_elements(surface);
        for (index_t e = 0; e < surface.edges().nb_edges(); ++e) {
            const auto& vertices = surface.edges().edge_vertices(e);
            const auto& points = edge_points[edge_tag->value(e)];
            ASSERT_EQ(surface.point(vertices[0]), points[0]);
            ASSERT_EQ(surface.point(vertices[1]), points[1]);
        }
    };
    // Adding a triangle appends its new edges and leaves the old indices alone.
    const index_t nb_before = surface.edges().nb_edges();
    const index_t apex = builder.create_point(Point<2>{{2, 2}});
    builder.create_triangle({5, 11, apex});  // 5-11 is a border edge of the square
    EXPECT_EQ(surface.edges().nb_edges(), nb_before + 2);
    EXPECT_EQ(edge_tag->value(nb_before), NO_ID);
    for (index_t e = 0; e < nb_before; ++e) {
        EXPECT_EQ(edge_tag->value(e), e);
    }
    edge_points.push_back({surface.point(11), surface.point(apex)});
    edge_points.push_back({surface.point(apex), surface.point(5)});
    edge_tag->set_value(nb_before, nb_before);
    edge_tag->set_value(nb_before + 1, nb_before + 1);
    expect_follow();

    builder.permute_vertices(random_permutation(surface.nb_vertices(), random));
    expect_follow();
    std::vector<index_t> edges_old2new;
    builder.delete_polygons(random_flags(surface.nb_polygons(), 0.5, random), edges_old2new);
    EXPECT_EQ(edges_old2new.size(), nb_before + 2);
    expect_follow();
    builder.delete_isolated_vertices();
    expect_follow();
    builder.delete_polygons(std::vector<bool>(surface.nb_polygons(), true));
    EXPECT_EQ(surface.edges().nb_edges(), 0U);
    EXPECT_EQ(surface.edges().edge_attribute_manager().nb_elements(), 0U);
}

TEST(SurfaceMesh, LocalEdgeQueries) {
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    builder.create_points(4);
    builder.create_triangle({0, 1, 2});
    builder.create_triangle({2, 1, 3});
    builder.compute_polygon_adjacencies();
    EXPECT_EQ(surface.polygon_edge_vertices({0, 2}), (std::array<index_t, 2>{2, 0}));
    EXPECT_EQ(surface.polygon_adjacent({0, 1}), 1U);
    EXPECT_EQ(surface.polygon_adjacent({1, 0}), 0U);
    EXPECT_TRUE(surface.is_edge_on_border({0, 0}));
    EXPECT_EQ(surface.polygon_edge_from_vertices(1, 3, 2), (PolygonEdge{1, 2}));
    EXPECT_EQ(surface.polygon_edge_from_vertices(1, 0, 2), std::nullopt);
    builder.set_polygon_adjacent({0, 0}, 1);
    EXPECT_EQ(surface.polygon_adjacent({0, 0}), 1U);
    builder.set_polygon_adjacent({0, 0}, NO_ID);
    EXPECT_EQ(surface.polygon_adjacent({0, 0}), std::nullopt);

    // A mesh whose adjacencies were never computed nor set keeps none, through permutations,
    // deletions and creations; the first one set leaves every other unknown.
    TriangulatedSurface<2> bare;
    TriangulatedSurfaceBuilder<2> bare_builder{bare};
    bare_builder.create_points(4);
    bare_builder.create_triangle({0, 1, 2});
    bare_builder.create_triangle({2, 1, 3});
    bare_builder.create_triangle({0, 1, 3});
    bare_builder.permute_polygons(std::vector<index_t>{2, 0, 1});
    bare_builder.delete_polygons({true, false, false});
    bare_builder.set_polygon_adjacent({0, 1}, NO_ID);
    EXPECT_EQ(bare.polygon_adjacent({0, 1}), std::nullopt);
    bare_builder.set_polygon_adjacent({1, 0}, 0);
    bare_builder.create_triangle({3, 1, 0});
    for (index_t p = 0; p < bare.nb_polygons(); ++p) {
        for (local_index_t e = 0; e < 3; ++e) {
            EXPECT_EQ(bare.polygon_adjacent({p, e}),
                      p == 1 && e == 0 ? std::optional<index_t>{0} : std::nullopt)
                << p << " " << static_cast<int>(e);
        }
    }
}

}  // namespace
}  // namespace orvex
