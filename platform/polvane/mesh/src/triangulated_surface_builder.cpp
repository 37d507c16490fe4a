#include "polvane/mesh/triangulated_surface_builder.h"

#include "simplex_storage.h"

namespace orvex {
namespace {

detail::SimplexStorage<2, 3>& storage(SurfaceMesh<2>& mesh) {
    return detail::StorageAccess::storage(mesh);
}

}  // namespace

index_t TriangulatedSurfaceBuilder<2>::create_point(const Point<2>& point) {
    return storage(mesh_).create_point(point);
}

index_t TriangulatedSurfaceBuilder<2>::create_points(index_t count) {
    return storage(mesh_).create_points(count);
}

void TriangulatedSurfaceBuilder<2>::set_point(index_t vertex, const Point<2>& point) {
    storage(mesh_).set_point(vertex, point, "TriangulatedSurfaceBuilder::set_point");
}

index_t TriangulatedSurfaceBuilder<2>::create_triangle(const std::array<index_t, 3>& vertices) {
    return storage(mesh_).create_elements({&vertices, 1},
                                          "TriangulatedSurfaceBuilder::create_triangle");
}

index_t TriangulatedSurfaceBuilder<2>::create_triangles(
    absl::Span<const std::array<index_t, 3>> triangles) {
    return storage(mesh_).create_elements(triangles,
                                          "TriangulatedSurfaceBuilder::create_triangles");
}

void TriangulatedSurfaceBuilder<2>::set_triangle_vertices(index_t triangle, const std::array<index_t, 3>& vertices) {
    storage(mesh_).set_element(triangle, vertices, "TriangulatedSurfaceBuilder::set_triangle_vertices");
}

void TriangulatedSurfaceBuilder<2>::set_polygon_adjacent(const PolygonEdge& edge,
                                                         index_t adjacent) {
    storage(mesh_).set_adjacent(edge.polygon_id, edge.edge_id, adjacent,
                                "TriangulatedSurfaceBuilder::set_polygon_adjacent");
}

void TriangulatedSurfaceBuilder<2>::compute_polygon_adjacencies() {
    storage(mesh_).compute_adjacencies();
}

std::vector<index_t> TriangulatedSurfaceBuilder<2>::delete_polygons(
    const std::vector<bool>& to_delete) {
    std::vector<index_t> edges_old2new;
    return delete_polygons(to_delete, edges_old2new);
}

std::vector<index_t> TriangulatedSurfaceBuilder<2>::delete_polygons(
    const std::vector<bool>& to_delete, std::vector<index_t>& edges_old2new) {
    return storage(mesh_).delete_elements(to_delete, edges_old2new,
                                          "TriangulatedSurfaceBuilder::delete_polygons");
}

std::vector<index_t> TriangulatedSurfaceBuilder<2>::delete_vertices(
    const std::vector<bool>& to_delete) {
    return storage(mesh_).delete_vertices(to_delete, "TriangulatedSurfaceBuilder::delete_vertices");
}

std::vector<index_t> TriangulatedSurfaceBuilder<2>::delete_isolated_vertices() {
    return delete_vertices(storage(mesh_).isolated_vertices());
}

void TriangulatedSurfaceBuilder<2>::permute_vertices(absl::Span<const index_t> permutation) {
    storage(mesh_).permute_vertices(permutation, "TriangulatedSurfaceBuilder::permute_vertices");
}

void TriangulatedSurfaceBuilder<2>::permute_polygons(absl::Span<const index_t> permutation) {
    storage(mesh_).permute_elements(permutation, "TriangulatedSurfaceBuilder::permute_polygons");
}

void TriangulatedSurfaceBuilder<2>::enable_edges() {
    mesh_.enable_edges();
}

}  // namespace orvex
