#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "helpers/mesh_generators.h"
#include "mesh_checks.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {
namespace {

using test::expect_brute_force_adjacencies;
using test::expect_edges_match_elements;
using test::jittered_square_surface;
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

TEST(SurfaceMesh, GeneratedGridIsConsistentAndCounterClockwise) {
    const auto surface = jittered_square_surface(4);
    EXPECT_EQ(surface.nb_vertices(), 25U);
    EXPECT_EQ(surface.nb_polygons(), 32U);
    EXPECT_EQ(surface.vertex_attribute_manager().nb_elements(), 25U);
    EXPECT_EQ(surface.polygon_attribute_manager().nb_elements(), 32U);
    for (index_t p = 0; p < surface.nb_polygons(); ++p) {
        const auto triangle = surface.triangle(p);
        for (local_index_t v = 0; v < 3; ++v) {
            // The triangle refers to the mesh's own points, in local order.
            EXPECT_EQ(&triangle.vertices()[v].get(),
                      &surface.point(surface.polygon_vertex({p, v})));
        }
        const auto& a = triangle.vertices()[0].get();
        const auto& b = triangle.vertices()[1].get();
        const auto& c = triangle.vertices()[2].get();
        const double area2 = (b.value(0) - a.value(0)) * (c.value(1) - a.value(1))
                             - (b.value(1) - a.value(1)) * (c.value(0) - a.value(0));
        EXPECT_GT(area2, 0) << "triangle " << p;
    }
    expect_brute_force_adjacencies(surface);
}

TEST(SurfaceMesh, AdjacenciesMatchBruteForceAfterShufflesAndHoles) {
    std::mt19937_64 random{7};
    for (int round = 0; round < 4; ++round) {
        auto surface = jittered_square_surface(7, 0.1, false);
        TriangulatedSurfaceBuilder<2> builder{surface};
        builder.permute_vertices(random_permutation(surface.nb_vertices(), random));
        builder.permute_polygons(random_permutation(surface.nb_polygons(), random));
        builder.delete_polygons(random_flags(surface.nb_polygons(), 0.2, random));
        builder.compute_polygon_adjacencies();
        expect_brute_force_adjacencies(surface);
        // Editing keeps the computed adjacencies right without recomputing them.
        builder.permute_polygons(random_permutation(surface.nb_polygons(), random));
        expect_brute_force_adjacencies(surface);
        builder.delete_polygons(random_flags(surface.nb_polygons(), 0.3, random));
        expect_brute_force_adjacencies(surface);
        builder.delete_isolated_vertices();
        expect_brute_force_adjacencies(surface);
    }
}

TEST(SurfaceMesh, AttributesFollowPermutationsAndDeletions) {
    std::mt19937_64 random{11};
    auto surface = jittered_square_surface(6);
    TriangulatedSurfaceBuilder<2> builder{surface};
    const auto polygon_tag = tag_with_indices(surface.polygon_attribute_manager());
    const auto vertex_tag = tag_with_indices(surface.vertex_attribute_manager());
    std::vector<std::array<index_t, 3>> original_polygons;
    std::vector<Point<2>> original_points;
    for (index_t p = 0; p < surface.nb_polygons(); ++p) {
        original_polygons.push_back(surface.polygon_vertices(p));
    }
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        original_points.push_back(surface.point(v));
    }
    // Each polygon must still name the same points, and each tag its original index.
    const auto expect_follow = [&] {
        ASSERT_EQ(surface.polygon_attribute_manager().nb_elements(), surface.nb_polygons());
        ASSERT_EQ(surface.vertex_attribute_manager().nb_elements(), surface.nb_vertices());
        for (index_t v = 0; v < surface.nb_vertices(); ++v) {
            ASSERT_EQ(surface.point(v), original_points[vertex_tag->value(v)]);
        }
        for (index_t p = 0; p < surface.nb_polygons(); ++p) {
            const auto& original = original_polygons[polygon_tag->value(p)];
            for (local_index_t i = 0; i < 3; ++i) {
                ASSERT_EQ(original_points[original[i]],
                          surface.point(surface.polygon_vertex({p, i})));
            }
        }
    };
    builder.permute_polygons(random_permutation(surface.nb_polygons(), random));
    expect_follow();
    builder.permute_vertices(random_permutation(surface.nb_vertices(), random));
    expect_follow();
    const auto flags = random_flags(surface.nb_polygons(), 0.4, random);
    std::vector<index_t> tags_before;
    for (index_t p = 0; p < surface.nb_polygons(); ++p) {
        tags_before.push_back(polygon_tag->value(p));
    }
    const auto old2new = builder.delete_polygons(flags);
    for (index_t p = 0; p < flags.size(); ++p) {
        if (flags[p]) {
            EXPECT_EQ(old2new[p], NO_ID);
        } else {
            EXPECT_EQ(polygon_tag->value(old2new[p]), tags_before[p]);
        }
    }
    expect_follow();
    const auto vertices_old2new = builder.delete_isolated_vertices();
    EXPECT_EQ(vertices_old2new.size(), original_points.size());
    expect_follow();
}

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

