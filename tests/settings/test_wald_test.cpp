// One Wald test of an estimate: against R (tools/reference/wald.R) for the
// four families and the single-step adjustments, and against closed forms
// where the test decides what a number cannot say (zero or negative
// variance, df that are not positive, a step-down adjustment).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "companion/MCMV.h"
#include "settings/MCWaldTest.h"
#include "support/golden.h"
#include "support/numeric.h"

using MCCommon_850::MCMV;
using MCMath_850::MCWaldTest;
using support::RelErr;

namespace {

MCWaldTest::Family FamilyOf(const std::string& s) {
    if (s == "t") return MCWaldTest::FAMILY_T;
    if (s == "F1") return MCWaldTest::FAMILY_F1;
    if (s == "chisq") return MCWaldTest::FAMILY_CHISQUARE;
    return MCWaldTest::FAMILY_NORMAL;
}

MCConst::MCPAdjustMethod MethodOf(const std::string& s) {
    if (s == "bonferroni") return MCConst::PADJ_BONFERRONI;
    if (s == "sidak") return MCConst::PADJ_SIDAK;
    return MCConst::PADJ_LSD;
}

const double kMissing = MCMV::Missing();

bool AllMissing(const MCWaldTest::Result& r) {
    return !r.fbTested && MCMV::IsMissing(r.fStdError) && MCMV::IsMissing(r.fStatistic) &&
           MCMV::IsMissing(r.fSig) && MCMV::IsMissing(r.fAdjSig) && MCMV::IsMissing(r.fLower) &&
           MCMV::IsMissing(r.fUpper);
}

MCWaldTest::Input TInput(double estimate, double variance, double df) {
    MCWaldTest::Input in;
    in.fEstimate = estimate;
    in.fVariance = variance;
    in.fFamily = MCWaldTest::FAMILY_T;
    in.fDF = df;
    in.fConfidence = 0.95;
    return in;
}

}  // namespace

TEST(WaldTest, AgreesWithRForEveryFamilyAndSingleStepMethod) {
    const golden::Csv csv = golden::ReadCsv("wald.csv");
    ASSERT_GE(csv.rows.size(), 14u);
    double worst = 0.0;
    for (std::size_t i = 0; i < csv.rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + " (" + csv.Text(i, "family") + ", " +
                     csv.Text(i, "method") + ")");
        MCWaldTest::Input in;
        in.fFamily = FamilyOf(csv.Text(i, "family"));
        in.fEstimate = csv.Value(i, "estimate");
        in.fHypothesised = csv.Value(i, "hypothesised");
        in.fVariance = csv.Value(i, "variance");
        const double df = csv.Value(i, "df");
        in.fDF = golden::IsNA(df) ? kMissing : df;
        in.fConfidence = csv.Value(i, "confidence");
        in.fMethod = MethodOf(csv.Text(i, "method"));
        in.fMultiplicity = static_cast<int>(csv.Value(i, "k"));
        const MCWaldTest::Result r = MCWaldTest::Test(in);
        ASSERT_TRUE(r.fbTested);
        const double se = std::sqrt(in.fVariance);
        EXPECT_EQ(r.fStdError, se);
        const double errors[] = {
            RelErr(r.fStatistic, csv.Value(i, "statistic"), 1.0),
            RelErr(r.fSig, csv.Value(i, "sig")),
            RelErr(r.fAdjSig, csv.Value(i, "adjsig")),
            RelErr(r.fLower, csv.Value(i, "lower"), se),
            RelErr(r.fUpper, csv.Value(i, "upper"), se),
        };
        for (double e : errors) {
            EXPECT_LE(e, 1e-12);
            worst = std::max(worst, e);
        }
        // A critical value handed in gives the same interval.
        const double c =
            MCWaldTest::Critical(in.fFamily, in.fDF, in.fConfidence, in.fMethod, in.fMultiplicity);
        const MCWaldTest::Result again = MCWaldTest::Test(in, c);
        EXPECT_EQ(again.fLower, r.fLower);
        EXPECT_EQ(again.fUpper, r.fUpper);
    }
    std::printf("[ golden   ] Wald tests: worst relative error %.2g\n", worst);
}

