#include "polvane/geometry/orientation.h"

#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>

namespace orvex {
namespace {

// Signs are found in two stages. The floating-point filter (inline, in orientation.h) computes
// the determinant in double together with a bound on its rounding error (Shewchuk's static
// bounds, made relative to the actual magnitudes); when the determinant is farther from zero
// than the bound, its sign is certain. Otherwise the determinant is recomputed exactly with
// integers: every finite double is an integer times a power of two, so after scaling all
// coordinates by one common power of two they become integers, and the determinant, a polynomial
// with integer coefficients, is computed without any rounding. Scaling by a positive factor leaves
// the sign unchanged.
//
// The exact stage is rare (flat or nearly flat elements) and needs no limit on the exponents:
// a double spans at most 2^2098 (from 2^-1074 to 2^1024), so a coordinate becomes an integer
// below 2^2099, a difference below 2^2100, and a product of three differences below 2^6300.

SIDE side_of(int sign) {
    if (sign > 0) {
        return SIDE::positive;
    }
    return sign < 0 ? SIDE::negative : SIDE::zero;
}

// A signed integer of up to kCapacity 32-bit limbs, little end first, just large enough for a
// 3x3 determinant of differences of scaled doubles.
class ExactInteger {
public:
    static constexpr int kCapacity = 200;

    ExactInteger() = default;

    // |significand| * 2^shift with the sign of `significand`.
    ExactInteger(std::int64_t significand, int shift) {
        negative_ = significand < 0;
        std::uint64_t magnitude = negative_ ? 0 - static_cast<std::uint64_t>(significand)
                                            : static_cast<std::uint64_t>(significand);
        if (magnitude == 0) {
            negative_ = false;
            return;
        }
        const int limb_shift = shift / 32;
        const int bit_shift = shift % 32;
        for (int limb = 0; limb < limb_shift; ++limb) {
            limbs_[limb] = 0;
        }
        size_ = limb_shift;
        // Up to 64 + 31 significant bits: at most three limbs.
        std::uint64_t low = magnitude << bit_shift;
        const std::uint64_t high = bit_shift == 0 ? 0 : magnitude >> (64 - bit_shift);
        limbs_[size_++] = static_cast<std::uint32_t>(low);
        limbs_[size_++] = static_cast<std::uint32_t>(low >> 32);
        limbs_[size_++] = static_cast<std::uint32_t>(high);
        trim();
    }

    [[nodiscard]] int sign() const {
        if (size_ == 0) {
            return 0;
        }
        return negative_ ? -1 : 1;
    }

    friend ExactInteger operator+(const ExactInteger& a, const ExactInteger& b) {
        return add(a, b, false);
    }

    friend ExactInteger operator-(const ExactInteger& a, const ExactInteger& b) {
        return add(a, b, true);
    }

    friend ExactInteger operator*(const ExactInteger& a, const ExactInteger& b) {
        ExactInteger result;
        if (a.size_ == 0 || b.size_ == 0) {
            return result;
        }
        result.size_ = a.size_ + b.size_;
        assert(result.size_ <= kCapacity);
        for (int limb = 0; limb < result.size_; ++limb) {
            result.limbs_[limb] = 0;
        }
        for (int i = 0; i < a.size_; ++i) {
            std::uint64_t carry = 0;
            for (int j = 0; j < b.size_; ++j) {
                // At most (2^32 - 1)^2 + 2 (2^32 - 1) < 2^64: no overflow.
                const std::uint64_t sum = static_cast<std::uint64_t>(a.limbs_[i]) * b.limbs_[j]
                                          + result.limbs_[i + j] + carry;
                result.limbs_[i + j] = static_cast<std::uint32_t>(sum);
                carry = sum >> 32;
            }
            result.limbs_[i + b.size_] = static_cast<std::uint32_t>(carry);
        }
        result.negative_ = a.negative_ != b.negative_;
        result.trim();
        return result;
    }

private:
    // a + b, or a - b when `subtract` is set.
    static ExactInteger add(const ExactInteger& a, const ExactInteger& b, bool subtract) {
        const bool b_negative = b.negative_ != subtract;
        if (a.negative_ == b_negative) {
            ExactInteger result = add_magnitudes(a, b);
            result.negative_ = a.negative_;
            result.trim();
            return result;
        }
        if (compare_magnitudes(a, b) >= 0) {
            ExactInteger result = subtract_magnitudes(a, b);
            result.negative_ = a.negative_;
            result.trim();
            return result;
        }
        ExactInteger result = subtract_magnitudes(b, a);
        result.negative_ = b_negative;
        result.trim();
        return result;
    }

    static ExactInteger add_magnitudes(const ExactInteger& a, const ExactInteger& b) {
        const ExactInteger& longer = a.size_ >= b.size_ ? a : b;
        const ExactInteger& shorter = a.size_ >= b.size_ ? b : a;
        ExactInteger result;
        std::uint64_t carry = 0;
        for (int limb = 0; limb < longer.size_; ++limb) {
            const std::uint64_t sum = static_cast<std::uint64_t>(longer.limbs_[limb])
                                      + (limb < shorter.size_ ? shorter.limbs_[limb] : 0U) + carry;
            result.limbs_[limb] = static_cast<std::uint32_t>(sum);
            carry = sum >> 32;
        }
        result.size_ = longer.size_;
        if (carry != 0) {
            assert(result.size_ < kCapacity);
            result.limbs_[result.size_++] = static_cast<std::uint32_t>(carry);
        }
        return result;
    }

