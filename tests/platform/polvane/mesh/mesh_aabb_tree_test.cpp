#include "polvane/mesh/mesh_aabb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <tuple>

#include "orvex_testing/mesh_generators.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace {

// The tree's nearest element must be at the brute-force smallest distance, and each
// element's barycentre (strictly inside it) must find that element at distance 0.
template <index_t D, typename Mesh, typename Distance>
void expect_nearest_matches_brute_force(const Mesh& mesh, index_t nb_elements,
                                        const Distance& distance, int nb_queries) {
    const AABBTree<D> tree = create_aabb_tree(mesh);
    ASSERT_EQ(tree.nb_bboxes(), nb_elements);
    std::mt19937_64 random{23};
    std::uniform_real_distribution<double> coordinate{-0.2, 1.2};
    for (int query = 0; query < nb_queries; ++query) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        double best = std::numeric_limits<double>::infinity();
        for (index_t e = 0; e < nb_elements; ++e) {
            best = std::min(best, distance(point, e));
        }
        const auto [nearest, nearest_distance] = tree.closest_element(point, distance);
        ASSERT_EQ(nearest_distance, best) << point.string();
        EXPECT_EQ(distance(point, nearest), best);
    }
}

TEST(MeshAABBTree, CurveNearestEdgeMatchesBruteForce) {
    const auto curve = test::jittered_segment_curve(50);
    const DistanceToEdge<1> distance{curve};
    expect_nearest_matches_brute_force<1>(curve, curve.nb_edges(), distance, 300);
    const auto tree = create_aabb_tree(curve);
    for (index_t e = 0; e < curve.nb_edges(); ++e) {
        const auto [nearest, d] = tree.closest_element(curve.segment(e).barycenter(), distance);
        EXPECT_EQ(nearest, e);
        EXPECT_EQ(d, 0.0);
    }
    EXPECT_EQ(distance(Point<1>{{1.5}}, curve.nb_edges() - 1), 0.5);
}

TEST(MeshAABBTree, SurfaceNearestTriangleMatchesBruteForce) {
    const auto surface = test::jittered_square_surface(12);
    const DistanceToTriangle<2> distance{surface};
    expect_nearest_matches_brute_force<2>(surface, surface.nb_polygons(), distance, 300);
    const auto tree = create_aabb_tree(surface);
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        const auto [nearest, d] = tree.closest_element(surface.triangle(t).barycenter(), distance);
        EXPECT_EQ(nearest, t);
        EXPECT_EQ(d, 0.0);
    }
}

TEST(MeshAABBTree, SolidNearestTetrahedronMatchesBruteForce) {
    const auto solid = test::jittered_cube_solid(3);
    const DistanceToTetrahedron<3> distance{solid};
    expect_nearest_matches_brute_force<3>(solid, solid.nb_polyhedra(), distance, 60);
    const auto tree = create_aabb_tree(solid);
    for (index_t t = 0; t < solid.nb_polyhedra(); ++t) {
        const auto [nearest, d] = tree.closest_element(solid.tetrahedron(t).barycenter(), distance);
        EXPECT_EQ(nearest, t);
        EXPECT_EQ(d, 0.0);
    }
}

// A NaN or infinite coordinate makes an element's distance NaN, never a number that could pass
// for "inside": the edge (0.5, NaN) once measured -0.5 from the point 0, and the query -inf
// lay "on" the edge (-inf, -inf).
TEST(MeshAABBTree, ElementsWithANonFiniteCoordinateAreAtNaNDistance) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    EdgedCurve<1> curve;
    EdgedCurveBuilder<1> curve_builder{curve};
    curve_builder.create_point(Point<1>{{0.5}});
    curve_builder.create_point(Point<1>{{nan}});
    curve_builder.create_point(Point<1>{{0}});
    curve_builder.create_point(Point<1>{{-inf}});
    curve_builder.create_edges({{0, 1}, {1, 0}, {1, 1}, {3, 3}, {3, 0}, {2, 0}});
    const DistanceToEdge<1> to_edge{curve};
    for (const double x : {0.0, 0.5, 1.0, -1.0, -inf}) {
        for (index_t e = 0; e < 5; ++e) {
            EXPECT_TRUE(std::isnan(to_edge(Point<1>{{x}}, e))) << x << " edge " << e;
        }
    }
    EXPECT_TRUE(std::isnan(to_edge(Point<1>{{inf}}, 5)));
    EXPECT_TRUE(std::isnan(to_edge(Point<1>{{nan}}, 5)));
    const auto [nearest, d] = create_aabb_tree(curve).closest_element(Point<1>{{0.25}}, to_edge);
    EXPECT_EQ(nearest, 5U);
    EXPECT_EQ(d, 0.0);
}

TEST(MeshAABBTree, EmptyMeshGivesAnEmptyTree) {
    const TriangulatedSurface<2> surface;
    EXPECT_EQ(create_aabb_tree(surface).nb_bboxes(), 0U);
    EXPECT_EQ(create_compact_aabb_tree(surface).nb_bboxes(), 0U);
}

// Every single-precision box of the compact tree holds the double coordinates of all the
// vertices of the elements under it, and its nearest element is at the brute-force distance.
template <typename Mesh>
void expect_compact_boxes_hold_their_vertices(const Mesh& mesh) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    const auto tree = Traits::create_compact_tree(mesh);
    const index_t n = Traits::nb_elements(mesh);
    ASSERT_EQ(tree.nb_bboxes(), n);
    const std::function<void(std::size_t, index_t, index_t)> walk = [&](std::size_t k, index_t b,
                                                                        index_t e) {
        const BoundingBox<D> box = tree.node_box(k);
        for (index_t i = b; i < e; ++i) {
            for (const index_t v : Traits::element_vertices(mesh, tree.leaf_element(i))) {
                EXPECT_TRUE(box.contains(mesh.point(v))) << "node " << k << ", vertex " << v;
            }
        }
        if (e - b > 1) {
            walk(2 * k, b, b + (e - b) / 2);
            walk(2 * k + 1, b + (e - b) / 2, e);
        }
    };
    walk(1, 0, n);
    const typename Traits::ElementDistance distance{mesh};
    std::mt19937_64 random{29};
    std::uniform_real_distribution<double> coordinate{-0.2, 1.2};
    for (int query = 0; query < 100; ++query) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        double best = std::numeric_limits<double>::infinity();
        for (index_t e = 0; e < n; ++e) {
            best = std::min(best, distance(point, e));
        }
        EXPECT_EQ(std::get<1>(tree.closest_element(point, distance)), best) << point.string();
    }
}

TEST(MeshAABBTree, CompactTreeBoxesHoldTheirVerticesExactly) {
    expect_compact_boxes_hold_their_vertices(test::jittered_segment_curve(300));
    expect_compact_boxes_hold_their_vertices(test::jittered_square_surface(13));
    expect_compact_boxes_hold_their_vertices(test::jittered_cube_solid(5));
}

}  // namespace
}  // namespace orvex
