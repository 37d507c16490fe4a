#include "polvane/mesh/simplicial_mesh.h"

#include "simplex_storage.h"

namespace orvex {
namespace {

// The public name of the mesh kind, for messages.
constexpr const char* kind_name(index_t dimension) {
    return dimension == 2 ? "SurfaceMesh" : "SolidMesh";
}

}  // namespace

template <index_t D>
SimplicialMesh<D>::SimplicialMesh() : impl_{std::make_unique<Storage>()} {}

template <index_t D>
SimplicialMesh<D>::~SimplicialMesh() = default;

template <index_t D>
SimplicialMesh<D>::SimplicialMesh(SimplicialMesh&& other) noexcept = default;

template <index_t D>
SimplicialMesh<D>& SimplicialMesh<D>::operator=(SimplicialMesh&& other) noexcept = default;

template <index_t D>
void SimplicialMesh<D>::copy(const SimplicialMesh& from) {
    impl_->copy_from(*from.impl_);
}

template <index_t D>
index_t SimplicialMesh<D>::nb_vertices() const {
    return impl_->nb_vertices();
}

template <index_t D>
const Point<D>& SimplicialMesh<D>::point(index_t vertex) const {
    return impl_->point(vertex);
}

template <index_t D>
AttributeManager& SimplicialMesh<D>::vertex_attribute_manager() {
    return impl_->vertex_manager;
}

template <index_t D>
const AttributeManager& SimplicialMesh<D>::vertex_attribute_manager() const {
    return impl_->vertex_manager;
}

template <index_t D>
bool SimplicialMesh<D>::are_edges_enabled() const {
    return impl_->edges != nullptr;
}

template <index_t D>
void SimplicialMesh<D>::enable_edges() {
    impl_->enable_edges();
}

template <index_t D>
void SimplicialMesh<D>::disable_edges() {
    impl_->edges.reset();
}

template <index_t D>
const MeshEdges& SimplicialMesh<D>::edges() const {
    if (!impl_->edges) {
        throw PolvaneException{"[", kind_name(D), "::edges] Edges are not enabled."};
    }
    return *impl_->edges;
}

template <index_t D>
MeshEdges& SimplicialMesh<D>::edges() {
    return const_cast<MeshEdges&>(static_cast<const SimplicialMesh&>(*this).edges());
}

template class SimplicialMesh<2>;
template class SimplicialMesh<3>;

}  // namespace orvex
