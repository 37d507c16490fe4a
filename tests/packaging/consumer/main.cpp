// Uses one function of each subsystem through the installed headers and libraries; exits
// non-zero when an answer is wrong.

#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "orvex/background_common/background_common_library.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex/background_common/insertion/element_insertion_info.h"
#include "orvex/background_common/insertion/macro_edge_insertion_info.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "orvex/background_common/macro_info/macro_edges.h"
#include "orvex/background_common/macro_info/macro_edges_builder.h"
#include "polvane/basic/uuid.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace {

class Background : public orvex::TriangulatedSurface<2>, public orvex::internal::MacroEdges {
public:
    Background() {
        enable_edges();
        initialize_macro_edges_data_base(vertex_attribute_manager(),
                                         edges().edge_attribute_manager());
    }

    const std::array<orvex::index_t, 2>& background_mesh_edge_vertices(
        orvex::index_t edge) const override {
        return edges().edge_vertices(edge);
    }
};

class Builder : public orvex::TriangulatedSurfaceBuilder<2>,
                public orvex::internal::MacroEdgesBuilder {
public:
    explicit Builder(Background& mesh)
        : TriangulatedSurfaceBuilder<2>(mesh), MacroEdgesBuilder(mesh) {}
};

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("wrong: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main() {
    using namespace orvex;
    BackgroundCommonLibrary::initialize();

    Background mesh;
    Builder builder{mesh};
    builder.create_point(Point<2>{{0, 0}});
    builder.create_point(Point<2>{{1, 0}});
    builder.create_point(Point<2>{{1, 1}});
    builder.create_point(Point<2>{{0, 1}});
    builder.create_triangles(std::vector<std::array<index_t, 3>>{{0, 1, 2}, {0, 2, 3}});

    // Internal distance: the unit right triangle's vertex (1, 0) is 1/sqrt(2) from (0,0)-(1,1).
    const auto record = internal::minimal_triangle_internal_distance(mesh.triangle(0));
    check(record.distance > 0.7071 && record.distance < 0.7072, "internal distance");
    check(internal::triangle_status(mesh.triangle(0))
              == internal::InternalDistance::ELEMENT_STATUS::valid,
          "triangle status");

    // Element search.
    internal::ElementSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(mesh);
    check(search.initial_containing_element(Point<2>{{0.2, 0.8}}) == std::optional<index_t>{1},
          "element search");

    // Insertion records.
    internal::ElementInsertionInfo elements;
    elements.add(internal::ElementInsertionInfo::INSERTION_STATUS::inserted, 0);
    internal::MacroEdgeInsertionInfo<2> insertion;
    insertion.statuses.push_back(internal::ElementInsertionInfo::INSERTION_STATUS::inserted);
    const Segment<2> diagonal{mesh.point(0), mesh.point(2)};
    check(insertion.insertion_status(diagonal)
              == internal::ElementInsertionInfo::INSERTION_STATUS::fully_inserted,
          "insertion summary");

    // Macro edges: record the diagonal and find it on both its vertices.
    const MeshEdge macro_edge{uuid{}, 0};
    builder.add_macro_edge_info(macro_edge, {mesh.edges().edge_from_vertices(0, 2).value()});
    check(mesh.common_macro_edges(0, 2).size() == 1, "macro edges");

    std::printf("%s\n",
                failures == 0 ? "the installed package works" : "the installed package is broken");
    return failures == 0 ? 0 : 1;
}
