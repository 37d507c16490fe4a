#pragma once

#include <array>
#include <optional>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/simplicial_mesh.h"

namespace orvex {

/// A solid mesh of dimension D. Provided for D = 3 only.
template <index_t D>
class SolidMesh;

/// A mesh of tetrahedra: the base class of `TetrahedralSolid<3>`, which adds the geometric view
/// `tetrahedron(index)`. The vertices, their manager and the edges are `SimplicialMesh<3>`'s;
/// this class adds the polyhedra (tetrahedra), their adjacencies and their manager.
///
/// Vertices and polyhedra are numbered from 0 without gaps. Polyhedra are tetrahedra. Local
/// facet f is the facet opposite local vertex f, made of the local vertices (1, 3, 2),
/// (0, 2, 3), (3, 1, 0), (0, 1, 2) for f = 0 to 3, in that order; for a positively oriented
/// tetrahedron the normal (q1 - q0) x (q2 - q0) of every facet (q0, q1, q2) points towards
/// the opposite vertex. Local edge k of a facet joins its k-th and ((k + 1) mod 3)-th vertex.
/// Adjacencies are what `compute_polyhedron_adjacencies` (or `set_polyhedron_adjacent`) of the
/// builder stored; new polyhedra have none until then.
///
/// Attribute managers: as for `SurfaceMesh<2>`, with one polyhedron manager element per
/// polyhedron. Changes go through `TetrahedralSolidBuilder<3>`. Queries do not check their
/// indices; they are safe to call from several threads while nobody changes the mesh.
template <>
class POLVANE_MESH_EXPORT SolidMesh<3> : public SimplicialMesh<3> {
public:
    ~SolidMesh() override;

    [[nodiscard]] index_t nb_polyhedra() const;

    /// Always 4: polyhedra are tetrahedra.
    [[nodiscard]] local_index_t nb_polyhedron_vertices(index_t /*polyhedron*/) const { return 4; }

    /// Always 4.
    [[nodiscard]] local_index_t nb_polyhedron_facets(index_t /*polyhedron*/) const { return 4; }

    [[nodiscard]] index_t polyhedron_vertex(const PolyhedronVertex& polyhedron_vertex) const;

    /// The four vertices of `polyhedron` in local order, by reference into the storage; valid
    /// until the mesh changes.
    [[nodiscard]] const std::array<index_t, 4>& polyhedron_vertices(index_t polyhedron) const;

    /// The three vertices of a local facet, in the facet's order (see above).
    [[nodiscard]] std::array<index_t, 3> polyhedron_facet_vertices(
        const PolyhedronFacet& facet) const;

    /// The two vertices of a local edge of a local facet.
    [[nodiscard]] std::array<index_t, 2> polyhedron_facet_edge_vertices(
        const PolyhedronFacetEdge& edge) const;

    /// The polyhedron on the other side of a local facet; empty on a border.
    [[nodiscard]] std::optional<index_t> polyhedron_adjacent(const PolyhedronFacet& facet) const;

    [[nodiscard]] bool is_polyhedron_facet_on_border(const PolyhedronFacet& facet) const {
        return !polyhedron_adjacent(facet).has_value();
    }

    /// A facet edge of `polyhedron` joining the global vertices `edge_vertices` (either
    /// order): the first in the order facets 0 to 3, then local edges 0 to 2 of each (every
    /// edge of a tetrahedron lies on two facets; the first one is returned). Empty when the
    /// polyhedron has no such edge.
    [[nodiscard]] std::optional<PolyhedronFacetEdge> polyhedron_facet_edge_from_vertices(
        const std::array<index_t, 2>& edge_vertices, index_t polyhedron) const;

    [[nodiscard]] AttributeManager& polyhedron_attribute_manager();

    [[nodiscard]] const AttributeManager& polyhedron_attribute_manager() const;

protected:
    SolidMesh();
    SolidMesh(SolidMesh&& other) noexcept;
    SolidMesh& operator=(SolidMesh&& other) noexcept;
};

}  // namespace orvex
