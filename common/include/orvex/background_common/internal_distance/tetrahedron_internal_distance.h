#pragma once

#include <absl/container/inlined_vector.h>
#include <absl/types/span.h>

#include <optional>

#include "orvex/background_common/export.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/tetrahedron.h"

/// Internal distances of tetrahedra: how close a tetrahedron is to being flat.
///
/// The internal distance of a tetrahedron is the smallest of seven distances: from each vertex
/// to its opposite facet (four) and between the edges of each pair of opposite edges (three).
/// Configurations are examined in fixed local tables, and every result keeps their order:
/// - vertex pairs: (0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (2, 3);
/// - edge and a vertex not on it: (0, 1) with 2, then 3; (0, 2) with 1, then 3; (0, 3) with 1,
///   then 2; (1, 2) with 0, then 3; (1, 3) with 0, then 2; (2, 3) with 0, then 1;
/// - facet and opposite vertex: (1, 2, 3) with 0; (2, 3, 0) with 1; (3, 0, 1) with 2;
///   (0, 1, 2) with 3;
/// - opposite edges: (0, 1) with (2, 3); (0, 2) with (1, 3); (0, 3) with (1, 2). A pair of which
///   one edge is at most 1e-6 long is left out rather than measured. Its record names the first
///   edge only.
/// A configuration is reported under a threshold t when its distance d satisfies d <= t; a NaN
/// distance or a NaN threshold never reports one. Epsilon is 1e-6, inclusive.
///
/// Distances are those of the base library's `point_point_distance`, `point_segment_distance`,
/// `point_triangle_distance` (the distance to the closed facet) and `segment_segment_distance`,
/// value for value: accurate for thin, flat and nearly parallel configurations alike. On x86
/// processors with AVX2 and FMA they are computed side by side in vector registers, to the
/// same bits.
///
/// No function here throws on its own (flat, folded and inverted tetrahedra are results, not
/// failures). Results keep ten records inline; only a vertex-to-edge family of eleven or twelve
/// records goes to the heap. Every function only reads its arguments and may run concurrently
/// with itself.
namespace orvex {

template <index_t D>
class TetrahedralSolid;

class ModifiedTetrahedron;

namespace internal {

/// The list the threshold scans report in: up to ten records without heap allocation.
using InternalDistances = absl::InlinedVector<InternalDistance, 10>;

/// The smallest of the four vertex-to-facet distances (`point_triangle` record) and the three
/// opposite-edge distances (`segment_segment` record). Among equal smallest distances the
/// first wins: vertex-to-facet records (vertices 0 to 3) before opposite-edge records, each in
/// table order. Returns the default `undefined` record when no distance is a number (NaN
/// coordinates). Vertex pairs and vertex-to-edge distances take no part: two coincident
/// vertices show as a vertex at distance 0 from its facet.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistance
minimal_tetrahedron_internal_distance(const Tetrahedron& tetrahedron);

/// The configurations of the first family that has any within `options.threshold`, the
/// families tried in the order vertex pairs (`point_point`), vertex to edge (`point_segment`),
/// vertex to facet (`point_triangle`), opposite edges (`segment_segment`); empty when none
/// has. `options.check_adjacencies` plays no part.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistances fast_tetrahedron_internal_distances(
    const Tetrahedron& tetrahedron, const InternalDistance::Options& options);

/// As the overload on a bare tetrahedron, on tetrahedron `tetrahedron_id` of `solid`, with two
/// more families tried after the vertex pairs when `options.check_adjacencies` is set:
/// - the vertices v = 0 to 3 whose three facets (all but facet v) have one and the same
///   adjacent tetrahedron (`vertex_same_adjacent`);
/// - otherwise, the edges (a, b) of the vertex-pair table whose two facets (those opposite the
///   two other vertices) have one and the same adjacent tetrahedron (`edge_same_adjacent`).
/// Those records carry distance 0 and are reported whatever the threshold, a negative or NaN
/// one included.
/// \pre `tetrahedron_id` is a tetrahedron of `solid` (not checked).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistances
fast_tetrahedron_internal_distances(const TetrahedralSolid<3>& solid, index_t tetrahedron_id,
                                    const InternalDistance::Options& options);

/// True when some vertex lies within 1e-6 (inclusive) of its opposite facet or, failing that,
/// two opposite edges (both longer than 1e-6) lie within 1e-6 of each other. Coincident
/// vertices count (a vertex is then 0 from its facet). False for NaN coordinates.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT bool has_internal_distance_below_epsilon(
    const Tetrahedron& tetrahedron);

/// `degenerated` when `has_internal_distance_below_epsilon`, otherwise `valid` when the exact
/// `tetrahedron_volume_sign` is `SIDE::positive`, otherwise `inverted` (NaN coordinates
/// included).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistance::ELEMENT_STATUS tetrahedron_status(
    const Tetrahedron& tetrahedron);

/// The number of degenerated tetrahedra of the span, provided that none is inverted: the span
/// is read in order, and the first tetrahedron that is neither degenerated nor positively
/// oriented ends the count with an empty optional, whatever follows. 0 for an empty span.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT std::optional<unsigned int>
compute_number_of_negative_tetrahedra(absl::Span<const Tetrahedron> tetrahedra);

/// The same on the tetrahedron that each modified element holds.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT std::optional<unsigned int>
compute_number_of_negative_tetrahedra(absl::Span<const ModifiedTetrahedron> tetrahedra);

}  // namespace internal
}  // namespace orvex
