#pragma once

#include <array>
#include <cmath>
#include <string>

#include "polvane/basic/index.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A displacement of the D-dimensional space (D = 1, 2 or 3).
template <index_t D>
class Vector {
    static_assert(D >= 1 && D <= 3, "Vector is provided for dimensions 1, 2 and 3");

public:
    constexpr Vector() = default;

    constexpr explicit Vector(const std::array<double, D>& values) : values_(values) {}

    /// The vector from `from` to `to`.
    constexpr Vector(const Point<D>& from, const Point<D>& to) {
        for (index_t axis = 0; axis < D; ++axis) {
            values_[axis] = to.value(axis) - from.value(axis);
        }
    }

    [[nodiscard]] constexpr double value(index_t axis) const { return values_[axis]; }

    constexpr void set_value(index_t axis, double value) { values_[axis] = value; }

    [[nodiscard]] constexpr const std::array<double, D>& values() const { return values_; }

    [[nodiscard]] constexpr double dot(const Vector& other) const {
        double result = 0;
        for (index_t axis = 0; axis < D; ++axis) {
            result += values_[axis] * other.values_[axis];
        }
        return result;
    }

    [[nodiscard]] constexpr double length2() const { return dot(*this); }

    /// The Euclidean length, computed without overflow or underflow for any finite
    /// coordinates (`std::hypot`).
    [[nodiscard]] double length() const {
        if constexpr (D == 1) {
            return std::fabs(values_[0]);
        } else if constexpr (D == 2) {
            return std::hypot(values_[0], values_[1]);
        } else {
            return std::hypot(values_[0], values_[1], values_[2]);
        }
    }

    /// This vector divided by its length.
    /// \throw PolvaneException "[Vector::normalize] Cannot normalize a vector of length close
    /// to zero" when the length is not greater than 1e-30 (NaN included).
    [[nodiscard]] Vector normalize() const {
        const double norm = length();
        if (!(norm > 1e-30)) {
            throw PolvaneException{
                "[Vector::normalize] Cannot normalize a vector of length close to zero"};
        }
        return *this / norm;
    }

    [[nodiscard]] friend constexpr bool operator==(const Vector& a, const Vector& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            if (!(a.values_[axis] == b.values_[axis])) {
                return false;
            }
        }
        return true;
    }

    [[nodiscard]] friend constexpr bool operator!=(const Vector& a, const Vector& b) {
        return !(a == b);
    }

    [[nodiscard]] friend constexpr Vector operator+(Vector a, const Vector& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            a.values_[axis] += b.values_[axis];
        }
        return a;
    }

    [[nodiscard]] friend constexpr Vector operator-(Vector a, const Vector& b) {
        for (index_t axis = 0; axis < D; ++axis) {
            a.values_[axis] -= b.values_[axis];
        }
        return a;
    }

    [[nodiscard]] friend constexpr Vector operator*(Vector a, double multiplier) {
        for (auto& value : a.values_) {
            value *= multiplier;
        }
        return a;
    }

    [[nodiscard]] friend constexpr Vector operator*(double multiplier, const Vector& a) {
        return a * multiplier;
    }

    [[nodiscard]] friend constexpr Vector operator/(Vector a, double divider) {
        for (auto& value : a.values_) {
            value /= divider;
        }
        return a;
    }

    /// The cross product (3D only).
    template <index_t E = D, typename = std::enable_if_t<E == 3>>
    [[nodiscard]] constexpr Vector cross(const Vector& other) const {
        return Vector{{values_[1] * other.values_[2] - values_[2] * other.values_[1],
                       values_[2] * other.values_[0] - values_[0] * other.values_[2],
                       values_[0] * other.values_[1] - values_[1] * other.values_[0]}};
    }

    /// The coordinates separated by single spaces, as `Point::string` writes them.
    [[nodiscard]] std::string string() const { return Point<D>{values_}.string(); }

private:
    std::array<double, D> values_{};
};

using Vector1D = Vector<1>;
using Vector2D = Vector<2>;
using Vector3D = Vector<3>;

/// The point `point` moved by `displacement`.
template <index_t D>
[[nodiscard]] constexpr Point<D> operator+(const Point<D>& point, const Vector<D>& displacement) {
    Point<D> result{point};
    for (index_t axis = 0; axis < D; ++axis) {
        result.set_value(axis, point.value(axis) + displacement.value(axis));
    }
    return result;
}

}  // namespace orvex
