#pragma once
#include "companion/MCExport.h"
#include "companion/Record.h"

namespace MCMath_850 {
class MCIterationReporter;
}  // namespace MCMath_850

namespace MCCommon_850 {

// Fail reasons of a record iterator.
enum : int { kIterOK = 0, kIterEnd = 1, kIterReadError = 3 };

// A stream of records. Next() returns null when none is left; the record it
// returns stays valid until the next call.
class MCREG_API RecordIterator {
public:
    virtual ~RecordIterator() = default;
    virtual bool HasMore() const = 0;
    virtual Record* Next() = 0;
    virtual int GetFailReason() const = 0;
};

// A stream that can be restarted; NewPass() returns the fail reason after
// the restart (0 when a record is available).
class MCREG_API MultiPassRecordIter : public RecordIterator {
public:
    virtual int NewPass() = 0;
};

// The host's cancel query: polled by the library, never owned.
class MCREG_API MCQueryCancel {
public:
    virtual ~MCQueryCancel() = default;
    virtual bool IsCancel() = 0;
};

// The host's progress sink: the library only stores and passes it on, and
// reports iterations of iterative fits through it.
class MCREG_API ProgressListener {
public:
    virtual ~ProgressListener() = default;
    // Called once per iteration; return value is ignored.
    virtual void Progress(int iteration, double logLikelihood) {
        (void)iteration, (void)logLikelihood;
    }
    // The whole report of one iteration of an iterative fit (estimates,
    // step-halvings, elapsed time). By default it is passed on to Progress.
    virtual void ReportIteration(const MCMath_850::MCIterationReporter& report);
};

}  // namespace MCCommon_850
