#pragma once

// Small pieces shared by the mesh readers of this folder (not installed, not part of any
// interface).

#include <cstdint>
#include <sstream>
#include <string>

#include "polvane/basic/index.h"

namespace orvex::examples::detail {

/// The largest count of vertices or elements a file may announce: each must be numbered by an
/// index_t other than NO_ID.
inline constexpr std::int64_t max_count = static_cast<std::int64_t>(NO_ID) - 1;

/// The pieces written one after the other, as `std::ostream` writes them.
template <typename... Pieces>
std::string concat(const Pieces&... pieces) {
    std::ostringstream out;
    (out << ... << pieces);
    return out.str();
}

/// White space as the file formats read it (the C locale's).
inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace orvex::examples::detail
