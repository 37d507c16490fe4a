#pragma once

// Small pieces shared by the mesh readers of this folder (not installed, not part of any
// interface): message building, white space, numbers, and the cut of a token quoted in a
// message.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

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

/// A token of the file as a message quotes it: its first 40 bytes, "..." when it was longer,
/// and `?` for every byte outside printable ASCII (so that a message is short, whatever the
/// file holds, and never carries bytes that are not text).
inline std::string shorten(std::string_view token) {
    constexpr std::size_t kept = 40;
    std::string out{token.substr(0, kept)};
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            c = '?';
        }
    }
    return token.size() > kept ? out + "..." : out;
}

/// How a token read as a number.
enum class NumberRead { ok, invalid, out_of_range, not_finite };

/// Reads the whole token as an integer or a double (`std::from_chars`, so in the C locale's
/// form); a leading '+' is allowed, as some writers put one. A double must be finite.
template <typename T>
NumberRead read_number(std::string_view token, T& value) {
    const char* last = token.data() + token.size();
    const char* first = token.size() > 1 && token[0] == '+' ? token.data() + 1 : token.data();
    const auto [ptr, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        return NumberRead::out_of_range;
    }
    if (error != std::errc{} || ptr != last) {
        return NumberRead::invalid;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return NumberRead::not_finite;
        }
    }
    return NumberRead::ok;
}

/// The message for a token that did not read as a number: "<what> '<token>' is out of range",
/// "expected an integer for the <what>, found '<token>'" and so on, the token shortened.
template <typename T>
std::string number_error(NumberRead result, std::string_view what, std::string_view token) {
    const std::string quoted = "'" + shorten(token) + "'";
    if (result == NumberRead::out_of_range) {
        return concat("the ", what, " ", quoted, " is out of range");
    }
    if (result == NumberRead::not_finite) {
        return concat("the ", what, " ", quoted, " is not finite");
    }
    return concat("expected ", std::is_floating_point_v<T> ? "a number" : "an integer", " for the ",
                  what, ", found ", quoted);
}

}  // namespace orvex::examples::detail
