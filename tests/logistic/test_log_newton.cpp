// Random well-posed multinomial models (2 to 6 categories, factors,
// covariates, interactions, powers, whole and fractional frequency weights)
// against an independent 40-digit Newton fit (tools/reference/
// logistic_newton.py): under the default criteria every fit converges and
// its estimates are within 1e-9 standard errors of the maximum, through both
// data handlers. The offset cases have a covariate 100 to 100,000 spreads
// from 0 (scaled by 1e-9 to 1e9), on seeds where the optimizer once said it
// had converged up to 1e-6 standard errors short of the maximum or refused
// every halving of a step on rounding. The last
// case is the shape of a user's report (y ~ A, 1,493 records, 5 categories, 3
// levels), which the optimizer once ended with "No step-halving increased
// the log-likelihood" one step from the maximum.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "logistic_fixture.h"
#include "support/golden.h"

using namespace logtest;

namespace {

const golden::Entries& Cases() {
    static const golden::Entries cases = golden::ReadEntries("logistic_newton.txt");
    return cases;
}

// Columns of the records: y A B x1 x2 w. A term's code: 1 A, 2 B, 4 per x1,
// 16 per x2.
Model ModelOf(const golden::Case& c) {
    const std::vector<double>& spec = c.At("model");  // J, levels of A and B, weighted
    Model m;
    if (spec.size() != 4) {
        ADD_FAILURE() << c.name << ": model entry of the wrong length";
        return m;
    }
    m.nCategories = static_cast<int>(spec[0]);
    bool useA = false, useB = false, useX1 = false, useX2 = false;
    for (double code : c.At("terms")) {
        const int t = static_cast<int>(code);
        Term term;
        if (t & 1) term.factors.push_back(1), useA = true;
        if (t & 2) term.factors.push_back(2), useB = true;
        for (int k = 0; k < ((t >> 2) & 3); ++k) term.covariates.push_back(3), useX1 = true;
        for (int k = 0; k < ((t >> 4) & 3); ++k) term.covariates.push_back(4), useX2 = true;
        m.terms.push_back(term);
    }
    if (useA) m.factors.push_back({1, static_cast<int>(spec[1])});
    if (useB) m.factors.push_back({2, static_cast<int>(spec[2])});
    if (useX1) m.covariates.push_back(3);
    if (useX2) m.covariates.push_back(4);
    if (spec[3] != 0) m.freqWeight = 5;
    return m;
}

// The largest distance of an estimate from the reference, in the
// reference's standard errors. The standard errors are those of the
// information summed in double and inverted from its Cholesky factor: to
// seTolerance, relative.
double ExpectAtMaximum(const golden::Case& c, bool patterns, double seTolerance) {
    SCOPED_TRACE(c.name + (patterns ? " (patterns)" : " (records)"));
    Model m = ModelOf(c);
    m.patterns = patterns;
    Fit f = FitModel(m, Records(c));
    EXPECT_FALSE(f.status.IsError()) << f.status.GetMessage();
    if (f.status.IsError() || f.stats == nullptr) return HUGE_VAL;

    std::vector<int> categories(static_cast<std::size_t>(m.nCategories));
    for (int k = 0; k < m.nCategories; ++k) categories[static_cast<std::size_t>(k)] = k;
    EXPECT_EQ(f.Categories(), categories);
    EXPECT_GE(f.Convergence(), MCConst::CONVERGENCE_LOGLIKELIHOOD);
    EXPECT_LE(f.Convergence(), MCConst::CONVERGENCE_BOTH);

    const std::vector<double>& b = c.At("estimate");
    const std::vector<double>& se = c.At("se");
    const std::vector<double>& aliased = c.At("aliased");
    EXPECT_EQ(f.NParams(), static_cast<int>(b.size()));
    if (f.NParams() != static_cast<int>(b.size())) return HUGE_VAL;
    double worst = 0.0, worstSe = 0.0;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const int k = static_cast<int>(i);
        const bool redundant = !f.stats->GetRedundancyIndicators().IsIn(k);
        EXPECT_EQ(redundant, aliased[i] == 1) << "parameter " << k;
        if (redundant || aliased[i] == 1) continue;
        worst = std::max(worst, std::fabs(f.Estimate(k) - b[i]) / se[i]);
        worstSe = std::max(worstSe, std::fabs(std::sqrt(f.Cov(k, k)) - se[i]) / se[i]);
    }
    EXPECT_LE(worst, 1e-9) << "estimates, in standard errors";
    EXPECT_LE(worstSe, seTolerance) << "standard errors, relative";
    const double ll = c.Scalar("loglik");
    EXPECT_LE(std::fabs(f.Log().GetFinalLogLikelihood() - ll), 1e-12 * std::fabs(ll));
    return worst;
}

// Every case whose name starts with prefix; their number.
int FitFamily(const std::string& prefix, double seTolerance) {
    int count = 0;
    double worst = 0.0;
    for (const golden::Case& c : Cases().cases) {
        if (c.name.rfind(prefix, 0) != 0) continue;
        ++count;
        for (bool patterns : {false, true})
            worst = std::max(worst, ExpectAtMaximum(c, patterns, seTolerance));
    }
    std::printf("%s cases: largest distance from the 40-digit maximum %.3g standard errors\n",
                prefix.c_str(), worst);
    return count;
}

}  // namespace

TEST(LogisticNewton, RandomWellPosedModelsConvergeToTheMaximum) {
    EXPECT_EQ(FitFamily("random", 1e-8), 30);
}

// An offset of 100,000 spreads makes the information's condition about
// 1e10: summed and inverted in double, it gives the standard errors to
// about 1e-4 (1e-7 at 100 spreads), while the estimates are at the maximum.
TEST(LogisticNewton, OffsetCovariatesConvergeToTheMaximum) {
    EXPECT_EQ(FitFamily("offset", 1e-3), 8);
}

// y ~ A, five categories: the full Newton step at the fourth iteration's estimates changes
// the log-likelihood by less than the rounding of its sum, and every halving
// of it was refused.
TEST(LogisticNewton, HalvingOnRoundingCaseConvergesAtTheMaximum) {
    const golden::Case& c = Cases().Get("halving_y_A");
    EXPECT_EQ(c.data.size(), 1493u);
    for (bool patterns : {false, true}) ExpectAtMaximum(c, patterns, 1e-8);
}
