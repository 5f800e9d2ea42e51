// The outer products of the cluster sums, sum over clusters of w u u', against
// the same sums formed in long double from the entries added. The clusters
// touch from one to all of the parameters (so the products' grouping of rows
// meets every remainder), come back after others, arrive out of key order,
// and have keys both whole (direct index) and not (hashed).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "companion/MCClusterRuns.h"
#include "companion/MCClusterSums.h"
#include "companion/PassReducer.h"

using MCMath_850::MCClusterSums;

namespace {

// Checks sum w u u' of the clusters' sums u in plain (packed lower triangle)
// against want, formed in long double: within tol of the sum of the
// products' magnitudes.
void ExpectOuterProducts(const std::vector<double>& plain,
                         const std::map<double, std::vector<long double>>& want, int k,
                         long double w, long double tol) {
    for (int a = 0; a < k; ++a)
        for (int b = 0; b <= a; ++b) {
            long double expected = 0.0L, scale = 0.0L;
            for (const auto& [key, u] : want) {
                const long double p =
                    w * u[static_cast<std::size_t>(a)] * u[static_cast<std::size_t>(b)];
                expected += p;
                scale += std::fabs(p);
            }
            EXPECT_NEAR(plain[static_cast<std::size_t>(a * (a + 1) / 2 + b)],
                        static_cast<double>(expected), static_cast<double>(tol * scale))
                << a << "," << b;
        }
}

// Adds one record's entries to sums under key, and weight times them to
// the cluster's sums in want.
void AddEntries(MCClusterSums& sums, std::map<double, std::vector<long double>>& want, int k,
                double key, const std::vector<int>& cols, const std::vector<double>& values,
                double weight) {
    std::vector<long double>& u = want[key];
    u.resize(static_cast<std::size_t>(k), 0.0L);
    ASSERT_TRUE(sums.Add(MCClusterSums::Key(key, 0.0), cols.data(), values.data(),
                         static_cast<int>(cols.size()), weight));
    for (std::size_t j = 0; j < cols.size(); ++j)
        u[static_cast<std::size_t>(cols[j])] += static_cast<long double>(weight) * values[j];
}

}  // namespace

TEST(ClusterSums, OuterProductsAreThoseOfTheClustersScoreSums) {
    constexpr int kK = 11;
    MCClusterSums sums;
    ASSERT_TRUE(sums.Reset(kK));
    std::map<double, std::vector<long double>> want;
    for (int run = 0; run < 90; ++run) {
        const double key = (run * 37) % 23 + (run % 4 == 0 ? 0.5 : 0.0);
        for (int rec = 0; rec < 3; ++rec) {
            // 3 is prime to 11: the columns are distinct.
            const int n = 1 + (run + rec) % kK;
            std::vector<int> cols(static_cast<std::size_t>(n));
            std::vector<double> values(cols.size());
            for (int j = 0; j < n; ++j) {
                cols[static_cast<std::size_t>(j)] = (run * 5 + rec + 3 * j) % kK;
                values[static_cast<std::size_t>(j)] = std::sin(0.7 * run + 1.3 * rec + 2.1 * j);
            }
            AddEntries(sums, want, kK, key, cols, values, 0.5 + rec);
        }
    }
    EXPECT_EQ(sums.Count(), static_cast<long>(want.size()));
    std::vector<double> plain(kK * (kK + 1) / 2, 0.0);
    ASSERT_TRUE(sums.AddOuterProducts(1.25, plain));
    ExpectOuterProducts(plain, want, kK, 1.25L, 1e-14L);
}

