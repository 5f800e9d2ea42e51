#pragma once
#include <cstddef>

namespace MCMath_850 {

// The memory this process may use: the machine's physical memory, or the
// process's address-space limit when that is lower; 0 when unknown. A
// model checks its largest matrices against it before allocating them,
// because on a system that overcommits an allocation too large for the
// machine succeeds and the process is killed when it first writes there.
std::size_t UsableMemoryBytes();

}  // namespace MCMath_850
