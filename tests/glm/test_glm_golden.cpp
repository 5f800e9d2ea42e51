// Factor models checked against R's lm fitted on the same over-parametrised
// design (tools/reference/glm_golden.R): estimates, the aliasing pattern, the
// whole covariance matrix, R-square, root mean square error and error mean
// square, for a two-way interaction with an empty cell, a factor-by-covariate
// model under regression and under frequency weights, and a nested term.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "glm_fixture.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace glmtest;
using MCCommon_850::MCMV;
using MCMath_850::MCRegrParameterStats;

namespace {

using support::RelErr;

// Fits the case and compares everything; returns the worst relative error.
double CheckCase(const std::string& name, const Model& m) {
    SCOPED_TRACE(name);
    static const golden::Entries file = golden::ReadEntries("glm_golden.txt");
    const golden::Case& g = file.Get(name);
    std::vector<Record> records;
    for (const std::vector<double>& row : g.data) records.emplace_back(row);
    Fit f = FitModel(m, records);
    EXPECT_TRUE(f.status.IsOK()) << f.status.GetMessage();
    if (!f.stats) return 1;
    const std::vector<double>& estimates = g.At("estimate");
    const std::vector<double>& covariance = g.At("covariance");
    const std::vector<double>& aliasFlags = g.At("aliased");
    const int p = static_cast<int>(estimates.size());
    EXPECT_EQ(f.NParams(), p);
    if (f.NParams() != p) return 1;

    const double tol = 1e-10;
    double worst = 0;
    auto check = [&](double got, double want, double scale, const char* what, int j, int k) {
        const double e = RelErr(got, want, scale);
        worst = std::max(worst, e);
        EXPECT_LE(e, tol) << what << " (" << j << ", " << k << "): got " << got << " want " << want;
    };
    int rank = 0;
    for (int j = 0; j < p; ++j) {
        const bool aliased = aliasFlags[static_cast<std::size_t>(j)] != 0;
        rank += aliased ? 0 : 1;
        EXPECT_EQ(f.Redundant(j), aliased) << "parameter " << j;
        const double sj = std::sqrt(covariance[static_cast<std::size_t>(j * p + j)]);
        if (aliased) {
            EXPECT_EQ(f.Estimate(j), 0.0) << "parameter " << j;
        } else {
            check(f.Estimate(j), estimates[static_cast<std::size_t>(j)], sj, "estimate", j, j);
        }
        for (int k = 0; k < p; ++k) {
            const double want = covariance[static_cast<std::size_t>(j * p + k)];
            if (aliased || aliasFlags[static_cast<std::size_t>(k)] != 0) {
                EXPECT_EQ(f.Cov(j, k), 0.0) << "covariance " << j << ", " << k;
            } else {
                const double sk = std::sqrt(covariance[static_cast<std::size_t>(k * p + k)]);
                check(f.Cov(j, k), want, sj * sk, "covariance", j, k);
            }
        }
    }
    EXPECT_EQ(f.Glm().GetRank(), rank);
    // The parameter table: a p-value's relative error grows with t (its
    // tail falls like exp(-t^2/2)), hence its looser bound.
    for (int j = 0; j < p; ++j) {
        const std::size_t J = static_cast<std::size_t>(j);
        const MCRegrParameterStats& s = f.stats->GetParamStats()[J];
        if (aliasFlags[J] != 0) {
            EXPECT_TRUE(MCMV::IsMissing(s.fStdError) && MCMV::IsMissing(s.fSig)) << j;
            continue;
        }
        const double se = std::sqrt(covariance[J * static_cast<std::size_t>(p) + J]);
        check(s.fStdError, se, 0, "standard error", j, j);
        check(s.fTTest, g.At("tvalue")[J], 0, "t", j, j);
        check(s.fCILower, g.At("lower")[J], se, "lower limit", j, j);
        check(s.fCIUpper, g.At("upper")[J], se, "upper limit", j, j);
        EXPECT_LE(RelErr(s.fSig, g.At("pvalue")[J], 0), 1e-8) << "p of " << j;
        EXPECT_EQ(s.fDF, f.Glm().GetErrorDF()) << j;
    }
    check(f.stats->GetModelFitStat(MCConst::MCModelFitStat(1)), g.Scalar("rsquare"), 0, "R-square",
          0, 0);
    check(f.stats->GetModelFitStat(MCConst::MCModelFitStat(0)), g.Scalar("rmse"), 0, "RMSE", 0, 0);
    check(f.Glm().GetErrorMeanSquare(), g.Scalar("errorms"), 0, "error mean square", 0, 0);
    std::printf("[ golden   ] %-10s p = %2d, rank = %d, worst relative error %.2g\n", name.c_str(),
                p, rank, worst);
    return worst;
}

}  // namespace

TEST(GlmGolden, TwoWayInteractionWithEmptyCell) {
    // y, A (3), B (3); cell A=2, B=1 never occurs, so A*B has 8 parameters
    // and only three of them survive the intercept and both main effects.
    Model m;
    m.factors = {{1, 3}, {2, 3}};
    m.terms = {Term{{1}, {}}, Term{{2}, {}}, Term{{1, 2}, {}}};
    CheckCase("twoway", m);
}

TEST(GlmGolden, FactorByCovariateUnderRegressionAndFrequencyWeights) {
    // y, A (3), x, weight; A*x spans x, so its last slope is aliased.
    Model m;
    m.factors = {{1, 3}};
    m.covariates = {2};
    m.terms = {Term{{1}, {}}, Term{{}, {2}}, Term{{1}, {2}}};
    m.regrWeight = 3;
    CheckCase("ancova_rw", m);

    // Integer frequency weights act as replicated records, including the
    // error degrees of freedom W - rank.
    m.regrWeight = -1;
    m.freqWeight = 3;
    CheckCase("ancova_fw", m);
}

TEST(GlmGolden, NestedTermWithUnevenInnerLevelsAndBothWeights) {
    // y, A (3), B (3), fw, rw; A(B) observes A in {0,1,2}, {1,2}, {0,2}
    // within B = 0, 1, 2: one aliased parameter per B cell.
    Model m;
    m.factors = {{1, 3}, {2, 3}};
    m.terms = {Term{{2}, {}}, Term{{1, 2}, {}, true}};
    m.freqWeight = 3;
    m.regrWeight = 4;
    CheckCase("nested", m);
}
