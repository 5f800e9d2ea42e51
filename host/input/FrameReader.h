#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/input/CodedData.h"

namespace mchost {

// One column of a table its caller holds in memory (a data frame): either
// numbers, read where they lie, or category codes with their labels. The
// memory must stay put while the table is read.
class FrameColumn {
public:
    enum Kind { kNumbers, kCodes };

    std::string fName;
    Kind fKind = kNumbers;
    // kNumbers: one double per row, fStride bytes apart; NaN is missing.
    // Or one int64 per row (fpIntegers instead), read as the nearest double.
    const double* fpNumbers = nullptr;
    const std::int64_t* fpIntegers = nullptr;
    std::ptrdiff_t fStride = sizeof(double);
    // kCodes: one code per row indexing fvLabels, negative for missing.
    // Contiguous, of fCodeBytes each: int8, int16 or int32.
    const void* fpCodes = nullptr;
    int fCodeBytes = 4;
    std::vector<std::string> fvLabels;
    // The labels are in the order the categories keep (an ordered
    // categorical), not sorted as a text column's are.
    bool fbDeclaredOrder = false;
};

// Codes an in-memory table into the records a CSV of the same cells would
// give: the same columns, codes, categories and messages. The records are
// not copied: the data's store makes them from the columns on every pass
// (a numeric column coded as categories gets its codes made once), so the
// columns' memory must outlive the data and its iterators, and the store
// tells whether it has changed since (RecordStore::Unchanged).
// Numbers planned as categories are coded by value, unless one has more
// than 15 significant digits (the CSV reader's rule: the column is then
// text), numbers planned as text by their text (an int64's digits, a
// double's NumberText); an infinite value is a data error, as it is in a
// binary record file. Throws HostError (usage) for a plan the header cannot
// meet, (interrupted) when options.fpInterrupt is set between blocks.
// options.fProgress hears the rows done after each block.
class FrameReader {
public:
    static CodedData Read(const std::vector<FrameColumn>& columns, std::size_t nRows,
                          const PlanFn& plan, const ReadOptions& options,
                          const std::string& source = "data frame");
};

}  // namespace mchost
