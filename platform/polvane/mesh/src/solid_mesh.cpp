#include "polvane/mesh/solid_mesh.h"

#include "simplex_storage.h"

namespace orvex {

SolidMesh<3>::SolidMesh() = default;

SolidMesh<3>::~SolidMesh() = default;

SolidMesh<3>::SolidMesh(SolidMesh&& other) noexcept = default;

SolidMesh<3>& SolidMesh<3>::operator=(SolidMesh&& other) noexcept = default;

index_t SolidMesh<3>::nb_polyhedra() const {
    return storage().nb_elements();
}

index_t SolidMesh<3>::polyhedron_vertex(const PolyhedronVertex& polyhedron_vertex) const {
    return storage().element_vertex(polyhedron_vertex.polyhedron_id, polyhedron_vertex.vertex_id);
}

const std::array<index_t, 4>& SolidMesh<3>::polyhedron_vertices(index_t polyhedron) const {
    return storage().element(polyhedron);
}

std::array<index_t, 3> SolidMesh<3>::polyhedron_facet_vertices(const PolyhedronFacet& facet) const {
    return storage().facet_vertices(facet.polyhedron_id, facet.facet_id);
}

std::array<index_t, 2> SolidMesh<3>::polyhedron_facet_edge_vertices(
    const PolyhedronFacetEdge& edge) const {
    const auto facet = polyhedron_facet_vertices(edge.polyhedron_facet);
    return {facet[edge.edge_id], facet[(edge.edge_id + 1) % 3]};
}

std::optional<index_t> SolidMesh<3>::polyhedron_adjacent(const PolyhedronFacet& facet) const {
    return storage().adjacent(facet.polyhedron_id, facet.facet_id);
}

std::optional<PolyhedronFacetEdge> SolidMesh<3>::polyhedron_facet_edge_from_vertices(
    const std::array<index_t, 2>& edge_vertices, index_t polyhedron) const {
    for (local_index_t f = 0; f < 4; ++f) {
        const auto facet = storage().facet_vertices(polyhedron, f);
        for (local_index_t e = 0; e < 3; ++e) {
            const index_t a = facet[e];
            const index_t b = facet[(e + 1) % 3];
            if ((a == edge_vertices[0] && b == edge_vertices[1])
                || (a == edge_vertices[1] && b == edge_vertices[0])) {
                return PolyhedronFacetEdge{{polyhedron, f}, e};
            }
        }
    }
    return std::nullopt;
}

AttributeManager& SolidMesh<3>::polyhedron_attribute_manager() {
    return storage().element_manager;
}

const AttributeManager& SolidMesh<3>::polyhedron_attribute_manager() const {
    return storage().element_manager;
}

}  // namespace orvex
