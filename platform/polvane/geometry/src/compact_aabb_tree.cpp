#include "polvane/geometry/compact_aabb_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "hilbert_curve.h"
#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace detail {
namespace {

// A sort item: the curve key in the upper 32 bits, the element (or point) index in the lower
// 32 bits. Sorting the items by key, stably, orders by (key, index).
using Item = std::uint64_t;

// Runs of equal keys longer than this are sorted again on their own bounding box.
constexpr std::size_t refine_run = 32;
constexpr int max_refinements = 3;
// Below this size a comparison sort beats the four histogram passes.
constexpr std::size_t small_sort = 64;

// Buffers filled before they are read: no value initialisation, so no zero fill.
template <typename T>
std::unique_ptr<T[]> uninitialised(std::size_t size) {
    return std::unique_ptr<T[]>(new T[size]);  // NOLINT(cppcoreguidelines-owning-memory)
}

// The quantisation of coordinates onto the cells of a curve: each axis of a box is cut into
// 2^bits equal cells, so that the box's midplanes (and those of its halves, quarters, ...)
// are cell boundaries, and centres on either side of one fall on that side. (With a scale of
// 2^bits - 1 the midplane lay inside a cell. On the benchmarks' jittered grid of 55 cells
// per axis, whose middle layer of elements is centred on the midplane up to the jitter, that
// cell took the whole layer into the curve's first half, 9,000 elements more than the
// tree's count-halving split gives the root's left child; the rest, the tail of the first
// half, stretched the right child's box over a quarter of the cube. Batches of tetrahedra
// and triangles were 4 to 6 % slower.)
template <index_t D>
class CurveFrame {
public:
    static constexpr unsigned bits = D == 3 ? 8 : D == 2 ? 12 : 32;

    // The frame of the finite coordinates in [low, high] per axis; an axis without any finite
    // coordinate (low > high) maps everything to cell 0.
    CurveFrame(const std::array<double, D>& low, const std::array<double, D>& high) {
        constexpr double cells = static_cast<double>(std::uint64_t{1} << bits);
        for (index_t axis = 0; axis < D; ++axis) {
            // Halves, so that the extent of a range near the largest doubles does not
            // overflow.
            const double extent = 0.5 * high[axis] - 0.5 * low[axis];
            half_low_[axis] = low[axis] <= high[axis] ? 0.5 * low[axis] : 0.0;
            scale_[axis] = extent > 0 && std::isfinite(extent) ? cells / extent : 0.0;
        }
    }

    // The key of a point: its cell coordinates interleaved. NaN reads as 0; coordinates
    // outside the frame (infinite ones included) fall into its nearest cell.
    [[nodiscard]] std::uint32_t key(const std::array<double, D>& point) const {
        std::array<std::uint32_t, D> cell{};
        for (index_t axis = 0; axis < D; ++axis) {
            constexpr double last = static_cast<double>((std::uint64_t{1} << bits) - 1);
            const double value = std::isnan(point[axis]) ? 0.0 : point[axis];
            const double scaled = (0.5 * value - half_low_[axis]) * scale_[axis];
            // A NaN product (infinity times a zero scale) compares false and lands in cell 0.
            const double clamped = scaled > 0 ? (scaled < last ? scaled : last) : 0.0;
            cell[axis] = static_cast<std::uint32_t>(clamped);
        }
        if constexpr (D == 1) {
            return cell[0];
        } else {
            return hilbert_key<D, bits>(cell);
        }
    }

private:
    std::array<double, D> half_low_{};
    std::array<double, D> scale_{};
};

// Bounds of the finite values met, per axis.
template <index_t D>
struct FiniteRange {
    std::array<double, D> low;
    std::array<double, D> high;

    FiniteRange() {
        low.fill(std::numeric_limits<double>::infinity());
        high.fill(-std::numeric_limits<double>::infinity());
    }

    void add(const std::array<double, D>& point) {
        for (index_t axis = 0; axis < D; ++axis) {
            const double value = std::isnan(point[axis]) ? 0.0 : point[axis];
            if (std::isfinite(value)) {
                low[axis] = value < low[axis] ? value : low[axis];
                high[axis] = value > high[axis] ? value : high[axis];
            }
        }
    }

    [[nodiscard]] CurveFrame<D> frame() const { return CurveFrame<D>{low, high}; }
};

template <index_t D>
std::array<double, D> coordinates(const Point<D>& point) {
    std::array<double, D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result[axis] = point.value(axis);
    }
    return result;
}

