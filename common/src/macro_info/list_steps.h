#pragma once

#include <algorithm>
#include <vector>

namespace orvex {
namespace internal {
namespace detail {

/// The add step shared by every macro table: appends `value` unless an equal entry is already
/// in `list`, so a list never holds an entry twice and keeps the order of first addition.
template <typename T>
void add_to_list(std::vector<T>& list, const T& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
        list.push_back(value);
    }
}

/// The remove step shared by every macro table: erases the first entry equal to `value`, moving
/// the later entries one place forward; an absent value changes nothing.
template <typename T>
void remove_from_list(std::vector<T>& list, const T& value) {
    const auto found = std::find(list.begin(), list.end(), value);
    if (found != list.end()) {
        list.erase(found);
    }
}

}  // namespace detail
}  // namespace internal
}  // namespace orvex
