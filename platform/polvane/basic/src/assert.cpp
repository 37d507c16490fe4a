#include "polvane/basic/assert.h"

#include <cstdio>
#include <cstdlib>

namespace orvex {
namespace detail {

void debug_assertion_failed(const char* condition, const char* file, int line,
                            const std::string& message) {
    std::fprintf(stderr, "Debug assertion failed: %s (%s:%d): %s\n", condition, file, line,
                 message.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace detail
}  // namespace orvex
