#pragma once

// Vectorised building blocks for the distance kernels of this folder (x86 with AVX2 and FMA).
//
// The kernels give, value for value, the distances of the base library's formulas
// (point_point_distance, point_segment_distance, point_triangle_distance and
// segment_segment_distance, see its distance.cpp): the same operations in the same order on the
// same operands, each rounded once. What they change is the schedule: the configurations of an
// element are computed side by side, four in the lanes of one AVX register, and quantities
// shared by several configurations (edge vectors, edge lengths, vertex-to-edge projections) are
// computed once. `fma` is the hardware instruction, correctly rounded like `std::fma`, which
// the baseline x86-64 build would call in the C library.
//
// Identical rounding needs two more things:
// - no rescaling: the kernels take only elements whose edge-vector components are 0 or between
//   2^-200 and 2^100. Products of up to four such components neither overflow nor underflow,
//   and in that range the base library's exact power-of-two rescaling changes no rounding.
//   Other elements (non-finite or extreme coordinates) go to the base library's functions.
// - no contraction: the compiler must not fuse a product and a sum behind the formulas' back,
//   which it is allowed to do in the AVX2 code. The pragmas below turn that off for the rest of
//   the source file that includes this header.
//
// The functions are compiled for AVX2 and FMA (ORVEX_AVX2) and force-inlined, so that each
// kernel is one function of that instruction set; callers check `cpu_has_avx2_fma()` first.
// Elsewhere, or when ORVEX_NO_SIMD_KERNELS is defined, every element goes to the base library.

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) \
    && !defined(ORVEX_NO_SIMD_KERNELS)

#define ORVEX_SIMD_KERNELS 1

#include <immintrin.h>

#include <array>

#if defined(__clang__)
#pragma clang fp contract(off)
#else
#pragma GCC optimize("fp-contract=off")
#endif

#define ORVEX_AVX2 __attribute__((target("avx2,fma")))
#define ORVEX_AVX2_INLINE inline __attribute__((target("avx2,fma"), always_inline))

namespace orvex::internal::detail {

/// True when the processor and the operating system run AVX2 and FMA instructions.
inline bool cpu_has_avx2_fma() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
}

/// Four doubles, one per lane.
using Lanes = __m256d;

/// Four 2D or 3D vectors, one per lane, coordinate by coordinate. (The helpers below spell
/// their coordinates out rather than loop: small loops are not always unrolled at -O2.)
template <unsigned D>
struct LaneVectors {
    static_assert(D == 2 || D == 3);
    Lanes axis[D];
};

ORVEX_AVX2_INLINE Lanes constant(double value) {
    return _mm256_set1_pd(value);
}

/// Lanes with all bits set where the template argument is true, clear elsewhere.
template <bool L0, bool L1, bool L2, bool L3>
ORVEX_AVX2_INLINE Lanes lane_mask() {
    return _mm256_castsi256_pd(
        _mm256_set_epi64x(L3 ? -1 : 0, L2 ? -1 : 0, L1 ? -1 : 0, L0 ? -1 : 0));
}

/// Lane l of the result is lane I[l] of `value`.
template <int I0, int I1, int I2, int I3>
ORVEX_AVX2_INLINE Lanes permute(Lanes value) {
    return _mm256_permute4x64_pd(value, I0 | (I1 << 2) | (I2 << 4) | (I3 << 6));
}

template <int I0, int I1, int I2, int I3, unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> permute(const LaneVectors<D>& value) {
    LaneVectors<D> result;
    result.axis[0] = permute<I0, I1, I2, I3>(value.axis[0]);
    result.axis[1] = permute<I0, I1, I2, I3>(value.axis[1]);
    if constexpr (D == 3) {
        result.axis[2] = permute<I0, I1, I2, I3>(value.axis[2]);
    }
    return result;
}

/// Lane by lane, `when` (a comparison's all-set or all-clear lanes) ? `chosen` : `otherwise`.
ORVEX_AVX2_INLINE Lanes select(Lanes when, Lanes chosen, Lanes otherwise) {
    return _mm256_blendv_pd(otherwise, chosen, when);
}

