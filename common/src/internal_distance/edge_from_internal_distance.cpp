#include "orvex/background_common/internal_distance/edge_from_internal_distance.h"

#include <array>
#include <optional>

#include "polvane/mesh/solid_mesh.h"
#include "polvane/mesh/surface_mesh.h"

namespace orvex {
namespace internal {

// Both lookups refuse local indices outside the element before touching the mesh: the mesh's
// queries do not check them, and a record that names no edge (255, 255) would otherwise read
// outside the element's vertices.

PolygonEdge edge_from_internal_distance(const SurfaceMesh<2>& surface, index_t polygon_id,
                                        const InternalDistance& record) {
    const auto& local = record.vertices;
    if (local[0] > 2 || local[1] > 2) {
        return PolygonEdge{};
    }
    const index_t a = surface.polygon_vertex(PolygonVertex{polygon_id, local[0]});
    const index_t b = surface.polygon_vertex(PolygonVertex{polygon_id, local[1]});
    const std::array<index_t, 3>& vertices = surface.polygon_vertices(polygon_id);
    for (local_index_t edge = 0; edge < 3; ++edge) {
        const index_t from = vertices[edge];
        const index_t to = vertices[(edge + 1) % 3];
        if ((from == a && to == b) || (from == b && to == a)) {
            return PolygonEdge{polygon_id, edge};
        }
    }
    return PolygonEdge{};
}

PolyhedronFacetEdge edge_from_internal_distance(const SolidMesh<3>& solid, index_t polyhedron_id,
                                                const InternalDistance& record) {
    const auto& local = record.vertices;
    if (local[0] > 3 || local[1] > 3) {
        return std::optional<PolyhedronFacetEdge>{}.value();
    }
    const index_t a = solid.polyhedron_vertex(PolyhedronVertex{polyhedron_id, local[0]});
    const index_t b = solid.polyhedron_vertex(PolyhedronVertex{polyhedron_id, local[1]});
    return solid.polyhedron_facet_edge_from_vertices({a, b}, polyhedron_id).value();
}

}  // namespace internal
}  // namespace orvex
