#pragma once

// The position of a grid cell along a Hilbert curve, for the bounding-box tree's leaf order and the
// batch queries' point order.
//
// The curve is the one of J. Skilling ("Programming the Hilbert curve", 2004): the coordinates
// are turned into the "transposed" index, whose bits, read across the axes from the highest, are
// the key. That transform, taken one bit level at a time from the highest, only ever inverts or
// exchanges the lower bits of the axes, and its final Gray step only XORs each level with the
// parity of the levels above. So everything a level passes on to the levels below is a signed
// permutation of the axes plus one parity bit: a state of a small machine. The key is read off
// by that machine, several levels per table look-up, from the cell's interleaved (Morton) bits;
// the keys are the same as those of the bit-by-bit transform.

#include <array>
#include <cstdint>

#include "polvane/basic/index.h"

namespace orvex {
namespace detail {

// The bits of `value` (below 2^10) spread to every third bit.
inline std::uint32_t spread3(std::uint32_t value) {
    value &= 0x3FFU;
    value = (value | (value << 16U)) & 0x030000FFU;
    value = (value | (value << 8U)) & 0x0300F00FU;
    value = (value | (value << 4U)) & 0x030C30C3U;
    value = (value | (value << 2U)) & 0x09249249U;
    return value;
}

// The bits of `value` (below 2^16) spread to every second bit.
inline std::uint32_t spread2(std::uint32_t value) {
    value &= 0xFFFFU;
    value = (value | (value << 8U)) & 0x00FF00FFU;
    value = (value | (value << 4U)) & 0x0F0F0F0FU;
    value = (value | (value << 2U)) & 0x33333333U;
    value = (value | (value << 1U)) & 0x55555555U;
    return value;
}

// The state machine of the curve in D = 2 or 3 dimensions. A state is the signed permutation
// that maps the cell's axes onto the transform's axes for the bits still to come (axis
// `perm[i]` of the cell, inverted when bit i of `flips` is set, is axis i of the transform),
// and the parity of the Gray-coded last axis over the levels already read.
template <index_t D>
struct HilbertMachine {
    static_assert(D == 2 || D == 3, "the curve machine is for 2 or 3 dimensions");
    static constexpr unsigned nb_perms = D == 3 ? 6 : 2;
    static constexpr unsigned nb_states = nb_perms * (1U << D) * 2U;
    // Levels read per table look-up: a look-up takes D * levels bits of the Morton code.
    static constexpr unsigned levels = D == 3 ? 2 : 4;
    static constexpr unsigned chunk_bits = D * levels;

    struct State {
        std::array<unsigned, D> perm{};
        unsigned flips = 0;
        unsigned parity = 0;
    };

