#include "polvane/geometry/aabb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "polvane/geometry/compact_aabb_tree.h"

namespace orvex {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<index_t> kSizes{0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 1000, 5000};

template <index_t D>
Point<D> random_point(std::mt19937_64& rng, double low, double high) {
    std::uniform_real_distribution<double> coordinate{low, high};
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, coordinate(rng));
    }
    return point;
}

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

// Walks the tree by node numbers (k, b, e), as the layout defines them, and checks the boxes
// and the pre-order slots against that definition.
template <index_t D>
void check_node(const AABBTree<D>& tree, const std::vector<BoundingBox<D>>& element_boxes,
                std::size_t node, index_t begin, index_t end, std::size_t slot) {
    ASSERT_EQ(AABBTree<D>::node_slot(node, begin), slot) << "node " << node;
    const BoundingBox<D>& box = tree.node_box(node, begin);
    if (end - begin == 1) {
        const BoundingBox<D>& element_box = element_boxes[tree.leaf_element(begin)];
        EXPECT_EQ(box.min(), element_box.min());
        EXPECT_EQ(box.max(), element_box.max());
        return;
    }
    const index_t middle = begin + (end - begin) / 2;
    BoundingBox<D> children = tree.node_box(2 * node, begin);
    children.add_box(tree.node_box(2 * node + 1, middle));
    EXPECT_EQ(box.min(), children.min()) << "node " << node;
    EXPECT_EQ(box.max(), children.max()) << "node " << node;
    BoundingBox<D> centers;
    for (index_t i = begin; i < end; ++i) {
        const BoundingBox<D>& element_box = element_boxes[tree.leaf_element(i)];
        EXPECT_TRUE(box.contains(element_box.min()) && box.contains(element_box.max()));
        centers.add_point(element_box.center());
    }
    // A median split along the widest axis of the centres: no centre of the left child lies
    // beyond a centre of the right child on that axis.
    const index_t axis = std::get<0>(centers.largest_length());
    double left_max = -kInf;
    double right_min = kInf;
    for (index_t i = begin; i < end; ++i) {
        const double c = element_boxes[tree.leaf_element(i)].center().value(axis);
        if (i < middle) {
            left_max = std::max(left_max, c);
        } else {
            right_min = std::min(right_min, c);
        }
    }
    EXPECT_LE(left_max, right_min) << "node " << node << ", axis " << axis;
    check_node(tree, element_boxes, 2 * node, begin, middle, slot + 1);
    check_node(tree, element_boxes, 2 * node + 1, middle, end,
               slot + 2 * static_cast<std::size_t>(middle - begin));
}

template <index_t D>
void check_layout(const std::vector<BoundingBox<D>>& element_boxes) {
    const AABBTree<D> tree{element_boxes};
    const auto n = static_cast<index_t>(element_boxes.size());
    ASSERT_EQ(tree.nb_bboxes(), n);
    EXPECT_EQ(tree.nb_stored_boxes(), n == 0 ? 0 : 2 * std::size_t{n} - 1);
    EXPECT_GE(tree.memory_bytes(),
              tree.nb_stored_boxes() * sizeof(BoundingBox<D>) + n * sizeof(index_t));

    std::vector<index_t> sorted(tree.leaf_order().begin(), tree.leaf_order().end());
    std::sort(sorted.begin(), sorted.end());
    for (index_t i = 0; i < n; ++i) {
        ASSERT_EQ(sorted[i], i) << "the leaf order is not a permutation";
    }

    BoundingBox<D> all;
    for (const auto& box : element_boxes) {
        all.add_box(box);
    }
    EXPECT_EQ(tree.root_box().min(), all.min());
    EXPECT_EQ(tree.root_box().max(), all.max());
    if (n > 0) {
        check_node(tree, element_boxes, 1, 0, n, 0);
    }
}

template <index_t D>
void check_layouts() {
    std::mt19937_64 rng{42 + D};
    for (const index_t n : kSizes) {
        SCOPED_TRACE(testing::Message() << "D = " << D << ", n = " << n);
        check_layout<D>(random_segments<D>(rng, n, 2).boxes);
        // Equal centres everywhere: the split has nothing to sort on.
        BoundingBox<D> same;
        same.add_point(random_point<D>(rng, 0, 1));
        same.add_point(random_point<D>(rng, 0, 1));
        check_layout<D>(std::vector<BoundingBox<D>>(n, same));
        // Few distinct centres: long runs of equal keys in every split.
        std::vector<BoundingBox<D>> coarse;
        std::uniform_int_distribution<int> cell{0, 2};
        for (index_t i = 0; i < n; ++i) {
            Point<D> corner;
            for (index_t a = 0; a < D; ++a) {
                corner.set_value(a, cell(rng));
            }
            BoundingBox<D> box;
            box.add_point(corner);
            coarse.push_back(box);
        }
        check_layout<D>(coarse);
    }
}

