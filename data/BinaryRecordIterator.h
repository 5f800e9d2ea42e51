#pragma once
#include <cstdio>

#include "companion/MCExport.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"

namespace MCCommon_850 {

// Records from a headerless binary file: each record nValues doubles in the
// byte order of the machine. The iterator reads one record ahead, so
// HasMore() is exact: after the call that returns the last complete record
// the fail reason is 1 (end of data), or 3 when a partial record follows;
// a partial record is never returned.
//
// The file is opened, positioned and closed by the host; the iterator only
// reads it and rewinds it for a new pass.
class MCREG_API BinaryRecordIterator : public MultiPassRecordIter {
public:
    BinaryRecordIterator(FILE* file, int nValues);
    BinaryRecordIterator(const BinaryRecordIterator&) = delete;
    BinaryRecordIterator& operator=(const BinaryRecordIterator&) = delete;

    bool HasMore() const override { return fFailReason == kIterOK; }
    // The next record, valid until the next call; null when none is left.
    Record* Next() override;
    int GetFailReason() const override { return fFailReason; }
    // Rewinds to the first record; returns the new fail reason.
    int NewPass() override;

    int GetNValues() const { return fNValues; }

private:
    void ReadAhead();

    Record fCurrent;
    Record fReadAhead;
    FILE* fpFile;
    int fNValues;
    int fFailReason = kIterOK;
};

}  // namespace MCCommon_850
