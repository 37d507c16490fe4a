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
/// failures), except that the batch functions refuse outputs of the wrong size. Results keep ten
/// records inline; only a vertex-to-edge family of eleven or twelve records goes to the heap. Every
/// function only reads its arguments and may run concurrently with itself.
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

/// The smallest internal distance and the status of many tetrahedra in one call: entry i of
/// `minimal` receives `minimal_tetrahedron_internal_distance(tetrahedra[i])`, entry i of `status`
/// `tetrahedron_status(tetrahedra[i])`, the same records to the last bit.
///
/// On x86 processors with AVX-512 (F, DQ, VL) eight tetrahedra are measured side by side, one
/// per vector lane, with AVX2 and FMA four, by the same operations on the same operands as the
/// function on one tetrahedron, so that every distance and every tie is the same; each
/// tetrahedron is measured once, its status read off its smallest distance and the exact
/// orientation sign. The functions on one tetrahedron measure, one by one, every tetrahedron
/// elsewhere and those for which the lanes cannot be sure to round alike: one with a coordinate
/// that is NaN, infinite, above 2^99 in magnitude, or nonzero below 2^-147, or with an edge
/// whose squared length is within a relative 1e-9 of 1e-12.
///
/// `status` may be empty: the orientation signs are then not computed. Safe to call from
/// several threads on disjoint outputs.
/// \throw std::invalid_argument when `minimal` does not have the size of `tetrahedra`, or
/// `status` neither that size nor 0 (nothing is written then).
ORVEX_BACKGROUND_COMMON_EXPORT void minimal_tetrahedron_internal_distances(
    absl::Span<const Tetrahedron> tetrahedra, absl::Span<InternalDistance> minimal,
    absl::Span<InternalDistance::ELEMENT_STATUS> status);

/// The same on the `minimal.size()` tetrahedra of `solid` from `first_tetrahedron` on (entry i
/// is tetrahedron `first_tetrahedron + i`), their points read from the solid while it is
/// measured, the next ones asked for ahead (in the solid's vertex order, which may be random).
/// \throw std::out_of_range when they are not all tetrahedra of `solid`, std::invalid_argument
/// when `status` has neither the size of `minimal` nor 0 (nothing is written then).
ORVEX_BACKGROUND_COMMON_EXPORT void minimal_tetrahedron_internal_distances(
    const TetrahedralSolid<3>& solid, index_t first_tetrahedron,
    absl::Span<InternalDistance> minimal, absl::Span<InternalDistance::ELEMENT_STATUS> status);

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
