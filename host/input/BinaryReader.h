#pragma once
#include <string>
#include <vector>

#include "host/input/ByteSource.h"
#include "host/input/CodedData.h"

namespace mchost {

// Reads the library's headerless binary record file (each record one double
// per column, machine byte order) into coded records, the columns named by
// the caller. The system-missing value, NaN and infinities are missing
// cells. A categorical column holds category codes already: a code below
// -0.5 is missing, and one that is not a whole number is a data error. A
// trailing partial record is a data error.
class BinaryReader {
public:
    static CodedData Read(ByteSource& source, const std::vector<std::string>& names,
                          const PlanFn& plan, const ReadOptions& options = ReadOptions());
    static CodedData ReadFile(const std::string& path, const std::vector<std::string>& names,
                              const PlanFn& plan, const ReadOptions& options = ReadOptions());
};

}  // namespace mchost
