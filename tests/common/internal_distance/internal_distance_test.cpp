#include "orvex/background_common/internal_distance/internal_distance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

namespace orvex {
namespace internal {
namespace {

using Type = InternalDistance::CONFIGURATION_TYPE;

TEST(InternalDistance, ConstructorsFillEveryField) {
    static_assert(std::is_trivially_copyable_v<InternalDistance>);
    const InternalDistance none;
    EXPECT_EQ(none.type, Type::undefined);
    EXPECT_EQ(none.distance, std::numeric_limits<double>::max());
    EXPECT_EQ(none.vertex, 255);
    EXPECT_EQ(none.vertices, (std::array<unsigned char, 2>{255, 255}));

    const InternalDistance pair{Type::segment_segment, 0.25, {{0, 3}}};
    EXPECT_EQ(pair.type, Type::segment_segment);
    EXPECT_EQ(pair.vertex, 255);
    EXPECT_EQ(pair.vertices, (std::array<unsigned char, 2>{0, 3}));

    const InternalDistance edge{std::array<unsigned char, 2>{1, 2}};
    EXPECT_EQ(edge.type, Type::edge_same_adjacent);
    EXPECT_EQ(edge.distance, 0.);

    const InternalDistance point_segment{0.5, 2, {{0, 1}}};
    EXPECT_EQ(point_segment.type, Type::point_segment);
    EXPECT_EQ(point_segment.vertex, 2);

    const InternalDistance point_triangle{0.5, 3};
    EXPECT_EQ(point_triangle.type, Type::point_triangle);
    EXPECT_EQ(point_triangle.vertices, (std::array<unsigned char, 2>{255, 255}));

    const InternalDistance folded{static_cast<unsigned char>(1)};
    EXPECT_EQ(folded.type, Type::vertex_same_adjacent);
    EXPECT_EQ(folded.distance, 0.);
    EXPECT_EQ(folded.vertex, 1);
}

TEST(InternalDistance, PrintsEveryFieldInSixSignificantDigits) {
    EXPECT_EQ(InternalDistance{}.string(),
              "Type: 6, Distance: 1.79769e+308, Vertex: 255, Vertices: 255 255");
    EXPECT_EQ((InternalDistance{0.5, 3}).string(),
              "Type: 2, Distance: 0.5, Vertex: 3, Vertices: 255 255");
    EXPECT_EQ((InternalDistance{std::array<unsigned char, 2>{0, 2}}).string(),
              "Type: 4, Distance: 0, Vertex: 255, Vertices: 0 2");
    EXPECT_EQ((InternalDistance{0.70710678118654752, 0, {{1, 2}}}).string(),
              "Type: 1, Distance: 0.707107, Vertex: 0, Vertices: 1 2");
    EXPECT_EQ((InternalDistance{Type::point_point, 1e-7, {{0, 1}}}).string(),
              "Type: 0, Distance: 1e-07, Vertex: 255, Vertices: 0 1");
    EXPECT_EQ((InternalDistance{Type::point_point, 123456.5, {{0, 1}}}).string(),
              "Type: 0, Distance: 123456, Vertex: 255, Vertices: 0 1");
    EXPECT_EQ((InternalDistance{Type::point_point, -0.0, {{0, 1}}}).string(),
              "Type: 0, Distance: -0, Vertex: 255, Vertices: 0 1");
    EXPECT_EQ((InternalDistance{Type::point_point, std::nan(""), {{0, 1}}}).string(),
              "Type: 0, Distance: nan, Vertex: 255, Vertices: 0 1");
}

TEST(InternalDistance, OrdersByTypeThenDistance) {
    const InternalDistance far_pair{Type::point_point, 10, {{0, 1}}};
    const InternalDistance close_segment{0.1, 0, {{1, 2}}};
    EXPECT_TRUE(far_pair < close_segment);
    EXPECT_FALSE(close_segment < far_pair);

    const InternalDistance a{0.1, 0, {{1, 2}}};
    const InternalDistance b{0.1, 2, {{0, 1}}};
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE((InternalDistance{0.05, 2, {{0, 1}}}) < a);

    const InternalDistance none;
    for (const auto& other : {far_pair, close_segment, InternalDistance{1e300, 1},
                              InternalDistance{std::array<unsigned char, 2>{0, 1}},
                              InternalDistance{static_cast<unsigned char>(0)}}) {
        EXPECT_TRUE(other < none);
        EXPECT_FALSE(none < other);
    }

    const InternalDistance nan_distance{Type::point_point, std::nan(""), {{0, 1}}};
    EXPECT_FALSE(nan_distance < far_pair);
    EXPECT_FALSE(far_pair < nan_distance);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
