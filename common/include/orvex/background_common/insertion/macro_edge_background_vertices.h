#pragma once

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"

namespace orvex {

class VerticesModifier;

namespace internal {

/// The two background vertices recorded for a macro edge. `NO_ID` (4294967295), the default,
/// marks an unset vertex but is otherwise an index like any other.
struct ORVEX_BACKGROUND_COMMON_EXPORT MacroEdgeBackgroundVertices {
    /// Replaces `vertex0`, then `vertex1`, by `modifier.updated_vertex(v).value()`.
    /// \throw std::bad_optional_access when the modifier reports a vertex as gone; a `vertex0`
    /// already replaced keeps its new value (no rollback).
    void update_vertices(const VerticesModifier& modifier);

    /// The background vertex at the macro edge's first end, `NO_ID` when none.
    index_t vertex0{NO_ID};
    /// The background vertex at the macro edge's second end, `NO_ID` when none.
    index_t vertex1{NO_ID};
};

}  // namespace internal
}  // namespace orvex
