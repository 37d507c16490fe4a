#include "polvane/geometry/aabb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <type_traits>
#include <vector>

#include "orvex_testing/random_points.h"

namespace orvex {
namespace {

using test::random_point;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<index_t> kSizes{0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 1000, 5000};

// Elements are segments [a, b]; in 1D a segment is its own box.
template <index_t D>
struct Segments {
    std::vector<Point<D>> a;
    std::vector<Point<D>> b;
    std::vector<BoundingBox<D>> boxes;

    double distance(const Point<D>& p, index_t element) const {
        const Point<D>& s = a[element];
        const Point<D>& t = b[element];
        double along = 0;
        double length2 = 0;
        for (index_t axis = 0; axis < D; ++axis) {
            along += (p.value(axis) - s.value(axis)) * (t.value(axis) - s.value(axis));
            length2 += (t.value(axis) - s.value(axis)) * (t.value(axis) - s.value(axis));
        }
        const double ratio = length2 > 0 ? std::clamp(along / length2, 0.0, 1.0) : 0.0;
        double squared = 0;
        for (index_t axis = 0; axis < D; ++axis) {
            const double delta =
                p.value(axis) - (s.value(axis) + ratio * (t.value(axis) - s.value(axis)));
            squared += delta * delta;
        }
        return std::sqrt(squared);
    }
};

template <index_t D>
Segments<D> random_segments(std::mt19937_64& rng, index_t n, double size) {
    Segments<D> segments;
    for (index_t i = 0; i < n; ++i) {
        const Point<D> a = random_point<D>(rng, 0, 10);
        const Point<D> b = a + random_point<D>(rng, -size, size);
        segments.a.push_back(a);
        segments.b.push_back(b);
        BoundingBox<D> box;
        box.add_point(a);
        box.add_point(b);
        segments.boxes.push_back(box);
    }
    return segments;
}

// The query as the layout and the traversal rules state it, addressed by node numbers, on the
// tree's own node boxes.
template <index_t D>
class ReferenceSearch {
public:
    using Distance = std::function<double(const Point<D>&, index_t)>;

    ReferenceSearch(const AABBTree<D>& tree, Distance distance)
        : tree_(tree), distance_(std::move(distance)) {}

    std::tuple<index_t, double> closest(const Point<D>& query) {
        const index_t n = tree_.nb_bboxes();
        if (n == 0) {
            return {NO_ID, kInf};
        }
        std::size_t k = 1;
        index_t b = 0;
        index_t e = n;
        while (e != b + 1) {
            const index_t m = b + (e - b) / 2;
            if (box_distance(2 * k, query) < box_distance(2 * k + 1, query)) {
                k = 2 * k;
                e = m;
            } else {
                k = 2 * k + 1;
                b = m;
            }
        }
        nearest_ = tree_.leaf_element(b);
        best_ = element_distance(query, nearest_);
        visit(query, 1, 0, n);
        return {nearest_, best_};
    }

private:
    double box_distance(std::size_t k, const Point<D>& query) const {
        return tree_.node_box(k).signed_distance(query);
    }

    double element_distance(const Point<D>& query, index_t element) const {
        const double d = distance_(query, element);
        return std::isnan(d) ? kInf : d;
    }

    void visit(const Point<D>& query, std::size_t k, index_t b, index_t e) {
        if (e == b + 1) {
            const index_t c = tree_.leaf_element(b);
            const double d = element_distance(query, c);
            if (d < best_) {
                nearest_ = c;
                best_ = d;
            }
            return;
        }
        const index_t m = b + (e - b) / 2;
        const double dl = box_distance(2 * k, query);
        const double dr = box_distance(2 * k + 1, query);
        if (dl < dr) {
            if (dl < best_) {
                visit(query, 2 * k, b, m);
            }
            if (dr < best_) {
                visit(query, 2 * k + 1, m, e);
            }
        } else {
            if (dr < best_) {
                visit(query, 2 * k + 1, m, e);
            }
            if (dl < best_) {
                visit(query, 2 * k, b, m);
            }
        }
    }

