#include "orvex/background_common/macro_info/macro_edges_builder.h"

#include <array>
#include <vector>

#include "orvex/background_common/macro_info/macro_edges.h"

namespace orvex {
namespace internal {

class MacroEdgesBuilder::Impl {
public:
    explicit Impl(MacroEdges& store_in) : store(store_in) {}

    MacroEdges& store;
};

MacroEdgesBuilder::MacroEdgesBuilder(MacroEdges& macro_edges)
    : impl_{std::make_unique<Impl>(macro_edges)} {}

MacroEdgesBuilder::MacroEdgesBuilder(MacroEdgesBuilder&& other) noexcept = default;

MacroEdgesBuilder::~MacroEdgesBuilder() = default;

void MacroEdgesBuilder::add_macro_edge_info(const MeshEdge& macro_edge,
                                            absl::Span<const index_t> edges) {
    // Vertex lists first (edge by edge, first vertex then second), then edge lists: the vertex
    // lists receive the macro edge in the order in which the edges meet their vertices.
    for (const index_t edge : edges) {
        const std::array<index_t, 2> vertices = impl_->store.background_mesh_edge_vertices(edge);
        impl_->store.add_macro_edge_to_background_mesh_vertices(macro_edge, vertices, {});
    }
    for (const index_t edge : edges) {
        impl_->store.add_macro_edge_to_background_mesh_edge(macro_edge, edge, {});
    }
}

void MacroEdgesBuilder::add_macro_edge_info_on_vertex(const MeshEdge& macro_edge, index_t vertex) {
    impl_->store.add_macro_edge_to_background_mesh_vertices(macro_edge, {&vertex, 1}, {});
}

void MacroEdgesBuilder::remove_macro_edge_info(const MeshEdge& macro_edge, index_t edge) {
    // The caller may hand us an entry of the very list we edit first (for instance
    // `macro_edges(edge).front()`); erasing it would shift another entry under the reference
    // and the vertex lists would then lose the wrong macro edge. Work on a copy.
    const MeshEdge removed = macro_edge;
    impl_->store.remove_macro_edge_from_background_mesh_edge(removed, edge, {});
    const std::array<index_t, 2> vertices = impl_->store.background_mesh_edge_vertices(edge);
    impl_->store.remove_macro_edge_from_background_mesh_vertex(removed, vertices[0], {});
    impl_->store.remove_macro_edge_from_background_mesh_vertex(removed, vertices[1], {});
}

void MacroEdgesBuilder::remove_macro_edge_info_on_edge(const MeshEdge& macro_edge, index_t edge) {
    impl_->store.remove_macro_edge_from_background_mesh_edge(macro_edge, edge, {});
}

void MacroEdgesBuilder::remove_macro_edge_info_on_vertex(const MeshEdge& macro_edge,
                                                         index_t vertex) {
    impl_->store.remove_macro_edge_from_background_mesh_vertex(macro_edge, vertex, {});
}

void MacroEdgesBuilder::carry_edge_entries(index_t new_edge, index_t old_edge) {
    MacroEdges& store = impl_->store;
    // The old list is read in place. Adding to another edge's list never moves it, and when
    // both edges are the same every entry is found, so nothing is appended while we read.
    const auto& old_entries = store.macro_edges(old_edge);
    for (const auto& macro_edge : old_entries) {
        store.add_macro_edge_to_background_mesh_edge(macro_edge, new_edge, {});
        // Asked for each entry: the vertices of the new edge are those of the mesh right now.
        const std::array<index_t, 2> vertices = store.background_mesh_edge_vertices(new_edge);
        store.add_macro_edge_to_background_mesh_vertices(macro_edge, vertices, {});
    }
}

void MacroEdgesBuilder::update_edge(const Mapping<index_t>& mapping) {
    if (mapping.old_index == NO_ID) {
        return;
    }
    carry_edge_entries(mapping.new_index, mapping.old_index);
}

void MacroEdgesBuilder::update_edges(absl::Span<const Mapping<index_t>> mappings) {
    for (const auto& mapping : mappings) {
        update_edge(mapping);
    }
}

void MacroEdgesBuilder::update_edge(const MultiMapping<index_t>& mapping) {
    // For edges, "no old index" closes the list of old edges of this mapping.
    for (const index_t old_edge : mapping.old_indices) {
        if (old_edge == NO_ID) {
            return;
        }
        carry_edge_entries(mapping.new_index, old_edge);
    }
}

void MacroEdgesBuilder::update_edges(absl::Span<const MultiMapping<index_t>> mappings) {
    for (const auto& mapping : mappings) {
        update_edge(mapping);
    }
}

void MacroEdgesBuilder::update_edge_vertex(const MultiMapping<index_t>& mapping) {
    MacroEdges& store = impl_->store;
    // For vertices, "no old index" is only a gap: the old vertices after it still count.
    for (const index_t old_vertex : mapping.old_indices) {
        if (old_vertex == NO_ID) {
            continue;
        }
        for (const auto& macro_edge : store.incident_macro_edges(old_vertex)) {
            store.add_macro_edge_to_background_mesh_vertices(macro_edge, {&mapping.new_index, 1},
                                                             {});
        }
    }
}

void MacroEdgesBuilder::update_edge_vertices(absl::Span<const MultiMapping<index_t>> mappings) {
    for (const auto& mapping : mappings) {
        update_edge_vertex(mapping);
    }
}

}  // namespace internal
}  // namespace orvex