template <unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> select(Lanes when, const LaneVectors<D>& chosen,
                                        const LaneVectors<D>& otherwise) {
    LaneVectors<D> result;
    result.axis[0] = select(when, chosen.axis[0], otherwise.axis[0]);
    result.axis[1] = select(when, chosen.axis[1], otherwise.axis[1]);
    if constexpr (D == 3) {
        result.axis[2] = select(when, chosen.axis[2], otherwise.axis[2]);
    }
    return result;
}

/// Comparisons, false for NaN.
ORVEX_AVX2_INLINE Lanes less(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_LT_OQ);
}

ORVEX_AVX2_INLINE Lanes less_equal(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_LE_OQ);
}

ORVEX_AVX2_INLINE Lanes both(Lanes a, Lanes b) {
    return _mm256_and_pd(a, b);
}

/// `a < b ? a : b` lane by lane.
ORVEX_AVX2_INLINE Lanes minimum(Lanes a, Lanes b) {
    return _mm256_min_pd(a, b);
}

ORVEX_AVX2_INLINE Lanes absolute(Lanes value) {
    return _mm256_andnot_pd(constant(-0.0), value);
}

template <unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> operator-(const LaneVectors<D>& a, const LaneVectors<D>& b) {
    LaneVectors<D> result;
    result.axis[0] = a.axis[0] - b.axis[0];
    result.axis[1] = a.axis[1] - b.axis[1];
    if constexpr (D == 3) {
        result.axis[2] = a.axis[2] - b.axis[2];
    }
    return result;
}

template <unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> operator-(const LaneVectors<D>& a) {
    LaneVectors<D> result;
    result.axis[0] = -a.axis[0];
    result.axis[1] = -a.axis[1];
    if constexpr (D == 3) {
        result.axis[2] = -a.axis[2];
    }
    return result;
}

/// The base library's dot product: (a0 b0 + a1 b1) + a2 b2, in that order.
template <unsigned D>
ORVEX_AVX2_INLINE Lanes dot(const LaneVectors<D>& a, const LaneVectors<D>& b) {
    Lanes result = a.axis[0] * b.axis[0];
    result = result + a.axis[1] * b.axis[1];
    if constexpr (D == 3) {
        result = result + a.axis[2] * b.axis[2];
    }
    return result;
}

ORVEX_AVX2_INLINE LaneVectors<3> cross(const LaneVectors<3>& a, const LaneVectors<3>& b) {
    const Lanes ax = a.axis[0];
    const Lanes ay = a.axis[1];
    const Lanes az = a.axis[2];
    const Lanes bx = b.axis[0];
    const Lanes by = b.axis[1];
    const Lanes bz = b.axis[2];
    return {{ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx}};
}

/// std::clamp(value, 0.0, 1.0) lane by lane. `max` and `min` return their second operand when
/// the comparison fails, so NaN stays NaN and -0.0 stays -0.0, as with std::clamp.
ORVEX_AVX2_INLINE Lanes clamp01(Lanes value) {
    return _mm256_min_pd(constant(1), _mm256_max_pd(_mm256_setzero_pd(), value));
}

/// `length2 > 0 ? std::clamp(ratio, 0.0, 1.0) : 0` lane by lane, for the ratio of a finite
/// numerator to `length2`, which is a sum of squares: where `length2` is 0 the ratio is NaN,
/// and otherwise it is a number. (A ratio of -0.0 becomes +0.0: the parameter's sign of zero
/// changes no distance.)
ORVEX_AVX2_INLINE Lanes clamped_ratio(Lanes ratio) {
    return _mm256_min_pd(_mm256_max_pd(ratio, _mm256_setzero_pd()), constant(1));
}