    // |a| - |b|, given |a| >= |b|.
    static ExactInteger subtract_magnitudes(const ExactInteger& a, const ExactInteger& b) {
        ExactInteger result;
        std::int64_t borrow = 0;
        for (int limb = 0; limb < a.size_; ++limb) {
            std::int64_t difference = static_cast<std::int64_t>(a.limbs_[limb])
                                      - (limb < b.size_ ? b.limbs_[limb] : 0U) - borrow;
            borrow = difference < 0 ? 1 : 0;
            difference += borrow << 32;
            result.limbs_[limb] = static_cast<std::uint32_t>(difference);
        }
        result.size_ = a.size_;
        return result;
    }

    static int compare_magnitudes(const ExactInteger& a, const ExactInteger& b) {
        if (a.size_ != b.size_) {
            return a.size_ < b.size_ ? -1 : 1;
        }
        for (int limb = a.size_ - 1; limb >= 0; --limb) {
            if (a.limbs_[limb] != b.limbs_[limb]) {
                return a.limbs_[limb] < b.limbs_[limb] ? -1 : 1;
            }
        }
        return 0;
    }

    void trim() {
        while (size_ > 0 && limbs_[size_ - 1] == 0) {
            --size_;
        }
        if (size_ == 0) {
            negative_ = false;
        }
    }

    std::array<std::uint32_t, kCapacity> limbs_;
    int size_{0};
    bool negative_{false};
};

// The coordinates of one element as exact integers: value = integer * 2^exponent, with one
// exponent shared by all, the smallest that makes every coordinate an integer.
template <std::size_t N>
std::array<ExactInteger, N> to_exact_integers(const std::array<double, N>& values) {
    std::array<std::int64_t, N> significands{};
    std::array<int, N> exponents{};
    int smallest_exponent = 0;
    bool any_nonzero = false;
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i] == 0) {
            continue;
        }
        int exponent = 0;
        const double fraction = std::frexp(values[i], &exponent);
        // fraction * 2^53 is an integer of at most 53 bits, subnormal values included.
        std::int64_t significand = static_cast<std::int64_t>(std::ldexp(fraction, 53));
        exponent -= 53;
        while (significand % 2 == 0) {
            significand /= 2;
            ++exponent;
        }
        significands[i] = significand;
        exponents[i] = exponent;
        if (!any_nonzero || exponent < smallest_exponent) {
            smallest_exponent = exponent;
        }
        any_nonzero = true;
    }
    std::array<ExactInteger, N> integers;
    for (std::size_t i = 0; i < N; ++i) {
        if (significands[i] != 0) {
            integers[i] = ExactInteger{significands[i], exponents[i] - smallest_exponent};
        }
    }
    return integers;
}

template <std::size_t N>
bool all_finite(const std::array<double, N>& values) {
    for (const double value : values) {
        if (!std::isfinite(value)) {
            return false;
        }
    }
    return true;
}

SIDE exact_triangle_sign(const std::array<double, 6>& coordinates) {
    if (!all_finite(coordinates)) {
        return SIDE::zero;
    }
    const auto c = to_exact_integers(coordinates);
    const ExactInteger ux = c[2] - c[0];
    const ExactInteger uy = c[3] - c[1];
    const ExactInteger vx = c[4] - c[0];
    const ExactInteger vy = c[5] - c[1];
    return side_of((ux * vy - uy * vx).sign());
}

SIDE exact_tetrahedron_sign(const std::array<double, 12>& coordinates) {
    if (!all_finite(coordinates)) {
        return SIDE::zero;
    }
    const auto c = to_exact_integers(coordinates);
    std::array<ExactInteger, 9> d;  // rows u, v, w: vertices 1, 2, 3 minus vertex 0
    for (int row = 0; row < 3; ++row) {
        for (int axis = 0; axis < 3; ++axis) {
            d[3 * row + axis] = c[3 * (row + 1) + axis] - c[axis];
        }
    }
    const ExactInteger minor_x = d[4] * d[8] - d[5] * d[7];
    const ExactInteger minor_y = d[5] * d[6] - d[3] * d[8];
    const ExactInteger minor_z = d[3] * d[7] - d[4] * d[6];
    return side_of((d[0] * minor_x + d[1] * minor_y + d[2] * minor_z).sign());
}

}  // namespace

namespace detail {

SIDE exact_triangle_area_sign(const Triangle<2>& triangle) {
    const Point<2>& p0 = triangle.vertices()[0];
    const Point<2>& p1 = triangle.vertices()[1];
    const Point<2>& p2 = triangle.vertices()[2];
    return exact_triangle_sign(
        {p0.value(0), p0.value(1), p1.value(0), p1.value(1), p2.value(0), p2.value(1)});
}

SIDE exact_tetrahedron_volume_sign(const Tetrahedron& tetrahedron) {
    std::array<double, 12> coordinates{};
    for (int vertex = 0; vertex < 4; ++vertex) {
        for (int axis = 0; axis < 3; ++axis) {
            coordinates[3 * vertex + axis] = tetrahedron.vertices()[vertex].get().value(axis);
        }
    }
    return exact_tetrahedron_sign(coordinates);
}

}  // namespace detail
}  // namespace orvex
