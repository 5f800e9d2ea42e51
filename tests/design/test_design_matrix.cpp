#include <gtest/gtest.h>

#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "design/MCDesignMatrix.h"
#include "design/MCRegrParameter.h"
#include "mixed_model.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

using MCCommon_850::MCWarnings;
using MCCommon_850::Record;
using MCMath_850::MCCancelInfo;
using MCMath_850::MCDesignMatrix;
using MCMath_850::MCModelEffect;
using MCMath_850::MCRegrParameter;
using MCMath_850::MCRegSettings;

namespace {

// Observed (A, B) cells: all but (A=1, B=0).
const std::vector<Record> kData = {{1.0, 0, 0, 2.0}, {2.0, 0, 1, -1.0}, {3.0, 1, 1, 0.5},
                                   {4.0, 2, 0, 3.0}, {5.0, 2, 1, 1.5},  {6.0, 2, 1, -2.0}};

}  // namespace

TEST(RegrParameter, FactorOrderCovariatePowersAndSetup) {
    MCRegrParameter p;
    EXPECT_TRUE(p.AddFactor(5, 1, 1));
    EXPECT_TRUE(p.AddFactor(3, 0, 0));
    EXPECT_TRUE(p.AddFactor(7, 2, 1));
    EXPECT_FALSE(p.AddFactor(5, 4, 0));
    EXPECT_FALSE(p.AddFactor(-1, 0, 0));
    EXPECT_FALSE(p.AddFactor(8, 0, -1));
    EXPECT_EQ(p.GetFactors(), (std::vector<int>{3, 5, 7}));
    EXPECT_EQ(p.GetCategories(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(p.GetFactorNestLevels(), (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(p.ContainsFactor(7, -9), 2);
    EXPECT_EQ(p.ContainsFactor(4, -9), -9);
    EXPECT_EQ(p.AddCovariate(4, 1), 1);
    EXPECT_EQ(p.AddCovariate(6, 1), 1);
    EXPECT_EQ(p.AddCovariate(4, 2), 3);
    EXPECT_EQ(p.AddCovariate(4, 0), 0);
    EXPECT_EQ(p.GetCovariates(), (std::vector<int>{4, 6}));
    EXPECT_EQ(p.GetNCovariateMult(), 4);

    MCRegrParameter q = p;
    EXPECT_TRUE(q == p);
    q.SetTargetCategory(1);
    EXPECT_FALSE(q == p);
    const std::vector<int> vars = {1, 2};
    MCModelEffect intercept(1, 1, &vars);
    EXPECT_FALSE(q.SetupFromEffect(intercept, 0, 0));
    EXPECT_EQ(q.GetFactors(), p.GetFactors());
    MCModelEffect ax(1, 1, &vars);
    EXPECT_TRUE(ax.AddNewFactor(1, false));
    EXPECT_GE(ax.AddCovariate(2), 0);
    EXPECT_GE(ax.AddCovariate(2), 0);
    EXPECT_TRUE(q.SetupFromEffect(ax, 4, 2));
    EXPECT_EQ(q.GetFactors(), std::vector<int>{1});
    EXPECT_EQ(q.GetCategories(), std::vector<int>{2});
    EXPECT_EQ(q.GetCovariateMult(2), 2);
    EXPECT_EQ(q.GetEffectIndex(), 4);
    EXPECT_EQ(q.GetTargetCategory(), 1);
}

TEST(DesignMatrix, ParametersAndRowsOfMixedModel) {
    const MCRegSettings s = MixedModelSettings();
    MCCancelInfo cancel;
    MCWarnings warnings;
    MCDesignMatrix d(s, cancel, warnings);
    for (const Record& r : kData) d.GetFactorTables().UpdateAll(r);
    ASSERT_TRUE(d.CreateParameters().IsOK());
    ASSERT_EQ(d.GetNFixedParameters(), 14);
    EXPECT_EQ(d.GetNFixedEffects(), 6);

    // 0 intercept, 1-3 A, 4 x, 5 x*x, 6-8 A*x, 9-13 A(B) keyed (B, A).
    const std::vector<MCRegrParameter>& p = d.GetFixedParameters();
    EXPECT_TRUE(p[0].IsIntercept());
    EXPECT_EQ(p[2].GetCategories(), std::vector<int>{1});
    EXPECT_EQ(p[5].GetCovariateMult(3), 2);
    EXPECT_EQ(p[8].GetCategories(), std::vector<int>{2});
    EXPECT_EQ(p[8].GetCovariates(), std::vector<int>{3});
    EXPECT_EQ(p[9].GetFactors(), (std::vector<int>{2, 1}));
    const std::vector<std::vector<int>> nested = {{0, 0}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(p[9 + j].GetCategories(), nested[j]);
        EXPECT_EQ(p[9 + j].GetEffectIndex(), 4);
    }
    int first = -1, count = -1;
    EXPECT_TRUE(d.GetParamsForFixedEffect(5, first, count));
    EXPECT_EQ(first, 9);
    EXPECT_EQ(count, 5);
    EXPECT_FALSE(d.GetParamsForFixedEffect(6, first, count));

    // y = 7, A = 2, B = 1, x = 1.5.
    const double row[] = {7, 2, 1, 1.5};
    const std::vector<double> dense = {1, 0, 0, 1, 1.5, 2.25, 0, 0, 1.5, 0, 0, 0, 0, 1};
    std::vector<double> x(14, -1.0), xy(15, -1.0);
    ASSERT_TRUE(d.ExpandRowX(row, x.data(), false));
    EXPECT_EQ(x, dense);
    ASSERT_TRUE(d.ExpandRowXY(row, xy.data(), false));
    EXPECT_EQ(std::vector<double>(xy.begin(), xy.end() - 1), dense);
    EXPECT_EQ(xy[14], 7.0);
    std::vector<int> idx;
    std::vector<double> val;
    ASSERT_TRUE(d.ExpandRowXY(row, idx, val, false));
    EXPECT_EQ(idx, (std::vector<int>{0, 3, 4, 5, 8, 13, 14}));
    EXPECT_EQ(val, (std::vector<double>{1, 1, 1.5, 2.25, 1.5, 1, 7}));
    ASSERT_TRUE(d.ExpandRowX(row, idx, val, true));
    EXPECT_EQ(val, std::vector<double>(6, 1.0));
    EXPECT_EQ(d.ComputeDesignRowValueCheck(row, p[8], false), 1.5);
    EXPECT_EQ(d.ComputeDesignRowValueCheck(row, p[7], false), 0.0);

    // The unobserved cell (A = 1, B = 0) has no column: x stays as it was.
    const double unseen[] = {7, 1, 0, 1.5};
    EXPECT_FALSE(d.ExpandRowX(unseen, x.data(), false));
    EXPECT_EQ(x, dense);
    EXPECT_FALSE(d.ExpandRowX(unseen, idx, val, false));
    const double newCategory[] = {7, 3, 0, 1.5};
    EXPECT_FALSE(d.ExpandRowXY(newCategory, xy.data(), false));
}

TEST(DesignMatrix, CovariateOnlyModelAndCancelledCreation) {
    MCRegSettings s;
    EXPECT_TRUE(s.SetDependent(0));
    EXPECT_GE(s.AddFactor(1, 2), 0);
    EXPECT_GE(s.AddCovariate(2), 0);
    const std::vector<int> vars = {1, 2};
    MCModelEffect x(1, 1, &vars), a(1, 1, &vars);
    EXPECT_GE(x.AddCovariate(2), 0);
    EXPECT_TRUE(a.AddNewFactor(1, false));
    EXPECT_TRUE(s.AddModelEffect(x));
    MCCancelInfo cancel;
    MCWarnings warnings;
    {
        MCDesignMatrix d(s, cancel, warnings);
        d.GetFactorTables().UpdateAll(Record{1, 0, 2});
        ASSERT_TRUE(d.CreateParameters().IsOK());
        const double row[] = {4, 1, -3};
        std::vector<int> idx;
        std::vector<double> val;
        ASSERT_TRUE(d.ExpandRowXY(row, idx, val, false));
        EXPECT_EQ(idx, (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(val, (std::vector<double>{1, -3, 4}));
    }
    EXPECT_TRUE(s.AddModelEffect(a));
    cancel.SetCancel();
    MCDesignMatrix d(s, cancel, warnings);
    d.GetFactorTables().UpdateAll(Record{1, 0, 2});
    EXPECT_EQ(d.CreateParameters().GetErrorCode(), 1);
    EXPECT_EQ(d.GetNFixedParameters(), 1);  // the intercept only
    std::vector<double> x1(2);
    const double row[] = {4, 0, -3};
    EXPECT_FALSE(d.ExpandRowX(row, x1.data(), false));  // columns cut off by the cancel
}
