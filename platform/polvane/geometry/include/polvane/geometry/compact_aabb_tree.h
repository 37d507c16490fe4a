#pragma once

#include <absl/types/span.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "polvane/basic/assert.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/export.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A static axis-aligned bounding-box tree over n elements (D = 1, 2 or 3) built for large
/// meshes: it is built in linear time and stores its boxes in single precision, in about half
/// the memory of `AABBTree`, with the same node layout and the same nearest-element queries.
///
/// Layout (as in `AABBTree`). The tree keeps a leaf order, a permutation of the n element
/// indices: leaf[i] is the element at leaf position i. Nodes are addressed by node number:
/// - node 1 is the root and covers the leaf positions [0, n);
/// - a node k covering [b, e) with e > b + 1 has the children 2k, covering [b, m), and
///   2k + 1, covering [m, e), where m = b + (e - b) / 2 (unsigned integer halving);
/// - a node with e = b + 1 is a leaf and stands for the element leaf[b].
///
/// Leaf order. The elements are sorted along a Hilbert curve of their box centres,
/// quantised on the bounding box of all the finite coordinates (8 bits per axis in 3D, 12 in
/// 2D, 32 in 1D); a run of more than 32 elements in one curve cell is sorted again on its own
/// bounding box (up to three times), so that graded meshes keep a fine order. Equal keys keep
/// the element order. A NaN centre coordinate reads as 0 and an infinite one as the nearest
/// side of that bounding box; any order gives a correct tree, so odd centres only cost speed.
/// Splitting the sorted sequence by the halving rule gives every node a compact run of the
/// curve; the Hilbert curve, unlike the Z-order one, never jumps, so such a run is a compact
/// region, which is what a median split gives at a much higher price.
///
/// Boxes. Each node's box contains the boxes of all the elements under it. Boxes are stored in
/// single precision, each bound rounded outward (a lower bound to the next float not above it,
/// an upper bound to the next float not below it), so a stored box contains its elements
/// exactly and its `signed_distance` (computed in double precision, as `BoundingBox` does) is
/// still a lower bound of the distance to them. Finite bounds beyond the float range become
/// infinite on their outer side. The two children of an inner node are stored side by side
/// (one record of 2 boxes per inner node, interleaved by axis, in depth-first pre-order), so
/// that the two box tests of a level read one record, one axis per load. Storage:
/// 16 D (n - 1) + 4 n bytes plus a few dozen.
///
/// The tree is movable and not copyable. All const operations are safe to call from many
/// threads at once.
template <index_t D>
class POLVANE_GEOMETRY_EXPORT CompactAABBTree {
public:
    /// The empty tree (n = 0).
    CompactAABBTree() = default;

    /// Builds the tree over `element_boxes`; element i is the one whose box is
    /// element_boxes[i].
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more boxes than
    /// `index_t` can number.
    explicit CompactAABBTree(absl::Span<const BoundingBox<D>> element_boxes);

    /// Builds the tree over simplices given by their D + 1 vertex indices into `points`; the
    /// box of element i is the bounding box of its vertices (NaN coordinates ignored axis by
    /// axis, as `BoundingBox::add_point` does). No box array is materialised.
    /// \pre every vertex index is below points.size().
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more elements than
    /// `index_t` can number.
    CompactAABBTree(absl::Span<const Point<D>> points,
                    absl::Span<const std::array<index_t, D + 1>> elements);

    /// Builds the tree over simplices that are already in leaf order: ordered_elements[i] is
    /// the simplex at leaf position i, named by the element index leaves[i] (what
    /// `leaf_element(i)` answers). With the `leaf_order` of the same simplices in another
    /// numbering, this gives the tree that the constructor above builds over them, with the
    /// element data of neighbouring leaves side by side in memory; the boxes are computed in
    /// sequence.
    /// \pre every vertex index is below points.size().
    /// \throw PolvaneException "[CompactAABBTree] ..." when leaves.size() differs from
    /// ordered_elements.size(), and "[Range] Invalid range: ..." when there are more elements
    /// than `index_t` can number.
    CompactAABBTree(absl::Span<const Point<D>> points,
                    absl::Span<const std::array<index_t, D + 1>> ordered_elements,
                    std::vector<index_t> leaves);

