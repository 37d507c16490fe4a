#include "polvane/mesh/mesh_aabb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "orvex_testing/mesh_edits.h"
#include "orvex_testing/mesh_generators.h"
#include "orvex_testing/mesh_kinds.h"
#include "orvex_testing/nearest_elements.h"
#include "orvex_testing/placed_meshes.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/leaf_ordered_copy.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace {

template <typename Mesh>
class MeshAABBTreeTest : public testing::Test {
public:
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t D = Traits::dimension;

    static Mesh grid() { return test::jittered_grid<Mesh>(D == 1 ? 300 : D == 2 ? 13 : 5); }

    static Point<D> random_point(std::mt19937_64& random, double low, double high) {
        std::uniform_real_distribution<double> coordinate{low, high};
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        return point;
    }
};

TYPED_TEST_SUITE(MeshAABBTreeTest, test::MeshKinds, test::MeshKindNames);

// Every single-precision box holds the double coordinates of all the vertices of the elements
// under it; the nearest element is at the brute-force distance, and each element's barycentre
// (strictly inside it) finds that element at distance 0.
TYPED_TEST(MeshAABBTreeTest, BoxesHoldTheirVerticesAndTheNearestIsTheBruteForceOne) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    const Mesh mesh = TestFixture::grid();
    const AABBTree<D> tree = create_aabb_tree(mesh);
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
    for (int query = 0; query < 200; ++query) {
        const Point<D> point = TestFixture::random_point(random, -0.2, 1.2);
        const auto [nearest, nearest_distance] = tree.closest_element(point, distance);
        const test::NearestElements expected = test::nearest_elements(mesh, point);
        EXPECT_EQ(nearest_distance, expected.distance) << point.string();
        EXPECT_TRUE(expected.holds(nearest)) << point.string();
    }
    for (index_t e = 0; e < n; e += 7) {
        const Point<D> barycenter = Traits::simplex(mesh, e).barycenter();
        EXPECT_EQ(tree.closest_element(barycenter, distance), std::make_tuple(e, 0.0));
    }
    EXPECT_EQ(create_aabb_tree(Mesh{}).nb_bboxes(), 0U);
}

// The leaf-ordered copy holds the source's elements in the tree's leaf order (with one empty
// position in 16 between them), on the same coordinates, with vertices numbered by first use
// (an unused source vertex is left out), and its nearest elements are the source tree's, when
// elements are named by leaf position.
TYPED_TEST(MeshAABBTreeTest, LeafOrderedCopyIsTheTreeOverTheSameElements) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    Mesh mesh = TestFixture::grid();
    typename Traits::Builder builder{mesh};
    builder.set_point(builder.create_points(1), Point<D>{});
    const LeafOrderedCopy<Mesh> snapshot{mesh};
    const Mesh& copy = snapshot.mesh();
    const AABBTree<D>& tree = snapshot.tree();
    const auto reference = create_aabb_tree(mesh);
    const index_t n = Traits::nb_elements(mesh);
    ASSERT_EQ(tree.nb_bboxes(), n);
    EXPECT_EQ(tree.nb_positions(), n + n / 15);
    ASSERT_EQ(Traits::nb_elements(copy), tree.nb_positions());
    std::vector<index_t> live;
    index_t next_new_vertex = 0;
    for (index_t position = 0; position < tree.nb_positions(); ++position) {
        const index_t element = tree.leaf_element(position);
        if (element == NO_ID) {
            continue;
        }
        live.push_back(element);
        const auto& ours = Traits::element_vertices(copy, position);
        const auto& theirs = Traits::element_vertices(mesh, element);
        for (index_t v = 0; v <= D; ++v) {
            EXPECT_EQ(copy.point(ours[v]), mesh.point(theirs[v])) << "position " << position;
            EXPECT_LE(ours[v], next_new_vertex) << "position " << position;
            next_new_vertex = std::max(next_new_vertex, ours[v] + 1);
        }
    }
    EXPECT_TRUE(std::equal(live.begin(), live.end(), reference.leaf_order().begin(),
                           reference.leaf_order().end()));
    EXPECT_EQ(copy.nb_vertices(), next_new_vertex);
    EXPECT_EQ(copy.nb_vertices() + 1, mesh.nb_vertices());
    const typename Traits::ElementDistance by_position{copy};
    const typename Traits::ElementDistance by_element{mesh};
    std::mt19937_64 random{31};
    for (int query = 0; query < 200; ++query) {
        const Point<D> point = TestFixture::random_point(random, -0.1, 1.1);
        const auto [position, distance] = tree.closest_position_within(point, by_position, 0.05);
        const auto [element, expected] = reference.closest_element_within(point, by_element, 0.05);
        EXPECT_EQ(distance, expected) << point.string();
        if (expected < 0.05) {
            EXPECT_EQ(by_element(point, tree.leaf_element(position)), expected) << point.string();
        }
    }
    std::vector<index_t> too_few(tree.leaf_order().begin(), tree.leaf_order().end() - 1);
    std::vector<std::array<index_t, D + 1>> elements;
    for (index_t i = 0; i < tree.nb_positions(); ++i) {
        elements.push_back(Traits::element_vertices(copy, i));
    }
    std::vector<Point<D>> points;
    for (index_t v = 0; v < copy.nb_vertices(); ++v) {
        points.push_back(copy.point(v));
    }
    EXPECT_THROW((AABBTree<D>{points, elements, too_few}), PolvaneException);
    const LeafOrderedCopy<Mesh> empty{Mesh{}};
    EXPECT_EQ(empty.tree().nb_bboxes(), 0U);
    EXPECT_EQ(empty.mesh().nb_vertices(), 0U);
}

