#include <gtest/gtest.h>

#include "orvex_testing/mesh_generators.h"
#include "polvane/mesh/mesh_aabb_tree.h"

// Mesh and tree accessors take indices below their counts as a precondition that release
// builds do not check; debug builds abort with the operation and the index.
#ifndef NDEBUG

namespace orvex {
namespace {

TEST(MeshDebugAssertDeathTest, CurveAccessorsOutsideTheMesh) {
    const auto curve = test::jittered_segment_curve(2);
    EXPECT_DEATH(static_cast<void>(curve.point(3)),
                 "\\[Mesh::point\\] Vertex 3 is not below the number of vertices \\(3\\)");
    EXPECT_DEATH(static_cast<void>(curve.segment(2)),
                 "\\[Mesh::element\\] Element 2 is not below the number of elements \\(2\\)");
    EXPECT_DEATH(static_cast<void>(curve.edge_vertex({0, 2})),
                 "\\[Mesh::element_vertex\\] Local vertex 2 is not below 2");
}

TEST(MeshDebugAssertDeathTest, SurfaceAccessorsOutsideTheMesh) {
    const auto surface = test::jittered_square_surface(1);
    EXPECT_DEATH(static_cast<void>(surface.triangle(2)), "\\[Mesh::element\\] Element 2");
    EXPECT_DEATH(static_cast<void>(surface.polygon_vertex({0, 3})),
                 "\\[Mesh::element_vertex\\] Local vertex 3 is not below 3");
    EXPECT_DEATH(static_cast<void>(surface.polygon_adjacent({0, 3})),
                 "\\[Mesh::adjacent\\] Local facet 3 is not below 3");
    EXPECT_DEATH(static_cast<void>(surface.polygon_adjacent({NO_ID, 0})),
                 "\\[Mesh::adjacent\\] Element 4294967295");
    EXPECT_DEATH(static_cast<void>(surface.polygon_edge_vertices({5, 0})),
                 "\\[Mesh::facet_vertices\\] Element 5");
}

TEST(MeshDebugAssertDeathTest, SolidAccessorsOutsideTheMesh) {
    const auto solid = test::jittered_cube_solid(1);
    EXPECT_DEATH(static_cast<void>(solid.tetrahedron(6)), "\\[Mesh::element\\] Element 6");
    EXPECT_DEATH(static_cast<void>(solid.point(8)), "\\[Mesh::point\\] Vertex 8");
    EXPECT_DEATH(static_cast<void>(solid.polyhedron_adjacent({0, 4})),
                 "\\[Mesh::adjacent\\] Local facet 4 is not below 4");
    EXPECT_DEATH(static_cast<void>(solid.polyhedron_facet_vertices({6, 0})),
                 "\\[Mesh::facet_vertices\\] Element 6");
}

TEST(MeshDebugAssertDeathTest, TreeLeavesAndBoxesOutsideTheTree) {
    const auto tree = create_aabb_tree(test::jittered_square_surface(1));
    EXPECT_DEATH(static_cast<void>(tree.leaf_element(2)),
                 "\\[AABBTree::leaf_element\\] Position 2 is not below the number of leaves "
                 "\\(2\\)");
    EXPECT_DEATH(static_cast<void>(tree.node_box(4)),
                 "\\[AABBTree::node_box\\] Node 4 is not in the tree");
}

}  // namespace
}  // namespace orvex

#endif
