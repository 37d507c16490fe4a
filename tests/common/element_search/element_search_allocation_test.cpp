// Checks that a query allocates nothing on the heap, by counting every call of the replaced
// global operator new. In its own program, so that no other test runs with the counter.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include "helpers/mesh_generators.h"
#include "orvex/background_common/element_search/element_search.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc{};
}

// Not inlined: GCC would pair the free() of an inlined delete with the new expression it
// frees and warn of a mismatch, though both sides are ours.
__attribute__((noinline)) void operator delete(void* memory) noexcept {
    std::free(memory);
}

__attribute__((noinline)) void operator delete(void* memory, std::size_t /*size*/) noexcept {
    std::free(memory);
}

namespace orvex {
namespace internal {
namespace {

template <typename Mesh, index_t D>
long allocations_of_queries(const Mesh& mesh) {
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
    const long before = allocations.load();
    std::size_t found = 0;
    for (const auto& point : points) {
        found += search.initial_containing_element(point).has_value() ? 1 : 0;
    }
    const long after = allocations.load();
    EXPECT_GT(found, 0u);
    return after - before;
}

TEST(ElementSearchAllocations, QueriesAllocateNothing) {
    EXPECT_EQ((allocations_of_queries<EdgedCurve<1>, 1>(test::jittered_segment_curve(100))), 0);
    EXPECT_EQ(
        (allocations_of_queries<TriangulatedSurface<2>, 2>(test::jittered_square_surface(10))), 0);
    EXPECT_EQ((allocations_of_queries<TetrahedralSolid<3>, 3>(test::jittered_cube_solid(5))), 0);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
