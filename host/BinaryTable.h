#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/DataTable.h"

namespace mchost {

// Reads the library's headerless binary record file (each record one double
// per column, machine byte order) into a DataTable with the given column
// names. The system-missing value, NaN and infinities become missing cells. A trailing
// partial record is a data error.
class BinaryTableReader {
public:
    using ProgressFn = std::function<void(std::size_t records)>;

    static DataTable ReadFile(const std::string& path, const std::vector<std::string>& names,
                              ProgressFn progress = nullptr);
};

}  // namespace mchost
