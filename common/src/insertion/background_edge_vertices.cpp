#include "orvex/background_common/insertion/background_edge_vertices.h"

#include "orvex_common/modifier/vertices_modifier.h"

namespace orvex {
namespace internal {

void BackgroundEdgeVertices::update_vertices(const VerticesModifier& modifier) {
    for (auto& vertex : vertices) {
        if (vertex) {
            vertex = modifier.updated_vertex(*vertex).value();
        }
    }
}

}  // namespace internal
}  // namespace orvex