template <index_t D>
std::array<double, D> box_center(const BoundingBox<D>& box) {
    std::array<double, D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result[axis] = 0.5 * box.min().value(axis) + 0.5 * box.max().value(axis);
    }
    return result;
}

// Sorts items[0, size) by their upper 32 bits, stably: LSD radix sort with digits of
// `DigitBits` bits, the passes whose digit is the same everywhere skipped. `scratch` holds at
// least `size` items; 64 <= size < 2^32.
template <unsigned DigitBits>
void radix_sort_digits(Item* items, Item* scratch, std::size_t size) {
    constexpr unsigned nb_digits = (32 + DigitBits - 1) / DigitBits;
    constexpr std::size_t nb_buckets = std::size_t{1} << DigitBits;
    const auto digit_of = [](Item item, unsigned digit) {
        return static_cast<std::size_t>((item >> (32U + DigitBits * digit)) & (nb_buckets - 1));
    };
    std::vector<std::array<std::uint32_t, nb_buckets>> counts(nb_digits);
    for (std::size_t i = 0; i < size; ++i) {
        const Item item = items[i];
        for (unsigned digit = 0; digit < nb_digits; ++digit) {
            ++counts[digit][digit_of(item, digit)];
        }
    }
    Item* from = items;
    Item* to = scratch;
    for (unsigned digit = 0; digit < nb_digits; ++digit) {
        auto& count = counts[digit];
        if (count[digit_of(from[0], digit)] == size) {
            continue;
        }
        std::uint32_t offset = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t bucket = c;
            c = offset;
            offset += bucket;
        }
        for (std::size_t i = 0; i < size; ++i) {
            const Item item = from[i];
            to[count[digit_of(item, digit)]++] = item;
        }
        std::swap(from, to);
    }
    if (from != items) {
        std::memcpy(items, from, size * sizeof(Item));
    }
}

// Sorts items[0, size) by their upper 32 bits, stably. Large arrays take 12-bit digits: the
// keys of 2D and 3D curves have 24 significant bits, so two scatter passes instead of three
// with bytes; small ones bytes, whose 256 counts are cheaper to clear and scan.
void radix_sort(Item* items, Item* scratch, std::size_t size) {
    if (size < small_sort) {
        std::sort(items, items + size);
    } else if (size < (std::size_t{1} << 16)) {
        radix_sort_digits<8>(items, scratch, size);
    } else {
        radix_sort_digits<12>(items, scratch, size);
    }
}

// Gives every item the key of its centre in `frame`, sorts them, then sorts again each long run
// of equal keys on the bounding box of its own centres. `center(index)` gives the centre of
// the element or point with that index, as an array of D doubles.
// With `keyed`, the items already hold the keys of their centres in `frame`.
template <index_t D, typename Center>
void sort_along_curve(Item* items, Item* scratch, std::size_t size, const CurveFrame<D>& frame,
                      const Center& center, int refinements_left, bool keyed = false) {
    if (!keyed) {
        for (std::size_t i = 0; i < size; ++i) {
            const Item index = items[i] & 0xFFFFFFFFU;
            items[i] = (Item{frame.key(center(static_cast<index_t>(index)))} << 32U) | index;
        }
    }
    radix_sort(items, scratch, size);
    if (refinements_left == 0) {
        return;
    }
    std::size_t begin = 0;
    while (begin < size) {
        std::size_t end = begin + 1;
        while (end < size && (items[end] >> 32U) == (items[begin] >> 32U)) {
            ++end;
        }
        if (end - begin > refine_run) {
            FiniteRange<D> range;
            for (std::size_t i = begin; i < end; ++i) {
                range.add(center(static_cast<index_t>(items[i] & 0xFFFFFFFFU)));
            }
            sort_along_curve<D>(items + begin, scratch, end - begin, range.frame(), center,
                                refinements_left - 1);
        }
        begin = end;
    }
}

