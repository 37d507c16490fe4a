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

#include "polvane/basic/assert.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/detail/float_box.h"
#include "polvane/geometry/export.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A static axis-aligned bounding-box tree over n elements (D = 1, 2 or 3), built for large
/// meshes: built in linear time, its boxes stored in single precision.
///
/// Layout. The tree keeps a leaf order, a permutation of the n element indices: leaf[i] is the
/// element at leaf position i. Nodes are addressed by node number:
/// - node 1 is the root and covers the leaf positions [0, n);
/// - a node k covering [b, e) with e > b + 1 has the children 2k, covering [b, m), and
///   2k + 1, covering [m, e), where m = b + (e - b) / 2 (unsigned integer halving);
/// - a node with e = b + 1 is a leaf and stands for the element leaf[b].
/// Each node's box contains the boxes of all the elements under it, and its
/// `BoundingBox::signed_distance` to a point is what the queries compare with element
/// distances.
///
/// Leaf order. The elements are sorted along a Hilbert curve of their box centres, quantised
/// on the bounding box of all the finite coordinates (8 bits per axis in 3D, 12 in 2D, 32 in
/// 1D); a run of more than 32 elements in one curve cell is sorted again on the bounding box
/// of its own centres, and so on, so that graded meshes keep a fine order. Wherever a frame
/// would leave 7/8 of its elements in one cell (a few far-away elements squeezing the others
/// together), a frame robust to them is taken instead: the range of the centres within the
/// middle quantiles' window, the far ones falling into its edge cells. Equal keys keep the
/// element order. A NaN centre coordinate reads as 0 and an infinite one as the nearest side
/// of the frame; any order gives a correct tree, so odd centres only cost speed. Splitting
/// the sorted sequence by the halving rule gives every node a compact run of the curve; the
/// Hilbert curve, unlike the Z-order one, never jumps, so such a run is a compact region,
/// which is what a median split gives at a much higher price. (The order is computed in
/// `src/curve_order.h`.)
///
/// Boxes. Boxes are stored in single precision, in a frame of their own: relative to an origin
/// inside the bulk of the elements and scaled by a power of two to their extent, where the
/// mesh lies far from the world's origin or at an extreme scale (otherwise as they are), so
/// that single precision keeps its resolution wherever the mesh lies (a mesh at UTM
/// coordinates, 1e7 from the origin, keeps boxes as tight as at the origin; one scaled by
/// 1e300 keeps finite boxes). Each bound is rounded outward, so a stored box contains its
/// elements exactly, and a query point is measured against it in the frame's coordinates
/// (exactly so near the mesh), the distance scaled back: `signed_distance` of the stored box,
/// a lower bound of the distance to its elements. Finite bounds beyond the float range become
/// infinite on their outer side. The two children of an inner node are stored side by side
/// (one record of 2 boxes per inner node, interleaved by axis, in depth-first pre-order), so
/// that the two box tests of a level read one record, one axis per load (the records, their
/// frame and their distance kernels are in `polvane/geometry/detail/float_box.h`). Storage:
/// 16 D (n - 1) + 4 n bytes plus a few dozen.
///
/// Queries. `closest_element` finds the element nearest to a point: a greedy descent from the
/// root, always to the child whose box is nearer (the right one on ties), seeds the bound
/// with the leaf it reaches; a depth-first search of the whole tree then visits at every inner
/// node the nearer child first (the right one on ties), each child only if its box distance is
/// below the best element distance of that moment, comparisons strict. The bounded and batch
/// variants give the same answers with less work.
///
/// The tree is movable and not copyable. All const operations are safe to call from many
/// threads at once.
template <index_t D>
class POLVANE_GEOMETRY_EXPORT AABBTree {
    using FloatBox = detail::FloatBox<D>;
    using ChildBoxes = detail::ChildBoxes<D>;
    using Kernels = detail::BoxDistance<D>;

public:
    /// The empty tree (n = 0).
    AABBTree() = default;

    /// Builds the tree over `element_boxes`; element i is the one whose box is
    /// element_boxes[i].
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more boxes than
    /// `index_t` can number.
    explicit AABBTree(absl::Span<const BoundingBox<D>> element_boxes);

