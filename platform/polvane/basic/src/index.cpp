#include "polvane/basic/index.h"

#include "polvane/basic/polvane_exception.h"

namespace orvex {

void check_index_range(std::size_t length) {
    if (length > static_cast<std::size_t>(NO_ID)) {
        throw PolvaneException{"[Range] Invalid range: ", length, " > ", NO_ID};
    }
}

}  // namespace orvex
