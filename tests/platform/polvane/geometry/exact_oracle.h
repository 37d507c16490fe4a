#pragma once

// A slow, exact reference for the geometry tests, written independently of the library: big
// integers on std::vector, rational squared distances, brute-force case analysis. The points of
// one query are first multiplied by a common power of two that makes every coordinate an
// integer; distances scale by the same factor and signs do not change.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "polvane/geometry/point.h"

namespace orvex::test {

class BigInt {
public:
    BigInt() = default;

    explicit BigInt(std::int64_t value) : negative_(value < 0) {
        std::uint64_t magnitude =
            negative_ ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        while (magnitude != 0) {
            digits_.push_back(static_cast<std::uint32_t>(magnitude));
            magnitude >>= 32;
        }
        normalize();
    }

    [[nodiscard]] BigInt shifted_left(int bits) const {
        BigInt result;
        result.negative_ = negative_;
        result.digits_.assign(static_cast<std::size_t>(bits / 32), 0U);
        std::uint64_t carry = 0;
        for (const std::uint32_t digit : digits_) {
            const std::uint64_t wide = (static_cast<std::uint64_t>(digit) << (bits % 32)) | carry;
            result.digits_.push_back(static_cast<std::uint32_t>(wide));
            carry = wide >> 32;
        }
        result.digits_.push_back(static_cast<std::uint32_t>(carry));
        result.normalize();
        return result;
    }

    [[nodiscard]] int sign() const {
        if (digits_.empty()) {
            return 0;
        }
        return negative_ ? -1 : 1;
    }

    [[nodiscard]] long double to_long_double() const {
        long double result = 0;
        for (std::size_t i = digits_.size(); i-- > 0;) {
            result = result * 4294967296.0L + digits_[i];
        }
        return negative_ ? -result : result;
    }

    friend BigInt operator-(BigInt a) {
        a.negative_ = !a.negative_;
        a.normalize();
        return a;
    }

    friend BigInt operator+(const BigInt& a, const BigInt& b) {
        if (a.negative_ == b.negative_) {
            BigInt result = add_magnitudes(a, b);
            result.negative_ = a.negative_;
            result.normalize();
            return result;
        }
        const bool a_larger = compare_magnitudes(a, b) >= 0;
        BigInt result = a_larger ? subtract_magnitudes(a, b) : subtract_magnitudes(b, a);
        result.negative_ = a_larger ? a.negative_ : b.negative_;
        result.normalize();
        return result;
    }

    friend BigInt operator-(const BigInt& a, const BigInt& b) { return a + (-b); }

    friend BigInt operator*(const BigInt& a, const BigInt& b) {
        BigInt result;
        result.digits_.assign(a.digits_.size() + b.digits_.size(), 0U);
        for (std::size_t i = 0; i < a.digits_.size(); ++i) {
            std::uint64_t carry = 0;
            for (std::size_t j = 0; j < b.digits_.size(); ++j) {
                const std::uint64_t wide = static_cast<std::uint64_t>(a.digits_[i]) * b.digits_[j]
                                           + result.digits_[i + j] + carry;
                result.digits_[i + j] = static_cast<std::uint32_t>(wide);
                carry = wide >> 32;
            }
            result.digits_[i + b.digits_.size()] = static_cast<std::uint32_t>(carry);
        }
        result.negative_ = a.negative_ != b.negative_;
        result.normalize();
        return result;
    }

    friend bool operator<(const BigInt& a, const BigInt& b) { return (a - b).sign() < 0; }

    friend bool operator<=(const BigInt& a, const BigInt& b) { return (a - b).sign() <= 0; }

private:
    static BigInt add_magnitudes(const BigInt& a, const BigInt& b) {
        BigInt result;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < std::max(a.digits_.size(), b.digits_.size()); ++i) {
            const std::uint64_t wide = carry + (i < a.digits_.size() ? a.digits_[i] : 0U)
                                       + (i < b.digits_.size() ? b.digits_[i] : 0U);
            result.digits_.push_back(static_cast<std::uint32_t>(wide));
            carry = wide >> 32;
        }
        result.digits_.push_back(static_cast<std::uint32_t>(carry));
        return result;
    }

