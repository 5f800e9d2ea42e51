#pragma once
#include <map>
#include <tuple>
#include <vector>

#include "companion/MCMV.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

class MCTestStats;

// One member of a step-down family: the inputs that the family procedure
// reads and the values it writes. A member whose p-value is missing (or not
// a number) takes no part: it keeps fStep 0 and missing outputs.
struct MCStepDownItem {
    // Inputs.
    double fSig = MCCommon_850::MCMV::Missing();       // unadjusted p-value
    double fEstimate = MCCommon_850::MCMV::Missing();  // contrast estimate
    double fStdErr = MCCommon_850::MCMV::Missing();    // its standard error
    double fDF = MCCommon_850::MCMV::Missing();        // denominator df (t family)
    // Outputs.
    double fAdjSig = MCCommon_850::MCMV::Missing();
    double fLower = MCCommon_850::MCMV::Missing();
    double fUpper = MCCommon_850::MCMV::Missing();
    double fCritical = MCCommon_850::MCMV::Missing();  // critical value of the interval
    int fStep = 0;            // multiplier m = k - j + 1 of the j-th smallest p-value
    bool fbRaised = false;    // the monotonicity rule replaced the raw value
    bool fbInFamily = false;  // had a p-value and was adjusted
};

// Critical values of step-down intervals already worked out: families of
// one size (the tests of a marginal-means request) ask for the same steps'
// quantiles again and again. Holds at most one value per step multiplier.
class MCQuantileCache {
public:
    // Percentile(testType, q, df, errorDf), computed once per argument set.
    double Percentile(MCConst::MCTestType testType, double q, double df, double errorDf);

private:
    std::map<std::tuple<int, double, double, double>, double> fValues;
};

// Multiple-comparison adjustments of p-values and the matching critical
// values of confidence intervals.
//
// Single-step methods (none, Bonferroni, Sidak) adjust each p-value on its
// own with the multiplicity k. Step-down methods (sequential Bonferroni =
// Holm, sequential Sidak) adjust a whole family at once: the j-th smallest
// p-value is adjusted with multiplier m = k - j + 1 and the adjusted values
// are made non-decreasing along the sorted order.
//
// Confidence intervals are built to agree with the adjusted p-values: an
// interval excludes 0 exactly when the adjusted p-value is below alpha.
// All functions are pure; missing inputs give missing results.
class MCPAdjust {
public:
    static bool IsSingleStep(MCConst::MCPAdjustMethod method);
    static bool IsStepDown(MCConst::MCPAdjustMethod method);

    // Single-step adjusted p-value: p (none), k p (Bonferroni) or
    // 1 - (1 - p)^k (Sidak), capped at 1. Missing for a missing p, for the
    // step-down and unknown methods, and for Bonferroni or Sidak with k < 1.
    static double SingleStep(MCConst::MCPAdjustMethod method, double p, int k);

    // The raw step value of a step-down method with multiplier m: m p
    // (sequential Bonferroni) or 1 - (1 - p)^m (sequential Sidak), clamped
    // to [0, 1]. Also the adjusted p-value of an overall test whose smallest
    // individual p-value is p. Missing for a missing p or another method.
    static double StepValue(MCConst::MCPAdjustMethod method, double p, int m);

    // Quantile of the reference distribution of a single contrast: standard
    // normal for the chi-square family (test types 2, 3), Student t with df
    // (errorDf when df is not positive or missing) for the F family (0, 1);
    // missing for other test types or when not computable.
    static double Percentile(MCConst::MCTestType testType, double q, double df, double errorDf);

    // Probability q of the two-sided critical value of a single-step method
    // at alpha = 1 - confidence level: 1 - alpha/2 (none), 1 - alpha/(2k)
    // (Bonferroni), (1 + (1 - alpha)^(1/k))/2 (Sidak); missing otherwise.
    static double SingleStepProbability(MCConst::MCPAdjustMethod method, double alpha, int k);

    // Single-step adjusted critical value: Percentile of
    // SingleStepProbability (missing for the step-down methods).
    static double AdjPercentile(MCConst::MCTestType testType, MCConst::MCPAdjustMethod method,
                                double alpha, int k, double df, double errorDf);

    // Probability q of the critical value at a step with multiplier m:
    // 1 - alpha/(2m) (sequential Bonferroni), (1 + (1 - alpha)^(1/m))/2
    // (sequential Sidak). When the monotonicity rule raised the step's raw
    // value to the previous adjusted value prevAdj (raised true), the
    // interval must widen to match: sequential Bonferroni uses
    // 1 - alpha p/(2 prevAdj) (for p > 0); sequential Sidak with 0 < p < 1 and
    // prevAdj < 1 uses r = ln(1 - p)/ln(1 - prevAdj) and q = 1 - r alpha/2
    // under the chi-square test (2) or (1 + (1 - alpha)^r)/2 under the Wald F
    // test (0); every other case keeps the step's own probability.
    static double StepDownProbability(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                                      double alpha, int m, double p, bool raised, double prevAdj);

    // Runs a step-down method over items with multiplicity k: members are
    // the items with a p-value, sorted by ascending p (equal p-values keep
    // their order, so the earlier one gets the larger multiplier); each gets
    // its step, its adjusted p-value and, with intervals, its bounds
    // estimate -/+ critical value x standard error (missing when either is
    // missing). k should be at least the number of members; members beyond
    // the k-th step get a non-positive multiplier, whose raw value 0 is then
    // raised to the previous adjusted value. Returns false, leaving the items
    // unchanged, for a method that is not step-down; throws std::bad_alloc
    // when memory runs out.
    // A cache, when given, keeps the critical values of the steps' own
    // probabilities (not those of raised values, which are each their own).
    static bool StepDown(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                         double alpha, double errorDf, int k, std::vector<MCStepDownItem>& items,
                         bool intervals, MCQuantileCache* cache = nullptr);

    // The step-down over the test records tests[members[0]], tests[members[1]],
    // ... (a member index outside the vector is skipped): reads Sig, Contrast
    // Estimate, Standard Error and df2 of each record (the test type of the
    // first member stands for the family, which one tester produced) and
    // writes Adjusted Sig and, with intervals, both confidence bounds. The
    // records keep their other fields. Same result as StepDown.
    static bool StepDown(MCConst::MCPAdjustMethod method, double alpha, double errorDf, int k,
                         std::vector<MCTestStats>& tests, const std::vector<int>& members,
                         bool intervals);
};

}  // namespace MCMath_850
