#include "settings/MCWaldTest.h"

#include <cmath>

#include "companion/MCDistFun.h"
#include "companion/MCMathFun.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

namespace {

bool IsValue(double x) {
    return !MCMV::IsMissing(x) && !std::isnan(x);
}

bool IsSingleStep(MCConst::MCPAdjustMethod method) {
    return method == MCConst::PADJ_LSD || method == MCConst::PADJ_BONFERRONI ||
           method == MCConst::PADJ_SIDAK;
}

double Clamp01(double p) {
    return p < 0.0 ? 0.0 : (p > 1.0 ? 1.0 : p);
}

// Two-sided p-value of a statistic, missing when the distribution function
// cannot give one (a df that is not positive among them).
double TwoSidedSig(MCWaldTest::Family family, double b, double se, double v, double df,
                   double& statistic) {
    double sig = MCMV::Missing();
    switch (family) {
        case MCWaldTest::FAMILY_T:
        case MCWaldTest::FAMILY_F1: {
            const double t = b / se;
            statistic = family == MCWaldTest::FAMILY_T ? t : b * b / v;
            const double upper = df > 0.0 ? MCDistFun::SigT(std::fabs(t), df) : MCMV::Missing();
            if (IsValue(upper)) sig = 2.0 * upper;
            break;
        }
        case MCWaldTest::FAMILY_CHISQUARE:
            statistic = b * b / v;
            sig = MCDistFun::SigChi(statistic, 1.0);
            break;
        case MCWaldTest::FAMILY_NORMAL: {
            statistic = b / se;
            const double upper = MCDistFun::SigStdNorm(std::fabs(statistic));
            if (IsValue(upper)) sig = 2.0 * upper;
            break;
        }
    }
    return IsValue(sig) ? Clamp01(sig) : MCMV::Missing();
}

}  // namespace

MCWaldTest::Result MCWaldTest::Test(const Input& in) {
    const double critical =
        Critical(in.fFamily, in.fDF, in.fConfidence, in.fMethod, in.fMultiplicity);
    return Test(in, critical);
}

MCWaldTest::Result MCWaldTest::Test(const Input& in, double critical) {
    Result r;
    double v = in.fVariance;
    if (!IsValue(v) || !std::isfinite(v) || !IsValue(in.fEstimate) || !IsValue(in.fHypothesised))
        return r;
    if (v < 0.0) v = 0.0;
    r.fbTested = true;
    const double se = std::sqrt(v);
    r.fStdError = se;
    const double b = in.fEstimate - in.fHypothesised;
    if (v > 0.0) {
        r.fSig = TwoSidedSig(in.fFamily, b, se, v, UsesDF(in.fFamily) ? in.fDF : 1.0, r.fStatistic);
        if (!std::isfinite(r.fStatistic)) r.fStatistic = MCMV::Missing();
    } else if (b != 0.0 && (!UsesDF(in.fFamily) || in.fDF > 0.0)) {
        // Without df a zero variance says nothing: a saturated fit has no
        // residuals to make one of, whatever the covariance holds.
        r.fSig = 0.0;
    }
    r.fAdjSig = AdjustSig(in.fMethod, r.fSig, in.fMultiplicity);
    if (IsSingleStep(in.fMethod) && IsValue(critical) && std::isfinite(critical)) {
        r.fLower = in.fEstimate - critical * se;
        r.fUpper = in.fEstimate + critical * se;
    }
    return r;
}

double MCWaldTest::Critical(Family family, double df, double confidence,
                            MCConst::MCPAdjustMethod method, int k) {
    if (!IsSingleStep(method) || !IsValue(confidence)) return MCMV::Missing();
    return Quantile(family, CriticalProbability(method, 1.0 - confidence, k), df);
}

double MCWaldTest::Quantile(Family family, double q, double df) {
    if (!IsValue(q)) return MCMV::Missing();
    if (UsesDF(family)) return df > 0.0 ? MCDistFun::IdfT(q, df) : MCMV::Missing();
    return MCDistFun::IdfStdNorm(q);
}

double MCWaldTest::CriticalProbability(MCConst::MCPAdjustMethod method, double alpha, int k) {
    if (!IsValue(alpha)) return MCMV::Missing();
    switch (method) {
        case MCConst::PADJ_LSD:
            return 1.0 - alpha / 2.0;
        case MCConst::PADJ_BONFERRONI:
            return k < 1 ? MCMV::Missing() : 1.0 - alpha / (2.0 * k);
        case MCConst::PADJ_SIDAK: {
            double root = 0.0;
            if (k < 1 || !MCPower::Power(1.0 - alpha, 1.0 / k, root)) return MCMV::Missing();
            return (1.0 + root) / 2.0;
        }
        default:
            return MCMV::Missing();
    }
}

double MCWaldTest::AdjustSig(MCConst::MCPAdjustMethod method, double p, int k) {
    if (!IsValue(p)) return MCMV::Missing();
    double adjusted = MCMV::Missing();
    switch (method) {
        case MCConst::PADJ_LSD:
            adjusted = p;
            break;
        case MCConst::PADJ_BONFERRONI:
            if (k < 1) return MCMV::Missing();
            adjusted = k * p;
            break;
        case MCConst::PADJ_SIDAK:
            if (k < 1) return MCMV::Missing();
            adjusted = Sidak(p, k);
            break;
        default:
            return MCMV::Missing();
    }
    if (IsValue(adjusted) && adjusted > 1.0) adjusted = 1.0;
    return adjusted;
}

// The companion power is used wherever its result is accurate; for tiny
// results the subtraction would cancel almost all digits, so those are
// formed from log1p/expm1 instead.
double MCWaldTest::Sidak(double p, double m) {
    double power = 0.0;
    if (!MCPower::Power(1.0 - p, m, power)) return MCMV::Missing();
    const double value = 1.0 - power;
    if (value < 1e-6 && p > 0.0 && p < 1.0) return -std::expm1(m * std::log1p(-p));
    return value;
}

}  // namespace MCMath_850