TEST(SurfaceMesh, CloneIsIndependentOfItsSource) {
    auto source = jittered_square_surface(3);
    source.enable_edges();
    const auto polygon_tag = tag_with_indices(source.polygon_attribute_manager());
    const auto vertex_tag = tag_with_indices(source.vertex_attribute_manager());
    tag_with_indices(source.edges().edge_attribute_manager());
    const auto copy = source.clone();
    const auto expect_same_as_generated = [](const TriangulatedSurface<2>& mesh) {
        const auto reference = jittered_square_surface(3);
        ASSERT_EQ(mesh.nb_vertices(), reference.nb_vertices());
        ASSERT_EQ(mesh.nb_polygons(), reference.nb_polygons());
        for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
            EXPECT_EQ(mesh.point(v), reference.point(v));
        }
        for (index_t p = 0; p < mesh.nb_polygons(); ++p) {
            EXPECT_EQ(mesh.polygon_vertices(p), reference.polygon_vertices(p));
            for (local_index_t e = 0; e < 3; ++e) {
                EXPECT_EQ(mesh.polygon_adjacent({p, e}), reference.polygon_adjacent({p, e}));
            }
        }
    };
    expect_same_as_generated(*copy);

    TriangulatedSurfaceBuilder<2> builder{source};
    builder.set_point(0, Point<2>{{-1, -1}});
    polygon_tag->set_value(0, 99);
    vertex_tag->set_value(0, 99);
    std::mt19937_64 random{3};
    builder.permute_polygons(random_permutation(source.nb_polygons(), random));
    builder.delete_polygons(std::vector<bool>(source.nb_polygons(), true));
    builder.delete_isolated_vertices();

    expect_same_as_generated(*copy);
    ASSERT_TRUE(copy->are_edges_enabled());
    expect_edges_match_elements(*copy);
    const auto copied = [](const AttributeManager& manager) {
        return std::dynamic_pointer_cast<VariableAttribute<index_t>>(
            manager.find_attribute_base("original"));
    };
    const auto copied_polygon_tag = copied(copy->polygon_attribute_manager());
    const auto copied_vertex_tag = copied(copy->vertex_attribute_manager());
    const auto copied_edge_tag = copied(copy->edges().edge_attribute_manager());
    ASSERT_TRUE(copied_polygon_tag && copied_vertex_tag && copied_edge_tag);
    EXPECT_NE(copied_polygon_tag, polygon_tag);
    for (index_t p = 0; p < copy->nb_polygons(); ++p) {
        EXPECT_EQ(copied_polygon_tag->value(p), p);
    }
    for (index_t v = 0; v < copy->nb_vertices(); ++v) {
        EXPECT_EQ(copied_vertex_tag->value(v), v);
    }
    for (index_t e = 0; e < copy->edges().nb_edges(); ++e) {
        EXPECT_EQ(copied_edge_tag->value(e), e);
    }
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
}

TEST(SurfaceMesh, InvalidEditsThrowAndChangeNothing) {
    auto surface = jittered_square_surface(2);
    TriangulatedSurfaceBuilder<2> builder{surface};
    const auto tag = tag_with_indices(surface.vertex_attribute_manager());
    std::vector<bool> flags(surface.nb_vertices(), false);
    flags[4] = true;  // the centre vertex, used by polygons
    EXPECT_THROW(builder.delete_vertices(flags), PolvaneException);
    EXPECT_THROW(builder.delete_vertices({true}), PolvaneException);
    EXPECT_THROW(builder.delete_polygons({true}), PolvaneException);
    EXPECT_THROW(builder.create_triangle({0, 1, 9}), PolvaneException);
    EXPECT_THROW(builder.set_point(9, Point<2>{}), PolvaneException);
    EXPECT_THROW(builder.set_polygon_adjacent({0, 3}, 1), PolvaneException);
    EXPECT_THROW(builder.set_polygon_adjacent({0, 0}, 8), PolvaneException);
    std::vector<index_t> not_a_permutation(surface.nb_vertices(), 0);
    EXPECT_THROW(builder.permute_vertices(not_a_permutation), PolvaneException);
    EXPECT_THROW(builder.permute_polygons({0, 1}), PolvaneException);
    EXPECT_EQ(surface.nb_vertices(), 9U);
    EXPECT_EQ(surface.nb_polygons(), 8U);
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        EXPECT_EQ(tag->value(v), v);
    }
    expect_brute_force_adjacencies(surface);
}

}  // namespace
}  // namespace orvex
