#pragma once
#include <memory>

#include "host/run/Processes.h"

namespace mcregcli {

// The processes this program runs as: those of an MPI launch (mpirun) when
// the program is built with MPI and started by mpirun, else this process
// alone. Created first thing in main, destroyed last.
std::unique_ptr<mchost::Processes> MakeProcessGroup(int& argc, char**& argv);

// Ends every process of the group at once with the given exit code; for a
// failure on one process that the others cannot know of.
void AbortGroup(mchost::Processes& group, int code);

}  // namespace mcregcli
