#include <gtest/gtest.h>

#include <vector>

#include "data/MCCellRowCache.h"

using MCMath_850::MCCellRowCache;

TEST(CellRowCache, KeepsAFinishedPassAndGivesUpOnRowsItCannotReplay) {
    MCCellRowCache rows;
    rows.BeginFill();
    rows.Add(3, 1, 2.5, {1.0, -0.5});
    rows.Add(0, 0, 1.0, {1.0, 4.0});
    // Not finished: nothing to replay yet.
    EXPECT_FALSE(rows.IsComplete());
    rows.EndFill();
    ASSERT_TRUE(rows.IsComplete());
    ASSERT_EQ(rows.Size(), 2u);
    std::vector<double> values;
    rows.Values(0, values);
    EXPECT_EQ(values, (std::vector<double>{1.0, -0.5}));
    EXPECT_EQ(rows.Cell(0), 3);
    EXPECT_EQ(rows.Category(0), 1);
    EXPECT_EQ(rows.Weight(0), 2.5);
    rows.Values(1, values);
    EXPECT_EQ(values, (std::vector<double>{1.0, 4.0}));
    EXPECT_EQ(rows.Cell(1), 0);

    // A pass that reads the records again starts afresh.
    rows.BeginFill();
    EXPECT_FALSE(rows.IsComplete());
    EXPECT_EQ(rows.Size(), 0u);

    // Rows of another length cannot be kept, nor any pass after them
    // until the cache is cleared.
    rows.Add(1, 0, 1.0, {1.0, 2.0});
    rows.Add(1, 0, 1.0, {1.0});
    rows.EndFill();
    EXPECT_FALSE(rows.IsComplete());
    rows.BeginFill();
    rows.Add(1, 0, 1.0, {1.0, 2.0});
    rows.EndFill();
    EXPECT_FALSE(rows.IsComplete());
    rows.Clear();
    rows.BeginFill();
    rows.Add(1, 0, 1.0, {1.0, 2.0});
    rows.EndFill();
    EXPECT_TRUE(rows.IsComplete());

    // Beyond the memory bound the rows are given up, and every pass reads
    // the records.
    rows.Clear();
    rows.BeginFill();
    const std::vector<double> one{1.0};
    const std::size_t fit = MCCellRowCache::kMaxDoubles / 3;
    for (std::size_t r = 0; r <= fit; ++r) rows.Add(0, 0, 1.0, one);
    rows.EndFill();
    EXPECT_FALSE(rows.IsComplete());
    EXPECT_EQ(rows.Size(), 0u);
}