TEST(AABBTree, LayoutFollowsHalvingRuleAndPreOrderSlots) {
    check_layouts<1>();
    check_layouts<2>();
    check_layouts<3>();
}

TEST(AABBTree, SplitsAlongTheWidestAxis) {
    // Eight unit boxes in a row along y: the first split separates the four lowest.
    std::vector<BoundingBox2D> boxes;
    for (const int y : {5, 2, 7, 0, 3, 6, 1, 4}) {
        BoundingBox2D box;
        box.add_point(Point2D({0, 2.0 * y}));
        box.add_point(Point2D({1, 2.0 * y + 1}));
        boxes.push_back(box);
    }
    const AABBTree2D tree{boxes};
    EXPECT_EQ(tree.node_box(2, 0).max().value(1), 7.0);
    EXPECT_EQ(tree.node_box(3, 4).min().value(1), 8.0);
    for (index_t i = 0; i < 8; ++i) {
        EXPECT_EQ(boxes[tree.leaf_element(i)].min().value(1), 2.0 * i);
    }
}

// The box of node number k (covering leaves from b) of either tree.
template <index_t D>
BoundingBox<D> box_of(const AABBTree<D>& tree, std::size_t k, index_t b) {
    return tree.node_box(k, b);
}

template <index_t D>
BoundingBox<D> box_of(const CompactAABBTree<D>& tree, std::size_t k, index_t /*b*/) {
    return tree.node_box(k);
}

// The query as the layout and the traversal rules state it, addressed by node numbers.
template <index_t D, typename Tree = AABBTree<D>>
class ReferenceSearch {
public:
    using Distance = std::function<double(const Point<D>&, index_t)>;

