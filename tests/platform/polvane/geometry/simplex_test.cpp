#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

namespace orvex {
namespace {

// Referring simplices cannot be built over temporaries; owners can.
static_assert(!std::is_constructible_v<Segment<2>, Point2D, Point2D>);
static_assert(!std::is_constructible_v<Segment<2>, const Point2D&, Point2D>);
static_assert(std::is_constructible_v<Segment<2>, const Point2D&, Point2D&>);
static_assert(std::is_constructible_v<OwnerSegment<2>, Point2D, Point2D>);
static_assert(!std::is_constructible_v<Triangle<3>, Point3D, Point3D, Point3D>);
static_assert(!std::is_constructible_v<Tetrahedron, OwnerTetrahedron>);
static_assert(std::is_constructible_v<Tetrahedron, OwnerTetrahedron&>);

TEST(Segment, MeasuresAndDegeneracyBound) {
    const Point3D a{{1, 2, 3}};
    const Point3D b{{4, 6, 3}};
    const Segment<3> segment{a, b};
    EXPECT_DOUBLE_EQ(segment.length(), 5);
    EXPECT_EQ(segment.direction(), Vector3D({3, 4, 0}));
    EXPECT_EQ(segment.normalized_direction(), Vector3D({0.6, 0.8, 0}));
    EXPECT_EQ(segment.barycenter(), Point3D({2.5, 4, 3}));
    EXPECT_FALSE(segment.is_degenerated());

    const Point3D at_bound{{1 + 1e-6, 2, 3}};
    EXPECT_TRUE((Segment<3>{a, at_bound}.is_degenerated()));
    const Point3D beyond{{1 + 1.01e-6, 2, 3}};
    EXPECT_FALSE((Segment<3>{a, beyond}.is_degenerated()));
    EXPECT_DOUBLE_EQ((OwnerSegment<1>{Point1D{{-1}}, Point1D{{2}}}.length()), 3);
    EXPECT_DOUBLE_EQ((OwnerSegment<3>{Point3D{{0, 0, 0}}, Point3D{{1e200, 1e200, 0}}}.length()),
                     std::sqrt(2) * 1e200);
}

TEST(Segment, NormalizingADegenerateSegmentThrows) {
    const Point2D a{{1, 1}};
    EXPECT_THROW((void)(Segment<2>{a, a}.normalized_direction()), PolvaneException);
    const Point2D nan{{std::numeric_limits<double>::quiet_NaN(), 1}};
    EXPECT_THROW((void)(Segment<2>{a, nan}.normalized_direction()), PolvaneException);
    EXPECT_FALSE((Segment<2>{a, nan}.is_degenerated()));
}

TEST(Simplices, ReferencesFollowThePointsAndOwnersCopyThem) {
    Point2D a{{0, 0}};
    const Point2D b{{3, 0}};
    const Point2D c{{0, 3}};
    const Triangle<2> view{a, b, c};
    const OwnerTriangle<2> copy{view};
    a.set_value(0, -3);
    EXPECT_EQ(view.vertices()[0].get(), a);
    EXPECT_EQ(copy.vertices()[0], Point2D({0, 0}));
    EXPECT_EQ(view.barycenter(), Point2D({0, 1}));
    EXPECT_EQ(copy.barycenter(), Point2D({1, 1}));

    const Triangle<2> over_copy{copy};
    EXPECT_EQ(&over_copy.vertices()[2].get(), &copy.vertices()[2]);

    const OwnerTetrahedron tetrahedron{Point3D{{0, 0, 0}}, Point3D{{4, 0, 0}}, Point3D{{0, 4, 0}},
                                       Point3D{{0, 0, 4}}};
    EXPECT_EQ(tetrahedron.barycenter(), Point3D({1, 1, 1}));
    EXPECT_EQ(Tetrahedron{tetrahedron}.vertices()[3].get(), Point3D({0, 0, 4}));
}

TEST(Simplices, BarycentersOfFinitePointsAreFiniteWhereTheSumOverflows) {
    const double big = std::numeric_limits<double>::max();
    const OwnerTriangle<2> wide{Point2D{{-1e308, -1e308}}, Point2D{{1e308, -1e308}},
                                Point2D{{0, 1e308}}};
    EXPECT_EQ(wide.barycenter().value(0), 0);
    EXPECT_DOUBLE_EQ(wide.barycenter().value(1), -1e308 / 3);
    EXPECT_EQ((OwnerSegment<1>{Point1D{{big}}, Point1D{{big}}}.barycenter().value(0)), big);
    const OwnerTetrahedron far{Point3D{{big, 0, -big}}, Point3D{{big, 1, -big}},
                               Point3D{{big, 2, -big}}, Point3D{{big, 3, -big}}};
    EXPECT_EQ(far.barycenter(), Point3D({big, 1.5, -big}));
    // Non-finite coordinates stay non-finite.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(
        std::isnan((OwnerSegment<1>{Point1D{{-inf}}, Point1D{{inf}}}.barycenter().value(0))));
}

TEST(ModifiedElement, HoldsTheMovedElementAndItsIndex) {
    ModifiedTriangle<2> moved{7,
                              OwnerTriangle<2>{Point2D{{0, 0}}, Point2D{{1, 0}}, Point2D{{0, 1}}}};
    const ModifiedTriangle<2> copy = moved;
    moved =
        ModifiedTriangle<2>{8, OwnerTriangle<2>{Point2D{{5, 5}}, Point2D{{6, 5}}, Point2D{{5, 6}}}};
    EXPECT_EQ(copy.element_index(), 7U);
    EXPECT_EQ(copy.element().vertices()[1].get(), Point2D({1, 0}));
    EXPECT_EQ(&copy.element().vertices()[1].get(), &copy.owned_element().vertices()[1]);
    EXPECT_EQ(moved.element().vertices()[0].get(), Point2D({5, 5}));

    const ModifiedTetrahedron tetrahedron{
        NO_ID, OwnerTetrahedron{Point3D{{0, 0, 0}}, Point3D{{1, 0, 0}}, Point3D{{0, 1, 0}},
                                Point3D{{0, 0, 1}}}};
    EXPECT_EQ(tetrahedron.element_index(), NO_ID);
    EXPECT_EQ(tetrahedron.element().vertices()[3].get(), Point3D({0, 0, 1}));
}

}  // namespace
}  // namespace orvex
