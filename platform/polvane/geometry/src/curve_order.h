#pragma once

// Private to the geometry module: the order of elements (by their box centres) and of query
// points along a Hilbert curve, which gives the bounding-box tree its leaf order and the
// batch queries their order. Sorting is by radix, in linear time.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "hilbert_curve.h"
#include "polvane/basic/detail/huge_pages.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/point.h"

namespace orvex::detail {

/// A sort item: the curve key in the upper 32 bits, the element (or point) index in the lower
/// 32 bits. Sorting the items by key, stably, orders by (key, index).
using CurveItem = std::uint64_t;

/// The index held by a sort item.
inline index_t item_index(CurveItem item) {
    return static_cast<index_t>(item & 0xFFFFFFFFU);
}

/// The key held by a sort item.
inline std::uint32_t item_key(CurveItem item) {
    return static_cast<std::uint32_t>(item >> 32U);
}

/// A buffer that is filled before it is read: no value initialisation, so no zero fill.
template <typename T>
std::unique_ptr<T[]> uninitialised(std::size_t size) {
    std::unique_ptr<T[]> buffer(new T[size]);  // NOLINT(cppcoreguidelines-owning-memory)
    advise_huge_pages(buffer.get(), size * sizeof(T));
    return buffer;
}

/// The quantisation of coordinates onto the cells of a curve: each axis of a box is cut into
/// 2^bits equal cells, so that the box's midplanes (and those of its halves, quarters, ...)
/// are cell boundaries, and centres on either side of one fall on that side. (With a scale of
/// 2^bits - 1 the midplane lay inside a cell. On the benchmarks' jittered grid of 55 cells
/// per axis, whose middle layer of elements is centred on the midplane up to the jitter, that
/// cell took the whole layer into the curve's first half, 9,000 elements more than the
/// tree's count-halving split gives the root's left child; the rest, the tail of the first
/// half, stretched the right child's box over a quarter of the cube. Batches of tetrahedra
/// and triangles were 4 to 6 % slower.)
template <index_t D>
class CurveFrame {
public:
    /// Bits per axis: 8 in 3D, 12 in 2D (24-bit keys), 32 in 1D.
    static constexpr unsigned bits = D == 3 ? 8 : D == 2 ? 12 : 32;

    /// The frame of the finite coordinates in [low, high] per axis; an axis without any finite
    /// coordinate (low > high) maps everything to cell 0.
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

    /// The key of a point: its cell coordinates interleaved. NaN reads as 0; coordinates
    /// outside the frame (infinite ones included) fall into its nearest cell.
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

/// Bounds of the finite values met, per axis (NaN read as 0).
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

    /// Like `add`, except that NaN values are left out rather than read as 0.
    void add_finite(const std::array<double, D>& point) {
        for (index_t axis = 0; axis < D; ++axis) {
            const double value = point[axis];
            if (std::isfinite(value)) {
                low[axis] = value < low[axis] ? value : low[axis];
                high[axis] = value > high[axis] ? value : high[axis];
            }
        }
    }

    [[nodiscard]] CurveFrame<D> frame() const { return CurveFrame<D>{low, high}; }
};

/// The coordinates of a point as an array.
template <index_t D>
std::array<double, D> coordinates(const Point<D>& point) {
    return point.values();
}

/// The centre of a box, halved first so that it does not overflow.
template <index_t D>
std::array<double, D> box_center(const BoundingBox<D>& box) {
    std::array<double, D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result[axis] = 0.5 * box.min().value(axis) + 0.5 * box.max().value(axis);
    }
    return result;
}

/// Sorts items[0, size) by their keys, stably, in linear time for large sizes. `scratch` holds
/// at least `size` items; size < 2^32.
void radix_sort(CurveItem* items, CurveItem* scratch, std::size_t size);

/// Runs of equal keys longer than this are sorted again on their own bounding box.
constexpr std::size_t refine_run = 32;
/// How deep runs are sorted again at most: any order gives a correct tree, this only bounds
/// the work on inputs made to defeat the curve (64 passes over the elements at worst).
constexpr int max_refinements = 64;

/// A frame of the centres of items[0, size) that a few far-away centres do not stretch: per
/// axis, the window from the 1/64 to the 63/64 quantile of a sample of at most 1024 centres,
/// widened by its own width on either side, and the frame the exact range of the centres in
/// that window, so that the bulk's own midplanes stay cell boundaries (as in the frame of a
/// mesh without outliers). Centres outside it fall into its edge cells.
template <index_t D, typename Center>
CurveFrame<D> robust_frame(const CurveItem* items, std::size_t size, const Center& center) {
    constexpr std::size_t samples = 1024;
    const std::size_t count = std::min(size, samples);
    std::array<std::array<double, samples>, D> values{};
    for (std::size_t k = 0; k < count; ++k) {
        const auto c = center(item_index(items[k * size / count]));
        for (index_t axis = 0; axis < D; ++axis) {
            values[axis][k] = std::isnan(c[axis]) ? 0.0 : c[axis];
        }
    }
    std::array<double, D> window_low{};
    std::array<double, D> window_high{};
    const std::size_t cut = count / 64;
    for (index_t axis = 0; axis < D; ++axis) {
        double* first = values[axis].data();
        std::nth_element(first, first + cut, first + count);
        const double low = first[cut];
        std::nth_element(first, first + (count - 1 - cut), first + count);
        const double high = first[count - 1 - cut];
        // Halves, so that the width of a range near the largest doubles does not overflow.
        const double half_width = 0.5 * high - 0.5 * low;
        window_low[axis] = low - 2 * half_width;
        window_high[axis] = high + 2 * half_width;
    }
    FiniteRange<D> range;
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = center(item_index(items[i]));
        std::array<double, D> kept{};
        for (index_t axis = 0; axis < D; ++axis) {
            const bool inside = c[axis] >= window_low[axis] && c[axis] <= window_high[axis];
            kept[axis] = inside ? c[axis] : std::numeric_limits<double>::quiet_NaN();
        }
        range.add_finite(kept);
    }
    return range.frame();
}

