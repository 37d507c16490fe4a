#include <optional>
#include <type_traits>

#include <gtest/gtest.h>

#include "orvex/background_common/insertion/background_edge_vertices.h"
#include "orvex/background_common/insertion/macro_edge_background_vertices.h"
#include "orvex/background_common/insertion/macro_edge_insertion_info.h"
#include "orvex_common/modifier/vertices_modifier.h"

namespace orvex {
namespace internal {
namespace {

// Maps 3 to 5 and 4 to 1, and reports 8 and 9 as gone.
VerticesModifier test_modifier() {
    VerticesModifier modifier{10};
    modifier.merge(3, 5);
    modifier.merge(4, 1);
    modifier.delete_vertex(8);
    modifier.delete_vertex(9);
    return modifier;
}

TEST(MacroEdgeBackgroundVertices, UpdatesBothOrStopsAtTheFirstVertexGone) {
    static_assert(std::is_trivially_copyable_v<MacroEdgeBackgroundVertices>);
    const MacroEdgeBackgroundVertices unset;
    EXPECT_EQ(unset.vertex0, 4294967295u);
    EXPECT_EQ(unset.vertex1, 4294967295u);

    const auto modifier = test_modifier();
    MacroEdgeBackgroundVertices both{3, 4};
    both.update_vertices(modifier);
    EXPECT_EQ(both.vertex0, 5u);
    EXPECT_EQ(both.vertex1, 1u);

    MacroEdgeBackgroundVertices second_gone{3, 8};
    EXPECT_THROW(second_gone.update_vertices(modifier), std::bad_optional_access);
    EXPECT_EQ(second_gone.vertex0, 5u);
    EXPECT_EQ(second_gone.vertex1, 8u);

    MacroEdgeBackgroundVertices first_gone{8, 3};
    EXPECT_THROW(first_gone.update_vertices(modifier), std::bad_optional_access);
    EXPECT_EQ(first_gone.vertex0, 8u);
    EXPECT_EQ(first_gone.vertex1, 3u);
}

TEST(BackgroundEdgeVertices, UpdatesPresentEntriesOnly) {
    static_assert(std::is_trivially_copyable_v<BackgroundEdgeVertices>);
    const auto modifier = test_modifier();
    BackgroundEdgeVertices none;
    EXPECT_EQ(none.edge.background_edge, NO_ID);
    none.update_vertices(modifier);
    EXPECT_FALSE(none.vertices[0]);
    EXPECT_FALSE(none.vertices[1]);

    BackgroundEdgeVertices second_only;
    second_only.edge = {12, 3};
    second_only.vertices[1] = 4;
    second_only.update_vertices(modifier);
    EXPECT_FALSE(second_only.vertices[0]);
    EXPECT_EQ(second_only.vertices[1], 1u);
    EXPECT_EQ(second_only.edge.background_edge, 12u);
    EXPECT_EQ(second_only.edge.macro_edge, 3u);

    BackgroundEdgeVertices second_gone;
    second_gone.vertices = {3, 8};
    EXPECT_THROW(second_gone.update_vertices(modifier), std::bad_optional_access);
    EXPECT_EQ(second_gone.vertices[0], 5u);
    EXPECT_EQ(second_gone.vertices[1], 8u);

    BackgroundEdgeVertices first_gone;
    first_gone.vertices[0] = 8;
    EXPECT_THROW(first_gone.update_vertices(modifier), std::bad_optional_access);
    EXPECT_EQ(first_gone.vertices[0], 8u);
    EXPECT_FALSE(first_gone.vertices[1]);
}

TEST(MacroEdgeInsertionInfo, UpdatesVerticesUpToTheFirstOneGone) {
    const auto modifier = test_modifier();
    MacroEdgeInsertionInfo<2> info;
    info.points.push_back({Point2D{{0, 0}}, 4, {}});
    info.points.push_back({Point2D{{1, 0}}, std::nullopt, {}});
    info.points.push_back({Point2D{{2, 0}}, 9, {}});
    info.points.push_back({Point2D{{3, 0}}, 3, {}});
    EXPECT_THROW(info.update_vertices(modifier), std::bad_optional_access);
    EXPECT_EQ(info.points[0].vertex, 1u);
    EXPECT_FALSE(info.points[1].vertex);
    EXPECT_EQ(info.points[2].vertex, 9u);
    EXPECT_EQ(info.points[3].vertex, 3u);

    info.points.erase(info.points.begin() + 2);
    info.update_vertices(modifier);
    EXPECT_EQ(info.points[0].vertex, 1u);
    EXPECT_EQ(info.points[2].vertex, 5u);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
