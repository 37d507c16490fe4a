#include "orvex/background_common/internal_distance/edge_from_internal_distance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>

#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {
namespace internal {
namespace {

using Type = InternalDistance::CONFIGURATION_TYPE;

// Polygon 1 uses the mesh vertices 4, 2, 3 in local order, so that local and mesh indices
// differ.
TriangulatedSurface<2> two_triangles() {
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    for (const auto& p : {Point<2>{{0, 0}}, Point<2>{{1, 0}}, Point<2>{{0, 1}}, Point<2>{{1, 1}},
                          Point<2>{{2, 2}}}) {
        builder.create_point(p);
    }
    builder.create_triangle({0, 1, 2});
    builder.create_triangle({4, 2, 3});
    return surface;
}

TEST(EdgeFromInternalDistance, SurfaceEdgeJoinsTheRecordsVertices) {
    const auto surface = two_triangles();
    EXPECT_EQ(edge_from_internal_distance(surface, 1, InternalDistance{0.5, 1, {{0, 2}}}),
              (PolygonEdge{1, 2}));
    EXPECT_EQ(
        edge_from_internal_distance(surface, 1, InternalDistance{Type::point_point, 0, {{0, 1}}}),
        (PolygonEdge{1, 0}));
    EXPECT_EQ(edge_from_internal_distance(surface, 1,
                                          InternalDistance{std::array<unsigned char, 2>{2, 1}}),
              (PolygonEdge{1, 1}));
    // A record that names no edge.
    EXPECT_EQ(edge_from_internal_distance(surface, 1, InternalDistance{0.5, 1}), PolygonEdge{});
    EXPECT_EQ(
        edge_from_internal_distance(surface, 1, InternalDistance{Type::point_point, 0, {{1, 1}}}),
        PolygonEdge{});
}

TEST(EdgeFromInternalDistance, SolidEdgeJoinsTheRecordsVertices) {
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    for (const auto& p : {Point<3>{{0, 0, 0}}, Point<3>{{1, 0, 0}}, Point<3>{{0, 1, 0}},
                          Point<3>{{0, 0, 1}}, Point<3>{{1, 1, 1}}}) {
        builder.create_point(p);
    }
    builder.create_tetrahedron({0, 1, 2, 3});
    builder.create_tetrahedron({4, 3, 2, 1});
    const InternalDistance folded_edge{std::array<unsigned char, 2>{1, 3}};
    const PolyhedronFacetEdge edge = edge_from_internal_distance(solid, 1, folded_edge);
    EXPECT_EQ(edge.polyhedron_facet.polyhedron_id, 1U);
    auto vertices = solid.polyhedron_facet_edge_vertices(edge);
    std::sort(vertices.begin(), vertices.end());
    EXPECT_EQ(vertices, (std::array<index_t, 2>{1, 3}));

    EXPECT_THROW((void)edge_from_internal_distance(
                     solid, 1, InternalDistance{Type::point_point, 0, {{2, 2}}}),
                 std::bad_optional_access);
    EXPECT_THROW((void)edge_from_internal_distance(solid, 1, InternalDistance{}),
                 std::bad_optional_access);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
