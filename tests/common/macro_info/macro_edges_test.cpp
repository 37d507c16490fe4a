#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "orvex_testing/test_background_mesh.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace internal {
namespace {

using test::TestBackgroundMesh;
using test::TestBuilder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Edges = std::vector<MeshEdge>;

// Six vertices along a strip; edges 5 to 7 are the diagonals.
TestBackgroundMesh strip() {
    return TestBackgroundMesh{
        6, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {0, 2}, {1, 3}, {2, 4}}, 0};
}

class MacroEdgesTest : public ::testing::Test {
protected:
    TestBackgroundMesh mesh = strip();
    TestBuilder builder{mesh};
    uuid curve;
    uuid other_curve;
    MeshEdge m0{curve, 0};
    MeshEdge m1{curve, 1};
    MeshEdge m2{curve, 2};
};

TEST_F(MacroEdgesTest, ListsHoldEachEntryOnceInOrderOfFirstAddition) {
    const MeshEdge same_index_other_uuid{other_curve, 0};
    builder.add_macro_edge_info(m1, {0});
    builder.add_macro_edge_info(m0, {0});
    builder.add_macro_edge_info(m1, {0});
    builder.add_macro_edge_info(same_index_other_uuid, {0});
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(m1, m0, same_index_other_uuid));
    EXPECT_THAT(mesh.incident_macro_edges(1), ElementsAre(m1, m0, same_index_other_uuid));

    // Two edges sharing vertex 2: it receives the macro edge once; repeating the call changes
    // nothing anywhere.
    builder.add_macro_edge_info(m2, {1, 2});
    builder.add_macro_edge_info(m2, {1, 2});
    EXPECT_THAT(mesh.incident_macro_edges(2), ElementsAre(m2));
    EXPECT_THAT(mesh.incident_macro_edges(3), ElementsAre(m2));
    EXPECT_THAT(mesh.macro_edges(1), ElementsAre(m2));
    EXPECT_THAT(mesh.macro_edges(2), ElementsAre(m2));

    builder.add_macro_edge_info(m0, {});
    EXPECT_THAT(mesh.macro_edges(5), IsEmpty());
}

TEST_F(MacroEdgesTest, OperationsOnOneKindOfListLeaveTheOtherKindAlone) {
    builder.add_macro_edge_info_on_vertex(m0, 4);
    for (index_t edge = 0; edge < mesh.edge_vertices.size(); ++edge) {
        EXPECT_THAT(mesh.macro_edges(edge), IsEmpty());
    }
    builder.add_macro_edge_info(m1, {3});
    builder.remove_macro_edge_info_on_edge(m1, 3);
    EXPECT_THAT(mesh.macro_edges(3), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(4), ElementsAre(m0, m1));
    builder.add_macro_edge_info(m1, {3});
    builder.remove_macro_edge_info_on_vertex(m1, 4);
    EXPECT_THAT(mesh.macro_edges(3), ElementsAre(m1));
    EXPECT_THAT(mesh.incident_macro_edges(3), ElementsAre(m1));
    EXPECT_THAT(mesh.incident_macro_edges(4), ElementsAre(m0));
}

TEST_F(MacroEdgesTest, RemovalKeepsOrderAndIgnoresAbsentEntries) {
    for (const auto& macro_edge : {m0, m1, m2}) {
        builder.add_macro_edge_info(macro_edge, {0});
    }
    builder.remove_macro_edge_info_on_edge(MeshEdge{other_curve, 1}, 0);
    builder.remove_macro_edge_info_on_edge(m1, 0);
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(m0, m2));
    builder.remove_macro_edge_info_on_vertex(m1, 0);
    EXPECT_THAT(mesh.incident_macro_edges(0), ElementsAre(m0, m2));
}

TEST_F(MacroEdgesTest, RemoveMacroEdgeInfoEmptiesBothVerticesWhateverElseCarriesIt) {
    // Edges 0 (0-1) and 1 (1-2) both carry m0; vertex lists keep no count, so removing it from
    // edge 0 takes it off vertex 1 too.
    builder.add_macro_edge_info(m0, {0, 1});
    builder.remove_macro_edge_info(m0, 0);
    EXPECT_THAT(mesh.macro_edges(0), IsEmpty());
    EXPECT_THAT(mesh.macro_edges(1), ElementsAre(m0));
    EXPECT_THAT(mesh.incident_macro_edges(1), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(2), ElementsAre(m0));

    // An edge that does not carry the macro edge still clears its vertices.
    builder.add_macro_edge_info_on_vertex(m1, 3);
    builder.add_macro_edge_info_on_vertex(m1, 4);
    builder.remove_macro_edge_info(m1, 3);
    EXPECT_THAT(mesh.incident_macro_edges(3), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(4), IsEmpty());
}

