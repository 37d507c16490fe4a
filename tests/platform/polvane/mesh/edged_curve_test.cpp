#include "polvane/mesh/edged_curve.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/mesh/edged_curve_builder.h"

namespace orvex {
namespace {

TEST(EdgedCurve, EditsKeepEdgesAndAttributesInStep) {
    auto curve = test::jittered_segment_curve(6);
    EdgedCurveBuilder<1> builder{curve};
    ASSERT_EQ(curve.nb_vertices(), 7U);
    ASSERT_EQ(curve.nb_edges(), 6U);
    EXPECT_EQ(curve.point(0).value(0), 0.0);
    EXPECT_EQ(curve.point(6).value(0), 1.0);
    auto tag = curve.edge_attribute_manager().find_or_create_attribute<VariableAttribute, index_t>(
        "original", NO_ID, {});
    for (index_t e = 0; e < curve.nb_edges(); ++e) {
        tag->set_value(e, e);
        EXPECT_EQ(&curve.segment(e).vertices()[1].get(), &curve.point(curve.edge_vertex({e, 1})));
    }
    const auto copy = curve.clone();

    builder.permute_edges({5, 4, 3, 2, 1, 0});
    EXPECT_EQ(curve.edge_vertices(0), (std::array<index_t, 2>{5, 6}));
    EXPECT_EQ(tag->value(0), 5U);
    const auto old2new = builder.delete_edges({true, false, false, false, false, true});
    EXPECT_EQ(old2new, (std::vector<index_t>{NO_ID, 0, 1, 2, 3, NO_ID}));
    EXPECT_EQ(tag->value(0), 4U);
    EXPECT_THROW(builder.delete_vertices({false, true, false, false, false, false, false}),
                 PolvaneException);
    const auto vertices_old2new = builder.delete_isolated_vertices();
    EXPECT_EQ(vertices_old2new, (std::vector<index_t>{NO_ID, 0, 1, 2, 3, 4, NO_ID}));
    EXPECT_EQ(curve.edge_vertices(0), (std::array<index_t, 2>{3, 4}));
    EXPECT_EQ(curve.vertex_attribute_manager().nb_elements(), 5U);
    EXPECT_THROW(builder.create_edge(0, 5), PolvaneException);

    ASSERT_EQ(copy->nb_edges(), 6U);
    EXPECT_EQ(copy->edge_vertices(0), (std::array<index_t, 2>{0, 1}));
    const auto copied_tag = std::dynamic_pointer_cast<VariableAttribute<index_t>>(
        copy->edge_attribute_manager().find_attribute_base("original"));
    ASSERT_TRUE(copied_tag);
    EXPECT_EQ(copied_tag->value(0), 0U);
}

}  // namespace
}  // namespace orvex
