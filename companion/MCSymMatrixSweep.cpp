// MCSymMatrix: the sweep, one pivot at a time and over a leading set of
// pivots in an order that keeps the matrix sparse for as long as it can.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/DoubleDoubleRows.h"
#include "companion/MCAllocationGuard.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

namespace dd = DoubleDouble;

namespace {

// A diagonal run shorter than this is swept in index order: planning it
// would save little.
constexpr int kMinRun = 16;

// Start of packed row n.
std::size_t Packed(std::size_t n) {
    return n * (n + 1) / 2;
}

// Position of element (i, j), j <= i.
std::size_t At(std::size_t i, std::size_t j) {
    return Packed(i) + j;
}

bool IsZero(const dd::DD& v) {
    return v.hi == 0.0 && v.lo == 0.0;
}

// The rank-one update of a sweep, a_ij -= c_i f_j for j <= i, over a sparse
// pivot column: rows[a] (ascending) with c = col[a] != 0 and f = f[a].
// Elements whose f is 0 are skipped, as a dense update skips them.
template <bool kFma>
MC_DD_INLINE void ListKernel(double* hi, double* lo, const int* rows, const dd::DD* col,
                             const dd::DD* f, std::size_t m) {
    for (std::size_t a = 0; a < m; ++a) {
        const dd::DD ci = col[a];
        const std::size_t row = Packed(Ix(rows[a]));
        for (std::size_t b = 0; b <= a; ++b) {
            if (IsZero(f[b])) continue;
            const std::size_t e = row + Ix(rows[b]);
            const dd::DD r = dd::Sub(dd::DD{hi[e], lo[e]}, dd::Mul<kFma>(ci, f[b]));
            hi[e] = r.hi;
            lo[e] = r.lo;
        }
    }
}

// The same over a dense column: col and f have n entries, 0 at the pivot
// and wherever the column is 0.
void DenseUpdate(double* hi, double* lo, std::size_t n, const dd::DD* col, const dd::DD* f) {
    for (std::size_t i = 0; i < n; ++i) {
        if (IsZero(col[i])) continue;
        const std::size_t row = Packed(i);
        dd::SubScaled(hi + row, lo + row, col[i], f, i + 1);
    }
}

MC_DD_TARGET_FMA void ListFma(double* hi, double* lo, const int* rows, const dd::DD* col,
                              const dd::DD* f, std::size_t m) {
    ListKernel<true>(hi, lo, rows, col, f, m);
}
void ListPortable(double* hi, double* lo, const int* rows, const dd::DD* col, const dd::DD* f,
                  std::size_t m) {
    ListKernel<false>(hi, lo, rows, col, f, m);
}

// Decides the pivots of a diagonal run as index order would, before any of
// them is swept. In index order run pivot k meets the matrix swept on the
// pivots kept before the run (K) and on the run's pivots kept before k;
// its pivot then is its residual on all of them, d = a_kk - c' B^-1 c,
// where c is column k's part in K (no earlier run pivot touches it: the
// run's block is diagonal) and B the block of K after the run's earlier
// pivots were swept. y holds that block swept on K, -B^-1, so d = a_kk +
// c' y c; keeping k then sweeps it out of y as a sweep would, y -= z z' / d
// with z = -y c, which is y for the next pivot. The work per pivot is that
// of the small matrix, not of the whole.
class RunDecider {
public:
    // kept: the pivots kept before the run; y: their block swept on them,
    // packed. y is held as a full square, so that its columns, which z
    // runs down, are contiguous as its rows are.
    RunDecider(std::vector<int> kept, std::vector<dd::DD> y)
        : fvKept(std::move(kept)),
          fvY(fvKept.size() * fvKept.size()),
          fvC(fvKept.size()),
          fvZ(fvKept.size()),
          fvF(fvKept.size()) {
        const std::size_t m = fvKept.size();
        for (std::size_t a = 0; a < m; ++a)
            for (std::size_t b = 0; b <= a; ++b) fvY[a * m + b] = fvY[b * m + a] = y[At(a, b)];
    }