TEST_F(MacroEdgesTest, RemoveMacroEdgeInfoWithAnEntryOfTheEditedList) {
    builder.add_macro_edge_info(m0, {0});
    builder.add_macro_edge_info(m1, {0});
    // The argument refers into edge 0's list, whose first entry the removal erases: the
    // vertices must still lose m0, not the entry shifted into its place.
    builder.remove_macro_edge_info(mesh.macro_edges(0).front(), 0);
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(m1));
    EXPECT_THAT(mesh.incident_macro_edges(0), ElementsAre(m1));
    EXPECT_THAT(mesh.incident_macro_edges(1), ElementsAre(m1));
}

TEST_F(MacroEdgesTest, CommonMacroEdgesFollowTheFirstVertexList) {
    builder.add_macro_edge_info_on_vertex(m0, 0);
    builder.add_macro_edge_info_on_vertex(m1, 0);
    builder.add_macro_edge_info_on_vertex(m2, 0);
    builder.add_macro_edge_info_on_vertex(m2, 1);
    builder.add_macro_edge_info_on_vertex(m0, 1);
    EXPECT_EQ(mesh.common_macro_edges(0, 1), (Edges{m0, m2}));
    EXPECT_EQ(mesh.common_macro_edges(1, 0), (Edges{m2, m0}));
    EXPECT_EQ(mesh.common_macro_edges(0, 0), mesh.incident_macro_edges(0));
    EXPECT_THAT(mesh.common_macro_edges(0, 5), IsEmpty());
    EXPECT_THAT(mesh.common_macro_edges(5, 0), IsEmpty());

    // Edge lists take no part.
    builder.add_macro_edge_info(m1, {3});
    builder.remove_macro_edge_info_on_vertex(m1, 3);
    EXPECT_THAT(mesh.common_macro_edges(3, 4), IsEmpty());
}

TEST_F(MacroEdgesTest, UpdateEdgeCopiesToTheNewEdgeAndItsCurrentVertices) {
    builder.add_macro_edge_info(m0, {0});
    builder.add_macro_edge_info(m1, {0});
    builder.add_macro_edge_info(m2, {4});
    builder.update_edge(Mapping<index_t>{4, 0});
    EXPECT_THAT(mesh.macro_edges(4), ElementsAre(m2, m0, m1));
    EXPECT_THAT(mesh.incident_macro_edges(5), ElementsAre(m2, m0, m1));
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(m0, m1));

    builder.update_edge(Mapping<index_t>{3, NO_ID});
    EXPECT_THAT(mesh.macro_edges(3), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(3), IsEmpty());

    // Same index after the mesh moved the edge's vertices: only the vertex lists grow.
    mesh.edge_vertices[0] = {2, 3};
    builder.update_edge(Mapping<index_t>{0, 0});
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(m0, m1));
    EXPECT_THAT(mesh.incident_macro_edges(3), ElementsAre(m0, m1));
}

TEST_F(MacroEdgesTest, NoIdEndsAnEdgeWalkButIsSkippedInAVertexWalk) {
    builder.add_macro_edge_info(m0, {0});
    builder.add_macro_edge_info(m1, {2});
    builder.update_edge(MultiMapping<index_t>{4, {0, NO_ID, 2}});
    EXPECT_THAT(mesh.macro_edges(4), ElementsAre(m0));
    EXPECT_THAT(mesh.incident_macro_edges(5), ElementsAre(m0));

    builder.update_edge_vertex(MultiMapping<index_t>{5, {0, NO_ID, 3}});
    EXPECT_THAT(mesh.incident_macro_edges(5), ElementsAre(m0, m1));
    EXPECT_THAT(mesh.macro_edges(4), ElementsAre(m0));

    // The end of one mapping does not end the span.
    builder.update_edges(std::vector<MultiMapping<index_t>>{{3, {NO_ID, 0}}, {3, {2}}});
    EXPECT_THAT(mesh.macro_edges(3), ElementsAre(m1));

    builder.update_edge(MultiMapping<index_t>{1, {}});
    builder.update_edge_vertices({});
    builder.update_edges(absl::Span<const Mapping<index_t>>{});
    EXPECT_THAT(mesh.macro_edges(1), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(1), ElementsAre(m0));
}

TEST_F(MacroEdgesTest, PluralUpdatesReadTheLiveTables) {
    builder.add_macro_edge_info(m0, {3});
    builder.add_macro_edge_info(m1, {5});
    builder.update_edges(std::vector<Mapping<index_t>>{{5, 3}, {7, 5}});
    EXPECT_THAT(mesh.macro_edges(7), ElementsAre(m1, m0));
    EXPECT_THAT(mesh.incident_macro_edges(4), ElementsAre(m0, m1));

    builder.update_edges(std::vector<MultiMapping<index_t>>{{1, {7}}, {6, {1}}});
    EXPECT_THAT(mesh.macro_edges(6), ElementsAre(m1, m0));

    builder.update_edge_vertices(std::vector<MultiMapping<index_t>>{{5, {4}}, {0, {5}}});
    EXPECT_THAT(mesh.incident_macro_edges(0), ElementsAre(m1, m0));
}

