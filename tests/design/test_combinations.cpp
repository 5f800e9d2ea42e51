#include <gtest/gtest.h>

#include <vector>

#include "design/MCCombinations.h"

using MCMath_850::MCCombinations;

TEST(Combinations, OdometerOrderAndRefusals) {
    const std::vector<std::vector<int>> cats = {{5, 6}, {7}, {0, 1, 2}};
    MCCombinations comb;
    ASSERT_TRUE(comb.Set(&cats, {0, 2}));
    EXPECT_EQ(comb.GetNCombinations(), 6.0);
    std::vector<int> v(3, -9);
    std::vector<std::vector<int>> seen;
    while (comb.Next(v)) seen.push_back(v);
    const std::vector<std::vector<int>> expected = {{5, -9, 0}, {5, -9, 1}, {5, -9, 2},
                                                    {6, -9, 0}, {6, -9, 1}, {6, -9, 2}};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(comb.Next(v));  // stays done until Reset
    comb.Reset();
    ASSERT_TRUE(comb.Next(v));
    EXPECT_EQ(v, (std::vector<int>{5, -9, 0}));

    MCCombinations copy = comb;  // continues independently
    ASSERT_TRUE(copy.Next(v));
    EXPECT_EQ(v[2], 1);

    // Excluded positions and the empty combination.
    ASSERT_TRUE(comb.Set(&cats, {0, 2}, {0}));
    EXPECT_EQ(comb.GetNCombinations(), 3.0);
    ASSERT_TRUE(comb.Set(&cats, {}));
    EXPECT_TRUE(comb.Next(v));
    EXPECT_FALSE(comb.Next(v));

    // A short output vector: positions within it are still written.
    ASSERT_TRUE(comb.Set(&cats, {0, 2}));
    std::vector<int> shortV(1, -1);
    EXPECT_FALSE(comb.Next(shortV));
    EXPECT_EQ(shortV[0], 5);

    // A position without categories gives nothing, however often asked.
    const std::vector<std::vector<int>> withEmpty = {{5, 6}, {}};
    ASSERT_TRUE(comb.Set(&withEmpty, {0, 1}));
    std::vector<int> w(2, -1);
    EXPECT_FALSE(comb.Next(w));
    EXPECT_FALSE(comb.Next(w));

    EXPECT_FALSE(comb.Set(&cats, {0, 3}));
    EXPECT_EQ(comb.GetNFreeVars(), 0);
    EXPECT_FALSE(comb.Set(&cats, {-1}));
    EXPECT_FALSE(comb.Set(nullptr, {0}));
}
