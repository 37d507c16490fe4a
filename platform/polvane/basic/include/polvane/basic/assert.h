#pragma once

#include <absl/strings/str_cat.h>

#include <string>

#include "polvane/basic/export.h"

namespace orvex {
namespace detail {

/// Writes "Debug assertion failed: <condition> (<file>:<line>): <message>" to the standard
/// error stream and aborts the process.
[[noreturn]] POLVANE_BASIC_EXPORT void debug_assertion_failed(const char* condition,
                                                              const char* file, int line,
                                                              const std::string& message);

}  // namespace detail
}  // namespace orvex

/// POLVANE_DEBUG_ASSERT(condition, message pieces...)
///
/// Checks a precondition that release builds leave unchecked because it sits on a hot path,
/// typically an index against a container size. Without NDEBUG a false condition aborts with
/// the concatenated message pieces (anything `absl::StrCat` accepts, at least one piece). With
/// NDEBUG the macro compiles to nothing: neither the condition nor the pieces are evaluated
/// (the condition is only named in an unevaluated operand, so its variables still count as
/// used).
#ifdef NDEBUG
#define POLVANE_DEBUG_ASSERT(condition, ...) static_cast<void>(sizeof(static_cast<bool>(condition)))
#else
#define POLVANE_DEBUG_ASSERT(condition, ...)                                               \
    ((condition) ? static_cast<void>(0)                                                    \
                 : ::orvex::detail::debug_assertion_failed(#condition, __FILE__, __LINE__, \
                                                           ::absl::StrCat(__VA_ARGS__)))
#endif
