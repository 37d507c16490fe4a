#pragma once

#include <cstddef>

#include "polvane/basic/export.h"

namespace orvex::detail {

/// Asks the kernel to back the whole 2 MB pages inside [data, data + bytes) with huge pages,
/// where it grants them on request (Linux's transparent huge pages in "madvise" mode), before
/// the buffer is first written: a large fresh buffer then costs one page fault per 2 MB
/// instead of one per 4 kB. A mesh copy and a tree of a million elements take some 60 MB of
/// fresh memory per rebuild (buffers of 32 MB and more come straight from the kernel each
/// time), whose page faults cost as much as a third of the rebuild on 4 kB pages. Only
/// advice: it changes no value, and a refusal (another system, huge pages off) leaves the
/// buffer as it was. Buffers under 4 MB are left alone.
POLVANE_BASIC_EXPORT void advise_huge_pages(void* data, std::size_t bytes);

}  // namespace orvex::detail
