#include "polvane/geometry/distance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "polvane/geometry/orientation.h"

namespace orvex {
namespace {

// Every computation below follows the same pattern: take differences of the input points
// (one rounding each, relative to the difference itself), find the largest component, and,
// when it lies outside [2^-100, 2^100], scale all differences by one power of two so that the
// largest is near 1. Scaling by a power of two is exact (up to the loss of components more
// than 2^1000 times smaller than the largest, which cannot matter), and in that range the
// products of up to four differences that follow can neither overflow nor lose precision to
// underflow. The result is scaled back at the end.
//
// A difference of two finite coordinates can itself exceed the largest double (1e308 - -1e308).
// The differences are then formed again from the halved coordinates, whose differences are
// always finite, and the results are doubled back with the same scaling exponent. Halving is
// exact except for the last bit of a subnormal coordinate, a change far below the rounding of
// a difference that large. Only elements with such huge differences take the second pass.

constexpr double kSafeLow = 0x1p-100;
constexpr double kSafeHigh = 0x1p100;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <std::size_t D>
using Coordinates = std::array<double, D>;

// std::ldexp(value, exponent), to the bit: a multiplication by 2^exponent is rounded once, as
// ldexp is, wherever that power is a normal double (always here but for the most extreme
// scalings, which take ldexp itself). ldexp is a library call that is not inlined: on meshes
// near the safe range's edges (elements 1e-30 long) it took a third of every distance.
inline double scaled_by(double value, int exponent) {
    if (exponent >= -1022 && exponent <= 1023) {
        const auto bits = static_cast<std::uint64_t>(exponent + 1023) << 52U;
        double power = 0;
        std::memcpy(&power, &bits, sizeof(power));
        return value * power;
    }
    return std::ldexp(value, exponent);
}

// (a0 b0 + a1 b1) + a2 b2, in that order.
template <std::size_t D>
double dot(const Coordinates<D>& a, const Coordinates<D>& b) {
    double result = a[0] * b[0];
    for (std::size_t axis = 1; axis < D; ++axis) {
        result += a[axis] * b[axis];
    }
    return result;
}

Coordinates<3> cross(const Coordinates<3>& a, const Coordinates<3>& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// to - from, computed on the coordinates times 2^-shift (shift is 0 or 1).
template <index_t D>
Coordinates<D> difference(const Point<D>& to, const Point<D>& from, int shift = 0) {
    Coordinates<D> result{};
    for (index_t axis = 0; axis < D; ++axis) {
        result[axis] = shift == 0 ? to.value(axis) - from.value(axis)
                                  : 0.5 * to.value(axis) - 0.5 * from.value(axis);
    }
    return result;
}

template <index_t D>
Point<D> nan_point() {
    Point<D> result;
    for (index_t axis = 0; axis < D; ++axis) {
        result.set_value(axis, kNaN);
    }
    return result;
}

// The largest absolute component of the given vectors; NaN when one is not finite.
template <std::size_t D, std::size_t N>
double largest_component(const std::array<Coordinates<D>*, N>& vectors) {
    double largest = 0;
    for (const Coordinates<D>* vector : vectors) {
        for (const double value : *vector) {
            if (!std::isfinite(value)) {
                return kNaN;
            }
            largest = std::max(largest, std::fabs(value));
        }
    }
    return largest;
}

// Scales the vectors so that their largest component is near 1 when it lies outside the safe
// range, and returns the exponent to scale results back with (0 when nothing was scaled).
// `largest` must be finite and positive.
template <std::size_t D, std::size_t N>
int bring_to_safe_range(double largest, const std::array<Coordinates<D>*, N>& vectors) {
    if (largest >= kSafeLow && largest <= kSafeHigh) {
        return 0;
    }
    const int exponent = std::ilogb(largest);
    for (Coordinates<D>* vector : vectors) {
        for (double& value : *vector) {
            value = scaled_by(value, -exponent);
        }
    }
    return exponent;
}

struct ScaledDifferences {
    double largest;  // NaN when a coordinate is not finite, 0 when every difference vanishes
    int exponent;    // to scale results back with
};

// Fills the vectors with `fill(shift)` (the differences of the coordinates times 2^-shift),
// again with shift 1 when a difference of finite coordinates overflowed, and brings them to the
// safe range. The exponent accounts for both scalings.
template <std::size_t D, std::size_t N, typename Fill>
ScaledDifferences scaled_differences(const std::array<Coordinates<D>*, N>& vectors, Fill fill) {
    fill(0);
    double largest = largest_component(vectors);
    int shift = 0;
    if (std::isnan(largest)) {  // a coordinate is not finite, or a difference overflowed
        fill(1);
        largest = largest_component(vectors);
        shift = 1;
    }
    if (!(largest > 0)) {
        return {largest, 0};
    }
    return {largest, shift + bring_to_safe_range(largest, vectors)};
}

// Scales a vector whose largest component is below the safe range so that it is near 1; only
// for vectors whose direction alone matters.
void bring_to_unit_range(Coordinates<3>& vector) {
    double largest = 0;
    for (const double value : vector) {
        largest = std::max(largest, std::fabs(value));
    }
    if (largest > 0 && largest < kSafeLow) {
        const int exponent = std::ilogb(largest);
        for (double& value : vector) {
            value = scaled_by(value, -exponent);
        }
    }
}

// The components are at most about 1 after `bring_to_safe_range`, but some results (the gap
// between a point and a segment a thousand orders of magnitude longer) are far smaller: their
// squares would underflow to zero. Such a vector is brought near 1 by its own largest component
// before it is squared.
template <std::size_t D>
double norm_in_safe_range(const Coordinates<D>& vector) {
    double largest = 0;
    for (const double value : vector) {
        largest = std::max(largest, std::fabs(value));
    }
    if (largest == 0 || !(largest < kSafeLow)) {
        return std::sqrt(dot(vector, vector));  // NaN stays NaN
    }
    const int exponent = std::ilogb(largest);
    Coordinates<D> scaled = vector;
    for (double& value : scaled) {
        value = scaled_by(value, -exponent);
    }
    return scaled_by(std::sqrt(dot(scaled, scaled)), exponent);
}

// The point a + t (b - a), 0 <= t <= 1, measured from the nearer end so that t = 0 and t = 1
// give a and b exactly.
template <index_t D>
Point<D> point_along(const Point<D>& a, const Point<D>& b, double t) {
    Point<D> result;
    for (index_t axis = 0; axis < D; ++axis) {
        const double extent = b.value(axis) - a.value(axis);
        if (std::isfinite(extent) || !std::isfinite(a.value(axis))
            || !std::isfinite(b.value(axis))) {
            result.set_value(axis, t <= 0.5 ? std::fma(t, extent, a.value(axis))
                                            : std::fma(t - 1, extent, b.value(axis)));
        } else {
            // The extent overflowed: the same on the halved coordinates, doubled back exactly.
            const double half_extent = 0.5 * b.value(axis) - 0.5 * a.value(axis);
            result.set_value(axis,
                             2
                                 * (t <= 0.5 ? std::fma(t, half_extent, 0.5 * a.value(axis))
                                             : std::fma(t - 1, half_extent, 0.5 * b.value(axis))));
        }
    }
    return result;
}

struct Projection {
    double distance;
    double parameter;  // of the nearest point along the segment, in [0, 1]
};

// The distance from p to the closed segment [a, b] and the parameter of the nearest point.
//
// The textbook sqrt(|ap|^2 - t^2 |ab|^2) subtracts two nearly equal squares: for a point 1e-6
// from an edge 1e3 long it returns 0 or garbage. Here the nearest point is formed and the
// residual vector measured. The rounding error of t moves the nearest point along the segment,
// perpendicular to the residual, so it changes the distance only to second order; the fused
// multiply-add then forms each residual component with one rounding.
template <index_t D>
Projection project_on_segment(const Point<D>& p, const Point<D>& a, const Point<D>& b) {
    Coordinates<D> ab{};
    Coordinates<D> ap{};
    Coordinates<D> bp{};
    const std::array<Coordinates<D>*, 3> vectors{&ab, &ap, &bp};
    const auto [largest, exponent] = scaled_differences(vectors, [&](int shift) {
        ab = difference(b, a, shift);
        ap = difference(p, a, shift);
        bp = difference(p, b, shift);
    });
    if (!(largest > 0)) {
        return {largest, largest};  // NaN, or p = a = b
    }
    const double length2 = dot(ab, ab);
    double t = 0;
    if (length2 > 0) {
        t = std::clamp(dot(ap, ab) / length2, 0.0, 1.0);
    }
    Coordinates<D> residual{};
    for (std::size_t axis = 0; axis < D; ++axis) {
        residual[axis] =
            t <= 0.5 ? std::fma(-t, ab[axis], ap[axis]) : std::fma(1 - t, ab[axis], bp[axis]);
    }
    return {scaled_by(norm_in_safe_range(residual), exponent), t};
}

struct SegmentPair {
    double distance;
    double parameter0;
    double parameter1;
};

// The candidate pair of segment-segment distance at the critical point of the two lines,
// brought back into the unit square. Used only when the segments are not parallel.
//
// The line parameters come from Cramer's rule on the normal n = d0 x d1. For nearly parallel
// segments n is small and the parameters are inaccurate, but the distance is then almost
// constant along the valley where the two points move together: one projection of each
// point onto the other segment brings the pair to the bottom of the valley, where an error
// along it costs only the square of the (tiny) angle. The pair is always a pair of points of
// the two segments, so its distance never underestimates the true one.
SegmentPair interior_candidate(const Point<3>& p0, const Point<3>& p1, const Point<3>& q0,
                               const Point<3>& q1) {
    Coordinates<3> d0{};
    Coordinates<3> d1{};
    Coordinates<3> r{};
    const std::array<Coordinates<3>*, 3> vectors{&d0, &d1, &r};
    const auto [largest, exponent] = scaled_differences(vectors, [&](int shift) {
        d0 = difference(p1, p0, shift);
        d1 = difference(q1, q0, shift);
        r = difference(q0, p0, shift);
    });
    const SegmentPair none{std::numeric_limits<double>::infinity(), 0, 0};
    if (!(largest > 0)) {
        return none;
    }
    const Coordinates<3> normal = cross(d0, d1);
    const double normal2 = dot(normal, normal);
    const double length0 = dot(d0, d0);
    const double length1 = dot(d1, d1);
    if (!(normal2 > 0 && length0 > 0 && length1 > 0)) {
        return none;  // parallel: an endpoint realises the distance
    }
    double s = std::clamp(dot(cross(r, d1), normal) / normal2, 0.0, 1.0);
    Coordinates<3> from_q0{};  // p(s) - q0
    for (std::size_t axis = 0; axis < 3; ++axis) {
        from_q0[axis] = std::fma(s, d0[axis], -r[axis]);
    }
    const double t = std::clamp(dot(from_q0, d1) / length1, 0.0, 1.0);
    Coordinates<3> from_p0{};  // q(t) - p0
    for (std::size_t axis = 0; axis < 3; ++axis) {
        from_p0[axis] = std::fma(t, d1[axis], r[axis]);
    }
    s = std::clamp(dot(from_p0, d0) / length0, 0.0, 1.0);
    Coordinates<3> residual{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        residual[axis] = std::fma(s, d0[axis], -std::fma(t, d1[axis], r[axis]));
    }
    return {scaled_by(norm_in_safe_range(residual), exponent), s, t};
}

}  // namespace

template <index_t D>
double point_point_distance(const Point<D>& point0, const Point<D>& point1) {
    Coordinates<D> delta{};
    const std::array<Coordinates<D>*, 1> vectors{&delta};
    const auto [largest, exponent] =
        scaled_differences(vectors, [&](int shift) { delta = difference(point1, point0, shift); });
    if (!(largest > 0)) {
        return largest;  // NaN, or equal points
    }
    return scaled_by(norm_in_safe_range(delta), exponent);
}

template <index_t D>
double point_segment_distance(const Point<D>& point, const Segment<D>& segment) {
    return project_on_segment(point, segment.vertices()[0].get(), segment.vertices()[1].get())
        .distance;
}

namespace {

double point_triangle_distance_2d(const Point<2>& point, const Triangle<2>& triangle) {
    const auto& vertices = triangle.vertices();
    if (!is_finite(point) || !is_finite(vertices[0].get()) || !is_finite(vertices[1].get())
        || !is_finite(vertices[2].get())) {
        return kNaN;
    }
    const SIDE side = triangle_area_sign(triangle);
    if (side != SIDE::zero) {
        bool inside = true;
        for (index_t edge = 0; edge < 3 && inside; ++edge) {
            const SIDE point_side =
                triangle_area_sign(Triangle<2>{vertices[edge], vertices[(edge + 1) % 3], point});
            inside = point_side == side || point_side == SIDE::zero;
        }
        if (inside) {
            return 0;
        }
    }
    // Outside, or a flat triangle: the nearest point lies on an edge.
    double distance = std::numeric_limits<double>::infinity();
    for (index_t edge = 0; edge < 3; ++edge) {
        distance = std::min(distance, project_on_segment(point, vertices[edge].get(),
                                                         vertices[(edge + 1) % 3].get())
                                          .distance);
    }
    return distance;
}

// Whether `point` lies in the bounding box of `vertices`, widened by a few roundings of the
// largest magnitude among the point's and the vertices' coordinates (the projection that
// gives `point` is computed from all of them).
template <typename Vertices>
bool within_box(const Point<3>& point, const Vertices& vertices) {
    double largest = 0;
    for (index_t axis = 0; axis < 3; ++axis) {
        largest = std::max(largest, std::fabs(point.value(axis)));
        for (const auto& vertex : vertices) {
            largest = std::max(largest, std::fabs(vertex.get().value(axis)));
        }
    }
    const double slack = 8 * std::numeric_limits<double>::epsilon() * largest;
    for (index_t axis = 0; axis < 3; ++axis) {
        double low = vertices[0].get().value(axis);
        double high = low;
        for (index_t v = 1; v < 3; ++v) {
            low = std::min(low, vertices[v].get().value(axis));
            high = std::max(high, vertices[v].get().value(axis));
        }
        if (!(point.value(axis) >= low - slack && point.value(axis) <= high + slack)) {
            return false;
        }
    }
    return true;
}

std::tuple<double, Point<3>> point_triangle_distance_3d(const Point<3>& point,
                                                        const Triangle<3>& triangle) {
    const auto& vertices = triangle.vertices();
    if (!is_finite(point) || !is_finite(vertices[0].get()) || !is_finite(vertices[1].get())
        || !is_finite(vertices[2].get())) {
        return {kNaN, nan_point<3>()};
    }
    // The plane's normal is the cross product of the two shortest edges, at the vertex
    // opposite the longest one: its rounding error, relative to its length, is then smallest.
    std::array<double, 3> opposite_edge_length{};
    for (index_t vertex = 0; vertex < 3; ++vertex) {
        opposite_edge_length[vertex] = point_point_distance(vertices[(vertex + 1) % 3].get(),
                                                            vertices[(vertex + 2) % 3].get());
    }
    const auto origin = static_cast<index_t>(
        std::max_element(opposite_edge_length.begin(), opposite_edge_length.end())
        - opposite_edge_length.begin());
    const Point<3>& a = vertices[origin];
    const Point<3>& b = vertices[(origin + 1) % 3];
    const Point<3>& c = vertices[(origin + 2) % 3];

    Coordinates<3> ab{};
    Coordinates<3> ac{};
    Coordinates<3> ap{};
    Coordinates<3> bc{};
    Coordinates<3> bp{};
    const std::array<Coordinates<3>*, 5> vectors{&ab, &ac, &ap, &bc, &bp};
    const auto [largest, exponent] = scaled_differences(vectors, [&](int shift) {
        ab = difference(b, a, shift);
        ac = difference(c, a, shift);
        ap = difference(point, a, shift);
        bc = difference(c, b, shift);
        bp = difference(point, b, shift);
    });
    if (!(largest > 0)) {
        return {largest, largest == 0 ? point : nan_point<3>()};
    }
    Coordinates<3> normal = cross(ab, ac);
    // Only the normal's direction is used. The normal of a sliver whose height is more than
    // 2^100 times smaller than its length (1 beside 1e308) is tiny, and its squared length would
    // underflow to 0: it is brought near 1 first.
    bring_to_unit_range(normal);
    const double normal2 = dot(normal, normal);
    if (normal2 > 0 && dot(cross(ab, ap), normal) >= 0 && dot(cross(ap, ac), normal) >= 0
        && dot(cross(bc, bp), normal) >= 0) {
        // The point projects inside the triangle: the nearest point is its projection.
        const double height = dot(ap, normal) / normal2;
        Point<3> nearest = point;
        for (index_t axis = 0; axis < 3; ++axis) {
            nearest.set_value(axis, point.value(axis) - scaled_by(height * normal[axis], exponent));
        }
        // On a sliver the three signs can round to zero for a point on the line of its long
        // edge but beyond its end (the point (2.000002, ...) and the sliver from (-2, -2, -2)
        // to (2, 2, 2) and (2, 2 + 6e-14, 2)): the projection then lies outside the triangle's
        // bounding box, which no true projection does (up to a few roundings), and the
        // nearest point is on an edge.
        if (within_box(nearest, vertices)) {
            return {scaled_by(std::fabs(dot(ap, normal)) / std::sqrt(normal2), exponent), nearest};
        }
    }
    // Outside, or a flat triangle: the nearest point lies on an edge.
    double distance = std::numeric_limits<double>::infinity();
    Point<3> nearest;
    for (index_t edge = 0; edge < 3; ++edge) {
        const Point<3>& from = vertices[edge];
        const Point<3>& to = vertices[(edge + 1) % 3];
        const Projection projection = project_on_segment(point, from, to);
        if (projection.distance < distance) {
            distance = projection.distance;
            nearest = point_along(from, to, projection.parameter);
        }
    }
    return {distance, nearest};
}

}  // namespace

template <index_t D>
PointTriangleDistance<D> point_triangle_distance(const Point<D>& point,
                                                 const Triangle<D>& triangle) {
    if constexpr (D == 2) {
        return point_triangle_distance_2d(point, triangle);
    } else {
        return point_triangle_distance_3d(point, triangle);
    }
}

double point_tetrahedron_distance(const Point<3>& point, const Tetrahedron& tetrahedron) {
    const auto& vertices = tetrahedron.vertices();
    if (!is_finite(point)) {
        return kNaN;
    }
    for (const Point<3>& vertex : vertices) {
        if (!is_finite(vertex)) {
            return kNaN;
        }
    }
    const SIDE side = tetrahedron_volume_sign(tetrahedron);
    if (side != SIDE::zero) {
        bool inside = true;
        for (index_t vertex = 0; vertex < 4 && inside; ++vertex) {
            std::array<const Point<3>*, 4> replaced{&vertices[0].get(), &vertices[1].get(),
                                                    &vertices[2].get(), &vertices[3].get()};
            replaced[vertex] = &point;
            const SIDE point_side = tetrahedron_volume_sign(
                Tetrahedron{*replaced[0], *replaced[1], *replaced[2], *replaced[3]});
            inside = point_side == side || point_side == SIDE::zero;
        }
        if (inside) {
            return 0;
        }
    }
    // Outside, or a flat tetrahedron (the union of its facets): the nearest point lies on a
    // facet.
    double distance = std::numeric_limits<double>::infinity();
    for (index_t facet = 0; facet < 4; ++facet) {
        const Triangle<3> triangle{vertices[(facet + 1) % 4], vertices[(facet + 2) % 4],
                                   vertices[(facet + 3) % 4]};
        distance = std::min(distance, std::get<0>(point_triangle_distance(point, triangle)));
    }
    return distance;
}

template <index_t D>
std::tuple<double, Point<D>, Point<D>> segment_segment_distance(const Segment<D>& segment0,
                                                                const Segment<D>& segment1) {
    static_assert(D == 3, "segment_segment_distance is provided in 3D");
    const Point<3>& p0 = segment0.vertices()[0];
    const Point<3>& p1 = segment0.vertices()[1];
    const Point<3>& q0 = segment1.vertices()[0];
    const Point<3>& q1 = segment1.vertices()[1];
    if (!is_finite(p0) || !is_finite(p1) || !is_finite(q0) || !is_finite(q1)) {
        return {kNaN, nan_point<3>(), nan_point<3>()};
    }
    // The squared distance is a convex quadratic of the two parameters over the unit square:
    // its minimum lies on the border of the square (an endpoint of one segment against the
    // other segment) or at the critical point of the two lines. Taking the smallest of these
    // five candidates needs no threshold on how parallel the segments are.
    SegmentPair best{std::numeric_limits<double>::infinity(), 0, 0};
    const auto keep = [&best](const SegmentPair& candidate) {
        if (candidate.distance < best.distance) {
            best = candidate;
        }
    };
    const Projection from_p0 = project_on_segment(p0, q0, q1);
    keep({from_p0.distance, 0, from_p0.parameter});
    const Projection from_p1 = project_on_segment(p1, q0, q1);
    keep({from_p1.distance, 1, from_p1.parameter});
    const Projection from_q0 = project_on_segment(q0, p0, p1);
    keep({from_q0.distance, from_q0.parameter, 0});
    const Projection from_q1 = project_on_segment(q1, p0, p1);
    keep({from_q1.distance, from_q1.parameter, 1});
    keep(interior_candidate(p0, p1, q0, q1));
    return {best.distance, point_along(p0, p1, best.parameter0),
            point_along(q0, q1, best.parameter1)};
}

template POLVANE_GEOMETRY_EXPORT double point_point_distance<1>(const Point<1>&, const Point<1>&);
template POLVANE_GEOMETRY_EXPORT double point_point_distance<2>(const Point<2>&, const Point<2>&);
template POLVANE_GEOMETRY_EXPORT double point_point_distance<3>(const Point<3>&, const Point<3>&);
template POLVANE_GEOMETRY_EXPORT double point_segment_distance<1>(const Point<1>&,
                                                                  const Segment<1>&);
template POLVANE_GEOMETRY_EXPORT double point_segment_distance<2>(const Point<2>&,
                                                                  const Segment<2>&);
template POLVANE_GEOMETRY_EXPORT double point_segment_distance<3>(const Point<3>&,
                                                                  const Segment<3>&);
template POLVANE_GEOMETRY_EXPORT double point_triangle_distance<2>(const Point<2>&,
                                                                   const Triangle<2>&);
template POLVANE_GEOMETRY_EXPORT std::tuple<double, Point<3>> point_triangle_distance<3>(
    const Point<3>&, const Triangle<3>&);
template POLVANE_GEOMETRY_EXPORT std::tuple<double, Point<3>, Point<3>> segment_segment_distance<3>(
    const Segment<3>&, const Segment<3>&);

}  // namespace orvex
