#pragma once

// The batch kernels: the smallest internal distance of many elements, one element per vector
// lane (see batch_kernels.inc), for two instruction sets:
// - batch_avx2: four lanes of an AVX register (AVX2 and FMA), masks as all-set lanes;
// - batch_avx512: eight lanes of an AVX-512 register (AVX-512 F, DQ and VL), masks in mask
//   registers; its 32 vector registers hold the working set of eight tetrahedra with few
//   spills, and its comparisons and selections leave the arithmetic units to the arithmetic.
// Each namespace defines the same small set of lane operations, then includes the kernels,
// which are written once in terms of them. Both round exactly as the per-element kernels of
// simd_kernels.h (the same IEEE operations, one rounding each, contraction off), so they give
// the same bits; callers check `cpu_has_avx2_fma()` or `cpu_has_avx512()` first.

#include "internal_distance/kernels/simd_kernels.h"

#if ORVEX_SIMD_KERNELS

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/point.h"

#define ORVEX_AVX512 __attribute__((target("avx2,fma,avx512f,avx512dq,avx512vl")))
#define ORVEX_AVX512_INLINE \
    inline __attribute__((target("avx2,fma,avx512f,avx512dq,avx512vl"), always_inline))

namespace orvex::internal::detail {

/// True when the processor and the operating system run AVX-512 F, DQ and VL instructions
/// (with AVX2 and FMA).
inline bool cpu_has_avx512() {
    static const bool has = [] {
        __builtin_cpu_init();
        return cpu_has_avx2_fma() && __builtin_cpu_supports("avx512f")
               && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    }();
    return has;
}

namespace batch_avx2 {

#define ORVEX_BATCH_TARGET ORVEX_AVX2
#define ORVEX_BATCH_INLINE ORVEX_AVX2_INLINE

inline constexpr std::size_t kWidth = 4;
using Lanes = __m256d;
/// A lane mask: all bits set in the lanes where it holds.
using Mask = __m256d;

ORVEX_BATCH_INLINE Lanes constant(double value) {
    return _mm256_set1_pd(value);
}

/// Lane l holds `values[l]`.
ORVEX_BATCH_INLINE Lanes lanes_of(const std::array<double, kWidth>& values) {
    return _mm256_set_pd(values[3], values[2], values[1], values[0]);
}

ORVEX_BATCH_INLINE std::array<double, kWidth> array_of(Lanes value) {
    std::array<double, kWidth> result;
    _mm256_storeu_pd(result.data(), value);
    return result;
}

/// Lane l holds the double at address `addresses[l] + offset` (bytes), one gather.
ORVEX_BATCH_INLINE Lanes gather(const std::uint64_t* addresses, long long offset) {
    const __m256i at =
        _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(addresses)),
                         _mm256_set1_epi64x(offset));
    return _mm256_i64gather_pd(static_cast<const double*>(nullptr), at, 1);
}

ORVEX_BATCH_INLINE Lanes square_root(Lanes value) {
    return _mm256_sqrt_pd(value);
}

/// a b + c, a b - c and c - a b, each rounded once.
ORVEX_BATCH_INLINE Lanes fused_add(Lanes a, Lanes b, Lanes c) {
    return _mm256_fmadd_pd(a, b, c);
}

ORVEX_BATCH_INLINE Lanes fused_subtract(Lanes a, Lanes b, Lanes c) {
    return _mm256_fmsub_pd(a, b, c);
}

/// `a < b ? a : b` and `a > b ? a : b`: the second operand for NaN and for zeros of either
/// sign, as the per-element kernels.
ORVEX_BATCH_INLINE Lanes minimum(Lanes a, Lanes b) {
    return _mm256_min_pd(a, b);
}

ORVEX_BATCH_INLINE Lanes maximum(Lanes a, Lanes b) {
    return _mm256_max_pd(a, b);
}

ORVEX_BATCH_INLINE Lanes absolute(Lanes value) {
    return _mm256_andnot_pd(_mm256_set1_pd(-0.0), value);
}

/// Comparisons, false for NaN.
ORVEX_BATCH_INLINE Mask less(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_LT_OQ);
}

ORVEX_BATCH_INLINE Mask less_equal(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_LE_OQ);
}

ORVEX_BATCH_INLINE Mask equal(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_EQ_OQ);
}

ORVEX_BATCH_INLINE Mask both(Mask a, Mask b) {
    return _mm256_and_pd(a, b);
}

ORVEX_BATCH_INLINE Mask either(Mask a, Mask b) {
    return _mm256_or_pd(a, b);
}

