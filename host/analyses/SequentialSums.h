#pragma once
#include <functional>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSymMatrix.h"
#include "companion/RecordIterator.h"

namespace mchost {

// The sequential (Type I) sums of squares of a general linear model: for
// each effect in model order, how much the residual sum of squares falls
// when its parameters join those of the effects before it.
class SequentialSums {
public:
    std::vector<double> fvSS;  // per effect
    std::vector<int> fvDF;     // per effect: its pivots among the kept ones
};

// bordered is X'WX bordered by X'Wy and y'Wy (the dependent last); the
// effects are the ranges first[e] .. first[e] + count[e] - 1 of the
// parameters, in model order and so one after another; kept the fit's
// non-redundant parameters, whose decisions the sweeps take over. scale (one per
// row of bordered) is the fit's scale of the parameters (their spread) for
// the sweeps that decide pivots themselves. The residual sum of squares of
// each leading set of effects is read off sweeps in model order, in extended
// precision, so a sum of squares is a difference of two of them. Where an
// effect is a block of cells sharing no record (a factor or an interaction
// of factors) and larger than everything before it, the leading matrix is
// swept afresh, the block first, as the fit sweeps it: at the cost of the
// pivots before it instead of the block's own. Each stretch of sweeps works
// on the leading matrix of the effects it reaches. fullySwept, when given,
// is bordered swept on every kept pivot and negated (as the fit keeps it),
// whose residual stands for a last effect that would be swept afresh. cancel
// is polled once per pivot; progress(k) is called before the k-th effect.
// Throws HostError (interrupted) on a cancel.
SequentialSums ComputeSequentialSums(const MCMath_850::MCSymMatrix& bordered,
                                     const std::vector<int>& first, const std::vector<int>& count,
                                     const MCMath_850::MCBitSet& kept,
                                     const std::vector<double>& scale, double tol,
                                     const MCMath_850::MCSymMatrix* fullySwept,
                                     MCCommon_850::MCQueryCancel* cancel,
                                     const std::function<void(int)>& progress);

}  // namespace mchost
