#pragma once

#include <absl/types/span.h>

#include <array>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/surface_mesh.h"

namespace orvex {

/// The editor of a triangulated surface of dimension D. Provided for D = 2 only.
template <index_t D>
class TriangulatedSurfaceBuilder;

/// The only way to change a `SurfaceMesh<2>` (and so a `TriangulatedSurface<2>`). It holds a
/// reference to the mesh, which must outlive it.
///
/// Every operation keeps the vertex and polygon attribute managers (and the edges and their
/// manager, when enabled) in step with the mesh. Operations check their arguments and throw
/// `PolvaneException` before changing anything.
template <>
class POLVANE_MESH_EXPORT TriangulatedSurfaceBuilder<2> {
public:
    explicit TriangulatedSurfaceBuilder(SurfaceMesh<2>& mesh) : mesh_(mesh) {}

    /// Appends a vertex at `point` and returns its index.
    index_t create_point(const Point<2>& point);

    /// Appends `count` vertices at the origin and returns the index of the first.
    index_t create_points(index_t count);

    /// \throw PolvaneException when `vertex` does not exist.
    void set_point(index_t vertex, const Point<2>& point);

    /// Appends a triangle without adjacencies and returns its index. New edges are appended.
    /// \throw PolvaneException when a vertex does not exist.
    index_t create_triangle(const std::array<index_t, 3>& vertices);

    /// Appends the triangles in order and returns the index of the first.
    /// \throw PolvaneException when a vertex does not exist (nothing is created then).
    index_t create_triangles(absl::Span<const std::array<index_t, 3>> triangles);

    /// Replaces the vertices of `triangle` in place (a local edit: a split keeps the split
    /// triangle's index for one of its parts and appends the others). Its attributes stay; its
    /// adjacencies and those of its neighbours across to it become absent; new edges are
    /// appended (edges only the old vertices used stay until triangles are next deleted).
    /// \throw PolvaneException when the triangle or a vertex does not exist (nothing changes).
    void set_triangle_vertices(index_t triangle, const std::array<index_t, 3>& vertices);

    /// Stores `adjacent` as the polygon across `edge` (one side only; `NO_ID` for none).
    /// \throw PolvaneException when the polygon, local edge or adjacent polygon does not exist.
    void set_polygon_adjacent(const PolygonEdge& edge, index_t adjacent);

    /// Recomputes every adjacency from the vertices: two triangles are adjacent across the
    /// local edges that join the same two vertices, whatever their orientations. An edge used
    /// by more than two triangles (non-manifold) pairs its uses in the order of the triangles.
    /// Near-linear time (hashing of edge keys).
    void compute_polygon_adjacencies();

    /// Removes the polygons whose flag is true, keeping the others in order, and returns the
    /// old-to-new polygon list (`NO_ID` for removed polygons). Adjacencies to removed polygons
    /// become absent; the others are renumbered. Edges that no remaining polygon uses are
    /// removed and the others compacted; vertices stay (see `delete_isolated_vertices`).
    /// \throw PolvaneException when `to_delete` has not one flag per polygon.
    std::vector<index_t> delete_polygons(const std::vector<bool>& to_delete);

    /// As above; `edges_old2new` receives the old-to-new edge list (empty when edges are not
    /// enabled).
    std::vector<index_t> delete_polygons(const std::vector<bool>& to_delete,
                                         std::vector<index_t>& edges_old2new);

    /// Removes the vertices whose flag is true, keeping the others in order, and returns the
    /// old-to-new vertex list. Polygons and edges are renumbered.
    /// \throw PolvaneException when `to_delete` has not one flag per vertex, or when a flagged
    /// vertex is still used by a polygon: deleting polygons is never implicit.
    std::vector<index_t> delete_vertices(const std::vector<bool>& to_delete);

    /// Removes the vertices that no polygon uses; returns the old-to-new vertex list.
    std::vector<index_t> delete_isolated_vertices();

    /// Reorders the vertices: afterwards vertex k is the one that was `permutation[k]`.
    /// Polygons and edges refer to the same points as before.
    /// \throw PolvaneException when `permutation` is not a permutation of the vertices.
    void permute_vertices(absl::Span<const index_t> permutation);

    /// Reorders the polygons: afterwards polygon k is the one that was `permutation[k]`;
    /// adjacencies are renumbered. Edges are unchanged.
    /// \throw PolvaneException when `permutation` is not a permutation of the polygons.
    void permute_polygons(absl::Span<const index_t> permutation);

    /// Enables the mesh's edges (see `SurfaceMesh<2>::enable_edges`).
    void enable_edges();

private:
    SurfaceMesh<2>& mesh_;
};

}  // namespace orvex
