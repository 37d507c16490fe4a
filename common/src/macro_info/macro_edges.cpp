#include "orvex/background_common/macro_info/macro_edges.h"

#include <algorithm>

#include "macro_info/list_steps.h"
#include "polvane/basic/assert.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/attribute_properties.h"
#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace internal {
namespace {

using EdgeListAttribute = VariableAttribute<std::vector<MeshEdge>>;

constexpr const char* MACRO_EDGE_ATTRIBUTE = "orvex macro edge";

std::shared_ptr<EdgeListAttribute> find_or_create_edge_lists(AttributeManager& manager) {
    return manager.find_or_create_attribute<VariableAttribute, std::vector<MeshEdge>>(
        MACRO_EDGE_ATTRIBUTE, {}, AttributeProperties{false, false, true});
}

}  // namespace

class MacroEdges::Impl {
public:
    // Indices are the caller's responsibility (below the attribute sizes, store initialised);
    // debug builds check them here, release builds do not.

    EdgeListAttribute& edges(index_t edge, [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(edge_lists != nullptr, "[MacroEdges::", operation,
                             "] The store is not initialised");
        POLVANE_DEBUG_ASSERT(edge < edge_lists->size(), "[MacroEdges::", operation, "] Edge ", edge,
                             " is not below the edge attribute's size (", edge_lists->size(), ")");
        return *edge_lists;
    }

    EdgeListAttribute& vertices(index_t vertex, [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(vertex_lists != nullptr, "[MacroEdges::", operation,
                             "] The store is not initialised");
        POLVANE_DEBUG_ASSERT(vertex < vertex_lists->size(), "[MacroEdges::", operation, "] Vertex ",
                             vertex, " is not below the vertex attribute's size (",
                             vertex_lists->size(), ")");
        return *vertex_lists;
    }

    std::shared_ptr<EdgeListAttribute> edge_lists;
    std::shared_ptr<EdgeListAttribute> vertex_lists;
};

MacroEdges::MacroEdges() : impl_{std::make_unique<Impl>()} {}

MacroEdges::MacroEdges(MacroEdges&& other) noexcept = default;

MacroEdges& MacroEdges::operator=(MacroEdges&& other) noexcept = default;

MacroEdges::~MacroEdges() = default;

const std::vector<MeshEdge>& MacroEdges::macro_edges(index_t edge) const {
    return impl_->edges(edge, "macro_edges").value(edge);
}

const std::vector<MeshEdge>& MacroEdges::incident_macro_edges(index_t vertex) const {
    return impl_->vertices(vertex, "incident_macro_edges").value(vertex);
}

std::vector<MeshEdge> MacroEdges::common_macro_edges(index_t vertex0, index_t vertex1) const {
    // Both lists are only read while the result is built, so they are scanned in place; the
    // result keeps the order of the first list, which holds no entry twice.
    const auto& first = impl_->vertices(vertex0, "common_macro_edges").value(vertex0);
    const auto& second = impl_->vertices(vertex1, "common_macro_edges").value(vertex1);
    std::vector<MeshEdge> result;
    for (const auto& macro_edge : first) {
        if (std::find(second.begin(), second.end(), macro_edge) != second.end()) {
            result.push_back(macro_edge);
        }
    }
    return result;
}

void MacroEdges::add_macro_edge_to_background_mesh_edge(const MeshEdge& macro_edge, index_t edge,
                                                        PassKey<MacroEdgesBuilder> /*key*/) {
    impl_->edges(edge, "add_macro_edge_to_background_mesh_edge")
        .modify_value(edge, [&macro_edge](std::vector<MeshEdge>& list) {
            detail::add_to_list(list, macro_edge);
        });
}

void MacroEdges::add_macro_edge_to_background_mesh_vertices(const MeshEdge& macro_edge,
                                                            absl::Span<const index_t> vertices,
                                                            PassKey<MacroEdgesBuilder> /*key*/) {
    for (const index_t vertex : vertices) {
        impl_->vertices(vertex, "add_macro_edge_to_background_mesh_vertices")
            .modify_value(vertex, [&macro_edge](std::vector<MeshEdge>& list) {
                detail::add_to_list(list, macro_edge);
            });
    }
}

void MacroEdges::remove_macro_edge_from_background_mesh_edge(const MeshEdge& macro_edge,
                                                             index_t edge,
                                                             PassKey<MacroEdgesBuilder> /*key*/) {
    impl_->edges(edge, "remove_macro_edge_from_background_mesh_edge")
        .modify_value(edge, [&macro_edge](std::vector<MeshEdge>& list) {
            detail::remove_from_list(list, macro_edge);
        });
}

void MacroEdges::remove_macro_edge_from_background_mesh_vertex(const MeshEdge& macro_edge,
                                                               index_t vertex,
                                                               PassKey<MacroEdgesBuilder> /*key*/) {
    impl_->vertices(vertex, "remove_macro_edge_from_background_mesh_vertex")
        .modify_value(vertex, [&macro_edge](std::vector<MeshEdge>& list) {
            detail::remove_from_list(list, macro_edge);
        });
}

void MacroEdges::initialize_macro_edges_data_base(AttributeManager& vertex_manager,
                                                  AttributeManager& edge_manager) {
    // The edge table is set first and kept even if the vertex manager then refuses: each slot
    // only ever holds an attribute that its manager handed out.
    impl_->edge_lists = find_or_create_edge_lists(edge_manager);
    impl_->vertex_lists = find_or_create_edge_lists(vertex_manager);
}

void MacroEdges::clean_macro_edges_data_base(AttributeManager& vertex_manager,
                                             AttributeManager& edge_manager) {
    vertex_manager.delete_attribute(MACRO_EDGE_ATTRIBUTE);
    edge_manager.delete_attribute(MACRO_EDGE_ATTRIBUTE);
}

}  // namespace internal
}  // namespace orvex
