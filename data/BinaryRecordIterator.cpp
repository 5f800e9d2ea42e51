#include "data/BinaryRecordIterator.h"

#include <new>
#include <utility>

#include "companion/MCAllocationGuard.h"

namespace MCCommon_850 {

BinaryRecordIterator::BinaryRecordIterator(FILE* file, int nValues)
    : fpFile(file), fNValues(nValues) {
    if (file == nullptr) {
        printf("Error: file handle is NULL in BinaryRecordIterator constructor");
        fFailReason = kIterReadError;
        return;
    }
    // A record of no values cannot be read at all; without this the stream
    // would yield empty records forever.
    if (nValues < 1) {
        fFailReason = kIterReadError;
        return;
    }
    try {
        fCurrent.Resize(nValues);
        fReadAhead.Resize(nValues);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fFailReason = kIterReadError;
        return;
    }
    ReadAhead();
}

// The read-ahead record becomes the current one (a swap, so no values are
// copied and nothing is allocated), then the next record is read into the
// read-ahead buffer. Counting bytes rather than doubles makes a trailing
// fragment shorter than one value a read error too, not an end of data.
void BinaryRecordIterator::ReadAhead() {
    std::swap(fCurrent, fReadAhead);
    if (fFailReason != kIterOK) return;
    const std::size_t want = static_cast<std::size_t>(fNValues) * sizeof(double);
    const std::size_t got = fread(fReadAhead.GetAll(), 1, want, fpFile);
    if (got == want) return;
    fFailReason = (got == 0 && feof(fpFile) != 0) ? kIterEnd : kIterReadError;
}

Record* BinaryRecordIterator::Next() {
    if (fFailReason != kIterOK) return nullptr;
    ReadAhead();
    return &fCurrent;
}

int BinaryRecordIterator::NewPass() {
    if (fpFile == nullptr || fNValues < 1 || fReadAhead.Size() != fNValues) {
        fFailReason = kIterReadError;
        return fFailReason;
    }
    if (fseek(fpFile, 0, SEEK_SET) != 0) {
        fFailReason = kIterReadError;
        return fFailReason;
    }
    fFailReason = kIterOK;
    ReadAhead();
    return fFailReason;
}

}  // namespace MCCommon_850
