#pragma once
#include <string>

#include "host/input/ByteSource.h"
#include "host/input/CodedData.h"

namespace mchost {

// Reads comma-separated values into coded records (see CsvScanner for the
// syntax and the cell rules). The first record is the header. The input is
// read in large blocks that end at a record end; a block is scanned in
// pieces on the reading's threads (ReadOptions::fThreads) while the block
// before is coded. Records longer than a block grow it.
//
// A column with a text cell is a text column: every present cell of it is
// text, also those that look like numbers ("007" stays "007"). When numbers
// came first the input is read again with that column as text, so the
// input must then be one that can be read twice.
//
// Malformed quoting and records whose field count differs from the header
// are data errors (HostError) naming the record (the header is record 1)
// and, for quoting, the byte.
class CsvReader {
public:
    // A null plan loads every column as plain values.
    static CodedData Read(ByteSource& source, const PlanFn& plan,
                          const ReadOptions& options = ReadOptions());
    static CodedData ReadFile(const std::string& path, const PlanFn& plan,
                              const ReadOptions& options = ReadOptions());
    static CodedData ReadString(const std::string& text, const PlanFn& plan = nullptr,
                                const ReadOptions& options = ReadOptions());
};

}  // namespace mchost
