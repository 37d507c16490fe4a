#include "polvane/mesh/surface_mesh.h"

#include "simplex_storage.h"

namespace orvex {

SurfaceMesh<2>::SurfaceMesh() = default;

SurfaceMesh<2>::~SurfaceMesh() = default;

SurfaceMesh<2>::SurfaceMesh(SurfaceMesh&& other) noexcept = default;

SurfaceMesh<2>& SurfaceMesh<2>::operator=(SurfaceMesh&& other) noexcept = default;

index_t SurfaceMesh<2>::nb_polygons() const {
    return storage().nb_elements();
}

index_t SurfaceMesh<2>::polygon_vertex(const PolygonVertex& polygon_vertex) const {
    return storage().element_vertex(polygon_vertex.polygon_id, polygon_vertex.vertex_id);
}

const std::array<index_t, 3>& SurfaceMesh<2>::polygon_vertices(index_t polygon) const {
    return storage().element(polygon);
}

std::array<index_t, 2> SurfaceMesh<2>::polygon_edge_vertices(const PolygonEdge& edge) const {
    return storage().facet_vertices(edge.polygon_id, edge.edge_id);
}

std::optional<index_t> SurfaceMesh<2>::polygon_adjacent(const PolygonEdge& edge) const {
    return storage().adjacent(edge.polygon_id, edge.edge_id);
}

std::optional<PolygonEdge> SurfaceMesh<2>::polygon_edge_from_vertices(index_t polygon, index_t v0,
                                                                      index_t v1) const {
    for (local_index_t e = 0; e < 3; ++e) {
        const auto vertices = storage().facet_vertices(polygon, e);
        if ((vertices[0] == v0 && vertices[1] == v1) || (vertices[0] == v1 && vertices[1] == v0)) {
            return PolygonEdge{polygon, e};
        }
    }
    return std::nullopt;
}

AttributeManager& SurfaceMesh<2>::polygon_attribute_manager() {
    return storage().element_manager;
}

const AttributeManager& SurfaceMesh<2>::polygon_attribute_manager() const {
    return storage().element_manager;
}

}  // namespace orvex
