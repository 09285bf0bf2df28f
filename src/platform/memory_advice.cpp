#include "platform/memory_advice.h"

#include <sys/mman.h>

#include <cstdint>

namespace veltrane {

void AdviseHugePages(const void* data, std::size_t bytes) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (begin + bytes) & ~(kHugePage - 1);
    if (!data || end <= first) return;
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}

} // namespace veltrane
