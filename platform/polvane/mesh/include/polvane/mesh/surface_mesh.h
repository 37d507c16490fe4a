#pragma once

#include <array>
#include <optional>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/simplicial_mesh.h"

namespace orvex {

/// A surface mesh of dimension D. Provided for D = 2 only.
template <index_t D>
class SurfaceMesh;

/// A mesh of triangles of the plane: the base class of `TriangulatedSurface<2>`, which adds the
/// geometric view `triangle(index)`. The vertices, their manager and the edges are
/// `SimplicialMesh<2>`'s; this class adds the polygons (triangles), their adjacencies and their
/// manager.
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
class POLVANE_MESH_EXPORT SurfaceMesh<2> : public SimplicialMesh<2> {
public:
    ~SurfaceMesh() override;

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

    [[nodiscard]] AttributeManager& polygon_attribute_manager();

    [[nodiscard]] const AttributeManager& polygon_attribute_manager() const;

protected:
    SurfaceMesh();
    SurfaceMesh(SurfaceMesh&& other) noexcept;
    SurfaceMesh& operator=(SurfaceMesh&& other) noexcept;
};

}  // namespace orvex
