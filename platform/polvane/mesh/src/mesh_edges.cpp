#include "polvane/mesh/mesh_edges.h"

#include "simplex_storage.h"

namespace orvex {

MeshEdges::MeshEdges() : impl_{std::make_unique<detail::EdgesStorage>()} {}

MeshEdges::~MeshEdges() = default;

index_t MeshEdges::nb_edges() const {
    return static_cast<index_t>(impl_->vertices.size());
}

const std::array<index_t, 2>& MeshEdges::edge_vertices(index_t edge) const {
    return impl_->vertices[edge];
}

std::optional<index_t> MeshEdges::edge_from_vertices(index_t v0, index_t v1) const {
    return impl_->find(v0, v1);
}

AttributeManager& MeshEdges::edge_attribute_manager() {
    return impl_->manager;
}

const AttributeManager& MeshEdges::edge_attribute_manager() const {
    return impl_->manager;
}

}  // namespace orvex
