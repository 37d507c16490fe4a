#include "orvex/background_common/insertion/macro_edge_background_vertices.h"

#include "orvex_common/modifier/vertices_modifier.h"

namespace orvex {
namespace internal {

void MacroEdgeBackgroundVertices::update_vertices(const VerticesModifier& modifier) {
    vertex0 = modifier.updated_vertex(vertex0).value();
    vertex1 = modifier.updated_vertex(vertex1).value();
}

}  // namespace internal
}  // namespace orvex
