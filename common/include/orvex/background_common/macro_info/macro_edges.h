#pragma once

#include <absl/types/span.h>

#include <array>
#include <memory>
#include <vector>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mesh_element.h"
#include "polvane/basic/pass_key.h"

namespace orvex {
class AttributeManager;

namespace internal {

class MacroEdgesBuilder;

/// Records, on a background mesh, which macro edges run along each background edge and which
/// macro edges are recorded on each background vertex.
///
/// The store keeps nothing of its own: both tables are attributes named "orvex macro edge" of
/// value type `std::vector<MeshEdge>`, one on the mesh's edge attribute manager (the edge
/// lists) and one on its vertex attribute manager (the vertex lists). The managers carry the
/// lists through every resize, deletion, permutation and copy of the mesh's elements; the store
/// only reads lists and edits single lists in place.
///
/// Every list holds no entry twice and keeps its entries in the order of first addition; a
/// removal keeps the order of the others. Lists are plain vectors searched linearly.
///
/// A background-mesh class derives from `MacroEdges`, calls `initialize_macro_edges_data_base`
/// with its managers and answers `background_mesh_edge_vertices`. Only `MacroEdgesBuilder` can
/// change the tables: the modifying operations take a `PassKey<MacroEdgesBuilder>`.
///
/// Not checked: indices (a vertex index must be below the vertex manager's element count, an
/// edge index below the edge manager's); use before initialisation or after a move.
///
/// Thread safety: initialisation takes each manager's lock while it finds or creates the
/// attribute, so several stores may be initialised on the same managers at once. Queries and
/// edits take no lock: the caller serialises the changes of one mesh.
class ORVEX_BACKGROUND_COMMON_EXPORT MacroEdges {
public:
    MacroEdges(const MacroEdges&) = delete;
    MacroEdges& operator=(const MacroEdges&) = delete;

    /// Releases the store's references; the attributes stay in the managers unless
    /// `clean_macro_edges_data_base` removed them.
    virtual ~MacroEdges();

    /// The two vertices of background edge `edge`, in the mesh's own order. The store reads the
    /// reference at once and does not keep it.
    [[nodiscard]] virtual const std::array<index_t, 2>& background_mesh_edge_vertices(
        index_t edge) const = 0;

    /// The macro edges that run along background edge `edge`. The reference stays valid until
    /// that list is edited or the mesh resizes, permutes or compacts its edges.
    [[nodiscard]] const std::vector<MeshEdge>& macro_edges(index_t edge) const;

    /// The macro edges recorded on background vertex `vertex`; validity as for `macro_edges`.
    [[nodiscard]] const std::vector<MeshEdge>& incident_macro_edges(index_t vertex) const;

    /// The macro edges recorded on both vertices, in the order of `vertex0`'s list. Only vertex
    /// lists are read. Empty when either list is empty; `common_macro_edges(v, v)` is `v`'s list.
    [[nodiscard]] std::vector<MeshEdge> common_macro_edges(index_t vertex0, index_t vertex1) const;

    /// Adds `macro_edge` to the edge list of `edge` (no vertex list changes). An entry already
    /// present is not added again.
    void add_macro_edge_to_background_mesh_edge(const MeshEdge& macro_edge, index_t edge,
                                                PassKey<MacroEdgesBuilder> key);

    /// Adds `macro_edge` to the vertex list of each of `vertices`, in order (no edge list
    /// changes).
    void add_macro_edge_to_background_mesh_vertices(const MeshEdge& macro_edge,
                                                    absl::Span<const index_t> vertices,
                                                    PassKey<MacroEdgesBuilder> key);

    /// Removes `macro_edge` from the edge list of `edge` only; an absent entry changes nothing.
    void remove_macro_edge_from_background_mesh_edge(const MeshEdge& macro_edge, index_t edge,
                                                     PassKey<MacroEdgesBuilder> key);

    /// Removes `macro_edge` from the vertex list of `vertex` only.
    void remove_macro_edge_from_background_mesh_vertex(const MeshEdge& macro_edge, index_t vertex,
                                                       PassKey<MacroEdgesBuilder> key);

protected:
    /// A store with no table; call `initialize_macro_edges_data_base` before anything else.
    MacroEdges();

    /// Takes the other store's tables; the other is left with none (destroy it or move into it).
    MacroEdges(MacroEdges&& other) noexcept;
    /// Takes the other store's tables; the other is left with none.
    MacroEdges& operator=(MacroEdges&& other) noexcept;

    /// Finds or creates "orvex macro edge" on `edge_manager`, then on `vertex_manager` (empty
    /// lists by default; properties: not assignable, not interpolable, transferable) and keeps
    /// both. Attributes already there with this value type are adopted with their contents.
    /// \throw PolvaneException (the manager's find-or-create refusal) when a manager holds
    /// "orvex macro edge" with another value type. If the vertex manager refuses, the edge
    /// table is already the new one.
    void initialize_macro_edges_data_base(AttributeManager& vertex_manager,
                                          AttributeManager& edge_manager);

    /// Deletes "orvex macro edge" from `vertex_manager`, then from `edge_manager`, whether they
    /// hold it or not. The store keeps its references: its lists remain readable and editable
    /// but no longer follow the mesh until it is initialised again.
    void clean_macro_edges_data_base(AttributeManager& vertex_manager,
                                     AttributeManager& edge_manager);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace internal
}  // namespace orvex
