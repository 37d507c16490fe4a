#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/internal_distance/record_layout.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"

namespace orvex {
namespace internal {
namespace {

using Status = InternalDistance::ELEMENT_STATUS;
using test::expect_same_records;
using test::layout;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

OwnerTetrahedron tetrahedron(const std::array<std::array<double, 3>, 4>& p) {
    return OwnerTetrahedron{Point<3>{p[0]}, Point<3>{p[1]}, Point<3>{p[2]}, Point<3>{p[3]}};
}

std::string fast(const OwnerTetrahedron& owner, double threshold) {
    return layout(fast_tetrahedron_internal_distances(Tetrahedron{owner}, {threshold, false}));
}

InternalDistance minimal(const OwnerTetrahedron& owner) {
    return minimal_tetrahedron_internal_distance(Tetrahedron{owner});
}

const OwnerTetrahedron kCorner = tetrahedron({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}});

TEST(TetrahedronInternalDistance, MinimalTakesFacetsThenOppositeEdges) {
    EXPECT_EQ(layout({minimal(kCorner)}), "triangle v0");
    EXPECT_NEAR(minimal(kCorner).distance, 1 / std::sqrt(3.), 1e-15);
    // The diagonals of a square cross, while every facet is sqrt(2)/2 away.
    const auto square = tetrahedron({{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}});
    EXPECT_EQ(layout({minimal(square)}), "edges 02");
    EXPECT_EQ(minimal(square).distance, 0.);
    EXPECT_TRUE(has_internal_distance_below_epsilon(Tetrahedron{square}));
    // Vertices 0 and 1 coincide: vertex 0 lies on its facet, first in list order.
    const auto collapsed = tetrahedron({{{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}}});
    EXPECT_EQ(layout({minimal(collapsed)}), "triangle v0");
    EXPECT_EQ(minimal(collapsed).distance, 0.);
    EXPECT_EQ(fast(collapsed, 0), "point 01");
    EXPECT_EQ(layout({minimal(tetrahedron({{{kNaN, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}))}),
              "undefined");
}

TEST(TetrahedronInternalDistance, FastScanStopsAtTheFirstFamily) {
    EXPECT_EQ(fast(kCorner, 1), "point 01, point 02, point 03");
    // Vertex 0 is sqrt(2)/2 from the three edges off it; every other pair or vertex-to-edge
    // distance is 1 or more.
    EXPECT_EQ(fast(kCorner, 0.8), "segment v0 12, segment v0 13, segment v0 23");
    EXPECT_EQ(fast(kCorner, 0.6), "triangle v0");
    EXPECT_EQ(fast(kCorner, 0.5), "");
    EXPECT_EQ(fast(kCorner, kNaN), "");
    // Edge length 1: pairs 1, vertex to edge 0.866, vertex to facet 0.816, opposite edges 0.707.
    const double s = 1 / std::sqrt(2.);
    const auto regular =
        tetrahedron({{{0.5, 0, -s / 2}, {-0.5, 0, -s / 2}, {0, 0.5, s / 2}, {0, -0.5, s / 2}}});
    EXPECT_EQ(fast(regular, 0.75), "edges 01, edges 02, edges 03");
    EXPECT_EQ(fast(regular, 0.82), "triangle v0, triangle v1, triangle v2, triangle v3");
}

// A sliver as raw Delaunay meshes have them: the diagonals of a square, 6e-7 apart. Every vertex
// projects outside its facet and is about 0.7 from it; only the last family sees the sliver.
TEST(TetrahedronInternalDistance, SliverIsFoundByItsOppositeEdges) {
    const double h = 6e-7;
    const auto sliver = tetrahedron({{{0, 0, 0}, {1, 0, h}, {1, 1, 0}, {0, 1, h}}});
    EXPECT_EQ(fast(sliver, 1e-6), "edges 02");
    EXPECT_EQ(layout({minimal(sliver)}), "edges 02");
    EXPECT_NEAR(minimal(sliver).distance, h, 1e-20);
    EXPECT_EQ(tetrahedron_status(Tetrahedron{sliver}), Status::degenerated);
}

TEST(TetrahedronInternalDistance, EpsilonIsInclusive) {
    // Vertex 3 lies exactly 1e-6 above facet (0, 1, 2), in the plane z = 0.
    const auto flat = tetrahedron({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.2, 0.2, 1e-6}}});
    EXPECT_EQ(tetrahedron_status(Tetrahedron{flat}), Status::degenerated);
    EXPECT_EQ(fast(flat, 1e-6), "triangle v3");
    EXPECT_EQ(minimal(flat).distance, 1e-6);
    const auto thin = tetrahedron({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.2, 0.2, 1.000001e-6}}});
    EXPECT_EQ(tetrahedron_status(Tetrahedron{thin}), Status::valid);
    const auto inverted = tetrahedron({{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}});
    EXPECT_EQ(tetrahedron_status(Tetrahedron{inverted}), Status::inverted);
}

