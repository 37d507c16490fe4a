#include "polvane/mesh/mesh_aabb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/polvane_exception.h"
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

// The leaf-ordered copy holds the source's elements in the compact tree's leaf order, on the
// same coordinates, with vertices numbered by first use (an unused source vertex is left out),
// and its tree is the source's compact tree: same leaf order, same boxes, and the same nearest
// element when elements are named by leaf position.
template <typename Mesh>
void expect_leaf_ordered_copy_matches(Mesh mesh) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    typename Traits::Builder builder{mesh};
    builder.set_point(builder.create_points(1), Point<D>{});
    const auto [copy, tree] = Traits::create_leaf_ordered_copy(mesh);
    const auto reference = Traits::create_compact_tree(mesh);
    const index_t n = Traits::nb_elements(mesh);
    ASSERT_EQ(Traits::nb_elements(*copy), n);
    ASSERT_EQ(tree.nb_bboxes(), n);
    EXPECT_TRUE(std::equal(tree.leaf_order().begin(), tree.leaf_order().end(),
                           reference.leaf_order().begin(), reference.leaf_order().end()));
    for (std::size_t k = 1; k < 2 * static_cast<std::size_t>(n); ++k) {
        const bool exists = [&] {
            index_t b = 0;
            index_t e = n;
            for (unsigned level = 63 - static_cast<unsigned>(__builtin_clzll(k)); level-- > 0;) {
                if (e - b < 2) {
                    return false;
                }
                const index_t m = b + (e - b) / 2;
                ((k >> level) & 1U) != 0 ? b = m : e = m;
            }
            return true;
        }();
        if (exists) {
            EXPECT_EQ(tree.node_box(k).min(), reference.node_box(k).min()) << "node " << k;
            EXPECT_EQ(tree.node_box(k).max(), reference.node_box(k).max()) << "node " << k;
        }
    }
    index_t next_new_vertex = 0;
    for (index_t i = 0; i < n; ++i) {
        const auto& ours = Traits::element_vertices(*copy, i);
        const auto& theirs = Traits::element_vertices(mesh, tree.leaf_element(i));
        for (index_t v = 0; v <= D; ++v) {
            EXPECT_EQ(copy->point(ours[v]), mesh.point(theirs[v])) << "leaf " << i;
            EXPECT_LE(ours[v], next_new_vertex) << "leaf " << i;
            next_new_vertex = std::max(next_new_vertex, ours[v] + 1);
        }
    }
    EXPECT_EQ(copy->nb_vertices(), next_new_vertex);
    EXPECT_EQ(copy->nb_vertices() + 1, mesh.nb_vertices());
    const typename Traits::ElementDistance by_position{*copy};
    const typename Traits::ElementDistance by_element{mesh};
    std::mt19937_64 random{31};
    std::uniform_real_distribution<double> coordinate{-0.1, 1.1};
    for (int query = 0; query < 200; ++query) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        const auto [position, distance] = tree.closest_position_within(point, by_position, 0.05);
        const auto [element, expected] = reference.closest_element_within(point, by_element, 0.05);
        EXPECT_EQ(distance, expected) << point.string();
        EXPECT_EQ(position == NO_ID ? NO_ID : tree.leaf_element(position), element)
            << point.string();
    }
    std::vector<index_t> too_few(tree.leaf_order().begin(), tree.leaf_order().end() - 1);
    std::vector<std::array<index_t, D + 1>> elements;
    for (index_t i = 0; i < n; ++i) {
        elements.push_back(Traits::element_vertices(*copy, i));
    }
    std::vector<Point<D>> points;
    for (index_t v = 0; v < copy->nb_vertices(); ++v) {
        points.push_back(copy->point(v));
    }
    EXPECT_THROW((CompactAABBTree<D>{points, elements, too_few}), PolvaneException);
}

TEST(MeshAABBTree, LeafOrderedCopyIsTheCompactTreeOverTheSameElements) {
    expect_leaf_ordered_copy_matches(test::jittered_segment_curve(300));
    expect_leaf_ordered_copy_matches(test::jittered_square_surface(13));
    expect_leaf_ordered_copy_matches(test::jittered_cube_solid(5));
    const auto empty = create_leaf_ordered_copy(TetrahedralSolid<3>{});
    EXPECT_EQ(empty.tree.nb_bboxes(), 0U);
    EXPECT_EQ(empty.mesh->nb_vertices(), 0U);
}

}  // namespace
}  // namespace orvex
