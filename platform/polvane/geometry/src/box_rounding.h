#pragma once

// Private to the geometry module: double-precision boxes rounded outward into the
// single-precision boxes of the bounding-box tree.

#include <cstdint>
#include <cstring>
#include <limits>

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

/// `box` rounded outward: it contains the double-precision box exactly. An empty axis stays
/// empty.
template <index_t D>
FloatBox<D> rounded_outward(const BoundingBox<D>& box) {
    FloatBox<D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result.min[axis] = round_down(box.min().value(axis));
        result.max[axis] = round_up(box.max().value(axis));
    }
    return result;
}

}  // namespace orvex::detail