    ReferenceSearch(const Tree& tree, Distance distance)
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
            if (box_distance(2 * k, b, query) < box_distance(2 * k + 1, m, query)) {
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
    double box_distance(std::size_t k, index_t b, const Point<D>& query) const {
        return box_of(tree_, k, b).signed_distance(query);
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
        const double dl = box_distance(2 * k, b, query);
        const double dr = box_distance(2 * k + 1, m, query);
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

    const Tree& tree_;
    Distance distance_;
    index_t nearest_ = NO_ID;
    double best_ = kInf;
};

// Checks one query against the reference traversal (exactly, tie rules included) and against a
// brute-force minimum (the distance, NaN distances excluded).
template <index_t D, typename Distance, typename Tree = AABBTree<D>>
void check_query(const Tree& tree, const Distance& distance, const Point<D>& query) {
    const auto [element, best] = tree.closest_element(query, distance);
    ReferenceSearch<D, Tree> reference{tree, distance};
    const auto [expected_element, expected_best] = reference.closest(query);
    EXPECT_EQ(element, expected_element);
    EXPECT_EQ(best, expected_best);

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

    // The bounded search gives the same answer below its bound, and nothing below it otherwise.
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

template <index_t D>
void check_queries() {
    std::mt19937_64 rng{7 + D};
    for (const index_t n : kSizes) {
        SCOPED_TRACE(testing::Message() << "D = " << D << ", n = " << n);
        const Segments<D> segments = random_segments<D>(rng, n, n < 50 ? 3 : 0.5);
        const AABBTree<D> tree{segments.boxes};
        const auto to_segment = [&](const Point<D>& p, index_t i) {
            return segments.distance(p, i);
        };
        // Distance 0 wherever boxes overlap: many ties, decided by the traversal order.
        const auto to_box = [&](const Point<D>& p, index_t i) {
            return std::max(0.0, segments.boxes[i].signed_distance(p));
        };
        for (int q = 0; q < 40; ++q) {
            const Point<D> query = random_point<D>(rng, -2, 12);
            check_query(tree, to_segment, query);
            check_query(tree, to_box, query);
        }
        // Queries on the segments themselves: the answer is at distance 0.
        for (index_t i = 0; i < std::min<index_t>(n, 20); ++i) {
            const Point<D> middle = segments.a[i] * 0.5 + segments.b[i] * 0.5;
            check_query(tree, to_segment, middle);
            EXPECT_LE(std::get<1>(tree.closest_element(middle, to_segment)), 1e-12);
        }
    }
}

TEST(AABBTree, ClosestElementMatchesReferenceAndBruteForce) {
    check_queries<1>();
    check_queries<2>();
    check_queries<3>();
}

// The compact tree: every stored single-precision box contains exactly (in double precision)
// the boxes of the elements under it, the leaf order is a permutation, and queries follow the
// reference traversal exactly, on random boxes and on boxes with NaN-ignored and infinite
// bounds (whose centres the curve order must survive).
template <index_t D>
void check_compact_tree(const std::vector<BoundingBox<D>>& boxes, const Segments<D>* segments,
                        std::mt19937_64& rng) {
    const CompactAABBTree<D> tree{boxes};
    const auto n = static_cast<index_t>(boxes.size());
    ASSERT_EQ(tree.nb_bboxes(), n);
    std::vector<index_t> sorted(tree.leaf_order().begin(), tree.leaf_order().end());
    std::sort(sorted.begin(), sorted.end());
    for (index_t i = 0; i < n; ++i) {
        ASSERT_EQ(sorted[i], i) << "the leaf order is not a permutation";
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
    if (n > 0) {
        walk(1, 0, n);
        EXPECT_EQ(tree.root_box().min(), tree.node_box(1).min());
    }
    const auto to_box = [&](const Point<D>& p, index_t i) {
        return std::max(0.0, boxes[i].signed_distance(p));
    };
    for (int q = 0; q < 20; ++q) {
        const Point<D> query = random_point<D>(rng, -2, 12);
        check_query<D>(tree, to_box, query);
        if (segments != nullptr) {
            check_query<D>(
                tree, [&](const Point<D>& p, index_t i) { return segments->distance(p, i); },
                query);
        }
    }
    // Many queries at once (more than one group, NaN and infinite ones among them, answered
    // in an order of the tree's own) give each query's single answer.
    std::vector<Point<D>> queries;
    for (int q = 0; q < 150; ++q) {
        queries.push_back(random_point<D>(rng, -2, 12));
    }
    queries[7].set_value(0, kNaN);
    queries[8].set_value(D - 1, kInf);
    const auto by_position = [&](const Point<D>& p, index_t position) {
        return to_box(p, tree.leaf_element(position));
    };
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

template <index_t D>
void check_compact_trees() {
    std::mt19937_64 rng{11 + D};
    for (const index_t n : kSizes) {
        SCOPED_TRACE(testing::Message() << "D = " << D << ", n = " << n);
        // Random doubles, which floats cannot hold: the stored boxes are rounded outward.
        const Segments<D> segments = random_segments<D>(rng, n, n < 50 ? 3 : 0.5);
        check_compact_tree<D>(segments.boxes, &segments, rng);
        // Some boxes with infinite bounds, some with an axis left empty by NaN coordinates.
        std::vector<BoundingBox<D>> odd = segments.boxes;
        for (index_t i = 0; i < n; i += 3) {
            Point<D> corner = random_point<D>(rng, 0, 10);
            corner.set_value(i % D, i % 2 == 0 ? kInf : kNaN);
            BoundingBox<D> box;
            box.add_point(corner);
            odd[i] = box;
        }
        check_compact_tree<D>(odd, nullptr, rng);
    }
}

TEST(AABBTree, CompactTreeBoxesContainTheirElementsAndQueriesFollowTheReference) {
    check_compact_trees<1>();
    check_compact_trees<2>();
    check_compact_trees<3>();
}

// The curve splits its frame at the midplane: two centres a hair on either side of it fall on
// their own sides, so that the root's halves (two elements each) are the frame's halves and
// do not overlap. Element 1 comes before element 2 in the input, so a curve that put both in
// one cell would keep them in that order, across the halves.
TEST(AABBTree, CompactTreeSplitsAtTheFrameMidplane) {
    const auto at = [](double x, double y) {
        BoundingBox<2> box;
        box.add_point(Point<2>{{x, y}});
        return box;
    };
    const std::vector<BoundingBox<2>> boxes{at(0.25, 0.25), at(0.50005, 0.75), at(0.49995, 0.75),
                                            at(0.75, 0.25)};
    const CompactAABBTree<2> tree{boxes};
    const BoundingBox<2> left = tree.node_box(2);
    const BoundingBox<2> right = tree.node_box(3);
    EXPECT_LT(std::min(left.max().value(0) - right.min().value(0),
                       right.max().value(0) - left.min().value(0)),
              0.0);
}

TEST(AABBTree, TiesGoRightInTheSeedAndTheSeedStays) {
    // Equal boxes and equal element distances: every comparison is a tie.
    for (const index_t n : kSizes) {
        if (n == 0) {
            continue;
        }
        BoundingBox2D box;
        box.add_point(Point2D({0, 0}));
        box.add_point(Point2D({1, 1}));
        const AABBTree2D tree{std::vector<BoundingBox2D>(n, box)};
        int evaluated = 0;
        const auto flat = [&evaluated](const Point2D&, index_t) {
            ++evaluated;
            return 0.5;
        };
        const auto [element, best] = tree.closest_element(Point2D({3, 0.5}), flat);
        EXPECT_EQ(element, tree.leaf_element(n - 1)) << "n = " << n;
        EXPECT_EQ(best, 0.5);
        // The box distance 2 is not below best: only the seed is measured, and once more
        // when it is the root, which the search always enters.
        EXPECT_EQ(evaluated, n == 1 ? 2 : 1);

        // Box distances equal to best do not open a subtree either (strict comparisons).
        evaluated = 0;
        const auto to_box = [&evaluated, &box](const Point2D& p, index_t) {
            ++evaluated;
            return box.signed_distance(p);
        };
        EXPECT_EQ(std::get<1>(tree.closest_element(Point2D({3, 0.5}), to_box)), 2.0);
        EXPECT_EQ(evaluated, n == 1 ? 2 : 1);

        // Inside, with the seed farther than the others: the search also goes right first on
        // ties, so the first zero it meets is the leaf just before the seed.
        if (n > 1) {
            const index_t seed = tree.leaf_element(n - 1);
            const auto seed_far = [seed](const Point2D&, index_t i) {
                return i == seed ? 1.0 : 0.0;
            };
            EXPECT_EQ(tree.closest_element(Point2D({0.5, 0.5}), seed_far),
                      std::make_tuple(tree.leaf_element(n - 2), 0.0));
        }
    }
}

TEST(AABBTree, EmptyTreeHasNoClosestElement) {
    const AABBTree3D tree;
    EXPECT_EQ(tree.nb_bboxes(), 0U);
    EXPECT_TRUE(tree.root_box().is_empty());
    const auto result = tree.closest_element(Point3D{}, [](const Point3D&, index_t) {
        ADD_FAILURE() << "no element to measure";
        return 0.0;
    });
    EXPECT_EQ(result, std::make_tuple(NO_ID, kInf));
}

TEST(AABBTree, NaNElementDistancesCountAsFarthest) {
    std::mt19937_64 rng{99};
    const Segments<2> segments = random_segments<2>(rng, 100, 1);
    const AABBTree2D tree{segments.boxes};
    const auto partly_nan = [&](const Point2D& p, index_t i) {
        return i % 3 == 0 ? kNaN : segments.distance(p, i);
    };
    for (int q = 0; q < 50; ++q) {
        const Point2D query = random_point<2>(rng, -2, 12);
        check_query(tree, partly_nan, query);
        EXPECT_NE(std::get<0>(tree.closest_element(query, partly_nan)) % 3, 0U);
    }

    // A NaN seed is replaced by the nearest real distance.
    const Point2D query{{5, 5}};
    const index_t seed =
        std::get<0>(tree.closest_element(query, [](const Point2D&, index_t) { return kNaN; }));
    const auto nan_seed = [&](const Point2D& p, index_t i) {
        return i == seed ? kNaN : segments.distance(p, i);
    };
    const auto [element, best] = tree.closest_element(query, nan_seed);
    EXPECT_NE(element, seed);
    EXPECT_LT(best, kInf);
    check_query(tree, nan_seed, query);

    // Nothing but NaN: nothing is accepted.
    const auto all_nan = [](const Point2D&, index_t) { return kNaN; };
    EXPECT_EQ(std::get<1>(tree.closest_element(query, all_nan)), kInf);
}

TEST(AABBTree, NaNQueryAcceptsNothing) {
    std::mt19937_64 rng{5};
    const Segments<3> segments = random_segments<3>(rng, 33, 2);
    const AABBTree3D tree{segments.boxes};
    int evaluated = 0;
    const auto counting = [&](const Point3D& p, index_t i) {
        ++evaluated;
        return segments.distance(p, i);
    };
    for (const Point3D& query :
         {Point3D({kNaN, 1, 1}), Point3D({1, 1, kNaN}), Point3D({kNaN, kNaN, kNaN})}) {
        evaluated = 0;
        const auto [element, best] = tree.closest_element(query, counting);
        EXPECT_LT(element, 33U);
        EXPECT_FALSE(best <= GLOBAL_EPSILON);
        // Only the seed is measured: NaN box distances prune every subtree.
        EXPECT_EQ(evaluated, 1);
    }
}

TEST(AABBTree, ForEachBoxIntersectingFindsExactlyTheOverlaps) {
    std::mt19937_64 rng{3};
    const Segments<2> segments = random_segments<2>(rng, 300, 1);
    const AABBTree2D tree{segments.boxes};
    for (int q = 0; q < 20; ++q) {
        BoundingBox2D window;
        window.add_point(random_point<2>(rng, 0, 10));
        window.add_point(random_point<2>(rng, 0, 10));
        std::vector<index_t> found;
        tree.for_each_box_intersecting(window, [&](index_t i) { found.push_back(i); });
        std::sort(found.begin(), found.end());
        std::vector<index_t> expected;
        for (index_t i = 0; i < 300; ++i) {
            if (segments.boxes[i].intersects(window)) {
                expected.push_back(i);
            }
        }
        EXPECT_EQ(found, expected);
    }
}

}  // namespace
}  // namespace orvex
