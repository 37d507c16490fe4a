#include "polvane/mesh/edged_curve.h"

#include "simplex_storage.h"

namespace orvex {

EdgedCurve<1>::EdgedCurve() : impl_{std::make_unique<detail::SimplexStorage<1, 2>>()} {}

EdgedCurve<1>::~EdgedCurve() = default;

EdgedCurve<1>::EdgedCurve(EdgedCurve&& other) noexcept = default;

EdgedCurve<1>& EdgedCurve<1>::operator=(EdgedCurve&& other) noexcept = default;

index_t EdgedCurve<1>::nb_vertices() const {
    return impl_->nb_vertices();
}

const Point<1>& EdgedCurve<1>::point(index_t vertex) const {
    return impl_->point(vertex);
}

index_t EdgedCurve<1>::nb_edges() const {
    return impl_->nb_elements();
}

index_t EdgedCurve<1>::edge_vertex(const EdgeVertex& edge_vertex) const {
    return impl_->element_vertex(edge_vertex.edge_id, edge_vertex.vertex_id);
}

const std::array<index_t, 2>& EdgedCurve<1>::edge_vertices(index_t edge) const {
    return impl_->element(edge);
}

Segment<1> EdgedCurve<1>::segment(index_t edge) const {
    const auto& vertices = impl_->element(edge);
    return Segment<1>{impl_->point(vertices[0]), impl_->point(vertices[1])};
}

AttributeManager& EdgedCurve<1>::vertex_attribute_manager() {
    return impl_->vertex_manager;
}

const AttributeManager& EdgedCurve<1>::vertex_attribute_manager() const {
    return impl_->vertex_manager;
}

AttributeManager& EdgedCurve<1>::edge_attribute_manager() {
    return impl_->element_manager;
}

const AttributeManager& EdgedCurve<1>::edge_attribute_manager() const {
    return impl_->element_manager;
}

std::unique_ptr<EdgedCurve<1>> EdgedCurve<1>::clone() const {
    auto result = std::make_unique<EdgedCurve>();
    result->impl_->copy_from(*impl_);
    return result;
}

}  // namespace orvex
