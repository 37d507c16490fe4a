#pragma once

#include <absl/strings/str_cat.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "polvane/basic/export.h"

namespace orvex {

/// The one exception type of the base library and of everything built on it.
///
/// Its message is the concatenation of the pieces it is built from, formatted by
/// `absl::StrCat` (integers in decimal, doubles in six significant digits). By convention the
/// first piece is the bracketed name of the operation that failed:
/// \code
///     throw PolvaneException{"[Range] Invalid range: ", length, " > ", limit};
/// \endcode
/// Pieces must be accepted by `absl::StrCat`: `std::string`, `const char*`,
/// `absl::string_view` and numbers (not `std::string_view` nor `char` with this Abseil).
class POLVANE_BASIC_EXPORT PolvaneException : public std::runtime_error {
public:
    template <typename... Pieces>
    explicit PolvaneException(const Pieces&... pieces)
        : std::runtime_error{absl::StrCat(pieces...)} {}

    ~PolvaneException() override;

    PolvaneException(const PolvaneException&) = default;
    PolvaneException& operator=(const PolvaneException&) = default;
};

}  // namespace orvex
