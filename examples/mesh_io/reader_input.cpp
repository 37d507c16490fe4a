#include "reader_input.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "reader_text.h"

namespace orvex::examples::detail {

std::string_view Input::token() {
    while (p_ < end_) {
        if (*p_ == '\n') {
            ++line_;
            ++p_;
        } else if (comments_ && *p_ == '#') {
            while (p_ < end_ && *p_ != '\n') {
                ++p_;
            }
        } else if (is_space(*p_)) {
            ++p_;
        } else {
            break;
        }
    }
    const char* start = p_;
    while (p_ < end_ && !is_space(*p_) && !(comments_ && *p_ == '#')) {
        ++p_;
    }
    if (p_ != start) {
        token_line_ = line_;
        token_offset_ = offset(start);
    }
    return {start, static_cast<std::size_t>(p_ - start)};
}

std::string_view Input::token_or_fail(std::string_view what) {
    const std::string_view t = token();
    if (t.empty()) {
        fail_here(concat("the file ends before the ", what));
    }
    return t;
}

std::string_view Input::line() {
    token_line_ = line_;
    token_offset_ = offset(p_);
    const char* start = p_;
    while (p_ < end_ && *p_ != '\n') {
        ++p_;
    }
    std::string_view text{start, static_cast<std::size_t>(p_ - start)};
    if (p_ < end_) {
        ++p_;
        ++line_;
    }
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    return text;
}

void Input::end_line() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) {
        ++p_;
    }
    if (p_ == end_) {
        fail_here("the file ends before the binary data");
    }
    if (*p_ != '\n') {
        fail_here(concat("expected the end of the line before the binary data, found '",
                         shorten(std::string_view{p_, 1}), "'"));
    }
    ++p_;
    ++line_;
}

bool Input::skip_past(std::string_view marker) {
    // A plain find compares the marker again at every candidate start, which a long marker of
    // repeated pieces over a text of the same pieces turns quadratic; the C library's memmem
    // (two-way matching) stays linear and allocates nothing.
    const void* found = ::memmem(p_, remaining(), marker.data(), marker.size());
    if (found == nullptr) {
        return false;
    }
    const char* at = static_cast<const char*>(found);
    line_ += static_cast<std::size_t>(std::count(p_, at, '\n'));
    p_ = at + marker.size();
    return true;
}

std::uint64_t Input::raw(std::size_t size, std::string_view what) {
    token_offset_ = offset(p_);
    if (remaining() < size) {
        fail(concat("the file ends inside the binary data: the ", what, " needs ", size, " bytes, ",
                    remaining(), " remain"));
    }
    std::uint64_t value = 0;
    for (std::size_t k = 0; k < size; ++k) {
        const auto byte = static_cast<std::uint64_t>(static_cast<unsigned char>(p_[k]));
        value |= byte << (8 * (big_endian_ ? size - 1 - k : k));
    }
    p_ += size;
    return value;
}

std::int64_t Input::binary_int(std::size_t size, std::string_view what) {
    const std::uint64_t value = raw(size, what);
    if (size == 4) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        fail(concat("the ", what, " ", value, " is out of range"));
    }
    return static_cast<std::int64_t>(value);
}

double Input::binary_real(std::size_t size, std::string_view what) {
    const std::uint64_t bits = raw(size, what);
    double value = 0;
    if (size == 4) {
        const auto narrow = static_cast<std::uint32_t>(bits);
        float single = 0;
        std::memcpy(&single, &narrow, sizeof single);
        value = single;
    } else {
        std::memcpy(&value, &bits, sizeof value);
    }
    if (!std::isfinite(value)) {
        fail(concat("the ", what, " is not finite"));
    }
    return value;
}

std::int64_t Input::integer(std::string_view what) {
    const std::string_view t = token_or_fail(what);
    std::int64_t value = 0;
    if (const NumberRead result = read_number(t, value); result != NumberRead::ok) {
        fail(number_error<std::int64_t>(result, what, t));
    }
    return value;
}

double Input::real(std::string_view what) {
    const std::string_view t = token_or_fail(what);
    double value = 0;
    if (const NumberRead result = read_number(t, value); result != NumberRead::ok) {
        fail(number_error<double>(result, what, t));
    }
    return value;
}

void Input::expect(std::string_view keyword, std::string_view context) {
    const std::string_view t = token();
    if (t != keyword) {
        if (t.empty()) {
            fail_here(concat("the file ends where ", keyword, " should come ", context));
        }
        fail(concat("expected ", keyword, " ", context, ", found '", shorten(t), "'"));
    }
}

void Input::fail(const std::string& message) const {
    fail_at(mark(), message);
}

void Input::fail_here(const std::string& message) const {
    fail_at({token_line_, offset(p_)}, message);
}

void Input::fail_at(Mark mark, const std::string& message) const {
    if (binary_) {
        throw MeshFileError::at_byte(source_, mark.offset, message);
    }
    throw MeshFileError{source_, mark.line, message};
}

std::size_t checked_count(Input& in, std::int64_t count, std::string_view what) {
    if (count < 0) {
        in.fail(concat("negative ", what, " ", count));
    }
    if (count > max_count) {
        in.fail(concat(what, " ", count, " exceeds ", max_count));
    }
    return static_cast<std::size_t>(count);
}

std::size_t reserve_for(const Input& in, std::size_t count, std::size_t min_bytes) {
    return std::min(count, in.remaining() / min_bytes + 1);
}

std::int32_t checked_reference(Input& in, std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        in.fail(concat("the reference ", value, " does not fit in 32 bits"));
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace orvex::examples::detail
