#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "companion/Record.h"
#include "companion/RecordIterator.h"

namespace mchost {

// Records assembled from columns held in memory: position j of a record is
// row i of column j. One record buffer is reused for every row, so a pass
// over a million rows allocates nothing. The columns are not owned and
// must outlive the iterator.
//
// Like the library's iterators it is positioned on the first record at
// construction and after NewPass(); the call of Next() that returns the
// last record sets the fail reason to end of data.
class ColumnRecordIter : public MCCommon_850::MultiPassRecordIter {
public:
    ColumnRecordIter(std::vector<const double*> columns, std::size_t nRows)
        : fvColumns(std::move(columns)),
          fNRows(nRows),
          fRecord(static_cast<int>(fvColumns.size())) {}

    bool HasMore() const override { return fNext < fNRows; }
    MCCommon_850::Record* Next() override {
        if (fNext >= fNRows) return nullptr;
        double* out = fRecord.GetAll();
        for (std::size_t j = 0; j < fvColumns.size(); ++j) out[j] = fvColumns[j][fNext];
        ++fNext;
        return &fRecord;
    }
    int GetFailReason() const override {
        return fNext < fNRows ? MCCommon_850::kIterOK : MCCommon_850::kIterEnd;
    }
    int NewPass() override {
        fNext = 0;
        return GetFailReason();
    }

    std::size_t GetNRows() const { return fNRows; }

private:
    std::vector<const double*> fvColumns;
    std::size_t fNRows;
    std::size_t fNext = 0;
    MCCommon_850::Record fRecord;
};

}  // namespace mchost
