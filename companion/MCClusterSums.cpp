#include "companion/MCClusterSums.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "companion/DoubleDouble.h"

namespace MCMath_850 {

namespace {

std::uint64_t Bits(double v) {
    v += 0.0;  // -0 and +0 are one key
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::size_t Hash(const MCClusterSums::Key& key) {
    // splitmix64's finaliser over both halves.
    std::uint64_t h = Bits(key.first) * 0x9E3779B97F4A7C15ull ^ Bits(key.second);
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return static_cast<std::size_t>(h);
}

// Asks for 2 MiB pages over the aligned part of a block: a million
// clusters take their memory in a few hundred faults rather than a few
// hundred thousand. A hint, whose failure changes nothing.
void HugePages(void* p, std::size_t bytes) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// The first entry of row a of a packed lower triangle.
std::size_t Row(int a) {
    const std::size_t r = static_cast<std::size_t>(a);
    return r * (r + 1) / 2;
}

constexpr std::size_t kLine = 64;

// A hint to load a cache line (for writing soon); changes no result.
void Prefetch(const void* p) {
#if defined(__GNUC__)
    __builtin_prefetch(p, 1);
#else
    (void)p;
#endif
}

void AddPair(double* at, double hi, double lo) {
    const DoubleDouble::DD s = DoubleDouble::Add(DoubleDouble::DD{at[0], at[1]}, {hi, lo});
    at[0] = s.hi;
    at[1] = s.lo;
}

// tri (a packed lower triangle) += weight * u u' over the entries nz
// (ascending, so that an entry's pairs with those before it lie in the lower
// triangle) of the n values u.
void AddProducts(const int* nz, const double* u, std::size_t n, double weight, double* tri) {
    // Four rows at a time: each entry before them is read once for all
    // four. Every entry of the triangle gets one product per call, in
    // whatever order, so the sums do not depend on the grouping.
    std::size_t i = 0;
    for (; i + 3 < n; i += 4) {
        double* r0 = tri + Row(nz[i]);
        double* r1 = tri + Row(nz[i + 1]);
        double* r2 = tri + Row(nz[i + 2]);
        double* r3 = tri + Row(nz[i + 3]);
        const double u0 = weight * u[i], u1 = weight * u[i + 1];
        const double u2 = weight * u[i + 2], u3 = weight * u[i + 3];
        for (std::size_t j = 0; j <= i; ++j) {
            const std::size_t c = static_cast<std::size_t>(nz[j]);
            const double uj = u[j];
            r0[c] += u0 * uj;
            r1[c] += u1 * uj;
            r2[c] += u2 * uj;
            r3[c] += u3 * uj;
        }
        // The corner among the four.
        const std::size_t c1 = static_cast<std::size_t>(nz[i + 1]);
        const std::size_t c2 = static_cast<std::size_t>(nz[i + 2]);
        const std::size_t c3 = static_cast<std::size_t>(nz[i + 3]);
        r1[c1] += u1 * u[i + 1];
        r2[c1] += u2 * u[i + 1];
        r2[c2] += u2 * u[i + 2];
        r3[c1] += u3 * u[i + 1];
        r3[c2] += u3 * u[i + 2];
        r3[c3] += u3 * u[i + 3];
    }
    for (; i < n; ++i) {
        double* row = tri + Row(nz[i]);
        const double ua = weight * u[i];
        for (std::size_t j = 0; j <= i; ++j) row[static_cast<std::size_t>(nz[j])] += ua * u[j];
    }
}

}  // namespace

bool MCClusterSums::Reset(int k, bool singleRuns) {
    fK = k > 0 ? static_cast<std::size_t>(k) : 0;
    fvKeys.clear();
    fvStorage.clear();
    fvTable.clear();
    fvBlocks.clear();
    fBlock = std::max(fK, std::size_t{1} << 19);
    fEntryEnd = 0;
    fvDense.clear();
    fvDirect.clear();
    fRunSlot = kNone;
    fpRunDense = nullptr;
    fRunCount = 0;
    fvRunCols.assign(fK + 1, 0);
    fvRun.assign(2 * fK, 0.0);
    fvRunMark.assign(fK, 0);
    fvTable.assign(64, 0);
    // Past kTileOrder the tile and its sums would outweigh the clusters.
    fbRunProducts = fK <= kTileOrder;
    fvTile.assign(fbRunProducts ? fK * (fK + 1) / 2 : 0, 0.0);
    fvClosed.assign(2 * fvTile.size(), 0.0);
    // A fold costs the whole tile: spread it over enough clusters.
    fTileClusters = std::max(kTileClusters, static_cast<long>(fvTile.size() / 64));
    fTileCount = 0;
    fvU.assign(fK, 0.0);
    fbRunsOnly = singleRuns && fbRunProducts;
    fbRunOpen = false;
    fRuns = 0;
    return true;
}

std::size_t MCClusterSums::Find(const Key& key) const {
    const std::size_t mask = fvTable.size() - 1;
    for (std::size_t b = Hash(key) & mask;; b = (b + 1) & mask) {
        const std::size_t entry = fvTable[b];
        if (entry == 0) return kNone;
        if (fvKeys[entry - 1] == key) return entry - 1;
    }
}

bool MCClusterSums::Insert(const Key& key, std::size_t slot) {
    // At most half full, so a probe ends soon.
    if (2 * (fvKeys.size() + 1) > fvTable.size() && !Grow()) return false;
    const std::size_t mask = fvTable.size() - 1;
    std::size_t b = Hash(key) & mask;
    while (fvTable[b] != 0) b = (b + 1) & mask;
    fvTable[b] = slot + 1;
    return true;
}

bool MCClusterSums::Grow() {
    std::vector<std::size_t> table;
    table.assign(2 * fvTable.size(), 0);
    const std::size_t mask = table.size() - 1;
    for (std::size_t slot = 0; slot < fvKeys.size(); ++slot) {
        std::size_t b = Hash(fvKeys[slot]) & mask;
        while (table[b] != 0) b = (b + 1) & mask;
        table[b] = slot + 1;
    }
    fvTable.swap(table);
    return true;
}

bool MCClusterSums::Add(const Key& key, const int* cols, const double* values, int n,
                        double weight) {
    if (fbRunsOnly) {
        if (!fbRunOpen || !(fRunKey == key)) {
            if (!CloseRun()) return false;
            fbRunOpen = true;
            fRunKey = key;
            ++fRuns;
        }
    } else if (fRunSlot == kNone || !(fvKeys[fRunSlot] == key)) {
        std::size_t slot;
        if (!CloseRun() || !Slot(key, slot)) return false;
        fRunSlot = slot;
        StartRun();
    }
    // In locals: the marks' stores could otherwise alias every member.
    double* run = fvRun.data();
    char* mark = fvRunMark.data();
    int* touched = fvRunCols.data();
    std::size_t count = fRunCount;
    for (int i = 0; i < n; ++i) {
        const std::size_t c = static_cast<std::size_t>(cols[i]);
        if (fpRunDense != nullptr) Prefetch(fpRunDense + 2 * c);
        touched[count] = cols[i];
        count += mark[c] == 0;
        mark[c] = 1;
        // (hi, lo) pairs: a cluster's scores nearly cancel (the residuals
        // are orthogonal to the design), and a split fit adds them in
        // another order.
        DoubleDouble::Accumulate(run[2 * c], run[2 * c + 1], weight * values[i], 0.0);
    }
    fRunCount = count;
    return true;
}

void MCClusterSums::StartRun() {
    // A cluster met again is added to its stored sums when the run closes,
    // by then (the records' other work in between) with their cache lines
    // at hand rather than a miss per entry.
    const Storage& s = fvStorage[fRunSlot];
    fpRunDense = s.fCount < 0 ? fvDense.data() + s.fAt : nullptr;
    if (s.fCount > 0) {
        const std::size_t n = static_cast<std::size_t>(s.fCount);
        for (std::size_t b = 0; b < n * sizeof(int); b += kLine)
            Prefetch(reinterpret_cast<const char*>(Cols(s.fAt)) + b);
        for (std::size_t b = 0; b < 2 * n * sizeof(double); b += kLine)
            Prefetch(reinterpret_cast<const char*>(Sums(s.fAt)) + b);
    }
}

bool MCClusterSums::Slot(const Key& key, std::size_t& slot) {
    const double v = key.first;
    const bool direct = key.second == 0.0 && v >= 0.0 && v < kDirect &&
                        v == static_cast<double>(static_cast<long>(v));
    unsigned* at = nullptr;
    if (direct) {
        const std::size_t i = static_cast<std::size_t>(v);
        if (i >= fvDirect.size()) fvDirect.resize(std::max(2 * i, std::size_t{1024}), 0u);
        at = &fvDirect[i];
        if (*at != 0) {
            slot = *at - 1;
            return true;
        }
    } else if ((slot = Find(key)) != kNone) {
        return true;
    }
    slot = fvKeys.size();
    fvKeys.push_back(key);
    fvStorage.emplace_back();
    if (direct) {
        *at = static_cast<unsigned>(slot + 1);
        return true;
    }
    return Insert(key, slot);
}

bool MCClusterSums::Append(std::size_t n, std::size_t& at) {
    const std::size_t offset = fEntryEnd % fBlock;
    at = offset + n > fBlock ? fEntryEnd - offset + fBlock : fEntryEnd;
    while (at / fBlock >= fvBlocks.size()) {
        Block b;
        b.fpCols.reset(new int[fBlock]);
        b.fpSums.reset(new double[2 * fBlock]);
        HugePages(b.fpCols.get(), fBlock * sizeof(int));
        HugePages(b.fpSums.get(), 2 * fBlock * sizeof(double));
        fvBlocks.push_back(std::move(b));
    }
    fEntryEnd = at + n;
    return true;
}

void MCClusterSums::OrderRun(std::size_t touched) {
    // Read off the marks when they are many, sorted when they are few.
    if (touched * 16 > fK) {
        // Without branches: m <= c, so no mark is overwritten before read.
        std::size_t m = 0;
        for (std::size_t c = 0; c < fK; ++c) {
            fvRunCols[m] = static_cast<int>(c);
            m += fvRunMark[c] != 0;
        }
    } else {
        std::sort(fvRunCols.begin(), fvRunCols.begin() + static_cast<std::ptrdiff_t>(touched));
    }
}

void MCClusterSums::ClearRun(std::size_t touched) {
    for (std::size_t e = 0; e < touched; ++e) {
        const std::size_t i = static_cast<std::size_t>(fvRunCols[e]);
        fvRun[2 * i] = fvRun[2 * i + 1] = 0.0;
        fvRunMark[i] = 0;
    }
    fRunCount = 0;
}

bool MCClusterSums::CloseRun() {
    const std::size_t touched = fRunCount;
    if (fbRunsOnly) {
        // The cluster is over for good: its u u', and nothing kept.
        if (!fbRunOpen) return true;
        OrderRun(touched);
        AddRunProducts(touched);
        ClearRun(touched);
        fbRunOpen = false;
        return true;
    }
    if (fRunSlot == kNone) return true;
    const auto cols = fvRunCols.begin(), colsEnd = cols + static_cast<std::ptrdiff_t>(touched);
    Storage& s = fvStorage[fRunSlot];
    // A first run's entries are kept in ascending order, for
    // AddOuterProducts; a later run's go to a dense slot in any order.
    if (s.fCount == 0) {
        // The cluster's first run: its entries.
        OrderRun(touched);
        if (!Append(touched, s.fAt)) return false;
        s.fCount = static_cast<long>(touched);
        std::copy(cols, colsEnd, Cols(s.fAt));
        double* to = Sums(s.fAt);
        for (std::size_t e = 0; e < touched; ++e) {
            const std::size_t c = static_cast<std::size_t>(fvRunCols[e]);
            to[2 * e] = fvRun[2 * c];
            to[2 * e + 1] = fvRun[2 * c + 1];
        }
        if (fbRunProducts) AddRunProducts(touched);
    } else {
        fbRunProducts = false;
        if (s.fCount > 0) {
            // Met again: a dense slot, with the entries of its first run.
            const std::size_t at = fvDense.size();
            fvDense.resize(at + 2 * fK, 0.0);
            const int* firstCols = Cols(s.fAt);
            const double* firstSums = Sums(s.fAt);
            for (long e = 0; e < s.fCount; ++e) {
                const std::size_t c = static_cast<std::size_t>(firstCols[e]);
                fvDense[at + 2 * c] = firstSums[2 * e];
                fvDense[at + 2 * c + 1] = firstSums[2 * e + 1];
            }
            s.fAt = at;
            s.fCount = -1;
        }
        double* dense = fvDense.data() + s.fAt;
        for (auto c = cols; c != colsEnd; ++c) {
            const std::size_t i = 2 * static_cast<std::size_t>(*c);
            AddPair(dense + i, fvRun[i], fvRun[i + 1]);
        }
    }
    ClearRun(touched);
    fRunSlot = kNone;
    return true;
}

bool MCClusterSums::Merge(MCCommon_850::PassReducer& reducer) {
    // Every process learns every key, numbers the union in key order and
    // puts its sums in their slots; the slots are then summed.
    if (fbRunsOnly || !CloseRun()) return false;
    std::vector<int> mine;
    bool whole = true;
    for (const Key& key : fvKeys) {
        const double a = key.first, b = key.second;
        whole = whole && a == static_cast<double>(static_cast<int>(a)) &&
                b == static_cast<double>(static_cast<int>(b));
        mine.push_back(static_cast<int>(a));
        mine.push_back(static_cast<int>(b));
    }
    std::vector<double> flag{whole ? 0.0 : 1.0};
    if (!reducer.Sum(flag) || flag[0] > 0.0) return false;
    std::vector<std::vector<int>> all;
    if (!reducer.Gather(mine, all)) return false;
    std::vector<std::pair<int, int>> keys;
    for (const std::vector<int>& part : all)
        for (std::size_t i = 0; i + 1 < part.size(); i += 2)
            keys.emplace_back(part[i], part[i + 1]);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::vector<double> sums;
    sums.assign(keys.size() * 2 * fK, 0.0);
    for (std::size_t slot = 0; slot < fvKeys.size(); ++slot) {
        const std::pair<int, int> key(static_cast<int>(fvKeys[slot].first),
                                      static_cast<int>(fvKeys[slot].second));
        const std::size_t at = static_cast<std::size_t>(
            std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
        double* to = sums.data() + at * 2 * fK;
        const Storage& s = fvStorage[slot];
        if (s.fCount < 0) {
            std::copy(fvDense.begin() + static_cast<std::ptrdiff_t>(s.fAt),
                      fvDense.begin() + static_cast<std::ptrdiff_t>(s.fAt + 2 * fK), to);
            continue;
        }
        const int* cols = Cols(s.fAt);
        const double* entries = Sums(s.fAt);
        for (long e = 0; e < s.fCount; ++e) {
            const std::size_t c = static_cast<std::size_t>(cols[e]);
            to[2 * c] = entries[2 * e];
            to[2 * c + 1] = entries[2 * e + 1];
        }
    }
    if (!reducer.SumExtended(sums)) return false;
    // The merged clusters, in key order, each a dense slot.
    if (!Reset(static_cast<int>(fK))) return false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::size_t slot;
        if (!Slot(Key(keys[i].first, keys[i].second), slot)) return false;
        fvStorage[slot].fAt = slot * 2 * fK;
        fvStorage[slot].fCount = -1;
    }
    fvDense = std::move(sums);
    fbRunProducts = false;
    return true;
}

void MCClusterSums::AddRunProducts(std::size_t touched) {
    double* u = fvU.data();
    for (std::size_t e = 0; e < touched; ++e) {
        const std::size_t i = 2 * static_cast<std::size_t>(fvRunCols[e]);
        u[e] = fvRun[i] + fvRun[i + 1];
    }
    AddProducts(fvRunCols.data(), u, touched, 1.0, fvTile.data());
    if (++fTileCount >= fTileClusters) FoldTile();
}

void MCClusterSums::FoldTile() {
    for (std::size_t e = 0; e < fvTile.size(); ++e) {
        AddPair(fvClosed.data() + 2 * e, fvTile[e], 0.0);
        fvTile[e] = 0.0;
    }
    fTileCount = 0;
}

void MCClusterSums::Gather(std::size_t slot) {
    fvNz.clear();
    const Storage& s = fvStorage[slot];
    if (s.fCount < 0) {
        const double* dense = fvDense.data() + s.fAt;
        for (std::size_t c = 0; c < fK; ++c) {
            const double u = dense[2 * c] + dense[2 * c + 1];
            if (u == 0.0) continue;
            fvU[fvNz.size()] = u;
            fvNz.push_back(static_cast<int>(c));
        }
        return;
    }
    const int* cols = Cols(s.fAt);
    const double* sums = Sums(s.fAt);
    for (long e = 0; e < s.fCount; ++e) {
        const double u = sums[2 * e] + sums[2 * e + 1];
        if (u == 0.0) continue;
        fvU[fvNz.size()] = u;
        fvNz.push_back(cols[e]);
    }
}

bool MCClusterSums::AddOuterProducts(double weight, std::vector<double>& plain) {
    if (!CloseRun()) return false;
    if (fbRunProducts) {
        FoldTile();
        for (std::size_t e = 0; e < plain.size(); ++e)
            plain[e] += weight * (fvClosed[2 * e] + fvClosed[2 * e + 1]);
        return true;
    }
    std::vector<std::size_t> order;
    fvU.assign(fK, 0.0);
    fvNz.reserve(fK);
    order.resize(fvKeys.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto byKey = [this](std::size_t a, std::size_t b) { return fvKeys[a] < fvKeys[b]; };
    // Clusters usually meet their records in key order.
    if (!std::is_sorted(order.begin(), order.end(), byKey))
        std::sort(order.begin(), order.end(), byKey);
    for (std::size_t slot : order) {
        Gather(slot);
        AddProducts(fvNz.data(), fvU.data(), fvNz.size(), weight, plain.data());
    }
    return true;
}

}  // namespace MCMath_850
