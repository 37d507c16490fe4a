#include "polvane/mesh/tetrahedral_solid_builder.h"

#include "simplex_storage.h"

namespace orvex {
namespace {

detail::SimplexStorage<3, 4>& storage(SolidMesh<3>& mesh) {
    return detail::StorageAccess::storage(mesh);
}

}  // namespace

index_t TetrahedralSolidBuilder<3>::create_point(const Point<3>& point) {
    return storage(mesh_).create_point(point);
}

index_t TetrahedralSolidBuilder<3>::create_points(index_t count) {
    return storage(mesh_).create_points(count);
}

void TetrahedralSolidBuilder<3>::set_point(index_t vertex, const Point<3>& point) {
    storage(mesh_).set_point(vertex, point, "TetrahedralSolidBuilder::set_point");
}

index_t TetrahedralSolidBuilder<3>::create_tetrahedron(const std::array<index_t, 4>& vertices) {
    return storage(mesh_).create_elements({&vertices, 1},
                                          "TetrahedralSolidBuilder::create_tetrahedron");
}

index_t TetrahedralSolidBuilder<3>::create_tetrahedra(
    absl::Span<const std::array<index_t, 4>> tetrahedra) {
    return storage(mesh_).create_elements(tetrahedra, "TetrahedralSolidBuilder::create_tetrahedra");
}

void TetrahedralSolidBuilder<3>::set_tetrahedron_vertices(index_t tetrahedron, const std::array<index_t, 4>& vertices) {
    storage(mesh_).set_element(tetrahedron, vertices, "TetrahedralSolidBuilder::set_tetrahedron_vertices");
}

void TetrahedralSolidBuilder<3>::set_polyhedron_adjacent(const PolyhedronFacet& facet,
                                                         index_t adjacent) {
    storage(mesh_).set_adjacent(facet.polyhedron_id, facet.facet_id, adjacent,
                                "TetrahedralSolidBuilder::set_polyhedron_adjacent");
}

void TetrahedralSolidBuilder<3>::compute_polyhedron_adjacencies() {
    storage(mesh_).compute_adjacencies();
}

std::vector<index_t> TetrahedralSolidBuilder<3>::delete_polyhedra(
    const std::vector<bool>& to_delete) {
    std::vector<index_t> edges_old2new;
    return delete_polyhedra(to_delete, edges_old2new);
}

std::vector<index_t> TetrahedralSolidBuilder<3>::delete_polyhedra(
    const std::vector<bool>& to_delete, std::vector<index_t>& edges_old2new) {
    return storage(mesh_).delete_elements(to_delete, edges_old2new,
                                          "TetrahedralSolidBuilder::delete_polyhedra");
}

std::vector<index_t> TetrahedralSolidBuilder<3>::delete_vertices(
    const std::vector<bool>& to_delete) {
    return storage(mesh_).delete_vertices(to_delete, "TetrahedralSolidBuilder::delete_vertices");
}

std::vector<index_t> TetrahedralSolidBuilder<3>::delete_isolated_vertices() {
    return delete_vertices(storage(mesh_).isolated_vertices());
}

void TetrahedralSolidBuilder<3>::permute_vertices(absl::Span<const index_t> permutation) {
    storage(mesh_).permute_vertices(permutation, "TetrahedralSolidBuilder::permute_vertices");
}

void TetrahedralSolidBuilder<3>::permute_polyhedra(absl::Span<const index_t> permutation) {
    storage(mesh_).permute_elements(permutation, "TetrahedralSolidBuilder::permute_polyhedra");
}

void TetrahedralSolidBuilder<3>::enable_edges() {
    mesh_.enable_edges();
}

}  // namespace orvex
