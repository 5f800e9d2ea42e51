#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCMV.h"
#include "companion/Record.h"
#include "data/MCFactorCounts.h"
#include "data/MCFactorTables.h"

using MCCommon_850::MCMV;
using MCCommon_850::Record;
using MCMath_850::MCFactorCounts;
using MCMath_850::MCFactorTables;

namespace {

// Positions: 0 = A (3 categories), 1 = B (2 categories), 2 = x.
// Effects: intercept, A, x, A*B.
void SetUpAB(MCFactorTables& t) {
    t.SetModelEffectFactors({{}, {0}, {}, {0, 1}});
    t.SetCovariates({2});
}

}  // namespace

TEST(FactorTables, CellsNumberedInKeyOrderAndUnobservedCellHasNoParameter) {
    MCFactorTables t({0, 1}, {3, 2}, -1, -1, 0, 0, -1, 0.0, 0);
    SetUpAB(t);
    // Cells arrive out of order; (A=2, B=0) never occurs. 0.6 rounds to 1.
    for (const Record& r : {Record{2, 1, 0}, Record{0, 1, 0}, Record{0.6, 0, 0}, Record{0, 0, 0},
                            Record{1, 1, 0}, Record{2, 1, 0}})
        EXPECT_TRUE(t.UpdateAll(r));
    // B = 2 is out of range: A is counted, but no cell, total or mean moves.
    EXPECT_FALSE(t.UpdateAll(Record{1, 2, 100}));
    EXPECT_DOUBLE_EQ(t.GetSampleSize(), 6.0);
    EXPECT_DOUBLE_EQ(t.GetCovariateMeans()[0], 0.0);
    EXPECT_EQ((*t.GetFactorCounts().GetCountsPtr(0))[1].second, 3.0);

    EXPECT_EQ(t.CreateParameterIndices(0), 10);
    EXPECT_EQ(t.GetParameterOffsets(), (std::vector<int>{0, 1, 4, 5}));
    EXPECT_EQ(t.GetModelEffectIndices(), (std::vector<int>{1, 3}));
    EXPECT_EQ(t.GetLocalEffectIndices(), (std::vector<int>{-1, 0, -1, 1}));
    EXPECT_EQ(t.GetNEffectParameters(0), 1);
    EXPECT_EQ(t.GetNEffectParameters(1), 3);
    EXPECT_EQ(t.GetNEffectParameters(3), 5);
    EXPECT_EQ(t.GetNEffectParameters(4), 0);

    // A*B cells in ascending key order, A slowest: (0,0) (0,1) (1,0) (1,1) (2,1).
    const std::vector<std::vector<int>> cells = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 1}};
    std::vector<int> codes{9};
    for (int j = 0; j < 5; ++j) {
        ASSERT_TRUE(t.GetParameterFactorValues(codes, 3, j));
        EXPECT_EQ(codes, cells[static_cast<std::size_t>(j)]);
    }
    EXPECT_FALSE(t.GetParameterFactorValues(codes, 3, 5));
    EXPECT_TRUE(t.GetParameterFactorValues(codes, 2, 0));
    EXPECT_TRUE(codes.empty());

    bool all = false;
    const double row[] = {1.2, 0, 5};
    EXPECT_EQ(t.GetRowParameterIndices(row, all), (std::vector<int>{0, 2, 4, 7}));
    EXPECT_TRUE(all);
    const double unseen[] = {2, 0, 5};
    EXPECT_EQ(t.GetRowParameterIndices(unseen, all), (std::vector<int>{0, 3, 4, -1}));
    EXPECT_FALSE(all);
    const double missing[] = {MCMV::Missing(), 0, 5};
    EXPECT_EQ(t.GetRowParameterIndices(missing, all)[1], -1);
    EXPECT_FALSE(all);
    EXPECT_EQ(t.GetParameterIndices({2, 1}, all), (std::vector<int>{0, 3, 4, 9}));
    EXPECT_TRUE(all);
    EXPECT_EQ(t.GetEffectParameterIndex(3, {2, 0}), -1);
    EXPECT_EQ(t.GetEffectParameterIndex(3, {1, 0}), 7);
    EXPECT_EQ(t.GetEffectParameterIndex(2, {1, 0}), 4);

    // Numbering from another first index keeps local indices within effects.
    EXPECT_EQ(t.CreateParameterIndices(20), 30);
    const double last[] = {2, 1, 0};
    EXPECT_EQ(t.GetRowParameterIndices(last, all), (std::vector<int>{20, 23, 24, 29}));
    EXPECT_EQ(t.GetRowLocalParamIndices(last, all), (std::vector<int>{2, 4}));
}