    // Whether run pivot k of the matrix (hi, lo; lo null when all low parts
    // are 0) is kept under the tolerance test of Sweep.
    bool Decide(const double* hi, const double* lo, std::size_t k, double tol, double scale) {
        const std::size_t m = fvKept.size();
        fvNz.clear();
        for (std::size_t a = 0; a < m; ++a) {
            const std::size_t e = At(k, Ix(fvKept[a]));
            fvC[a] = dd::DD{hi[e], lo != nullptr ? lo[e] : 0.0};
            if (!IsZero(fvC[a])) fvNz.push_back(a);
        }
        const std::size_t kk = At(k, k);
        dd::DD d{hi[kk], lo != nullptr ? lo[kk] : 0.0};
        std::fill(fvZ.begin(), fvZ.end(), dd::DD{0.0, 0.0});
        for (std::size_t b : fvNz) dd::SubScaledBy(fvZ.data(), &fvY[b * m], fvC[b], m, false);
        for (std::size_t b : fvNz) d = dd::Sub(d, dd::Mul(fvC[b], fvZ[b]));
        if (d.hi == 0.0 || !std::isfinite(d.hi) || std::fabs(d.hi) <= tol * scale) return false;
        const dd::DD inv = dd::Div(dd::DD{1.0, 0.0}, d);
        for (std::size_t a = 0; a < m; ++a) fvF[a] = dd::Mul(fvZ[a], inv);
        for (std::size_t a = 0; a < m; ++a) {
            if (IsZero(fvZ[a])) continue;
            dd::SubScaled(&fvY[a * m], fvZ[a], fvF.data(), a + 1);
            for (std::size_t b = 0; b < a; ++b) fvY[b * m + a] = fvY[a * m + b];
        }
        return true;
    }

private:
    std::vector<int> fvKept;
    std::vector<dd::DD> fvY;  // m x m, row-major
    std::vector<dd::DD> fvC, fvZ, fvF;
    std::vector<std::size_t> fvNz;
};

}  // namespace

class MCSymMatrix::SweepWork {
public:
    std::vector<int> fvRows;  // rows of the pivot column's non-zeros, the pivot left out
    std::vector<dd::DD> fvCol;
    std::vector<dd::DD> fvF;  // fvCol / a_kk
    std::vector<dd::DD> fvDenseCol, fvDenseF;
};

bool MCSymMatrix::Sweep(int k, double tol, const std::vector<double>& scale, MCBitSet& set,
                        bool checkTol) {
    SweepWork work;
    return SweepPivot(k, nullptr, tol, scale, set, checkTol, work);
}

