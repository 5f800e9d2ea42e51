#pragma once
#include <cstddef>
#include <functional>
#include <utility>

#include "companion/RecordIterator.h"

namespace mchost {

// Passes another multi-pass iterator through unchanged and reports how far
// each pass has got: the library has no progress callback for the passes
// of a linear model, so the host counts the records it hands out.
class ProgressIterator : public MCCommon_850::MultiPassRecordIter {
public:
    // Called with the pass (1 for the first NewPass) and the records handed
    // out in it, every `every` records, at each new pass and when a pass
    // hands out its last record (what follows is the work between passes,
    // such as the sweep after pass 2).
    using Callback = std::function<void(int pass, std::size_t records)>;

    ProgressIterator(MCCommon_850::MultiPassRecordIter& inner, Callback callback,
                     std::size_t every = 1 << 16)
        : fInner(inner), fCallback(std::move(callback)), fEvery(every == 0 ? 1 : every) {}

    bool HasMore() const override { return fInner.HasMore(); }
    MCCommon_850::Record* Next() override {
        MCCommon_850::Record* r = fInner.Next();
        if (r != nullptr && fCallback && (++fNRecords % fEvery == 0 || !fInner.HasMore()))
            fCallback(fPass, fNRecords);
        return r;
    }
    int GetFailReason() const override { return fInner.GetFailReason(); }
    int NewPass() override {
        ++fPass;
        fNRecords = 0;
        if (fCallback) fCallback(fPass, 0);
        return fInner.NewPass();
    }

    int GetNPasses() const { return fPass; }

private:
    MCCommon_850::MultiPassRecordIter& fInner;
    Callback fCallback;
    std::size_t fEvery;
    int fPass = 0;
    std::size_t fNRecords = 0;
};

}  // namespace mchost
