#pragma once

#include <array>
#include <memory>
#include <optional>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/mesh/export.h"

namespace orvex {
namespace detail {
class EdgesStorage;
class StorageAccess;
}  // namespace detail

/// The unique edges of a surface or solid mesh, with their own attribute manager. A mesh
/// creates this object when its edges are enabled (`enable_edges`) and keeps it in step with
/// its elements:
/// - every edge of every element is an edge here, and every edge here is used by at least one
///   element;
/// - creating elements appends the edges met for the first time, in the order of the elements
///   and then of their local edges (triangle: edges 0, 1, 2; tetrahedron: (0,1), (0,2), (0,3),
///   (1,2), (1,3), (2,3)); existing edge indices never change then;
/// - deleting elements deletes, at once, the edges that no remaining element uses and
///   compacts the others (kept edges keep their relative order; the attribute manager is
///   compacted the same way);
/// - deleting or permuting vertices renumbers the edges' vertices; edge indices stay.
///
/// An edge's two vertices are stored in the order of the first element that created it (its
/// local order there), renumbered with the vertices. Queries do not check their indices.
class POLVANE_MESH_EXPORT MeshEdges {
public:
    ~MeshEdges();

    MeshEdges(const MeshEdges&) = delete;
    MeshEdges& operator=(const MeshEdges&) = delete;

    [[nodiscard]] index_t nb_edges() const;

    /// The two vertices of `edge`, by reference into the storage; valid until the mesh's
    /// edges change. \pre `edge` < `nb_edges()`.
    [[nodiscard]] const std::array<index_t, 2>& edge_vertices(index_t edge) const;

    /// The edge joining `v0` and `v1`, in either order; empty when there is none.
    [[nodiscard]] std::optional<index_t> edge_from_vertices(index_t v0, index_t v1) const;

    [[nodiscard]] std::optional<index_t> edge_from_vertices(
        const std::array<index_t, 2>& vertices) const {
        return edge_from_vertices(vertices[0], vertices[1]);
    }

    /// One element per edge, kept sized and ordered like the edges.
    [[nodiscard]] AttributeManager& edge_attribute_manager();

    [[nodiscard]] const AttributeManager& edge_attribute_manager() const;

private:
    friend class detail::StorageAccess;

    MeshEdges();

    std::unique_ptr<detail::EdgesStorage> impl_;
};

}  // namespace orvex
