#pragma once

namespace mchost {

// The cores this process may run on (its affinity mask), at least 1.
int AvailableCores();

}  // namespace mchost
