#include "polvane/mesh/surface_mesh.h"

#include "simplex_storage.h"

namespace orvex {

SurfaceMesh<2>::SurfaceMesh() : impl_{std::make_unique<detail::SimplexStorage<2, 3>>()} {}

SurfaceMesh<2>::~SurfaceMesh() = default;

SurfaceMesh<2>::SurfaceMesh(SurfaceMesh&& other) noexcept = default;

SurfaceMesh<2>& SurfaceMesh<2>::operator=(SurfaceMesh&& other) noexcept = default;

void SurfaceMesh<2>::copy(const SurfaceMesh& from) {
    impl_->copy_from(*from.impl_);
}

index_t SurfaceMesh<2>::nb_vertices() const {
    return impl_->nb_vertices();
}

const Point<2>& SurfaceMesh<2>::point(index_t vertex) const {
    return impl_->point(vertex);
}

index_t SurfaceMesh<2>::nb_polygons() const {
    return impl_->nb_elements();
}

index_t SurfaceMesh<2>::polygon_vertex(const PolygonVertex& polygon_vertex) const {
    return impl_->element_vertex(polygon_vertex.polygon_id, polygon_vertex.vertex_id);
}

const std::array<index_t, 3>& SurfaceMesh<2>::polygon_vertices(index_t polygon) const {
    return impl_->element(polygon);
}

std::array<index_t, 2> SurfaceMesh<2>::polygon_edge_vertices(const PolygonEdge& edge) const {
    return impl_->facet_vertices(edge.polygon_id, edge.edge_id);
}

std::optional<index_t> SurfaceMesh<2>::polygon_adjacent(const PolygonEdge& edge) const {
    return impl_->adjacent(edge.polygon_id, edge.edge_id);
}

std::optional<PolygonEdge> SurfaceMesh<2>::polygon_edge_from_vertices(index_t polygon, index_t v0,
                                                                      index_t v1) const {
    for (local_index_t e = 0; e < 3; ++e) {
        const auto vertices = impl_->facet_vertices(polygon, e);
        if ((vertices[0] == v0 && vertices[1] == v1) || (vertices[0] == v1 && vertices[1] == v0)) {
            return PolygonEdge{polygon, e};
        }
    }
    return std::nullopt;
}

AttributeManager& SurfaceMesh<2>::vertex_attribute_manager() {
    return impl_->vertex_manager;
}

const AttributeManager& SurfaceMesh<2>::vertex_attribute_manager() const {
    return impl_->vertex_manager;
}

AttributeManager& SurfaceMesh<2>::polygon_attribute_manager() {
    return impl_->element_manager;
}

const AttributeManager& SurfaceMesh<2>::polygon_attribute_manager() const {
    return impl_->element_manager;
}

bool SurfaceMesh<2>::are_edges_enabled() const {
    return impl_->edges != nullptr;
}

void SurfaceMesh<2>::enable_edges() {
    impl_->enable_edges();
}

void SurfaceMesh<2>::disable_edges() {
    impl_->edges.reset();
}

const MeshEdges& SurfaceMesh<2>::edges() const {
    if (!impl_->edges) {
        throw PolvaneException{"[SurfaceMesh::edges] Edges are not enabled."};
    }
    return *impl_->edges;
}

MeshEdges& SurfaceMesh<2>::edges() {
    return const_cast<MeshEdges&>(static_cast<const SurfaceMesh&>(*this).edges());
}

}  // namespace orvex
