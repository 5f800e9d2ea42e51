#include "hypothesis/MCPAdjust.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/MCIndex.h"
#include "companion/MCMathFun.h"
#include "hypothesis/MCTestStats.h"
#include "settings/MCWaldTest.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

namespace {

bool IsValue(double x) {
    return !MCMV::IsMissing(x) && !std::isnan(x);
}

double Clamp01(double x) {
    return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

// c^(1/m) for the Sidak critical values; missing when not computable.
double Root(double c, double exponent) {
    double out = 0.0;
    if (!MCPower::Power(c, exponent, out)) return MCMV::Missing();
    return out;
}

}  // namespace

bool MCPAdjust::IsSingleStep(MCConst::MCPAdjustMethod method) {
    return method == MCConst::PADJ_LSD || method == MCConst::PADJ_BONFERRONI ||
           method == MCConst::PADJ_SIDAK;
}

bool MCPAdjust::IsStepDown(MCConst::MCPAdjustMethod method) {
    return method == MCConst::PADJ_SEQ_BONFERRONI || method == MCConst::PADJ_SEQ_SIDAK;
}

double MCPAdjust::SingleStep(MCConst::MCPAdjustMethod method, double p, int k) {
    return MCWaldTest::AdjustSig(method, p, k);
}

double MCPAdjust::StepValue(MCConst::MCPAdjustMethod method, double p, int m) {
    if (!IsValue(p)) return MCMV::Missing();
    double raw = MCMV::Missing();
    if (method == MCConst::PADJ_SEQ_BONFERRONI)
        raw = m * p;
    else if (method == MCConst::PADJ_SEQ_SIDAK)
        raw = MCWaldTest::Sidak(p, m);
    return IsValue(raw) ? Clamp01(raw) : MCMV::Missing();
}

double MCPAdjust::Percentile(MCConst::MCTestType testType, double q, double df, double errorDf) {
    if (testType == MCConst::TEST_CHISQUARE || testType == MCConst::TEST_CHISQUARE_1DF)
        return MCWaldTest::Quantile(MCWaldTest::FAMILY_NORMAL, q, df);
    if (testType == MCConst::TEST_WALD_F || testType == MCConst::TEST_T) {
        if (!(df > 0.0)) df = errorDf;  // also catches NaN and the missing value
        return MCWaldTest::Quantile(MCWaldTest::FAMILY_T, q, df);
    }
    return MCMV::Missing();
}

double MCPAdjust::SingleStepProbability(MCConst::MCPAdjustMethod method, double alpha, int k) {
    return MCWaldTest::CriticalProbability(method, alpha, k);
}

double MCPAdjust::AdjPercentile(MCConst::MCTestType testType, MCConst::MCPAdjustMethod method,
                                double alpha, int k, double df, double errorDf) {
    return Percentile(testType, SingleStepProbability(method, alpha, k), df, errorDf);
}

double MCPAdjust::StepDownProbability(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                                      double alpha, int m, double p, bool raised, double prevAdj) {
    if (!IsValue(alpha)) return MCMV::Missing();
    const double c = 1.0 - alpha;
    if (method == MCConst::PADJ_SEQ_BONFERRONI) {
        if (raised && IsValue(p) && p > 0.0 && IsValue(prevAdj) && prevAdj > 0.0)
            return 1.0 - alpha * p / (2.0 * prevAdj);
        return m < 1 ? MCMV::Missing() : 1.0 - alpha / (2.0 * m);
    }
    if (method == MCConst::PADJ_SEQ_SIDAK) {
        const bool chiSquare = testType == MCConst::TEST_CHISQUARE;
        if (raised && IsValue(p) && IsValue(prevAdj) && p > 0.0 && p < 1.0 && prevAdj < 1.0 &&
            (testType == MCConst::TEST_WALD_F || chiSquare)) {
            // r is the multiplier that would have produced prevAdj from p.
            const double r = std::log1p(-p) / std::log1p(-prevAdj);
            if (chiSquare) return 1.0 - r * alpha / 2.0;
            const double root = Root(c, r);
            return IsValue(root) ? (1.0 + root) / 2.0 : MCMV::Missing();
        }
        if (m < 1) return MCMV::Missing();
        const double root = Root(c, 1.0 / m);
        return IsValue(root) ? (1.0 + root) / 2.0 : MCMV::Missing();
    }
    return MCMV::Missing();
}

double MCQuantileCache::Percentile(MCConst::MCTestType testType, double q, double df,
                                   double errorDf) {
    const auto key = std::make_tuple(static_cast<int>(testType), q, df, errorDf);
    const auto at = fValues.find(key);
    if (at != fValues.end()) return at->second;
    const double value = MCPAdjust::Percentile(testType, q, df, errorDf);
    fValues.emplace(key, value);
    return value;
}

bool MCPAdjust::StepDown(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                         double alpha, double errorDf, int k, std::vector<MCStepDownItem>& items,
                         bool intervals, MCQuantileCache* cache) {
    if (!IsStepDown(method)) return false;
    // By ascending p, ties in their input order (a family of pairwise
    // comparisons has millions of members: no insertion sort).
    std::vector<int> order;
    order.reserve(items.size());
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
        if (IsValue(items[Ix(i)].fSig)) order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return items[Ix(a)].fSig < items[Ix(b)].fSig; });

    double previous = MCMV::Missing();
    int m = k;
    for (const int i : order) {
        MCStepDownItem& item = items[i];
        const double raw = StepValue(method, item.fSig, m);
        item.fStep = m;
        item.fbInFamily = true;
        item.fbRaised = false;
        item.fAdjSig = raw;
        double before = MCMV::Missing();
        if (IsValue(previous) && (!IsValue(raw) || previous >= raw)) {
            before = previous;
            item.fAdjSig = previous;
            item.fbRaised = true;
        }
        if (intervals) {
            const double q =
                StepDownProbability(method, testType, alpha, m, item.fSig, item.fbRaised, before);
            const bool own =
                cache != nullptr &&
                q == StepDownProbability(method, testType, alpha, m, item.fSig, false, before);
            item.fCritical = own ? cache->Percentile(testType, q, item.fDF, errorDf)
                                 : Percentile(testType, q, item.fDF, errorDf);
            if (IsValue(item.fCritical) && IsValue(item.fStdErr) && IsValue(item.fEstimate)) {
                const double half = item.fCritical * item.fStdErr;
                item.fLower = item.fEstimate - half;
                item.fUpper = item.fEstimate + half;
            } else {
                item.fLower = MCMV::Missing();
                item.fUpper = MCMV::Missing();
            }
        }
        previous = item.fAdjSig;
        --m;
    }
    return true;
}