    /// The leaf order of the tree over these simplices (see the class comment), as the
    /// simplex constructor computes it: element i of the result is the element at leaf
    /// position i. For callers that lay their own element data out in that order.
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more elements than
    /// `index_t` can number.
    [[nodiscard]] static std::vector<index_t> leaf_order(
        absl::Span<const Point<D>> points, absl::Span<const std::array<index_t, D + 1>> elements);

    /// Takes over the other tree, which is left empty.
    CompactAABBTree(CompactAABBTree&&) noexcept = default;
    /// Takes over the other tree, which is left empty.
    CompactAABBTree& operator=(CompactAABBTree&&) noexcept = default;
    /// Not copyable: a tree can be large.
    CompactAABBTree(const CompactAABBTree&) = delete;
    /// Not copyable: a tree can be large.
    CompactAABBTree& operator=(const CompactAABBTree&) = delete;
    /// Releases the boxes and the leaf order.
    ~CompactAABBTree() = default;

    /// The number n of elements (leaves).
    [[nodiscard]] index_t nb_bboxes() const { return static_cast<index_t>(leaves_.size()); }

    /// The element at leaf position `position` (< n).
    [[nodiscard]] index_t leaf_element(index_t position) const {
        POLVANE_DEBUG_ASSERT(position < leaves_.size(), "[CompactAABBTree::leaf_element] Position ",
                             position, " is not below the number of leaves (", leaves_.size(), ")");
        return leaves_[position];
    }

    /// The whole leaf order.
    [[nodiscard]] absl::Span<const index_t> leaf_order() const { return leaves_; }

    /// The stored box of the root (the union of all element boxes, rounded outward); an empty
    /// box when n = 0.
    [[nodiscard]] BoundingBox<D> root_box() const { return to_box(root_); }

    /// The stored box of node number `node` (1 for the root), in double precision (exactly the
    /// single-precision bounds).
    /// \pre the node exists: following its binary digits after the leading 1 (0 left, 1 right)
    /// from the root never leaves the tree.
    [[nodiscard]] BoundingBox<D> node_box(std::size_t node) const;

    /// The heap memory held by the tree plus the object itself, in bytes.
    [[nodiscard]] std::size_t memory_bytes() const;

    /// The order in which to answer many queries: a permutation of the positions of `points`
    /// sorted along the same curve as the leaves (on the root box), so that consecutive
    /// queries walk similar paths. Points with NaN coordinates are placed as the leaves are.
    /// Allocates about 24 bytes per point (the result and two sort buffers).
    [[nodiscard]] std::vector<std::size_t> curve_order(absl::Span<const Point<D>> points) const;

    /// The element nearest to `query` and its distance; exactly the contract of
    /// `AABBTree::closest_element` (greedy seed to the right on ties, then the depth-first
    /// search with strict comparisons; NaN element distances read as +infinity), with this
    /// tree's boxes and leaf order.
    template <typename ElementDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_element(
        const Point<D>& query, const ElementDistance& distance) const {
        const index_t n = nb_bboxes();
        if (n == 0) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        Path path;
        const index_t seed = leaves_[greedy_descent(query, path)];
        const double seed_distance = read_distance(distance(query, seed));
        Nearest nearest{seed, seed_distance, seed_distance};
        visit_off_path<false, false>(query, distance, path, nearest);
        return {nearest.element, nearest.distance};
    }

    /// Exactly the contract of `AABBTree::closest_element_within`: the answer of
    /// `closest_element` whenever its distance is below `bound`, with less work (an early exit
    /// on the root box, pruning against min(best, bound), a stop once best is 0); otherwise an
    /// element whose distance is not below `bound`, or (NO_ID, +infinity).
    template <typename ElementDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_element_within(
        const Point<D>& query, const ElementDistance& distance, double bound) const {
        const index_t n = nb_bboxes();
        if (n == 0 || box_distance(root_, query) >= bound) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        Path path;
        const index_t seed = leaves_[greedy_descent(query, path)];
        const double seed_distance = read_distance(distance(query, seed));
        Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
        visit_off_path<true, false>(query, distance, path, nearest);
        return {nearest.element, nearest.distance};
    }

