#pragma once
#include <atomic>

#include "companion/MCExport.h"
#include "companion/RecordIterator.h"

namespace MCMath_850 {

// Cancellation state shared between a pass and the thread that cancels it.
// The flag is atomic because SetCancel() may be called from another thread
// while a pass polls WillCancel().
class MCREG_API MCCancelInfo {
public:
    explicit MCCancelInfo(MCCommon_850::MCQueryCancel* query = nullptr) : fpQuery(query) {}
    MCCancelInfo(const MCCancelInfo& o) : fpQuery(o.fpQuery), fbCancel(o.fbCancel.load()) {}
    MCCancelInfo& operator=(const MCCancelInfo& o) {
        fpQuery = o.fpQuery;
        fbCancel.store(o.fbCancel.load());
        return *this;
    }

    // True once SetCancel() ran or the host's query reported a cancel; the
    // host's answer is remembered so later polls need not ask again.
    bool WillCancel() {
        if (fbCancel.load(std::memory_order_relaxed)) return true;
        if (fpQuery != nullptr && fpQuery->IsCancel()) {
            fbCancel.store(true);
            return true;
        }
        return false;
    }
    bool IsCancel() const { return fbCancel.load(std::memory_order_relaxed); }
    void SetCancel(bool on = true) { fbCancel.store(on); }
    void SetQuery(MCCommon_850::MCQueryCancel* query) { fpQuery = query; }
    MCCommon_850::MCQueryCancel* GetQuery() const { return fpQuery; }

private:
    MCCommon_850::MCQueryCancel* fpQuery = nullptr;
    std::atomic<bool> fbCancel{false};
};

}  // namespace MCMath_850
