// Multinomial and binary logistic fits against R (tools/reference/
// logistic_golden.R: nnet::multinom or glm(binomial), refined by Newton steps
// to the maximum): estimates, aliasing, the whole covariance matrix, the
// initial and final log-likelihoods and the three pseudo R-squares, under
// the default convergence criteria and through both data handlers.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "logistic_fixture.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace logtest;
using MCMath_850::MCRegrParameterStats;

namespace {

struct Golden {
    std::vector<Record> records;
    std::vector<int> categories;
    std::vector<double> estimates, covariance;
    std::vector<int> aliased;
    // Each parameter's Wald p-value and 95% limits.
    std::vector<double> sig, lower, upper;
    double ll0 = 0, ll = 0, coxSnell = 0, nagelkerke = 0, mcFadden = 0;
};

std::map<std::string, Golden> ReadGolden() {
    std::map<std::string, Golden> cases;
    for (const golden::Case& c : golden::ReadEntries("logistic_golden.txt").cases) {
        if (c.name.empty()) continue;
        Golden& g = cases[c.name];
        for (const std::vector<double>& row : c.data) g.records.emplace_back(row);
        for (double v : c.At("categories")) g.categories.push_back(static_cast<int>(v));
        g.estimates = c.At("estimate");
        for (double a : c.At("aliased")) g.aliased.push_back(static_cast<int>(a));
        g.covariance = c.At("covariance");
        g.sig = c.At("pvalue");
        g.lower = c.At("lower");
        g.upper = c.At("upper");
        const std::vector<double>& ll = c.At("loglik");
        const std::vector<double>& r2 = c.At("rsquare");
        if (ll.size() == 2 && r2.size() == 3) {
            g.ll0 = ll[0];
            g.ll = ll[1];
            g.coxSnell = r2[0];
            g.nagelkerke = r2[1];
            g.mcFadden = r2[2];
        } else {
            ADD_FAILURE() << c.name << ": loglik or rsquare of the wrong length";
        }
    }
    return cases;
}

const Golden& Case(const std::string& name) {
    static const std::map<std::string, Golden> cases = ReadGolden();
    static const Golden empty;
    const auto it = cases.find(name);
    if (it == cases.end()) {
        ADD_FAILURE() << "no golden case " << name;
        return empty;
    }
    return it->second;
}

// Columns of the golden records: y A B x1 x2 w.
Model ModelOf(const std::string& name) {
    Model m;
    m.dependent = 0;
    if (name == "freq_factors") {
        m.nCategories = 3;
        m.factors = {{1, 3}, {2, 2}};
        m.terms = {{{1}, {}}, {{2}, {}}};
        m.freqWeight = 5;
    } else if (name == "factors_covariates" || name == "reference_first") {
        m.nCategories = 4;
        m.factors = {{1, 3}};
        m.covariates = {3, 4};
        m.terms = {{{1}, {}}, {{}, {3}}, {{}, {4}}};
        if (name == "factors_covariates")
            m.terms.push_back({{1}, {3}});
        else
            m.reference = -2;
    } else if (name == "binary") {
        m.nCategories = 2;
        m.factors = {{1, 4}};
        m.covariates = {3};
        m.terms = {{{1}, {}}, {{}, {3}}};
    }
    return m;
}

using support::RelErr;

void ExpectMatchesR(const std::string& name, bool patterns) {
    SCOPED_TRACE(name + (patterns ? " (patterns)" : " (records)"));
    const Golden& g = Case(name);
    Model m = ModelOf(name);
    m.patterns = patterns;
    Fit f = FitModel(m, g.records);
    ASSERT_FALSE(f.status.IsError()) << f.status.GetMessage();
    ASSERT_NE(f.stats, nullptr);
    EXPECT_EQ(f.Categories(), g.categories);
    ASSERT_EQ(f.NParams(), static_cast<int>(g.estimates.size()));
    EXPECT_GE(f.Convergence(), 1);
    EXPECT_LE(f.Convergence(), 3);

    // Estimates, standard errors and Wald statistics relative to their size;
    // covariances relative to the product of the two standard errors (a
    // covariance near 0 has no relative digits of its own).
    const std::size_t p = g.estimates.size();
    double worstB = 0, worstSe = 0, worstWald = 0, worstCorr = 0;
    for (std::size_t i = 0; i < p; ++i) {
        const int k = static_cast<int>(i);
        EXPECT_EQ(!f.stats->GetRedundancyIndicators().IsIn(k), g.aliased[i] == 1) << "param " << k;
        EXPECT_EQ(f.stats->GetParamStats()[i].fbRedundant, g.aliased[i] == 1);
        if (g.aliased[i] == 1) {
            EXPECT_EQ(f.Estimate(k), 0.0);
            EXPECT_EQ(f.Cov(k, k), 0.0);
            continue;
        }
        const double wantVar = g.covariance[i * p + i];
        const double b = f.Estimate(k), se = std::sqrt(f.Cov(k, k));
        worstB = std::max(worstB, RelErr(b, g.estimates[i], 0));
        worstSe = std::max(worstSe, RelErr(se, std::sqrt(wantVar), 0));
        worstWald = std::max(
            worstWald, RelErr(b * b / (se * se), g.estimates[i] * g.estimates[i] / wantVar, 0));
        // The parameter table the model hands out: a p-value's relative
        // error is the Wald statistic's times about half the statistic.
        const MCRegrParameterStats& s = f.stats->GetParamStats()[i];
        EXPECT_LT(RelErr(s.fStdError, std::sqrt(wantVar), 0), 1e-8) << "se of " << k;
        EXPECT_LT(RelErr(s.fChiSquare, g.estimates[i] * g.estimates[i] / wantVar, 0), 1e-8);
        EXPECT_EQ(s.fDF, 1.0);
        EXPECT_LT(RelErr(s.fSig, g.sig[i], 0), 1e-6) << "p of " << k;
        EXPECT_LT(std::fabs(s.fCILower - g.lower[i]) / se, 1e-7) << "lower limit of " << k;
        EXPECT_LT(std::fabs(s.fCIUpper - g.upper[i]) / se, 1e-7) << "upper limit of " << k;
        EXPECT_TRUE(s.fbExpCI && s.fExpCILower == std::exp(s.fCILower) &&
                    s.fExpCIUpper == std::exp(s.fCIUpper));
        for (std::size_t j = 0; j < p; ++j) {
            if (g.aliased[j] == 1) continue;
            const double scale = std::sqrt(wantVar * g.covariance[j * p + j]);
            worstCorr = std::max(
                worstCorr,
                std::fabs(f.Cov(k, static_cast<int>(j)) - g.covariance[i * p + j]) / scale);
        }
    }
    EXPECT_LT(worstB, 1e-8);
    EXPECT_LT(worstSe, 1e-8);
    EXPECT_LT(worstWald, 1e-8);
    EXPECT_LT(worstCorr, 1e-8);

    EXPECT_LT(RelErr(f.Log().GetInitialLogLikelihood(), g.ll0, 0), 1e-12);
    EXPECT_LT(RelErr(f.Log().GetFinalLogLikelihood(), g.ll, 0), 1e-10);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_COX_SNELL), g.coxSnell, 0), 1e-8);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_NAGELKERKE), g.nagelkerke, 0), 1e-8);
    EXPECT_LT(RelErr(f.stats->GetModelFitStat(MCConst::FIT_MCFADDEN), g.mcFadden, 0), 1e-8);
}

}  // namespace

TEST(LogisticGolden, MatchesRThroughBothHandlers) {
    for (const char* name : {"freq_factors", "factors_covariates", "reference_first", "binary"})
        for (bool patterns : {false, true}) ExpectMatchesR(name, patterns);
}