// Thousands of clusters, each in one run, whose sums range over twelve
// orders of magnitude, the large among the small: the products formed as
// each run closes keep the accuracy of exact sums. A cluster that then
// comes back, after the products of the others were formed, must count once
// with all its records.
TEST(ClusterSums, ClustersInOrderKeepTheAccuracyOfExactSums) {
    constexpr int kK = 9;
    MCClusterSums sums;
    ASSERT_TRUE(sums.Reset(kK));
    std::map<double, std::vector<long double>> want;
    const auto add = [&](double key, int run, int rec) {
        const int n = 1 + (run * 7 + rec) % kK;
        // Large and small clusters mixed, and within a cluster entries of
        // opposite sign.
        const double magnitude = std::pow(10.0, (run * 5) % 13 - 6);
        std::vector<int> cols(static_cast<std::size_t>(n));
        std::vector<double> values(cols.size());
        for (int j = 0; j < n; ++j) {
            cols[static_cast<std::size_t>(j)] = (run + 2 * j) % kK;  // 2 is prime to 9
            values[static_cast<std::size_t>(j)] =
                magnitude * std::sin(1.1 * run + 0.3 * rec + 2.7 * j) * (1.0 + 1e-9 * rec);
        }
        AddEntries(sums, want, kK, key, cols, values, 1.0 + 0.25 * (rec % 3));
    };
    constexpr int kRuns = 3000;
    for (int run = 0; run < kRuns; ++run) {
        // Whole keys by direct index, and a few hashed.
        const double key = run % 10 == 9 ? run + 0.5 : run;
        for (int rec = 0; rec < 1 + run % 4; ++rec) add(key, run, rec);
    }
    std::vector<double> plain(kK * (kK + 1) / 2, 0.0);
    ASSERT_TRUE(sums.AddOuterProducts(0.75, plain));
    ExpectOuterProducts(plain, want, kK, 0.75L, 1e-13L);
    for (int a = 0; a < kK; ++a) {
        // No cancellation on the diagonal: there it holds relative to the
        // element itself.
        long double d = 0.0L;
        for (const auto& [key, u] : want)
            d += 0.75L * u[static_cast<std::size_t>(a)] * u[static_cast<std::size_t>(a)];
        EXPECT_NEAR(plain[static_cast<std::size_t>(a * (a + 1) / 2 + a)], static_cast<double>(d),
                    static_cast<double>(1e-13L * d));
    }

    // Cluster 7 (small) and 8 (large) come back.
    add(7.0, 3007, 0);
    add(8.0, 3008, 1);
    EXPECT_EQ(sums.Count(), kRuns);
    plain.assign(plain.size(), 0.0);
    ASSERT_TRUE(sums.AddOuterProducts(0.75, plain));
    ExpectOuterProducts(plain, want, kK, 0.75L, 1e-13L);
}

namespace {

// Adds the records of runs of 1 to 5 records, run r under keys[r], to sums.
void AddRuns(MCClusterSums& sums, const std::vector<double>& keys, int k) {
    for (std::size_t r = 0; r < keys.size(); ++r) {
        const int run = static_cast<int>(r);
        for (int rec = 0; rec < 1 + run % 5; ++rec) {
            const int n = 1 + (run * 3 + rec) % k;
            std::vector<int> cols(static_cast<std::size_t>(n));
            std::vector<double> values(cols.size());
            for (int j = 0; j < n; ++j) {
                cols[static_cast<std::size_t>(j)] = (run + rec + 5 * j) % k;  // 5 is prime to k
                values[static_cast<std::size_t>(j)] =
                    std::pow(10.0, run % 7 - 3) * std::cos(0.9 * run + 0.4 * rec + 1.7 * j);
            }
            ASSERT_TRUE(sums.Add(MCClusterSums::Key(keys[r], 0.0), cols.data(), values.data(), n,
                                 1.0 + 0.5 * (rec % 2)));
        }
    }
}

}  // namespace

