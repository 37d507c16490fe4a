#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/internal_distance/record_layout.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/segment.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {
namespace internal {
namespace {

using Status = InternalDistance::ELEMENT_STATUS;
using test::expect_same_records;
using test::layout;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

OwnerTriangle<2> triangle(double ax, double ay, double bx, double by, double cx, double cy) {
    return OwnerTriangle<2>{Point<2>{{ax, ay}}, Point<2>{{bx, by}}, Point<2>{{cx, cy}}};
}

std::string fast(const OwnerTriangle<2>& owner, double threshold) {
    return layout(fast_triangle_internal_distances(Triangle<2>{owner}, {threshold, false}));
}

const OwnerTriangle<2> kRight = triangle(0, 0, 1, 0, 0, 1);

TEST(TriangleInternalDistance, MinimalIsTheNearestVertexToItsOppositeEdge) {
    const InternalDistance minimal = minimal_triangle_internal_distance(Triangle<2>{kRight});
    EXPECT_EQ(layout({minimal}), "segment v0 12");
    EXPECT_NEAR(minimal.distance, std::sqrt(0.5), 1e-15);
    // Three equal heights: the first of the table, vertex 2 against edge (0, 1), wins.
    const auto equilateral = triangle(0, 0, 2, 0, 1, std::sqrt(3.));
    EXPECT_EQ(layout({minimal_triangle_internal_distance(Triangle<2>{equilateral})}),
              "segment v2 01");
    const auto invalid = triangle(kNaN, 0, 1, 0, 0, 1);
    EXPECT_EQ(layout({minimal_triangle_internal_distance(Triangle<2>{invalid})}), "undefined");
}

TEST(TriangleInternalDistance, FastScanReportsTheFirstFamilyInTableOrder) {
    EXPECT_EQ(fast(kRight, 2), "point 01, point 02, point 12");
    EXPECT_EQ(fast(kRight, 0.9), "segment v0 12");  // pairs are 1, 1 and 1.41 apart
    EXPECT_EQ(fast(triangle(0, 0, 1, 0, 0.5, std::sqrt(0.75)), 0.9),
              "segment v2 01, segment v1 02, segment v0 12");
    EXPECT_EQ(fast(kRight, 0.5), "");
    EXPECT_EQ(fast(kRight, kNaN), "");
    // Vertices 0 and 2 coincide: only the pair, though every height is 0 too.
    EXPECT_EQ(fast(triangle(0, 0, 1, 0, 0, 0), 0), "point 02");
}

Status status(const OwnerTriangle<2>& owner) {
    return triangle_status(Triangle<2>{owner});
}

TEST(TriangleInternalDistance, EpsilonIsInclusive) {
    // Vertex 2 lies exactly 1e-6 above edge (0, 1), which lies on y = 0.
    const auto flat = triangle(0, 0, 1, 0, 0.5, 1e-6);
    EXPECT_EQ(status(flat), Status::degenerated);
    EXPECT_EQ(fast_triangle_internal_distances(Triangle<2>{flat}, {1e-6, false})[0].distance, 1e-6);
    EXPECT_EQ(status(triangle(0, 0, 1, 0, 0.5, 1.000001e-6)), Status::valid);
    EXPECT_EQ(status(triangle(0, 0, 0.5, 1, 1, 0)), Status::inverted);
}

// Triangle 0 = (0, 1, 2) with its local edges glued to the triangles listed (NO_ID: border).
TriangulatedSurface<2> glued_surface(const std::array<index_t, 3>& neighbours) {
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    for (const auto& point :
         {Point<2>{{0, 0}}, Point<2>{{1, 0}}, Point<2>{{0, 1}}, Point<2>{{1, 1}}}) {
        builder.create_point(point);
    }
    builder.create_triangles({{{0, 1, 2}}, {{1, 3, 2}}});
    for (local_index_t edge = 0; edge < 3; ++edge) {
        builder.set_polygon_adjacent({0, edge}, neighbours[edge]);
    }
    return surface;
}

TEST(TriangleInternalDistance, SurfaceScanReportsFoldedVertices) {
    const auto scan = [](const std::array<index_t, 3>& neighbours, double threshold,
                         bool adjacencies) {
        return layout(fast_triangle_internal_distances(glued_surface(neighbours), 0,
                                                       {threshold, adjacencies}));
    };
    // Reported whatever the threshold, in the order 2, 0, 1.
    EXPECT_EQ(scan({1, 1, 1}, -1, true), "folded v2, folded v0, folded v1");
    // Edges 0 and 2 meet at vertex 0; edge 1 is on the border.
    EXPECT_EQ(scan({1, NO_ID, 1}, kNaN, true), "folded v0");
    EXPECT_EQ(scan({1, NO_ID, NO_ID}, 0.8, true), "segment v0 12");
    EXPECT_EQ(scan({1, 1, 1}, 0.8, false), "segment v0 12");
    EXPECT_EQ(scan({1, 1, 1}, 1, true), "point 01, point 02");
}

TEST(TriangleInternalDistance, CountRefusesAnyInvertedTriangle) {
    const auto flat = triangle(0, 0, 1, 0, 2, 0);
    const auto inverted = triangle(0, 0, 0, 1, 1, 0);
    const auto count = [](const std::vector<OwnerTriangle<2>>& owners) {
        std::vector<Triangle<2>> triangles;
        std::vector<ModifiedTriangle<2>> modified;
        for (const auto& owner : owners) {
            triangles.emplace_back(owner);
            modified.emplace_back(NO_ID, owner);
        }
        const auto result = compute_number_of_negative_triangles(triangles);
        EXPECT_EQ(result, compute_number_of_negative_triangles(modified));
        return result;
    };
    EXPECT_EQ(count({}), 0U);
    EXPECT_EQ(count({kRight, flat, kRight}), 1U);
    EXPECT_EQ(count({inverted, flat, kRight}), std::nullopt);
    EXPECT_EQ(count({flat, kRight, inverted}), std::nullopt);
}

// The literal composition of the base library's distances, as the scans are specified.
constexpr std::array<std::array<unsigned char, 2>, 3> kPairs{{{0, 1}, {0, 2}, {1, 2}}};
constexpr std::array<unsigned char, 3> kOffEdge{2, 1, 0};

double reference_height(const Triangle<2>& triangle, std::size_t k) {
    const auto& p = triangle.vertices();
    return point_segment_distance<2>(p[kOffEdge[k]], Segment<2>{p[kPairs[k][0]], p[kPairs[k][1]]});
}

InternalDistances reference_scan(const Triangle<2>& triangle, double threshold) {
    InternalDistances result;
    for (const auto& pair : kPairs) {
        const auto& p = triangle.vertices();
        const double d = point_point_distance<2>(p[pair[0]], p[pair[1]]);
        if (d <= threshold) {
            result.emplace_back(InternalDistance::CONFIGURATION_TYPE::point_point, d, pair);
        }
    }
    if (!result.empty()) {
        return result;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const double d = reference_height(triangle, k);
        if (d <= threshold) {
            result.emplace_back(d, kOffEdge[k], kPairs[k]);
        }
    }
    return result;
}

InternalDistance reference_minimal(const Triangle<2>& triangle) {
    InternalDistance result;
    for (std::size_t k = 0; k < 3; ++k) {
        const double d = reference_height(triangle, k);
        if (d < result.distance) {
            result = InternalDistance{d, kOffEdge[k], kPairs[k]};
        }
    }
    return result;
}

// Random, nearly flat, collapsed, far and extreme triangles: every distance must be the base
// library's to the last bit, every record and every order the literal composition's.
TEST(TriangleInternalDistance, MatchesTheBaseLibraryComposition) {
    std::mt19937_64 random{20240611};
    std::uniform_real_distribution<double> unit{-1, 1};
    for (int i = 0; i < 3000; ++i) {
        std::array<Point<2>, 3> p;
        for (auto& point : p) {
            point = Point<2>{{unit(random), unit(random)}};
        }
        if (i % 5 == 1) {  // nearly flat
            p[2] = p[0] + (p[1] - p[0]) * 0.3 + Point<2>{{0, 1e-9 * unit(random)}};
        } else if (i % 5 == 2) {  // collapsed
            p[i % 3] = p[(i + 1) % 3];
        } else if (i % 5 == 3) {  // far from the origin and small, or extreme scales
            for (auto& point : p) {
                point = i % 2 == 0 ? Point<2>{{1e6, -1e6}} + point * 1e-3 : point * 1e200;
            }
        }
        const OwnerTriangle<2> owner{p[0], p[1], p[2]};
        const Triangle<2> view{owner};
        const InternalDistance minimal = minimal_triangle_internal_distance(view);
        const InternalDistance expected = reference_minimal(view);
        expect_same_records({minimal}, {expected});
        EXPECT_EQ(has_internal_distance_below_epsilon(view), expected.distance <= 1e-6);
        for (const double threshold : {0.0, 1e-6, 1e-3, 0.1, 0.5}) {
            const auto actual = fast_triangle_internal_distances(view, {threshold, false});
            ASSERT_NO_FATAL_FAILURE(expect_same_records(actual, reference_scan(view, threshold)));
        }
    }
}

// Finite coordinates whose differences exceed the largest double (2e308 across edge (0, 1)):
// the distances are measured on halved coordinates, so this flat triangle is found flat rather
// than reported valid with an undefined record.
TEST(TriangleInternalDistance, HugeCoordinatesWhoseDifferencesOverflow) {
    const auto flat = triangle(-1e308, 0, 1e308, 0, 0, 1e-7);
    const InternalDistance minimal = minimal_triangle_internal_distance(Triangle<2>{flat});
    EXPECT_EQ(layout({minimal}), "segment v2 01");
    EXPECT_NEAR(minimal.distance, 1e-7, 1e-15);
    EXPECT_EQ(triangle_status(Triangle<2>{flat}), Status::degenerated);
    EXPECT_EQ(fast(flat, 1e-6), "segment v2 01");
    const std::array<Triangle<2>, 1> span{Triangle<2>{flat}};
    EXPECT_EQ(compute_number_of_negative_triangles(span), 1u);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
