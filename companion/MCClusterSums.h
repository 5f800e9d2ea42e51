#pragma once
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "companion/PassReducer.h"

namespace MCMath_850 {

// The score sums of the clusters of one cluster column (or of the
// intersections of two), for a cluster-robust covariance (internal to
// MCSandwich): per cluster u = sum over its records of weight * s, s a
// record's score over k parameters, in double-double.
//
// Records usually come cluster by cluster. The records of the current run
// (the same cluster one after another) are summed densely; when the run
// ends only its non-zero entries are kept, so a cluster costs the
// parameters its records touch rather than all k. A cluster met again in a
// later run gets a dense slot of k sums. Keys are looked up once per run:
// small whole numbers by direct index, others in an open-addressing table.
// When an earlier pass has found that no cluster comes back (singleRuns),
// nothing is kept or looked up: a cluster is done when its run closes.
class MCClusterSums {
public:
    using Key = std::pair<double, double>;

    // Forgets every cluster; scores have k entries. singleRuns: the caller
    // knows that every cluster's records come in one run (MCClusterRuns),
    // so that no cluster's sums need be kept once its run is over; ignored
    // where the run route is not taken (k above kTileOrder).
    bool Reset(int k, bool singleRuns = false);
    // Adds weight * values[i] to entry cols[i] (0 .. k - 1, distinct) of the
    // cluster of key. Throws std::bad_alloc when memory runs out.
    bool Add(const Key& key, const int* cols, const double* values, int n, double weight);
    long Count() const { return fbRunsOnly ? fRuns : static_cast<long>(fvKeys.size()); }
    // Whether the clusters' sums are being dropped as their runs close.
    bool IsRunsOnly() const { return fbRunsOnly; }
    // Each cluster's sums over all the processes of a split fit, by key
    // (keys must be whole numbers, the same on every process). False when
    // the reducer fails or a key is not a whole number, and under
    // singleRuns, whose sums are gone.
    bool Merge(MCCommon_850::PassReducer& reducer);
    // plain (the packed lower triangle of order k) += weight * u u' for
    // every cluster. While no cluster has come back after another, each
    // cluster's u u' was formed as its run closed; otherwise the clusters
    // are taken in key order, so that a split fit, whose processes all hold
    // the merged sums, adds them as one process.
    bool AddOuterProducts(double weight, std::vector<double>& plain);

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // Where a cluster's sums are: fCount entries from entry fAt, or
    // (fCount < 0) the dense slot at fAt of fvDense.
    struct Storage {
        std::size_t fAt = 0;
        long fCount = 0;
    };

    // The slot of a key, or kNone; a new key gets the next slot. Throws
    // std::bad_alloc when memory runs out.
    bool Slot(const Key& key, std::size_t& slot);
    std::size_t Find(const Key& key) const;  // slot, or kNone
    bool Insert(const Key& key, std::size_t slot);
    bool Grow();
    bool CloseRun();
    // The open run's entries in ascending order in fvRunCols.
    void OrderRun(std::size_t touched);
    // The open run's sums and marks back to 0.
    void ClearRun(std::size_t touched);
    // Asks for the stored sums of the new run's cluster, if any, ahead of
    // CloseRun.
    void StartRun();
    // The cluster's non-zero sums into fvU and their entries into fvNz,
    // ascending (so that an entry's pairs with those before it lie in the
    // lower triangle).
    void Gather(std::size_t slot);
    // The closed first run's u u' into the tile.
    void AddRunProducts(std::size_t touched);
    void FoldTile();

    std::size_t fK = 0;
    std::vector<Key> fvKeys;  // by slot
    std::vector<Storage> fvStorage;
    // Open addressing: slot + 1 per bucket, 0 when empty.
    std::vector<std::size_t> fvTable;
    // Keys (v, 0) with v a whole number in [0, kDirect) (the codes of a
    // text column, numbered clusters) go by direct index: slot + 1, or 0.
    static constexpr double kDirect = 1 << 22;
    std::vector<unsigned> fvDirect;
    // The entries of the clusters' first runs, in blocks of fBlock (a run
    // never straddles two): allocated once, never moved, and left
    // uninitialised, so that memory is taken only as entries are written.
    struct Block {
        std::unique_ptr<int[]> fpCols;
        std::unique_ptr<double[]> fpSums;  // (hi, lo) pairs
    };
    std::vector<Block> fvBlocks;
    std::size_t fBlock = 0;
    std::size_t fEntryEnd = 0;
    // The first of n new entries; throws std::bad_alloc when memory runs
    // out.
    bool Append(std::size_t n, std::size_t& at);
    int* Cols(std::size_t at) const { return fvBlocks[at / fBlock].fpCols.get() + at % fBlock; }
    double* Sums(std::size_t at) const {
        return fvBlocks[at / fBlock].fpSums.get() + 2 * (at % fBlock);
    }
    std::vector<double> fvDense;  // k (hi, lo) pairs per dense slot
    // The open run: its slot, its sums ((hi, lo) pairs over k) and the
    // entries it touched.
    std::size_t fRunSlot = kNone;
    std::vector<double> fvRun;
    std::vector<int> fvRunCols;  // k, the first fRunCount used
    std::size_t fRunCount = 0;
    double* fpRunDense = nullptr;  // the open run's dense slot, if it has one
    std::vector<char> fvRunMark;
    // Scratch of AddOuterProducts.
    std::vector<double> fvU;
    std::vector<int> fvNz;
    // Records that come cluster by cluster close each cluster for good
    // (which is known only at the end): its u u' is formed as its run
    // closes, while its sums are at hand, into a tile of plain doubles
    // (packed lower triangle) that is added to fvClosed ((hi, lo) pairs)
    // every fTileClusters clusters, which bounds the tile's rounding. A
    // cluster met again, or a merge, drops both for the sums kept.
    static constexpr long kTileClusters = 512;
    static constexpr std::size_t kTileOrder = 1024;
    long fTileClusters = kTileClusters;
    bool fbRunProducts = true;
    std::vector<double> fvTile;
    std::vector<double> fvClosed;
    long fTileCount = 0;
    // singleRuns: only the open run's key, and the runs so far.
    bool fbRunsOnly = false;
    bool fbRunOpen = false;
    Key fRunKey;
    long fRuns = 0;
};

}  // namespace MCMath_850
