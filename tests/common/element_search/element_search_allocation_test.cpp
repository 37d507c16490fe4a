// Checks that a query allocates nothing on the heap, by counting every call of the replaced
// global operator new. In its own program, so that no other test runs with the counter.

#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <random>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/counting_operator_new.h"
#include "orvex_testing/mesh_edits.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

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

// An update whose k-th allocation fails, for every k up to the first that succeeds, leaves the
// search answering as before the call; the update that succeeds answers as a new snapshot.
template <typename Mesh>
void expect_failed_updates_change_nothing(const Mesh& before) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    Mesh after = std::move(*before.clone());
    MeshChanges changes;
    test::split_element(after, 3, test::element_centroid(after, 3), changes);
    test::move_vertex(after, 1, after.point(1) * 0.99, changes);
    std::vector<Point<D>> points;
    std::mt19937 random{9};
    std::uniform_real_distribution<double> coordinate{-0.1, 1.1};
    for (int i = 0; i < 300; ++i) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        points.push_back(point);
    }
    const auto answers_of = [&points](const Mesh& mesh) {
        ElementSearch<Mesh> fresh;
        fresh.reinitialize_elements_tree(mesh);
        return fresh.initial_containing_elements(points);
    };
    const auto old_answers = answers_of(before);
    const auto new_answers = answers_of(after);
    bool succeeded = false;
    std::size_t failing = 0;
    for (; !succeeded; ++failing) {
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(before);
        test::allocations_before_failure = failing;
        try {
            search.update_elements_tree(after, changes);
            succeeded = true;
        } catch (const std::bad_alloc&) {
        }
        test::allocations_before_failure = static_cast<std::size_t>(-1);
        // The grids have no two elements at one distance from these points but on shared
        // faces, where either element is an answer: compare found or not, then the elements.
        const auto answers = search.initial_containing_elements(points);
        const auto& expected = succeeded ? new_answers : old_answers;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            differing += answers[i].has_value() != expected[i].has_value() ? 1 : 0;
        }
        EXPECT_EQ(differing, 0U) << "allocation " << failing << " failing";
        ASSERT_LT(failing, 1000U);
    }
    // The update allocates several times, and each failure was seen.
    EXPECT_GT(failing, 4U);
}

TEST(ElementSearchAllocations, AFailedUpdateLeavesTheSearchAsBefore) {
    expect_failed_updates_change_nothing(test::jittered_segment_curve(300));
    expect_failed_updates_change_nothing(test::jittered_square_surface(12));
    expect_failed_updates_change_nothing(test::jittered_cube_solid(4));
}

}  // namespace
}  // namespace internal
}  // namespace orvex
