#pragma once

// Private to the geometry module: the frame of a bounding-box tree's stored boxes, chosen from
// the elements, and double-precision boxes rounded outward into its single-precision boxes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/detail/float_box.h"

namespace orvex::detail {

/// The largest float not above `value`; finite values beyond the float range go to the
/// infinity on their side only when rounding away from zero.
inline float round_down(double value) {
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

/// The smallest float not below `value`.
inline float round_up(double value) {
    return -round_down(-value);
}

/// `box` rounded outward in the identity frame: it contains the double-precision box exactly.
/// An empty axis stays empty.
template <index_t D>
FloatBox<D> encoded(const BoundingBox<D>& box) {
    FloatBox<D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result.min[axis] = round_down(box.min().value(axis));
        result.max[axis] = round_up(box.max().value(axis));
    }
    return result;
}

/// The same in `frame`.
template <index_t D>
FloatBox<D> encoded(const BoundingBox<D>& box, const BoxFrame<D>& frame) {
    FloatBox<D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result.min[axis] = round_down(frame.local_bound(axis, box.min().value(axis), false));
        result.max[axis] = round_up(frame.local_bound(axis, box.max().value(axis), true));
    }
    return result;
}

/// The frame of the boxes of n elements (n >= 1) whose centres `center(i)` gives, as arrays of
/// D doubles, from a sample of at most 1024 centres evenly spaced in the element order, robust
/// to a few far-away elements: per axis, the range between the 1/64 and 63/64 quantiles of the
/// sample, its largest extent over the axes L, and its middle m.
/// - The origin of an axis is 0 unless |m| > 4 L; then it is m, so that points near the bulk
///   of the elements are measured exactly from it (they lie within half of it).
/// - The scale is 1 unless L is beyond 2^±64, where single precision would lose the extreme
///   magnitudes; then it is the power of two that brings L near 1.
/// Where the sample has no finite extent (all its centres equal, or not finite), its largest
/// finite magnitude stands for L (1 if none).
template <index_t D, typename Center>
BoxFrame<D> robust_frame(index_t n, const Center& center) {
    constexpr index_t samples = 1024;
    const index_t count = std::min(n, samples);
    std::array<std::vector<double>, D> values;
    for (index_t k = 0; k < count; ++k) {
        const auto c = center(static_cast<index_t>(static_cast<std::uint64_t>(k) * n / count));
        for (index_t axis = 0; axis < D; ++axis) {
            if (std::isfinite(c[axis])) {
                values[axis].push_back(c[axis]);
            }
        }
    }
    std::array<double, D> middle{};
    double extent = 0;
    double magnitude = 0;
    for (index_t axis = 0; axis < D; ++axis) {
        auto& axis_values = values[axis];
        if (axis_values.empty()) {
            continue;
        }
        std::sort(axis_values.begin(), axis_values.end());
        const std::size_t cut = axis_values.size() / 64;
        const double low = axis_values[cut];
        const double high = axis_values[axis_values.size() - 1 - cut];
        middle[axis] = 0.5 * low + 0.5 * high;
        // Halves, so that a range near the largest doubles does not overflow.
        extent = std::max(
            extent, std::min(0.5 * high - 0.5 * low, 0.5 * std::numeric_limits<double>::max()) * 2);
        magnitude = std::max({magnitude, std::fabs(low), std::fabs(high)});
    }
    if (!(extent > 0)) {
        extent = magnitude > 0 ? magnitude : 1;
    }
    BoxFrame<D> frame;
    const int exponent = std::clamp(std::ilogb(extent), -1000, 1000);
    if (exponent > 64 || exponent < -64) {
        frame.scale = std::ldexp(1.0, -exponent);
        frame.inverse = std::ldexp(1.0, exponent);
    }
    for (index_t axis = 0; axis < D; ++axis) {
        frame.origin[axis] = std::fabs(middle[axis]) > 4 * extent ? middle[axis] : 0.0;
    }
    return frame;
}

// Computes the boxes of the inner nodes bottom-up, in one depth-first pass over the leaves,
// from the rounded boxes of the elements in leaf order: `leaf_box(position)` gives the one at a
// leaf position, and is called once per position, in increasing order.
template <index_t D, typename LeafBox>
class BoxBuilder {
public:
    BoxBuilder(const LeafBox& leaf_box, ChildBoxes<D>* inner)
        : leaf_box_(leaf_box), inner_(inner) {}

    // The box of the node covering [begin, end) whose record, if inner, is at `index`.
    FloatBox<D> node(std::size_t index, index_t begin, index_t end) {
        if (end - begin == 1) {
            return leaf_box_(begin);
        }
        if (end - begin == 2) {
            // Half the inner nodes: two leaves, measured here rather than by two calls.
            const FloatBox<D> left = leaf_box_(begin);
            const FloatBox<D> right = leaf_box_(begin + 1);
            return joined(index, left, right);
        }
        const index_t middle = begin + (end - begin) / 2;
        const FloatBox<D> left = node(index + 1, begin, middle);
        const FloatBox<D> right = node(index + (middle - begin), middle, end);
        return joined(index, left, right);
    }

private:
    // Stores the record of the node at `index` and returns its box.
    FloatBox<D> joined(std::size_t index, const FloatBox<D>& left, const FloatBox<D>& right) {
        inner_[index] = ChildBoxes<D>::of(left, right);
        FloatBox<D> box = left;
        box.add(right);
        return box;
    }

    const LeafBox& leaf_box_;
    ChildBoxes<D>* inner_;
};

}  // namespace orvex::detail