    /// `closest_element_within` with elements named by their leaf positions: `distance` is
    /// called as distance(query, position) for the element at leaf position `position`, and
    /// the result names the nearest element by its position (leaf_element(position) is the
    /// element). Made for callers that keep their element data in leaf order, where the
    /// elements met by one query lie side by side in memory. NO_ID when the answer is
    /// (NO_ID, +infinity).
    template <typename PositionDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_position_within(
        const Point<D>& query, const PositionDistance& distance, double bound) const {
        const index_t n = nb_bboxes();
        if (n == 0 || box_distance(root_, query) >= bound) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        Path path;
        const index_t seed = greedy_descent(query, path);
        const double seed_distance = read_distance(distance(query, seed));
        Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
        visit_off_path<true, true>(query, distance, path, nearest);
        return {nearest.element, nearest.distance};
    }

    /// `closest_position_within` for many queries: answer(i, position, distance) is called
    /// once for each i in `order`, with exactly what closest_position_within(queries[i],
    /// distance, bound) returns, in an order of its own.
    ///
    /// The queries are taken in the order given (`curve_order` gives one where neighbours walk
    /// similar paths), 256 at a time (64 in 1D), and each group descends the tree together, level
    /// by level: each record on the way is read once for the group, and the box tests of its
    /// queries, which do not wait on each other, overlap in the processor, as do the memory
    /// reads of the records and elements they reach next. Each query's own search then
    /// follows its own path. Every query measures the same boxes and elements, in the same
    /// order, as its single query does, so the answers are the same to the bit.
    ///
    /// If `distance` has a member `prefetch(index_t position, bool late)`, it is called for
    /// each query's seed (the leaf its descent reaches) before distance(query, seed) is: once
    /// with late = false as the seed is found, once with late = true just before the group's
    /// searches start, so that data reached through indices can be asked for in two rounds.
    /// It must only ask for memory (a hint), never change an answer.
    ///
    /// Allocates about 270 kilobytes (70 in 1D); const, so several threads may run it at once.
    /// \pre every entry of `order` is below queries.size().
    template <typename PositionDistance, typename Answer>
    void closest_positions_within(absl::Span<const Point<D>> queries,
                                  absl::Span<const std::size_t> order,
                                  const PositionDistance& distance, double bound,
                                  const Answer& answer) const {
        const index_t n = nb_bboxes();
        const auto group = std::make_unique<Group>();
        for (std::size_t start = 0; start < order.size(); start += group_size) {
            const std::size_t stop = std::min(order.size(), start + group_size);
            unsigned count = 0;
            for (std::size_t k = start; k < stop; ++k) {
                const std::size_t index = order[k];
#if defined(__GNUC__)
                // The queries are read in the given order, not in memory order.
                if (k + query_lookahead < order.size()) {
                    __builtin_prefetch(queries.data() + order[k + query_lookahead]);
                }
#endif
                const Point<D>& query = queries[index];
                if (n == 0 || box_distance(root_, query) >= bound) {
                    answer(index, NO_ID, std::numeric_limits<double>::infinity());
                } else {
                    group->queries[count] = {query, index};
                    group->ids[count] = count;
                    ++count;
                }
            }
            if (count > 0) {
                descend_together(*group, count, distance, bound, answer);
            }
        }
    }

    /// A box in single precision.
    struct FloatBox {
        /// The lower bounds, rounded towards -infinity.
        std::array<float, D> min;
        /// The upper bounds, rounded towards +infinity.
        std::array<float, D> max;
    };

    /// The boxes of the two children of one inner node, interleaved by axis so that one
    /// 16-byte load gives both children's bounds on an axis. Aligned to its size in 1D and
    /// 2D (16 and 32 bytes), so that a record never straddles two cache lines: the second
    /// line would be a second wait on memory. In 3D (48 bytes) half the records straddle two
    /// lines whatever the alignment; both are asked for together.
    struct alignas(D == 2 ? 32 : 16) ChildBoxes {
        /// Per axis: the left child's lower bound, the right child's, then their upper bounds.
        std::array<std::array<float, 4>, D> axes;

        /// The two boxes stored together, left then right.
        static ChildBoxes of(const FloatBox& left, const FloatBox& right) {
            ChildBoxes boxes{};
            for (index_t axis = 0; axis < D; ++axis) {
                boxes.axes[axis] = {left.min[axis], right.min[axis], left.max[axis],
                                    right.max[axis]};
            }
            return boxes;
        }

        /// The box of child `index` (0 left, 1 right).
        [[nodiscard]] FloatBox child(index_t index) const {
            FloatBox box{};
            for (index_t axis = 0; axis < D; ++axis) {
                box.min[axis] = axes[axis][index];
                box.max[axis] = axes[axis][2 + index];
            }
            return box;
        }
    };

private:
    template <typename Source>
    void build(const Source& source, std::size_t size);

