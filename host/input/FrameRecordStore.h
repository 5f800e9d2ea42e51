#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/input/RecordStore.h"

namespace mchost {

// Row row of a column of numbers stride bytes apart: float64 values, or
// (integers non-null) int64 ones as the doubles nearest them.
inline double StridedNumber(const double* numbers, const std::int64_t* integers,
                            std::ptrdiff_t stride, std::size_t row) {
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row) * stride;
    if (integers != nullptr)
        return static_cast<double>(
            *reinterpret_cast<const std::int64_t*>(reinterpret_cast<const char*>(integers) + at));
    return *reinterpret_cast<const double*>(reinterpret_cast<const char*>(numbers) + at);
}

// Row row of contiguous category codes of bytes (1, 2 or 4) bytes each.
inline std::int32_t CodeAt(const void* codes, int bytes, std::size_t row) {
    switch (bytes) {
        case 1:
            return static_cast<const std::int8_t*>(codes)[row];
        case 2:
            return static_cast<const std::int16_t*>(codes)[row];
        default:
            return static_cast<const std::int32_t*>(codes)[row];
    }
}

// The records of a table its caller holds in memory (a data frame's
// columns), made on the fly from the columns where they lie instead of
// copied: a pass costs a record's worth of memory, not the table's. The
// records are those a stored reading would hold: a number as it is (NaN
// missing), a category as the code the reading gave it.
//
// The caller's memory must stay alive while the store or an iterator
// exists. Whether it also stayed unchanged since the reading can be asked
// (Unchanged), so that a later pass refuses rather than reads other data.
class FrameRecordStore : public RecordStore {
public:
    // One record value's cells: numbers (float64 or int64) at a stride, or
    // codes (int8, int16 or int32) turned
    // into the record's value through a table (a code outside it, such as
    // a negative one, is missing).
    class Source {
    public:
        const double* fpNumbers = nullptr;
        const std::int64_t* fpIntegers = nullptr;
        std::ptrdiff_t fStride = sizeof(double);
        const void* fpCodes = nullptr;
        int fCodeBytes = 4;
        std::vector<double> fvValueOfCode;
    };

    FrameRecordStore(std::vector<Source> sources, std::size_t nRows);

    // While the table is read and coded: room for n records that nobody
    // reads back, as the records are the columns.
    double* Append(std::size_t n) override;
    // Takes the table's fingerprint.
    void Finish() override;
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeRangeIterator(
        std::size_t begin, std::size_t end) const override;
    bool IsStreaming() const override { return false; }
    bool IsBorrowed() const override { return true; }
    bool Unchanged() const override { return Fingerprint() == fFingerprint; }

    // Value j's codes map to the record values in valueOfCode.
    void SetCodeValues(std::size_t j, std::vector<double> valueOfCode);
    // Value j is read from codes the reader made for it (a numeric column
    // coded as categories), numbered as the record values, -1 missing.
    void SetOwnCodes(std::size_t j, std::vector<std::int32_t> codes, std::size_t nCodes);

private:
    // A hash of every cell the records are made from.
    std::uint64_t Fingerprint() const;

    std::vector<Source> fvSources;
    std::vector<std::vector<std::int32_t>> fvOwnCodes;  // per value; empty unless converted
    std::vector<double> fvScratch;
    std::size_t fNRows;
    std::uint64_t fFingerprint = 0;
};

}  // namespace mchost