// Rounds towards -infinity (`down`) or +infinity to a float; finite values beyond the float
// range go to the infinity on their side only when rounding away from zero.
float round_down(double value) {
    constexpr double largest = std::numeric_limits<float>::max();
    if (!(value >= -largest)) {
        return -std::numeric_limits<float>::infinity();
    }
    if (value > largest) {
        return value == std::numeric_limits<double>::infinity()
                   ? std::numeric_limits<float>::infinity()
                   : std::numeric_limits<float>::max();
    }
    // The nearest float, then one step down when it lies above `value` (std::nextafter towards
    // -infinity, done on the bits without a branch: a step away from zero for a negative
    // float or a zero, towards zero for a positive one).
    const float nearest = static_cast<float>(value);
    const auto above = static_cast<std::uint32_t>(static_cast<double>(nearest) > value);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &nearest, sizeof(bits));
    constexpr std::uint32_t sign = 0x80000000U;
    bits = (bits & ~sign) == 0 ? sign : bits;
    bits = (bits & sign) != 0 ? bits + above : bits - above;
    float result = 0;
    std::memcpy(&result, &bits, sizeof(result));
    return result;
}

float round_up(double value) {
    return -round_down(-value);
}

template <index_t D>
typename CompactAABBTree<D>::FloatBox rounded_outward(const BoundingBox<D>& box) {
    typename CompactAABBTree<D>::FloatBox result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result.min[axis] = round_down(box.min().value(axis));
        result.max[axis] = round_up(box.max().value(axis));
    }
    return result;
}

template <index_t D>
void add_float_box(typename CompactAABBTree<D>::FloatBox& box,
                   const typename CompactAABBTree<D>::FloatBox& other) {
    for (index_t axis = 0; axis < D; ++axis) {
        box.min[axis] = other.min[axis] < box.min[axis] ? other.min[axis] : box.min[axis];
        box.max[axis] = other.max[axis] > box.max[axis] ? other.max[axis] : box.max[axis];
    }
}

// Element boxes given as an array.
template <index_t D>
class ArrayBoxes {
public:
    explicit ArrayBoxes(absl::Span<const BoundingBox<D>> boxes) : boxes_(boxes) {}

    [[nodiscard]] BoundingBox<D> box(index_t element) const { return boxes_[element]; }

    [[nodiscard]] std::array<double, D> center(index_t element) const {
        return box_center(boxes_[element]);
    }

    [[nodiscard]] CurveFrame<D> frame() const {
        FiniteRange<D> range;
        for (const BoundingBox<D>& box : boxes_) {
            range.add(coordinates(box.min()));
            range.add(coordinates(box.max()));
        }
        return range.frame();
    }

private:
    absl::Span<const BoundingBox<D>> boxes_;
};

// Element boxes computed from the vertices of simplices.
template <index_t D>
class SimplexBoxes {
public:
    SimplexBoxes(absl::Span<const Point<D>> points,
                 absl::Span<const std::array<index_t, D + 1>> elements)
        : points_(points), elements_(elements) {}

    [[nodiscard]] BoundingBox<D> box(index_t element) const {
        BoundingBox<D> result;
        for (const index_t vertex : elements_[element]) {
            result.add_point(points_[vertex]);
        }
        return result;
    }

    [[nodiscard]] std::array<double, D> center(index_t element) const {
        return box_center(box(element));
    }

    // The finite range of all the points: it holds every finite centre.
    [[nodiscard]] CurveFrame<D> frame() const {
        FiniteRange<D> range;
        for (const Point<D>& point : points_) {
            range.add(coordinates(point));
        }
        return range.frame();
    }

private:
    absl::Span<const Point<D>> points_;
    absl::Span<const std::array<index_t, D + 1>> elements_;
};

// Computes the boxes of the inner nodes bottom-up, in one depth-first pass over the leaves,
// from the rounded boxes of the elements in leaf order: `leaf_box(position)` gives the one at a
// leaf position, and is called once per position, in increasing order.
template <index_t D, typename LeafBox>
class BoxBuilder {
public:
    using FloatBox = typename CompactAABBTree<D>::FloatBox;
    using ChildBoxes = typename CompactAABBTree<D>::ChildBoxes;

    BoxBuilder(const LeafBox& leaf_box, ChildBoxes* inner) : leaf_box_(leaf_box), inner_(inner) {}

    // The box of the node covering [begin, end) whose record, if inner, is at `index`.
    FloatBox node(std::size_t index, index_t begin, index_t end) {
        if (end - begin == 1) {
            return leaf_box_(begin);
        }
        if (end - begin == 2) {
            // Half the inner nodes: two leaves, measured here rather than by two calls.
            const FloatBox left = leaf_box_(begin);
            const FloatBox right = leaf_box_(begin + 1);
            return joined(index, left, right);
        }
        const index_t middle = begin + (end - begin) / 2;
        const FloatBox left = node(index + 1, begin, middle);
        const FloatBox right = node(index + (middle - begin), middle, end);
        return joined(index, left, right);
    }

private:
    // Stores the record of the node at `index` and returns its box.
    FloatBox joined(std::size_t index, const FloatBox& left, const FloatBox& right) {
        inner_[index] = ChildBoxes::of(left, right);
        FloatBox box = left;
        add_float_box<D>(box, right);
        return box;
    }

