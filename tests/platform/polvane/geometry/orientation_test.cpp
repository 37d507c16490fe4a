#include "polvane/geometry/orientation.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "platform/polvane/geometry/exact_oracle.h"
#include "polvane/geometry/vector.h"

namespace orvex {
namespace {

SIDE expected_side(int sign) {
    if (sign > 0) {
        return SIDE::positive;
    }
    return sign < 0 ? SIDE::negative : SIDE::zero;
}

SIDE sign_of(const std::array<Point2D, 3>& p) {
    return triangle_area_sign({p[0], p[1], p[2]});
}

SIDE sign_of(const std::array<Point3D, 4>& p) {
    return tetrahedron_volume_sign({p[0], p[1], p[2], p[3]});
}

// The plain floating-point determinants, to show where they fail.
int naive_sign(const std::array<Point2D, 3>& p) {
    const double det = (p[1].value(0) - p[0].value(0)) * (p[2].value(1) - p[0].value(1))
                       - (p[1].value(1) - p[0].value(1)) * (p[2].value(0) - p[0].value(0));
    return (det > 0) - (det < 0);
}

int naive_sign(const std::array<Point3D, 4>& p) {
    const Vector3D u{p[0], p[1]};
    const Vector3D v{p[0], p[2]};
    const Vector3D w{p[0], p[3]};
    const double det = u.dot(v.cross(w));
    return (det > 0) - (det < 0);
}

TEST(Orientation, SimpleElements) {
    const Point2D a{{0, 0}};
    const Point2D b{{1, 0}};
    const Point2D c{{0, 1}};
    EXPECT_EQ(triangle_area_sign({a, b, c}), SIDE::positive);
    EXPECT_EQ(triangle_area_sign({a, c, b}), SIDE::negative);
    EXPECT_EQ(triangle_area_sign({a, b, b}), SIDE::zero);
    const Point3D o{{0, 0, 0}};
    const Point3D x{{1, 0, 0}};
    const Point3D y{{0, 1, 0}};
    const Point3D z{{0, 0, 1}};
    EXPECT_EQ(tetrahedron_volume_sign({o, x, y, z}), SIDE::positive);
    EXPECT_EQ(tetrahedron_volume_sign({o, y, x, z}), SIDE::negative);
    const Point3D xy{{1, 1, 0}};
    EXPECT_EQ(tetrahedron_volume_sign({o, x, y, xy}), SIDE::zero);
    EXPECT_EQ(static_cast<int>(SIDE::positive), 0);
}

TEST(Orientation, NearlyFlatTrianglesGetTheExactSign) {
    // A point one or a few ulps off the line through (12, 12) and (24, 24).
    const double ulp = std::ldexp(1.0, -53);
    int naive_wrong = 0;
    for (int i = 0; i < 64; ++i) {
        for (int j = 0; j < 64; ++j) {
            const std::array<Point2D, 3> triangle{Point2D{{0.5 + i * ulp, 0.5 + j * ulp}},
                                                  Point2D{{12, 12}}, Point2D{{24, 24}}};
            const int exact = test::exact_triangle_sign(triangle);
            ASSERT_EQ(sign_of(triangle), expected_side(exact)) << i << " " << j;
            naive_wrong += naive_sign(triangle) != exact ? 1 : 0;
        }
    }
    EXPECT_GT(naive_wrong, 100);  // the test does reach where doubles fail
}

TEST(Orientation, NearlyFlatTetrahedraGetTheExactSign) {
    // A point a few ulps off the plane z = x + y through three exact points.
    const double ulp = std::ldexp(1.0, -53);
    int naive_wrong = 0;
    for (int i = 0; i < 24; ++i) {
        for (int j = 0; j < 24; ++j) {
            for (int k = 0; k < 8; ++k) {
                const std::array<Point3D, 4> tetrahedron{
                    Point3D{{0.5 + i * ulp, 0.5 + j * ulp, 1 + 2 * k * ulp}}, Point3D{{12, 12, 24}},
                    Point3D{{24, 0.1875, 24.1875}}, Point3D{{0.3125, 24, 24.3125}}};
                const int exact = test::exact_tetrahedron_sign(tetrahedron);
                ASSERT_EQ(sign_of(tetrahedron), expected_side(exact)) << i << " " << j << " " << k;
                naive_wrong += naive_sign(tetrahedron) != exact ? 1 : 0;
            }
        }
    }
    EXPECT_GT(naive_wrong, 0);
}

TEST(Orientation, RandomPointsOnLinesAndPlanesAtAllScales) {
    // Points rounded from exact lines and planes, at scales where the filter's products would
    // overflow (1e150 in 3D), underflow (1e-300) or mix extreme exponents in one element.
    std::mt19937_64 random{23};
    std::uniform_real_distribution<double> unit{-1, 1};
    for (const double scale : {1.0, 1e150, 1e-300, 1e300}) {
        for (int i = 0; i < 200; ++i) {
            const Point2D a{{unit(random) * scale, unit(random) * scale}};
            const Point2D b{{unit(random) * scale, unit(random) * scale}};
            const double t = unit(random);
            const Point2D on_line = a + (b - a) * t;
            const std::array<Point2D, 3> triangle{a, b, on_line};
            ASSERT_EQ(sign_of(triangle), expected_side(test::exact_triangle_sign(triangle)));

            const Point3D p{{unit(random) * scale, unit(random) * scale, unit(random) * scale}};
            const Point3D q{{unit(random) * scale, unit(random) * scale, unit(random) * scale}};
            const Point3D r{{unit(random) * scale, unit(random) * scale, unit(random) * scale}};
            const Point3D on_plane = p + (q - p) * unit(random) + (r - p) * unit(random);
            const std::array<Point3D, 4> tetrahedron{p, q, r, on_plane};
            ASSERT_EQ(sign_of(tetrahedron),
                      expected_side(test::exact_tetrahedron_sign(tetrahedron)));
        }
    }
    // One element spanning the whole exponent range.
    const std::array<Point3D, 4> wide{Point3D{{1e300, 0, 0}}, Point3D{{0, 1e-300, 0}},
                                      Point3D{{0, 0, 4.9e-324}}, Point3D{{-1e308, 1e-310, 1}}};
    EXPECT_EQ(sign_of(wide), expected_side(test::exact_tetrahedron_sign(wide)));
    const std::array<Point2D, 3> wide2{Point2D{{1e308, 4.9e-324}}, Point2D{{-1e308, 0}},
                                       Point2D{{0, 2.5e-324}}};
    EXPECT_EQ(sign_of(wide2), expected_side(test::exact_triangle_sign(wide2)));
}

TEST(Orientation, NonFiniteCoordinatesGiveZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double bad : {nan, inf, -inf}) {
        EXPECT_EQ(
            sign_of(std::array<Point2D, 3>{Point2D{{0, 0}}, Point2D{{1, 0}}, Point2D{{0, bad}}}),
            SIDE::zero);
        EXPECT_EQ(sign_of(std::array<Point3D, 4>{Point3D{{0, 0, 0}}, Point3D{{1, 0, 0}},
                                                 Point3D{{0, 1, 0}}, Point3D{{bad, 0, 1}}}),
                  SIDE::zero);
    }
}

}  // namespace
}  // namespace orvex
