#include "host/analyses/SequentialSums.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "host/base/HostError.h"

namespace mchost {

using MCMath_850::Ix;
using MCMath_850::MCBitSet;
using MCMath_850::MCSymMatrix;

namespace {

// The residual sum of squares of a bordered matrix swept on some pivots,
// high and low parts apart, so that the difference of two keeps its digits.
struct Residual {
    double hi = 0.0;
    double lo = 0.0;
};

Residual ReadResidual(const MCSymMatrix& m) {
    const int y = m.GetNRows() - 1;
    return {m.GetElem(y, y), m.GetElemLow(y, y)};
}

// Whether the parameters first .. first + count - 1 share no record.
bool IsDiagonalBlock(const MCSymMatrix& m, int first, int count) {
    for (int j = first + 1; j < first + count; ++j)
        for (int k = first; k < j; ++k)
            if (m.GetElem(j, k) != 0.0) return false;
    return true;
}

void ThrowIfCancelled(bool swept) {
    if (!swept) throw HostError(HostError::kInterrupted, "interrupted");
}

// The principal submatrix of the first `leading` parameters, bordered by
// the dependent's row and column, low parts included.
MCSymMatrix LeadingBordered(const MCSymMatrix& bordered, int leading) {
    MCSymMatrix m(leading + 1);
    std::vector<int> cols, srcs;
    for (int k = 0; k < leading; ++k) {
        cols.push_back(k);
        srcs.push_back(k);
    }
    cols.push_back(leading);
    srcs.push_back(bordered.GetNRows() - 1);
    if (!m.AddMapped(bordered, cols.data(), srcs.data(), leading + 1)) throw std::bad_alloc();
    return m;
}

}  // namespace

SequentialSums ComputeSequentialSums(const MCSymMatrix& bordered, const std::vector<int>& first,
                                     const std::vector<int>& count, const MCBitSet& kept,
                                     const std::vector<double>& scale, double tol,
                                     const MCSymMatrix* fullySwept,
                                     MCCommon_850::MCQueryCancel* cancel,
                                     const std::function<void(int)>& progress) {
    const std::size_t nEffects = std::min(first.size(), count.size());
    MCMath_850::MCCancelInfo cancelInfo(cancel);

    // Which effects start afresh, and so how far each stretch of sweeps
    // reaches: a stretch works on the leading matrix up to its last effect,
    // not on the whole.
    std::vector<std::vector<int>> pivots(nEffects);
    std::vector<char> fresh(nEffects, 0);
    int keptBefore = 0;
    for (std::size_t e = 0; e < nEffects; ++e) {
        for (int k = first[e]; k < first[e] + count[e]; ++k)
            if (kept.IsIn(k)) pivots[e].push_back(k);
        const int size = static_cast<int>(pivots[e].size());
        fresh[e] = size >= 16 && size > keptBefore && IsDiagonalBlock(bordered, first[e], count[e]);
        keptBefore += size;
    }
    auto reach = [&](std::size_t e) {  // end of the stretch that e starts
        int end = 0;
        for (std::size_t f = e; f < nEffects && (f == e || !fresh[f]); ++f)
            end = std::max(end, first[f] + count[f]);
        return end;
    };

    SequentialSums sums;
    int leading = reach(0);
    MCSymMatrix m = LeadingBordered(bordered, leading);
    MCBitSet set(leading + 1);
    Residual before = ReadResidual(m);
    for (std::size_t e = 0; e < nEffects; ++e) {
        if (progress) progress(static_cast<int>(e));
        const int end = first[e] + count[e];
        Residual after;
        if (fresh[e] && e + 1 == nEffects && fullySwept != nullptr) {
            const Residual negated = ReadResidual(*fullySwept);
            after = {-negated.hi, -negated.lo};
        } else if (fresh[e]) {
            leading = reach(e);
            m = LeadingBordered(bordered, leading);
            set = MCBitSet(leading + 1);
            std::vector<double> leadingScale(scale.begin(), scale.begin() + leading);
            leadingScale.push_back(scale.back());
            ThrowIfCancelled(m.SweepLeading(end, tol, leadingScale, set, &cancelInfo));
            bool same = true;
            for (int k = 0; k < end && same; ++k) same = set.IsIn(k) == kept.IsIn(k);
            if (!same) {
                // Rounding decided otherwise than the fit: its decisions
                // are imposed.
                std::vector<int> all;
                for (int k = 0; k < end; ++k)
                    if (kept.IsIn(k)) all.push_back(k);
                m = LeadingBordered(bordered, leading);
                set = MCBitSet(leading + 1);
                ThrowIfCancelled(m.SweepPivots(all, 0.0, {}, set, false, &cancelInfo));
            }
            after = ReadResidual(m);
        } else {
            if (!pivots[e].empty())
                ThrowIfCancelled(m.SweepPivots(pivots[e], 0.0, {}, set, false, &cancelInfo));
            after = ReadResidual(m);
        }
        sums.fvSS.push_back((before.hi - after.hi) + (before.lo - after.lo));
        sums.fvDF.push_back(static_cast<int>(pivots[e].size()));
        before = after;
    }
    return sums;
}

}  // namespace mchost
