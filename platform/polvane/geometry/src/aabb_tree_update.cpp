// The bounding-box tree's updates: renumbering, refitting and inserting elements in place, with
// empty leaf positions kept for new elements near where they lie.
//
// Room for new elements. A tree built for a caller that follows changes may leave empty
// positions (the leaf-ordered copy of an element search leaves one in 16); one without any is
// laid out again over more positions at its first insertion, 8 for every 7 elements, evenly
// spread (no sort: the leaf order is kept). A new element takes an empty position in the
// smallest subtree, of up to 1024 positions, around an element it shares a vertex with (else
// the leaf where it would enlarge the boxes least); where there is none, the smallest subtree
// around that leaf whose density allows it is laid out again with its elements evenly spread
// (a packed-memory array: the allowed density falls from 1 for subtrees of 2048 positions to
// 31/32 for the whole tree). A tree past 31/32 is laid out again over more positions.
// Measured on the point-insertion benchmark (1e6 tetrahedra, 10000 splits into four): 19
// subtrees laid out again for 30000 insertions (with subtrees of up to 256 positions searched,
// 1176), and no growth.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "box_encoding.h"
#include "curve_order.h"
#include "polvane/geometry/aabb_tree.h"

namespace orvex {
namespace {

// New elements look for an empty position in subtrees of up to this many positions around
// their leaf.
constexpr index_t search_window = 1024;
// Subtrees smaller than this are never laid out again on their own.
constexpr index_t smallest_spread = 2048;

// The number of positions for `nb_elements` elements after a layout with room: 8 per 7.
index_t roomy_size(index_t nb_elements) {
    const std::uint64_t size = (std::uint64_t{nb_elements} * 8 + 6) / 7;
    return static_cast<index_t>(std::max<std::uint64_t>(size, std::uint64_t{nb_elements} + 1));
}

// Whether a subtree of `size` positions in a tree of `tree_size` may hold `count` elements:
// densities up to 1 for the smallest subtrees spread, 31/32 for the whole tree, and in
// between by the height.
bool has_room(index_t count, index_t size, index_t tree_size) {
    if (size >= tree_size) {
        return std::uint64_t{count} * 32 <= std::uint64_t{size} * 31;
    }
    const double height = std::log2(static_cast<double>(size));
    const double top = std::log2(static_cast<double>(tree_size));
    const double bottom = std::log2(static_cast<double>(smallest_spread));
    const double share = top > bottom ? std::clamp((height - bottom) / (top - bottom), 0., 1.) : 1.;
    return static_cast<double>(count) <= static_cast<double>(size) * (1. - share / 32.);
}

}  // namespace

template <index_t D>
index_t AABBTree<D>::prepare_update(absl::Span<const index_t> old2new, index_t nb_elements,
                                    index_t insertions) {
    cancel_update();
    try {
        renumbering_ = !old2new.empty() || positions_.size() != nb_bboxes();
        new_nb_elements_ = nb_elements;
        index_t kept = nb_elements_;
        if (renumbering_) {
            // One pass over the leaves: the new element-to-position map and the positions
            // that the renumbering empties.
            new_positions_.assign(nb_elements, NO_ID);
            kept = 0;
            for (index_t position = 0; position < nb_positions(); ++position) {
                const index_t element = leaves_[position];
                if (element == NO_ID) {
                    continue;
                }
                const index_t renumbered = old2new.empty() ? element : old2new[element];
                if (renumbered == NO_ID) {
                    emptied_.push_back(position);
                } else {
                    new_positions_[renumbered] = position;
                    ++kept;
                }
            }
        } else if (positions_.capacity() < nb_elements) {
            positions_.reserve(std::max<std::size_t>(nb_elements, positions_.capacity() * 5 / 4));
        }
        const index_t after = kept + insertions;
        if (insertions > 0 && !has_room(after, nb_positions(), nb_positions())) {
            grown_size_ = roomy_size(after);
            grown_inner_ = detail::uninitialised<ChildBoxes>(grown_size_ - 1);
            grown_boxes_ = detail::uninitialised<FloatBox>(std::max<index_t>(nb_elements_, 1));
            leaves_.reserve(grown_size_);
        }
        return std::max(grown_size_, nb_positions());
    } catch (...) {
        cancel_update();
        throw;
    }
}

template <index_t D>
index_t AABBTree<D>::element_position(index_t element) const {
    const std::vector<index_t>& map = renumbering_ ? new_positions_ : positions_;
    return element < map.size() ? map[element] : NO_ID;
}

template <index_t D>
void AABBTree<D>::cancel_update() noexcept {
    new_positions_ = std::vector<index_t>{};
    emptied_ = std::vector<index_t>{};
    grown_inner_.reset();
    grown_boxes_.reset();
    grown_size_ = 0;
    renumbering_ = false;
}

template <index_t D>
void AABBTree<D>::renumber() noexcept {
    if (renumbering_) {
        positions_.swap(new_positions_);
        new_positions_ = std::vector<index_t>{};
        for (index_t position : emptied_) {
            leaves_[position] = NO_ID;
        }
        nb_elements_ -= static_cast<index_t>(emptied_.size());
        for (index_t element = 0; element < positions_.size(); ++element) {
            if (positions_[element] != NO_ID) {
                leaves_[positions_[element]] = element;
            }
        }
        renumbering_ = false;
    }
    // Within the capacity reserved by `prepare_update`: new elements have no position yet.
    positions_.resize(new_nb_elements_, NO_ID);
}

template <index_t D>
typename AABBTree<D>::FloatBox AABBTree<D>::leaf_box(index_t position, const LeafData& data) const {
    if (leaves_[position] == NO_ID) {
        return FloatBox::empty();
    }
    return detail::encoded(data.box(position), frame_);
}

// Each leaf's box is stored exactly; the boxes above it only grow, and only as far up as one
// does not contain the leaf's new box already: a box larger than needed is still a lower bound
// of its elements' distances, so the answers are the same, and most leaves stop at their
// parent. (A moved vertex's elements shrink and grow by little; boxes shrink back where a
// subtree is laid out again, or when the tree is built again.) The positions are taken in
// chunks, each one's leaf data asked for before it is refitted: the elements of moved vertices
// lie all over the tree, and their reads would otherwise wait on memory one after the other.
template <index_t D>
void AABBTree<D>::refit(absl::Span<const index_t> positions, const LeafData& data) noexcept {
    if (positions.empty() || leaves_.empty()) {
        return;
    }
    if (nb_positions() == 1) {
        root_ = leaf_box(0, data);
        return;
    }

    struct Level {
        std::size_t inner;
        bool right;
    };

    // The path from the root to a leaf, by the halving rule alone; returns its depth.
    const auto path_to = [this](index_t position, std::array<Level, 32>& path) {
        unsigned depth = 0;
        std::size_t inner = 0;
        index_t begin = 0;
        index_t end = nb_positions();
        while (end - begin > 1) {
            const index_t middle = begin + (end - begin) / 2;
            const bool right = position >= middle;
            path[depth++] = {inner, right};
            if (right) {
                inner += middle - begin;
                begin = middle;
            } else {
                inner += 1;
                end = middle;
            }
        }
        return depth;
    };
    constexpr std::size_t chunk = 64;
    std::array<Level, 32> path{};
    for (std::size_t start = 0; start < positions.size(); start += chunk) {
        const absl::Span<const index_t> part = positions.subspan(start, chunk);
        for (const index_t position : part) {
            data.prefetch(position, false);
            const unsigned depth = path_to(position, path);
            prefetch_record(path[depth - 1].inner);
            if (depth > 1) {
                prefetch_record(path[depth - 2].inner);
            }
        }
        for (const index_t position : part) {
            data.prefetch(position, true);
        }
        for (const index_t position : part) {
            const unsigned depth = path_to(position, path);
            const FloatBox box = leaf_box(position, data);
            inner_[path[depth - 1].inner].set_child(path[depth - 1].right ? 1 : 0, box);
            unsigned level = depth - 1;
            for (; level > 0; --level) {
                ChildBoxes& record = inner_[path[level - 1].inner];
                const index_t side = path[level - 1].right ? 1 : 0;
                FloatBox stored = record.child(side);
                if (stored.contains(box)) {
                    break;
                }
                stored.add(box);
                record.set_child(side, stored);
            }
            if (level == 0 && !root_.contains(box)) {
                root_.add(box);
            }
        }
    }
}

template <index_t D>
typename AABBTree<D>::FloatBox AABBTree<D>::rebuild_node(ChildBoxes* records, std::size_t inner,
                                                         index_t begin, index_t end,
                                                         const LeafData& data) const {
    const auto box = [this, &data](index_t position) { return leaf_box(position, data); };
    detail::BoxBuilder<D, decltype(box)> builder{box, records};
    return builder.node(inner, begin, end);
}

template <index_t D>
index_t AABBTree<D>::insertion_position(const FloatBox& box) const {
    // The volume of a box, and of its union with `box`, in the frame's coordinates.
    const auto volumes = [&box](const FloatBox& child) {
        double own = 1;
        double joined = 1;
        for (index_t axis = 0; axis < D; ++axis) {
            const double low = child.min[axis];
            const double high = child.max[axis];
            own *= high > low ? high - low : 0.0;
            joined *= std::max<double>(high, box.max[axis]) - std::min<double>(low, box.min[axis]);
        }
        return std::array<double, 2>{joined - own, own};
    };
    std::size_t inner = 0;
    index_t begin = 0;
    index_t end = nb_positions();
    while (end - begin > 1) {
        const index_t middle = begin + (end - begin) / 2;
        const ChildBoxes& record = inner_[inner];
        const FloatBox left = record.child(0);
        const FloatBox right = record.child(1);
        // An empty subtree takes nothing in; between the others, the one that grows least,
        // then the smaller (an empty box has infinite bounds: its growth is not a number).
        const bool left_empty = !(left.min[0] <= left.max[0]);
        const bool right_empty = !(right.min[0] <= right.max[0]);
        bool go_left = right_empty && !left_empty;
        if (!left_empty && !right_empty) {
            const auto l = volumes(left);
            const auto r = volumes(right);
            go_left = l[0] < r[0] || (l[0] == r[0] && l[1] < r[1]);
        }
        if (go_left) {
            inner += 1;
            end = middle;
        } else {
            inner += middle - begin;
            begin = middle;
        }
    }
    return begin;
}

template <index_t D>
index_t AABBTree<D>::empty_position_in(index_t begin, index_t end, index_t near) const {
    // Outward from the side of the range nearest to `near`.
    if (near < begin) {
        for (index_t position = begin; position < end; ++position) {
            if (leaves_[position] == NO_ID) {
                return position;
            }
        }
    } else {
        for (index_t position = end; position-- > begin;) {
            if (leaves_[position] == NO_ID) {
                return position;
            }
        }
    }
    return NO_ID;
}

template <index_t D>
void AABBTree<D>::insert(index_t element, const BoundingBox<D>& box, index_t near_position,
                         LeafData& data) noexcept {
    if (grown_inner_) {
        grow(data);
    }
    // Where the caller knows an element beside the new one (one it shares a vertex with, say),
    // there; else the leaf reached by always going to the subtree whose box grows least to take
    // it in (the classic choice of R-trees). (The greedy descent towards the element's centre
    // would go to the child it is deepest inside: a subtree whose box a few elements from
    // elsewhere had stretched, which then drew more of them, and so on.)
    const index_t near = near_position < nb_positions()
                             ? near_position
                             : insertion_position(detail::encoded(box, frame_));

    // The subtrees around `near`, from the root down to its leaf.
    struct Level {
        std::size_t inner;
        index_t begin;
        index_t end;
    };

    std::array<Level, 33> path{};
    unsigned depth = 0;
    path[0] = {0, 0, nb_positions()};
    while (path[depth].end - path[depth].begin > 1) {
        const Level& level = path[depth];
        const index_t middle = level.begin + (level.end - level.begin) / 2;
        path[depth + 1] = near < middle
                              ? Level{level.inner + 1, level.begin, middle}
                              : Level{level.inner + (middle - level.begin), middle, level.end};
        ++depth;
    }
    // The empty position in the smallest subtree around `near`, up to subtrees of
    // `search_window` positions: only boxes inside that subtree grow to take the element in,
    // none above it. (An empty position merely near `near` in the leaf order may lie across
    // the boundary of a large subtree, whose box would then stretch towards the element; such
    // stretched boxes drew the greedy descents of later elements, and the tree drifted.)
    index_t empty = leaves_[near] == NO_ID ? near : NO_ID;
    unsigned searched = depth;
    index_t count = empty == NO_ID ? 1 : 0;  // elements in path[searched]
    while (searched > 0) {
        const Level& parent = path[searched - 1];
        const Level& level = path[searched];
        if (empty != NO_ID || parent.end - parent.begin > search_window) {
            break;
        }
        const bool left_side = level.begin > parent.begin;
        const index_t sibling_begin = left_side ? parent.begin : level.end;
        const index_t sibling_end = left_side ? level.begin : parent.end;
        empty = empty_position_in(sibling_begin, sibling_end, near);
        if (empty == NO_ID) {
            count += sibling_end - sibling_begin;
        }
        --searched;
    }
    if (empty != NO_ID) {
        data.place(element, empty);
        leaves_[empty] = element;
        positions_[element] = empty;
        ++nb_elements_;
        const index_t position = empty;
        refit({&position, 1}, data);
        return;
    }
    // The smallest subtree around `near` with room, counted level by level upwards: each
    // level adds the count of the sibling range.
    const auto live = [this](index_t begin, index_t end) {
        index_t live_count = 0;
        for (index_t position = begin; position < end; ++position) {
            live_count += leaves_[position] != NO_ID ? 1 : 0;
        }
        return live_count;
    };
    unsigned chosen = searched;
    while (chosen > 0) {
        const Level& level = path[chosen];
        if (level.end - level.begin >= smallest_spread
            && has_room(count + 1, level.end - level.begin, nb_positions())) {
            break;
        }
        const Level& parent = path[chosen - 1];
        count += live(parent.begin, level.begin) + live(level.end, parent.end);
        --chosen;
    }
    const Level& level = path[chosen];
    spread(level.begin, level.end, near, element, data);
    ++nb_elements_;
    // The records of the subtree laid out again, then those above it, level by level upwards.
    FloatBox subtree = level.end - level.begin > 1
                           ? rebuild_node(inner_.get(), level.inner, level.begin, level.end, data)
                           : leaf_box(level.begin, data);
    for (unsigned up = chosen; up-- > 0;) {
        ChildBoxes& record = inner_[path[up].inner];
        const bool left = path[up + 1].begin == path[up].begin;
        record = left ? ChildBoxes::of(subtree, record.child(1))
                      : ChildBoxes::of(record.child(0), subtree);
        subtree = record.child(0);
        subtree.add(record.child(1));
    }
    root_ = subtree;
}

// Lays out again the positions [begin, end) with their elements and the new `element` (which
// comes right after the elements at positions up to `after`) evenly spread, in place: the
// elements are first packed at the range's end, then spread from its start, each moving
// towards the start (the range has more positions than elements).
template <index_t D>
void AABBTree<D>::spread(index_t begin, index_t end, index_t after, index_t element,
                         LeafData& data) noexcept {
    const auto move = [this, &data](index_t from, index_t to) {
        data.move(from, to);
        leaves_[to] = leaves_[from];
        leaves_[from] = NO_ID;
        positions_[leaves_[to]] = to;
    };
    index_t rank = 0;  // the elements at positions up to `after`
    index_t packed = end;
    for (index_t position = end; position-- > begin;) {
        if (leaves_[position] != NO_ID) {
            rank += position <= after ? 1 : 0;
            if (--packed != position) {
                move(position, packed);
            }
        }
    }
    const index_t count = end - packed + 1;
    const std::uint64_t size = end - begin;
    index_t source = packed;
    for (index_t i = 0; i < count; ++i) {
        const auto target = static_cast<index_t>(begin + std::uint64_t{i} * size / count);
        if (i == rank) {
            data.place(element, target);
            leaves_[target] = element;
            positions_[element] = target;
            continue;
        }
        if (source != target) {
            move(source, target);
        }
        ++source;
    }
}

// Lays the tree out again over the prepared number of positions, its elements evenly spread
// in their order: packed at the start (each moving towards it), then spread from the end
// (each moving away from it), and every record built again.
template <index_t D>
void AABBTree<D>::grow(LeafData& data) noexcept {
    // The leaf boxes as the records hold them, in leaf order: no element is measured again.
    // The tree is walked depth-first with an explicit stack of (record, range, box).
    index_t count = 0;

    struct Visit {
        std::size_t inner;
        index_t begin;
        index_t end;
        FloatBox box;
    };

    std::array<Visit, 64> stack{};
    unsigned top = 0;
    stack[top++] = {0, 0, nb_positions(), root_};
    while (top > 0) {
        const Visit visit = stack[--top];
        if (visit.end - visit.begin == 1) {
            if (leaves_[visit.begin] != NO_ID) {
                grown_boxes_[count++] = visit.box;
            }
            continue;
        }
        const index_t middle = visit.begin + (visit.end - visit.begin) / 2;
        const ChildBoxes& record = inner_[visit.inner];
        // Right first on the stack, so that the left subtree comes out first.
        stack[top++] = {visit.inner + (middle - visit.begin), middle, visit.end, record.child(1)};
        stack[top++] = {visit.inner + 1, visit.begin, middle, record.child(0)};
    }
    const auto move = [this, &data](index_t from, index_t to) {
        data.move(from, to);
        leaves_[to] = leaves_[from];
        leaves_[from] = NO_ID;
        positions_[leaves_[to]] = to;
    };
    index_t packed = 0;
    for (index_t position = 0; position < nb_positions(); ++position) {
        if (leaves_[position] != NO_ID) {
            if (packed != position) {
                move(position, packed);
            }
            ++packed;
        }
    }
    data.resize(grown_size_);
    leaves_.resize(grown_size_, NO_ID);
    const std::uint64_t size = grown_size_;
    for (index_t i = count; i-- > 0;) {
        const auto target = static_cast<index_t>(std::uint64_t{i} * size / count);
        if (target != i) {
            move(i, target);
        }
    }
    index_t next = 0;
    const auto leaf = [this, &next](index_t position) {
        return leaves_[position] == NO_ID ? FloatBox::empty() : grown_boxes_[next++];
    };
    if (grown_size_ > 1) {
        detail::BoxBuilder<D, decltype(leaf)> builder{leaf, grown_inner_.get()};
        root_ = builder.node(0, 0, grown_size_);
    } else {
        root_ = leaf(0);
    }
    inner_ = std::move(grown_inner_);
    grown_boxes_.reset();
    grown_size_ = 0;
}

// The class is instantiated in aabb_tree.cpp; the members defined here, here (the header's
// instantiation declarations keep them from being instantiated implicitly).
#define ORVEX_AABB_TREE_UPDATES(D)                                                              \
    template index_t AABBTree<D>::prepare_update(absl::Span<const index_t>, index_t, index_t);  \
    template index_t AABBTree<D>::element_position(index_t) const;                              \
    template void AABBTree<D>::cancel_update() noexcept;                                        \
    template void AABBTree<D>::renumber() noexcept;                                             \
    template void AABBTree<D>::refit(absl::Span<const index_t>, const LeafData&) noexcept;      \
    template void AABBTree<D>::insert(index_t, const BoundingBox<D>&, index_t,                  \
                                      LeafData&) noexcept;                                      \
    template AABBTree<D>::FloatBox AABBTree<D>::leaf_box(index_t, const LeafData&) const;       \
    template AABBTree<D>::FloatBox AABBTree<D>::rebuild_node(ChildBoxes*, std::size_t, index_t, \
                                                             index_t, const LeafData&) const;   \
    template void AABBTree<D>::grow(LeafData&) noexcept;                                        \
    template void AABBTree<D>::spread(index_t, index_t, index_t, index_t, LeafData&) noexcept;  \
    template index_t AABBTree<D>::empty_position_in(index_t, index_t, index_t) const;           \
    template index_t AABBTree<D>::insertion_position(const FloatBox&) const;

ORVEX_AABB_TREE_UPDATES(1)
ORVEX_AABB_TREE_UPDATES(2)
ORVEX_AABB_TREE_UPDATES(3)

}  // namespace orvex
