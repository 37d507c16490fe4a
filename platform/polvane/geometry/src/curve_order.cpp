#include "curve_order.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace orvex::detail {

namespace {

// Below this size a comparison sort beats the histogram passes.
constexpr std::size_t small_sort = 64;

// Sorts items[0, size) by their upper 32 bits, stably: LSD radix sort with digits of
// `DigitBits` bits, the passes whose digit is the same everywhere skipped. `scratch` holds at
// least `size` items; 64 <= size < 2^32.
template <unsigned DigitBits>
void radix_sort_digits(CurveItem* items, CurveItem* scratch, std::size_t size) {
    constexpr unsigned nb_digits = (32 + DigitBits - 1) / DigitBits;
    constexpr std::size_t nb_buckets = std::size_t{1} << DigitBits;
    const auto digit_of = [](CurveItem item, unsigned digit) {
        return static_cast<std::size_t>((item >> (32U + DigitBits * digit)) & (nb_buckets - 1));
    };
    std::vector<std::array<std::uint32_t, nb_buckets>> counts(nb_digits);
    for (std::size_t i = 0; i < size; ++i) {
        const CurveItem item = items[i];
        for (unsigned digit = 0; digit < nb_digits; ++digit) {
            ++counts[digit][digit_of(item, digit)];
        }
    }
    CurveItem* from = items;
    CurveItem* to = scratch;
    for (unsigned digit = 0; digit < nb_digits; ++digit) {
        auto& count = counts[digit];
        if (count[digit_of(from[0], digit)] == size) {
            continue;
        }
        std::uint32_t offset = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t bucket = c;
            c = offset;
            offset += bucket;
        }
        for (std::size_t i = 0; i < size; ++i) {
            const CurveItem item = from[i];
            to[count[digit_of(item, digit)]++] = item;
        }
        std::swap(from, to);
    }
    if (from != items) {
        std::memcpy(items, from, size * sizeof(CurveItem));
    }
}

}  // namespace

// Large arrays take 12-bit digits: the keys of 2D and 3D curves have 24 significant bits, so
// two scatter passes instead of three with bytes; small ones bytes, whose 256 counts are
// cheaper to clear and scan.
void radix_sort(CurveItem* items, CurveItem* scratch, std::size_t size) {
    if (size < small_sort) {
        std::sort(items, items + size);
    } else if (size < (std::size_t{1} << 16)) {
        radix_sort_digits<8>(items, scratch, size);
    } else {
        radix_sort_digits<12>(items, scratch, size);
    }
}

}  // namespace orvex::detail
