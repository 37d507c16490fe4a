#include "orvex/background_common/insertion/element_insertion_info.h"

#include <utility>

namespace orvex {
namespace internal {

ElementInsertionInfo::ElementInsertionInfo(ElementInsertionInfo&& other) noexcept
    : elements(std::exchange(other.elements, {})) {}

ElementInsertionInfo& ElementInsertionInfo::operator=(const ElementInsertionInfo& other) {
    if (this != &other) {
        auto copy = other.elements;
        elements.swap(copy);
    }
    return *this;
}

ElementInsertionInfo& ElementInsertionInfo::operator=(ElementInsertionInfo&& other) noexcept {
    if (this != &other) {
        elements = std::exchange(other.elements, {});
    }
    return *this;
}

void ElementInsertionInfo::add(INSERTION_STATUS status, index_t element) {
    // The one-element list is built before the map is touched, and try_emplace only moves it in
    // when the status is new: a single look-up, and nothing changes if an allocation fails.
    std::vector<index_t> single{element};
    const auto inserted = elements.try_emplace(status, std::move(single));
    if (!inserted.second) {
        inserted.first->second.push_back(element);
    }
}

}  // namespace internal
}  // namespace orvex
