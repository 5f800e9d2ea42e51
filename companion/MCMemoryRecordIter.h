#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"

namespace MCCommon_850 {

// A multi-pass iterator over records held in memory. It owns its copy of the
// records; Next() hands out a copy of the stored record in a buffer of its
// own, so a caller that writes through the returned pointer cannot change
// the data seen by later passes.
//
// Like a file iterator it is positioned on the first record at construction
// and after NewPass(); the call of Next() that returns the last record also
// sets the fail reason 1 (end of data). An empty set gives 1 at once.
class MCREG_API MCMemoryRecordIter : public MultiPassRecordIter {
public:
    MCMemoryRecordIter() { Restart(); }
    explicit MCMemoryRecordIter(std::vector<Record> records) : fvRecords(std::move(records)) {
        Restart();
    }

    bool HasMore() const override { return fFailReason == kIterOK; }
    Record* Next() override;
    int GetFailReason() const override { return fFailReason; }
    int NewPass() override;

    // Appends a record; the current pass continues over it when it is not
    // finished, otherwise it is seen from the next pass on.
    void AddRecord(const Record& r);
    int Size() const { return static_cast<int>(fvRecords.size()); }
    const std::vector<Record>& GetRecords() const { return fvRecords; }
    // Number of NewPass() calls so far, construction excluded.
    int GetNPasses() const { return fNPasses; }

private:
    void Restart() {
        fNext = 0;
        fFailReason = fvRecords.empty() ? kIterEnd : kIterOK;
    }

    std::vector<Record> fvRecords;
    Record fCurrent;
    std::size_t fNext = 0;
    int fFailReason = kIterEnd;
    int fNPasses = 0;
};

}  // namespace MCCommon_850
