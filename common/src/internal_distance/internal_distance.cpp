#include "orvex/background_common/internal_distance/internal_distance.h"

#include <absl/strings/str_cat.h>

namespace orvex {
namespace internal {

std::string InternalDistance::string() const {
    // Indices go through unsigned int so that StrCat writes numbers, not characters.
    return absl::StrCat("Type: ", static_cast<std::uint32_t>(type), ", Distance: ", distance,
                        ", Vertex: ", static_cast<unsigned int>(vertex),
                        ", Vertices: ", static_cast<unsigned int>(vertices[0]), " ",
                        static_cast<unsigned int>(vertices[1]));
}

}  // namespace internal
}  // namespace orvex