    // The inner records and the root from the rounded boxes of the leaves: leaf_box(i) is the
    // one at leaf position i, asked once per position, in increasing order.
    // \pre !leaves.empty().
    template <typename LeafBox>
    void build_nodes(const LeafBox& leaf_box, std::vector<index_t> leaves);

    struct Nearest {
        index_t element;
        double distance;
        // What a subtree's box or an element must be strictly below to be visited or to
        // replace `element`.
        double limit;
    };

    static BoundingBox<D> to_box(const FloatBox& box);

    // `BoundingBox::signed_distance` of the box, evaluated on its double-precision value, to
    // the same bits. Written with selections rather than branches per axis: whether a query
    // lies inside a child's box is a coin flip, and mispredictions dominated the descent.
    static double box_distance(const FloatBox& box, const Point<D>& point) {
        double outside2 = 0.0;
        double largest_gap = -std::numeric_limits<double>::infinity();
        bool nan = false;
        for (index_t axis = 0; axis < D; ++axis) {
            const double below = static_cast<double>(box.min[axis]) - point.value(axis);
            const double above = point.value(axis) - static_cast<double>(box.max[axis]);
            const double gap = below > above ? below : above;
            nan |= std::isnan(gap);
            // Adding +0 for an axis where the point lies between the bounds leaves the sum of
            // the positive gaps' squares exactly as summing only those.
            const double positive = gap > 0.0 ? gap : 0.0;
            outside2 += positive * positive;
            largest_gap = gap > largest_gap ? gap : largest_gap;
        }
        if (nan) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return finish_distance(box, point, outside2, std::sqrt(outside2), largest_gap);
    }

    // Below this sum of squared gaps some squares may have lost all their digits to underflow.
    static constexpr double smallest_safe_square = 1e-290;

    static double read_distance(double distance) {
        return std::isnan(distance) ? std::numeric_limits<double>::infinity() : distance;
    }

    // One level of the greedy descent: the box distances of the child taken (`first`) and of
    // its sibling (`second`), and the sibling's record index and leaf range.
    struct Step {
        double first;
        double second;
        std::size_t sibling_inner;
        index_t sibling_begin;
        index_t sibling_end;
    };

    // The levels of one greedy descent from the root (at most 32: n < 2^32).
    struct Path {
        std::array<Step, 32> steps;
        unsigned depth = 0;
    };

    // Both children's box distances, each to the bits of `box_distance`. With SSE2 the two
    // boxes are measured side by side, one per lane, by the same operations in the same order
    // (a maximum `a > b ? a : b` is MAXPD with its operands in that order), and only the last
    // steps are done per box.
    //
    // Returns left < right. In the common case that comparison is read off the signs and the
    // largest gaps, without waiting for the square roots: a box that holds the point is at
    // distance `largest_gap + 0 <= 0`, one that does not at a positive distance.
    static bool child_distances(const ChildBoxes& boxes, const Point<D>& point, double& left,
                                double& right) {
#if defined(__SSE2__)
        const ChildGaps measured = child_gaps(boxes, point);
        const __m128d zero = _mm_setzero_pd();
        const __m128d largest_gap = measured.largest_gap;
        const __m128d root = _mm_sqrt_pd(measured.outside2);
        const __m128d outside = _mm_cmpgt_pd(largest_gap, zero);
        if (common_case(measured, outside)) {
            const __m128d distances = common_distances(measured, outside, root);
            left = _mm_cvtsd_f64(distances);
            right = _mm_cvtsd_f64(_mm_unpackhi_pd(distances, distances));
            const int outside_lanes = _mm_movemask_pd(outside);
            if (outside_lanes == 0) {
                const __m128d inside_distances = _mm_add_pd(largest_gap, zero);
                return _mm_cvtsd_f64(inside_distances)
                       < _mm_cvtsd_f64(_mm_unpackhi_pd(inside_distances, inside_distances));
            }
            if (outside_lanes != 3) {
                return outside_lanes == 2;
            }
            return left < right;
        }
        std::array<double, 2> squares{};
        std::array<double, 2> roots{};
        std::array<double, 2> gaps{};
        _mm_storeu_pd(squares.data(), measured.outside2);
        _mm_storeu_pd(roots.data(), root);
        _mm_storeu_pd(gaps.data(), largest_gap);
        const int nan_lanes = _mm_movemask_pd(measured.nan);
        const auto finish = [&](index_t child) {
            if (((static_cast<unsigned>(nan_lanes) >> child) & 1U) != 0) {
                return std::numeric_limits<double>::quiet_NaN();
            }
            return finish_distance(boxes.child(child), point, squares[child], roots[child],
                                   gaps[child]);
        };
        left = finish(0);
        right = finish(1);
#else
        left = box_distance(boxes.child(0), point);
        right = box_distance(boxes.child(1), point);
#endif
        return left < right;
    }

