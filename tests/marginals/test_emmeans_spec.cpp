#include <gtest/gtest.h>

#include <vector>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "marginals/MCEmmeansSpec.h"
#include "marginals/MCEmmeansStats.h"

using namespace MCMath_850;
using MCCommon_850::MCMV;

TEST(MCEmmeansSpec, AddersRefuseDuplicatesAndNegatives) {
    MCEmmeansSpec spec;
    EXPECT_EQ(spec.AddFactor(3), 1);
    EXPECT_EQ(spec.AddFactor(3), -1);
    EXPECT_EQ(spec.AddFactor(-1), -1);
    EXPECT_EQ(spec.AddFactor(1, 2), 2);
    EXPECT_EQ(spec.GetFactors(), (std::vector<int>{3, 1}));
    EXPECT_EQ(spec.GetFactorsNestLevel(), (std::vector<int>{2}));
    EXPECT_EQ(spec.AddCovariate(5, MCMV::Missing()), 1);
    EXPECT_EQ(spec.AddCovariate(5, 2.0), -1);
    ASSERT_EQ(spec.GetCovariates().size(), 1u);
    EXPECT_TRUE(MCMV::IsMissing(spec.GetCovariates()[0].second));
    EXPECT_EQ(spec.AddCompareFactor(1), 1);
    EXPECT_EQ(spec.AddCompareFactor(1), -1);
}

TEST(MCEmmeansSpec, ContrastOptionsDependOnTheContrastType) {
    MCEmmeansSpec spec;
    EXPECT_EQ(spec.GetContrastType(), MCConst::CONTRAST_PAIRWISE);
    spec.SetRefCateg(2);  // ignored under the pairwise contrast
    EXPECT_EQ(spec.GetRefCateg(), -1);
    EXPECT_FALSE(spec.SetMetricValueList({1, 2, 4}));

    spec.SetContrastType(MCConst::CONTRAST_POLYNOMIAL);
    EXPECT_FALSE(spec.SetMetricValueList({1, 2, 2}));
    EXPECT_TRUE(spec.SetMetricValueList({1, 2, 4}));
    EXPECT_FALSE(spec.SetMetricValueList({3, 1}));
    EXPECT_EQ(spec.GetMetricValueList(), (std::vector<double>{1, 2, 4}));

    EXPECT_GE(spec.AddFactor(0), 0);
    spec.SetEmmScaleType(MCConst::EMM_SCALE_TRANSFORMED);
    spec.SetReferenceType(static_cast<MCConst::MCReferenceType>(1));
    spec.Reset();
    EXPECT_EQ(spec.GetContrastType(), MCConst::CONTRAST_SIMPLE);
    EXPECT_TRUE(spec.GetFactors().empty() && spec.GetMetricValueList().empty());
    EXPECT_EQ(spec.GetEmmScaleType(), MCConst::EMM_SCALE_ORIGINAL);
    EXPECT_EQ(spec.GetReferenceType(), 1);
    spec.SetRefCateg(2);
    EXPECT_EQ(spec.GetRefCateg(), 2);
}

// Sequential Bonferroni over three unordered pairs (rows 0, 2, 4; the odd
// rows are their mirror pairs and stay as they are): the p-values 0.01, 0.04,
// 0.03 become 0.03, 0.06, 0.06, and each interval uses the step's t quantile.
TEST(MCEmmeansStats, StepDownReplacesSignificanceAndBounds) {
    std::vector<MCEmmeansStats> rows(6);
    const double p[] = {0.01, 0.04, 0.03};
    for (int i = 0; i < 3; ++i) {
        rows[2 * i].SetSignificance(p[i]);
        rows[2 * i].SetMean(1.0 + i);
        rows[2 * i].SetStandardError(0.5);
        rows[2 * i].SetDF(i == 0 ? 9.0 : MCMV::Missing());
    }
    rows[1].SetSignificance(0.5);
    ASSERT_TRUE(MCEmmeansStats::StepDown(MCConst::PADJ_SEQ_BONFERRONI, MCConst::TEST_WALD_F, 0.05,
                                         20.0, 3, rows, {0, 2, 4}));
    EXPECT_NEAR(rows[0].GetSignificance(), 0.03, 1e-15);
    EXPECT_NEAR(rows[2].GetSignificance(), 0.06, 1e-15);
    EXPECT_NEAR(rows[4].GetSignificance(), 0.06, 1e-15);
    EXPECT_EQ(rows[1].GetSignificance(), 0.5);
    const double t0 = MCDistFun::IdfT(1 - 0.05 / 6, 9.0);
    EXPECT_NEAR(rows[0].GetLower(), 1.0 - 0.5 * t0, 1e-12);
    // 0.03 is the second step (m = 2) with the error df 20.
    EXPECT_NEAR(rows[4].GetUpper(), 3.0 + 0.5 * MCDistFun::IdfT(1 - 0.05 / 4, 20.0), 1e-12);
    EXPECT_FALSE(MCEmmeansStats::StepDown(MCConst::PADJ_BONFERRONI, MCConst::TEST_WALD_F, 0.05,
                                          20.0, 3, rows, {0, 2, 4}));

    rows[0].GetCategories() = {1, 2};
    rows[0].Reset();
    EXPECT_TRUE(rows[0].GetCategories().empty());
    EXPECT_TRUE(MCMV::IsMissing(rows[0].GetMean()) && MCMV::IsMissing(rows[0].GetLower()));
}