/// a and not b.
ORVEX_BATCH_INLINE Mask but_not(Mask a, Mask b) {
    return _mm256_andnot_pd(b, a);
}

/// `when` ? `chosen` : `otherwise`, lane by lane.
ORVEX_BATCH_INLINE Lanes select(Mask when, Lanes chosen, Lanes otherwise) {
    return _mm256_blendv_pd(otherwise, chosen, when);
}

/// Bit l set when the mask holds in lane l.
ORVEX_BATCH_INLINE unsigned bits(Mask mask) {
    return static_cast<unsigned>(_mm256_movemask_pd(mask));
}

#include "internal_distance/kernels/batch_kernels.inc"

#undef ORVEX_BATCH_TARGET
#undef ORVEX_BATCH_INLINE

}  // namespace batch_avx2

namespace batch_avx512 {

#define ORVEX_BATCH_TARGET ORVEX_AVX512
#define ORVEX_BATCH_INLINE ORVEX_AVX512_INLINE

inline constexpr std::size_t kWidth = 8;
using Lanes = __m512d;

/// A lane mask: bit l set where it holds.
struct Mask {
    __mmask8 bits;
};

ORVEX_BATCH_INLINE Lanes constant(double value) {
    return _mm512_set1_pd(value);
}

ORVEX_BATCH_INLINE Lanes lanes_of(const std::array<double, kWidth>& values) {
    return _mm512_set_pd(values[7], values[6], values[5], values[4], values[3], values[2],
                         values[1], values[0]);
}

ORVEX_BATCH_INLINE std::array<double, kWidth> array_of(Lanes value) {
    std::array<double, kWidth> result;
    _mm512_storeu_pd(result.data(), value);
    return result;
}

ORVEX_BATCH_INLINE Lanes gather(const std::uint64_t* addresses, long long offset) {
    const __m512i at = _mm512_add_epi64(_mm512_loadu_si512(addresses), _mm512_set1_epi64(offset));
    return _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, at, nullptr, 1);
}

// The zero-masking forms with every lane kept (here and in minimum, maximum): the plain ones
// start from an undefined register, which GCC 12 reports as maybe uninitialised.
ORVEX_BATCH_INLINE Lanes square_root(Lanes value) {
    return _mm512_maskz_sqrt_pd(0xff, value);
}

ORVEX_BATCH_INLINE Lanes fused_add(Lanes a, Lanes b, Lanes c) {
    return _mm512_fmadd_pd(a, b, c);
}

ORVEX_BATCH_INLINE Lanes fused_subtract(Lanes a, Lanes b, Lanes c) {
    return _mm512_fmsub_pd(a, b, c);
}

ORVEX_BATCH_INLINE Lanes minimum(Lanes a, Lanes b) {
    return _mm512_maskz_min_pd(0xff, a, b);
}

ORVEX_BATCH_INLINE Lanes maximum(Lanes a, Lanes b) {
    return _mm512_maskz_max_pd(0xff, a, b);
}

ORVEX_BATCH_INLINE Lanes absolute(Lanes value) {
    return _mm512_abs_pd(value);
}

ORVEX_BATCH_INLINE Mask less(Lanes a, Lanes b) {
    return {_mm512_cmp_pd_mask(a, b, _CMP_LT_OQ)};
}

ORVEX_BATCH_INLINE Mask less_equal(Lanes a, Lanes b) {
    return {_mm512_cmp_pd_mask(a, b, _CMP_LE_OQ)};
}

ORVEX_BATCH_INLINE Mask equal(Lanes a, Lanes b) {
    return {_mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ)};
}

// Mask logic in the mask registers.
ORVEX_BATCH_INLINE Mask both(Mask a, Mask b) {
    return {_kand_mask8(a.bits, b.bits)};
}

ORVEX_BATCH_INLINE Mask either(Mask a, Mask b) {
    return {_kor_mask8(a.bits, b.bits)};
}

ORVEX_BATCH_INLINE Mask but_not(Mask a, Mask b) {
    return {_kandn_mask8(b.bits, a.bits)};
}

ORVEX_BATCH_INLINE Lanes select(Mask when, Lanes chosen, Lanes otherwise) {
    return _mm512_mask_blend_pd(when.bits, otherwise, chosen);
}

ORVEX_BATCH_INLINE unsigned bits(Mask mask) {
    return mask.bits;
}

#include "internal_distance/kernels/batch_kernels.inc"

#undef ORVEX_BATCH_TARGET
#undef ORVEX_BATCH_INLINE

}  // namespace batch_avx512

}  // namespace orvex::internal::detail

#endif
