#pragma once

#include <absl/hash/hash.h>
#include <absl/strings/str_cat.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "polvane/basic/index.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/export.h"

namespace orvex {

/// A point of the D-dimensional Euclidean space (D = 1, 2 or 3), a plain array of coordinates.
///
/// Equality is exact, coordinate by coordinate (so 0.0 == -0.0, and a point with a NaN
/// coordinate equals nothing, itself included). `inexact_equal` compares within the
/// library-wide tolerance `GLOBAL_EPSILON` (1e-6). `std::hash<Point<D>>` is consistent with
/// `==`: points that compare equal hash alike, 0.0 and -0.0 included.
template <index_t D>
class Point {
    static_assert(D >= 1 && D <= 3, "Point is provided for dimensions 1, 2 and 3");

public:
    static constexpr index_t dimension = D;

    /// The origin.
    constexpr Point() = default;

    constexpr explicit Point(const std::array<double, D>& values) : values_(values) {}

    [[nodiscard]] constexpr double value(index_t axis) const { return values_[axis]; }

    constexpr void set_value(index_t axis, double value) { values_[axis] = value; }

    [[nodiscard]] constexpr const std::array<double, D>& values() const { return values_; }

    [[nodiscard]] friend constexpr bool operator==(const Point& a, const Point& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            if (!(a.values_[axis] == b.values_[axis])) {
                return false;
            }
        }
        return true;
    }

    [[nodiscard]] friend constexpr bool operator!=(const Point& a, const Point& b) {
        return !(a == b);
    }

    [[nodiscard]] friend constexpr Point operator+(Point a, const Point& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            a.values_[axis] += b.values_[axis];
        }
        return a;
    }

    [[nodiscard]] friend constexpr Point operator-(Point a, const Point& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            a.values_[axis] -= b.values_[axis];
        }
        return a;
    }

    [[nodiscard]] friend constexpr Point operator*(Point a, double multiplier) {
        for (auto& value : a.values_) {
            value *= multiplier;
        }
        return a;
    }

    [[nodiscard]] friend constexpr Point operator*(double multiplier, const Point& a) {
        return a * multiplier;
    }

    /// \throw PolvaneException "[Point::operator/] Cannot divide Point by something close to
    /// zero" when |divider| is not greater than 1e-30 (a NaN divider included).
    [[nodiscard]] friend Point operator/(Point a, double divider) {
        if (!(std::fabs(divider) > 1e-30)) {
            throw PolvaneException{
                "[Point::operator/] Cannot divide Point by something close to zero"};
        }
        for (auto& value : a.values_) {
            value /= divider;
        }
        return a;
    }

    Point& operator+=(const Point& other) { return *this = *this + other; }

    Point& operator-=(const Point& other) { return *this = *this - other; }

    /// True when the two points are at most `GLOBAL_EPSILON` apart (Euclidean distance).
    [[nodiscard]] bool inexact_equal(const Point& other) const {
        double squared = 0;
        for (index_t axis = 0; axis < D; ++axis) {
            const double delta = values_[axis] - other.values_[axis];
            squared += delta * delta;
        }
        return squared <= GLOBAL_EPSILON * GLOBAL_EPSILON;
    }

    /// The coordinates separated by single spaces, each as `absl::StrCat` writes a double
    /// (six significant digits): "1 2.5 -3".
    [[nodiscard]] std::string string() const {
        std::string result = absl::StrCat(values_[0]);
        for (index_t axis = 1; axis < D; ++axis) {
            absl::StrAppend(&result, " ", values_[axis]);
        }
        return result;
    }

    template <typename H>
    friend H AbslHashValue(H h, const Point& point) {
        // Hash the values, not their bit patterns: absl hashes 0.0 and -0.0 alike.
        for (index_t axis = 0; axis < D; ++axis) {
            h = H::combine(std::move(h), point.values_[axis]);
        }
        return h;
    }

private:
    std::array<double, D> values_{};
};

using Point1D = Point<1>;
using Point2D = Point<2>;
using Point3D = Point<3>;

/// True when every coordinate of `point` is finite: no NaN, no infinity.
template <index_t D>
[[nodiscard]] bool is_finite(const Point<D>& point) {
    for (index_t axis = 0; axis < D; ++axis) {
        if (!std::isfinite(point.value(axis))) {
            return false;
        }
    }
    return true;
}

}  // namespace orvex

namespace std {
/// A 64-bit hash of a point, consistent with `==` (0.0 and -0.0 hash alike): Abseil's hash
/// (`absl::HashOf`) of the coordinates' bit patterns, -0.0 read as 0.0. Every coordinate goes
/// through Abseil's multiplicative mixing, so a one-ulp change of any coordinate changes about
/// half of the bits, and the mixing starts from Abseil's seed, which differs from process to
/// process: points whose hashes collide cannot be chosen without knowing it (no flooding of hash
/// tables with crafted coordinates). Hash values are therefore not stable from run to run.
template <orvex::index_t D>
struct hash<orvex::Point<D>> {
    size_t operator()(const orvex::Point<D>& point) const {
        if constexpr (D == 1) {
            return absl::HashOf(bits_of(point.value(0)));
        } else if constexpr (D == 2) {
            return absl::HashOf(bits_of(point.value(0)), bits_of(point.value(1)));
        } else {
            return absl::HashOf(bits_of(point.value(0)), bits_of(point.value(1)),
                                bits_of(point.value(2)));
        }
    }

private:
    // The bit pattern of the value, with -0.0 read as 0.0 (the one value besides 0.0 whose bits
    // are all zero once the sign bit is shifted out).
    static std::uint64_t bits_of(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return bits & (std::uint64_t{0} - static_cast<std::uint64_t>((bits << 1) != 0));
    }
};
}  // namespace std