TEST(WaldTest, ZeroOrNegativeVarianceHasNoStatistic) {
    // Known without error: standard error 0, no statistic, the estimate's
    // difference from the hypothesis rejected outright, the interval the
    // estimate itself.
    for (double v : {0.0, -1e-18}) {
        for (MCWaldTest::Family f : {MCWaldTest::FAMILY_T, MCWaldTest::FAMILY_F1,
                                     MCWaldTest::FAMILY_CHISQUARE, MCWaldTest::FAMILY_NORMAL}) {
            MCWaldTest::Input in = TInput(2.5, v, 8);
            in.fFamily = f;
            in.fMethod = MCConst::PADJ_BONFERRONI;
            in.fMultiplicity = 3;
            const MCWaldTest::Result r = MCWaldTest::Test(in);
            EXPECT_TRUE(r.fbTested);
            EXPECT_EQ(r.fStdError, 0.0);
            EXPECT_TRUE(MCMV::IsMissing(r.fStatistic));
            EXPECT_EQ(r.fSig, 0.0);
            EXPECT_EQ(r.fAdjSig, 0.0);
            EXPECT_EQ(r.fLower, 2.5);
            EXPECT_EQ(r.fUpper, 2.5);
            // The estimate on the hypothesis: nothing to reject.
            in.fHypothesised = 2.5;
            const MCWaldTest::Result same = MCWaldTest::Test(in);
            EXPECT_TRUE(MCMV::IsMissing(same.fSig) && MCMV::IsMissing(same.fAdjSig) &&
                        MCMV::IsMissing(same.fStatistic));
            EXPECT_EQ(same.fLower, 2.5);
        }
    }
    // No usable variance or estimate: nothing at all, never Inf or NaN.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {nan, inf, kMissing})
        EXPECT_TRUE(AllMissing(MCWaldTest::Test(TInput(1, v, 5))));
    for (double b : {nan, kMissing}) EXPECT_TRUE(AllMissing(MCWaldTest::Test(TInput(b, 1, 5))));
}

TEST(WaldTest, TAndFWithoutPositiveDFGiveNoPValueOrInterval) {
    // t = 1.5 / sqrt(0.36) = 2.5 whatever the df; the p-value and the
    // interval need a t distribution, which these df do not make, and
    // nothing falls back to the normal one.
    for (double df : {0.0, -3.0, kMissing, std::numeric_limits<double>::quiet_NaN()}) {
        MCWaldTest::Input in = TInput(1.5, 0.36, df);
        MCWaldTest::Result r = MCWaldTest::Test(in);
        EXPECT_TRUE(r.fbTested);
        EXPECT_DOUBLE_EQ(r.fStatistic, 2.5);
        EXPECT_TRUE(MCMV::IsMissing(r.fSig) && MCMV::IsMissing(r.fAdjSig) &&
                    MCMV::IsMissing(r.fLower) && MCMV::IsMissing(r.fUpper));
        in.fFamily = MCWaldTest::FAMILY_F1;
        r = MCWaldTest::Test(in);
        EXPECT_DOUBLE_EQ(r.fStatistic, 6.25);
        EXPECT_TRUE(MCMV::IsMissing(r.fSig) && MCMV::IsMissing(r.fLower));
        EXPECT_TRUE(MCMV::IsMissing(
            MCWaldTest::Critical(MCWaldTest::FAMILY_T, df, 0.95, MCConst::PADJ_LSD, 1)));
        // Nor is a zero variance without df any evidence.
        in.fVariance = 0.0;
        r = MCWaldTest::Test(in);
        EXPECT_TRUE(r.fbTested && r.fStdError == 0.0 && MCMV::IsMissing(r.fSig) &&
                    MCMV::IsMissing(r.fLower));
        // The chi-square and normal families read no df.
        in.fFamily = MCWaldTest::FAMILY_NORMAL;
        in.fEstimate = 1.96;
        in.fVariance = 1.0;
        r = MCWaldTest::Test(in);
        EXPECT_LE(RelErr(r.fSig, 0.049995790296440856), 1e-14);  // R: 2 * pnorm(-1.96)
        EXPECT_LE(RelErr(r.fUpper, 3.9199639845400536), 1e-15);  // 1.96 + qnorm(0.975)
    }
}

