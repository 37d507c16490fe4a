#pragma once

#include <array>
#include <memory>
#include <optional>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/mesh_edges.h"

namespace orvex {
namespace detail {
template <index_t D, index_t N>
class SimplexStorage;
class StorageAccess;
}  // namespace detail

/// A surface mesh of dimension D. Provided for D = 2 only.
template <index_t D>
class SurfaceMesh;

/// A mesh of triangles of the plane: the base class of `TriangulatedSurface<2>`, which holds
/// everything (points, triangles, adjacencies, edges, attribute managers); the derived class
/// adds the geometric view `triangle(index)`.
///
/// Vertices and polygons are numbered from 0 without gaps. Polygons are triangles; local edge
/// e of a polygon joins its local vertices e and (e + 1) mod 3. Adjacencies are what
/// `compute_polygon_adjacencies` (or `set_polygon_adjacent`) of the builder stored; new
/// polygons have none until then.
///
/// Attribute managers. The vertex manager holds one element per vertex and the polygon manager
/// one per polygon, at every step: attributes follow creations (new values are the default),
/// deletions (compacted) and permutations of the mesh. Edges, once enabled, have their own
/// manager (`MeshEdges`).
///
/// Changes go through `TriangulatedSurfaceBuilder<2>`. Queries do not check their indices
/// (\pre: below the counts); they are safe to call from several threads while nobody changes
/// the mesh. Not copyable: derived classes offer `clone()`.
template <>
class POLVANE_MESH_EXPORT SurfaceMesh<2> {
public:
    static constexpr index_t dimension = 2;

    virtual ~SurfaceMesh();

    SurfaceMesh(const SurfaceMesh&) = delete;
    SurfaceMesh& operator=(const SurfaceMesh&) = delete;

    [[nodiscard]] index_t nb_vertices() const;

    [[nodiscard]] const Point<2>& point(index_t vertex) const;

    [[nodiscard]] index_t nb_polygons() const;

    /// Always 3: polygons are triangles.
    [[nodiscard]] local_index_t nb_polygon_vertices(index_t /*polygon*/) const { return 3; }

    [[nodiscard]] index_t polygon_vertex(const PolygonVertex& polygon_vertex) const;

    /// The three vertices of `polygon` in local order, by reference into the storage; valid
    /// until the mesh changes.
    [[nodiscard]] const std::array<index_t, 3>& polygon_vertices(index_t polygon) const;

    /// The two vertices of a local edge: local vertices e and (e + 1) mod 3.
    [[nodiscard]] std::array<index_t, 2> polygon_edge_vertices(const PolygonEdge& edge) const;

    /// The polygon on the other side of a local edge; empty on a border.
    [[nodiscard]] std::optional<index_t> polygon_adjacent(const PolygonEdge& edge) const;

    [[nodiscard]] bool is_edge_on_border(const PolygonEdge& edge) const {
        return !polygon_adjacent(edge).has_value();
    }

    /// The local edge of `polygon` joining `v0` and `v1` (global vertices, either order); empty
    /// when the polygon has no such edge.
    [[nodiscard]] std::optional<PolygonEdge> polygon_edge_from_vertices(index_t polygon, index_t v0,
                                                                        index_t v1) const;

    [[nodiscard]] AttributeManager& vertex_attribute_manager();

    [[nodiscard]] const AttributeManager& vertex_attribute_manager() const;

    [[nodiscard]] AttributeManager& polygon_attribute_manager();

    [[nodiscard]] const AttributeManager& polygon_attribute_manager() const;

    [[nodiscard]] bool are_edges_enabled() const;

    /// Creates the unique edges of the current polygons (see `MeshEdges` for the order); does
    /// nothing when they exist.
    void enable_edges();

    /// Forgets the edges and their attributes.
    void disable_edges();

    /// \throw PolvaneException when edges are not enabled.
    [[nodiscard]] const MeshEdges& edges() const;

    /// \throw PolvaneException when edges are not enabled.
    [[nodiscard]] MeshEdges& edges();

protected:
    SurfaceMesh();
    SurfaceMesh(SurfaceMesh&& other) noexcept;
    SurfaceMesh& operator=(SurfaceMesh&& other) noexcept;

    /// Makes this mesh an independent copy of `from`: same indices, same adjacencies, same
    /// edges, and attribute values copied (`AttributeManager::copy`).
    void copy(const SurfaceMesh& from);

private:
    friend class detail::StorageAccess;

    std::unique_ptr<detail::SimplexStorage<2, 3>> impl_;
};

}  // namespace orvex