// The tree keeps its resolution wherever the mesh lies: far from the origin, at extreme
// scales, and with a few far-away strays in a shuffled order, a query inside the mesh measures
// about as many elements as on the same grid at the origin (where single-precision boxes and a
// curve frame stretched by the strays once made every query linear in the number of elements),
// and every stored box still holds its elements' vertices.
TYPED_TEST(MeshAABBTreeTest, PlacementsFarAwayOrWithStraysKeepQueriesLocal) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    const Mesh grid = test::jittered_grid<Mesh>(D == 1 ? 4000 : D == 2 ? 50 : 12);
    // Elements measured per query, for queries inside the unit box placed like the mesh.
    const auto measured = [](const Mesh& mesh, double scale, double offset) {
        const AABBTree<D> tree = create_aabb_tree(mesh);
        const typename Traits::ElementDistance distance{mesh};
        std::size_t count = 0;
        const auto counting = [&](const Point<D>& point, index_t element) {
            ++count;
            return distance(point, element);
        };
        std::mt19937_64 random{41};
        constexpr int nb_queries = 300;
        for (int query = 0; query < nb_queries; ++query) {
            Point<D> point = TestFixture::random_point(random, 0, 1);
            for (index_t axis = 0; axis < D; ++axis) {
                point.set_value(axis, point.value(axis) * scale + offset);
            }
            const auto [element, best] = tree.closest_element(point, counting);
            EXPECT_EQ(best, 0.0) << point.string();
            EXPECT_EQ(distance(point, element), 0.0) << point.string();
        }
        const std::function<void(std::size_t, index_t, index_t)> walk = [&](std::size_t k,
                                                                            index_t b, index_t e) {
            const BoundingBox<D> box = tree.node_box(k);
            if (e - b == 1) {
                for (const index_t v : Traits::element_vertices(mesh, tree.leaf_element(b))) {
                    EXPECT_TRUE(box.contains(mesh.point(v))) << "leaf " << b;
                }
                return;
            }
            walk(2 * k, b, b + (e - b) / 2);
            walk(2 * k + 1, b + (e - b) / 2, e);
        };
        walk(1, 0, Traits::nb_elements(mesh));
        return static_cast<double>(count) / nb_queries;
    };
    const double at_origin = measured(grid, 1, 0);
    EXPECT_LT(at_origin, 4 * D + 1);
    EXPECT_LT(measured(test::with_strays(grid, 3), 1, 0), 1.5 * at_origin);
    for (const auto& [scale, offset] : std::vector<std::array<double, 2>>{
             {1, 1e5}, {1, 1e7}, {10, 5e6}, {1e-30, 0}, {1e300, 0}, {1e-300, 1e-290}}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale << ", offset " << offset);
        EXPECT_LT(measured(test::placed(grid, scale, offset), scale, offset), 1.5 * at_origin);
    }
}

// The copy follows its source through updates: each source element sits at exactly one leaf
// position, on the source's coordinates, and every box above it holds its vertices. Small
// changes are applied in place (the tree then has empty positions), not by a new copy.
TYPED_TEST(MeshAABBTreeTest, LeafOrderedCopyFollowsItsSourceInPlace) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    Mesh mesh = test::jittered_grid<Mesh>(D == 1 ? 300 : D == 2 ? 12 : 4);
    LeafOrderedCopy<Mesh> snapshot{mesh};
    const auto expect_follows = [&] {
        const AABBTree<D>& tree = snapshot.tree();
        const index_t n = Traits::nb_elements(mesh);
        ASSERT_EQ(tree.nb_bboxes(), n);
        std::vector<int> seen(n, 0);
        const std::function<void(std::size_t, index_t, index_t)> walk = [&](std::size_t k,
                                                                            index_t b, index_t e) {
            const BoundingBox<D> box = tree.node_box(k);
            for (index_t position = b; position < e; ++position) {
                const index_t element = tree.leaf_element(position);
                if (element == NO_ID) {
                    continue;
                }
                const auto& ours = Traits::element_vertices(snapshot.mesh(), position);
                const auto& theirs = Traits::element_vertices(mesh, element);
                for (index_t v = 0; v <= D; ++v) {
                    ASSERT_EQ(snapshot.mesh().point(ours[v]), mesh.point(theirs[v]));
                    ASSERT_TRUE(box.contains(mesh.point(theirs[v]))) << "node " << k;
                }
                seen[element] += e - b == 1 ? 1 : 0;
            }
            if (e - b > 1) {
                walk(2 * k, b, b + (e - b) / 2);
                walk(2 * k + 1, b + (e - b) / 2, e);
            }
        };
        walk(1, 0, tree.nb_positions());
        EXPECT_EQ(seen, std::vector<int>(n, 1));
    };
    std::mt19937 random{13};
    for (int step = 0; step < 30; ++step) {
        MeshChanges changes;
        const index_t element = static_cast<index_t>(random() % Traits::nb_elements(mesh));
        test::split_element(mesh, element, test::element_centroid(mesh, element), changes);
        const index_t vertex = static_cast<index_t>(random() % mesh.nb_vertices());
        test::move_vertex(mesh, vertex, mesh.point(vertex) * 0.999, changes);
        snapshot.update(mesh, changes);
        expect_follows();
        if (step % 10 == 9) {
            MeshChanges deletion;
            std::vector<bool> flags(Traits::nb_elements(mesh), false);
            flags[random() % flags.size()] = true;
            test::delete_elements(mesh, flags, deletion);
            snapshot.update(mesh, deletion);
            expect_follows();
        }
    }
    EXPECT_GT(snapshot.tree().nb_positions(), snapshot.tree().nb_bboxes());
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

}  // namespace
}  // namespace orvex