/// Lane l of the result is lane l of `chosen` where bit l of `Mask` is set, of `otherwise`
/// elsewhere (a blend with a constant mask).
template <int Mask>
ORVEX_AVX2_INLINE Lanes blend(Lanes otherwise, Lanes chosen) {
    return _mm256_blend_pd(otherwise, chosen, Mask);
}

template <int Mask, unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> blend(const LaneVectors<D>& otherwise,
                                       const LaneVectors<D>& chosen) {
    LaneVectors<D> result;
    result.axis[0] = blend<Mask>(otherwise.axis[0], chosen.axis[0]);
    result.axis[1] = blend<Mask>(otherwise.axis[1], chosen.axis[1]);
    if constexpr (D == 3) {
        result.axis[2] = blend<Mask>(otherwise.axis[2], chosen.axis[2]);
    }
    return result;
}

/// `fma(factor, vector, offset)` coordinate by coordinate.
template <unsigned D>
ORVEX_AVX2_INLINE LaneVectors<D> fused(Lanes factor, const LaneVectors<D>& vector,
                                       const LaneVectors<D>& offset) {
    LaneVectors<D> result;
    result.axis[0] = _mm256_fmadd_pd(factor, vector.axis[0], offset.axis[0]);
    result.axis[1] = _mm256_fmadd_pd(factor, vector.axis[1], offset.axis[1]);
    if constexpr (D == 3) {
        result.axis[2] = _mm256_fmadd_pd(factor, vector.axis[2], offset.axis[2]);
    }
    return result;
}

/// The square of the base library's distance from p to the segment [a, b], from ab = b - a,
/// ap = p - a, bp = p - b and length2 = dot(ab, ab): the nearest point's parameter t, clamped, then
/// the residual formed from the nearer end with one rounding per coordinate. The distance is its
/// square root; since the square root is monotonic and correctly rounded, the root of a minimum of
/// squares is the minimum of the roots, so callers take their minima first and one root after.
template <unsigned D>
ORVEX_AVX2_INLINE Lanes projection_distance2(const LaneVectors<D>& ab, const LaneVectors<D>& ap,
                                             const LaneVectors<D>& bp, Lanes length2) {
    const Lanes t = clamped_ratio(dot(ap, ab) / length2);
    const Lanes from_a = less_equal(t, constant(0.5));
    const Lanes step = select(from_a, -t, constant(1) - t);
    const LaneVectors<D> residual = fused(step, ab, select(from_a, ap, bp));
    return dot(residual, residual);
}

/// The same, computing dot(ab, ab) itself.
template <unsigned D>
ORVEX_AVX2_INLINE Lanes projection_distance2(const LaneVectors<D>& ab, const LaneVectors<D>& ap,
                                             const LaneVectors<D>& bp) {
    return projection_distance2(ab, ap, bp, dot(ab, ab));
}

/// True when, in every lane, each coordinate is 0 or between 2^-200 and 2^100 in magnitude
/// (false for NaN and infinities): the range where the kernels round as the base library.
template <unsigned D>
ORVEX_AVX2_INLINE bool in_kernel_range(const LaneVectors<D>& vectors) {
    Lanes accepted = lane_mask<true, true, true, true>();
    for (unsigned axis = 0; axis < D; ++axis) {
        const Lanes magnitude = absolute(vectors.axis[axis]);
        const Lanes zero = _mm256_cmp_pd(magnitude, _mm256_setzero_pd(), _CMP_EQ_OQ);
        const Lanes inside = both(less_equal(constant(0x1p-200), magnitude),
                                  less_equal(magnitude, constant(0x1p100)));
        accepted = both(accepted, _mm256_or_pd(zero, inside));
    }
    return _mm256_movemask_pd(accepted) == 0xf;
}

/// The lanes as four doubles.
ORVEX_AVX2_INLINE std::array<double, 4> to_array(Lanes value) {
    std::array<double, 4> result;
    _mm256_storeu_pd(result.data(), value);
    return result;
}

}  // namespace orvex::internal::detail

#else

#define ORVEX_SIMD_KERNELS 0

#endif
