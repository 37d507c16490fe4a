#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TestBackgroundMesh small_mesh() {
    return TestBackgroundMesh{8, {{0, 1}}, 8};
}

class MacroInfoTest : public ::testing::Test {
protected:
    TestBackgroundMesh mesh = small_mesh();
    TestBuilder builder{mesh};
    uuid surface;
    uuid other_surface;
    MeshVertex v0{surface, 0};
    MeshVertex v1{surface, 1};
    MeshElement f0{surface, 0};
    MeshElement f1{surface, 1};
    MeshElement f2{surface, 2};
};

// A builder that counts the vertex updates it is asked for, to see that `update_vertices`
// dispatches through the virtual table.
class RecordingBuilder : public TestBuilder {
public:
    using TestBuilder::TestBuilder;

    void update_vertex(const MultiMapping<index_t>& mapping) override {
        new_indices.push_back(mapping.new_index);
        TestBuilder::update_vertex(mapping);
    }

    std::vector<index_t> new_indices;
};

TEST_F(MacroInfoTest, ListsHoldEachEntryOnceAndRemovalKeepsOrder) {
    const MeshVertex same_index_other_uuid{other_surface, 0};
    builder.add_macro_vertex_info(v1, 3);
    builder.add_macro_vertex_info(v0, 3);
    builder.add_macro_vertex_info(v1, 3);
    builder.add_macro_vertex_info(same_index_other_uuid, 3);
    EXPECT_THAT(mesh.macro_vertices(3), ElementsAre(v1, v0, same_index_other_uuid));
    builder.remove_macro_vertex_info(MeshVertex{other_surface, 1}, 3);
    builder.remove_macro_vertex_info(v0, 3);
    EXPECT_THAT(mesh.macro_vertices(3), ElementsAre(v1, same_index_other_uuid));

    for (const auto& element : {f0, f1, f2, f1}) {
        builder.add_macro_element_info(element, 5);
    }
    builder.remove_macro_element_info(f1, 5);
    builder.remove_macro_element_info(f1, 5);
    EXPECT_THAT(mesh.macro_elements(5), ElementsAre(f0, f2));
    EXPECT_THAT(mesh.macro_elements(4), IsEmpty());
}

TEST_F(MacroInfoTest, UpdateElementCopiesAfterThePreviousEntries) {
    builder.add_macro_element_info(f0, 0);
    builder.add_macro_element_info(f1, 0);
    builder.add_macro_element_info(f1, 1);
    builder.add_macro_element_info(f2, 1);
    builder.update_element(Mapping<index_t>{1, 0});
    EXPECT_THAT(mesh.macro_elements(1), ElementsAre(f1, f2, f0));
    EXPECT_THAT(mesh.macro_elements(0), ElementsAre(f0, f1));

    builder.update_element(Mapping<index_t>{2, NO_ID});
    builder.update_element(Mapping<index_t>{0, 0});
    EXPECT_THAT(mesh.macro_elements(2), IsEmpty());
    EXPECT_THAT(mesh.macro_elements(0), ElementsAre(f0, f1));
}

TEST_F(MacroInfoTest, UpdateVertexSkipsNoIdAndKeepsTheOldLists) {
    builder.add_macro_vertex_info(v0, 0);
    builder.add_macro_vertex_info(v1, 2);
    builder.update_vertex(MultiMapping<index_t>{5, {0, NO_ID, 2}});
    EXPECT_THAT(mesh.macro_vertices(5), ElementsAre(v0, v1));
    EXPECT_THAT(mesh.macro_vertices(0), ElementsAre(v0));
    EXPECT_THAT(mesh.macro_vertices(2), ElementsAre(v1));

    builder.update_vertex(MultiMapping<index_t>{2, {2, 0}});
    EXPECT_THAT(mesh.macro_vertices(2), ElementsAre(v1, v0));
    builder.update_vertex(MultiMapping<index_t>{6, {}});
    EXPECT_THAT(mesh.macro_vertices(6), IsEmpty());
}

TEST_F(MacroInfoTest, PluralUpdatesReadTheLiveTables) {
    builder.add_macro_element_info(f0, 3);
    builder.add_macro_element_info(f1, 5);
    builder.update_elements(std::vector<Mapping<index_t>>{{5, 3}, {7, 5}});
    EXPECT_THAT(mesh.macro_elements(7), ElementsAre(f1, f0));

    builder.add_macro_vertex_info(v0, 3);
    builder.add_macro_vertex_info(v1, 5);
    builder.update_vertices(std::vector<MultiMapping<index_t>>{{5, {3}}, {7, {5}}});
    EXPECT_THAT(mesh.macro_vertices(7), ElementsAre(v1, v0));
}

TEST(MacroInfoBuilder, UpdateVerticesRunsTheOverrideOncePerMappingInOrder) {
    auto mesh = small_mesh();
    RecordingBuilder builder{mesh};
    const MeshVertex macro_vertex{uuid{}, 4};
    builder.add_macro_vertex_info(macro_vertex, 1);
    builder.update_vertices(std::vector<MultiMapping<index_t>>{{4, {1}}, {2, {NO_ID}}, {4, {1}}});
    EXPECT_THAT(builder.new_indices, ElementsAre(4, 2, 4));
    EXPECT_THAT(mesh.macro_vertices(4), ElementsAre(macro_vertex));
}

