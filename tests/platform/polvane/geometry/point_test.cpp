#include "polvane/geometry/point.h"

#include <absl/hash/hash_testing.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace {

TEST(Point, ArithmeticAndAccessors) {
    Point3D point{{1, 2, 3}};
    point.set_value(2, -4);
    EXPECT_EQ(point.value(2), -4);
    EXPECT_EQ(point + Point3D({1, 1, 1}), Point3D({2, 3, -3}));
    EXPECT_EQ(point - Point3D({1, 1, 1}), Point3D({0, 1, -5}));
    EXPECT_EQ(2 * point, (Point3D{{2, 4, -8}}));
    EXPECT_EQ(point / 2, (Point3D{{0.5, 1, -2}}));
    EXPECT_EQ(Point2D{}, (Point2D{{0, 0}}));
    EXPECT_EQ(Point2D({0.5, -3}).string(), "0.5 -3");
}

TEST(Point, DivisionByNearlyZeroThrows) {
    const Point2D point{{1, 2}};
    for (const double divider :
         {0.0, -0.0, 1e-30, -1e-30, 1e-300, std::numeric_limits<double>::quiet_NaN()}) {
        try {
            (void)(point / divider);
            ADD_FAILURE() << "no exception for " << divider;
        } catch (const PolvaneException& error) {
            EXPECT_STREQ(error.what(),
                         "[Point::operator/] Cannot divide Point by something close to zero");
        }
    }
    EXPECT_EQ((point / 2e-30).value(0), 1 / 2e-30);
}

TEST(Point, EqualityAndHashAgreeOnSignedZeroAndNaN) {
    EXPECT_EQ(Point2D({0.0, 1}), Point2D({-0.0, 1}));
    EXPECT_EQ(std::hash<Point2D>{}(Point2D{{0.0, 1}}), std::hash<Point2D>{}(Point2D{{-0.0, 1}}));
    const Point3D nan_point{{std::numeric_limits<double>::quiet_NaN(), 0, 0}};
    EXPECT_NE(nan_point, nan_point);
    EXPECT_TRUE(absl::VerifyTypeImplementsAbslHashCorrectly(
        {Point3D{{0.0, 0, 0}}, Point3D{{-0.0, 0, 0}}, Point3D{{0, -0.0, 0.0}}, Point3D{{1, 2, 3}},
         Point3D{{3, 2, 1}}, Point3D{{1e300, -1e-300, 0}}}));
    EXPECT_TRUE(absl::VerifyTypeImplementsAbslHashCorrectly(
        {Point1D{{0.0}}, Point1D{{-0.0}}, Point1D{{2}}, Point1D{{-2}}}));
}

// Integer and binary-fraction coordinates differ only in their high bits; the hash must still
// tell apart every point of such a grid, and points with their coordinates swapped.
TEST(Point, StdHashSpreadsGridPoints) {
    std::set<std::size_t> hashes;
    for (int x = -10; x < 10; ++x) {
        for (int y = -10; y < 10; ++y) {
            for (int z = -5; z < 5; ++z) {
                hashes.insert(std::hash<Point3D>{}(Point3D{{x * 0.5, y * 1.0, z * 0.25}}));
            }
        }
    }
    EXPECT_EQ(hashes.size(), 20U * 20U * 10U);
    EXPECT_EQ(std::hash<Point3D>{}(Point3D{{-0.0, 0.0, -0.0}}),
              std::hash<Point3D>{}(Point3D{{0.0, -0.0, 0.0}}));
    EXPECT_NE(std::hash<Point3D>{}(Point3D{{1, 2, 3}}), std::hash<Point3D>{}(Point3D{{3, 2, 1}}));
    EXPECT_NE(std::hash<Point1D>{}(Point1D{{2}}), std::hash<Point1D>{}(Point1D{{-2}}));
}

TEST(Point, InexactEqualUsesTheGlobalTolerance) {
    const Point3D origin{{0, 0, 0}};
    EXPECT_TRUE(origin.inexact_equal(Point3D{{0.5e-6, 0.5e-6, 0.5e-6}}));   // 0.87e-6 away
    EXPECT_FALSE(origin.inexact_equal(Point3D{{0.6e-6, 0.6e-6, 0.6e-6}}));  // 1.04e-6 away
    EXPECT_TRUE(Point2D({1, 1}).inexact_equal(Point2D{{1, 1 + 0.99e-6}}));
    EXPECT_FALSE(Point2D({1, 1}).inexact_equal(Point2D{{1, 1 + 1.01e-6}}));
    EXPECT_FALSE(origin.inexact_equal(Point3D{{std::numeric_limits<double>::quiet_NaN(), 0, 0}}));
}

}  // namespace
}  // namespace orvex
