#pragma once

#include <array>
#include <optional>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"

namespace orvex {

class VerticesModifier;

namespace internal {

/// Up to two background vertices met on a background edge by the code that inserts a macro
/// edge, beside the caller's reference to that edge.
struct ORVEX_BACKGROUND_COMMON_EXPORT BackgroundEdgeVertices {
    /// The caller's 8-byte reference: which background edge and which macro edge (index in its
    /// component) the vertices belong to. Carried along, never read; both `NO_ID` by default.
    struct EdgeReference {
        /// The background edge the vertices were met on.
        index_t background_edge{NO_ID};
        /// The macro edge being inserted, by its index in its component.
        index_t macro_edge{NO_ID};
    };

    /// Replaces each present vertex, first then second, by `modifier.updated_vertex(v).value()`;
    /// empty entries are skipped and the modifier is not asked about them.
    /// \throw std::bad_optional_access when the modifier reports a vertex as gone; a first entry
    /// already replaced keeps its new value (no rollback).
    void update_vertices(const VerticesModifier& modifier);

    /// The caller's reference to the edge; see `EdgeReference`.
    EdgeReference edge;
    /// The background vertices met on the edge, in the order met; an empty entry for none.
    std::array<std::optional<index_t>, 2> vertices;
};

static_assert(sizeof(BackgroundEdgeVertices::EdgeReference) == 8,
              "the caller's reference is an 8-byte value");

}  // namespace internal
}  // namespace orvex
