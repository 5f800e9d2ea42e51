#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace MCMath_850 {

// Whether the records of every cluster of a cluster column come together,
// one run per cluster, as they are read (a pass ahead of the one that sums
// the clusters' scores, so that it can keep no sums once a run is over).
// Costs a look-up per run, not per record: a bit per key for small whole
// numbers, an open-addressing set of the others.
class MCClusterRuns {
public:
    void Reset();
    // The next record's cluster key. Throws std::bad_alloc when memory runs
    // out.
    void Add(double key) {
        if (fbOpen && key == fLast) return;
        NewRun(key);
    }
    // True when no key has come back after another; false after a
    // failure to record a key (MarkUnknown).
    bool SingleRuns() const { return fbSingle; }
    long Runs() const { return fRuns; }
    // The answer is not known (memory ran out): as if a cluster came back.
    void MarkUnknown() { fbSingle = false; }

private:
    void NewRun(double key);
    // True when bits were already in the set; adds them otherwise.
    bool TestAndSetHashed(std::uint64_t bits);

    bool fbOpen = false;
    bool fbSingle = true;
    double fLast = 0.0;
    long fRuns = 0;
    // Whole numbers in [0, kDirect): one bit each.
    static constexpr double kDirect = 1 << 24;
    std::vector<std::uint64_t> fvDirect;
    // Other keys by their bits (+0 for -0); 0 marks an empty bucket, so
    // the key with bits 0 (+0) goes by direct index.
    std::vector<std::uint64_t> fvHashed;
    std::size_t fNHashed = 0;
};

}  // namespace MCMath_850