    const AABBTree<D>& tree_;
    Distance distance_;
    index_t nearest_ = NO_ID;
    double best_ = kInf;
};

// Checks one query against the reference traversal (exactly, tie rules included) and against a
// brute-force minimum (the distance, NaN distances excluded), and the bounded search below
// several bounds.
template <index_t D, typename Distance>
void check_query(const AABBTree<D>& tree, const Distance& distance, const Point<D>& query) {
    const auto [element, best] = tree.closest_element(query, distance);
    ReferenceSearch<D> reference{tree, distance};
    EXPECT_EQ(std::make_tuple(element, best), reference.closest(query)) << query.string();

    double brute = kInf;
    for (index_t i = 0; i < tree.nb_bboxes(); ++i) {
        const double d = distance(query, i);
        if (d < brute) {
            brute = d;
        }
    }
    EXPECT_EQ(best, brute);
    if (element != NO_ID && best < kInf) {
        EXPECT_EQ(distance(query, element), best);
    }
    for (const double bound : {0.0, 1e-6, 0.05, 0.3, kInf}) {
        const auto [within, within_best] = tree.closest_element_within(query, distance, bound);
        if (best < bound) {
            EXPECT_EQ(within, element) << "bound " << bound;
            EXPECT_EQ(within_best, best) << "bound " << bound;
        } else {
            EXPECT_FALSE(within_best < bound) << "bound " << bound;
        }
    }
}

// Every node's box (single precision, rounded outward) holds, exactly, the boxes of the
// elements under it; the leaf order is a permutation.
template <index_t D>
void check_boxes(const AABBTree<D>& tree, const std::vector<BoundingBox<D>>& boxes) {
    const auto n = static_cast<index_t>(boxes.size());
    ASSERT_EQ(tree.nb_bboxes(), n);
    std::vector<index_t> sorted(tree.leaf_order().begin(), tree.leaf_order().end());
    std::sort(sorted.begin(), sorted.end());
    for (index_t i = 0; i < n; ++i) {
        ASSERT_EQ(sorted[i], i) << "the leaf order is not a permutation";
    }
    if (n == 0) {
        EXPECT_TRUE(tree.root_box().is_empty());
        return;
    }
    const std::function<void(std::size_t, index_t, index_t)> walk = [&](std::size_t k, index_t b,
                                                                        index_t e) {
        const BoundingBox<D> box = tree.node_box(k);
        for (index_t i = b; i < e; ++i) {
            const BoundingBox<D>& element = boxes[tree.leaf_element(i)];
            for (index_t axis = 0; axis < D; ++axis) {
                if (element.min().value(axis) <= element.max().value(axis)) {
                    EXPECT_LE(box.min().value(axis), element.min().value(axis)) << "node " << k;
                    EXPECT_GE(box.max().value(axis), element.max().value(axis)) << "node " << k;
                }
            }
        }
        if (e - b > 1) {
            const index_t m = b + (e - b) / 2;
            walk(2 * k, b, m);
            walk(2 * k + 1, m, e);
        }
    };
    walk(1, 0, n);
    EXPECT_EQ(tree.root_box().min(), tree.node_box(1).min());
    EXPECT_EQ(tree.root_box().max(), tree.node_box(1).max());
}

// Many queries at once (more than one group, NaN and infinite ones among them, answered in an
// order of the tree's own) give each query's single answer.
template <index_t D, typename Distance>
void check_batch(const AABBTree<D>& tree, const Distance& by_position, std::mt19937_64& rng) {
    std::vector<Point<D>> queries;
    for (int q = 0; q < 300; ++q) {
        queries.push_back(random_point<D>(rng, -2, 12));
    }
    queries[7].set_value(0, kNaN);
    queries[8].set_value(D - 1, kInf);
    const std::vector<std::size_t> order = tree.curve_order(queries);
    std::vector<int> answered(queries.size(), 0);
    tree.closest_positions_within(
        queries, order, by_position, 0.5, [&](std::size_t i, index_t position, double best) {
            ++answered[i];
            EXPECT_EQ(std::make_tuple(position, best),
                      tree.closest_position_within(queries[i], by_position, 0.5))
                << "query " << i;
        });
    EXPECT_EQ(answered, std::vector<int>(queries.size(), 1));
}

template <typename Dimension>
class AABBTreeTest : public testing::Test {};

using Dimensions =
    testing::Types<std::integral_constant<index_t, 1>, std::integral_constant<index_t, 2>,
                   std::integral_constant<index_t, 3>>;

struct DimensionNames {
    template <typename Dimension>
    static std::string GetName(int /*index*/) {
        return std::to_string(Dimension::value) + "D";
    }
};

TYPED_TEST_SUITE(AABBTreeTest, Dimensions, DimensionNames);

// Random segments (doubles that floats cannot hold), and the same with some boxes made of one
// infinite or NaN-ignored corner, whose centres the curve order must survive: boxes hold their
// elements and every query follows the reference, single, bounded and batched.
TYPED_TEST(AABBTreeTest, BoxesHoldTheirElementsAndQueriesFollowTheReference) {
    constexpr index_t D = TypeParam::value;
    std::mt19937_64 rng{11 + D};
    for (const index_t n : kSizes) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        const Segments<D> segments = random_segments<D>(rng, n, n < 50 ? 3 : 0.5);
        std::vector<BoundingBox<D>> odd = segments.boxes;
        for (index_t i = 0; i < n; i += 3) {
            Point<D> corner = random_point<D>(rng, 0, 10);
            corner.set_value(i % D, i % 2 == 0 ? kInf : kNaN);
            BoundingBox<D> box;
            box.add_point(corner);
            odd[i] = box;
        }
        const std::array<const std::vector<BoundingBox<D>>*, 2> cases{&segments.boxes, &odd};
        for (const std::vector<BoundingBox<D>>* boxes : cases) {
            const AABBTree<D> tree{*boxes};
            check_boxes(tree, *boxes);
            // Distance 0 wherever boxes overlap: many ties, decided by the traversal order.
            const auto to_box = [boxes](const Point<D>& p, index_t i) {
                return std::max(0.0, (*boxes)[i].signed_distance(p));
            };
            const auto to_segment = [&segments](const Point<D>& p, index_t i) {
                return segments.distance(p, i);
            };
            for (int q = 0; q < 30; ++q) {
                const Point<D> query = random_point<D>(rng, -2, 12);
                check_query(tree, to_box, query);
                if (boxes == &segments.boxes) {
                    check_query(tree, to_segment, query);
                }
            }
            if (boxes == &segments.boxes) {
                // Queries on the segments themselves: the answer is at distance 0.
                for (index_t i = 0; i < std::min<index_t>(n, 10); ++i) {
                    const Point<D> middle = segments.a[i] * 0.5 + segments.b[i] * 0.5;
                    check_query(tree, to_segment, middle);
                    EXPECT_LE(std::get<1>(tree.closest_element(middle, to_segment)), 1e-12);
                }
            }
            check_batch(
                tree,
                [&](const Point<D>& p, index_t position) {
                    return to_box(p, tree.leaf_element(position));
                },
                rng);
        }
    }
}

TYPED_TEST(AABBTreeTest, TiesGoRightInTheSeedAndTheSeedStays) {
    constexpr index_t D = TypeParam::value;
    // Equal boxes and equal element distances: every comparison is a tie.
    BoundingBox<D> box;
    Point<D> far;
    Point<D> inside;
    for (index_t axis = 0; axis < D; ++axis) {
        far.set_value(axis, 0.5);
        inside.set_value(axis, 0.5);
        Point<D> corner;
        corner.set_value(axis, 1);
        box.add_point(corner);
        box.add_point(Point<D>{});
    }
    far.set_value(0, 3);
    for (const index_t n : kSizes) {
        if (n == 0) {
            continue;
        }
        const AABBTree<D> tree{std::vector<BoundingBox<D>>(n, box)};
        int evaluated = 0;
        const auto flat = [&evaluated](const Point<D>&, index_t) {
            ++evaluated;
            return 0.5;
        };
        EXPECT_EQ(tree.closest_element(far, flat), std::make_tuple(tree.leaf_element(n - 1), 0.5))
            << "n = " << n;
        // The box distance 2 is not below best: only the seed is measured (once: the search
        // starts off the seed's path, which it cannot improve on).
        EXPECT_EQ(evaluated, 1);

        // Box distances equal to best do not open a subtree either (strict comparisons).
        evaluated = 0;
        const auto to_box = [&evaluated, &box](const Point<D>& p, index_t) {
            ++evaluated;
            return box.signed_distance(p);
        };
        EXPECT_EQ(std::get<1>(tree.closest_element(far, to_box)), 2.0);
        EXPECT_EQ(evaluated, 1);

        // Inside, with the seed farther than the others: the search also goes right first on
        // ties, so the first zero it meets is the leaf just before the seed.
        if (n > 1) {
            const index_t seed = tree.leaf_element(n - 1);
            const auto seed_far = [seed](const Point<D>&, index_t i) {
                return i == seed ? 1.0 : 0.0;
            };
            EXPECT_EQ(tree.closest_element(inside, seed_far),
                      std::make_tuple(tree.leaf_element(n - 2), 0.0));
        }
    }
}

TYPED_TEST(AABBTreeTest, EmptyTreesAndNaNs) {
    constexpr index_t D = TypeParam::value;
    const AABBTree<D> empty;
    EXPECT_EQ(empty.nb_bboxes(), 0U);
    EXPECT_TRUE(empty.root_box().is_empty());
    EXPECT_EQ(empty.closest_element(Point<D>{},
                                    [](const Point<D>&, index_t) {
                                        ADD_FAILURE() << "no element to measure";
                                        return 0.0;
                                    }),
              std::make_tuple(NO_ID, kInf));

    std::mt19937_64 rng{99};
    const Segments<D> segments = random_segments<D>(rng, 100, 1);
    const AABBTree<D> tree{segments.boxes};
    // NaN element distances count as farther than any number.
    const auto partly_nan = [&](const Point<D>& p, index_t i) {
        return i % 3 == 0 ? kNaN : segments.distance(p, i);
    };
    for (int q = 0; q < 30; ++q) {
        const Point<D> query = random_point<D>(rng, -2, 12);
        check_query(tree, partly_nan, query);
        EXPECT_NE(std::get<0>(tree.closest_element(query, partly_nan)) % 3, 0U);
    }
    // A NaN seed is replaced by the nearest real distance; nothing but NaN accepts nothing.
    const Point<D> query = segments.a[5];
    const index_t seed =
        std::get<0>(tree.closest_element(query, [](const Point<D>&, index_t) { return kNaN; }));
    const auto nan_seed = [&](const Point<D>& p, index_t i) {
        return i == seed ? kNaN : segments.distance(p, i);
    };
    EXPECT_NE(std::get<0>(tree.closest_element(query, nan_seed)), seed);
    check_query(tree, nan_seed, query);
    EXPECT_EQ(
        std::get<1>(tree.closest_element(query, [](const Point<D>&, index_t) { return kNaN; })),
        kInf);

    // A NaN query: NaN box distances prune every subtree, only the seed is measured.
    int evaluated = 0;
    const auto counting = [&](const Point<D>& p, index_t i) {
        ++evaluated;
        return segments.distance(p, i);
    };
    for (index_t axis = 0; axis < D; ++axis) {
        Point<D> nan_query = segments.a[0];
        nan_query.set_value(axis, kNaN);
        evaluated = 0;
        const auto [element, best] = tree.closest_element(nan_query, counting);
        EXPECT_LT(element, 100U);
        EXPECT_FALSE(best <= GLOBAL_EPSILON);
        EXPECT_EQ(evaluated, 1);
    }
}

TYPED_TEST(AABBTreeTest, ForEachBoxIntersectingFindsExactlyTheOverlaps) {
    constexpr index_t D = TypeParam::value;
    // Coordinates in 1/64: floats hold them, so the stored boxes are the element boxes.
    std::mt19937_64 rng{3};
    std::uniform_int_distribution<int> sixty_fourths{0, 640};
    const auto grid_point = [&] {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, sixty_fourths(rng) / 64.0);
        }
        return point;
    };
    std::vector<BoundingBox<D>> boxes(300);
    for (auto& box : boxes) {
        box.add_point(grid_point());
        box.add_point(grid_point() * 0.1 + box.min());
    }
    const AABBTree<D> tree{boxes};
    for (int q = 0; q < 20; ++q) {
        BoundingBox<D> window;
        window.add_point(grid_point());
        window.add_point(grid_point());
        std::vector<index_t> found;
        tree.for_each_box_intersecting(window, [&](index_t i) { found.push_back(i); });
        std::sort(found.begin(), found.end());
        std::vector<index_t> expected;
        for (index_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].intersects(window)) {
                expected.push_back(i);
            }
        }
        EXPECT_EQ(found, expected);
    }
}

// The curve splits its frame at the midplane: two centres a hair on either side of it fall on
// their own sides, so that the root's halves (two elements each) are the frame's halves and
// do not overlap. Element 1 comes before element 2 in the input, so a curve that put both in
// one cell would keep them in that order, across the halves.
TEST(AABBTree, SplitsAtTheFrameMidplane) {
    const auto at = [](double x, double y) {
        BoundingBox<2> box;
        box.add_point(Point<2>{{x, y}});
        return box;
    };
    const std::vector<BoundingBox<2>> boxes{at(0.25, 0.25), at(0.50005, 0.75), at(0.49995, 0.75),
                                            at(0.75, 0.25)};
    const AABBTree<2> tree{boxes};
    const BoundingBox<2> left = tree.node_box(2);
    const BoundingBox<2> right = tree.node_box(3);
    EXPECT_LT(std::min(left.max().value(0) - right.min().value(0),
                       right.max().value(0) - left.min().value(0)),
              0.0);
}

}  // namespace
}  // namespace orvex
