#pragma once

#include "companion/MCMV.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// Wald inference on one estimate: from the estimate b, a hypothesised value
// b0, the variance v of b and a reference distribution, the standard error,
// the test statistic, its two-sided p-value and a confidence interval. The
// models' parameter statistics, the tests of contrasts and the marginal
// means all come here, so that a value means the same wherever it is shown.
//
// Families (the statistic and its p-value):
//   T           t = (b - b0) / sqrt(v),  p = 2 P(T_df > |t|)
//   F1          F = (b - b0)^2 / v,      p = P(F_1,df > F), taken as the
//               t p-value above (the same number, without a second
//               distribution function drifting from it)
//   CHISQUARE   W = (b - b0)^2 / v,      p = P(chi2_1 > W)
//   NORMAL      z = (b - b0) / sqrt(v),  p = 2 P(Z > |z|)
// Intervals are b -/+ c sqrt(v), c the two-sided quantile of t_df (T, F1)
// or of the standard normal (CHISQUARE, NORMAL).
//
// Decisions, the same for every caller:
//  - A negative variance is the rounding of a zero one (variances here are
//    quadratic forms of a positive semi-definite matrix) and is taken as 0.
//    A missing, NaN or infinite variance, or a missing or NaN estimate,
//    tests nothing: every output stays missing.
//  - A zero variance gives standard error 0 and no statistic (never Inf or
//    NaN). An estimate away from b0 is then rejected outright (p = 0); one
//    equal to it leaves p missing. Its interval, when there is one, is the
//    estimate itself. A statistic that overflows is left missing the same
//    way, its p-value 0.
//  - The t and F families need df > 0: with a df that is not positive or
//    missing the statistic is still given, but p and the interval stay
//    missing; there is no fallback to the normal distribution. A zero
//    variance without df is not rejected either: with no residual df it
//    is no evidence (a saturated fit's robust covariance is 0).
//  - p is clamped to [0, 1].
//  - Intervals exist only for single-step adjustments (none, Bonferroni,
//    Sidak), whose critical value belongs to one contrast alone; under a
//    step-down adjustment the interval depends on the whole family and is
//    left to the family procedure. The same holds for the adjusted p-value.
//  - Without a confidence level (missing) there is no interval.
class MCWaldTest {
public:
    enum Family : int { FAMILY_T = 0, FAMILY_F1 = 1, FAMILY_CHISQUARE = 2, FAMILY_NORMAL = 3 };

    struct Input {
        double fEstimate = MCCommon_850::MCMV::Missing();
        double fHypothesised = 0.0;
        double fVariance = MCCommon_850::MCMV::Missing();
        Family fFamily = FAMILY_T;
        double fDF = MCCommon_850::MCMV::Missing();          // t and F families only
        double fConfidence = MCCommon_850::MCMV::Missing();  // a fraction (0.95)
        MCConst::MCPAdjustMethod fMethod = MCConst::PADJ_LSD;
        int fMultiplicity = 1;
    };

    struct Result {
        bool fbTested = false;  // the variance could be used
        double fStdError = MCCommon_850::MCMV::Missing();
        double fStatistic = MCCommon_850::MCMV::Missing();
        double fSig = MCCommon_850::MCMV::Missing();
        double fAdjSig = MCCommon_850::MCMV::Missing();  // single-step methods only
        double fLower = MCCommon_850::MCMV::Missing();
        double fUpper = MCCommon_850::MCMV::Missing();
    };

    static bool UsesDF(Family family) { return family == FAMILY_T || family == FAMILY_F1; }

    // The test with the interval's critical value worked out here.
    static Result Test(const Input& in);
    // The same with the critical value given (from Critical(), which a
    // caller testing many contrasts alike asks once); a missing one gives no
    // interval, and Input's confidence is not read.
    static Result Test(const Input& in, double critical);

    // The two-sided critical value of the interval at the input's
    // confidence, method and multiplicity; missing when there is no
    // interval (see above).
    static double Critical(Family family, double df, double confidence,
                           MCConst::MCPAdjustMethod method, int k);
    // The quantile at probability q of the family's reference distribution
    // of one contrast: t_df (missing unless df > 0) or the standard normal.
    static double Quantile(Family family, double q, double df);

    // Probability q of a single-step critical value at alpha = 1 -
    // confidence: 1 - alpha/2 (none), 1 - alpha/(2k) (Bonferroni),
    // (1 + (1 - alpha)^(1/k))/2 (Sidak); missing for other methods, for
    // k < 1 under Bonferroni and Sidak, and for a missing alpha.
    static double CriticalProbability(MCConst::MCPAdjustMethod method, double alpha, int k);
    // Single-step adjusted p-value: p (none), k p (Bonferroni) or
    // 1 - (1 - p)^k (Sidak), capped at 1; missing for a missing p, for
    // other methods, and for k < 1 under Bonferroni and Sidak.
    static double AdjustSig(MCConst::MCPAdjustMethod method, double p, int k);
    // 1 - (1 - p)^m, accurate also when the result is tiny; missing when not
    // computable.
    static double Sidak(double p, double m);
};

}  // namespace MCMath_850
