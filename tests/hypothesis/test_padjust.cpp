#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "hypothesis/MCPAdjust.h"
#include "hypothesis/MCTestStats.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace MCMath_850;
using MCCommon_850::MCMV;

namespace {

struct Family {
    int k = 0;
    std::vector<double> p, bonferroni, holm;
};

// R's NA is the library's missing value here: a p-value not computed.
double Value(const golden::Csv& csv, std::size_t row, const std::string& column) {
    const double v = csv.Value(row, column);
    return golden::IsNA(v) ? MCMV::Missing() : v;
}

std::map<int, Family> ReadGolden() {
    std::map<int, Family> sets;
    const golden::Csv csv = golden::ReadCsv("p_adjust.csv");
    for (std::size_t r = 0; r < csv.rows.size(); ++r) {
        Family& fam = sets[static_cast<int>(csv.Value(r, "set"))];
        fam.k = static_cast<int>(csv.Value(r, "k"));
        fam.p.push_back(Value(csv, r, "p"));
        fam.bonferroni.push_back(Value(csv, r, "bonferroni"));
        fam.holm.push_back(Value(csv, r, "holm"));
    }
    return sets;
}

void ExpectSame(double expected, double actual, const std::string& where) {
    if (MCMV::IsMissing(expected)) {
        EXPECT_TRUE(MCMV::IsMissing(actual)) << where;
    } else {
        EXPECT_TRUE(support::Near(actual, expected, 1e-15, 1)) << where;
    }
}

std::vector<MCStepDownItem> Items(const std::vector<double>& p) {
    std::vector<MCStepDownItem> items(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) items[i].fSig = p[i];
    return items;
}

}  // namespace

TEST(MCTestStats, ResetFalseKeepsTheTestSetup) {
    MCTestStats t;
    t.SetTestType(MCConst::TEST_WALD_F);
    t.SetPAdjMethod(MCConst::PADJ_SIDAK);
    t.SetSig(0.2);
    t.SetUsedInOverallTest(false);
    t.Reset(false);
    EXPECT_EQ(t.GetTestType(), MCConst::TEST_WALD_F);
    EXPECT_EQ(t.GetPAdjMethod(), MCConst::PADJ_SIDAK);
    EXPECT_EQ(t.GetDF(), 0.0);  // a count, not missing
    EXPECT_TRUE(MCMV::IsMissing(t.GetSig()) && t.IsUsedInOverallTest());
    t.Reset(true);
    EXPECT_EQ(t.GetTestType(), MCConst::TEST_CHISQUARE);
}

// Bonferroni and sequential Bonferroni (Holm) against R's p.adjust, including
// ties, a multiplicity larger than the family, and a missing p-value.
TEST(MCPAdjust, BonferroniAndHolmMatchR) {
    const auto sets = ReadGolden();
    ASSERT_EQ(sets.size(), 12u);
    for (const auto& [id, fam] : sets) {
        std::vector<MCStepDownItem> items = Items(fam.p);
        ASSERT_TRUE(MCPAdjust::StepDown(MCConst::PADJ_SEQ_BONFERRONI, MCConst::TEST_CHISQUARE, 0.05,
                                        10, fam.k, items, false));
        for (std::size_t i = 0; i < fam.p.size(); ++i) {
            const std::string where = "set " + std::to_string(id) + " row " + std::to_string(i);
            ExpectSame(fam.bonferroni[i],
                       MCPAdjust::SingleStep(MCConst::PADJ_BONFERRONI, fam.p[i], fam.k), where);
            ExpectSame(fam.holm[i], items[i].fAdjSig, where);
        }
    }
    EXPECT_EQ(MCPAdjust::SingleStep(MCConst::PADJ_BONFERRONI, 0.3, 5), 1.0);
    EXPECT_EQ(MCPAdjust::SingleStep(MCConst::PADJ_LSD, 0.3, 5), 0.3);
    EXPECT_TRUE(MCMV::IsMissing(MCPAdjust::SingleStep(MCConst::PADJ_SEQ_SIDAK, 0.3, 5)));
    std::vector<MCStepDownItem> items = Items({0.1});
    EXPECT_FALSE(MCPAdjust::StepDown(MCConst::PADJ_SIDAK, MCConst::TEST_CHISQUARE, 0.05, 10, 1,
                                     items, false));
}

TEST(MCPAdjust, SidakClosedForms) {
    for (const double p : {0.001, 0.02, 0.3, 0.9})
        for (const int k : {1, 2, 7}) {
            const double expected = 1.0 - std::pow(1.0 - p, k);
            EXPECT_NEAR(MCPAdjust::SingleStep(MCConst::PADJ_SIDAK, p, k), expected, 1e-15);
        }
    // Tiny p-values keep their relative accuracy: 1 - (1 - p)^5 ~ 5p.
    EXPECT_NEAR(MCPAdjust::SingleStep(MCConst::PADJ_SIDAK, 1e-13, 5), 5e-13, 1e-24);

    // k = 4. Sorted: 0.010 (m 4), 0.029 (m 3), 0.030 first (m 2), 0.030 second
    // (m 1). The ties keep input order; both are raised by monotonicity.
    std::vector<MCStepDownItem> items = Items({0.030, 0.010, MCMV::Missing(), 0.030, 0.029});
    ASSERT_TRUE(MCPAdjust::StepDown(MCConst::PADJ_SEQ_SIDAK, MCConst::TEST_CHISQUARE, 0.05, 10, 4,
                                    items, false));
    const double a1 = 1.0 - std::pow(0.99, 4), a2 = 1.0 - std::pow(0.971, 3);
    EXPECT_NEAR(items[1].fAdjSig, a1, 1e-15);
    EXPECT_NEAR(items[4].fAdjSig, a2, 1e-15);
    EXPECT_NEAR(items[0].fAdjSig, a2, 1e-15);  // raw 1 - 0.97^2 = 0.0591 < a2
    EXPECT_NEAR(items[3].fAdjSig, a2, 1e-15);
    EXPECT_EQ(items[0].fStep, 2);
    EXPECT_EQ(items[3].fStep, 1);
    EXPECT_TRUE(items[0].fbRaised && items[3].fbRaised && !items[4].fbRaised);
    EXPECT_FALSE(items[2].fbInFamily);
    EXPECT_TRUE(MCMV::IsMissing(items[2].fAdjSig));
}

