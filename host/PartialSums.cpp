#include "host/PartialSums.h"

#include <cmath>
#include <cstddef>

#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "host/HostError.h"

namespace mchost {

using MCMath_850::Ix;
using MCMath_850::MCBitSet;
using MCMath_850::MCSymMatrix;

PartialSum ComputePartialSum(const MCSymMatrix& crossProducts, int first, int count,
                             const MCBitSet& kept, const std::vector<double>& b,
                             const std::vector<double>& scale, double tol,
                             MCCommon_850::MCQueryCancel* cancel) {
    const int p = static_cast<int>(b.size());
    std::vector<int> others;
    for (int k = 0; k < p; ++k)
        if (k < first || k >= first + count) others.push_back(k);
    MCSymMatrix m = crossProducts;
    MCBitSet set(m.GetNRows());
    MCMath_850::MCCancelInfo cancelInfo(cancel);
    if (!m.SweepPivots(others, tol, scale, set, true, &cancelInfo))
        throw HostError(HostError::kInterrupted, "interrupted");

    PartialSum r;
    r.fDF = kept.Count() - set.Count();
    // b_e' S_e b_e, each term in extended precision and summed with
    // compensation: S_e's rows nearly cancel against each other where the
    // others explain much of the effect.
    double sum = 0.0, carry = 0.0;
    auto add = [&](double x) {
        const double t = sum + x;
        carry += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    };
    for (int j = first; j < first + count; ++j) {
        const double bj = b[Ix(j)];
        if (bj == 0.0) continue;
        for (int k = first; k < first + count; ++k) {
            const double bk = b[Ix(k)];
            if (bk == 0.0) continue;
            add(bj * bk * m.GetElem(j, k));
            add(bj * bk * m.GetElemLow(j, k));
        }
    }
    r.fSS = sum + carry;
    return r;
}

}  // namespace mchost
