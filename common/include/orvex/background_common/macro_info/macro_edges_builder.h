#pragma once

#include <absl/types/span.h>

#include <memory>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mapping.h"
#include "polvane/basic/mesh_element.h"

namespace orvex {
namespace internal {

class MacroEdges;

/// The only editor of a `MacroEdges` store: records and forgets macro edges on background edges
/// and vertices, and carries recorded macro edges over from old to new indices after the
/// background mesh was modified.
///
/// Every change is made of the store's list steps, so an add never makes a duplicate and
/// removing an absent entry does nothing. Edge vertices come from the store's
/// `background_mesh_edge_vertices`, asked at the moment they are needed.
///
/// Renumbering records: `Mapping{new_index, old_index}` and `MultiMapping{new_index,
/// old_indices}`; the new index's lists receive entries, the old indices' lists are read and
/// keep their entries (they go only when the mesh deletes the old elements). `NO_ID` as an old
/// index means "no old index". Plural operations apply their records one after the other on the
/// live tables: a later record reads what the earlier ones left.
///
/// Not checked: indices, of mappings too (vertex indices below the vertex attribute's size,
/// edge indices below the edge attribute's size). No operation reports an error.
///
/// Thread safety: none; one builder edits one store from one thread at a time. The store must
/// outlive the builder.
class ORVEX_BACKGROUND_COMMON_EXPORT MacroEdgesBuilder {
public:
    MacroEdgesBuilder(const MacroEdgesBuilder&) = delete;
    MacroEdgesBuilder& operator=(const MacroEdgesBuilder&) = delete;
    MacroEdgesBuilder& operator=(MacroEdgesBuilder&&) = delete;

    /// Takes the other builder's store; the other is left with none (destroy it only).
    MacroEdgesBuilder(MacroEdgesBuilder&& other) noexcept;

    ~MacroEdgesBuilder();

    /// Records that `macro_edge` runs along each of `edges`: first adds it to the two vertices
    /// of every edge (first vertex, then second, edges in span order), then to every edge list.
    void add_macro_edge_info(const MeshEdge& macro_edge, absl::Span<const index_t> edges);

    /// Adds `macro_edge` to the vertex list of `vertex`; no edge list changes.
    void add_macro_edge_info_on_vertex(const MeshEdge& macro_edge, index_t vertex);

    /// Removes `macro_edge` from the edge list of `edge`, then from the vertex lists of its two
    /// vertices. Vertex lists keep no count: the macro edge leaves both vertices even when
    /// another edge at one of them still carries it, and even when `edge` did not carry it.
    void remove_macro_edge_info(const MeshEdge& macro_edge, index_t edge);

    /// Removes `macro_edge` from the edge list of `edge` only.
    void remove_macro_edge_info_on_edge(const MeshEdge& macro_edge, index_t edge);

    /// Removes `macro_edge` from the vertex list of `vertex` only.
    void remove_macro_edge_info_on_vertex(const MeshEdge& macro_edge, index_t vertex);

    /// Unless the old index is `NO_ID`: adds each entry of the old edge's list, in order, to the
    /// new edge's list and to the vertex lists of the new edge's current two vertices. With
    /// equal indices the edge list stays as it is and only the vertex lists can grow.
    void update_edge(const Mapping<index_t>& mapping);

    /// Each mapping in order, as `update_edge`.
    void update_edges(absl::Span<const Mapping<index_t>> mappings);

    /// As the single-mapping `update_edge` for each old index in order; a `NO_ID` ends the walk
    /// of this mapping (the old indices after it are ignored).
    void update_edge(const MultiMapping<index_t>& mapping);

    /// Each mapping in order, as `update_edge`; a `NO_ID` ends only its own mapping.
    void update_edges(absl::Span<const MultiMapping<index_t>> mappings);

    /// Adds the vertex-list entries of each old index in order (skipping `NO_ID` old indices and
    /// going on with the next) to the vertex list of the new index. No edge list changes.
    void update_edge_vertex(const MultiMapping<index_t>& mapping);

    /// Each mapping in order, as `update_edge_vertex`.
    void update_edge_vertices(absl::Span<const MultiMapping<index_t>> mappings);

protected:
    /// An editor of `macro_edges`, which must outlive it.
    explicit MacroEdgesBuilder(MacroEdges& macro_edges);

private:
    void carry_edge_entries(index_t new_edge, index_t old_edge);

    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace internal
}  // namespace orvex
