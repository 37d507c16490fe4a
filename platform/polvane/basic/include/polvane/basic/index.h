#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "polvane/basic/export.h"

namespace orvex {

/// Index of a vertex, edge or element of a mesh.
using index_t = std::uint32_t;

/// Index of a vertex, edge or facet inside one element (0 to 2 in a triangle, 0 to 3 in a
/// tetrahedron).
using local_index_t = std::uint8_t;

/// "No index": the largest `index_t`, 4294967295.
inline constexpr index_t NO_ID = std::numeric_limits<index_t>::max();

/// "No local index": 255.
inline constexpr local_index_t NO_LID = std::numeric_limits<local_index_t>::max();

/// The library-wide absolute tolerance, in the mesh's units of length: lengths at most this
/// small count as zero (degenerate segments, nearly equal points, point location).
inline constexpr double GLOBAL_EPSILON = 1e-6;

/// Checks that a list of `length` entries can be addressed by `index_t` values.
/// \throw PolvaneException "[Range] Invalid range: <length> > 4294967295" when it cannot.
POLVANE_BASIC_EXPORT void check_index_range(std::size_t length);

}  // namespace orvex
