#include "orvex/background_common/insertion/macro_edge_insertion_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace internal {
namespace {

using Status = ElementInsertionInfo::INSERTION_STATUS;

template <index_t D>
using Entry = typename MacroEdgeInsertionInfo<D>::InsertionPoint;

template <index_t D>
MacroEdgeInsertionInfo<D> record_of(const std::vector<Point<D>>& points) {
    MacroEdgeInsertionInfo<D> info;
    index_t vertex = 0;
    for (const auto& point : points) {
        InsertionLocation location;
        location.feature_index = vertex;
        info.points.push_back({point, vertex++, location});
    }
    return info;
}

template <index_t D>
std::vector<Point<D>> points_of(const MacroEdgeInsertionInfo<D>& info) {
    std::vector<Point<D>> result;
    for (const auto& entry : info.points) {
        result.push_back(entry.point);
    }
    return result;
}

// The points of a record of `points` after sorting along the segment from `from` to `to`.
template <index_t D>
std::vector<Point<D>> sorted(const std::vector<Point<D>>& points, const Point<D>& from,
                             const Point<D>& to) {
    auto info = record_of<D>(points);
    info.sort(Segment<D>{from, to});
    return points_of(info);
}

Point2D p2(double x, double y) {
    return Point2D{{x, y}};
}

Point3D p3(double x, double y, double z) {
    return Point3D{{x, y, z}};
}

TEST(MacroEdgeInsertionSort, OrdersAlongTheSegmentInBothDirections2D) {
    const std::vector<Point2D> points{p2(3, 0), p2(1, 0), p2(2, 0)};
    EXPECT_EQ(sorted<2>(points, p2(0, 0), p2(1, 0)),
              (std::vector<Point2D>{p2(1, 0), p2(2, 0), p2(3, 0)}));
    EXPECT_EQ(sorted<2>(points, p2(1, 0), p2(0, 0)),
              (std::vector<Point2D>{p2(3, 0), p2(2, 0), p2(1, 0)}));
}

TEST(MacroEdgeInsertionSort, UsesTheWidestAxisOnly) {
    EXPECT_EQ(sorted<2>({p2(0, 0), p2(10, 1), p2(5, 0.5)}, p2(0, 0), p2(10, 1)),
              (std::vector<Point2D>{p2(0, 0), p2(5, 0.5), p2(10, 1)}));

    // Widest along z: ordered by z, ascending or descending with the segment.
    const std::vector<Point3D> points{p3(1, 1, 2), p3(1, 1, -1), p3(1, 1, 0)};
    EXPECT_EQ(sorted<3>(points, p3(1, 1, -5), p3(1, 1, 5)),
              (std::vector<Point3D>{p3(1, 1, -1), p3(1, 1, 0), p3(1, 1, 2)}));
    EXPECT_EQ(sorted<3>(points, p3(1, 1, 5), p3(1, 1, -5)),
              (std::vector<Point3D>{p3(1, 1, 2), p3(1, 1, 0), p3(1, 1, -1)}));
}

TEST(MacroEdgeInsertionSort, CoincidentNeighboursKeepTheFirstEntry) {
    const Point2D a = p2(0, 0);
    const Point2D b = p2(1, 0);
    MacroEdgeInsertionInfo<2> info;
    InsertionLocation first;
    first.parameter = 0.25;
    info.points.push_back({p2(2, 0), std::nullopt, {}});
    info.points.push_back({p2(1, 0), 11, first});
    info.points.push_back({p2(1 + 1e-7, 0), 12, {}});
    info.sort(Segment<2>{a, b});
    ASSERT_EQ(info.points.size(), 2u);
    EXPECT_EQ(info.points[0].vertex, 11u);
    EXPECT_EQ(info.points[0].location.parameter, 0.25);
    EXPECT_EQ(info.points[1].point, p2(2, 0));

    // Two coincident points that a third separates in the sorted order both stay.
    auto separated = record_of<2>({p2(0.9e-6, 0), p2(10, 0), p2(0, 0), p2(0.5e-6, 1)});
    separated.sort(Segment<2>{a, b});
    EXPECT_EQ(points_of(separated),
              (std::vector<Point2D>{p2(0, 0), p2(0.5e-6, 1), p2(0.9e-6, 0), p2(10, 0)}));
}

TEST(MacroEdgeInsertionSort, FewerThanTwoDistinctPointsThrowAfterShortening) {
    const Point2D a = p2(0, 0);
    const Point2D b = p2(1, 0);
    auto single = record_of<2>({p2(4, 4)});
    try {
        single.sort(Segment<2>{a, b});
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(),
                     "[Point::operator/] Cannot divide Point by something close to zero");
    }
    ASSERT_EQ(single.points.size(), 1u);
    EXPECT_EQ(single.points[0].point, p2(4, 4));

    auto coincident = record_of<2>({p2(1, 1), p2(1, 1 + 1e-7), p2(1, 1 - 1e-7)});
    EXPECT_THROW(coincident.sort(Segment<2>{a, b}), PolvaneException);
    ASSERT_EQ(coincident.points.size(), 1u);
    EXPECT_EQ(coincident.points[0].point, p2(1, 1 - 1e-7));

    MacroEdgeInsertionInfo<2> empty;
    EXPECT_NO_THROW(empty.sort(Segment<2>{a, b}));
    EXPECT_TRUE(empty.points.empty());
}

TEST(MacroEdgeInsertionSort, APerpendicularSegmentDoesNotReverse) {
    const Point2D a = p2(0, 0);
    const Point2D b = p2(0, 1);
    auto info = record_of<2>({p2(2, 0), p2(1, 0)});
    info.sort(Segment<2>{a, b});
    EXPECT_EQ(points_of(info), (std::vector<Point2D>{p2(1, 0), p2(2, 0)}));
}