    // `child_distances` without a branch in the common case, for the group descent, where
    // the box tests of different queries overlap and the square roots' latency is hidden:
    // there, the branches on each query's signs would be mispredicted half the time.
    static bool child_distances_flat(const ChildBoxes& boxes, const Point<D>& point, double& left,
                                     double& right) {
#if defined(__SSE2__)
        const ChildGaps gaps = child_gaps(boxes, point);
        const __m128d root = _mm_sqrt_pd(gaps.outside2);
        const __m128d outside = _mm_cmpgt_pd(gaps.largest_gap, _mm_setzero_pd());
        if (__builtin_expect(static_cast<long>(!common_case(gaps, outside)), 0) != 0) {
            return child_distances(boxes, point, left, right);
        }
        const __m128d distances = common_distances(gaps, outside, root);
        left = _mm_cvtsd_f64(distances);
        right = _mm_cvtsd_f64(_mm_unpackhi_pd(distances, distances));
        return left < right;
#else
        return child_distances(boxes, point, left, right);
#endif
    }

#if defined(__SSE2__)
    // The two children's gaps, one per lane: the sum of the squared positive gaps, the
    // largest gap, and the lanes that met a NaN.
    struct ChildGaps {
        __m128d outside2;
        __m128d largest_gap;
        __m128d nan;
    };

    static ChildGaps child_gaps(const ChildBoxes& boxes, const Point<D>& point) {
        const __m128d zero = _mm_setzero_pd();
        ChildGaps gaps{zero, _mm_set1_pd(-std::numeric_limits<double>::infinity()), zero};
        for (index_t axis = 0; axis < D; ++axis) {
            const __m128d value = _mm_set1_pd(point.value(axis));
            // Both children's bounds on this axis in one load, widened exactly to doubles.
            const __m128 bounds = _mm_loadu_ps(boxes.axes[axis].data());
            const __m128d low = _mm_cvtps_pd(bounds);
            const __m128d high = _mm_cvtps_pd(_mm_movehl_ps(bounds, bounds));
            const __m128d gap = _mm_max_pd(_mm_sub_pd(low, value), _mm_sub_pd(value, high));
            gaps.nan = _mm_or_pd(gaps.nan, _mm_cmpunord_pd(gap, gap));
            const __m128d positive = _mm_max_pd(gap, zero);
            gaps.outside2 = _mm_add_pd(gaps.outside2, _mm_mul_pd(positive, positive));
            gaps.largest_gap = _mm_max_pd(gap, gaps.largest_gap);
        }
        return gaps;
    }

    // The common case in both lanes at once: no NaN, and each box either holds the point or
    // is far enough for the square root to be exact to the bits (`finish_distance`'s safe
    // range). `outside`: the lanes whose largest gap is positive.
    static bool common_case(const ChildGaps& gaps, __m128d outside) {
        const __m128d safe = _mm_and_pd(
            _mm_cmpgt_pd(gaps.outside2, _mm_set1_pd(smallest_safe_square)),
            _mm_cmplt_pd(gaps.outside2, _mm_set1_pd(std::numeric_limits<double>::max())));
        return _mm_movemask_pd(_mm_or_pd(gaps.nan, _mm_andnot_pd(safe, outside))) == 0;
    }

    // Both distances in the common case: the square root outside, the largest gap inside
    // (plus 0 to turn -0 into +0).
    static __m128d common_distances(const ChildGaps& gaps, __m128d outside, __m128d root) {
        return _mm_or_pd(_mm_and_pd(outside, root),
                         _mm_andnot_pd(outside, _mm_add_pd(gaps.largest_gap, _mm_setzero_pd())));
    }
#endif

