#include "host/SequentialSums.h"

#include <cstddef>

#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "host/HostError.h"

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

}  // namespace

SequentialSums ComputeSequentialSums(const MCSymMatrix& bordered, const std::vector<int>& first,
                                     const std::vector<int>& count, const MCBitSet& kept,
                                     const std::vector<double>& scale, double tol,
                                     MCCommon_850::MCQueryCancel* cancel,
                                     const std::function<void(int)>& progress) {
    const int n = bordered.GetNRows();
    MCMath_850::MCCancelInfo cancelInfo(cancel);
    SequentialSums sums;
    MCSymMatrix m = bordered;
    MCBitSet set(n);
    Residual before = ReadResidual(m);
    int keptBefore = 0;
    for (std::size_t e = 0; e < first.size() && e < count.size(); ++e) {
        if (progress) progress(static_cast<int>(e));
        std::vector<int> pivots;
        for (int k = first[e]; k < first[e] + count[e]; ++k)
            if (kept.IsIn(k)) pivots.push_back(k);
        const int end = first[e] + count[e];
        const int size = static_cast<int>(pivots.size());
        if (size >= 16 && size > keptBefore && IsDiagonalBlock(bordered, first[e], count[e])) {
            m = bordered;
            set = MCBitSet(n);
            ThrowIfCancelled(m.SweepLeading(end, tol, scale, set, &cancelInfo));
            bool same = true;
            for (int k = 0; k < end && same; ++k) same = set.IsIn(k) == kept.IsIn(k);
            if (!same) {
                // Rounding decided otherwise than the fit: its decisions
                // are imposed.
                std::vector<int> leading;
                for (int k = 0; k < end; ++k)
                    if (kept.IsIn(k)) leading.push_back(k);
                m = bordered;
                set = MCBitSet(n);
                ThrowIfCancelled(m.SweepPivots(leading, 0.0, {}, set, false, &cancelInfo));
            }
        } else if (size > 0) {
            ThrowIfCancelled(m.SweepPivots(pivots, 0.0, {}, set, false, &cancelInfo));
        }
        const Residual after = ReadResidual(m);
        sums.fvSS.push_back((before.hi - after.hi) + (before.lo - after.lo));
        sums.fvDF.push_back(size);
        before = after;
        keptBefore += size;
    }
    return sums;
}

}  // namespace mchost
