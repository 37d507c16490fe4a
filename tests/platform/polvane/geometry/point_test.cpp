#include "polvane/geometry/point.h"

#include <absl/hash/hash_testing.h>
#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
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

// The value `ulps` units in the last place away from `value` (same sign, no zero crossed).
double ulps_away(double value, std::int64_t ulps) {
    std::int64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    bits += ulps;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A hash that only adds rotated bit patterns lets one coordinate's low bits cancel another's:
// x raised by k * 2^21 ulps and y lowered by k ulps (or y and z likewise) gave one hash for every
// k, which is how a hash table is flooded with chosen coordinates.
TEST(Point, StdHashSeparatesCoordinatesThatTradeLowBits) {
    std::set<std::size_t> planar;
    std::set<std::size_t> spatial;
    constexpr std::int64_t kCount = 2000;
    for (std::int64_t k = 0; k < kCount; ++k) {
        planar.insert(std::hash<Point2D>{}(Point2D{{ulps_away(0.3, k << 21), ulps_away(0.7, -k)}}));
        spatial.insert(
            std::hash<Point3D>{}(Point3D{{ulps_away(0.3, k << 21), ulps_away(0.7, -k), 0.1}}));
        spatial.insert(
            std::hash<Point3D>{}(Point3D{{0.1, ulps_away(0.3, k << 21), ulps_away(0.7, -k)}}));
    }
    EXPECT_EQ(planar.size(), kCount);
    EXPECT_EQ(spatial.size(), 2 * kCount);
}

// Avalanche: a one-ulp change of any coordinate flips each of the 64 bits with probability
// about 1/2, so about 32 bits on average, whatever the magnitude of the coordinates.
template <index_t D>
void expect_one_ulp_changes_flip_half_the_bits() {
    std::mt19937_64 random{20260};
    std::uniform_real_distribution<double> mantissa{-1, 1};
    std::uniform_int_distribution<int> exponent{-300, 300};
    constexpr int kSamples = 3000;
    for (index_t axis = 0; axis < D; ++axis) {
        double flipped = 0;
        for (int sample = 0; sample < kSamples; ++sample) {
            Point<D> point;
            for (index_t other = 0; other < D; ++other) {
                point.set_value(other, std::ldexp(mantissa(random), exponent(random)));
            }
            Point<D> moved = point;
            moved.set_value(axis, ulps_away(point.value(axis), 1));
            flipped += static_cast<double>(
                std::bitset<64>{static_cast<std::uint64_t>(std::hash<Point<D>>{}(point)
                                                           ^ std::hash<Point<D>>{}(moved))}
                    .count());
        }
        EXPECT_NEAR(flipped / kSamples, 32, 2) << "dimension " << D << ", axis " << axis;
    }
}

TEST(Point, StdHashOneUlpChangeFlipsAboutHalfTheBits) {
    expect_one_ulp_changes_flip_half_the_bits<1>();
    expect_one_ulp_changes_flip_half_the_bits<2>();
    expect_one_ulp_changes_flip_half_the_bits<3>();
}

TEST(Point, InexactEqualUsesTheGlobalTolerance) {
    const Point3D origin{{0, 0, 0}};
    EXPECT_TRUE(origin.inexact_equal(Point3D{{0.5e-6, 0.5e-6, 0.5e-6}}));   // 0.87e-6 away
    EXPECT_FALSE(origin.inexact_equal(Point3D{{0.6e-6, 0.6e-6, 0.6e-6}}));  // 1.04e-6 away
    EXPECT_TRUE(Point2D({1, 1}).inexact_equal(Point2D{{1, 1 + 0.99e-6}}));
    EXPECT_FALSE(Point2D({1, 1}).inexact_equal(Point2D{{1, 1 + 1.01e-6}}));
    EXPECT_FALSE(origin.inexact_equal(Point3D{{std::numeric_limits<double>::quiet_NaN(), 0, 0}}));
}

TEST(Point, IsFiniteLooksAtEveryAxis) {
    EXPECT_TRUE(is_finite(Point3D{
        {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(), -0.0}}));
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        for (index_t axis = 0; axis < 3; ++axis) {
            Point3D point{{1, 2, 3}};
            point.set_value(axis, bad);
            EXPECT_FALSE(is_finite(point)) << "axis " << axis << ": " << bad;
        }
    }
}

}  // namespace
}  // namespace orvex
