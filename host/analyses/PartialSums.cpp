#include "host/analyses/PartialSums.h"

#include <cstddef>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "host/base/HostError.h"

namespace mchost {

using MCMath_850::Ix;
using MCMath_850::MCBitSet;
using MCMath_850::MCSymMatrix;

namespace {

namespace dd = MCMath_850::DoubleDouble;

// Adds a (hi, lo) times b to the running sum (hi, lo).
void AddProduct(dd::DD& sum, double aHi, double aLo, double b) {
    double p, e;
    dd::TwoProd(aHi, b, p, e);
    dd::Accumulate(sum.hi, sum.lo, p, e + aLo * b);
}

}  // namespace

PartialSum ComputePartialSum(const MCSymMatrix& crossProducts, int first, int count,
                             const MCBitSet& kept, const std::vector<double>& b,
                             const std::vector<double>& scale, double tol,
                             MCCommon_850::MCQueryCancel* cancel) {
    const int p = static_cast<int>(b.size());
    std::vector<int> others, own;
    for (int k = 0; k < p; ++k) {
        if (k < first || k >= first + count)
            others.push_back(k);
        else if (b[Ix(k)] != 0.0)
            own.push_back(k);
    }
    // Only v = b_e matters: the others' block bordered by X_o'X_e v and
    // v'X_e'X_e v, in extended precision, swept on the others' columns
    // leaves v' S_e v in its corner. No copy of X'WX is made, and its
    // effect block is read once, skipping its zeros (a factor's cells
    // share no record).
    const int o = static_cast<int>(others.size());
    std::vector<double> hi(Ix(o + 1) * Ix(o + 2) / 2, 0.0), lo(hi.size(), 0.0);
    auto at = [](int j, int k) { return Ix(j) * Ix(j + 1) / 2 + Ix(k); };  // k <= j
    for (int j = 0; j < o; ++j)
        for (int k = 0; k <= j; ++k) {
            hi[at(j, k)] = crossProducts.GetElem(others[Ix(j)], others[Ix(k)]);
            lo[at(j, k)] = crossProducts.GetElemLow(others[Ix(j)], others[Ix(k)]);
        }
    for (int j = 0; j < o; ++j) {
        dd::DD sum{0.0, 0.0};
        for (int k : own)
            AddProduct(sum, crossProducts.GetElem(others[Ix(j)], k),
                       crossProducts.GetElemLow(others[Ix(j)], k), b[Ix(k)]);
        hi[at(o, j)] = sum.hi;
        lo[at(o, j)] = sum.lo;
    }
    // Over the lower triangle, each packed row read in order: the terms
    // below the diagonal count twice.
    const double* packed = crossProducts.AsVector().data();
    dd::DD quad{0.0, 0.0};
    for (std::size_t jj = 0; jj < own.size(); ++jj) {
        const int j = own[jj];
        const double* row = packed + Ix(j) * Ix(j + 1) / 2;
        dd::DD sum{0.0, 0.0};
        for (std::size_t kk = 0; kk < jj; ++kk) {
            const int k = own[kk];
            if (row[k] != 0.0)
                AddProduct(sum, row[k], crossProducts.GetElemLow(j, k), 2.0 * b[Ix(k)]);
        }
        AddProduct(sum, row[j], crossProducts.GetElemLow(j, j), b[Ix(j)]);
        AddProduct(quad, sum.hi, sum.lo, b[Ix(j)]);
    }
    hi[at(o, o)] = quad.hi;
    lo[at(o, o)] = quad.lo;

    MCSymMatrix m(o + 1);
    std::vector<int> index(Ix(o + 1));
    std::vector<double> smallScale(Ix(o + 1), 0.0);
    for (int j = 0; j <= o; ++j) {
        index[Ix(j)] = j;
        if (j < o) smallScale[Ix(j)] = scale[Ix(others[Ix(j)])];
    }
    if (!m.AddMapped(hi.data(), lo.data(), o + 1, index.data(), index.data(), o + 1))
        throw std::bad_alloc();
    MCBitSet set(o + 1);
    MCMath_850::MCCancelInfo cancelInfo(cancel);
    std::vector<int> pivots(index.begin(), index.end() - 1);
    if (!m.SweepPivots(pivots, tol, smallScale, set, true, &cancelInfo))
        throw HostError(HostError::kInterrupted, "interrupted");

    PartialSum r;
    r.fDF = kept.Count() - set.Count();
    r.fSS = m.GetElem(o, o) + m.GetElemLow(o, o);
    return r;
}

}  // namespace mchost