    /// Builds the tree over simplices given by their D + 1 vertex indices into `points`; the
    /// box of element i is the bounding box of its vertices (NaN coordinates ignored axis by
    /// axis, as `BoundingBox::add_point` does). No box array is materialised.
    /// \pre every vertex index is below points.size().
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more elements than
    /// `index_t` can number.
    AABBTree(absl::Span<const Point<D>> points,
             absl::Span<const std::array<index_t, D + 1>> elements);

    /// Builds the tree over simplices that are already in leaf order: ordered_elements[i] is
    /// the simplex at leaf position i, named by the element index leaves[i] (what
    /// `leaf_element(i)` answers), or nothing when leaves[i] is NO_ID (an empty position, left
    /// for updates: see `prepare_update`; its simplex is not read). With the `leaf_order` of the
    /// same simplices in another numbering, this gives the tree that the constructor above builds
    /// over them, with the element data of neighbouring leaves side by side in memory; the boxes
    /// are computed in sequence. \pre every vertex index is below points.size(). \throw
    /// PolvaneException "[AABBTree] ..." when leaves.size() differs from ordered_elements.size(),
    /// and "[Range] Invalid range: ..." when there are more elements than `index_t` can number.
    AABBTree(absl::Span<const Point<D>> points,
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
    AABBTree(AABBTree&& other) noexcept { *this = std::move(other); }

    /// Takes over the other tree, which is left empty.
    AABBTree& operator=(AABBTree&& other) noexcept;
    /// Not copyable: a tree can be large.
    AABBTree(const AABBTree&) = delete;
    /// Not copyable: a tree can be large.
    AABBTree& operator=(const AABBTree&) = delete;
    /// Releases the boxes and the leaf order.
    ~AABBTree() = default;

    /// The number n of elements.
    [[nodiscard]] index_t nb_bboxes() const { return nb_elements_; }

    /// The number of leaf positions: n for a tree as built, more once updates have left some
    /// of them empty (see `prepare_update`). The layout's ranges are ranges of positions.
    [[nodiscard]] index_t nb_positions() const { return static_cast<index_t>(leaves_.size()); }

    /// The element at leaf position `position` (< `nb_positions()`); NO_ID for an empty
    /// position.
    [[nodiscard]] index_t leaf_element(index_t position) const {
        POLVANE_DEBUG_ASSERT(position < leaves_.size(), "[AABBTree::leaf_element] Position ",
                             position, " is not below the number of leaves (", leaves_.size(), ")");
        return leaves_[position];
    }

    /// The whole leaf order.
    [[nodiscard]] absl::Span<const index_t> leaf_order() const { return leaves_; }

    /// The stored box of the root (the union of all element boxes, rounded outward), in world
    /// coordinates (rounded outward again); an empty box when n = 0.
    [[nodiscard]] BoundingBox<D> root_box() const { return frame_.world(root_); }

    /// The stored box of node number `node` (1 for the root), in world coordinates: exactly the
    /// single-precision bounds where the boxes are stored as they are, else rounded outward.
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

    /// The element nearest to `query` and its distance, with `distance(query, element)` (a
    /// callable returning a double, the distance from the point to an element, 0 inside) and
    /// the node boxes' `signed_distance` as lower bounds:
    /// 1. n = 0 gives (NO_ID, +infinity).
    /// 2. Seed by a greedy descent from the root: at each inner node go to the child whose box
    ///    has the smaller signed distance, to the right on ties; nearest = the leaf reached,
    ///    best = its distance.
    /// 3. Depth-first search of the whole tree from the root, comparisons strict: at a leaf c,
    ///    if distance(query, c) < best then (nearest, best) = (c, that distance), so on ties
    ///    the element found first stays; at an inner node both children's box distances dl
    ///    and dr are computed before either is visited; the nearer child (the right one on
    ///    ties) is visited first if its box distance < best, then the other if its box
    ///    distance < best, reading best again after the first visit. No early stop at 0.
    /// 4. Returns (nearest, best).
    /// A NaN element distance counts as farther than any number: it is read as +infinity, so
    /// any real distance found later replaces it. A query with a NaN coordinate gives NaN box
    /// distances, which prune every subtree: the result is (seed, its distance or +infinity),
    /// never a small distance unless the element distance itself returns one.
    /// Allocates nothing; the search's recursion depth is at most the tree depth.
    template <typename ElementDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_element(
        const Point<D>& query, const ElementDistance& distance) const {
        const index_t n = nb_bboxes();
        if (n == 0) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        const Located located{query, frame_.local(query)};
        Path path;
        const index_t seed = leaves_[greedy_descent(located, path)];
        const double seed_distance = measure_seed(distance, query, seed, seed, kInfinity);
        Nearest nearest{seed, seed_distance, seed_distance};
        visit_off_path<false, false>(located, distance, path, nearest);
        return {nearest.element, nearest.distance};
    }

    /// The answer of `closest_element` whenever its distance is below `bound`, found with less
    /// work; otherwise an element whose distance is not below `bound` (or (NO_ID, +infinity)).
    /// The same greedy seed and the same depth-first order, with three shortcuts that change no
    /// answer below `bound`:
    /// - a query whose distance to the root box is `bound` or more returns (NO_ID, +infinity)
    ///   at once (every element is at least that far);
    /// - subtrees are pruned against min(best, bound) rather than best: an element at `bound`
    ///   or more could only replace the seed by another element that is not below `bound`;
    /// - the search stops as soon as best is 0: distances are never negative and ties keep the
    ///   element found first, so nothing found later could replace it.
    /// A caller that accepts only distances up to a tolerance passes the next double above it.
    template <typename ElementDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_element_within(
        const Point<D>& query, const ElementDistance& distance, double bound) const {
        const index_t n = nb_bboxes();
        const Located located{query, frame_.local(query)};
        if (n == 0 || Kernels::box_distance(root_, located.local, frame_.inverse) >= bound) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        Path path;
        const index_t seed = leaves_[greedy_descent(located, path)];
        const double seed_distance = measure_seed(distance, query, seed, seed, bound);
        Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
        visit_off_path<true, false>(located, distance, path, nearest);
        return {nearest.element, nearest.distance};
    }

    /// `closest_element_within` with elements named by their leaf positions: `distance` is
    /// called as distance(query, position) for the element at leaf position `position`, and
    /// the result names the nearest element by its position (leaf_element(position) is the
    /// element). Made for callers that keep their element data in leaf order, where the
    /// elements met by one query lie side by side in memory. NO_ID when the answer is
    /// (NO_ID, +infinity).
    ///
    /// The bounded searches (this one, `closest_element_within` and the batch) call
    /// `distance.bounded(query, element, limit)` instead when the distance has such a member:
    /// it must return the element's distance when that is below `limit`, and otherwise any
    /// value not below `limit` (an element that cannot replace the nearest one need not be
    /// measured exactly). The answers are those of the plain distance.
    template <typename PositionDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_position_within(
        const Point<D>& query, const PositionDistance& distance, double bound) const {
        const index_t n = nb_bboxes();
        const Located located{query, frame_.local(query)};
        if (n == 0 || Kernels::box_distance(root_, located.local, frame_.inverse) >= bound) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        Path path;
        const index_t seed = greedy_descent(located, path);
        const double seed_distance = measure_seed(distance, query, leaves_[seed], seed, bound);
        Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
        visit_off_path<true, true>(located, distance, path, nearest);
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
                const Located located{query, frame_.local(query)};
                if (n == 0
                    || Kernels::box_distance(root_, located.local, frame_.inverse) >= bound) {
                    answer(index, NO_ID, std::numeric_limits<double>::infinity());
                } else {
                    group->queries[count] = {located, index};
                    group->ids[count] = count;
                    ++count;
                }
            }
            if (count > 0) {
                descend_together(*group, count, distance, bound, answer);
            }
        }
    }

    /// Calls `action(element)` for every element whose box intersects `box` (closed boxes,
    /// touching counts: the stored boxes, rounded outward, may report a few more), in leaf
    /// order.
    template <typename Action>
    void for_each_box_intersecting(const BoundingBox<D>& box, const Action& action) const {
        if (leaves_.empty()) {
            return;
        }
        Point<D> low;
        Point<D> high;
        for (index_t axis = 0; axis < D; ++axis) {
            low.set_value(axis, frame_.local_bound(axis, box.min().value(axis), false));
            high.set_value(axis, frame_.local_bound(axis, box.max().value(axis), true));
        }
        visit_intersecting(BoundingBox<D>{low, high}, action, root_, 0, 0, nb_positions());
    }

    /// \name Following changes of the elements
    /// A caller that keeps its element data in leaf order beside the tree (see
    /// `closest_position_within`) can bring the tree up to date with changes of its elements
    /// instead of building it again, at the cost of the change. The tree then gets empty leaf
    /// positions, so that new elements find room near where they lie: `leaf_element` answers
    /// NO_ID there, their boxes are empty and no query ever measures them. Every box stays the
    /// exact union of the boxes under it, and the queries keep their algorithm over the
    /// updated layout (which is not the one a new build would give: answers are the same up to
    /// the choice among elements at equal distance).
    ///
    /// An update is two steps. `prepare_update` allocates everything the update needs and may
    /// throw; it changes nothing a query sees, and `cancel_update` forgets it. The steps that
    /// follow, in this order, never allocate and never throw: `renumber`, `refit`, then one
    /// `insert` per new element. Like a build, they need exclusive access to the tree.
    /// @{

    /// The caller's element data in leaf order, through which the tree measures and moves the
    /// elements of an update.
    class LeafData {
    public:
        /// The box of the element at leaf position `position` (never an empty one).
        [[nodiscard]] virtual BoundingBox<D> box(index_t position) const = 0;
        /// The element at `from` moves to the empty position `to`; `from` is empty next.
        virtual void move(index_t from, index_t to) = 0;
        /// The new element `element` is laid at the empty position `position`.
        virtual void place(index_t element, index_t position) = 0;
        /// There are `nb_positions` positions from now on (never fewer than before): the caller's
        /// data grows to that many, within what it reserved after `prepare_update`.
        virtual void resize(index_t nb_positions) = 0;

        /// A hint that `box(position)` is asked for soon: a first time (`late` false), then a
        /// second once what the first asked for has had time to arrive (data reached through
        /// indices can be asked for in two rounds). It must only ask for memory.
        virtual void prefetch(index_t /*position*/, bool /*late*/) const {}

    protected:
        ~LeafData() = default;
    };

    /// The first step of an update to `nb_elements` elements: the elements are renumbered by
    /// `old2new` (old index to new, NO_ID for one that goes; empty: no renumbering), then
    /// `insertions` new elements are inserted. Allocates the element-to-position map, the list
    /// of the positions that the renumbering empties and, when the tree is too full for the
    /// insertions, a larger layout. Returns the number of leaf positions after the update:
    /// the caller reserves its leaf data for that many before the next steps.
    /// \pre old2new is empty or has one entry per element, its other entries distinct and
    /// below nb_elements; the insertions are the elements of the new numbering that old2new
    /// does not reach.
    index_t prepare_update(absl::Span<const index_t> old2new, index_t nb_elements,
                           index_t insertions);

    /// The positions the prepared renumbering empties, in increasing order.
    [[nodiscard]] absl::Span<const index_t> emptied_positions() const {
        return emptied_;
    }

    /// The leaf position of `element` in the new numbering of the prepared update (NO_ID for a
    /// new element); valid from `prepare_update` until the next one.
    [[nodiscard]] index_t element_position(index_t element) const;

    /// Forgets a prepared update that will not be applied.
    void cancel_update() noexcept;

    /// Applies the prepared renumbering: the positions of the elements that go become empty
    /// (their boxes are refitted by the next step, which the caller gives them to).
    void renumber() noexcept;

    /// Recomputes the boxes of the leaves at `positions` (increasing, without repetition)
    /// from `data`, and grows the boxes above them as far as they must to hold them (boxes
    /// above never shrink here: one larger than its elements is still a lower bound of their
    /// distances; it shrinks back when its subtree is laid out again).
    void refit(absl::Span<const index_t> positions, const LeafData& data) noexcept;

    /// Inserts the new element `element` (of the new numbering), whose box is `box`: it takes
    /// an empty position of the smallest subtree (of up to 1024 positions) around `near`, the
    /// position of an element that lies beside it (NO_ID when the caller knows none: then the
    /// leaf reached by always going to the subtree whose box grows least to take it in);
    /// otherwise the smallest subtree around that leaf that has room is laid out again, its
    /// elements evenly spread, the new one right after that leaf.
    void insert(index_t element, const BoundingBox<D>& box, index_t near, LeafData& data) noexcept;

    /// Calls `action(position)` for every non-empty leaf position whose stored box contains
    /// `point` (closed boxes; a NaN coordinate is contained on its axis), in leaf order.
    template <typename Action>
    void for_each_position_containing(const Point<D>& point, const Action& action) const {
        if (nb_elements_ > 0) {
            visit_containing(frame_.local(point), action, root_, 0, 0, nb_positions());
        }
    }

    /// @}

