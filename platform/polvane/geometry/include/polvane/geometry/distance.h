#pragma once

#include <tuple>
#include <type_traits>

#include "polvane/basic/index.h"
#include "polvane/geometry/export.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

/// Euclidean distances between points and closed simplices.
///
/// Common contract of every function here:
/// - Accuracy: each computation works on differences of the input points, in a local frame
///   scaled by a power of two, and never on the textbook forms that cancel, so the result is
///   close to the distance between the exact inputs: thin, flat and nearly parallel
///   configurations included, far from the origin (1e6) or with coordinates from 1e-150 to
///   1e150. The absolute error stays within a few units of roundoff of the lengths involved.
/// - Degenerate simplices are measured as the point sets they are: a zero-length segment as its
///   point, a flat triangle or tetrahedron as its edges or facets.
/// - A NaN or infinite coordinate gives a NaN distance (and NaN nearest points); no function
///   throws.
namespace orvex {

/// The distance between two points. Defined for D = 1, 2, 3.
template <index_t D>
[[nodiscard]] POLVANE_GEOMETRY_EXPORT double point_point_distance(const Point<D>& point0,
                                                                  const Point<D>& point1);

/// The distance from a point to a closed segment. Defined for D = 1, 2, 3.
template <index_t D>
[[nodiscard]] POLVANE_GEOMETRY_EXPORT double point_segment_distance(const Point<D>& point,
                                                                    const Segment<D>& segment);

/// What `point_triangle_distance` returns: in 2D the distance alone, in 3D the distance first
/// and then the nearest point of the triangle.
template <index_t D>
using PointTriangleDistance = std::conditional_t<D == 2, double, std::tuple<double, Point<D>>>;

/// The distance from a point to a closed triangle. Defined for D = 2 and 3.
/// - D = 2: the distance alone; 0 when the point is inside the triangle or on its border
///   (decided with exact orientation signs, whichever way the triangle turns).
/// - D = 3: the tuple (distance, nearest point of the triangle).
template <index_t D>
[[nodiscard]] POLVANE_GEOMETRY_EXPORT PointTriangleDistance<D> point_triangle_distance(
    const Point<D>& point, const Triangle<D>& triangle);

/// The distance from a point to a closed tetrahedron: 0 when the point is inside it or on its
/// border (decided with exact orientation signs, whichever the tetrahedron's orientation),
/// otherwise the distance to the nearest facet. Only the distance is returned: inside, the
/// nearest point is the point itself; outside, `point_triangle_distance` on the facets gives
/// it.
[[nodiscard]] POLVANE_GEOMETRY_EXPORT double point_tetrahedron_distance(
    const Point<3>& point, const Tetrahedron& tetrahedron);

/// The distance between two closed segments, then the nearest point of `segment0` and the
/// nearest point of `segment1`. Defined for D = 3. When several pairs of points realise the
/// distance (parallel overlapping segments), one of them is returned. Nearly parallel segments
/// are as accurate as any others.
template <index_t D>
[[nodiscard]] POLVANE_GEOMETRY_EXPORT std::tuple<double, Point<D>, Point<D>>
segment_segment_distance(const Segment<D>& segment0, const Segment<D>& segment1);

}  // namespace orvex
