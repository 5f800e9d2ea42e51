// Multinomial and binary logistic fits against R (tools/reference/
// logistic_golden.R: nnet::multinom or glm(binomial), refined by Newton steps
// to the maximum): estimates, aliasing, the whole covariance matrix, the
// initial and final log-likelihoods and the three pseudo R-squares, under
// the default convergence criteria and through both data handlers.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "logistic_fixture.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace logtest;
using MCMath_850::MCRegrParameterStats;

namespace {

using support::RelErr;

void ExpectMatchesR(const golden::Case& g, bool patterns) {
    SCOPED_TRACE(g.name + (patterns ? " (patterns)" : " (records)"));
    Model m = GoldenModel(g.name);
    m.patterns = patterns;
    Fit f = FitModel(m, Records(g));
    ASSERT_FALSE(f.status.IsError()) << f.status.GetMessage();
    ASSERT_NE(f.stats, nullptr);
    const std::vector<int>& categories = f.Categories();
    EXPECT_EQ(std::vector<double>(categories.begin(), categories.end()), g.At("categories"));
    const std::vector<double>& estimates = g.At("estimate");
    const std::vector<double>& covariance = g.At("covariance");
    const std::vector<double>& aliased = g.At("aliased");
    ASSERT_EQ(f.NParams(), static_cast<int>(estimates.size()));
    EXPECT_GE(f.Convergence(), 1);
    EXPECT_LE(f.Convergence(), 3);

    // Estimates, standard errors and Wald statistics relative to their size;
    // covariances relative to the product of the two standard errors (a
    // covariance near 0 has no relative digits of its own).
    const std::size_t p = estimates.size();
    double worstB = 0, worstSe = 0, worstWald = 0, worstCorr = 0;
    for (std::size_t i = 0; i < p; ++i) {
        const int k = static_cast<int>(i);
        EXPECT_EQ(!f.stats->GetRedundancyIndicators().IsIn(k), aliased[i] == 1) << "param " << k;
        EXPECT_EQ(f.stats->GetParamStats()[i].fbRedundant, aliased[i] == 1);
        if (aliased[i] == 1) {
            EXPECT_EQ(f.Estimate(k), 0.0);
            EXPECT_EQ(f.Cov(k, k), 0.0);
            continue;
        }
        const double wantVar = covariance[i * p + i],
                     wantWald = estimates[i] * estimates[i] / wantVar;
        const double b = f.Estimate(k), se = std::sqrt(f.Cov(k, k));
        worstB = std::max(worstB, RelErr(b, estimates[i], 0));
        worstSe = std::max(worstSe, RelErr(se, std::sqrt(wantVar), 0));
        worstWald = std::max(worstWald, RelErr(b * b / (se * se), wantWald, 0));
        // The parameter table the model hands out: a p-value's relative
        // error is the Wald statistic's times about half the statistic.
        const MCRegrParameterStats& s = f.stats->GetParamStats()[i];
        EXPECT_LT(RelErr(s.fStdError, std::sqrt(wantVar), 0), 1e-8) << "se of " << k;
        EXPECT_LT(RelErr(s.fChiSquare, wantWald, 0), 1e-8);
        EXPECT_EQ(s.fDF, 1.0);
        EXPECT_LT(RelErr(s.fSig, g.At("pvalue")[i], 0), 1e-6) << "p of " << k;
        EXPECT_LT(std::fabs(s.fCILower - g.At("lower")[i]) / se, 1e-7) << "lower limit of " << k;
        EXPECT_LT(std::fabs(s.fCIUpper - g.At("upper")[i]) / se, 1e-7) << "upper limit of " << k;
        EXPECT_TRUE(s.fbExpCI && s.fExpCILower == std::exp(s.fCILower) &&
                    s.fExpCIUpper == std::exp(s.fCIUpper));
        for (std::size_t j = 0; j < p; ++j) {
            if (aliased[j] == 1) continue;
            const double scale = std::sqrt(wantVar * covariance[j * p + j]);
            worstCorr =
                std::max(worstCorr,
                         std::fabs(f.Cov(k, static_cast<int>(j)) - covariance[i * p + j]) / scale);
        }
    }
    EXPECT_LT(worstB, 1e-8);
    EXPECT_LT(worstSe, 1e-8);
    EXPECT_LT(worstWald, 1e-8);
    EXPECT_LT(worstCorr, 1e-8);

    const std::vector<double>& ll = g.At("loglik");
    const std::vector<double>& r2 = g.At("rsquare");  // Cox-Snell, Nagelkerke, McFadden
    ASSERT_EQ(ll.size(), 2u);
    ASSERT_EQ(r2.size(), 3u);
    EXPECT_LT(RelErr(f.Log().GetInitialLogLikelihood(), ll[0], 0), 1e-12);
    EXPECT_LT(RelErr(f.Log().GetFinalLogLikelihood(), ll[1], 0), 1e-10);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_COX_SNELL), r2[0], 0), 1e-8);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_NAGELKERKE), r2[1], 0), 1e-8);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_MCFADDEN), r2[2], 0), 1e-8);
}

}  // namespace

TEST(LogisticGolden, MatchesRThroughBothHandlers) {
    const golden::Entries file = golden::ReadEntries("logistic_golden.txt");
    for (const char* name : {"freq_factors", "factors_covariates", "reference_first", "binary"})
        for (bool patterns : {false, true}) ExpectMatchesR(file.Get(name), patterns);
}
