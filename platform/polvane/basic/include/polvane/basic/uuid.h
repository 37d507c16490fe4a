#pragma once

#include <absl/hash/hash.h>
#include <absl/strings/string_view.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "polvane/basic/export.h"

namespace orvex {

/// A 128-bit universally unique identifier, as used to name the components of a model.
///
/// A default-constructed `uuid` is a new random (version 4) identifier. Values compare and
/// hash by their 16 bytes; `operator<` orders them by bytes, most significant first.
class POLVANE_BASIC_EXPORT uuid {
public:
    /// A new random identifier (version 4, variant 1).
    uuid();

    /// Parses the 36-character form written by `string()` ("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx",
    /// hexadecimal digits in either case).
    /// \throw PolvaneException "[uuid] Cannot parse ..." when the text has another form.
    explicit uuid(absl::string_view text);

    /// The identifier made of exactly these bytes.
    explicit constexpr uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    /// Lower-case hexadecimal in the 8-4-4-4-12 form.
    [[nodiscard]] std::string string() const;

    [[nodiscard]] friend bool operator==(const uuid& a, const uuid& b) {
        return a.bytes_ == b.bytes_;
    }

    [[nodiscard]] friend bool operator!=(const uuid& a, const uuid& b) { return !(a == b); }

    [[nodiscard]] friend bool operator<(const uuid& a, const uuid& b) {
        return a.bytes_ < b.bytes_;
    }

    template <typename H>
    friend H AbslHashValue(H h, const uuid& id) {
        return H::combine_contiguous(std::move(h), id.bytes_.data(), id.bytes_.size());
    }

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace orvex

namespace std {
template <>
struct hash<orvex::uuid> {
    size_t operator()(const orvex::uuid& id) const { return absl::HashOf(id); }
};
}  // namespace std
