#include "polvane/basic/mapping.h"

#include <algorithm>

namespace orvex {

void OldToNewMapping::map(index_t old_index, index_t new_index) {
    auto& news = map_[old_index];
    if (std::find(news.begin(), news.end(), new_index) == news.end()) {
        news.push_back(new_index);
    }
}

absl::Span<const index_t> OldToNewMapping::new_indices(index_t old_index) const {
    const auto found = map_.find(old_index);
    if (found == map_.end()) {
        return {};
    }
    return found->second;
}

bool OldToNewMapping::has_mapping(index_t old_index) const {
    return map_.find(old_index) != map_.end();
}

}  // namespace orvex
