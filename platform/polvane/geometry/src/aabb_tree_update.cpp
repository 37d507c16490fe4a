// The bounding-box tree's updates: renumbering, refitting and inserting elements in place, with
// empty leaf positions kept for new elements near where they lie.
//
// Room for new elements. The first update that inserts into a tree without empty positions
// lays it out again over more positions, 8 for every 7 elements, evenly spread (no sort: the
// leaf order is kept). A new element then takes the empty position nearest to its leaf, and
// where none lies within 32 positions, the smallest subtree around that leaf whose density
// allows it is laid out again with its elements evenly spread (a packed-memory array: the
// allowed density falls from 1 for subtrees of 64 positions to 15/16 for the whole tree, so
// that a subtree that was just spread out has room for many insertions before it is spread
// again). A tree past 15/16 is laid out again over more positions, as the first time.
// Measured on the point-insertion benchmark (1e6 tetrahedra, each step splitting one in four):
// about one subtree in 40 insertions is spread again, mostly of 64 to 256 positions.

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

// New elements look for an empty position this far from their leaf at most.
constexpr index_t search_window = 32;
// Subtrees smaller than this are never laid out again on their own.
constexpr index_t smallest_spread = 64;

// The number of positions for `nb_elements` elements after a layout with room: 8 per 7.
index_t roomy_size(index_t nb_elements) {
    const std::uint64_t size = (std::uint64_t{nb_elements} * 8 + 6) / 7;
    return static_cast<index_t>(std::max<std::uint64_t>(size, std::uint64_t{nb_elements} + 1));
}

// Whether a subtree of `size` positions in a tree of `tree_size` may hold `count` elements:
// densities up to 1 for the smallest subtrees spread, 15/16 for the whole tree, and in
// between by the height.
bool has_room(index_t count, index_t size, index_t tree_size) {
    if (size >= tree_size) {
        return std::uint64_t{count} * 16 <= std::uint64_t{size} * 15;
    }
    const double height = std::log2(static_cast<double>(size));
    const double top = std::log2(static_cast<double>(tree_size));
    const double bottom = std::log2(static_cast<double>(smallest_spread));
    const double share = top > bottom ? std::clamp((height - bottom) / (top - bottom), 0., 1.) : 1.;
    return static_cast<double>(count) <= static_cast<double>(size) * (1. - share / 16.);
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

template <index_t D>
void AABBTree<D>::refit(absl::Span<const index_t> positions, const LeafData& data) noexcept {
    if (positions.empty() || leaves_.empty()) {
        return;
    }
    root_ = refit_node(0, 0, nb_positions(), positions.data(), positions.data() + positions.size(),
                       data);
}

template <index_t D>
typename AABBTree<D>::FloatBox AABBTree<D>::refit_node(std::size_t inner, index_t begin,
                                                       index_t end, const index_t* first,
                                                       const index_t* last, const LeafData& data) {
    if (end - begin == 1) {
        return leaf_box(begin, data);
    }
    const index_t middle = begin + (end - begin) / 2;
    const index_t* split = std::lower_bound(first, last, middle);
    ChildBoxes& record = inner_[inner];
    const FloatBox left =
        first < split ? refit_node(inner + 1, begin, middle, first, split, data) : record.child(0);
    const FloatBox right =
        split < last ? refit_node(inner + (middle - begin), middle, end, split, last, data)
                     : record.child(1);
    record = ChildBoxes::of(left, right);
    FloatBox box = left;
    box.add(right);
    return box;
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
index_t AABBTree<D>::greedy_position(const Point<D>& local) const {
    std::size_t inner = 0;
    index_t begin = 0;
    index_t end = nb_positions();
    while (end - begin > 1) {
        const index_t middle = begin + (end - begin) / 2;
        double left = 0;
        double right = 0;
        if (Kernels::child_distances(inner_[inner], local, frame_.inverse, left, right)) {
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
index_t AABBTree<D>::empty_position_near(index_t position) const {
    for (index_t step = 0; step <= search_window; ++step) {
        if (position >= step && leaves_[position - step] == NO_ID) {
            return position - step;
        }
        if (position + step < nb_positions() && leaves_[position + step] == NO_ID) {
            return position + step;
        }
    }
    return NO_ID;
}

template <index_t D>
void AABBTree<D>::insert(index_t element, const BoundingBox<D>& box, LeafData& data) noexcept {
    if (grown_inner_) {
        grow(data);
    }
    Point<D> center;
    for (index_t axis = 0; axis < D; ++axis) {
        const double low = frame_.local_bound(axis, box.min().value(axis), false);
        const double high = frame_.local_bound(axis, box.max().value(axis), true);
        center.set_value(axis, 0.5 * low + 0.5 * high);
    }
    const index_t near = greedy_position(center);
    const index_t empty = empty_position_near(near);
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
    const auto live = [this](index_t begin, index_t end) {
        index_t count = 0;
        for (index_t position = begin; position < end; ++position) {
            count += leaves_[position] != NO_ID ? 1 : 0;
        }
        return count;
    };
    unsigned chosen = depth;
    index_t count = live(path[depth].begin, path[depth].end);
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
    const auto move = [this, &data](index_t from, index_t to) {
        data.move(from, to);
        leaves_[to] = leaves_[from];
        leaves_[from] = NO_ID;
        positions_[leaves_[to]] = to;
    };
    index_t count = 0;
    for (index_t position = 0; position < nb_positions(); ++position) {
        if (leaves_[position] != NO_ID) {
            if (count != position) {
                move(position, count);
            }
            ++count;
        }
    }
    // A frame for the elements as they are now (all records are built again below).
    if (count > 0) {
        frame_ = detail::robust_frame<D>(count, [this, &data](index_t position) {
            return detail::box_center(data.box(position));
        });
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
    root_ = grown_size_ > 1 ? rebuild_node(grown_inner_.get(), 0, 0, grown_size_, data)
                            : leaf_box(0, data);
    inner_ = std::move(grown_inner_);
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
    template void AABBTree<D>::insert(index_t, const BoundingBox<D>&, LeafData&) noexcept;      \
    template AABBTree<D>::FloatBox AABBTree<D>::leaf_box(index_t, const LeafData&) const;       \
    template AABBTree<D>::FloatBox AABBTree<D>::refit_node(                                     \
        std::size_t, index_t, index_t, const index_t*, const index_t*, const LeafData&);        \
    template AABBTree<D>::FloatBox AABBTree<D>::rebuild_node(ChildBoxes*, std::size_t, index_t, \
                                                             index_t, const LeafData&) const;   \
    template void AABBTree<D>::grow(LeafData&) noexcept;                                        \
    template void AABBTree<D>::spread(index_t, index_t, index_t, index_t, LeafData&) noexcept;  \
    template index_t AABBTree<D>::empty_position_near(index_t) const;                           \
    template index_t AABBTree<D>::greedy_position(const Point<D>&) const;

ORVEX_AABB_TREE_UPDATES(1)
ORVEX_AABB_TREE_UPDATES(2)
ORVEX_AABB_TREE_UPDATES(3)

}  // namespace orvex
