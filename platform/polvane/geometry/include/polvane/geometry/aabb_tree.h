#pragma once

#include <absl/types/span.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <tuple>
#include <vector>

#include "polvane/basic/assert.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/export.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A static axis-aligned bounding-box tree over n element boxes (D = 1, 2 or 3).
///
/// Layout. The tree keeps a leaf order, a permutation of the n element indices: leaf[i] is
/// the element at leaf position i. Nodes are addressed by node number:
/// - node 1 is the root and covers the leaf positions [0, n);
/// - a node k covering [b, e) with e > b + 1 has the children 2k, covering [b, m), and
///   2k + 1, covering [m, e), where m = b + (e - b) / 2 (unsigned integer halving);
/// - a node with e = b + 1 is a leaf and stands for the element leaf[b].
/// A node's box contains the boxes of all the elements under it (it is their union).
///
/// Storage. The node number is a logical address only: the boxes are stored contiguously in
/// depth-first pre-order, 2n - 1 of them, with no unused slot. The root is at slot 0; a node
/// at slot s covering [b, e) has its left child at s + 1 and its right child at
/// s + 2 (m - b), since the left subtree holds 2 (m - b) - 1 nodes. `node_slot` turns a node
/// number into its slot in constant time.
///
/// Build. Recursive median split: the element boxes' centres of a node are split at position
/// m along the widest axis of their own bounding box (the first axis on ties), so that the
/// left child gets the m - b smallest. Elements whose box centre is undefined (an empty box,
/// or one with infinite bounds on both sides) are placed as if that centre coordinate were 0;
/// the tree stays correct whatever the placement.
///
/// The tree is movable and not copyable (it can be large). All const operations are safe to
/// call from many threads at once.
template <index_t D>
class POLVANE_GEOMETRY_EXPORT AABBTree {
public:
    /// The empty tree (n = 0).
    AABBTree() = default;

    /// Builds the tree over `element_boxes`; element i is the one whose box is
    /// element_boxes[i].
    /// \throw PolvaneException "[Range] Invalid range: ..." when there are more boxes than
    /// `index_t` can number.
    explicit AABBTree(absl::Span<const BoundingBox<D>> element_boxes);

    AABBTree(AABBTree&&) noexcept = default;
    AABBTree& operator=(AABBTree&&) noexcept = default;
    AABBTree(const AABBTree&) = delete;
    AABBTree& operator=(const AABBTree&) = delete;
    ~AABBTree() = default;

    /// The number n of elements (leaves).
    [[nodiscard]] index_t nb_bboxes() const { return static_cast<index_t>(leaves_.size()); }

    /// The number of stored node boxes: 2n - 1, or 0 when n = 0.
    [[nodiscard]] std::size_t nb_stored_boxes() const { return boxes_.size(); }

    /// The element at leaf position `position` (< n).
    [[nodiscard]] index_t leaf_element(index_t position) const {
        POLVANE_DEBUG_ASSERT(position < leaves_.size(), "[AABBTree::leaf_element] Position ",
                             position, " is not below the number of leaves (", leaves_.size(), ")");
        return leaves_[position];
    }

    /// The whole leaf order.
    [[nodiscard]] absl::Span<const index_t> leaf_order() const { return leaves_; }

    /// The union of all element boxes; an empty box when n = 0.
    [[nodiscard]] BoundingBox<D> root_box() const {
        return boxes_.empty() ? BoundingBox<D>{} : boxes_.front();
    }

    /// The box stored at pre-order slot `slot` (< `nb_stored_boxes()`).
    [[nodiscard]] const BoundingBox<D>& slot_box(std::size_t slot) const {
        POLVANE_DEBUG_ASSERT(slot < boxes_.size(), "[AABBTree::slot_box] Slot ", slot,
                             " is not below the number of stored boxes (", boxes_.size(), ")");
        return boxes_[slot];
    }

    /// The box of node number `node` whose range starts at leaf position `begin`.
    /// \pre (node, begin) is a node of this tree, reached from the root by the halving rule.
    [[nodiscard]] const BoundingBox<D>& node_box(std::size_t node, index_t begin) const {
        return slot_box(node_slot(node, begin));
    }

    /// The pre-order slot of node number `node` whose range starts at `begin`:
    /// 2 begin + (number of left turns from the root). Each node before it in pre-order is an
    /// ancestor (one per level) or lies in a subtree entirely to its left; those subtrees
    /// cover the `begin` first leaves with 2 begin - (their count) nodes, and there is one
    /// such subtree per right turn.
    [[nodiscard]] static std::size_t node_slot(std::size_t node, index_t begin) {
        std::size_t depth = 0;
        std::size_t right_turns = 0;
        for (std::size_t k = node; k > 1; k >>= 1U) {
            ++depth;
            right_turns += k & 1U;
        }
        return 2 * static_cast<std::size_t>(begin) + depth - right_turns;
    }

    /// The heap memory held by the tree plus the object itself, in bytes.
    [[nodiscard]] std::size_t memory_bytes() const;

