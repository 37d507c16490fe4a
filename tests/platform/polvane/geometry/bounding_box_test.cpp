#include "polvane/geometry/bounding_box.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace orvex {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

BoundingBox3D box3(const Point3D& a, const Point3D& b) {
    BoundingBox3D box;
    box.add_point(a);
    box.add_point(b);
    return box;
}

TEST(BoundingBox, EmptyBoxIsNeutral) {
    const BoundingBox2D empty;
    EXPECT_TRUE(empty.is_empty());
    EXPECT_EQ(empty.min(), Point2D({kInf, kInf}));
    EXPECT_EQ(empty.max(), Point2D({-kInf, -kInf}));
    EXPECT_FALSE(empty.contains(Point2D{}));
    EXPECT_FALSE(empty.intersects(empty));
    EXPECT_EQ(empty.signed_distance(Point2D({1, 2})), kInf);
    EXPECT_EQ(empty.largest_length(), std::make_tuple(index_t{0}, -kInf));

    BoundingBox2D box;
    box.add_point(Point2D({1, 2}));
    box.add_box(empty);
    EXPECT_EQ(box.min(), Point2D({1, 2}));
    EXPECT_EQ(box.max(), Point2D({1, 2}));
    EXPECT_FALSE(box.is_empty());
}

TEST(BoundingBox, GrowsByPointsAndBoxes) {
    BoundingBox3D box = box3(Point3D({1, 5, -2}), Point3D({3, 4, 0}));
    EXPECT_EQ(box.min(), Point3D({1, 4, -2}));
    EXPECT_EQ(box.max(), Point3D({3, 5, 0}));
    box.add_box(box3(Point3D({0, 4.5, 7}), Point3D({2, 4.5, 8})));
    EXPECT_EQ(box.min(), Point3D({0, 4, -2}));
    EXPECT_EQ(box.max(), Point3D({3, 5, 8}));
    EXPECT_EQ(box.center(), Point3D({1.5, 4.5, 3}));

    // NaN coordinates are ignored axis by axis.
    box.add_point(Point3D({kNaN, 100, kNaN}));
    EXPECT_EQ(box.min(), Point3D({0, 4, -2}));
    EXPECT_EQ(box.max(), Point3D({3, 100, 8}));
}

TEST(BoundingBox, ContainsAndIntersectsAreClosed) {
    const BoundingBox3D box = box3(Point3D({0, 0, 0}), Point3D({1, 2, 3}));
    EXPECT_TRUE(box.contains(Point3D({0, 0, 0})));
    EXPECT_TRUE(box.contains(Point3D({1, 2, 3})));
    EXPECT_TRUE(box.contains(Point3D({0.5, 2, 1})));
    EXPECT_FALSE(box.contains(Point3D({0.5, 2.0000001, 1})));
    EXPECT_FALSE(box.contains(Point3D({kNaN, 1, 1})));
    EXPECT_TRUE(box.intersects(box3(Point3D({1, 2, 3}), Point3D({4, 4, 4}))));
    EXPECT_FALSE(box.intersects(box3(Point3D({1.5, 0, 0}), Point3D({4, 4, 4}))));
}

TEST(BoundingBox, LargestLengthPicksFirstAxisOnTies) {
    EXPECT_EQ(box3(Point3D({0, 0, 0}), Point3D({2, 3, 3})).largest_length(),
              std::make_tuple(index_t{1}, 3.0));
    EXPECT_EQ(box3(Point3D({0, 0, 0}), Point3D({1, 1, 1})).largest_length(),
              std::make_tuple(index_t{0}, 1.0));
    EXPECT_EQ(box3(Point3D({0, 0, 0}), Point3D({1, 1, 4})).largest_length(),
              std::make_tuple(index_t{2}, 4.0));
}

TEST(BoundingBox, SignedDistanceInsideBoundaryOutside) {
    const BoundingBox3D box = box3(Point3D({0, 0, 0}), Point3D({4, 2, 10}));
    // Inside: minus the distance to the nearest face.
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({1, 1, 5})), -1.0);
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({3.5, 1, 5})), -0.5);
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({2, 1, 9.75})), -0.25);
    // Boundary: +0, also where -0.0 meets +0.0.
    EXPECT_EQ(box.signed_distance(Point3D({0, 1, 5})), 0.0);
    BoundingBox1D negative_zero;
    negative_zero.add_point(Point1D({-0.0}));
    negative_zero.add_point(Point1D({1}));
    EXPECT_FALSE(std::signbit(negative_zero.signed_distance(Point1D({0.0}))));
    EXPECT_EQ(box.signed_distance(Point3D({4, 2, 10})), 0.0);
    // Outside: Euclidean distance to the box (face, edge and corner regions).
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({2, 1, -3})), 3.0);
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({7, 6, 5})), 5.0);
    EXPECT_DOUBLE_EQ(box.signed_distance(Point3D({-1, -2, 12})), 3.0);

    BoundingBox1D segment;
    segment.add_point(Point1D({-1}));
    segment.add_point(Point1D({3}));
    EXPECT_DOUBLE_EQ(segment.signed_distance(Point1D({0})), -1.0);
    EXPECT_DOUBLE_EQ(segment.signed_distance(Point1D({5})), 2.0);

    // A flat box: every inside point is on the boundary.
    BoundingBox2D flat;
    flat.add_point(Point2D({0, 0}));
    flat.add_point(Point2D({2, 0}));
    EXPECT_EQ(flat.signed_distance(Point2D({1, 0})), 0.0);
    EXPECT_DOUBLE_EQ(flat.signed_distance(Point2D({1, -2})), 2.0);
}

TEST(BoundingBox, SignedDistanceNeitherOverflowsNorUnderflows) {
    const BoundingBox3D huge = box3(Point3D({-1e150, -1e150, -1e150}), Point3D({0, 0, 0}));
    EXPECT_DOUBLE_EQ(huge.signed_distance(Point3D({3e150, 4e150, 0})), 5e150);
    EXPECT_DOUBLE_EQ(huge.signed_distance(Point3D({-0.5e150, -0.5e150, -0.9e150})), -0.1e150);
    const BoundingBox3D near_max = box3(Point3D({0, 0, 0}), Point3D({1, 1, 1}));
    EXPECT_DOUBLE_EQ(near_max.signed_distance(Point3D({3e300, 4e300, 0})), 5e300);
    EXPECT_DOUBLE_EQ(near_max.signed_distance(Point3D({1e308, 1e308, 0})),
                     std::hypot(1e308, 1e308));

    const BoundingBox2D tiny_box = [] {
        BoundingBox2D box;
        box.add_point(Point2D({0, 0}));
        return box;
    }();
    EXPECT_DOUBLE_EQ(tiny_box.signed_distance(Point2D({3e-200, 4e-200})), 5e-200);
    EXPECT_EQ(tiny_box.signed_distance(Point2D({kInf, 0})), kInf);
}

TEST(BoundingBox, SignedDistanceOfNaNIsNaN) {
    const BoundingBox3D box = box3(Point3D({0, 0, 0}), Point3D({1, 1, 1}));
    EXPECT_TRUE(std::isnan(box.signed_distance(Point3D({kNaN, 0.5, 0.5}))));
    EXPECT_TRUE(std::isnan(box.signed_distance(Point3D({5, 5, kNaN}))));
    EXPECT_TRUE(std::isnan(BoundingBox3D{}.signed_distance(Point3D({kNaN, 0, 0}))));
}

}  // namespace
}  // namespace orvex
