#include "companion/MCMemory.h"

#include <sys/resource.h>
#include <unistd.h>

namespace MCMath_850 {

std::size_t UsableMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    std::size_t bytes = pages > 0 && pageSize > 0
                            ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize)
                            : 0;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        (bytes == 0 || limit.rlim_cur < bytes))
        bytes = static_cast<std::size_t>(limit.rlim_cur);
    return bytes;
}

}  // namespace MCMath_850
