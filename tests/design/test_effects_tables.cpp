#include <gtest/gtest.h>

#include <vector>

#include "design/MCEffectsTables.h"

using MCCommon_850::Record;
using MCMath_850::MCEffectsTables;

namespace {

// Record positions: 0 covariate x, 1 factor A, 2 factor B.
// Model: intercept, B*A (B listed first), x, A.
void Fill(MCEffectsTables& t, const std::vector<Record>& records) {
    ASSERT_TRUE(t.SetModelEffectFactors({{}, {2, 1}, {}, {1}}));
    for (const Record& r : records) ASSERT_TRUE(t.UpdateAll(r));
}

}  // namespace

TEST(EffectsTables, ObservedCellsNumberedInKeyOrder) {
    MCEffectsTables t({1, 2}, {2, 2}, 0);
    // (A, B) = (1, 0), (0, 1), (1, 1) in data order with repeats; (0, 0)
    // never occurs.
    Fill(t, {{3.5, 1, 0}, {1.0, 0, 1}, {2.0, 1, 0}, {0.5, 1, 1}});
    EXPECT_EQ(t.GetLocalEffectIndices(), (std::vector<int>{-1, 0, -1, 1}));
    EXPECT_EQ(t.GetModelEffectIndices(), (std::vector<int>{1, 3}));
    EXPECT_EQ(t.CreateParameterIndices(), 7);
    EXPECT_EQ(t.GetParameterOffsets(), (std::vector<int>{0, 1, 4, 5}));
    EXPECT_EQ(t.GetNEffectParameters(1), 3);
    EXPECT_EQ(t.GetNEffectParameters(2), 1);
    EXPECT_EQ(t.GetNEffectParameters(4), 0);

    // B*A keys are (B, A): (0,1) < (1,0) < (1,1).
    std::vector<int> values;
    const std::vector<std::vector<int>> cells = {{0, 1}, {1, 0}, {1, 1}};
    for (int j = 0; j < 3; ++j) {
        ASSERT_TRUE(t.GetParameterFactorValues(values, 1, j));
        EXPECT_EQ(values, cells[j]);
    }
    EXPECT_FALSE(t.GetParameterFactorValues(values, 1, 3));
    EXPECT_TRUE(t.GetParameterFactorValues(values, 2, 0));
    EXPECT_TRUE(values.empty());

    // Values are rounded: A = 0.6 and B = 1.4 is the cell (B, A) = (1, 1).
    bool ok = false;
    const double row[3] = {9.0, 0.6, 1.4};
    EXPECT_EQ(t.GetRowParameterIndices(row, ok), (std::vector<int>{0, 3, 4, 6}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(t.GetRowLocalParamIndices(row, ok), (std::vector<int>{2, 1}));
    EXPECT_EQ(t.GetRowEffectParamIndices(row, ok), (std::vector<int>{0, 2, 0, 1}));

    // The unobserved cell has no parameter.
    const double unseen[3] = {9.0, 0.0, 0.0};
    EXPECT_EQ(t.GetRowParameterIndices(unseen, ok)[1], -1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(t.GetRowParameterIndices(unseen, ok)[3], 5);
    EXPECT_EQ(t.GetEffectParameterIndex(1, {0, 0}), -1);
    EXPECT_EQ(t.GetEffectParameterIndex(1, {1, 0}), 1);  // A=1, B=0: cell (0, 1)
    EXPECT_EQ(t.GetEffectParameterIndex(2, {0, 0}), 4);
    EXPECT_EQ(t.GetEffectLocalParameterIndex(1, {1, 1}), 2);  // effect order: B, A
    EXPECT_EQ(t.GetEffectLocalParameterIndex(1, {0, 0}), -1);
    EXPECT_EQ(t.GetEffectHashPairPtr(1, {0, 0}), nullptr);
    bool found = true;
    EXPECT_EQ(t.GetParameterIndices({0, 1}, found), (std::vector<int>{0, 2, 4, 5}));
    EXPECT_TRUE(found);

    // Configured objects refuse new factor info.
    EXPECT_FALSE(t.SetInfo({1}, {2}, 0));
}

TEST(EffectsTables, ValueBaseAndGroupNumbering) {
    MCEffectsTables t;
    ASSERT_TRUE(t.SetInfo({1, 2}, {2, 3}, 1));  // codes start at 1
    ASSERT_TRUE(t.SetModelEffectFactors({{1}, {1, 2}}));
    for (const Record& r :
         std::vector<Record>{{0, 2, 3}, {0, 1, 2}, {0, 2, 1}, {0, 1, 3}, {0, 2, 2}})
        ASSERT_TRUE(t.UpdateAll(r));
    EXPECT_EQ(t.CreateParameterIndices(), 7);
    std::vector<int> values;
    ASSERT_TRUE(t.GetParameterFactorValues(values, 1, 0));
    EXPECT_EQ(values, (std::vector<int>{1, 2}));

    // Grouped by the leading factor A: A*B numbers its cells within each A.
    std::vector<int> nParams = {9};
    EXPECT_EQ(t.CreateParamIndicesSS({1}, nParams), 2);  // the two cells of A
    EXPECT_EQ(nParams, (std::vector<int>{1, 3}));
    EXPECT_EQ(t.GetParameterOffsets(), (std::vector<int>{0, 0}));
    EXPECT_EQ(t.GetEffectLocalParameterIndex(1, {0, 2}), 1);  // A=1: B=2,3
    EXPECT_EQ(t.GetEffectLocalParameterIndex(1, {1, 2}), 2);  // A=2: B=1,2,3
    EXPECT_EQ(t.GetEffectLocalParameterIndex(0, {1}), 0);
}