    const LeafBox& leaf_box_;
    ChildBoxes* inner_;
};

// The leaf order of the elements of `source` (n of them, n >= 1): sorted along the curve of
// their box centres. With `rounded_boxes`, each element's box, rounded outward, is stored
// there too (by element), from the same pass that reads the vertices.
template <index_t D, typename Source>
std::vector<index_t> curve_leaves(const Source& source, index_t n,
                                  typename CompactAABBTree<D>::FloatBox* rounded_boxes) {
    auto items = uninitialised<Item>(n);
    {
        auto scratch = uninitialised<Item>(n);
        const CurveFrame<D> frame = source.frame();
        for (index_t i = 0; i < n; ++i) {
            const BoundingBox<D> box = source.box(i);
            if (rounded_boxes != nullptr) {
                rounded_boxes[i] = rounded_outward(box);
            }
            items[i] = (Item{frame.key(box_center(box))} << 32U) | i;
        }
        sort_along_curve<D>(
            items.get(), scratch.get(), n, frame,
            [&source](index_t element) { return source.center(element); }, max_refinements, true);
    }
    std::vector<index_t> leaves(n);
    for (index_t i = 0; i < n; ++i) {
        leaves[i] = static_cast<index_t>(items[i] & 0xFFFFFFFFU);
    }
    return leaves;
}

}  // namespace
}  // namespace detail

template <index_t D>
std::vector<index_t> CompactAABBTree<D>::leaf_order(
    absl::Span<const Point<D>> points, absl::Span<const std::array<index_t, D + 1>> elements) {
    check_index_range(elements.size());
    if (elements.empty()) {
        return {};
    }
    return detail::curve_leaves<D>(detail::SimplexBoxes<D>{points, elements},
                                   static_cast<index_t>(elements.size()), nullptr);
}

template <index_t D>
CompactAABBTree<D>::CompactAABBTree(absl::Span<const Point<D>> points,
                                    absl::Span<const std::array<index_t, D + 1>> ordered_elements,
                                    std::vector<index_t> leaves) {
    check_index_range(ordered_elements.size());
    if (leaves.size() != ordered_elements.size()) {
        throw PolvaneException{"[CompactAABBTree] ", leaves.size(), " leaves given for ",
                               ordered_elements.size(), " elements"};
    }
    if (leaves.empty()) {
        return;
    }
    // In leaf order already: each element's box is computed as the builder reaches its leaf,
    // in sequence, with no box array at all.
    const detail::SimplexBoxes<D> source{points, ordered_elements};
    build_nodes(
        [&source](index_t position) { return detail::rounded_outward(source.box(position)); },
        std::move(leaves));
}

template <index_t D>
CompactAABBTree<D>::CompactAABBTree(absl::Span<const BoundingBox<D>> element_boxes) {
    build(detail::ArrayBoxes<D>{element_boxes}, element_boxes.size());
}

template <index_t D>
CompactAABBTree<D>::CompactAABBTree(absl::Span<const Point<D>> points,
                                    absl::Span<const std::array<index_t, D + 1>> elements) {
    build(detail::SimplexBoxes<D>{points, elements}, elements.size());
}

template <index_t D>
template <typename Source>
void CompactAABBTree<D>::build(const Source& source, std::size_t size) {
    check_index_range(size);
    if (size == 0) {
        return;
    }
    const auto n = static_cast<index_t>(size);
    // Each element's box is computed once, in element order (the order in which its vertices
    // are stored, so mostly sequential reads): its centre's key and its rounded box, which is
    // then gathered into leaf order in one pass of independent loads, so that the builder's
    // recursion reads the boxes in sequence instead of waiting on each.
    auto element_boxes = detail::uninitialised<FloatBox>(n);
    std::vector<index_t> leaves = detail::curve_leaves<D>(source, n, element_boxes.get());
    auto leaf_boxes = detail::uninitialised<FloatBox>(n);
    for (index_t i = 0; i < n; ++i) {
        leaf_boxes[i] = element_boxes[leaves[i]];
    }
    element_boxes.reset();
    build_nodes([&leaf_boxes](index_t position) { return leaf_boxes[position]; },
                std::move(leaves));
}