// An adjusted interval excludes 0 exactly when the adjusted p-value is below
// alpha, for raised steps too. Checked with z and t statistics.
TEST(MCPAdjust, IntervalsAgreeWithAdjustedPValues) {
    const std::vector<double> t = {2.9, 0.4, 2.2, 2.2, 3.4, 2.45, 1.1};
    const double df = 12;
    struct Case {
        MCConst::MCPAdjustMethod method;
        MCConst::MCTestType type;
    };
    for (const Case c : {Case{MCConst::PADJ_SEQ_BONFERRONI, MCConst::TEST_CHISQUARE},
                         Case{MCConst::PADJ_SEQ_BONFERRONI, MCConst::TEST_WALD_F},
                         Case{MCConst::PADJ_SEQ_SIDAK, MCConst::TEST_WALD_F},
                         Case{MCConst::PADJ_BONFERRONI, MCConst::TEST_CHISQUARE},
                         Case{MCConst::PADJ_SIDAK, MCConst::TEST_WALD_F}}) {
        const bool z = c.type == MCConst::TEST_CHISQUARE;
        std::vector<MCStepDownItem> items(t.size());
        for (std::size_t i = 0; i < t.size(); ++i) {
            items[i].fEstimate = 0.5 * t[i];
            items[i].fStdErr = 0.5;
            items[i].fDF = df;
            items[i].fSig = 2.0 * (z ? MCDistFun::SigStdNorm(t[i]) : MCDistFun::SigT(t[i], df));
        }
        // Besides round levels, an alpha between a raised step's own raw value
        // and the value it was raised to, where only the widened interval
        // agrees with the adjusted p-value.
        const int k = static_cast<int>(t.size());
        std::vector<double> alphas = {0.01, 0.05, 0.1, 0.2};
        if (MCPAdjust::IsStepDown(c.method)) {
            ASSERT_TRUE(MCPAdjust::StepDown(c.method, c.type, 0.05, -1, k, items, false));
            for (const auto& it : items)
                if (it.fbRaised)
                    alphas.push_back(
                        0.5 * (it.fAdjSig + MCPAdjust::StepValue(c.method, it.fSig, it.fStep)));
        }
        for (const double alpha : alphas) {
            if (MCPAdjust::IsStepDown(c.method)) {
                ASSERT_TRUE(MCPAdjust::StepDown(c.method, c.type, alpha, -1, k, items, true));
            } else {
                for (auto& it : items) {
                    it.fAdjSig = MCPAdjust::SingleStep(c.method, it.fSig, k);
                    const double crit =
                        MCPAdjust::AdjPercentile(c.type, c.method, alpha, k, it.fDF, -1);
                    it.fLower = it.fEstimate - crit * it.fStdErr;
                }
            }
            int raised = 0;
            for (const auto& it : items) {
                raised += it.fbRaised ? 1 : 0;
                if (std::fabs(it.fAdjSig - alpha) < 1e-9) continue;
                EXPECT_EQ(it.fLower > 0.0, it.fAdjSig < alpha)
                    << "method " << c.method << " alpha " << alpha << " p " << it.fSig;
            }
            if (MCPAdjust::IsStepDown(c.method)) {
                EXPECT_GE(raised, 1);
            }
        }
    }
}

TEST(MCPAdjust, StepDownOverTestRecords) {
    std::vector<MCTestStats> tests(4);
    const double p[] = {0.04, 0.01, 0.03, 0.02};
    for (int i = 0; i < 4; ++i) {
        tests[i].SetSig(p[i]);
        tests[i].SetContrastEstimate(1.0);
    }
    tests[1].SetStandardError(0.25);
    // Record 3 is not a member (a duplicate row); the family has three tests.
    ASSERT_TRUE(
        MCPAdjust::StepDown(MCConst::PADJ_SEQ_BONFERRONI, 0.05, -1, 3, tests, {0, 1, 2, 9}, true));
    EXPECT_NEAR(tests[1].GetAdjSig(), 0.03, 1e-15);
    EXPECT_NEAR(tests[2].GetAdjSig(), 0.06, 1e-15);
    EXPECT_NEAR(tests[0].GetAdjSig(), 0.06, 1e-15);
    EXPECT_TRUE(MCMV::IsMissing(tests[3].GetAdjSig()));
    const double z = MCDistFun::IdfStdNorm(1.0 - 0.05 / 6.0);
    EXPECT_NEAR(tests[1].GetUpperConfidenceInterval(), 1.0 + z * 0.25, 1e-12);
    EXPECT_TRUE(MCMV::IsMissing(tests[0].GetLowerConfidenceInterval()));  // no standard error
}
