#pragma once

#include <memory>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/mesh_edges.h"

namespace orvex {
namespace detail {
template <index_t D, index_t N>
class SimplexStorage;
class StorageAccess;
}  // namespace detail

/// What a mesh of D-simplices in dimension D holds whatever its kind: the vertices, their
/// attribute manager, and the unique edges once enabled. Provided for D = 2 (`SurfaceMesh<2>`,
/// triangles) and D = 3 (`SolidMesh<3>`, tetrahedra), which derive from it and add their
/// elements; the storage of both, elements included, lives here.
///
/// The vertex manager holds one element per vertex at every step: attributes follow creations
/// (new values are the default), deletions (compacted) and permutations of the vertices. Edges
/// have their own manager (`MeshEdges`). Queries do not check their indices (\pre: below the
/// counts); they are safe to call from several threads while nobody changes the mesh.
template <index_t D>
class POLVANE_MESH_EXPORT SimplicialMesh {
public:
    static constexpr index_t dimension = D;

    virtual ~SimplicialMesh();

    SimplicialMesh(const SimplicialMesh&) = delete;
    SimplicialMesh& operator=(const SimplicialMesh&) = delete;

    [[nodiscard]] index_t nb_vertices() const;

    [[nodiscard]] const Point<D>& point(index_t vertex) const;

    [[nodiscard]] AttributeManager& vertex_attribute_manager();

    [[nodiscard]] const AttributeManager& vertex_attribute_manager() const;

    [[nodiscard]] bool are_edges_enabled() const;

    /// Creates the unique edges of the current elements (see `MeshEdges` for the order); does
    /// nothing when they exist.
    void enable_edges();

    /// Forgets the edges and their attributes.
    void disable_edges();

    /// \throw PolvaneException "[SurfaceMesh::edges] Edges are not enabled." (or
    /// "[SolidMesh::edges] ...") when edges are not enabled.
    [[nodiscard]] const MeshEdges& edges() const;

    /// \throw PolvaneException as the const overload.
    [[nodiscard]] MeshEdges& edges();

protected:
    using Storage = detail::SimplexStorage<D, D + 1>;

    SimplicialMesh();
    SimplicialMesh(SimplicialMesh&& other) noexcept;
    SimplicialMesh& operator=(SimplicialMesh&& other) noexcept;

    /// Makes this mesh an independent copy of `from`: same indices, same adjacencies, same
    /// edges, and attribute values copied (`AttributeManager::copy`).
    void copy(const SimplicialMesh& from);

    /// The storage, for the element queries of the derived classes.
    [[nodiscard]] const Storage& storage() const { return *impl_; }

    /// The storage, for the element queries of the derived classes.
    [[nodiscard]] Storage& storage() { return *impl_; }

private:
    friend class detail::StorageAccess;

    std::unique_ptr<Storage> impl_;
};

extern template class SimplicialMesh<2>;
extern template class SimplicialMesh<3>;

}  // namespace orvex