TEST(MacroEdgeInsertionSort, NaNCoordinatesGoLastAndNeverBreakTheSort) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Point2D a = p2(0, 0);
    const Point2D b = p2(1, 0);
    std::mt19937 random{7};
    std::uniform_real_distribution<double> coordinate{-10, 10};
    // Enough entries that std::sort uses its unguarded insertion passes, which is where an
    // ordering that is not strict weak reads outside the list.
    std::vector<Point2D> points;
    for (int i = 0; i < 200; ++i) {
        points.push_back(i % 5 == 0 ? p2(nan, 0) : p2(coordinate(random), 0));
    }
    auto info = record_of<2>(points);
    // The last entry has a NaN coordinate, so the first-to-last direction is not a number:
    // refused, after sorting.
    EXPECT_THROW(info.sort(Segment<2>{a, b}), PolvaneException);
    EXPECT_EQ(info.points.size(), points.size());
    bool seen_nan = false;
    double previous = -std::numeric_limits<double>::infinity();
    for (const auto& entry : info.points) {
        const double x = entry.point.value(0);
        if (std::isnan(x)) {
            seen_nan = true;
            continue;
        }
        EXPECT_FALSE(seen_nan) << "a number after a NaN";
        EXPECT_LE(previous, x);
        previous = x;
    }
    EXPECT_TRUE(seen_nan);
}

TEST(MacroEdgeInsertionStatus, SumsUpTheRecordedStatuses) {
    const Point2D a = p2(0, 0);
    const Point2D b = p2(1, 0);
    const Point2D close = p2(1e-7, 0);
    MacroEdgeInsertionInfo<2> info;
    info.statuses = {Status::inserted};
    EXPECT_EQ(info.insertion_status(Segment<2>{a, close}), Status::degenerated);
    const Segment<2> segment{a, b};
    EXPECT_EQ(info.insertion_status(segment), Status::fully_inserted);
    info.statuses.push_back(Status::not_inserted);
    EXPECT_EQ(info.insertion_status(segment), Status::partially_inserted);
    info.statuses = {Status::fully_inserted, Status::degenerated};
    EXPECT_EQ(info.insertion_status(segment), Status::not_inserted);
    info.statuses.clear();
    EXPECT_EQ(info.insertion_status(segment), Status::not_inserted);
}

TEST(MacroEdgeInsertionInfo, CopiesAreIndependentAndMovesEmptyTheSource) {
    auto source = record_of<3>({p3(0, 0, 0), p3(1, 0, 0)});
    source.statuses = {Status::inserted};
    MacroEdgeInsertionInfo<3> copy{source};
    copy.points.pop_back();
    EXPECT_EQ(source.points.size(), 2u);
    const auto& self = source;
    source = self;
    EXPECT_EQ(source.points.size(), 2u);

    MacroEdgeInsertionInfo<3> moved{std::move(source)};
    EXPECT_TRUE(source.points.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(source.statuses.empty());
    EXPECT_EQ(moved.points.size(), 2u);
    auto& alias = moved;
    moved = std::move(alias);
    EXPECT_EQ(moved.points.size(), 2u);
    copy = std::move(moved);
    EXPECT_EQ(copy.statuses.size(), 1u);
    EXPECT_TRUE(moved.points.empty());  // NOLINT(bugprone-use-after-move)
}

// Points and segments spanning more than the largest double (x = +-1e308): the direction along
// them is still found, so a segment running towards -x puts the entries in -x order.
TEST(MacroEdgeInsertionSort, HugeExtentsStillFollowTheSegment) {
    const Point2D east = p2(1e308, 0);
    const Point2D west = p2(-1e308, 0);
    auto backward = record_of<2>({west, p2(0, 0), east});
    backward.sort(Segment<2>{east, west});
    EXPECT_EQ(points_of(backward), (std::vector<Point2D>{east, p2(0, 0), west}));
    auto forward = record_of<2>({east, west});
    const Point2D left = p2(-1, 0);
    const Point2D right = p2(1, 0);
    forward.sort(Segment<2>{left, right});
    EXPECT_EQ(points_of(forward), (std::vector<Point2D>{west, east}));
    auto along_short = record_of<2>({p2(1, 0), p2(0, 0)});
    along_short.sort(Segment<2>{east, west});
    EXPECT_EQ(points_of(along_short), (std::vector<Point2D>{p2(1, 0), p2(0, 0)}));
}

// Along a diagonal, even the halved differences (the largest double on every axis) have a length
// above the largest double: the direction must still be found.
TEST(MacroEdgeInsertionSort, HugeDiagonalExtentsStillFollowTheSegment) {
    const double big = std::numeric_limits<double>::max();
    const Point3D low = p3(-big, -big, -big);
    const Point3D high = p3(big, big, big);
    const Point3D origin = p3(0, 0, 0);
    auto backward = record_of<3>({low, origin, high});
    backward.sort(Segment<3>{high, low});
    EXPECT_EQ(points_of(backward), (std::vector<Point3D>{high, origin, low}));
    auto along_short = record_of<3>({origin, p3(1, 1, 1)});
    along_short.sort(Segment<3>{high, low});
    EXPECT_EQ(points_of(along_short), (std::vector<Point3D>{p3(1, 1, 1), origin}));
    const Point2D top = p2(0, 0);
    const Point2D bottom = p2(0, -big);
    auto planar = record_of<2>({p2(-0.5, -big), p2(-big, big)});
    planar.sort(Segment<2>{top, bottom});
    EXPECT_EQ(points_of(planar), (std::vector<Point2D>{p2(-big, big), p2(-0.5, -big)}));
}

}  // namespace
}  // namespace internal
}  // namespace orvex
