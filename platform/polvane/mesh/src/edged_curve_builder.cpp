#include "polvane/mesh/edged_curve_builder.h"

#include "simplex_storage.h"

namespace orvex {
namespace {

detail::SimplexStorage<1, 2>& storage(EdgedCurve<1>& curve) {
    return detail::StorageAccess::storage(curve);
}

}  // namespace

index_t EdgedCurveBuilder<1>::create_point(const Point<1>& point) {
    return storage(curve_).create_point(point);
}

index_t EdgedCurveBuilder<1>::create_points(index_t count) {
    return storage(curve_).create_points(count);
}

void EdgedCurveBuilder<1>::set_point(index_t vertex, const Point<1>& point) {
    storage(curve_).set_point(vertex, point, "EdgedCurveBuilder::set_point");
}

index_t EdgedCurveBuilder<1>::create_edge(index_t v0, index_t v1) {
    const std::array<index_t, 2> vertices{v0, v1};
    return storage(curve_).create_elements({&vertices, 1}, "EdgedCurveBuilder::create_edge");
}

index_t EdgedCurveBuilder<1>::create_edges(absl::Span<const std::array<index_t, 2>> edges) {
    return storage(curve_).create_elements(edges, "EdgedCurveBuilder::create_edges");
}

void EdgedCurveBuilder<1>::set_edge_vertices(index_t edge, const std::array<index_t, 2>& vertices) {
    storage(curve_).set_element(edge, vertices, "EdgedCurveBuilder::set_edge_vertices");
}

std::vector<index_t> EdgedCurveBuilder<1>::delete_edges(const std::vector<bool>& to_delete) {
    std::vector<index_t> unused_edges_old2new;
    return storage(curve_).delete_elements(to_delete, unused_edges_old2new,
                                           "EdgedCurveBuilder::delete_edges");
}

std::vector<index_t> EdgedCurveBuilder<1>::delete_vertices(const std::vector<bool>& to_delete) {
    return storage(curve_).delete_vertices(to_delete, "EdgedCurveBuilder::delete_vertices");
}

std::vector<index_t> EdgedCurveBuilder<1>::delete_isolated_vertices() {
    return delete_vertices(storage(curve_).isolated_vertices());
}

void EdgedCurveBuilder<1>::permute_vertices(absl::Span<const index_t> permutation) {
    storage(curve_).permute_vertices(permutation, "EdgedCurveBuilder::permute_vertices");
}

void EdgedCurveBuilder<1>::permute_edges(absl::Span<const index_t> permutation) {
    storage(curve_).permute_elements(permutation, "EdgedCurveBuilder::permute_edges");
}

}  // namespace orvex