    // The last step of `box_distance` from the sum of the squared positive gaps, its square
    // root and the largest gap.
    static double finish_distance(const FloatBox& box, const Point<D>& point, double outside2,
                                  double root, double largest_gap) {
        const bool outside = largest_gap > 0.0;
        const bool safe =
            outside2 > smallest_safe_square && outside2 < std::numeric_limits<double>::max();
        if (static_cast<int>(outside) & static_cast<int>(!safe)) {
            return to_box(box).signed_distance(point);
        }
        // Inside: minus the distance to the nearest face, +0 on the boundary.
        return outside ? root : largest_gap + 0.0;
    }

    // Asks for the records of both children of the inner node at `inner` (covering [begin,
    // end), split at `middle`) while its own boxes are being measured: one of them is read
    // next, and which one is not known before the comparison. A prefetch never faults, so a
    // child that is a leaf (no record) costs one useless request.
    void prefetch_children([[maybe_unused]] std::size_t inner, [[maybe_unused]] index_t begin,
                           [[maybe_unused]] index_t middle) const {
        prefetch_record(inner + 1);
        prefetch_record(inner + (middle - begin));
    }

    // The leaf position reached from the root by always going to the child whose box is
    // nearer to `query` (the right one on ties), with every level recorded in `path`.
    // \pre the tree is not empty.
    [[nodiscard]] index_t greedy_descent(const Point<D>& query, Path& path) const {
        std::size_t inner = 0;
        index_t begin = 0;
        index_t end = nb_bboxes();
        unsigned depth = 0;
        while (end - begin > 1) {
            const index_t middle = begin + (end - begin) / 2;
            prefetch_children(inner, begin, middle);
            double left = 0;
            double right = 0;
            const bool go_left = child_distances(inner_[inner], query, left, right);
            Step& step = path.steps[depth++];
            if (go_left) {
                step = {left, right, inner + (middle - begin), middle, end};
                inner += 1;
                end = middle;
            } else {
                step = {right, left, inner + 1, begin, middle};
                inner += middle - begin;
                begin = middle;
            }
        }
        path.depth = depth;
        return begin;
    }

    // How many queries descend together: enough for the box tests of a level to overlap,
    // few enough for their paths to stay in the first cache levels. Groups of 256 measured 2 to
    // 3 % faster than groups of 64 in 3D, and about as much in 2D (groups of 16 were about 6 %
    // slower); in 1D, where most seeds are the answer and the searches cost little, 64 are
    // enough.
    static constexpr unsigned group_size = D == 1 ? 64 : 256;

    // From how many leaves down a visited node asks for its elements' data.
    static constexpr index_t leaf_lookahead = 4;

    // How far ahead in the given order the batch asks for the queries' coordinates.
    static constexpr std::size_t query_lookahead = 16;

    // The queries of one group, their paths, and the working order of their ids (indices into
    // `queries` and `paths`), each node's queries forming one run of it.
    struct Group {
        struct Query {
            Point<D> point;
            std::size_t index;
        };

        std::array<Query, group_size> queries;
        std::array<Path, group_size> paths;
        std::array<unsigned, group_size> ids;
        std::array<unsigned, group_size> sorted;
    };