TEST(WaldTest, PValuesStayInTheUnitInterval) {
    // A statistic of 0 is p = 1 exactly in every family, Bonferroni caps
    // at 1, and an infinite statistic is p = 0 with no statistic shown.
    for (MCWaldTest::Family f : {MCWaldTest::FAMILY_T, MCWaldTest::FAMILY_F1,
                                 MCWaldTest::FAMILY_CHISQUARE, MCWaldTest::FAMILY_NORMAL}) {
        MCWaldTest::Input in = TInput(0.75, 0.5, 3);
        in.fFamily = f;
        in.fHypothesised = 0.75;
        in.fMethod = MCConst::PADJ_BONFERRONI;
        in.fMultiplicity = 50;
        MCWaldTest::Result r = MCWaldTest::Test(in);
        EXPECT_EQ(r.fSig, 1.0);
        EXPECT_EQ(r.fAdjSig, 1.0);
        in.fHypothesised = 0.0;
        for (int i = 0; i < 200; ++i) {
            in.fEstimate = -20.0 + 0.2 * i;
            r = MCWaldTest::Test(in);
            EXPECT_TRUE(r.fSig >= 0.0 && r.fSig <= 1.0 && r.fAdjSig >= r.fSig && r.fAdjSig <= 1.0)
                << in.fEstimate;
        }
        in.fEstimate = 1e300;
        in.fVariance = 1e-300;
        r = MCWaldTest::Test(in);
        EXPECT_EQ(r.fSig, 0.0);
        EXPECT_TRUE(MCMV::IsMissing(r.fStatistic) || std::isfinite(r.fStatistic));
    }
}

TEST(WaldTest, StepDownAndMissingLevelLeaveTheIntervalOpen) {
    // A step-down adjustment belongs to the whole family: the test gives
    // the unadjusted p-value and leaves the adjusted one and the interval
    // to the family procedure, even when a critical value is handed in.
    MCWaldTest::Input in = TInput(1.5, 0.36, 12);
    const MCWaldTest::Result plain = MCWaldTest::Test(in);
    for (MCConst::MCPAdjustMethod m : {MCConst::PADJ_SEQ_BONFERRONI, MCConst::PADJ_SEQ_SIDAK}) {
        in.fMethod = m;
        in.fMultiplicity = 4;
        for (const MCWaldTest::Result& r : {MCWaldTest::Test(in), MCWaldTest::Test(in, 2.0)}) {
            EXPECT_EQ(r.fSig, plain.fSig);
            EXPECT_TRUE(MCMV::IsMissing(r.fAdjSig) && MCMV::IsMissing(r.fLower) &&
                        MCMV::IsMissing(r.fUpper));
        }
        EXPECT_TRUE(MCMV::IsMissing(MCWaldTest::Critical(MCWaldTest::FAMILY_T, 12, 0.95, m, 4)));
    }
    in.fMethod = MCConst::PADJ_LSD;
    in.fConfidence = kMissing;
    const MCWaldTest::Result r = MCWaldTest::Test(in);
    EXPECT_EQ(r.fSig, plain.fSig);
    EXPECT_TRUE(MCMV::IsMissing(r.fLower) && MCMV::IsMissing(r.fUpper));
}
