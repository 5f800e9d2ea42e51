#include <gtest/gtest.h>

#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCHashKey.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "design/MCDesignMatrix.h"
#include "design/MCFastDesignMatrix.h"
#include "design/MCLiteDesignMatrix.h"
#include "mixed_model.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

using MCCommon_850::Record;
using MCMath_850::MCFastDesignMatrix;
using MCMath_850::MCHashKey;
using MCMath_850::MCLiteDesignMatrix;
using MCMath_850::MCModelEffect;
using MCMath_850::MCRegrParameter;

TEST(FastDesignMatrix, ArithmeticIndicesRowsAndParameters) {
    // Record: 0 = y, 1 = factor of 3 codes, 2 = x, 3 = factor given one code.
    MCFastDesignMatrix d({1, 3}, {3, 1}, {2}, true);
    ASSERT_EQ(d.GetNParameters(), 6);  // intercept, codes 0-2, the one-code factor, x
    EXPECT_EQ(d.GetFactors(), std::vector<int>{1});
    EXPECT_EQ(d.GetCovariates(), (std::vector<int>{3, 2}));
    EXPECT_EQ(d.GetEffectParameterIndex(1, 2), 3);
    EXPECT_EQ(d.GetEffectParameterIndex(1, 3), -1);
    EXPECT_EQ(d.GetEffectParameterIndex(3, 9), 5);
    EXPECT_EQ(d.AddModelEffects({4}, {}), -1);
    EXPECT_EQ(d.GetNEffects(), 4);

    const double row[] = {9, 1, 2.5, 4};
    std::vector<double> x;
    ASSERT_TRUE(d.ExpandRowX(row, x));
    EXPECT_EQ(x, (std::vector<double>{1, 0, 1, 0, 4, 2.5}));
    EXPECT_FALSE(d.ExpandRowXY(row, x));  // no dependent yet
    d.SetDepVar(0);
    std::vector<int> idx;
    std::vector<double> val;
    ASSERT_TRUE(d.ExpandRowXY(row, idx, val));
    EXPECT_EQ(idx, (std::vector<int>{0, 2, 4, 5, 6}));
    EXPECT_EQ(val, (std::vector<double>{1, 1, 4, 2.5, 9}));
    const double bad[] = {9, 3, 2.5, 4};
    EXPECT_FALSE(d.ExpandRowX(bad, idx, val));

    const std::vector<MCRegrParameter> p = d.GetParameters();
    ASSERT_EQ(p.size(), 6u);
    EXPECT_TRUE(p[0].IsIntercept());
    EXPECT_EQ(p[3].GetCategories(), std::vector<int>{2});
    EXPECT_EQ(p[3].GetEffectIndex(), 0);
    EXPECT_EQ(p[4].GetCovariates(), std::vector<int>{3});
    EXPECT_EQ(p[5].GetEffectIndex(), 2);
    EXPECT_EQ(d.ComputeDesignRowValueCheck(row, p[2]), 1.0);
    EXPECT_EQ(d.ComputeDesignRowValueCheck(row, p[3]), 0.0);
}