// Tetrahedron 0 = kCorner with its local facets glued to the tetrahedra listed (NO_ID: border).
std::string solid_scan(const std::array<index_t, 4>& neighbours, double threshold,
                       bool adjacencies) {
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    for (const auto& point : {Point<3>{{0, 0, 0}}, Point<3>{{1, 0, 0}}, Point<3>{{0, 1, 0}},
                              Point<3>{{0, 0, 1}}, Point<3>{{1, 1, 1}}}) {
        builder.create_point(point);
    }
    builder.create_tetrahedra({{{0, 1, 2, 3}}, {{1, 2, 3, 4}}});
    for (local_index_t facet = 0; facet < 4; ++facet) {
        builder.set_polyhedron_adjacent({0, facet}, neighbours[facet]);
    }
    return layout(fast_tetrahedron_internal_distances(solid, 0, {threshold, adjacencies}));
}

TEST(TetrahedronInternalDistance, SolidScanReportsFoldedVerticesThenEdges) {
    // Reported whatever the threshold; the vertices end the scan before any edge.
    EXPECT_EQ(solid_scan({1, 1, 1, 1}, -1, true), "folded v0, folded v1, folded v2, folded v3");
    // Facets 2 and 3 meet along edge (0, 1), facets 1 and 3 along edge (0, 2).
    EXPECT_EQ(solid_scan({NO_ID, NO_ID, 1, 1}, kNaN, true), "folded edge 01");
    EXPECT_EQ(solid_scan({NO_ID, 1, NO_ID, 1}, 0.6, true), "folded edge 02");
    EXPECT_EQ(solid_scan({1, 1, 1, 1}, 0.6, false), "triangle v0");
    EXPECT_EQ(solid_scan({1, 1, 1, 1}, 1, true), "point 01, point 02, point 03");
}

TEST(TetrahedronInternalDistance, CountRefusesAnyInvertedTetrahedron) {
    const auto flat = tetrahedron({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}});
    const auto inverted = tetrahedron({{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}});
    const auto count = [](const std::vector<OwnerTetrahedron>& owners) {
        std::vector<Tetrahedron> tetrahedra;
        std::vector<ModifiedTetrahedron> modified;
        for (const auto& owner : owners) {
            tetrahedra.emplace_back(owner);
            modified.emplace_back(NO_ID, owner);
        }
        const auto result = compute_number_of_negative_tetrahedra(tetrahedra);
        EXPECT_EQ(result, compute_number_of_negative_tetrahedra(modified));
        return result;
    };
    EXPECT_EQ(count({}), 0U);
    EXPECT_EQ(count({kCorner, flat, kCorner, flat}), 2U);
    EXPECT_EQ(count({inverted, flat}), std::nullopt);
    EXPECT_EQ(count({flat, flat, kCorner, inverted}), std::nullopt);
}

