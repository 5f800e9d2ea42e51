#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

bool MCSymMatrix::MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
    const std::vector<double>& hi = fElems.Hi();
    const std::vector<double>& lo = fElems.Lo();
    std::vector<double> pairs(2 * hi.size());
    for (std::size_t i = 0; i < hi.size(); ++i) {
        pairs[2 * i] = hi[i];
        pairs[2 * i + 1] = lo.empty() ? 0.0 : lo[i];
    }
    if (!reducer.SumExtended(pairs)) return false;
    try {
        fElems.WriteLow();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    std::vector<double>& newHi = fElems.Write();
    std::vector<double>& newLo = fElems.WriteLow();
    for (std::size_t i = 0; i < newHi.size(); ++i) {
        // Renormalised so that the high part is the rounded sum.
        const double s = pairs[2 * i] + pairs[2 * i + 1];
        newLo[i] = pairs[2 * i + 1] - (s - pairs[2 * i]);
        newHi[i] = s;
    }
    return true;
}

}  // namespace MCMath_850