    // The permutations of the axes, the identity first.
    static constexpr std::array<unsigned, D> permutation(unsigned index) {
        constexpr std::array<std::array<unsigned, 3>, 6> perms3{
            {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
        constexpr std::array<std::array<unsigned, 3>, 2> perms2{{{0, 1, 0}, {1, 0, 0}}};
        std::array<unsigned, D> perm{};
        for (unsigned i = 0; i < D; ++i) {
            perm[i] = D == 3 ? perms3[index][i] : perms2[index][i];
        }
        return perm;
    }

    static constexpr State state(unsigned index) {
        State s;
        s.parity = index & 1U;
        s.flips = (index >> 1U) & ((1U << D) - 1U);
        s.perm = permutation(index >> (1U + D));
        return s;
    }

    static constexpr unsigned index(const State& s) {
        for (unsigned p = 0; p < nb_perms; ++p) {
            const std::array<unsigned, D> perm = permutation(p);
            bool same = true;
            for (unsigned i = 0; i < D; ++i) {
                same = same && perm[i] == s.perm[i];
            }
            if (same) {
                return (((p << D) | s.flips) << 1U) | s.parity;
            }
        }
        return 0;
    }

    // Reads one level: `octant` holds the cell's bit of axis a at bit D - 1 - a. Returns the D
    // key bits of the level (axis 0 of the transform highest) and leaves the next state in `s`.
    static constexpr unsigned step(State& s, unsigned octant) {
        std::array<unsigned, D> e{};
        for (unsigned i = 0; i < D; ++i) {
            e[i] = ((octant >> (D - 1 - s.perm[i])) & 1U) ^ ((s.flips >> i) & 1U);
        }
        // The inversions and exchanges this level applies to the lower bits.
        for (unsigned i = 0; i < D; ++i) {
            if (e[i] != 0 || i == 0) {
                s.flips ^= e[i];
            } else {
                const unsigned axis = s.perm[0];
                s.perm[0] = s.perm[i];
                s.perm[i] = axis;
                const unsigned f0 = s.flips & 1U;
                const unsigned fi = (s.flips >> i) & 1U;
                s.flips = (s.flips & ~(1U | (1U << i))) | fi | (f0 << i);
            }
        }
        // Gray code across the axes, then the parity of the levels above.
        unsigned digit = 0;
        unsigned gray = 0;
        for (unsigned i = 0; i < D; ++i) {
            gray ^= e[i];
            digit |= (gray ^ s.parity) << (D - 1 - i);
        }
        s.parity ^= gray;
        return digit;
    }

    // Entry [state << chunk_bits | chunk]: the key bits of the chunk's levels in the low
    // chunk_bits bits, the next state above them. Composed from the table of single levels,
    // which keeps the compile-time evaluation short.
    static constexpr std::array<std::uint16_t, (nb_states << chunk_bits)> make_table() {
        std::array<unsigned, (nb_states << D)> single{};
        for (unsigned from = 0; from < nb_states; ++from) {
            for (unsigned octant = 0; octant < (1U << D); ++octant) {
                State s = state(from);
                const unsigned digit = step(s, octant);
                single[(from << D) | octant] = (index(s) << D) | digit;
            }
        }
        std::array<std::uint16_t, (nb_states << chunk_bits)> table{};
        for (unsigned from = 0; from < nb_states; ++from) {
            for (unsigned chunk = 0; chunk < (1U << chunk_bits); ++chunk) {
                unsigned s = from;
                unsigned bits = 0;
                for (unsigned level = 0; level < levels; ++level) {
                    const unsigned shift = D * (levels - 1 - level);
                    const unsigned entry = single[(s << D) | ((chunk >> shift) & ((1U << D) - 1U))];
                    bits = (bits << D) | (entry & ((1U << D) - 1U));
                    s = entry >> D;
                }
                table[(from << chunk_bits) | chunk] =
                    static_cast<std::uint16_t>((s << chunk_bits) | bits);
            }
        }
        return table;
    }

    static constexpr std::array<std::uint16_t, (nb_states << chunk_bits)> table = make_table();
};

template <index_t D>
constexpr std::array<std::uint16_t, (HilbertMachine<D>::nb_states << HilbertMachine<D>::chunk_bits)>
    HilbertMachine<D>::table;

// The position along the Hilbert curve of a cell given by its D (2 or 3) coordinates of `bits`
// bits each; `bits` is a multiple of the machine's levels per look-up.
template <index_t D, unsigned bits>
inline std::uint32_t hilbert_key(const std::array<std::uint32_t, D>& cell) {
    using Machine = HilbertMachine<D>;
    static_assert(bits % Machine::levels == 0, "whole look-ups only");
    static_assert(D * bits <= 32, "the key is 32 bits");
    std::uint32_t morton = 0;
    if constexpr (D == 3) {
        morton = (spread3(cell[0]) << 2U) | (spread3(cell[1]) << 1U) | spread3(cell[D - 1]);
    } else {
        morton = (spread2(cell[0]) << 1U) | spread2(cell[1]);
    }
    constexpr unsigned chunk_bits = Machine::chunk_bits;
    constexpr std::uint32_t chunk_mask = (std::uint32_t{1} << chunk_bits) - 1;
    constexpr unsigned chunks = D * bits / chunk_bits;
    std::uint32_t key = 0;
    std::uint32_t state = 0;
#pragma GCC unroll 8
    for (unsigned chunk = 0; chunk < chunks; ++chunk) {
        const std::uint32_t entry =
            Machine::table[(state << chunk_bits)
                           | ((morton >> ((chunks - 1 - chunk) * chunk_bits)) & chunk_mask)];
        key = (key << chunk_bits) | (entry & chunk_mask);
        state = entry >> chunk_bits;
    }
    return key;
}

}  // namespace detail
}  // namespace orvex
