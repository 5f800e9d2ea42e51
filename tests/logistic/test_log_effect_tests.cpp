// Tests of a multinomial fit: Type III (and the last Type I) Wald chi-square
// of each effect across the logits, and an L-matrix test over all parameters, against R's
// b'L'(L V L')^-1 L b on the R fit (tools/reference/logistic_golden.R).
#include <cmath>
#include <string>

#include "hypothesis/MCModelEffectTest.h"
#include "hypothesis/MCModelTests.h"
#include "logistic_fixture.h"
#include "support/golden.h"

using namespace logtest;
using namespace MCMath_850;

namespace {

// A term's Wald test in a golden case: df and chi-square.
std::pair<double, double> Wald(const golden::Case& c, const std::string& term) {
    const std::vector<double>& v = c.At("wald_" + term);
    if (v.size() == 2) return {v[0], v[1]};
    ADD_FAILURE() << "wald_" << term << " of case " << c.name << " does not hold df and chi-square";
    return {0, 0};
}

// The tests keep references to the settings, the parameter layout and the
// generalized inverse, so they live beside them.
struct Tested {
    Fit fit;
    MCLogRegSettings settings;
    std::vector<int> first, count;
    MCSymMatrix generalizedInverse;
    std::unique_ptr<MCModelEffectTest> tests;
};

// Type III tests of every effect of a fitted multinomial model, from the
// model's swept X'X of the basic design (its negation is a generalized
// inverse) and the covariance of all parameters.
void TestEffects(const Model& m, const std::vector<Record>& records, Tested& t) {
    t.fit = FitModel(m, records);
    ASSERT_FALSE(t.fit.status.IsError()) << t.fit.status.GetMessage();
    const MCLogOutputStats& log = t.fit.Log();
    ASSERT_NE(log.GetSweptCrossProduct(), nullptr);
    t.generalizedInverse = *log.GetSweptCrossProduct();
    t.generalizedInverse.Scale(-1.0);
    const int nEffects = static_cast<int>(m.terms.size()) + (m.intercept ? 1 : 0);
    for (int e = 0; e < nEffects; ++e) {
        int f = 0, n = 0;
        ASSERT_TRUE(log.GetParamsForEffect(e, f, n));
        t.first.push_back(f);
        t.count.push_back(n);
    }
    t.settings = m.Settings();
    t.settings.SetTestType(MCConst::TEST_CHISQUARE);
    t.tests = std::make_unique<MCModelEffectTest>(
        t.settings, t.settings.GetModelEffects(), t.fit.stats->GetParamEstimates(), t.first,
        t.count, MCConst::ANALYSIS_TYPE_I_AND_III, t.fit.stats->GetCovarianceMatrix(),
        &t.generalizedInverse, &t.fit.stats->GetRedundancyIndicators(),
        MCConst::DIST_NOM_MULTINOMIAL, static_cast<int>(log.GetDependCategories().size()),
        &log.GetBasicRedundancy(), 0.0, nullptr);
    EXPECT_TRUE(t.tests->TestModelEffect().IsOK());
}

void ExpectChiSquare(const MCModelTestStats* stats, int effect, std::pair<double, double> want) {
    ASSERT_NE(stats, nullptr);
    const MCTestStats* t = stats->GetTestStats(effect);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetDF(), want.first) << "effect " << effect;
    EXPECT_NEAR(t->GetWald(), want.second, 1e-8 * want.second) << "effect " << effect;
}

}  // namespace

TEST(MultinomialTests, TypeIIIAcrossTheLogitsMatchesR) {
    const golden::Entries file = golden::ReadEntries("logistic_golden.txt");
    {
        const golden::Case& c = file.Get("freq_factors");
        Tested t;
        TestEffects(GoldenModel(c.name), Records(c), t);
        ExpectChiSquare(t.tests->GetTypeIIITestStats(), 1, Wald(c, "A"));
        ExpectChiSquare(t.tests->GetTypeIIITestStats(), 2, Wald(c, "B"));
        // Sequentially, the last effect is adjusted for all others, as in Type III.
        ExpectChiSquare(t.tests->GetTypeITestStats(), 2, Wald(c, "B"));

        // a0 - a1 = 0 in both logits, over all 12 parameters.
        MCRectMatrix L(2, 12);
        for (int k = 0; k < 2; ++k) {
            L.SetElem(k, k * 6 + 1, 1.0);
            L.SetElem(k, k * 6 + 2, -1.0);
        }
        MCModelTests tester(t.fit.stats->GetParamEstimates(),
                            t.fit.stats->GetRedundancyIndicators(),
                            *t.fit.stats->GetCovarianceMatrix(), 0.0);
        tester.SetTestType(MCConst::TEST_CHISQUARE);
        MCTestStats overall;
        ASSERT_TRUE(tester.ComputeOverallTest(L, overall).IsOK());
        EXPECT_EQ(overall.GetDF(), Wald(c, "A0_A1").first);
        EXPECT_NEAR(overall.GetWald(), Wald(c, "A0_A1").second, 1e-8 * overall.GetWald());
    }
    {
        const golden::Case& c = file.Get("reference_first");
        Tested t;
        TestEffects(GoldenModel(c.name), Records(c), t);
        ExpectChiSquare(t.tests->GetTypeIIITestStats(), 1, Wald(c, "A"));
        ExpectChiSquare(t.tests->GetTypeIIITestStats(), 2, Wald(c, "x1"));
        ExpectChiSquare(t.tests->GetTypeIIITestStats(), 3, Wald(c, "x2"));
        // The widened L of A: its two rows once per logit, over all 18
        // parameters.
        const MCRectMatrix* L = t.tests->GetTypeIIITestStats()->GetLMatrix(1);
        ASSERT_NE(L, nullptr);
        EXPECT_EQ(L->GetNRows(), 6);
        EXPECT_EQ(L->GetNCols(), 18);
    }
}
