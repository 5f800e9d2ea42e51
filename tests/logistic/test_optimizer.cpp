// The optimizer's control flow on a log-likelihood whose every value is
// known: l(b) = -sqrt(1 + b^2) for one parameter. Its Newton step from b is
// -b (1 + b^2), which overshoots badly away from 0, so step-halving, the
// halving limit, the iteration limit, the convergence rules, singular
// information, separation codes, reports and cancellation can each be
// driven and checked against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCIterationReporter.h"
#include "companion/MCMV.h"
#include "companion/MCSymMatrix.h"
#include "design/MCRegrParameter.h"
#include "logistic/MCRegOptimizer.h"
#include "settings/MCLogRegSettings.h"
#include "stub_model.h"

using namespace MCMath_850;
using MCCommon_850::MCStatus;

namespace {

// Only what the optimizer asks of a model: one non-redundant parameter and
// two categories.
class OneParameterModel : public modeltest::StubModel {
public:
    int GetNParameters() const override { return 1; }
    int GetNNonRedParams() const override { return 1; }
    int GetNBasicParameters() const override { return 1; }
    int GetNBasicNonRed() const override { return 1; }
    int GetDependentNCategs() const override { return 2; }
};

// l(b) = -sqrt(1 + b^2) * scale with score and information at the
// estimates; the information can be made singular and the probability
// extremes of the separation check set by hand.
class CurveAccum : public IMCAccumStats {
public:
    explicit CurveAccum(const std::vector<double>& b) : fB(b) {}
    bool Reset(MCConst::MCHessianCompMethod, bool check) override {
        fbChecked = check;
        return true;
    }
    bool CheckConstraints() override { return true; }
    int UpdateForRow(const std::vector<int>&, const std::vector<double>&, int, double,
                     bool) override {
        return 0;
    }
    void Evaluate() {
        const double b = fB[0], r = std::sqrt(1.0 + b * b);
        fLL = -scale * r - (passes > 0 ? llDrop : 0.0);
        // Rounding of the score: +-scoreNoise, the sign alternating from
        // pass to pass.
        const double noise = passes % 2 == 0 ? scoreNoise : -scoreNoise;
        fScore.assign(1, -scale * b / r + noise);
        fInfo = singular ? 0.0 : scale / (r * r * r);
        ++passes;
    }
    double GetLL() const override { return fLL; }
    double GetLLRoundingBound() const override { return llBound; }
    bool GetScoreRoundingBounds(std::vector<double>& bounds) const override {
        if (!scoreBounds) return false;
        bounds.assign(1, scoreNoise);
        return true;
    }
    const std::vector<double>& GetScores() const override { return fScore; }
    bool GetHessian(MCSymMatrix& h) const override {
        if (h.GetNRows() != 1) h.Resize(1);
        h.SetElem(0, 0, fInfo);
        return true;
    }
    void GetCounts(int& valid, int& invalid, double& w) const override {
        valid = 10, invalid = 0, w = 10.0;
    }
    void GetMinMaxProbabilities(double& minObs, double& maxObs, double& minComp) const override {
        minObs = fbChecked ? minObserved : 1e300;
        maxObs = fbChecked ? maxObserved : -1e300;
        minComp = fbChecked ? minComputed : 1e300;
    }
    double GetStepAdjustmentFactor() const override { return 1.0; }
    void Display(bool) const override {}

