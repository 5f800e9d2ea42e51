#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/fit/FittedModel.h"
#include "host/fit/GlmFit.h"
#include "host/fit/UsedData.h"

namespace mchost {

// Which tables --tests asks for: "1", "3" or "1,3". Throws HostError
// (usage) for anything else.
class TestTypes {
public:
    bool fbTypeI = false;
    bool fbTypeIII = false;

    static TestTypes Parse(const std::string& text);
    bool Any() const { return fbTypeI || fbTypeIII; }
};

// One row of an effect-test table. A general linear model fills the sum of
// squares, mean square and F (on df and the error df); a logistic model the
// Wald chi-square on df. What a row does not have is NaN; an effect whose
// columns are all redundant has df 0, sum of squares 0 and no test.
class EffectTestRow {
public:
    std::string fTerm;  // "Intercept", or the effect as written in the formula
    double fDF = kMissing;
    double fSS = kMissing;
    double fMeanSquare = kMissing;
    double fF = kMissing;
    double fChiSquare = kMissing;
    double fSig = kMissing;
    // The hypothesis lost rank to rounding: no test is given.
    bool fbRounding = false;
};

// The tests of the model's effects.
//
// General linear model: Type I (sequential) and Type III (partial) F tests
// with their sums of squares, each SS = (Lb)'(L G L')^-(Lb) for the effect's
// hypothesis matrix L and G the generalised inverse of X'WX, so that it is
// defined even where the F test is not (no error degrees of freedom). The
// corrected model tests every effect but the intercept (without an
// intercept: all of them, the model about zero); Error is the residual sum
// of squares; Total the weighted sum of squares of the dependent about zero
// and Corrected total about its mean.
//
// Logistic model: Wald chi-square tests of each effect across all logits
// (the effect's hypothesis for each non-reference category at once). Type
// III hypotheses are those of the design; Type I hypotheses are sequential
// in the frequency-weighted design, so, unlike sums of squares, the
// statistics of a table do not add up to the model's.
class EffectTests {
public:
    bool fbLogistic = false;
    bool fbIntercept = true;
    TestTypes fTypes;
    std::vector<EffectTestRow> fvTypeI, fvTypeIII;
    EffectTestRow fCorrectedModel;
    EffectTestRow fError;
    EffectTestRow fTotal;
    EffectTestRow fCorrectedTotal;
    // Tests left empty, and why.
    std::vector<std::string> fvWarnings;
};

// Told (effect, effects) as the tests of a general linear model reach each
// effect, for a display of how far they are.
using EffectProgress = std::function<void(int, int)>;

// The tests asked for. A general linear model needs its bordered cross
// products, kept by the fit or summed with the used data; its tests poll cancel at least once per
// effect and per pivot of a sweep, and throw HostError (interrupted) on a cancel. Throws
// LibraryError when the library fails.
EffectTests TestEffects(const FittedModel& model, const UsedData& used, const TestTypes& types,
                        MCCommon_850::MCQueryCancel* cancel = nullptr,
                        const EffectProgress& progress = {});

}  // namespace mchost
