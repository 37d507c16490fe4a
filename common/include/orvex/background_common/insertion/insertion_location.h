#pragma once

#include <cstdint>

#include "polvane/basic/index.h"

namespace orvex {
namespace internal {

/// Where the code that inserts a macro edge met one of its points in the background mesh.
///
/// The insertion records carry it with their entry (copied, moved, dropped with it) but never
/// read or write it: its meaning is the inserting code's. Exactly 16 bytes.
struct InsertionLocation {
    /// The kind of background feature the point was met on.
    enum struct FEATURE : std::uint8_t { none = 0, vertex, edge, facet, element };

    /// Index of that feature (a vertex, edge or element index; for `facet`, the element).
    index_t feature_index{NO_ID};
    /// The kind of feature `feature_index` names.
    FEATURE feature{FEATURE::none};
    /// The facet or edge inside the element, when `feature` needs one.
    local_index_t local_index{NO_LID};
    /// The point's parameter along the macro edge, 0 at its first vertex and 1 at its second.
    double parameter{0};
};

static_assert(sizeof(InsertionLocation) == 16, "InsertionLocation is a 16-byte record");

}  // namespace internal
}  // namespace orvex