    /// The element nearest to `query` and its distance, with `distance(query, element)` (a
    /// callable returning a double, the distance from the point to an element, 0 inside)
    /// and the node boxes' `signed_distance` as lower bounds:
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
    /// Allocates nothing; recursion depth is at most the tree depth (⌈log2 n⌉ + 1).
    template <typename ElementDistance>
    [[nodiscard]] std::tuple<index_t, double> closest_element(
        const Point<D>& query, const ElementDistance& distance) const {
        const index_t n = nb_bboxes();
        if (n == 0) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        const index_t seed = leaves_[greedy_seed_position(query)];
        const double seed_distance = read_distance(distance(query, seed));
        Nearest nearest{seed, seed_distance, seed_distance};
        visit_closest<false>(query, distance, 0, 0, n, nearest);
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
        if (n == 0 || boxes_.front().signed_distance(query) >= bound) {
            return {NO_ID, std::numeric_limits<double>::infinity()};
        }
        const index_t seed = leaves_[greedy_seed_position(query)];
        const double seed_distance = read_distance(distance(query, seed));
        Nearest nearest{seed, seed_distance, std::min(seed_distance, bound)};
        visit_closest<true>(query, distance, 0, 0, n, nearest);
        return {nearest.element, nearest.distance};
    }

    /// Calls `action(element)` for every element whose box intersects `box` (closed boxes),
    /// in leaf order.
    template <typename Action>
    void for_each_box_intersecting(const BoundingBox<D>& box, const Action& action) const {
        if (!leaves_.empty()) {
            visit_intersecting(box, action, 0, 0, nb_bboxes());
        }
    }

private:
    struct Nearest {
        index_t element;
        double distance;
        // What a subtree's box or an element must be strictly below to be visited or to
        // replace `element`: `distance` itself in the exhaustive search.
        double limit;
    };

    // The leaf position reached from the root by always going to the child whose box is
    // nearer to `query` (the right one on ties). \pre the tree is not empty.
    [[nodiscard]] index_t greedy_seed_position(const Point<D>& query) const {
        std::size_t slot = 0;
        index_t begin = 0;
        index_t end = nb_bboxes();
        while (end - begin > 1) {
            const index_t middle = begin + (end - begin) / 2;
            const std::size_t left = slot + 1;
            const std::size_t right = slot + 2 * static_cast<std::size_t>(middle - begin);
            if (boxes_[left].signed_distance(query) < boxes_[right].signed_distance(query)) {
                slot = left;
                end = middle;
            } else {
                slot = right;
                begin = middle;
            }
        }
        return begin;
    }

    static double read_distance(double distance) {
        return std::isnan(distance) ? std::numeric_limits<double>::infinity() : distance;
    }

    // Visits the node at `slot` covering [begin, end); the caller has checked its box distance
    // against the current limit. `StopAtZero` ends the walk once an element at distance 0 is
    // found (nothing can replace it).
    template <bool StopAtZero, typename ElementDistance>
    void visit_closest(const Point<D>& query, const ElementDistance& distance, std::size_t slot,
                       index_t begin, index_t end, Nearest& nearest) const {
        if (StopAtZero && !(nearest.limit > 0)) {
            return;
        }
        if (end - begin == 1) {
            const index_t element = leaves_[begin];
            const double element_distance = read_distance(distance(query, element));
            if (element_distance < nearest.limit) {
                nearest = {element, element_distance, element_distance};
            }
            return;
        }
        const index_t middle = begin + (end - begin) / 2;
        const std::size_t left = slot + 1;
        const std::size_t right = slot + 2 * static_cast<std::size_t>(middle - begin);
        const double left_distance = boxes_[left].signed_distance(query);
        const double right_distance = boxes_[right].signed_distance(query);
        const std::size_t first = left_distance < right_distance ? left : right;
        const std::size_t second = first == left ? right : left;
        const double first_distance = first == left ? left_distance : right_distance;
        const double second_distance = first == left ? right_distance : left_distance;
        if (first_distance < nearest.limit) {
            if (first == left) {
                visit_closest<StopAtZero>(query, distance, left, begin, middle, nearest);
            } else {
                visit_closest<StopAtZero>(query, distance, right, middle, end, nearest);
            }
        }
        if (StopAtZero && !(nearest.limit > 0)) {
            return;
        }
        if (second_distance < nearest.limit) {
            if (second == left) {
                visit_closest<StopAtZero>(query, distance, left, begin, middle, nearest);
            } else {
                visit_closest<StopAtZero>(query, distance, right, middle, end, nearest);
            }
        }
    }

    template <typename Action>
    void visit_intersecting(const BoundingBox<D>& box, const Action& action, std::size_t slot,
                            index_t begin, index_t end) const {
        if (!boxes_[slot].intersects(box)) {
            return;
        }
        if (end - begin == 1) {
            action(leaves_[begin]);
            return;
        }
        const index_t middle = begin + (end - begin) / 2;
        visit_intersecting(box, action, slot + 1, begin, middle);
        visit_intersecting(box, action, slot + 2 * static_cast<std::size_t>(middle - begin), middle,
                           end);
    }

    std::vector<BoundingBox<D>> boxes_;
    std::vector<index_t> leaves_;
};

extern template class AABBTree<1>;
extern template class AABBTree<2>;
extern template class AABBTree<3>;

using AABBTree1D = AABBTree<1>;
using AABBTree2D = AABBTree<2>;
using AABBTree3D = AABBTree<3>;

}  // namespace orvex