    static BigInt subtract_magnitudes(const BigInt& larger, const BigInt& smaller) {
        BigInt result;
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < larger.digits_.size(); ++i) {
            std::int64_t wide = static_cast<std::int64_t>(larger.digits_[i])
                                - (i < smaller.digits_.size() ? smaller.digits_[i] : 0U) - borrow;
            borrow = wide < 0 ? 1 : 0;
            result.digits_.push_back(static_cast<std::uint32_t>(wide + (borrow << 32)));
        }
        return result;
    }

    static int compare_magnitudes(const BigInt& a, const BigInt& b) {
        if (a.digits_.size() != b.digits_.size()) {
            return a.digits_.size() < b.digits_.size() ? -1 : 1;
        }
        for (std::size_t i = a.digits_.size(); i-- > 0;) {
            if (a.digits_[i] != b.digits_[i]) {
                return a.digits_[i] < b.digits_[i] ? -1 : 1;
            }
        }
        return 0;
    }

    void normalize() {
        while (!digits_.empty() && digits_.back() == 0) {
            digits_.pop_back();
        }
        if (digits_.empty()) {
            negative_ = false;
        }
    }

    std::vector<std::uint32_t> digits_;  // little end first
    bool negative_{false};
};

template <std::size_t D>
using IntPoint = std::array<BigInt, D>;

/// A non-negative fraction; compared by cross-multiplication.
struct Fraction {
    BigInt numerator;
    BigInt denominator{1};

    friend bool operator<(const Fraction& a, const Fraction& b) {
        return a.numerator * b.denominator < b.numerator * a.denominator;
    }
};

/// The points of one query as integers, and the power of two that was applied.
template <index_t D, std::size_t N>
struct ExactQuery {
    std::array<IntPoint<D>, N> points;
    int scale_exponent{0};  // integer = value * 2^scale_exponent
};

template <index_t D, std::size_t N>
ExactQuery<D, N> make_exact(const std::array<Point<D>, N>& points) {
    ExactQuery<D, N> query;
    int smallest = 0;
    for (const auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            if (point.value(axis) != 0) {
                int exponent = 0;
                std::frexp(point.value(axis), &exponent);
                smallest = std::min(smallest, exponent - 53);
            }
        }
    }
    query.scale_exponent = -smallest;
    for (std::size_t i = 0; i < N; ++i) {
        for (index_t axis = 0; axis < D; ++axis) {
            if (points[i].value(axis) == 0) {
                continue;
            }
            int exponent = 0;
            const double fraction = std::frexp(points[i].value(axis), &exponent);
            const auto significand = static_cast<std::int64_t>(std::ldexp(fraction, 53));
            query.points[i][axis] = BigInt{significand}.shifted_left(exponent - 53 - smallest);
        }
    }
    return query;
}

template <std::size_t D>
IntPoint<D> minus(const IntPoint<D>& a, const IntPoint<D>& b) {
    IntPoint<D> result;
    for (std::size_t axis = 0; axis < D; ++axis) {
        result[axis] = a[axis] - b[axis];
    }
    return result;
}

template <std::size_t D>
BigInt dot(const IntPoint<D>& a, const IntPoint<D>& b) {
    BigInt result;
    for (std::size_t axis = 0; axis < D; ++axis) {
        result = result + a[axis] * b[axis];
    }
    return result;
}