TEST(FactorTables, WeightedMeansTotalsAndProductStatistics) {
    // Positions: 0 = A (2 categories), 1 = x1, 2 = x2, 3 = frequency weight,
    // 4 = regression weight, 5 = y.
    MCFactorTables t({0}, {2}, 3, -1, 0, 0, -1, 0.0, 0);
    t.SetModelEffectFactors({{}, {0}, {}, {}});
    t.SetRegrWeightVar(4);
    t.SetCovariates({1, 2, 5});
    t.SetDepVar(5);
    t.SetCovarEffects({-1, 0, 3, -1}, {{1, 2}, {1, 1}});
    const std::vector<std::vector<double>> data = {
        {0, 1, 10, 3, 0.5, 2}, {1, 4, 20, 1, 2, 5}, {1, -2, 30, 2, 1, 1}, {0, 7, 40, 1, 1.5, 3}};
    for (const std::vector<double>& d : data) ASSERT_TRUE(t.UpdateAll(Record(d)));

    EXPECT_DOUBLE_EQ(t.GetTotalWeight(), 7.0);
    EXPECT_DOUBLE_EQ(t.GetTotalRegrWeight(), 7.0);
    EXPECT_DOUBLE_EQ(t.GetSampleSize(), 4.0);
    // By hand: covariates weighted by f * r (1.5, 2, 2, 1.5); the dependent
    // and the products x1 x2 (10, 80, -60, 280) and x1 x1 (1, 16, 4, 49) by
    // f only (3, 1, 2, 1), the products' sums of f p^2 92300 and 2692.
    const std::vector<double>& means = t.GetCovariateMeans();
    EXPECT_NEAR(means[0], 16.0 / 7, 1e-13);
    EXPECT_NEAR(means[1], 25.0, 1e-13);
    EXPECT_NEAR(means[2], 19.5 / 7, 1e-13);
    EXPECT_NEAR(t.GetDepMean(), 16.0 / 7, 1e-13);
    ASSERT_EQ(t.GetNCovEffects(), 2);
    EXPECT_NEAR(t.GetCovEffectMeans()[0], 270.0 / 7, 1e-12);
    EXPECT_NEAR(t.GetCovEffectMeans()[1], 76.0 / 7, 1e-12);
    EXPECT_NEAR(t.GetCovEffectStddev()[0], std::sqrt((92300 - 270.0 * 270 / 7) / 6), 1e-12);
    EXPECT_NEAR(t.GetCovEffectStddev()[1], std::sqrt((2692 - 76.0 * 76 / 7) / 6), 1e-12);
    EXPECT_EQ(t.GetFactorCounts().GetNActiveCategories(0), 2);
    EXPECT_DOUBLE_EQ((*t.GetFactorCounts().GetCountsPtr(0))[0].first, 4.0);

    // 0.1, 0.2, -0.3 cancel exactly; a plain running mean ends at 2.8e-17.
    MCFactorTables c({}, {}, -1, -1, 0, 0, -1, 0.0, 0);
    c.SetCovariates({0});
    c.SetDepVar(0);
    for (double x : {0.1, 0.2, -0.3}) EXPECT_TRUE(c.UpdateAll(Record{x}));
    EXPECT_EQ(c.GetCovariateMeans()[0], 0.0);
    EXPECT_EQ(c.GetDepMean(), 0.0);

    // No record: means are missing once read, and stay so.
    MCFactorTables empty({0, 1}, {3, 2}, -1, -1, 0, 0, -1, 0.0, 0);
    SetUpAB(empty);
    EXPECT_TRUE(MCMV::IsMissing(empty.GetCovariateMeans()[0]));
    EXPECT_TRUE(MCMV::IsMissing(empty.GetCovariateMeans()[0]));
}

TEST(FactorCounts, DependentAndOffsetCountsAndOutOfRangeValues) {
    // Positions: 0 = A (2), 1 = B (3), 2 = frequency weight, 3 = dependent
    // (3 categories), 4 = offset.
    MCFactorCounts c({0, 1}, {2, 3}, 2, 3, 3, 0, 4, 0.0, 1);
    EXPECT_TRUE(c.Update(Record{1, 2, 2.5, 0, 0.4}));
    EXPECT_TRUE(c.Update(Record{1, 0, 1, 0, 2}));
    // B out of range: A is still counted, the dependent is not.
    EXPECT_FALSE(c.Update(Record{0, 3, 1, 1, 0}));
    EXPECT_FALSE(c.Update(Record{0, 0, 1, 3, 0}));  // dependent out of range
    EXPECT_FALSE(c.Update(Record{0, 0}));           // too short to hold the weight
    const MCFactorCounts::CountVector& a = *c.GetCountsPtr(0);
    EXPECT_DOUBLE_EQ(a[0].first, 2.0);
    EXPECT_DOUBLE_EQ(a[0].second, 2.0);
    EXPECT_DOUBLE_EQ(a[1].first, 3.5);
    EXPECT_EQ(c.GetNActiveCategories(1), 2);
    const MCFactorCounts::CountVector& dep = *c.GetDependCountsPtr();
    EXPECT_DOUBLE_EQ(dep[0].first, 3.5);
    EXPECT_DOUBLE_EQ(dep[0].second, 2.0);
    EXPECT_DOUBLE_EQ(dep[1].second, 0.0);
    const MCFactorCounts::CountVector& off = *c.GetOffsetCountsForDepCatPtr();
    EXPECT_DOUBLE_EQ(off[0].first, 2.5 * 0.4 + 2.0);
    EXPECT_DOUBLE_EQ(off[0].second, 3.5);
    EXPECT_EQ(c.GetNCategories(2), -1);
    EXPECT_EQ(c.GetCountsPtr(-1), nullptr);

    MCFactorCounts copy = c;
    EXPECT_TRUE(c.Update(Record{1, 2, 1, 2, 0}));
    EXPECT_DOUBLE_EQ((*copy.GetCountsPtr(0))[1].first, 3.5);  // deep copy
    EXPECT_EQ(MCFactorCounts({0}, {2}, -1, 3, 0, 0, -1, 0.0, 0).GetDependCountsPtr(), nullptr);
}

TEST(FactorTables, MainEffectsFilledWithoutData) {
    MCFactorTables t({0, 1}, {3, 2}, -1, -1, 0, 0, -1, 0.0, 0);
    SetUpAB(t);
    EXPECT_TRUE(t.FillTables4MainEffects());
    EXPECT_EQ(t.CreateParameterIndices(0), 5);  // intercept, A0..A2, x; A*B has no cell
    EXPECT_EQ(t.GetNEffectParameters(3), 0);
    std::vector<int> codes;
    ASSERT_TRUE(t.GetParameterFactorValues(codes, 1, 2));
    EXPECT_EQ(codes, std::vector<int>{2});
}
