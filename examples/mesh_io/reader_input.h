#pragma once

// The cursor the Gmsh, VTK and TetGen readers read a file's bytes with (private to this folder).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "medit_mesh.h"

namespace orvex::examples::detail {

/// A cursor over a file's bytes: whitespace-separated tokens (with `#` comments when asked),
/// whole lines, and binary values of either byte order. Errors (`MeshFileError`) name the line
/// of the last token in text, or the byte offset of the value at fault once the content is
/// binary; a token quoted in a message is shortened (`shorten`).
class Input {
public:
    Input(std::string_view bytes, const std::string& source, bool comments = false)
        : begin_{bytes.data()},
          p_{bytes.data()},
          end_{bytes.data() + bytes.size()},
          source_{source},
          comments_{comments} {}

    /// From here on errors give byte offsets; binary values are big-endian when `big_endian`.
    void set_binary(bool big_endian) {
        binary_ = true;
        big_endian_ = big_endian;
    }

    [[nodiscard]] bool binary() const { return binary_; }

    [[nodiscard]] std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }

    /// The next token, or an empty view at the end.
    std::string_view token();

    /// The next token; fails at the end ("the file ends before the <what>").
    std::string_view token_or_fail(std::string_view what);

    /// The rest of the current line without its end (and without a trailing '\r').
    std::string_view line();

    /// Ends a header line before binary data: only blanks may remain before its '\n'.
    void end_line();

    /// Skips past the next occurrence of `marker`, in time linear in the bytes skipped whatever
    /// the marker; false (at the end) when there is none.
    bool skip_past(std::string_view marker);

    /// An unsigned value of `size` bytes (1 to 8) in the file's byte order.
    std::uint64_t raw(std::size_t size, std::string_view what);

    /// A signed value of 4 bytes, or a value of 8 bytes below 2^63.
    std::int64_t binary_int(std::size_t size, std::string_view what);

    /// A finite `float` (4 bytes) or `double` (8 bytes).
    double binary_real(std::size_t size, std::string_view what);

    /// The next token as a 64-bit integer.
    std::int64_t integer(std::string_view what);

    /// The next token as a finite double.
    double real(std::string_view what);

    /// The next token must be `keyword`, which comes `context` ("after the nodes").
    void expect(std::string_view keyword, std::string_view context);

    /// Fails at the last token (text) or value (binary).
    [[noreturn]] void fail(const std::string& message) const;

    /// Fails where the cursor stands: at its byte in binary content, at the line of the last
    /// token in text (so that a truncation is reported where the content stops).
    [[noreturn]] void fail_here(const std::string& message) const;

    /// The place of the last token, to fail there later.
    struct Mark {
        std::size_t line;
        std::size_t offset;
    };

    [[nodiscard]] Mark mark() const { return {token_line_, token_offset_}; }

    [[noreturn]] void fail_at(Mark mark, const std::string& message) const;

private:
    [[nodiscard]] std::size_t offset(const char* at) const {
        return static_cast<std::size_t>(at - begin_);
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    const std::string& source_;
    bool comments_;
    bool binary_{false};
    bool big_endian_{false};
    std::size_t line_{1};
    std::size_t token_line_{1};
    std::size_t token_offset_{0};
};

/// Checks a declared count (not negative, at most `max_count`) and returns it.
std::size_t checked_count(Input& in, std::int64_t count, std::string_view what);

/// What the rest of the file could hold at `min_bytes` per entry, and at most `count`: the most
/// a reader may reserve for a declared count, so that a huge count in a short file fails on its
/// truncation, not on an allocation.
std::size_t reserve_for(const Input& in, std::size_t count, std::size_t min_bytes);

/// A reference that must fit in 32 bits.
std::int32_t checked_reference(Input& in, std::int64_t value);

}  // namespace orvex::examples::detail
