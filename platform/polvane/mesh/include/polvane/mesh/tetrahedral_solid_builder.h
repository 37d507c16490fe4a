#pragma once

#include <absl/types/span.h>

#include <array>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/solid_mesh.h"

namespace orvex {

/// The editor of a tetrahedral solid of dimension D. Provided for D = 3 only.
template <index_t D>
class TetrahedralSolidBuilder;

/// The only way to change a `SolidMesh<3>` (and so a `TetrahedralSolid<3>`). It holds a
/// reference to the mesh, which must outlive it. The contracts are those of
/// `TriangulatedSurfaceBuilder<2>`, with polyhedra for polygons and facets for edges.
template <>
class POLVANE_MESH_EXPORT TetrahedralSolidBuilder<3> {
public:
    explicit TetrahedralSolidBuilder(SolidMesh<3>& mesh) : mesh_(mesh) {}

    index_t create_point(const Point<3>& point);

    index_t create_points(index_t count);

    void set_point(index_t vertex, const Point<3>& point);

    /// Appends a tetrahedron without adjacencies and returns its index.
    /// \throw PolvaneException when a vertex does not exist.
    index_t create_tetrahedron(const std::array<index_t, 4>& vertices);

    /// Appends the tetrahedra in order and returns the index of the first.
    /// \throw PolvaneException when a vertex does not exist (nothing is created then).
    index_t create_tetrahedra(absl::Span<const std::array<index_t, 4>> tetrahedra);

    /// Replaces the vertices of `tetrahedron` in place (a local edit: a split keeps the split
    /// tetrahedron's index for one of its parts and appends the others). Its attributes stay; its
    /// adjacencies and those of its neighbours across to it become absent; new edges are
    /// appended (edges only the old vertices used stay until tetrahedrons are next deleted).
    /// \throw PolvaneException when the tetrahedron or a vertex does not exist (nothing changes).
    void set_tetrahedron_vertices(index_t tetrahedron, const std::array<index_t, 4>& vertices);

    /// Stores `adjacent` as the polyhedron across `facet` (one side only; `NO_ID` for none).
    void set_polyhedron_adjacent(const PolyhedronFacet& facet, index_t adjacent);

    /// Recomputes every adjacency: two tetrahedra are adjacent across the local facets made of
    /// the same three vertices, whatever their order. A facet used by more than two tetrahedra
    /// pairs its uses in the order of the tetrahedra. Near-linear time.
    void compute_polyhedron_adjacencies();

    /// See `TriangulatedSurfaceBuilder<2>::delete_polygons`.
    std::vector<index_t> delete_polyhedra(const std::vector<bool>& to_delete);

    std::vector<index_t> delete_polyhedra(const std::vector<bool>& to_delete,
                                          std::vector<index_t>& edges_old2new);

    /// See `TriangulatedSurfaceBuilder<2>::delete_vertices`: refuses vertices still used.
    std::vector<index_t> delete_vertices(const std::vector<bool>& to_delete);

    std::vector<index_t> delete_isolated_vertices();

    void permute_vertices(absl::Span<const index_t> permutation);

    void permute_polyhedra(absl::Span<const index_t> permutation);

    void enable_edges();

private:
    SolidMesh<3>& mesh_;
};

}  // namespace orvex
