// The program built without MPI: always one process.
#include "cli/ProcessGroup.h"

namespace mcregcli {

std::unique_ptr<mchost::Processes> MakeProcessGroup(int&, char**&) {
    return std::make_unique<mchost::Processes>();
}

void AbortGroup(mchost::Processes&, int) {}

}  // namespace mcregcli
