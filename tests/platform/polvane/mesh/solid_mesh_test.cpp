#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "polvane/geometry/vector.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"

namespace orvex {
namespace {

TEST(SolidMesh, LocalFacetsAreOppositeTheirVertexAndTurnAlike) {
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    builder.create_point(Point<3>{{0, 0, 0}});
    builder.create_point(Point<3>{{1, 0, 0}});
    builder.create_point(Point<3>{{0, 1, 0}});
    builder.create_point(Point<3>{{0, 0, 1}});
    builder.create_tetrahedron({0, 1, 2, 3});
    constexpr std::array<std::array<index_t, 3>, 4> expected{
        {{1, 3, 2}, {0, 2, 3}, {3, 1, 0}, {0, 1, 2}}};
    for (local_index_t f = 0; f < 4; ++f) {
        const auto facet = solid.polyhedron_facet_vertices({0, f});
        EXPECT_EQ(facet, expected[f]);
        const Vector<3> u{solid.point(facet[0]), solid.point(facet[1])};
        const Vector<3> w{solid.point(facet[0]), solid.point(facet[2])};
        const Vector<3> to_opposite{solid.point(facet[0]), solid.point(f)};
        // Every facet's normal points towards the opposite vertex of this positive tetrahedron.
        EXPECT_GT(u.cross(w).dot(to_opposite), 0) << "facet " << +f;
    }
    // Every pair of vertices is an edge, found on the first facet that holds it.
    for (index_t a = 0; a < 4; ++a) {
        for (index_t b = a + 1; b < 4; ++b) {
            const auto edge = solid.polyhedron_facet_edge_from_vertices({b, a}, 0);
            ASSERT_TRUE(edge.has_value());
            const auto vertices = solid.polyhedron_facet_edge_vertices(*edge);
            EXPECT_TRUE((vertices == std::array<index_t, 2>{a, b})
                        || (vertices == std::array<index_t, 2>{b, a}));
            for (local_index_t f = 0; f < edge->polyhedron_facet.facet_id; ++f) {
                const auto facet = solid.polyhedron_facet_vertices({0, f});
                EXPECT_FALSE(std::count(facet.begin(), facet.end(), a) == 1
                             && std::count(facet.begin(), facet.end(), b) == 1);
            }
        }
    }
    EXPECT_EQ(solid.polyhedron_facet_edge_vertices({{0, 2}, 1}), (std::array<index_t, 2>{1, 0}));
    builder.create_point(Point<3>{{1, 1, 1}});
    EXPECT_EQ(solid.polyhedron_facet_edge_from_vertices({0, 4}, 0), std::nullopt);
    EXPECT_EQ(solid.polyhedron_facet_edge_from_vertices({2, 2}, 0), std::nullopt);
}

}  // namespace
}  // namespace orvex