/// The length of the longest run of equal keys of items[0, size) (sorted by key).
inline std::size_t longest_run(const CurveItem* items, std::size_t size) {
    std::size_t longest = 0;
    std::size_t begin = 0;
    while (begin < size) {
        std::size_t end = begin + 1;
        while (end < size && item_key(items[end]) == item_key(items[begin])) {
            ++end;
        }
        longest = std::max(longest, end - begin);
        begin = end;
    }
    return longest;
}

/// Gives every item the key of its centre in `frame`, sorts them, and returns the length of
/// the longest run of equal keys.
template <index_t D, typename Center>
std::size_t key_and_sort(CurveItem* items, CurveItem* scratch, std::size_t size,
                         const CurveFrame<D>& frame, const Center& center) {
    for (std::size_t i = 0; i < size; ++i) {
        const index_t index = item_index(items[i]);
        items[i] = (CurveItem{frame.key(center(index))} << 32U) | index;
    }
    radix_sort(items, scratch, size);
    return longest_run(items, size);
}

/// Sorts items[0, size) by the keys of their centres in `frame` (already keyed in `frame`
/// when `keyed`) and returns the length of the longest run of equal keys. Where `frame` leaves
/// more than 7/8 of them in one cell (a few far-away centres squeezing the others together),
/// they are sorted on their `robust_frame` instead, unless that does worse: far-away centres
/// then fall into its edge cells, beside the elements nearest to them in the order, so that
/// the tree's nodes that hold them reach out of the mesh on that side only.
template <index_t D, typename Center>
std::size_t sort_in_frame(CurveItem* items, CurveItem* scratch, std::size_t size,
                          const CurveFrame<D>& frame, const Center& center, bool keyed) {
    std::size_t longest = 0;
    if (keyed) {
        radix_sort(items, scratch, size);
        longest = longest_run(items, size);
    } else {
        longest = key_and_sort(items, scratch, size, frame, center);
    }
    if (size > refine_run && longest > size - size / 8) {
        const std::size_t quantile_longest =
            key_and_sort(items, scratch, size, robust_frame<D>(items, size, center), center);
        if (quantile_longest > longest) {
            key_and_sort(items, scratch, size, frame, center);
        } else {
            longest = quantile_longest;
        }
    }
    return longest;
}

/// Sorts again each run of equal keys of items[0, size) (sorted by key) that is longer than
/// `refine_run` on the frame of its own centres (see `sort_in_frame`), and so on, until runs
/// are short, their centres cannot be told apart, or `refinements_left` is spent.
template <index_t D, typename Center>
void refine_runs(CurveItem* items, CurveItem* scratch, std::size_t size, const Center& center,
                 int refinements_left) {
    if (refinements_left == 0) {
        return;
    }
    std::size_t begin = 0;
    while (begin < size) {
        std::size_t end = begin + 1;
        while (end < size && item_key(items[end]) == item_key(items[begin])) {
            ++end;
        }
        const std::size_t length = end - begin;
        if (length > refine_run) {
            CurveItem* run = items + begin;
            FiniteRange<D> range;
            for (std::size_t i = 0; i < length; ++i) {
                range.add(center(item_index(run[i])));
            }
            // A run that neither frame splits holds centres that cannot be told apart.
            if (sort_in_frame<D>(run, scratch, length, range.frame(), center, false) < length) {
                refine_runs<D>(run, scratch, length, center, refinements_left - 1);
            }
        }
        begin = end;
    }
}

/// Sorts items[0, size) along the curve of their centres: `sort_in_frame`, then
/// `refine_runs`. `center(index)` gives the centre of the element or point with that index, as
/// an array of D doubles. With `keyed`, the items already hold the keys of their centres in
/// `frame`.
template <index_t D, typename Center>
void sort_along_curve(CurveItem* items, CurveItem* scratch, std::size_t size,
                      const CurveFrame<D>& frame, const Center& center, bool keyed = false) {
    sort_in_frame<D>(items, scratch, size, frame, center, keyed);
    refine_runs<D>(items, scratch, size, center, max_refinements);
}

}  // namespace orvex::detail
