// Heap allocations of the internal distance operations, counted by a replaced global operator
// new. A program of its own: the replacement would count every other test too.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "orvex/background_common/internal_distance/internal_distance_cache.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "orvex_testing/counting_operator_new.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/modified_element.h"

namespace orvex {
namespace internal {
namespace {

// The number of allocations that `operation` makes.
template <typename Operation>
std::size_t allocations_of(Operation operation) {
    const std::size_t before = test::allocation_count.load();
    operation();
    return test::allocation_count.load() - before;
}

TEST(InternalDistanceAllocations, TriangleOperationsNeverAllocate) {
    const TriangulatedSurface<2> surface = test::jittered_square_surface(2);
    const Triangle<2> triangle = surface.triangle(3);
    const std::vector<ModifiedTriangle<2>> modified{{3, OwnerTriangle<2>{triangle}}};
    ThreePointsInternalDistance cache;
    (void)cache.smallest_internal_distance(triangle);
    EXPECT_EQ(allocations_of([&] {
                  (void)minimal_triangle_internal_distance(triangle);
                  for (const double threshold : {0.2, 0.6, 1.0}) {
                      (void)fast_triangle_internal_distances(triangle, {threshold, false});
                      (void)fast_triangle_internal_distances(surface, 3, {threshold, true});
                  }
                  (void)triangle_status(triangle);
                  (void)compute_number_of_negative_triangles(modified);
                  (void)cache.smallest_internal_distance(triangle);
              }),
              0U);
}

TEST(InternalDistanceAllocations, TetrahedronOperationsAllocateOnlyBeyondTenRecords) {
    const TetrahedralSolid<3> solid = test::jittered_cube_solid(2);
    const Tetrahedron tetrahedron = solid.tetrahedron(20);
    const std::vector<ModifiedTetrahedron> modified{{20, OwnerTetrahedron{tetrahedron}}};
    FourPointsInternalDistance cache;
    (void)cache.smallest_internal_distance(tetrahedron);
    EXPECT_EQ(allocations_of([&] {
                  (void)minimal_tetrahedron_internal_distance(tetrahedron);
                  for (const double threshold : {1e-3, 0.1, 0.2, 0.3, 1.0}) {
                      (void)fast_tetrahedron_internal_distances(tetrahedron, {threshold, false});
                      (void)fast_tetrahedron_internal_distances(solid, 20, {threshold, true});
                  }
                  (void)tetrahedron_status(tetrahedron);
                  (void)compute_number_of_negative_tetrahedra(modified);
                  (void)cache.smallest_internal_distance(tetrahedron);
              }),
              0U);

    // The regular tetrahedron with edge length 1 has every vertex 0.866 from the three edges
    // off it: twelve vertex-to-edge records under 0.9, which leave the inline storage.
    const double s = 1 / std::sqrt(2.);
    const Point<3> a{{0.5, 0, -s / 2}};
    const Point<3> b{{-0.5, 0, -s / 2}};
    const Point<3> c{{0, 0.5, s / 2}};
    const Point<3> d{{0, -0.5, s / 2}};
    EXPECT_GT(
        allocations_of([&] {
            EXPECT_EQ(
                fast_tetrahedron_internal_distances(Tetrahedron{a, b, c, d}, {0.9, false}).size(),
                12U);
        }),
        0U);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