// Where the textbook formulas lose about seven digits: a vertex 1e-6 above a facet 1e3 wide,
// and a small tetrahedron far from the origin (coordinates exact in binary).
TEST(TetrahedronInternalDistance, StaysAccurateOnThinAndFarElements) {
    const auto thin = tetrahedron({{{0, 0, 0}, {1e3, 0, 0}, {0, 1e3, 0}, {300, 300, 1e-6}}});
    EXPECT_EQ(layout({minimal(thin)}), "triangle v3");
    EXPECT_NEAR(minimal(thin).distance, 1e-6, 1e-21);
    const double size = 0x1p-10;
    std::array<Point<3>, 4> p;
    for (std::size_t v = 0; v < 4; ++v) {
        p[v] = Point<3>{{1e6, -1e6, 1e6}} + kCorner.vertices()[v] * size;
    }
    EXPECT_NEAR(minimal(OwnerTetrahedron{p[0], p[1], p[2], p[3]}).distance, size / std::sqrt(3.),
                size * 1e-15);
}

// ------------------------------------------------------------------------------------------
// The literal composition of the base library's distances, as the scans are specified.

constexpr std::array<std::array<unsigned char, 2>, 6> kPairs{
    {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};
constexpr std::array<std::array<unsigned char, 2>, 6> kOff{
    {{2, 3}, {1, 3}, {1, 2}, {0, 3}, {0, 2}, {0, 1}}};
constexpr std::array<std::array<int, 3>, 4> kFacets{{{1, 2, 3}, {2, 3, 0}, {3, 0, 1}, {0, 1, 2}}};

// Family f, entry k: the distance, or nothing for a pair of opposite edges left out.
std::optional<double> reference_distance(const Tetrahedron& t, int family, int k) {
    const auto& p = t.vertices();
    switch (family) {
        case 0:
            return point_point_distance<3>(p[kPairs[k][0]], p[kPairs[k][1]]);
        case 1:
            return point_segment_distance<3>(p[kOff[k / 2][k % 2]],
                                             Segment<3>{p[kPairs[k / 2][0]], p[kPairs[k / 2][1]]});
        case 2: {
            const auto& f = kFacets[k];
            return std::get<0>(
                point_triangle_distance<3>(p[k], Triangle<3>{p[f[0]], p[f[1]], p[f[2]]}));
        }
        default: {
            const Segment<3> first{p[kPairs[k][0]], p[kPairs[k][1]]};
            const Segment<3> second{p[kPairs[5 - k][0]], p[kPairs[5 - k][1]]};
            if (first.length() <= 1e-6 || second.length() <= 1e-6) {
                return std::nullopt;
            }
            return std::get<0>(segment_segment_distance<3>(first, second));
        }
    }
}

InternalDistance reference_record(int family, int k, double d) {
    using Type = InternalDistance::CONFIGURATION_TYPE;
    switch (family) {
        case 0:
            return InternalDistance{Type::point_point, d, kPairs[k]};
        case 1:
            return InternalDistance{d, kOff[k / 2][k % 2], kPairs[k / 2]};
        case 2:
            return InternalDistance{d, static_cast<unsigned char>(k)};
        default:
            return InternalDistance{Type::segment_segment, d, kPairs[k]};
    }
}

constexpr std::array<int, 4> kFamilySizes{6, 12, 4, 3};

InternalDistances reference_scan(const Tetrahedron& t, double threshold, int first_family) {
    InternalDistances result;
    for (int family = first_family; family < 4 && result.empty(); ++family) {
        for (int k = 0; k < kFamilySizes[family]; ++k) {
            const auto d = reference_distance(t, family, k);
            if (d && *d <= threshold) {
                result.push_back(reference_record(family, k, *d));
            }
        }
    }
    return result;
}

InternalDistance reference_minimal(const Tetrahedron& t) {
    InternalDistance result;
    for (int family = 2; family < 4; ++family) {
        for (int k = 0; k < kFamilySizes[family]; ++k) {
            const auto d = reference_distance(t, family, k);
            if (d && *d < result.distance) {
                result = reference_record(family, k, *d);
            }
        }
    }
    return result;
}

// Random, nearly flat, collapsed, needle, sliver, far and extreme tetrahedra (the last ones,
// with non-finite coordinates too, take the base library's path): every distance must be the
// base library's to the last bit, every record and every order the literal composition's.
TEST(TetrahedronInternalDistance, MatchesTheBaseLibraryComposition) {
    std::mt19937_64 random{20240612};
    std::uniform_real_distribution<double> unit{-1, 1};
    for (int i = 0; i < 4000; ++i) {
        std::array<Point<3>, 4> p;
        for (auto& point : p) {
            point = Point<3>{{unit(random), unit(random), unit(random)}};
        }
        const Point<3> tiny{{1e-7 * unit(random), 1e-7 * unit(random), 1e-7}};
        switch (i % 7) {
            case 1:  // nearly flat
                p[3] = p[0] + (p[1] - p[0]) * 0.4 + (p[2] - p[0]) * 0.3 + tiny * 0.1;
                break;
            case 2:  // collapsed, or an edge exactly 1e-6 long
                p[i % 4] = p[(i + 1) % 4] + Point<3>{{i % 3 == 0 ? 1e-6 : 0., 0, 0}};
                break;
            case 3:  // needle
                p[1] = p[0] + tiny;
                break;
            case 4:  // sliver: two nearly crossing diagonals
                p[2] = p[0] + (p[1] - p[0]) * 0.5 + (p[3] - p[0]) * 0.5 + tiny;
                break;
            case 5:  // far and small, extreme scales, non-finite coordinates
                for (auto& point : p) {
                    point = i % 3 == 0 ? Point<3>{{1e6, -1e6, 3e5}} + point * 1e-3
                                       : point * (i % 3 == 1 ? 1e-250 : 1e200);
                }
                if (i % 35 == 5) {
                    p[2].set_value(1, i % 70 == 5 ? kNaN : std::numeric_limits<double>::infinity());
                }
                break;
            default:
                break;
        }
        const OwnerTetrahedron owner{p[0], p[1], p[2], p[3]};
        const Tetrahedron view{owner};
        const InternalDistance expected = reference_minimal(view);
        expect_same_records({minimal_tetrahedron_internal_distance(view)}, {expected});
        EXPECT_EQ(has_internal_distance_below_epsilon(view),
                  !reference_scan(view, 1e-6, 2).empty());
        for (const double threshold : {0.0, 1e-6, 1e-3, 0.1, 0.6}) {
            const auto actual = fast_tetrahedron_internal_distances(view, {threshold, false});
            ASSERT_NO_FATAL_FAILURE(
                expect_same_records(actual, reference_scan(view, threshold, 0)));
        }
    }
}

// Finite coordinates whose differences exceed the largest double: every distance is measured on
// halved coordinates, so none of these is reported valid, inverted or with a wrong minimum.
TEST(TetrahedronInternalDistance, HugeCoordinatesWhoseDifferencesOverflow) {
    const auto thin = tetrahedron({{{-1e308, 0, 0}, {1e308, 0, 0}, {0, 1, 0}, {0, 0.5, 1e-7}}});
    EXPECT_EQ(layout({minimal(thin)}), "triangle v3");
    EXPECT_NEAR(minimal(thin).distance, 1e-7, 1e-15);
    EXPECT_EQ(tetrahedron_status(Tetrahedron{thin}), Status::degenerated);

    const auto flat = tetrahedron({{{-1e308, 0, 0}, {1e308, 0, 0}, {0, 1e308, 0}, {0, 0.5, 0}}});
    EXPECT_EQ(layout({minimal(flat)}), "triangle v3");
    EXPECT_EQ(minimal(flat).distance, 0);
    EXPECT_EQ(tetrahedron_status(Tetrahedron{flat}), Status::degenerated);
    const std::array<Tetrahedron, 2> span{Tetrahedron{thin}, Tetrahedron{flat}};
    EXPECT_EQ(compute_number_of_negative_tetrahedra(span), 2u);

    // The x axis and the segment from (0, M, 0) to (0, 0, M) are M / sqrt(2) apart; every
    // vertex is at least M from its facet.
    constexpr double kM = 1e308;
    const auto wide = tetrahedron({{{-kM, 0, 0}, {kM, 0, 0}, {0, kM, 0}, {0, 0, kM}}});
    EXPECT_EQ(layout({minimal(wide)}), "edges 01");
    EXPECT_NEAR(minimal(wide).distance, kM / std::sqrt(2.), kM * 1e-15);
    EXPECT_EQ(fast(wide, 0.75 * kM), "edges 01");
}

}  // namespace
}  // namespace internal
}  // namespace orvex