    double scale = 1.0;
    bool singular = false;
    // Every pass after the first reports a log-likelihood lower by llDrop;
    // llBound is the bound on its rounding that the accumulator reports.
    double llDrop = 0.0, llBound = 0.0;
    // The score's rounding and whether the accumulator reports it.
    double scoreNoise = 0.0;
    bool scoreBounds = false;
    double minObserved = 0.5, maxObserved = 0.5, minComputed = 0.2;
    int passes = 0;

private:
    const std::vector<double>& fB;
    double fLL = 0.0;
    std::vector<double> fScore;
    double fInfo = 0.0;
    bool fbChecked = false;
};

class CurveHandler : public IMCDataHandler {
public:
    explicit CurveHandler(CurveAccum& a, MCCancelInfo* cancel = nullptr, int cancelAt = -1)
        : fAccum(a), fpCancel(cancel), fCancelAt(cancelAt) {}
    void SetStatsModel(IMCAccumStats*, const IMCRegModel*) override {}
    bool ResetAccumStats(MCConst::MCHessianCompMethod m, bool check) override {
        return fAccum.Reset(m, check);
    }
    void CleanStatsModel() override {}
    MCStatus ComputeStatsForOptimizer(bool) override {
        fAccum.Evaluate();
        if (fpCancel != nullptr && fAccum.passes == fCancelAt) fpCancel->SetCancel();
        return MCStatus();
    }
    const std::vector<MCStatus>& GetWarnings() const override { return fvNone; }
    void Display() const override {}

private:
    CurveAccum& fAccum;
    MCCancelInfo* fpCancel;
    int fCancelAt;
    std::vector<MCStatus> fvNone;
};

struct Recorder : MCCommon_850::ProgressListener {
    std::vector<int> iterations, halvings;
    std::vector<double> estimates;
    void ReportIteration(const MCIterationReporter& r) override {
        iterations.push_back(r.GetIteration());
        halvings.push_back(r.GetHalvings());
        estimates.push_back(r.GetEstimates()[0]);
    }
};

struct CurveRun {
    std::vector<double> b;
    CurveAccum accum{b};
    int code = -1;
    MCStatus status;
    Recorder reports;
    int iterations = 0;
    double ll0 = 0, ll = 0, dll = 0, dpar = 0, stepSize = 0;
    double cs = 0, ng = 0, mf = 0;
    bool rsq = false;
    std::vector<double> variance;

    // No intercept, so that one parameter with two categories iterates.
    void Go(double start, MCLogRegSettings s, MCCancelInfo* cancel = nullptr, int cancelAt = -1) {
        s.SetInterceptUse(false);
        b.assign(1, start);
        OneParameterModel model;
        CurveHandler handler(accum, cancel, cancelAt);
        MCRegOptimizer opt(s, model, &handler, &accum, b, &reports, 1, MCConst::HESSIAN_FISHER, 0,
                           cancel);
        status = opt.Estimate();
        code = opt.GetConverCrit();
        opt.GetEstStats(iterations, ll0, ll, dll, dpar);
        stepSize = opt.GetFinalStepSize();
        rsq = opt.ComputeRSquares(cs, ng, mf);
        if (opt.GetHessianGI() != nullptr) variance.push_back(opt.GetHessianGI()->GetElem(0, 0));
    }
};

}  // namespace

TEST(Optimizer, StepHalvingFindsAnAscentAndConverges) {
    // From b = 2 the Newton step is -10: l(-8) and l(-3) are below l(2), the
    // quarter step to -0.5 is accepted; then Newton converges to 0 cubically.
    CurveRun r;
    r.Go(2.0, MCLogRegSettings());
    ASSERT_TRUE(r.status.IsOK());
    EXPECT_EQ(r.code, MCConst::CONVERGENCE_PARAMETERS);
    ASSERT_GE(r.reports.halvings.size(), 2u);
    EXPECT_EQ(r.reports.iterations[0], 0);
    EXPECT_EQ(r.reports.estimates[0], 2.0);
    EXPECT_EQ(r.reports.halvings[1], 2);
    EXPECT_DOUBLE_EQ(r.reports.estimates[1], -0.5);
    // -0.5 -> -0.5 + 0.5 * 1.25 = 0.125 -> ... -> 0.
    EXPECT_DOUBLE_EQ(r.reports.estimates[2], 0.125);
    EXPECT_LT(std::fabs(r.b[0]), 1e-12);
    EXPECT_DOUBLE_EQ(r.ll0, -std::sqrt(5.0));
    EXPECT_DOUBLE_EQ(r.ll, -1.0);
    // The inverse information at the maximum: (1 + 0)^(3/2) / 1.
    ASSERT_EQ(r.variance.size(), 1u);
    EXPECT_NEAR(r.variance[0], 1.0, 1e-12);
    // R-squares from l0 = -sqrt 5, l = -1 and W = 10.
    ASSERT_TRUE(r.rsq);
    EXPECT_NEAR(r.cs, 1.0 - std::exp(2.0 * (1.0 - std::sqrt(5.0)) / 10.0), 1e-15);
    EXPECT_NEAR(r.ng, r.cs / (1.0 - std::exp(-2.0 * std::sqrt(5.0) / 10.0)), 1e-15);
    EXPECT_NEAR(r.mf, 1.0 - 1.0 / std::sqrt(5.0), 1e-15);
}