template <index_t D>
template <typename LeafBox>
void CompactAABBTree<D>::build_nodes(const LeafBox& leaf_box, std::vector<index_t> leaves) {
    // Records written once each by the builder, never filled beforehand.
    auto inner = detail::uninitialised<ChildBoxes>(leaves.size() - 1);
    detail::BoxBuilder<D, LeafBox> builder{leaf_box, inner.get()};
    const FloatBox root = builder.node(0, 0, static_cast<index_t>(leaves.size()));
    root_ = root;
    inner_ = std::move(inner);
    leaves_ = std::move(leaves);
}

template <index_t D>
BoundingBox<D> CompactAABBTree<D>::to_box(const FloatBox& box) {
    Point<D> low;
    Point<D> high;
    for (index_t axis = 0; axis < D; ++axis) {
        low.set_value(axis, static_cast<double>(box.min[axis]));
        high.set_value(axis, static_cast<double>(box.max[axis]));
    }
    return BoundingBox<D>{low, high};
}

template <index_t D>
BoundingBox<D> CompactAABBTree<D>::node_box(std::size_t node) const {
    POLVANE_DEBUG_ASSERT(node >= 1 && !leaves_.empty(), "[CompactAABBTree::node_box] Node ", node,
                         " is not in the tree");
    unsigned depth = 0;
    while ((node >> (depth + 1)) != 0) {
        ++depth;
    }
    std::size_t inner = 0;
    index_t begin = 0;
    index_t end = nb_bboxes();
    FloatBox box = root_;
    for (unsigned level = depth; level-- > 0;) {
        POLVANE_DEBUG_ASSERT(end - begin > 1, "[CompactAABBTree::node_box] Node ", node,
                             " is not in the tree");
        const index_t middle = begin + (end - begin) / 2;
        const bool right = ((node >> level) & 1U) != 0;
        box = inner_[inner].child(right ? 1 : 0);
        if (right) {
            inner += middle - begin;
            begin = middle;
        } else {
            inner += 1;
            end = middle;
        }
    }
    return to_box(box);
}

template <index_t D>
std::size_t CompactAABBTree<D>::memory_bytes() const {
    const std::size_t nb_inner = leaves_.empty() ? 0 : leaves_.size() - 1;
    return sizeof(*this) + nb_inner * sizeof(ChildBoxes) + leaves_.capacity() * sizeof(index_t);
}

template <index_t D>
std::vector<std::size_t> CompactAABBTree<D>::curve_order(absl::Span<const Point<D>> points) const {
    std::vector<std::size_t> order;
    order.reserve(points.size());
    if (points.size() > std::numeric_limits<index_t>::max()) {
        // Too many to number in a sort item: the input order (the answers are the same).
        for (std::size_t i = 0; i < points.size(); ++i) {
            order.push_back(i);
        }
        return order;
    }
    // The frame of the leaves where the root box is finite, else that of the points.
    detail::FiniteRange<D> range;
    bool finite_root = !(root_.min[0] > root_.max[0]);
    for (index_t axis = 0; axis < D; ++axis) {
        finite_root =
            finite_root && std::isfinite(root_.min[axis]) && std::isfinite(root_.max[axis]);
    }
    if (finite_root) {
        range.add(detail::coordinates(to_box(root_).min()));
        range.add(detail::coordinates(to_box(root_).max()));
    } else {
        for (const Point<D>& point : points) {
            range.add(detail::coordinates(point));
        }
    }
    const std::size_t size = points.size();
    auto items = detail::uninitialised<detail::Item>(size);
    auto scratch = detail::uninitialised<detail::Item>(size);
    for (std::size_t i = 0; i < size; ++i) {
        items[i] = i;
    }
    detail::sort_along_curve<D>(
        items.get(), scratch.get(), size, range.frame(),
        [points](index_t index) { return detail::coordinates(points[index]); },
        detail::max_refinements);
    for (std::size_t i = 0; i < size; ++i) {
        order.push_back(static_cast<std::size_t>(items[i] & 0xFFFFFFFFU));
    }
    return order;
}

template class CompactAABBTree<1>;
template class CompactAABBTree<2>;
template class CompactAABBTree<3>;

}  // namespace orvex
