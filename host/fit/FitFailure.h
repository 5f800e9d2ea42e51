#pragma once
#include <exception>

#include "host/run/Processes.h"

namespace mchost {

// Rethrows a fit's failure, as a LocalError when it is a host failure that
// this process of a split fit (processes several) met alone. The library
// agrees its own failures over the processes at every pass end, and each
// process sees its own interrupt; any other host failure left the library
// between two merges, where the other processes wait for this one.
[[noreturn]] void RethrowFitFailure(const std::exception_ptr& failure, const Processes* processes);

}  // namespace mchost
