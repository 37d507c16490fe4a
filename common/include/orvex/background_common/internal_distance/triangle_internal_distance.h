#pragma once

#include <absl/container/inlined_vector.h>
#include <absl/types/span.h>

#include <optional>

#include "orvex/background_common/export.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/triangle.h"

/// Internal distances of triangles of the plane: how close a triangle is to being flat.
///
/// The internal distance of a triangle is the smallest distance from one of its vertices to the
/// edge opposite that vertex. Configurations are examined in two fixed local tables, and every
/// result keeps their order:
/// - vertex pairs: (0, 1), (0, 2), (1, 2);
/// - edge and opposite vertex: edge (0, 1) with vertex 2, edge (0, 2) with vertex 1, edge (1, 2)
///   with vertex 0.
/// A configuration is reported under a threshold t when its distance d satisfies d <= t; a NaN
/// distance or a NaN threshold never reports one. Epsilon is 1e-6, inclusive.
///
/// Distances are those of the base library's `point_point_distance` and
/// `point_segment_distance`, value for value (on x86 processors with AVX2 and FMA computed side
/// by side in vector registers, to the same bits).
///
/// No function here allocates on the heap (a triangle never yields more than three records, and
/// results keep ten inline) or throws on its own (flat and inverted triangles are results, not
/// failures), except that the batch functions refuse outputs of the wrong size. Every function
/// only reads its arguments and may run concurrently with itself.
namespace orvex {

template <index_t D>
class TriangulatedSurface;

template <index_t D>
class ModifiedTriangle;

namespace internal {

/// The list the threshold scans report in: up to ten records without heap allocation.
using InternalDistances = absl::InlinedVector<InternalDistance, 10>;

/// The smallest vertex-to-opposite-edge distance, as a `point_segment` record (vertex c, edge
/// (a, b)). Among equal smallest distances the first of the table wins (vertex 2, then 1, then
/// 0). Returns the default `undefined` record when no distance is a number (NaN coordinates).
/// Two coincident vertices give distance 0.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistance
minimal_triangle_internal_distance(const Triangle<2>& triangle);

/// The smallest internal distance and the status of many triangles in one call: entry i of
/// `minimal` receives `minimal_triangle_internal_distance(triangles[i])`, entry i of `status`
/// `triangle_status(triangles[i])`, the same records to the last bit.
///
/// On x86 processors with AVX-512 (F, DQ, VL) eight triangles are measured side by side, one
/// per vector lane, with AVX2 and FMA four, by the same operations on the same operands as the
/// function on one triangle, so that every distance and every tie is the same; each
/// triangle is measured once, its status read off its smallest distance and the exact
/// orientation sign. The functions on one triangle measure, one by one, every triangle
/// elsewhere and those for which the lanes cannot be sure to round alike: one with a coordinate
/// that is NaN, infinite, above 2^99 in magnitude, or nonzero below 2^-147.
///
/// `status` may be empty: the orientation signs are then not computed. Safe to call from
/// several threads on disjoint outputs.
/// \throw std::invalid_argument when `minimal` does not have the size of `triangles`, or
/// `status` neither that size nor 0 (nothing is written then).
ORVEX_BACKGROUND_COMMON_EXPORT void minimal_triangle_internal_distances(
    absl::Span<const Triangle<2>> triangles, absl::Span<InternalDistance> minimal,
    absl::Span<InternalDistance::ELEMENT_STATUS> status);

/// The same on the `minimal.size()` triangles of `surface` from `first_triangle` on (entry i is
/// triangle `first_triangle + i`), their points read from the surface while it is measured,
/// the next ones asked for ahead.
/// \throw std::out_of_range when they are not all triangles of `surface`,
/// std::invalid_argument when `status` has neither the size of `minimal` nor 0 (nothing is
/// written then).
ORVEX_BACKGROUND_COMMON_EXPORT void minimal_triangle_internal_distances(
    const TriangulatedSurface<2>& surface, index_t first_triangle,
    absl::Span<InternalDistance> minimal, absl::Span<InternalDistance::ELEMENT_STATUS> status);

/// The configurations of the first family that has any within `options.threshold`: the close
/// vertex pairs (`point_point`) when there is one, otherwise the vertices close to their
/// opposite edge (`point_segment`), otherwise nothing. Records stay in table order.
/// `options.check_adjacencies` plays no part.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistances fast_triangle_internal_distances(
    const Triangle<2>& triangle, const InternalDistance::Options& options);

/// As the overload on a bare triangle, on triangle `triangle_id` of `surface`, with one more
/// family tried between the vertex pairs and the vertex-to-edge configurations when
/// `options.check_adjacencies` is set: the vertices where two local edges have the same
/// adjacent triangle (`vertex_same_adjacent`, distance 0), visited in the order 2, 0, 1
/// (vertex v joins local edges v and (v + 2) mod 3). Those records are reported whatever the
/// threshold, a negative or NaN one included.
/// \pre `triangle_id` is a triangle of `surface` (not checked).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistances
fast_triangle_internal_distances(const TriangulatedSurface<2>& surface, index_t triangle_id,
                                 const InternalDistance::Options& options);

/// True when some vertex lies within 1e-6 (inclusive) of its opposite edge; two coincident
/// vertices count, since the distance is then 0. False for NaN coordinates.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT bool has_internal_distance_below_epsilon(
    const Triangle<2>& triangle);

/// `degenerated` when `has_internal_distance_below_epsilon`, otherwise `valid` when the
/// triangle turns counter-clockwise (exact `triangle_area_sign` is `SIDE::positive`), otherwise
/// `inverted` (NaN coordinates included).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT InternalDistance::ELEMENT_STATUS triangle_status(
    const Triangle<2>& triangle);

/// The number of degenerated triangles of the span, provided that none is inverted: the span
/// is read in order, and the first triangle that is neither degenerated nor counter-clockwise
/// ends the count with an empty optional, whatever follows. 0 for an empty span.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT std::optional<unsigned int>
compute_number_of_negative_triangles(absl::Span<const Triangle<2>> triangles);

/// The same on the triangle that each modified element holds.
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT std::optional<unsigned int>
compute_number_of_negative_triangles(absl::Span<const ModifiedTriangle<2>> triangles);

}  // namespace internal
}  // namespace orvex
