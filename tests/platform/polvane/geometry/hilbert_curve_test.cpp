#include "hilbert_curve.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

namespace orvex {
namespace {

// The bit-by-bit transform (J. Skilling, 2004) that the table-driven key must reproduce:
// per level from the highest, invert or exchange the lower bits, then Gray-code the axes.
template <index_t D>
std::uint32_t bitwise_key(std::array<std::uint32_t, D> x, unsigned bits) {
    const std::uint32_t highest = std::uint32_t{1} << (bits - 1);
    for (std::uint32_t q = highest; q > 1; q >>= 1U) {
        const std::uint32_t p = q - 1;
        for (index_t i = 0; i < D; ++i) {
            if ((x[i] & q) != 0) {
                x[0] ^= p;
            } else {
                const std::uint32_t t = (x[0] ^ x[i]) & p;
                x[0] ^= t;
                x[i] ^= t;
            }
        }
    }
    for (index_t i = 1; i < D; ++i) {
        x[i] ^= x[i - 1];
    }
    std::uint32_t t = 0;
    for (std::uint32_t q = highest; q > 1; q >>= 1U) {
        if ((x[D - 1] & q) != 0) {
            t ^= q - 1;
        }
    }
    std::uint32_t key = 0;
    for (unsigned bit = bits; bit-- > 0;) {
        for (index_t i = 0; i < D; ++i) {
            key = (key << 1U) | (((x[i] ^ t) >> bit) & 1U);
        }
    }
    return key;
}

// The keys of the table-driven machine equal those of the bit-by-bit transform: on random
// cells, on the grid's corners and edges, and on every cell of a small corner block.
TEST(HilbertCurveTest, TableKeysEqualBitwiseTransform) {
    std::mt19937 random(13);
    constexpr unsigned bits3 = 8;
    constexpr unsigned bits2 = 12;
    std::uniform_int_distribution<std::uint32_t> coordinate3(0, (1U << bits3) - 1);
    std::uniform_int_distribution<std::uint32_t> coordinate2(0, (1U << bits2) - 1);
    for (int trial = 0; trial < 100000; ++trial) {
        const std::array<std::uint32_t, 3> cell3{coordinate3(random), coordinate3(random),
                                                 coordinate3(random)};
        ASSERT_EQ((detail::hilbert_key<3, bits3>(cell3)), bitwise_key<3>(cell3, bits3))
            << cell3[0] << ' ' << cell3[1] << ' ' << cell3[2];
        const std::array<std::uint32_t, 2> cell2{coordinate2(random), coordinate2(random)};
        ASSERT_EQ((detail::hilbert_key<2, bits2>(cell2)), bitwise_key<2>(cell2, bits2))
            << cell2[0] << ' ' << cell2[1];
    }
    const std::array<std::uint32_t, 4> edges3{0, 1, (1U << bits3) - 2, (1U << bits3) - 1};
    for (const std::uint32_t x : edges3) {
        for (const std::uint32_t y : edges3) {
            for (const std::uint32_t z : edges3) {
                const std::array<std::uint32_t, 3> cell{x, y, z};
                EXPECT_EQ((detail::hilbert_key<3, bits3>(cell)), bitwise_key<3>(cell, bits3));
            }
        }
    }
    for (std::uint32_t x = 0; x < 64; ++x) {
        for (std::uint32_t y = 0; y < 64; ++y) {
            const std::array<std::uint32_t, 2> cell2{x, (1U << bits2) - 1 - y};
            ASSERT_EQ((detail::hilbert_key<2, bits2>(cell2)), bitwise_key<2>(cell2, bits2));
            for (std::uint32_t z = 0; z < 16; ++z) {
                const std::array<std::uint32_t, 3> cell3{x, y, z};
                ASSERT_EQ((detail::hilbert_key<3, bits3>(cell3)), bitwise_key<3>(cell3, bits3));
            }
        }
    }
}

}  // namespace
}  // namespace orvex