TEST(LiteDesignMatrix, RebuiltFromDesignReproducesIndicesAndRows) {
    // Record: 0 = y, 1 = A (3), 2 = B (2), 3 = x; model intercept, A, x, x*x,
    // A*x, A(B), with the cell (A=1, B=0) never observed.
    MCMath_850::MCRegSettings s = MixedModelSettings();
    MCMath_850::MCCancelInfo cancel;
    MCCommon_850::MCWarnings warnings;
    MCMath_850::MCDesignMatrix design(s, cancel, warnings);
    std::vector<Record> data;
    for (int i = 0; i < 24; ++i) {
        const int ca = i % 3, cb = (i / 3) % 2;
        if (ca == 1 && cb == 0) continue;
        data.push_back(Record{0.5 * i, double(ca), double(cb), 0.25 * i - 2});
    }
    for (const Record& r : data) design.GetFactorTables().UpdateAll(r);
    ASSERT_TRUE(design.CreateParameters().IsOK());
    data.push_back(Record{1, 1, 0, 1});  // the unobserved cell

    MCLiteDesignMatrix lite({1, 2}, {}, {3});
    lite.SetDepVar(0);
    for (const MCRegrParameter& p : design.GetFixedParameters())
        EXPECT_TRUE(lite.AddRegrParameter(p));
    ASSERT_EQ(lite.GetNParameters(), design.GetNFixedParameters());
    ASSERT_EQ(lite.GetNEffects(), 6);
    EXPECT_EQ(lite.GetParameters(), design.GetFixedParameters());
    int first = 0, count = 0;
    ASSERT_TRUE(lite.GetParamsForEffect(5, first, count));
    EXPECT_EQ(first, 9);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(lite.GetIncompleteEffectIndex(), 5);  // 5 of 6 (B, A) cells

    const int np = design.GetNFixedParameters();
    std::vector<MCHashKey> keys = lite.GetEffectsKeys();
    std::vector<int> factorValues, liteIdx, designIdx;
    std::vector<double> liteVal, designVal, liteX, designX(np + 1), threadSafeX;
    for (const Record& r : data) {
        const double* v = r.GetAll();
        const bool ok = design.ExpandRowXY(v, designX.data(), false);
        ASSERT_EQ(lite.ExpandRowXY(v, liteX), ok);
        ASSERT_EQ(lite.ExpandRow(v, threadSafeX, keys, factorValues, true), ok);
        ASSERT_EQ(lite.ExpandRowX(v, liteIdx, liteVal),
                  design.ExpandRowX(v, designIdx, designVal, false));
        if (!ok) continue;
        EXPECT_EQ(liteX, designX);
        EXPECT_EQ(threadSafeX, designX);
        EXPECT_EQ(liteIdx, designIdx);
        EXPECT_EQ(liteVal, designVal);
    }
    EXPECT_EQ(lite.GetEffectParameterIndex(5, {2, 1}), 13);
    EXPECT_EQ(lite.GetEffectParameterIndex(5, {1, 0}), -1);
    bool ok = true;
    EXPECT_EQ(lite.GetParameterIndices({1, 1}, ok), (std::vector<int>{0, 2, 4, 5, 7, 12}));
    EXPECT_TRUE(ok);
}

TEST(LiteDesignMatrix, GroupingOfParametersIntoEffects) {
    // Factors at 1 and 2, covariate at 3; A*B observed in 3 of 4 cells.
    MCLiteDesignMatrix lite({1, 2}, {7}, {3});
    auto cell = [](int a, int b) {
        MCRegrParameter p;
        EXPECT_TRUE(p.AddFactor(1, a, 0));
        EXPECT_TRUE(p.AddFactor(2, b, 0));
        return p;
    };
    MCRegrParameter x;
    EXPECT_GE(x.AddCovariate(3, 1), 0);
    MCRegrParameter xx;
    EXPECT_GE(xx.AddCovariate(3, 2), 0);
    EXPECT_TRUE(lite.AddRegrParameter(cell(0, 0)));
    EXPECT_TRUE(lite.AddRegrParameter(cell(0, 1)));
    EXPECT_TRUE(lite.AddRegrParameter(cell(1, 1)));
    EXPECT_EQ(lite.GetNEffects(), 1);
    EXPECT_EQ(lite.GetIncompleteEffectIndex(), 0);    // ratio 0.75
    EXPECT_FALSE(lite.AddRegrParameter(cell(0, 1)));  // repeated cell keeps its place
    EXPECT_EQ(lite.GetNParameters(), 4);
    EXPECT_TRUE(lite.AddRegrParameter(x));
    EXPECT_TRUE(lite.AddRegrParameter(x));   // same term: ignored
    EXPECT_TRUE(lite.AddRegrParameter(xx));  // another power: a new effect
    EXPECT_EQ(lite.GetNEffects(), 3);
    EXPECT_EQ(lite.GetNParameters(), 6);
    EXPECT_EQ(lite.GetActiveFactorCategories()[0], (std::vector<int>{0, 1}));
    EXPECT_EQ(lite.GetSecondList(), std::vector<int>{7});

    MCRegrParameter other;  // a factor the design does not know
    EXPECT_TRUE(other.AddFactor(5, 0, 0));
    EXPECT_FALSE(lite.AddRegrParameter(other));
    EXPECT_EQ(lite.GetNEffects(), 3);

    // An effect added whole, with a covariate factor term A*x.
    const std::vector<int> vars = {1, 3};
    MCModelEffect ax(1, 1, &vars);
    EXPECT_TRUE(ax.AddNewFactor(1, false));
    EXPECT_GE(ax.AddCovariate(3), 0);
    MCRegrParameter p0, p1;
    EXPECT_TRUE(p0.SetupFromEffect(ax, 3, 0));
    EXPECT_TRUE(p1.SetupFromEffect(ax, 3, 1));
    EXPECT_EQ(lite.AddModelEffect(ax, {p0, p1}), 8);
    const double row[] = {0, 1, 1, 3};
    std::vector<double> xrow;
    ASSERT_TRUE(lite.ExpandRowX(row, xrow));
    EXPECT_EQ(xrow, (std::vector<double>{0, 0, 1, 0, 3, 9, 0, 3}));
}