TEST(Optimizer, LimitsAndCriteriaGiveTheirCodes) {
    {
        // One halving allowed: the full and the half step both lower l, so
        // the run ends at the start of the iteration.
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetMaxStepHalvingValue(1));
        CurveRun r;
        r.Go(2.0, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_HALVING_EXHAUSTED);
        EXPECT_EQ(r.b[0], 2.0);
        EXPECT_EQ(r.iterations, 1);
        EXPECT_EQ(r.dll, 0.0);
        EXPECT_EQ(r.dpar, 0.0);
    }
    {
        // A criterion of 0 is never met: the iteration limit ends the run.
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetParamEstConCriterion(0.0));
        EXPECT_TRUE(s.SetMaxIterations(7));
        CurveRun r;
        r.Go(0.3, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_MAX_ITERATIONS);
        EXPECT_EQ(r.iterations, 7);
    }
    {
        // Zero iterations: nothing to iterate, the start and its variance.
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetMaxIterations(0));
        CurveRun r;
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_NOTHING_TO_ITERATE);
        EXPECT_EQ(r.b[0], 0.5);
        // The start is the final model: l = -sqrt(1 + 0.25) at both ends.
        EXPECT_DOUBLE_EQ(r.ll0, -std::sqrt(1.25));
        EXPECT_EQ(r.ll, r.ll0);
        ASSERT_EQ(r.variance.size(), 1u);
        EXPECT_NEAR(r.variance[0], std::pow(1.25, 1.5), 1e-12);
        EXPECT_FALSE(r.rsq);
        EXPECT_EQ(r.cs, 0.0);
    }
    {
        // The absolute log-likelihood rule alone: from b = 0.5 the first step
        // goes to -0.125, changing l by sqrt(1.25) - sqrt(1 + 1/64) = 0.11025.
        // A criterion just above it converges (code 1) after one iteration.
        MCLogRegSettings s;
        s.SetLLFuncChange(true);
        EXPECT_TRUE(s.SetLLConCriterion(0.111));
        EXPECT_TRUE(s.SetParamEstConCriterion(0.0));
        CurveRun r;
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_LOGLIKELIHOOD);
        EXPECT_EQ(r.iterations, 1);
        EXPECT_NEAR(r.dll, std::sqrt(1.25) - std::sqrt(1.0 + 1.0 / 64.0), 1e-15);
    }
    {
        // Both rules met in the same iteration: from 1e-4 the step to -1e-12
        // changes l by 5e-9 (relative) and b by 1e-4 (absolute).
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetLLConCriterion(1e-3));
        s.SetParamEstChange(true);
        EXPECT_TRUE(s.SetParamEstConCriterion(1e-3));
        CurveRun r;
        r.Go(1e-4, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_BOTH);
        EXPECT_EQ(r.iterations, 1);
        EXPECT_NEAR(r.dpar, 1e-4 + 1e-12, 1e-18);
    }
    {
        // Singular information after the first step.
        CurveRun r;
        r.accum.singular = true;
        r.Go(0.5, MCLogRegSettings());
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_SINGULAR);
    }
}

TEST(Optimizer, SeparationCodesOnlyFromTheStartingIteration) {
    MCLogRegSettings s;
    EXPECT_TRUE(s.SetParamEstConCriterion(0.0));
    EXPECT_TRUE(s.SetStartingIteration(3));
    {
        // Every observed response fitted with probability >= 0.99.
        CurveRun r;
        r.accum.minObserved = 0.995;
        r.accum.maxObserved = 0.999;
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_COMPLETE_SEPARATION);
        EXPECT_EQ(r.iterations, 3);
    }
    {
        // Fitted probabilities short of the margin: no separation code.
        CurveRun r;
        r.accum.minObserved = 0.98;
        r.accum.maxObserved = 0.999;
        EXPECT_TRUE(s.SetMaxIterations(6));
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_MAX_ITERATIONS);
    }
    {
        // A starting iteration of 0 never checks.
        MCLogRegSettings never = s;
        EXPECT_TRUE(never.SetStartingIteration(0));
        EXPECT_TRUE(never.SetMaxIterations(5));
        CurveRun r;
        r.accum.minObserved = 0.995;
        r.accum.maxObserved = 0.999;
        r.Go(0.5, never);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_MAX_ITERATIONS);
    }
}

