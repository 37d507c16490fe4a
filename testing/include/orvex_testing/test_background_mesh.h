#pragma once

// A background mesh for the macro stores' tests and benchmarks: no geometry, only the attribute
// managers and the edge list the stores read.

#include <array>
#include <utility>
#include <vector>

#include "orvex/background_common/macro_info/macro_edges.h"
#include "orvex/background_common/macro_info/macro_edges_builder.h"
#include "orvex/background_common/macro_info/macro_info.h"
#include "orvex/background_common/macro_info/macro_info_builder.h"
#include "polvane/basic/attribute_manager.h"

namespace orvex::test {

/// The smallest background mesh the macro stores need: three attribute managers and the two
/// vertices of each edge. It initialises both stores on its managers when made.
class TestBackgroundMesh : public internal::MacroEdges, public internal::MacroInfo {
public:
    TestBackgroundMesh(index_t nb_vertices, std::vector<std::array<index_t, 2>> edges,
                       index_t nb_elements)
        : edge_vertices(std::move(edges)) {
        vertex_manager.resize(nb_vertices);
        edge_manager.resize(static_cast<index_t>(edge_vertices.size()));
        element_manager.resize(nb_elements);
        initialize();
    }

    TestBackgroundMesh(TestBackgroundMesh&& other) noexcept = default;

    TestBackgroundMesh& operator=(TestBackgroundMesh&& other) noexcept = default;

    const std::array<index_t, 2>& background_mesh_edge_vertices(index_t edge) const override {
        return edge_vertices[edge];
    }

    void initialize() {
        initialize_macro_edges_data_base(vertex_manager, edge_manager);
        initialize_macro_info_data_base(vertex_manager, element_manager);
    }

    void initialize_on(AttributeManager& vertices, AttributeManager& edges,
                       AttributeManager& elements) {
        initialize_macro_edges_data_base(vertices, edges);
        initialize_macro_info_data_base(vertices, elements);
    }

    void clean() {
        clean_macro_edges_data_base(vertex_manager, edge_manager);
        clean_macro_info_data_base(vertex_manager, element_manager);
    }

    AttributeManager vertex_manager;
    AttributeManager edge_manager;
    AttributeManager element_manager;
    std::vector<std::array<index_t, 2>> edge_vertices;
};

class TestBuilder : public internal::MacroEdgesBuilder, public internal::MacroInfoBuilder {
public:
    explicit TestBuilder(TestBackgroundMesh& mesh)
        : internal::MacroEdgesBuilder(mesh), internal::MacroInfoBuilder(mesh) {}
};

}  // namespace orvex::test
