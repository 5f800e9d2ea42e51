#include "companion/MCMemoryRecordIter.h"

namespace MCCommon_850 {

int MCMemoryRecordIter::NewPass() {
    ++fNPasses;
    Restart();
    return fFailReason;
}

Record* MCMemoryRecordIter::Next() {
    if (fFailReason != kIterOK) return nullptr;
    fCurrent = fvRecords[fNext++];
    if (fNext >= fvRecords.size()) fFailReason = kIterEnd;
    return &fCurrent;
}

void MCMemoryRecordIter::AddRecord(const Record& r) {
    fvRecords.push_back(r);
    // A pass still running goes on over the new record; a finished one
    // stays finished until the next NewPass().
}

}  // namespace MCCommon_850
