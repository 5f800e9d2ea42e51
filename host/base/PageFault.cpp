#include "host/base/PageFault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace mchost {

namespace {

std::uintptr_t PageSize() {
    static const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::uintptr_t>(size) : 4096;
}

}  // namespace

void FaultInPages(char* begin, char* end) {
    if (begin >= end) return;
#ifdef MADV_POPULATE_WRITE
    // From the start of begin's page: populating leaves a present page's
    // bytes alone, so another thread may be writing the head of that page.
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(begin) & ~(PageSize() - 1);
    if (::madvise(reinterpret_cast<void*>(from), reinterpret_cast<std::uintptr_t>(end) - from,
                  MADV_POPULATE_WRITE) == 0)
        return;
#endif
    // A kernel before 5.14 does not know it.
    TouchPages(begin, end);
}

void TouchPages(char* begin, char* end) {
    const std::uintptr_t page = PageSize();
    const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(end);
    for (std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
         at < last; at += page)
        *reinterpret_cast<char*>(at) = 0;
}

}  // namespace mchost
