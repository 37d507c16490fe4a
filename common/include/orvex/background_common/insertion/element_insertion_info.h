#pragma once

#include <cstdint>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"

namespace orvex {
namespace internal {

/// The outcome of inserting elements into a background mesh: for every insertion status, the
/// indices of the elements that ended with it, in the order they were reported.
///
/// A plain value: copies are deep, nothing is checked (any status and any index are stored as
/// given), and one record is used by one thread at a time. Read `elements` directly; a status
/// that is not a key was never reported (there are no empty lists).
struct ORVEX_BACKGROUND_COMMON_EXPORT ElementInsertionInfo {
    /// Outcomes of insertions. The values are fixed: callers compare against 0 to 4.
    enum struct INSERTION_STATUS : std::uint32_t {
        /// Summary of a macro edge: every recorded status is `inserted`.
        fully_inserted = 0,
        /// Summary of a macro edge: some recorded statuses are `inserted`, some are not.
        partially_inserted = 1,
        /// A recorded status: the element was inserted. Never a summary.
        inserted = 2,
        /// Summary of a macro edge: no recorded status is `inserted` (or none was recorded).
        not_inserted = 3,
        /// Summary of a macro edge whose segment is degenerated.
        degenerated = 4
    };

    /// An empty record: no status has a list.
    ElementInsertionInfo() = default;
    /// A copy of every list.
    ElementInsertionInfo(const ElementInsertionInfo& other) = default;

    /// Takes over the other record's lists; the other is left empty and usable.
    ElementInsertionInfo(ElementInsertionInfo&& other) noexcept;

    /// Builds the whole copy first: if that fails (memory exhausted), this record is unchanged.
    ElementInsertionInfo& operator=(const ElementInsertionInfo& other);

    /// Takes over the other record's lists; the other is left empty and usable.
    ElementInsertionInfo& operator=(ElementInsertionInfo&& other) noexcept;

    ~ElementInsertionInfo() = default;

    /// Appends `element` to the list of `status`, creating the list when the status has none.
    /// One hash look-up; a failed call (memory exhausted) leaves the record as it was.
    void add(INSERTION_STATUS status, index_t element);

    /// Per status, the elements recorded with it, in the order added (duplicates kept). A status
    /// never added has no entry; the map's iteration order is unspecified.
    absl::flat_hash_map<INSERTION_STATUS, std::vector<index_t>> elements;
};

}  // namespace internal
}  // namespace orvex