private:
    template <typename Source>
    void build(const Source& source, std::size_t size);

    // The inner records and the root from the rounded boxes of the leaves: leaf_box(i) is the
    // one at leaf position i, asked once per position, in increasing order.
    // \pre !leaves.empty().
    template <typename LeafBox>
    void build_nodes(const LeafBox& leaf_box, std::vector<index_t> leaves);

    // A query point and the same point in the frame of the stored boxes: elements are measured
    // from the first, boxes from the second.
    struct Located {
        Point<D> point;
        Point<D> local;
    };

    struct Nearest {
        index_t element;
        double distance;
        // What a subtree's box or an element must be strictly below to be visited or to
        // replace `element`.
        double limit;
    };

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
    [[nodiscard]] index_t greedy_descent(const Located& query, Path& path) const {
        std::size_t inner = 0;
        index_t begin = 0;
        index_t end = nb_positions();
        unsigned depth = 0;
        while (end - begin > 1) {
            const index_t middle = begin + (end - begin) / 2;
            prefetch_children(inner, begin, middle);
            double left = 0;
            double right = 0;
            const bool go_left =
                Kernels::child_distances(inner_[inner], query.local, frame_.inverse, left, right);
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
            Located located;
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
        levels[0][0] = {0, 0, nb_positions(), 0, 0, count};
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
                    const bool go_left = Kernels::child_distances_flat(
                        boxes, group.queries[id].located.local, frame_.inverse, left, right);
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
            const Located& query = group.queries[id].located;
            const index_t seed = seeds[id];
            const double seed_distance =
                measure_seed(distance, query.point, leaves_[seed], seed, bound);
            Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
            visit_off_path<true, true>(query, distance, group.paths[id], nearest);
            answer(group.queries[id].index, nearest.element, nearest.distance);
        }
    }

    template <typename Distance, typename = void>
    struct HasBounded : std::false_type {};

    template <typename Distance>
    struct HasBounded<Distance, std::void_t<decltype(std::declval<const Distance&>().bounded(
                                    std::declval<const Point<D>&>(), index_t{}, double{}))>>
        : std::true_type {};

    static constexpr double kInfinity = std::numeric_limits<double>::infinity();

    // The seed's distance, +infinity at an empty position (`element` is NO_ID there), else
    // the distance to `measured` (the element, or its position).
    template <typename Distance>
    static double measure_seed(const Distance& distance, const Point<D>& point, index_t element,
                               index_t measured, double limit) {
        if (element == NO_ID) {
            return kInfinity;
        }
        return Kernels::read_distance(measure(distance, point, measured, limit));
    }

    // The element distance, through the distance's `bounded` when it has one.
    template <typename Distance>
    static double measure(const Distance& distance, const Point<D>& point, index_t element,
                          double limit) {
        if constexpr (HasBounded<Distance>::value) {
            return distance.bounded(point, element, limit);
        } else {
            return distance(point, element);
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
    void visit_off_path(const Located& query, const ElementDistance& distance, const Path& path,
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
    void visit_leaf(const Located& query, const ElementDistance& distance, index_t position,
                    Nearest& nearest) const {
        const index_t element = Positions ? position : leaves_[position];
        const double element_distance =
            Kernels::read_distance(measure(distance, query.point, element, nearest.limit));
        if (element_distance < nearest.limit) {
            nearest = {element, element_distance, element_distance};
        }
    }

    // Visits the inner node at pre-order index `inner` covering [begin, end) (end - begin > 1);
    // the caller has checked its box distance against the current limit.
    template <bool StopAtZero, bool Positions, typename ElementDistance>
    void visit_inner(const Located& query, const ElementDistance& distance, std::size_t inner,
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
        const bool left_first = Kernels::child_distances(inner_[inner], query.local, frame_.inverse,
                                                         left_distance, right_distance);
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
    void visit_child(const Located& query, const ElementDistance& distance, std::size_t inner,
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

    // Visits the node covering [begin, end) whose box is `box` and whose record, if inner, is
    // at `inner`.
    template <typename Action>
    void visit_intersecting(const BoundingBox<D>& window, const Action& action, const FloatBox& box,
                            std::size_t inner, index_t begin, index_t end) const {
        if (!box.to_box().intersects(window)) {
            return;
        }
        if (end - begin == 1) {
            if (leaves_[begin] != NO_ID) {
                action(leaves_[begin]);
            }
            return;
        }
        const index_t middle = begin + (end - begin) / 2;
        const ChildBoxes& children = inner_[inner];
        visit_intersecting(window, action, children.child(0), inner + 1, begin, middle);
        visit_intersecting(window, action, children.child(1), inner + (middle - begin), middle,
                           end);
    }

    // Visits the node covering [begin, end) whose box is `box` for
    // `for_each_position_containing`, `local` being the point in the frame's coordinates.
    template <typename Action>
    void visit_containing(const Point<D>& local, const Action& action, const FloatBox& box,
                          std::size_t inner, index_t begin, index_t end) const {
        for (index_t axis = 0; axis < D; ++axis) {
            const double value = local.value(axis);
            if (value < static_cast<double>(box.min[axis])
                || value > static_cast<double>(box.max[axis])) {
                return;
            }
        }
        if (end - begin == 1) {
            if (leaves_[begin] != NO_ID) {
                action(begin);
            }
            return;
        }
        const index_t middle = begin + (end - begin) / 2;
        const ChildBoxes& children = inner_[inner];
        visit_containing(local, action, children.child(0), inner + 1, begin, middle);
        visit_containing(local, action, children.child(1), inner + (middle - begin), middle, end);
    }

    // The update steps' helpers (src/aabb_tree_update.cpp).
    FloatBox leaf_box(index_t position, const LeafData& data) const;
    FloatBox rebuild_node(ChildBoxes* records, std::size_t inner, index_t begin, index_t end,
                          const LeafData& data) const;
    void grow(LeafData& data) noexcept;
    void spread(index_t begin, index_t end, index_t after, index_t element,
                LeafData& data) noexcept;
    [[nodiscard]] index_t empty_position_in(index_t begin, index_t end, index_t near) const;
    [[nodiscard]] index_t insertion_position(const FloatBox& box) const;

    detail::BoxFrame<D> frame_;
    FloatBox root_{FloatBox::empty()};
    index_t nb_elements_ = 0;
    // One record per inner node (n - 1 of them), in depth-first pre-order.
    std::unique_ptr<ChildBoxes[]> inner_;
    std::vector<index_t> leaves_;
    // From the first update on: the leaf position of every element (NO_ID: none).
    std::vector<index_t> positions_;
    // A prepared update: the new element-to-position map (when a renumbering makes one), the
    // positions it empties, and the records of a larger layout with its number of positions.
    std::vector<index_t> new_positions_;
    std::vector<index_t> emptied_;
    std::unique_ptr<ChildBoxes[]> grown_inner_;
    std::unique_ptr<FloatBox[]> grown_boxes_;
    index_t grown_size_ = 0;
    index_t new_nb_elements_ = 0;
    bool renumbering_ = false;
};

extern template class AABBTree<1>;
extern template class AABBTree<2>;
extern template class AABBTree<3>;

using AABBTree1D = AABBTree<1>;
using AABBTree2D = AABBTree<2>;
using AABBTree3D = AABBTree<3>;

}  // namespace orvex