bool MCSymMatrix::SweepPivot(int k, const std::vector<int>* rows, double tol,
                             const std::vector<double>& scale, MCBitSet& set, bool checkTol,
                             SweepWork& w) {
    if (k < 0 || k >= fN) return false;
    if (set.Size() < fN) set.Resize(fN);
    const bool reverse = set.IsIn(k);
    const std::size_t n = Ix(fN);
    const std::size_t pivot = Ix(k);
    const std::size_t kk = At(pivot, pivot);
    const dd::DD a{fElems.Hi()[kk], fElems.HasLow() ? fElems.Lo()[kk] : 0.0};
    if (a.hi == 0.0 || !std::isfinite(a.hi)) return false;
    if (!reverse && checkTol) {
        if (scale.size() <= pivot) return false;
        if (std::fabs(a.hi) <= tol * scale[pivot]) return false;
    }
    try {
        fElems.WriteLow();
        w.fvRows.clear();
        w.fvCol.clear();
        w.fvF.clear();
        const double* hi = fElems.Hi().data();
        const double* lo = fElems.Lo().data();
        const auto take = [&](std::size_t i) {
            const std::size_t e = i < pivot ? At(pivot, i) : At(i, pivot);
            if (hi[e] == 0.0 && lo[e] == 0.0) return;
            w.fvRows.push_back(static_cast<int>(i));
            w.fvCol.push_back(dd::DD{hi[e], lo[e]});
        };
        if (rows != nullptr) {
            for (int i : *rows) take(Ix(i));
        } else {
            for (std::size_t i = 0; i < n; ++i)
                if (i != pivot) take(i);
        }
        w.fvF.resize(w.fvCol.size());
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    double* hi = fElems.Write().data();
    double* lo = fElems.WriteLow().data();
    const std::size_t m = w.fvRows.size();
    const dd::DD inv = dd::Div(dd::DD{1.0, 0.0}, a);
    for (std::size_t e = 0; e < m; ++e) w.fvF[e] = dd::Mul(w.fvCol[e], inv);
    // A column with many non-zeros is spread out, so that the update runs
    // over whole packed rows rather than through the index list.
    const bool dense = 4 * m > n;
    if (dense) {
        try {
            w.fvDenseCol.assign(n, dd::DD{0.0, 0.0});
            w.fvDenseF.assign(n, dd::DD{0.0, 0.0});
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            return false;
        }
        for (std::size_t e = 0; e < m; ++e) {
            w.fvDenseCol[Ix(w.fvRows[e])] = w.fvCol[e];
            w.fvDenseF[Ix(w.fvRows[e])] = w.fvF[e];
        }
    }
    if (dense)
        DenseUpdate(hi, lo, n, w.fvDenseCol.data(), w.fvDenseF.data());
    else if (dd::HasFma())
        ListFma(hi, lo, w.fvRows.data(), w.fvCol.data(), w.fvF.data(), m);
    else
        ListPortable(hi, lo, w.fvRows.data(), w.fvCol.data(), w.fvF.data(), m);
    for (std::size_t e = 0; e < m; ++e) {
        const std::size_t i = Ix(w.fvRows[e]);
        const std::size_t at = i < pivot ? At(pivot, i) : At(i, pivot);
        const dd::DD v = reverse ? dd::Neg(w.fvF[e]) : w.fvF[e];
        hi[at] = v.hi;
        lo[at] = v.lo;
    }
    hi[kk] = -inv.hi;
    lo[kk] = -inv.lo;
    set.Set(k, !reverse);
    return true;
}

bool MCSymMatrix::FindDiagonalRun(int count, int& first, int& end) const {
    const double* hi = fElems.Hi().data();
    int start = 0;
    first = end = 0;
    for (int i = 0; i < count; ++i) {
        // A run that ends at i starts after the last non-zero of row i left
        // of its diagonal.
        const double* row = hi + Packed(Ix(i));
        for (int j = i - 1; j >= start; --j) {
            if (row[j] != 0.0) {
                start = j + 1;
                break;
            }
        }
        if (i + 1 - start > end - first) {
            first = start;
            end = i + 1;
        }
    }
    return end - first >= 2;
}

bool MCSymMatrix::SweepLeading(int count, double tol, const std::vector<double>& scale,
                               MCBitSet& set, MCCancelInfo* cancel, std::vector<int>* order) {
    count = std::max(0, std::min(count, fN));
    if (set.Size() < fN) set.Resize(fN);
    if (order != nullptr) order->clear();
    SweepWork work;
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->WillCancel(); };
    const auto sweep = [&](int k, const std::vector<int>* rows, bool checkTol) {
        if (SweepPivot(k, rows, tol, scale, set, checkTol, work) && order != nullptr)
            order->push_back(k);
    };
    int first = 0;
    int end = 0;
    const bool plan = set.InRange(0, count) == 0 && scale.size() >= Ix(count) &&
                      FindDiagonalRun(count, first, end) && end - first >= kMinRun;
    if (!plan) {
        std::vector<int> all(Ix(count));
        for (int k = 0; k < count; ++k) all[Ix(k)] = k;
        return SweepList(all, tol, scale, set, true, cancel, order);
    }

    // The pivots before the run are decided by sweeping a copy of their
    // block, which is exactly what index order does to it.
    std::vector<int> kept;
    std::vector<dd::DD> y;
    std::vector<int> outside;  // the rows outside the run
    try {
        MCSymMatrix lead;
        if (!CopyLeadingBlock(first, lead)) return false;
        MCBitSet leadSet(first);
        for (int k = 0; k < first; ++k)
            lead.SweepPivot(k, nullptr, tol, scale, leadSet, true, work);
        for (int k = 0; k < first; ++k)
            if (leadSet.IsIn(k)) kept.push_back(k);
        const double* lh = lead.fElems.Hi().data();
        const double* ll = lead.fElems.HasLow() ? lead.fElems.Lo().data() : nullptr;
        for (std::size_t a = 0; a < kept.size(); ++a)
            for (std::size_t b = 0; b <= a; ++b) {
                const std::size_t e = At(Ix(kept[a]), Ix(kept[b]));
                y.push_back(dd::DD{lh[e], ll != nullptr ? ll[e] : 0.0});
            }
        for (int i = 0; i < fN; ++i)
            if (i < first || i >= end) outside.push_back(i);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }

    // The run's decisions, then its kept pivots swept, each touching only
    // the rows outside the run where its column is not 0.
    std::vector<int> runKept;
    {
        std::unique_ptr<RunDecider> decider;
        try {
            decider = std::make_unique<RunDecider>(kept, std::move(y));
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            return false;
        }
        const double* hi = fElems.Hi().data();
        const double* lo = fElems.HasLow() ? fElems.Lo().data() : nullptr;
        for (int k = first; k < end; ++k) {
            if (cancelled()) return false;
            if (decider->Decide(hi, lo, Ix(k), tol, scale[Ix(k)])) runKept.push_back(k);
        }
    }
    for (int k : runKept) sweep(k, &outside, false);

    // The pivots before the run, already decided, then those after it,
    // which meet every earlier pivot swept, as in index order.
    if (!SweepList(kept, tol, scale, set, false, cancel, order)) return false;
    std::vector<int> after;
    for (int k = end; k < count; ++k) after.push_back(k);
    return SweepList(after, tol, scale, set, true, cancel, order);
}

}  // namespace MCMath_850
