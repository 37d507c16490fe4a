#include "polvane/geometry/distance.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "platform/polvane/geometry/exact_oracle.h"

namespace orvex {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Point3D p3(double x, double y, double z) {
    return Point3D{{x, y, z}};
}

double relative_error(double value, long double reference) {
    if (reference == 0) {
        return std::fabs(value);
    }
    return static_cast<double>(std::fabs((value - reference) / reference));
}

Point3D random_point(std::mt19937_64& random, double extent) {
    std::uniform_real_distribution<double> coordinate{-extent, extent};
    return p3(coordinate(random), coordinate(random), coordinate(random));
}

TEST(PointDistance, PointPointIsExactlyRoundedAndOverflowFree) {
    EXPECT_DOUBLE_EQ(point_point_distance(Point2D{{0, 0}}, Point2D{{3, 4}}), 5);
    EXPECT_DOUBLE_EQ(point_point_distance(Point1D{{-2}}, Point1D{{5}}), 7);
    EXPECT_DOUBLE_EQ(point_point_distance(p3(1e150, 0, 0), p3(0, 1e150, 0)), std::sqrt(2) * 1e150);
    EXPECT_DOUBLE_EQ(point_point_distance(p3(3e-200, 0, 0), p3(0, 4e-200, 0)), 5e-200);
    EXPECT_EQ(point_point_distance(p3(1, 2, 3), p3(1, 2, 3)), 0);
    EXPECT_TRUE(std::isnan(point_point_distance(p3(kNaN, 0, 0), p3(0, 0, 0))));
    EXPECT_TRUE(std::isnan(point_point_distance(p3(0, 0, 0), p3(0, 0, HUGE_VAL))));
}

TEST(PointDistance, VertexJustAboveOrBelowToleranceFromLongEdge) {
    // The textbook sqrt(|ap|^2 - t^2 |ab|^2) gives 0 for both heights.
    const Point2D a{{0, 0}};
    const Point2D b{{1000, 0}};
    const Segment<2> edge{a, b};
    for (const double height : {0.9e-6, 1.1e-6}) {
        const Point2D above{{437.25, height}};
        EXPECT_NEAR(point_segment_distance(above, edge), height, 1e-15 * 1000);
    }
    // The same in 3D along a skew edge, against the exact reference.
    const Point3D c = p3(0.125, -3, 7);
    const Point3D d = p3(700.5, 402.25, -333);
    const Segment<3> skew{c, d};
    const Point3D middle = p3(350.3125, 199.625, -163);  // exactly on the segment
    for (const double height : {0.9e-6, 1.1e-6}) {
        const Point3D above = p3(middle.value(0), middle.value(1) + height, middle.value(2));
        const long double exact = test::exact_point_segment_distance(above, c, d);
        EXPECT_LT(relative_error(point_segment_distance(above, skew), exact), 1e-6);
        EXPECT_EQ(point_segment_distance(above, skew) <= 1e-6, exact <= 1e-6L);
    }
}

TEST(PointDistance, PointSegmentMatchesExactReference) {
    std::mt19937_64 random{7};
    for (int i = 0; i < 500; ++i) {
        const Point3D a = random_point(random, 10);
        const Point3D b = random_point(random, 10);
        const Point3D p = random_point(random, 20);
        const long double exact = test::exact_point_segment_distance(p, a, b);
        EXPECT_LT(relative_error(point_segment_distance(p, Segment<3>{a, b}), exact), 1e-13);
    }
    // Zero-length segment: the point distance, never NaN.
    const Point3D a = p3(1, 2, 3);
    EXPECT_DOUBLE_EQ(point_segment_distance(p3(1, 2, 5), Segment<3>{a, a}), 2);
    EXPECT_TRUE(std::isnan(point_segment_distance(p3(kNaN, 2, 5), Segment<3>{a, a})));
    const Point1D left{{-1}};
    const Point1D right{{2}};
    EXPECT_DOUBLE_EQ(point_segment_distance(Point1D{{5}}, Segment<1>{left, right}), 3);
}

TEST(PointDistance, PointTriangle2DIsZeroInsideWhateverTheOrientation) {
    const Point2D a{{0, 0}};
    const Point2D b{{4, 0}};
    const Point2D c{{0, 4}};
    for (const Triangle<2>& triangle : {Triangle<2>{a, b, c}, Triangle<2>{a, c, b}}) {
        EXPECT_EQ(point_triangle_distance(Point2D{{1, 1}}, triangle), 0);
        EXPECT_EQ(point_triangle_distance(Point2D{{2, 0}}, triangle), 0);  // on the border
        EXPECT_DOUBLE_EQ(point_triangle_distance(Point2D{{-3, -4}}, triangle), 5);
        EXPECT_DOUBLE_EQ(point_triangle_distance(Point2D{{3, 3}}, triangle), std::sqrt(2));
    }
    // A flat triangle is its edges.
    const Point2D m{{2, 0}};
    EXPECT_DOUBLE_EQ(point_triangle_distance(Point2D{{1, 1}}, Triangle<2>{a, m, b}), 1);
    EXPECT_TRUE(std::isnan(point_triangle_distance(Point2D{{kNaN, 1}}, Triangle<2>{a, b, c})));
}

TEST(PointDistance, PointTriangle3DMatchesExactReferenceWithNearestPoint) {
    std::mt19937_64 random{11};
    for (int i = 0; i < 500; ++i) {
        const Point3D a = random_point(random, 10);
        const Point3D b = random_point(random, 10);
        const Point3D c = random_point(random, 10);
        const Point3D p = random_point(random, 15);
        const auto [distance, nearest] = point_triangle_distance(p, Triangle<3>{a, b, c});
        const long double exact = test::exact_point_triangle_distance(p, a, b, c);
        EXPECT_LT(relative_error(distance, exact), 1e-12);
        EXPECT_NEAR(point_point_distance(p, nearest), distance, 1e-12 * (1 + distance));
        EXPECT_LT(std::get<0>(point_triangle_distance(nearest, Triangle<3>{a, b, c})), 1e-12);
    }
    // Far from the origin: a point 1e-7 above the middle of a facet of a translated triangle.
    const Point3D a = p3(5e5, 5e6, 1e3);
    const Point3D b = p3(5e5 + 1, 5e6, 1e3);
    const Point3D c = p3(5e5, 5e6 + 1, 1e3);
    const Point3D p = p3(5e5 + 0.25, 5e6 + 0.25, 1e3 + 1e-7);
    const auto [distance, nearest] = point_triangle_distance(p, Triangle<3>{a, b, c});
    EXPECT_LT(relative_error(distance, test::exact_point_triangle_distance(p, a, b, c)), 1e-9);
    EXPECT_EQ(nearest, p3(5e5 + 0.25, 5e6 + 0.25, 1e3));
    // Huge and tiny scales do not overflow or underflow.
    for (const double scale : {1e150, 1e-150}) {
        const Point3D sa = p3(0, 0, 0);
        const Point3D sb = p3(scale, 0, 0);
        const Point3D sc = p3(0, scale, 0);
        const Point3D sp = p3(0.25 * scale, 0.25 * scale, 3 * scale);
        EXPECT_DOUBLE_EQ(std::get<0>(point_triangle_distance(sp, Triangle<3>{sa, sb, sc})),
                         3 * scale);
    }
    // Slivers, with the point on the line of the long edge beyond its end: the signs that
    // decide "projects inside" round to zero there, and the nearest point is that end.
    const Point3D low = p3(-2, -2, -2);
    const Point3D high = p3(2, 2, 2);
    const Point3D off_high = p3(2, 2.0000000000000573, 2);
    const Point3D beyond = p3(-2.000002, -2.000002, -2.000002);
    EXPECT_NEAR(std::get<0>(point_triangle_distance(beyond, Triangle<3>{high, off_high, low})),
                point_point_distance(beyond, low), 1e-15);
    const Point3D origin = p3(0, 0, 0);
    const Point3D next_to_origin = p3(5.5463809402138337e-320, 0, 0);
    const Point3D one = p3(1, 1, 1);
    const Point3D past = p3(1.75, 1.75, 1.75);
    EXPECT_DOUBLE_EQ(
        std::get<0>(point_triangle_distance(past, Triangle<3>{origin, next_to_origin, one})),
        point_point_distance(past, one));
}

TEST(PointDistance, PointTetrahedronFarFromOrigin) {
    // The unit tetrahedron moved by (5e5, 5e6, 1e3), in both orientations.
    const Point3D o = p3(5e5, 5e6, 1e3);
    const std::array<Point3D, 4> corners{o, p3(5e5 + 1, 5e6, 1e3), p3(5e5, 5e6 + 1, 1e3),
                                         p3(5e5, 5e6, 1e3 + 1)};
    const Tetrahedron positive{corners[0], corners[1], corners[2], corners[3]};
    const Tetrahedron negative{corners[1], corners[0], corners[2], corners[3]};
    const Point3D inside = p3(5e5 + 0.1, 5e6 + 0.1, 1e3 + 0.1);
    EXPECT_EQ(point_tetrahedron_distance(inside, positive), 0);
    EXPECT_EQ(point_tetrahedron_distance(inside, negative), 0);
    EXPECT_EQ(point_tetrahedron_distance(o, positive), 0);  // a vertex
    std::mt19937_64 random{3};
    std::uniform_real_distribution<double> offset{-1, 2};
    for (int i = 0; i < 300; ++i) {
        const Point3D p = p3(5e5 + offset(random), 5e6 + offset(random), 1e3 + offset(random));
        const long double exact = test::exact_point_tetrahedron_distance(p, corners);
        EXPECT_LT(relative_error(point_tetrahedron_distance(p, positive), exact), 1e-9);
        EXPECT_LT(relative_error(point_tetrahedron_distance(p, negative), exact), 1e-9);
    }
    // A flat tetrahedron is the union of its facets.
    const Point3D q0 = p3(0, 0, 0);
    const Point3D q1 = p3(2, 0, 0);
    const Point3D q2 = p3(0, 2, 0);
    const Point3D q3 = p3(2, 2, 0);
    EXPECT_EQ(point_tetrahedron_distance(p3(1.5, 1.5, 0), Tetrahedron{q0, q1, q2, q3}), 0);
    EXPECT_DOUBLE_EQ(point_tetrahedron_distance(p3(1.5, 1.5, 3), Tetrahedron{q0, q1, q2, q3}), 3);
    EXPECT_TRUE(std::isnan(point_tetrahedron_distance(p3(0, kNaN, 0), positive)));
}

TEST(SegmentDistance, MatchesExactReferenceOnRandomPairs) {
    std::mt19937_64 random{5};
    for (int i = 0; i < 500; ++i) {
        const Point3D p0 = random_point(random, 10);
        const Point3D p1 = random_point(random, 10);
        const Point3D q0 = random_point(random, 10);
        const Point3D q1 = random_point(random, 10);
        const auto [distance, on0, on1] =
            segment_segment_distance(Segment<3>{p0, p1}, Segment<3>{q0, q1});
        EXPECT_LT(relative_error(distance, test::exact_segment_segment_distance(p0, p1, q0, q1)),
                  1e-12);
        EXPECT_NEAR(point_point_distance(on0, on1), distance, 1e-12 * (1 + distance));
        EXPECT_LT(point_segment_distance(on0, Segment<3>{p0, p1}), 1e-12);
        EXPECT_LT(point_segment_distance(on1, Segment<3>{q0, q1}), 1e-12);
    }
}

TEST(SegmentDistance, NearlyParallelPairsStayAccurate) {
    // Segments about 1 long, 1e-6 to 1e-3 apart, crossing (seen along the offset) at a
    // random interior point with a tilt of 0.1 to 10 times the offset: angles from 1e-7 to
    // 1e-2 radians. A fixed cut-off on the determinant of the normal equations treats the
    // flatter ones as parallel and returns an endpoint distance, up to 10 times too large.
    std::mt19937_64 random{17};
    std::uniform_real_distribution<double> unit{0, 1};
    double worst = 0;
    for (int i = 0; i < 2000; ++i) {
        const Point3D p0 = random_point(random, 1);
        const Point3D p1 = random_point(random, 1);
        const Vector3D direction{p0, p1};
        const Vector3D side = direction.cross(Vector3D{{unit(random), unit(random), 1}});
        const double height = std::pow(10.0, -6 + 3 * unit(random));
        const Vector3D offset = side.normalize() * height;
        const Vector3D tilt =
            side.cross(direction).normalize() * (height * std::pow(10.0, 2 * unit(random) - 1));
        const double crossing = unit(random);
        const Point3D base = p0 + offset + direction * (unit(random) - 0.5);
        const Point3D q0 = base + tilt * -crossing;
        const Point3D q1 = base + direction + tilt * (1 - crossing);
        const auto [distance, on0, on1] =
            segment_segment_distance(Segment<3>{p0, p1}, Segment<3>{q0, q1});
        worst = std::max(
            worst, relative_error(distance, test::exact_segment_segment_distance(p0, p1, q0, q1)));
    }
    EXPECT_LT(worst, 1e-9);
}

TEST(SegmentDistance, DegenerateHugeAndInvalidSegments) {
    const Point3D a = p3(0, 0, 0);
    const Point3D b = p3(0, 0, 0);
    const Point3D c = p3(3, 4, 0);
    const Point3D d = p3(3, 4, 10);
    // Zero-length segments: the point distances, never NaN.
    EXPECT_DOUBLE_EQ(std::get<0>(segment_segment_distance(Segment<3>{a, b}, Segment<3>{c, c})), 5);
    const auto [distance, on0, on1] = segment_segment_distance(Segment<3>{a, b}, Segment<3>{c, d});
    EXPECT_DOUBLE_EQ(distance, 5);
    EXPECT_EQ(on0, a);
    EXPECT_EQ(on1, c);
    // Parallel overlapping segments.
    const Point3D e = p3(1, 0, 0);
    const Point3D f = p3(2, 1, 0);
    const Point3D g = p3(3, 1, 0);
    EXPECT_DOUBLE_EQ(std::get<0>(segment_segment_distance(Segment<3>{a, e}, Segment<3>{b, e})), 0);
    EXPECT_DOUBLE_EQ(std::get<0>(segment_segment_distance(Segment<3>{f, g}, Segment<3>{a, e})),
                     std::sqrt(2));
    // Coordinates of 1e150 and 1e-150 neither overflow nor underflow.
    for (const double scale : {1e150, 1e-150}) {
        const Point3D s0 = p3(-scale, 0, 0);
        const Point3D s1 = p3(scale, 0, 0);
        const Point3D t0 = p3(0, -scale, 2 * scale);
        const Point3D t1 = p3(0, scale, 2 * scale);
        EXPECT_DOUBLE_EQ(
            std::get<0>(segment_segment_distance(Segment<3>{s0, s1}, Segment<3>{t0, t1})),
            2 * scale);
    }
    const Point3D invalid = p3(kNaN, 0, 0);
    EXPECT_TRUE(std::isnan(
        std::get<0>(segment_segment_distance(Segment<3>{invalid, e}, Segment<3>{c, d}))));
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// A gap thousands of orders of magnitude smaller than the other lengths involved: after the
// common rescaling its square once underflowed, and a point 2 away from a segment 1e300 long
// (or from a flat triangle along it) was measured at distance 0.
TEST(PointDistance, SmallGapsBesideHugeSegmentsDoNotVanish) {
    const Point2D origin{{0, 0}};
    const Point2D near{{-2, 0}};
    const Point2D far{{-1e300, 0}};
    EXPECT_DOUBLE_EQ(point_segment_distance(origin, Segment<2>{near, far}), 2);
    EXPECT_DOUBLE_EQ(point_triangle_distance(origin, Triangle<2>{near, far, near}), 2);
    const Point3D low = p3(0, 0, -1e300);
    const Point3D high = p3(0, 0, 1e300);
    EXPECT_DOUBLE_EQ(point_segment_distance(p3(0, 3e-5, 0), Segment<3>{low, high}), 3e-5);
    const Point3D near3 = p3(-2, 0, 0);
    const Point3D far3 = p3(-1e300, 0, 0);
    const Point3D base = p3(0, 0, 0);
    const Point3D tip = p3(0, 0, 1e-3);
    EXPECT_DOUBLE_EQ(
        std::get<0>(segment_segment_distance(Segment<3>{near3, far3}, Segment<3>{base, tip})), 2);
}

// Finite coordinates whose differences exceed the largest double are measured on halved
// coordinates: the distances are right, or infinite when they exceed the largest double
// themselves, never NaN.
TEST(PointDistance, DifferencesBeyondTheLargestDouble) {
    constexpr double kM = 1e308;
    EXPECT_EQ(point_point_distance(p3(-kM, 0, 0), p3(kM, 0, 0)), HUGE_VAL);
    EXPECT_DOUBLE_EQ(point_point_distance(p3(-kM, 0, 0), p3(0.5 * kM, 0, 0)), 1.5 * kM);
    const Point2D west2{{-kM, 0}};
    const Point2D east2{{kM, 0}};
    EXPECT_NEAR(point_segment_distance(Point2D{{0, 1e-7}}, Segment<2>{west2, east2}), 1e-7, 1e-15);
    EXPECT_DOUBLE_EQ(point_segment_distance(Point2D{{-kM, 3}}, Segment<2>{east2, west2}), 3);
    const Point3D west = p3(-kM, 0, 0);
    const Point3D east = p3(kM, 0, 0);
    const Point3D north = p3(0, 1, 0);
    const auto [height, foot] =
        point_triangle_distance(p3(0, 0.5, 1e-7), Triangle<3>{west, east, north});
    EXPECT_NEAR(height, 1e-7, 1e-15);
    EXPECT_NEAR(foot.value(1), 0.5, 1e-15);
    EXPECT_NEAR(foot.value(2), 0, 1e-15);
    const Point3D up = p3(0, kM, 0);
    const Point3D top = p3(0, 0, kM);
    const auto [gap, on_axis, on_other] =
        segment_segment_distance(Segment<3>{west, east}, Segment<3>{up, top});
    EXPECT_DOUBLE_EQ(gap, kM / std::sqrt(2.));
    EXPECT_EQ(on_axis, p3(0, 0, 0));
    EXPECT_DOUBLE_EQ(on_other.value(1), kM / 2);
    EXPECT_DOUBLE_EQ(on_other.value(2), kM / 2);
    EXPECT_NEAR(point_tetrahedron_distance(p3(0, 0.25, -1), Tetrahedron{west, east, up, top}), 1,
                1e-12);
}

}  // namespace
}  // namespace orvex