// Clusters known to come in single runs keep no sums: the products formed
// as each run closes are all there is, and they are those of the clusters
// kept, to the bit, whether the run's entries are few (sorted) or many
// (read off in order). A split fit cannot be merged from them.
TEST(ClusterSums, SingleRunsGiveTheStoredClustersResultsToTheBit) {
    constexpr int kK = 23;
    std::vector<double> keys;
    for (int r = 0; r < 2500; ++r) keys.push_back(r % 3 == 0 ? -0.25 * r : 7.0 * r);
    MCClusterSums stored, runs;
    ASSERT_TRUE(stored.Reset(kK));
    ASSERT_TRUE(runs.Reset(kK, true));
    EXPECT_FALSE(stored.IsRunsOnly());
    EXPECT_TRUE(runs.IsRunsOnly());
    AddRuns(stored, keys, kK);
    AddRuns(runs, keys, kK);
    EXPECT_EQ(runs.Count(), static_cast<long>(keys.size()));
    EXPECT_EQ(stored.Count(), runs.Count());
    std::vector<double> a(kK * (kK + 1) / 2, 0.0), b(a.size(), 0.0);
    ASSERT_TRUE(stored.AddOuterProducts(0.5, a));
    ASSERT_TRUE(runs.AddOuterProducts(0.5, b));
    for (std::size_t e = 0; e < a.size(); ++e) EXPECT_EQ(a[e], b[e]) << e;

    // A cluster met again after its sums were dropped would count twice.
    class NoReducer : public MCCommon_850::PassReducer {
    public:
        bool Sum(std::vector<double>&) override { return true; }
        bool SumExtended(std::vector<double>&) override { return true; }
        bool Min(std::vector<double>&) override { return true; }
        bool Max(std::vector<double>&) override { return true; }
        bool Gather(const std::vector<int>& mine, std::vector<std::vector<int>>& all) override {
            all.assign(1, mine);
            return true;
        }
    } one;
    EXPECT_FALSE(runs.Merge(one));

    // Past the order where run products stop paying, the stored route stays.
    MCClusterSums wide;
    ASSERT_TRUE(wide.Reset(5000, true));
    EXPECT_FALSE(wide.IsRunsOnly());
}

// Which key sequences come in single runs: whole keys (by their bits),
// others (by a set), +0 and -0 as one key, and a key that is not a number,
// which cannot be told apart from itself.
TEST(ClusterSums, RunsAreTakenForSingleOnlyWhenNoKeyComesBack) {
    using MCMath_850::MCClusterRuns;
    const auto check = [](const std::vector<double>& keys) {
        MCClusterRuns runs;
        runs.Reset();
        for (double k : keys) runs.Add(k);
        return std::make_pair(runs.SingleRuns(), runs.Runs());
    };
    EXPECT_EQ(check({0, 0, 1, 1, 1, 5, 3, 2}), std::make_pair(true, 5L));
    EXPECT_EQ(check({0, 1, 0}), std::make_pair(false, 3L));
    EXPECT_EQ(check({0.0, -0.0, 2.0}), std::make_pair(true, 2L));
    EXPECT_EQ(check({-0.0, 1.0, 0.0}), std::make_pair(false, 3L));
    EXPECT_EQ(check({2.5, 2.5, -1, 1e30, 3.0e9}), std::make_pair(true, 4L));
    EXPECT_EQ(check({-1, 2.5, 7, -1}), std::make_pair(false, 4L));
    EXPECT_EQ(check({1e30, 2, 1e30}), std::make_pair(false, 3L));
    EXPECT_EQ(check({std::nan(""), std::nan("")}).first, false);
    EXPECT_EQ(check({}), std::make_pair(true, 0L));
    // Many keys, in and out of the direct range, with one coming back last.
    std::vector<double> many;
    for (int i = 0; i < 200000; ++i) many.push_back(i % 2 ? i : 1e9 + 0.5 * i);
    EXPECT_TRUE(check(many).first);
    many.push_back(1e9 + 0.5 * 1000);
    EXPECT_FALSE(check(many).first);
    many.back() = 1001;
    EXPECT_FALSE(check(many).first);
    MCClusterRuns unknown;
    unknown.Reset();
    unknown.MarkUnknown();
    EXPECT_FALSE(unknown.SingleRuns());
}