TEST(MacroInfoStore, MandatorySetBelongsToTheStore) {
    auto mesh = small_mesh();
    const uuid component;
    EXPECT_FALSE(mesh.is_macro_info_mandatory(component));
    {
        TestBuilder builder{mesh};
        builder.set_macro_info_mandatory(component);
        builder.set_macro_info_mandatory(component);
    }
    EXPECT_TRUE(mesh.is_macro_info_mandatory(component));
    EXPECT_FALSE(mesh.is_macro_info_mandatory(uuid{}));

    mesh.clean();
    EXPECT_TRUE(mesh.is_macro_info_mandatory(component));
    TestBackgroundMesh moved{std::move(mesh)};
    EXPECT_TRUE(moved.is_macro_info_mandatory(component));
    TestBackgroundMesh assigned = small_mesh();
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.is_macro_info_mandatory(component));
}

TEST(MacroInfoStore, AttributesCarryTheirFlags) {
    auto mesh = small_mesh();
    const auto vertex_lists = mesh.vertex_manager.find_attribute_base("orvex macro vertex");
    const auto element_lists = mesh.element_manager.find_attribute_base("orvex macro element");
    const auto edge_lists = mesh.edge_manager.find_attribute_base("orvex macro edge");
    ASSERT_TRUE(vertex_lists && element_lists && edge_lists);
    EXPECT_EQ(vertex_lists->properties(), (AttributeProperties{false, false, true}));
    EXPECT_EQ(element_lists->properties(), (AttributeProperties{true, false, true}));
    EXPECT_EQ(edge_lists->properties(), (AttributeProperties{false, false, true}));

    TestBuilder builder{mesh};
    const uuid surface;
    for (index_t element = 0; element < 5; ++element) {
        builder.add_macro_element_info(MeshElement{surface, element}, element);
        builder.add_macro_vertex_info(MeshVertex{surface, element}, element);
    }
    // Only the element lists are assignable.
    mesh.element_manager.copy_attribute_value(0, 6);
    mesh.vertex_manager.copy_attribute_value(0, 6);
    EXPECT_THAT(mesh.macro_elements(6), ElementsAre(MeshElement{surface, 0}));
    EXPECT_THAT(mesh.macro_vertices(6), IsEmpty());
    // Setting an element from other elements gives it the default, empty list.
    mesh.element_manager.interpolate_attribute_value({{1, 2}, {0.5, 0.5}}, 6);
    EXPECT_THAT(mesh.macro_elements(6), IsEmpty());
}

TEST(MacroInfoStore, InitialisationAdoptsRefusesAndCleans) {
    auto mesh = small_mesh();
    const MeshVertex macro_vertex{uuid{}, 0};
    const MeshElement macro_element{uuid{}, 0};
    TestBuilder{mesh}.add_macro_vertex_info(macro_vertex, 1);
    TestBuilder{mesh}.add_macro_element_info(macro_element, 1);
    mesh.initialize();
    EXPECT_THAT(mesh.macro_vertices(1), ElementsAre(macro_vertex));
    EXPECT_THAT(mesh.macro_elements(1), ElementsAre(macro_element));

    mesh.clean();
    EXPECT_FALSE(mesh.vertex_manager.attribute_exists("orvex macro vertex"));
    EXPECT_FALSE(mesh.element_manager.attribute_exists("orvex macro element"));
    EXPECT_THAT(mesh.macro_elements(1), ElementsAre(macro_element));

    // The element manager refuses after the vertex table was replaced.
    mesh.element_manager.register_attribute(std::make_shared<VariableAttribute<double>>(0.),
                                            "orvex macro element");
    EXPECT_THROW(mesh.initialize(), PolvaneException);
    EXPECT_THAT(mesh.macro_vertices(1), IsEmpty());
    EXPECT_THAT(mesh.macro_elements(1), ElementsAre(macro_element));
}

}  // namespace
}  // namespace internal
}  // namespace orvex

// Store indices must be below the sizes of the attributes they read; release builds leave this
// to the caller, debug builds abort naming the store operation.
#ifndef NDEBUG

namespace orvex {
namespace internal {
namespace {

TEST(MacroStoresDebugAssertDeathTest, IndicesBeyondTheAttributes) {
    test::TestBackgroundMesh mesh{3, {{0, 1}}, 2};
    test::TestBuilder builder{mesh};
    const uuid component;
    EXPECT_DEATH(static_cast<void>(mesh.macro_edges(1)),
                 "\\[MacroEdges::macro_edges\\] Edge 1 is not below the edge attribute's size "
                 "\\(1\\)");
    EXPECT_DEATH(static_cast<void>(mesh.common_macro_edges(0, 3)),
                 "\\[MacroEdges::common_macro_edges\\] Vertex 3");
    EXPECT_DEATH(builder.add_macro_edge_info_on_vertex({component, 0}, 5),
                 "\\[MacroEdges::add_macro_edge_to_background_mesh_vertices\\] Vertex 5");
    EXPECT_DEATH(builder.add_macro_vertex_info({component, 0}, 3),
                 "\\[MacroInfo::add_macro_vertex_to_background_mesh_vertex\\] Vertex 3 is not "
                 "below the vertex attribute's size \\(3\\)");
    builder.add_macro_element_info({component, 0}, 0);
    EXPECT_DEATH(builder.update_element({2, 0}),
                 "\\[MacroInfo::add_macro_element_to_background_mesh_element\\] Element 2");
    EXPECT_DEATH(builder.update_vertex({0, {NO_ID, 4}}),
                 "\\[MacroInfo::macro_vertices\\] Vertex 4");
    // After the mesh shrank its elements, the old indices are out of reach.
    mesh.element_manager.resize(0);
    EXPECT_DEATH(static_cast<void>(mesh.macro_elements(0)),
                 "\\[MacroInfo::macro_elements\\] Element 0");
}

}  // namespace
}  // namespace internal
}  // namespace orvex

#endif
