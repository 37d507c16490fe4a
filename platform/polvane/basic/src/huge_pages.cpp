#include "polvane/basic/detail/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orvex::detail {

void advise_huge_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t huge = std::size_t{2} << 20U;
    if (data == nullptr || bytes < 2 * huge) {
        return;
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + huge - 1) & ~std::uintptr_t{huge - 1};
    const std::uintptr_t last = (begin + bytes) & ~std::uintptr_t{huge - 1};
    if (last > first) {
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace orvex::detail
