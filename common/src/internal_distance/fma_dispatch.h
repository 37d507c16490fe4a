#pragma once

// Hardware fused multiply-add for the distance kernels of this folder.
//
// The kernels reproduce the base library's distance formulas, which form residual vectors with
// `std::fma` (one rounding instead of two; see the base library's distance.cpp). The library is
// built for the baseline x86-64 instruction set, where `std::fma` is a call into the C library,
// and a tetrahedron needs some seventy of them. On x86 the kernels are therefore compiled twice:
// once for the baseline and once with the FMA instructions enabled, chosen at run time from the
// processor's features. `std::fma` is correctly rounded either way, so both copies give the
// same results bit for bit; the sources that include this header turn floating-point
// contraction off so that the compiler cannot fuse other products in the FMA copy.
//
// ORVEX_ALWAYS_INLINE marks the kernel's building blocks, so that each copy gets its own code
// (an out-of-line helper would be compiled for the baseline only).

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#define ORVEX_FMA_CLONES 1
#define ORVEX_ALWAYS_INLINE inline __attribute__((always_inline))
#define ORVEX_TARGET_FMA __attribute__((target("fma")))

namespace orvex::internal::detail {

/// True when the processor (and the operating system) can run FMA instructions.
inline bool cpu_has_fma() {
    static const bool has_fma = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("fma") != 0;
    }();
    return has_fma;
}

}  // namespace orvex::internal::detail

#else

#define ORVEX_FMA_CLONES 0
#define ORVEX_ALWAYS_INLINE inline
#define ORVEX_TARGET_FMA

#endif