    // The greedy descents of the group's first `count` queries, done level by level: each
    // node's queries are measured against its record in turn and split into the runs that go
    // left and right, and the records of the next level are asked for as soon as they are
    // known, while the rest of the level is measured. Each query then has its path, exactly
    // as its own descent records it, and its seed. The seeds' element data and leaf entries
    // are asked for before the searches, which then run query by query.
    template <typename PositionDistance, typename Answer>
    void descend_together(Group& group, unsigned count, const PositionDistance& distance,
                          double bound, const Answer& answer) const {
        struct Task {
            std::size_t inner;
            index_t begin;
            index_t end;
            unsigned depth;
            unsigned first;
            unsigned last;
        };

        std::array<std::array<Task, group_size>, 2> levels;
        unsigned current = 0;
        unsigned nb_tasks = 1;
        levels[0][0] = {0, 0, nb_bboxes(), 0, 0, count};
        std::array<index_t, group_size> seeds;
        while (nb_tasks > 0) {
            unsigned nb_next = 0;
            for (unsigned t = 0; t < nb_tasks; ++t) {
                const Task& task = levels[current][t];
                if (task.end - task.begin == 1) {
                    prefetch_element(distance, task.begin, false);
                    for (unsigned k = task.first; k < task.last; ++k) {
                        const unsigned id = group.ids[k];
                        group.paths[id].depth = task.depth;
                        seeds[id] = task.begin;
                    }
                    continue;
                }
                const index_t middle = task.begin + (task.end - task.begin) / 2;
                const ChildBoxes& boxes = inner_[task.inner];
                unsigned lefts = 0;
                unsigned rights = 0;
                for (unsigned k = task.first; k < task.last; ++k) {
                    const unsigned id = group.ids[k];
                    double left = 0;
                    double right = 0;
                    const bool go_left =
                        child_distances_flat(boxes, group.queries[id].point, left, right);
                    Step& step = group.paths[id].steps[task.depth];
                    step.first = go_left ? left : right;
                    step.second = go_left ? right : left;
                    step.sibling_inner =
                        go_left ? task.inner + (middle - task.begin) : task.inner + 1;
                    step.sibling_begin = go_left ? middle : task.begin;
                    step.sibling_end = go_left ? task.end : middle;
                    group.sorted[go_left ? task.first + lefts : task.last - 1 - rights] = id;
                    lefts += go_left ? 1 : 0;
                    rights += go_left ? 0 : 1;
                }
                std::copy(group.sorted.begin() + task.first, group.sorted.begin() + task.last,
                          group.ids.begin() + task.first);
                Task* next = levels[1 - current].data();
                if (lefts > 0) {
                    next[nb_next++] = {task.inner + 1, task.begin, middle,
                                       task.depth + 1, task.first, task.first + lefts};
                    prefetch_record(task.inner + 1);
                }
                if (rights > 0) {
                    next[nb_next++] = {task.inner + (middle - task.begin),
                                       middle,
                                       task.end,
                                       task.depth + 1,
                                       task.first + lefts,
                                       task.last};
                    prefetch_record(task.inner + (middle - task.begin));
                }
            }
            current = 1 - current;
            nb_tasks = nb_next;
        }
        for (unsigned id = 0; id < count; ++id) {
            prefetch_element(distance, seeds[id], true);
#if defined(__GNUC__)
            // The answer's leaf entry, near the seed's, is read when the answer is given.
            __builtin_prefetch(leaves_.data() + seeds[id]);
#endif
        }
        for (unsigned id = 0; id < count; ++id) {
            const Point<D>& query = group.queries[id].point;
            const index_t seed = seeds[id];
            const double seed_distance = read_distance(distance(query, seed));
            Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
            visit_off_path<true, true>(query, distance, group.paths[id], nearest);
            answer(group.queries[id].index, nearest.element, nearest.distance);
        }
    }

    template <typename Distance, typename = void>
    struct HasPrefetch : std::false_type {};

    template <typename Distance>
    struct HasPrefetch<Distance, std::void_t<decltype(std::declval<const Distance&>().prefetch(
                                     index_t{}, bool{}))>> : std::true_type {};

    // The distance's own prefetch of an element's data, when it has one.
    template <typename Distance>
    static void prefetch_element([[maybe_unused]] const Distance& distance,
                                 [[maybe_unused]] index_t position, [[maybe_unused]] bool late) {
        if constexpr (HasPrefetch<Distance>::value) {
            distance.prefetch(position, late);
        }
    }

    // Asks for the record at `inner`: its one cache line, or in 3D the two it may straddle.
    void prefetch_record([[maybe_unused]] std::size_t inner) const {
#if defined(__GNUC__)
        const auto* record = reinterpret_cast<const char*>(inner_.get() + inner);
        __builtin_prefetch(record);
        if constexpr (sizeof(ChildBoxes) % 64 != 0 && 64 % sizeof(ChildBoxes) != 0) {
            __builtin_prefetch(record + sizeof(ChildBoxes) - 1);
        }
#endif
    }

