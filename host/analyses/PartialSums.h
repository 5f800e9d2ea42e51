#pragma once
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSymMatrix.h"
#include "companion/RecordIterator.h"

namespace mchost {

// The sum of squares that an effect adds to all the other effects of a
// general linear model, R(e | others) = b_e' S_e b_e, with S_e its block of
// X'WX swept on the columns of the others (what the others leave of its
// columns) and b_e its estimates: the Type III sum of squares of an effect
// that no other contains. Only b_e matters, so the others' block bordered
// by X_o'X_e b_e and b_e'X_e'X_e b_e is swept, in extended precision: work
// of the others' order cubed and one read of the effect's block, where the
// quadratic form of the effect's hypothesis costs its order cubed.
class PartialSum {
public:
    double fSS = 0.0;
    // The columns the effect adds: the rank of X less that of the others.
    int fDF = 0;
};

// crossProducts is X'WX (possibly bordered by the dependent, which is left
// alone), the effect the parameters first .. first + count - 1, kept the
// fit's non-redundant parameters, b the estimates (0 where redundant), and
// scale and tol decide which of the others' columns sweep, as the fit
// decides. cancel is polled once per pivot; a cancel throws HostError
// (interrupted).
PartialSum ComputePartialSum(const MCMath_850::MCSymMatrix& crossProducts, int first, int count,
                             const MCMath_850::MCBitSet& kept, const std::vector<double>& b,
                             const std::vector<double>& scale, double tol,
                             MCCommon_850::MCQueryCancel* cancel);

}  // namespace mchost