TEST(Optimizer, CancelBetweenIterationsStopsWithStatusOne) {
    MCLogRegSettings s;
    EXPECT_TRUE(s.SetParamEstConCriterion(0.0));
    MCCancelInfo cancel;
    CurveRun r;
    r.Go(0.5, s, &cancel, 3);
    EXPECT_EQ(r.status.GetErrorCode(), 1);
    EXPECT_TRUE(r.status.IsError());
    EXPECT_LE(r.iterations, 3);
    EXPECT_TRUE(r.variance.size() == 1u);
}

TEST(Optimizer, AFallWithinTheRoundingBoundIsNoLoss) {
    // From b = 0.5 the first step to -0.125 raises l by 0.11, but every pass
    // after the first reports l lower by 1: a loss of 0.89, all halvings too.
    {
        CurveRun r;
        r.accum.llDrop = 1.0;
        r.Go(0.5, MCLogRegSettings());
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_HALVING_EXHAUSTED);
        EXPECT_EQ(r.b[0], 0.5);
        EXPECT_EQ(r.iterations, 1);
    }
    // The same fall within the rounding bounds of the two passes (0.45 each)
    // is no loss: the step is taken, and Newton converges.
    {
        CurveRun r;
        r.accum.llDrop = 1.0;
        r.accum.llBound = 0.45;
        r.Go(0.5, MCLogRegSettings());
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_PARAMETERS);
        ASSERT_GE(r.reports.halvings.size(), 2u);
        EXPECT_EQ(r.reports.halvings[1], 0);
        EXPECT_DOUBLE_EQ(r.reports.estimates[1], -0.125);
        EXPECT_LT(std::fabs(r.b[0]), 1e-12);
    }
}

TEST(Optimizer, AStepWithinTheRoundingOfTheScoresEndsTheRun) {
    // The score is off by +-1e-9, the sign alternating: at the maximum
    // (b = 0, information 1) the estimate swings between -1e-9 and 1e-9, so
    // the relative parameter change never falls below the criterion (1e-6
    // of max(|b|, 1e-6)), and the log-likelihood does not change in double.
    const double noise = 1e-9;
    {
        // Without a bound on the score's rounding the run goes on to the
        // iteration limit.
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetMaxIterations(30));
        CurveRun r;
        r.accum.scoreNoise = noise;
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_MAX_ITERATIONS);
        EXPECT_EQ(r.iterations, 30);
        EXPECT_LT(std::fabs(r.b[0]), 3 * noise);
    }
    {
        // With the bound, a Newton decrement within twice the step's own
        // rounding (noise times the standard error 1) means the maximum is
        // reached: one more step, and the parameter criterion counts as met.
        CurveRun r;
        r.accum.scoreNoise = noise;
        r.accum.scoreBounds = true;
        r.Go(0.5, MCLogRegSettings());
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_PARAMETERS);
        EXPECT_LE(r.iterations, 6);
        EXPECT_LT(std::fabs(r.b[0]), 3 * noise);
        EXPECT_LE(r.stepSize, 3 * noise);
        EXPECT_EQ(r.reports.halvings.back(), 0);
    }
    {
        // A parameter criterion of 0 still asks for the iteration limit.
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetParamEstConCriterion(0.0));
        EXPECT_TRUE(s.SetMaxIterations(12));
        CurveRun r;
        r.accum.scoreNoise = noise;
        r.accum.scoreBounds = true;
        r.Go(0.5, s);
        EXPECT_EQ(r.code, MCConst::CONVERGENCE_MAX_ITERATIONS);
        EXPECT_EQ(r.iterations, 12);
    }
}
