// Checks that a query allocates nothing on the heap, by counting every call of the replaced
// global operator new. In its own program, so that no other test runs with the counter.

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/counting_operator_new.h"
#include "orvex_testing/mesh_generators.h"

namespace orvex {
namespace internal {
namespace {

template <typename Mesh, index_t D>
std::size_t allocations_of_queries(const Mesh& mesh) {
    ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    std::mt19937 random{5};
    std::uniform_real_distribution<double> coordinate{-0.2, 1.2};
    std::vector<Point<D>> points(500);
    for (auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
    }
    const std::size_t before = test::allocation_count.load();
    std::size_t found = 0;
    for (const auto& point : points) {
        found += search.initial_containing_element(point).has_value() ? 1 : 0;
    }
    const std::size_t after = test::allocation_count.load();
    EXPECT_GT(found, 0u);
    return after - before;
}

TEST(ElementSearchAllocations, QueriesAllocateNothing) {
    EXPECT_EQ((allocations_of_queries<EdgedCurve<1>, 1>(test::jittered_segment_curve(100))), 0U);
    EXPECT_EQ(
        (allocations_of_queries<TriangulatedSurface<2>, 2>(test::jittered_square_surface(10))), 0U);
    EXPECT_EQ((allocations_of_queries<TetrahedralSolid<3>, 3>(test::jittered_cube_solid(5))), 0U);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
