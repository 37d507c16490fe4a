#pragma once

#include <absl/container/inlined_vector.h>
#include <absl/types/span.h>

#include <cstddef>
#include <map>
#include <utility>

#include "polvane/basic/export.h"
#include "polvane/basic/index.h"

namespace orvex {

/// One renumbering record: the new index (whose data receive entries), then the old index
/// (whose data are read). `NO_ID` as the old index means that there is no old index.
template <typename T>
struct Mapping {
    T new_index;
    T old_index;

    friend bool operator==(const Mapping& a, const Mapping& b) {
        return a.new_index == b.new_index && a.old_index == b.old_index;
    }
};

/// A renumbering record with several old indices, read in their stored order. `NO_ID` in the
/// list means "no old index" (what that means for a walk is up to the operation reading it).
template <typename T>
struct MultiMapping {
    T new_index;
    absl::InlinedVector<T, 2> old_indices;

    friend bool operator==(const MultiMapping& a, const MultiMapping& b) {
        return a.new_index == b.new_index && a.old_indices == b.old_indices;
    }
};

/// A one-to-many map from old indices to new indices, the renumbering that attribute
/// extraction and import take when an old element gives several new ones (or none).
///
/// Iteration visits old indices in increasing order and, for each, its new indices in the
/// order they were added; the order is therefore the same in every run.
class POLVANE_BASIC_EXPORT OldToNewMapping {
public:
    using NewIndices = absl::InlinedVector<index_t, 1>;
    using Storage = std::map<index_t, NewIndices>;

    /// Records that `old_index` becomes (also) `new_index`. A repeated pair is kept once.
    void map(index_t old_index, index_t new_index);

    /// The new indices of `old_index`, empty when it has none.
    [[nodiscard]] absl::Span<const index_t> new_indices(index_t old_index) const;

    [[nodiscard]] bool has_mapping(index_t old_index) const;

    /// The number of old indices that have at least one new index.
    [[nodiscard]] std::size_t size() const { return map_.size(); }

    [[nodiscard]] bool empty() const { return map_.empty(); }

    void clear() { map_.clear(); }

    [[nodiscard]] Storage::const_iterator begin() const { return map_.begin(); }

    [[nodiscard]] Storage::const_iterator end() const { return map_.end(); }

private:
    Storage map_;
};

}  // namespace orvex