bool MCPAdjust::StepDown(MCConst::MCPAdjustMethod method, double alpha, double errorDf, int k,
                         std::vector<MCTestStats>& tests, const std::vector<int>& members,
                         bool intervals) {
    if (!IsStepDown(method)) return false;
    std::vector<MCStepDownItem> items;
    std::vector<int> index;
    items.reserve(members.size());
    index.reserve(members.size());
    MCConst::MCTestType testType = MCConst::TEST_CHISQUARE;
    for (const int r : members) {
        if (r < 0 || r >= static_cast<int>(tests.size())) continue;
        const MCTestStats& t = tests[r];
        if (index.empty()) testType = t.GetTestType();
        MCStepDownItem item;
        item.fSig = t.GetSig();
        item.fEstimate = t.GetContrastEstimate();
        item.fStdErr = t.GetStandardError();
        item.fDF = t.GetDF2();
        items.push_back(item);
        index.push_back(r);
    }
    if (!StepDown(method, testType, alpha, errorDf, k, items, intervals)) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].fbInFamily) continue;
        MCTestStats& t = tests[index[i]];
        t.SetAdjSig(items[i].fAdjSig);
        if (intervals) {
            t.SetLowerConfidenceInterval(items[i].fLower);
            t.SetUpperConfidenceInterval(items[i].fUpper);
        }
    }
    return true;
}

}  // namespace MCMath_850