TEST(MacroEdgesStore, InitialisationAdoptsCleaningForgets) {
    auto mesh = strip();
    TestBuilder builder{mesh};
    const MeshEdge macro_edge{uuid{}, 3};
    builder.add_macro_edge_info(macro_edge, {2});

    mesh.initialize();
    EXPECT_THAT(mesh.macro_edges(2), ElementsAre(macro_edge));
    EXPECT_THAT(mesh.incident_macro_edges(3), ElementsAre(macro_edge));

    // Cleaned: the store still reads its lists, but they no longer follow the mesh.
    mesh.clean();
    EXPECT_FALSE(mesh.vertex_manager.attribute_exists("orvex macro edge"));
    EXPECT_FALSE(mesh.edge_manager.attribute_exists("orvex macro edge"));
    mesh.edge_manager.permute_elements(std::vector<index_t>{2, 0, 1, 3, 4, 5, 6, 7});
    EXPECT_THAT(mesh.macro_edges(2), ElementsAre(macro_edge));

    mesh.initialize();
    EXPECT_THAT(mesh.macro_edges(2), IsEmpty());
    mesh.clean();
    mesh.clean();  // Absent attributes are no error.
}

TEST(MacroEdgesStore, InitialisationRefusesANameHeldByAnotherType) {
    const char* message =
        "[AttributeManager::find_or_create_attribute] Do not instantiate an attribute if an "
        "instantiated attribute of the same name with different storage already exists.";
    auto mesh = strip();
    const MeshEdge macro_edge{uuid{}, 0};
    TestBuilder{mesh}.add_macro_edge_info(macro_edge, {0});
    mesh.clean();
    mesh.edge_manager.register_attribute(std::make_shared<VariableAttribute<int>>(0),
                                         "orvex macro edge");
    try {
        mesh.initialize();
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(), message);
    }
    EXPECT_THAT(mesh.macro_edges(0), ElementsAre(macro_edge));

    // When the vertex manager refuses, the edge table is already the newly created one.
    mesh.edge_manager.delete_attribute("orvex macro edge");
    mesh.vertex_manager.register_attribute(std::make_shared<VariableAttribute<int>>(0),
                                           "orvex macro edge");
    EXPECT_THROW(mesh.initialize(), PolvaneException);
    EXPECT_THAT(mesh.macro_edges(0), IsEmpty());
    EXPECT_THAT(mesh.incident_macro_edges(0), ElementsAre(macro_edge));
}

TEST(MacroEdgesStore, MovesCarryTheTables) {
    auto mesh = strip();
    const MeshEdge macro_edge{uuid{}, 0};
    {
        TestBuilder builder{mesh};
        builder.add_macro_edge_info(macro_edge, {0});
    }
    TestBackgroundMesh moved{std::move(mesh)};
    EXPECT_THAT(moved.macro_edges(0), ElementsAre(macro_edge));
    TestBackgroundMesh assigned = strip();
    assigned = std::move(moved);
    EXPECT_THAT(assigned.incident_macro_edges(1), ElementsAre(macro_edge));

    TestBuilder first{assigned};
    TestBuilder second{std::move(first)};
    second.remove_macro_edge_info(macro_edge, 0);
    EXPECT_THAT(assigned.incident_macro_edges(0), IsEmpty());
}

// Both stores of every mesh find or create their attributes on the same managers at once.
TEST(MacroStores, ConcurrentInitialisationCreatesEachAttributeOnce) {
    auto mesh = strip();
    mesh.clean();
    mesh.element_manager.resize(1);
    std::vector<TestBackgroundMesh> stores;
    for (int i = 0; i < 4; ++i) {
        stores.push_back(strip());
    }
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (auto& store : stores) {
        threads.emplace_back([&go, &mesh, target = &store] {
            while (!go) {
                std::this_thread::yield();
            }
            target->initialize_on(mesh.vertex_manager, mesh.edge_manager, mesh.element_manager);
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    // Every store shares the one attribute per manager: an edit through one is seen by all.
    TestBuilder builder{stores.front()};
    const MeshEdge macro_edge{uuid{}, 9};
    builder.add_macro_edge_info(macro_edge, {2});
    const MeshVertex macro_vertex{uuid{}, 4};
    const MeshElement macro_element{uuid{}, 5};
    builder.add_macro_vertex_info(macro_vertex, 1);
    builder.add_macro_element_info(macro_element, 0);
    for (const auto& store : stores) {
        EXPECT_THAT(store.macro_edges(2), ElementsAre(macro_edge));
        EXPECT_THAT(store.incident_macro_edges(3), ElementsAre(macro_edge));
        EXPECT_THAT(store.macro_vertices(1), ElementsAre(macro_vertex));
        EXPECT_THAT(store.macro_elements(0), ElementsAre(macro_element));
    }
    EXPECT_EQ(mesh.edge_manager.attribute_names(), std::vector<std::string>{"orvex macro edge"});
    EXPECT_EQ(mesh.vertex_manager.attribute_names(),
              (std::vector<std::string>{"orvex macro edge", "orvex macro vertex"}));
    EXPECT_EQ(mesh.element_manager.attribute_names(),
              std::vector<std::string>{"orvex macro element"});
}

}  // namespace
}  // namespace internal
}  // namespace orvex
