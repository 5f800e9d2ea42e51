#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "companion/MCBitSet.h"
#include "companion/MCHashKey.h"
#include "companion/MCMV.h"

using MCMath_850::MCBitSet;
using MCMath_850::MCHashKey;

TEST(HashKey, HashNeverNegativeAndOrderIsLexicographic) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> v(-5, 1 << 30);
    for (int t = 0; t < 20000; ++t) {
        MCHashKey k(std::vector<int>{v(gen), v(gen), v(gen)});
        EXPECT_GE(k.GetHashCode(), 0);
    }
    // Entries beyond 49 reuse the multipliers and still give a valid code.
    MCHashKey big(std::vector<int>(120, 7));
    EXPECT_GE(big.GetHashCode(), 0);
    EXPECT_EQ(MCHashKey().ComputeHash(), 0);

    MCHashKey a(std::vector<int>{0, 2}), b(std::vector<int>{1, 0}), c(std::vector<int>{0});
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(c < a);  // shorter key first on a common prefix
    EXPECT_FALSE(a < a);
}

TEST(BitSet, SetRangeResizeAndCount) {
    MCBitSet s(130);
    EXPECT_EQ(s.Count(), 0);
    s.SetRange(60, 10);
    EXPECT_TRUE(s.IsIn(60));
    EXPECT_TRUE(s.IsIn(69));
    EXPECT_FALSE(s.IsIn(70));
    EXPECT_EQ(s.InRange(0, 65), 5);
    s.Set(129);
    s.Resize(64);  // drops bits 64 and up
    EXPECT_EQ(s.Count(), 4);
    s.Resize(130);
    EXPECT_FALSE(s.IsIn(129));
    EXPECT_FALSE(s.IsIn(-1));
    // The system-missing value is the most negative double, which compares
    // below -0.5; no other number, infinity or NaN is taken for it.
    using MCCommon_850::MCMV;
    const double lowest = -std::numeric_limits<double>::max();
    EXPECT_EQ(MCMV::Missing(), lowest);
    EXPECT_TRUE(MCMV::IsMissing(lowest));
    for (double v :
         {-1e300, -1.0, 0.0, std::nextafter(lowest, 0.0), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(MCMV::IsMissing(v)) << v;
}
