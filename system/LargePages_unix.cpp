#include "LargePages.h"

#include <cstdint>
#include <sys/mman.h>

namespace LargePages {

void prefer(void *data, qsizetype bytes)
{
#ifdef MADV_HUGEPAGE
    if (data == nullptr || bytes < kThreshold)
        return;
    constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + std::uintptr_t(bytes)) & ~(kHugePage - 1);
    if (last <= first)
        return;
    // Only a hint: a kernel without transparent huge pages refuses it, and
    // the buffer works the same either way.
    (void)madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace LargePages