    // The depth-first search from the root, after the greedy descent recorded in `path`.
    // At every inner node the search visits first the child with the smaller box distance,
    // the right one on ties, which is the child that the descent took: so the search first
    // walks down the descent's own path, with the same box distances and, as no leaf is met on
    // the way, the same limit, to the seed, which cannot replace itself. That walk is skipped
    // here: the search starts with the siblings of the path, deepest first, each visited if
    // its distance is below the limit of that moment, as the recursion would on its way back.
    // Where the path's own child is not below the limit, the search would not have gone
    // deeper: only the siblings from that level up are visited.
    // With `Positions`, elements are named by their leaf positions (see
    // `closest_position_within`).
    template <bool StopAtZero, bool Positions, typename ElementDistance>
    void visit_off_path(const Point<D>& query, const ElementDistance& distance, const Path& path,
                        Nearest& nearest) const {
        // A seed at distance 0 ends the search at once (the loop below would return on its
        // first level): the levels need not even be read.
        if (StopAtZero && !(nearest.limit > 0)) {
            return;
        }
        unsigned levels = path.depth;
        for (unsigned level = 0; level < path.depth; ++level) {
            if (!(path.steps[level].first < nearest.limit)) {
                levels = level + 1;
                break;
            }
        }
        for (unsigned level = levels; level-- > 0;) {
            if (StopAtZero && !(nearest.limit > 0)) {
                return;
            }
            const Step& step = path.steps[level];
            if (step.second < nearest.limit) {
                if (step.sibling_end - step.sibling_begin == 1) {
                    visit_leaf<Positions>(query, distance, step.sibling_begin, nearest);
                } else {
                    visit_inner<StopAtZero, Positions>(query, distance, step.sibling_inner,
                                                       step.sibling_begin, step.sibling_end,
                                                       nearest);
                }
            }
        }
    }

    template <bool Positions, typename ElementDistance>
    void visit_leaf(const Point<D>& query, const ElementDistance& distance, index_t position,
                    Nearest& nearest) const {
        const index_t element = Positions ? position : leaves_[position];
        const double element_distance = read_distance(distance(query, element));
        if (element_distance < nearest.limit) {
            nearest = {element, element_distance, element_distance};
        }
    }

    // Visits the inner node at pre-order index `inner` covering [begin, end) (end - begin > 1);
    // the caller has checked its box distance against the current limit.
    template <bool StopAtZero, bool Positions, typename ElementDistance>
    void visit_inner(const Point<D>& query, const ElementDistance& distance, std::size_t inner,
                     index_t begin, index_t end, Nearest& nearest) const {
        if (StopAtZero && !(nearest.limit > 0)) {
            return;
        }
        const index_t middle = begin + (end - begin) / 2;
        prefetch_children(inner, begin, middle);
        if constexpr (Positions) {
            // Near the leaves, the elements' own data (in leaf order, so one or two cache
            // lines) is asked for while the boxes above them are measured.
            if (end - begin <= leaf_lookahead) {
                prefetch_element(distance, begin, false);
                prefetch_element(distance, end - 1, false);
            }
        }
        double left_distance = 0;
        double right_distance = 0;
        const bool left_first =
            child_distances(inner_[inner], query, left_distance, right_distance);
        const double first_distance = left_first ? left_distance : right_distance;
        const double second_distance = left_first ? right_distance : left_distance;
        if (first_distance < nearest.limit) {
            visit_child<StopAtZero, Positions>(query, distance, inner, begin, middle, end,
                                               left_first, nearest);
        }
        if (StopAtZero && !(nearest.limit > 0)) {
            return;
        }
        if (second_distance < nearest.limit) {
            visit_child<StopAtZero, Positions>(query, distance, inner, begin, middle, end,
                                               !left_first, nearest);
        }
    }

    template <bool StopAtZero, bool Positions, typename ElementDistance>
    void visit_child(const Point<D>& query, const ElementDistance& distance, std::size_t inner,
                     index_t begin, index_t middle, index_t end, bool left,
                     Nearest& nearest) const {
        if (left) {
            if (middle - begin == 1) {
                visit_leaf<Positions>(query, distance, begin, nearest);
            } else {
                visit_inner<StopAtZero, Positions>(query, distance, inner + 1, begin, middle,
                                                   nearest);
            }
        } else if (end - middle == 1) {
            visit_leaf<Positions>(query, distance, middle, nearest);
        } else {
            visit_inner<StopAtZero, Positions>(query, distance, inner + (middle - begin), middle,
                                               end, nearest);
        }
    }

    FloatBox root_{empty_float_box()};
    // One record per inner node (n - 1 of them), in depth-first pre-order.
    std::unique_ptr<ChildBoxes[]> inner_;
    std::vector<index_t> leaves_;

    static FloatBox empty_float_box() {
        FloatBox box;
        for (index_t axis = 0; axis < D; ++axis) {
            box.min[axis] = std::numeric_limits<float>::infinity();
            box.max[axis] = -std::numeric_limits<float>::infinity();
        }
        return box;
    }
};

extern template class CompactAABBTree<1>;
extern template class CompactAABBTree<2>;
extern template class CompactAABBTree<3>;

}  // namespace orvex
