#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"
#include "host/fit/FittedModel.h"
#include "host/score/AliasingCheck.h"

namespace mchost {

// Which linear functions of a general linear model's parameters the data
// determine. The column of an aliased parameter is a combination of the
// kept ones' columns (the swept cross products hold its coefficients,
// negated, beside the generalised inverse), so a function c'b is estimable
// when its weight on each aliased parameter is what its weights on the
// kept ones give that column. A mean over a term aliased with a term that
// does not contain it (a factor that another one determines, a covariate
// constant within a factor's categories) fails this: the estimates'
// zeros would stand for the aliased parameters' effects and every such
// mean come out alike.
class Estimability {
public:
    // A row of L, or a difference of two, by its non-zero coefficients in
    // ascending parameter order.
    using Sparse = AliasingCheck::Sparse;

    // Of a general linear model's fit with its cross products kept; of any
    // other, every function counts as estimable.
    explicit Estimability(const FittedModel& m);

    // The covariance the variances of the rows come from, for Precise (on
    // the probability scale of the rows' gradients there).
    void SetCovariance(const MCMath_850::MCSymMatrix* covariance) { fpCovariance = covariance; }

    static Sparse Row(const MCMath_850::MCRectMatrix& L, int row);
    static Sparse Difference(const Sparse& a, const Sparse& b) { return Plus(a, -1.0, b); }
    // a + f b.
    static Sparse Plus(const Sparse& a, double f, const Sparse& b);

    // Whether `variance`, computed as c'Vc, keeps its digits. With a
    // covariate far from zero (a timestamp) the terms of c'Vc are many
    // orders larger than their sum, which rounding then leaves at 0 or any
    // small number: a standard error of 0 and an interval of no width, said
    // as if exact. Eight digits lost leave about eight.
    bool Precise(const Sparse& c, double variance) const;
    bool Estimable(const Sparse& c) const;

private:
    AliasingCheck fAliasing;
    const MCMath_850::MCSymMatrix* fpCovariance = nullptr;
};

}  // namespace mchost
