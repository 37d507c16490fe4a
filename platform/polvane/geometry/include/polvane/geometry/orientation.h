#pragma once

#include <cmath>
#include <cstdint>

#include "polvane/geometry/export.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

namespace orvex {

/// The orientation of an element. `positive` (value 0) is the orientation of a correctly
/// oriented element; `zero` is a flat element, or one that cannot be oriented because a
/// coordinate is NaN or infinite, so that no check ever takes it as correctly oriented.
enum struct SIDE : std::uint8_t { positive = 0, negative, zero };

namespace detail {

// The signs are found in two stages: a floating-point filter, inline so that loops over
// elements pay no call, and an exact stage out of line for the elements the filter cannot
// decide (see orientation.cpp).

inline constexpr double kUnitRoundoff = 0x1p-53;

// Bounds on the rounding error of the 2x2 and 3x3 determinants of differences computed below,
// relative to the sum of the magnitudes of their terms (Shewchuk's first-stage bounds).
inline constexpr double kAreaErrorBound = (3.0 + 16.0 * kUnitRoundoff) * kUnitRoundoff;
inline constexpr double kVolumeErrorBound = (7.0 + 56.0 * kUnitRoundoff) * kUnitRoundoff;

// Those bounds assume no underflow. A product that underflows is off by at most 2^-1075, and in
// 3D such a product is then multiplied by a difference; this margin (scaled by the magnitude of
// that difference in 3D) covers it with room to spare, and only sends determinants below about
// 1e-301 to the exact stage.
inline constexpr double kUnderflowMargin = 0x1p-1000;

POLVANE_GEOMETRY_EXPORT SIDE exact_triangle_area_sign(const Triangle<2>& triangle);

POLVANE_GEOMETRY_EXPORT SIDE exact_tetrahedron_volume_sign(const Tetrahedron& tetrahedron);

}  // namespace detail

/// The exact sign of the signed area of the triangle: `positive` when its vertices turn
/// counter-clockwise, `negative` when they turn clockwise, `zero` when they are collinear
/// (coincident vertices included) or when a coordinate is not finite.
///
/// Exact for every finite double: the answer is the sign of the determinant
/// (p1 - p0) x (p2 - p0) as if it were computed with real numbers, however flat the triangle
/// and whatever the magnitudes (1e-300 or 1e300 alike). Never throws.
[[nodiscard]] inline SIDE triangle_area_sign(const Triangle<2>& triangle) {
    const Point<2>& p0 = triangle.vertices()[0];
    const Point<2>& p1 = triangle.vertices()[1];
    const Point<2>& p2 = triangle.vertices()[2];
    const double left = (p1.value(0) - p0.value(0)) * (p2.value(1) - p0.value(1));
    const double right = (p1.value(1) - p0.value(1)) * (p2.value(0) - p0.value(0));
    const double determinant = left - right;
    const double bound =
        detail::kAreaErrorBound * (std::fabs(left) + std::fabs(right)) + detail::kUnderflowMargin;
    // NaN and infinite values fail both tests and go to the exact stage.
    if (determinant > bound) {
        return SIDE::positive;
    }
    if (-determinant > bound) {
        return SIDE::negative;
    }
    return detail::exact_triangle_area_sign(triangle);
}

/// The exact sign of the signed volume of the tetrahedron: `positive` when
/// (p1 - p0) . ((p2 - p0) x (p3 - p0)) > 0, `negative` when it is < 0, `zero` when the four
/// vertices are coplanar or when a coordinate is not finite. Exact for every finite double,
/// like `triangle_area_sign`. Never throws.
[[nodiscard]] inline SIDE tetrahedron_volume_sign(const Tetrahedron& tetrahedron) {
    const Point<3>& p0 = tetrahedron.vertices()[0];
    const Point<3>& p1 = tetrahedron.vertices()[1];
    const Point<3>& p2 = tetrahedron.vertices()[2];
    const Point<3>& p3 = tetrahedron.vertices()[3];
    const double ux = p1.value(0) - p0.value(0);
    const double uy = p1.value(1) - p0.value(1);
    const double uz = p1.value(2) - p0.value(2);
    const double vx = p2.value(0) - p0.value(0);
    const double vy = p2.value(1) - p0.value(1);
    const double vz = p2.value(2) - p0.value(2);
    const double wx = p3.value(0) - p0.value(0);
    const double wy = p3.value(1) - p0.value(1);
    const double wz = p3.value(2) - p0.value(2);
    const double vywz = vy * wz;
    const double vzwy = vz * wy;
    const double vzwx = vz * wx;
    const double vxwz = vx * wz;
    const double vxwy = vx * wy;
    const double vywx = vy * wx;
    const double determinant = ux * (vywz - vzwy) + uy * (vzwx - vxwz) + uz * (vxwy - vywx);
    const double permanent = std::fabs(ux) * (std::fabs(vywz) + std::fabs(vzwy))
                             + std::fabs(uy) * (std::fabs(vzwx) + std::fabs(vxwz))
                             + std::fabs(uz) * (std::fabs(vxwy) + std::fabs(vywx));
    const double bound =
        detail::kVolumeErrorBound * permanent
        + (std::fabs(ux) + std::fabs(uy) + std::fabs(uz) + 1.0) * detail::kUnderflowMargin;
    if (determinant > bound) {
        return SIDE::positive;
    }
    if (-determinant > bound) {
        return SIDE::negative;
    }
    return detail::exact_tetrahedron_volume_sign(tetrahedron);
}

}  // namespace orvex