inline IntPoint<3> cross(const IntPoint<3>& a, const IntPoint<3>& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

inline int orientation_sign(const IntPoint<2>& a, const IntPoint<2>& b, const IntPoint<2>& c) {
    const auto u = minus(b, a);
    const auto v = minus(c, a);
    return (u[0] * v[1] - u[1] * v[0]).sign();
}

inline int orientation_sign(const IntPoint<3>& a, const IntPoint<3>& b, const IntPoint<3>& c,
                            const IntPoint<3>& d) {
    return dot(minus(b, a), cross(minus(c, a), minus(d, a))).sign();
}

template <std::size_t D>
Fraction squared_point_segment(const IntPoint<D>& p, const IntPoint<D>& a, const IntPoint<D>& b) {
    const auto ab = minus(b, a);
    const auto ap = minus(p, a);
    const BigInt along = dot(ap, ab);
    const BigInt length2 = dot(ab, ab);
    if (length2.sign() == 0 || along.sign() <= 0) {
        return {dot(ap, ap)};
    }
    if (length2 <= along) {
        const auto bp = minus(p, b);
        return {dot(bp, bp)};
    }
    return {dot(ap, ap) * length2 - along * along, length2};
}

inline Fraction squared_point_triangle(const IntPoint<3>& p, const IntPoint<3>& a,
                                       const IntPoint<3>& b, const IntPoint<3>& c) {
    const auto normal = cross(minus(b, a), minus(c, a));
    const BigInt normal2 = dot(normal, normal);
    if (normal2.sign() != 0 && dot(cross(minus(b, a), minus(p, a)), normal).sign() >= 0
        && dot(cross(minus(c, b), minus(p, b)), normal).sign() >= 0
        && dot(cross(minus(a, c), minus(p, c)), normal).sign() >= 0) {
        const BigInt height = dot(minus(p, a), normal);
        return {height * height, normal2};
    }
    return std::min({squared_point_segment(p, a, b), squared_point_segment(p, b, c),
                     squared_point_segment(p, c, a)});
}

inline Fraction squared_segment_segment(const IntPoint<3>& p0, const IntPoint<3>& p1,
                                        const IntPoint<3>& q0, const IntPoint<3>& q1) {
    const auto d0 = minus(p1, p0);
    const auto d1 = minus(q1, q0);
    const auto r = minus(q0, p0);
    const auto normal = cross(d0, d1);
    const BigInt normal2 = dot(normal, normal);
    if (normal2.sign() != 0) {
        const BigInt s = dot(cross(r, d1), normal);
        const BigInt t = dot(cross(r, d0), normal);
        if (s.sign() >= 0 && s <= normal2 && t.sign() >= 0 && t <= normal2) {
            const BigInt height = dot(r, normal);
            return {height * height, normal2};
        }
    }
    return std::min({squared_point_segment(p0, q0, q1), squared_point_segment(p1, q0, q1),
                     squared_point_segment(q0, p0, p1), squared_point_segment(q1, p0, p1)});
}

/// The distance in the caller's units, from an exact squared distance of a scaled query.
inline long double to_distance(const Fraction& squared, int scale_exponent) {
    return std::ldexp(
        std::sqrt(squared.numerator.to_long_double() / squared.denominator.to_long_double()),
        -scale_exponent);
}

inline long double exact_point_segment_distance(const Point<3>& p, const Point<3>& a,
                                                const Point<3>& b) {
    const auto query = make_exact<3, 3>({p, a, b});
    const auto& q = query.points;
    return to_distance(squared_point_segment(q[0], q[1], q[2]), query.scale_exponent);
}

inline long double exact_point_triangle_distance(const Point<3>& p, const Point<3>& a,
                                                 const Point<3>& b, const Point<3>& c) {
    const auto query = make_exact<3, 4>({p, a, b, c});
    const auto& q = query.points;
    return to_distance(squared_point_triangle(q[0], q[1], q[2], q[3]), query.scale_exponent);
}

inline long double exact_segment_segment_distance(const Point<3>& p0, const Point<3>& p1,
                                                  const Point<3>& q0, const Point<3>& q1) {
    const auto query = make_exact<3, 4>({p0, p1, q0, q1});
    const auto& q = query.points;
    return to_distance(squared_segment_segment(q[0], q[1], q[2], q[3]), query.scale_exponent);
}

inline long double exact_point_tetrahedron_distance(const Point<3>& p,
                                                    const std::array<Point<3>, 4>& tetrahedron) {
    const auto query =
        make_exact<3, 5>({p, tetrahedron[0], tetrahedron[1], tetrahedron[2], tetrahedron[3]});
    const auto& q = query.points;
    const int volume = orientation_sign(q[1], q[2], q[3], q[4]);
    if (volume != 0) {
        bool inside = true;
        for (std::size_t replaced = 1; replaced <= 4; ++replaced) {
            auto corners = std::array<IntPoint<3>, 4>{q[1], q[2], q[3], q[4]};
            corners[replaced - 1] = q[0];
            const int sign = orientation_sign(corners[0], corners[1], corners[2], corners[3]);
            inside = inside && (sign == 0 || sign == volume);
        }
        if (inside) {
            return 0;
        }
    }
    return to_distance(std::min({squared_point_triangle(q[0], q[2], q[3], q[4]),
                                 squared_point_triangle(q[0], q[1], q[3], q[4]),
                                 squared_point_triangle(q[0], q[1], q[2], q[4]),
                                 squared_point_triangle(q[0], q[1], q[2], q[3])}),
                       query.scale_exponent);
}

inline int exact_triangle_sign(const std::array<Point<2>, 3>& triangle) {
    const auto q = make_exact<2, 3>(triangle).points;
    return orientation_sign(q[0], q[1], q[2]);
}

inline int exact_tetrahedron_sign(const std::array<Point<3>, 4>& tetrahedron) {
    const auto q = make_exact<3, 4>(tetrahedron).points;
    return orientation_sign(q[0], q[1], q[2], q[3]);
}

}  // namespace orvex::test
