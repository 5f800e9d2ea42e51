// The outer products of the cluster sums, sum over clusters of w u u', against
// the same sums formed in long double from the entries added. The clusters
// touch from one to all of the parameters (so the products' grouping of rows
// meets every remainder), come back after others, arrive out of key order,
// and have keys both whole (direct index) and not (hashed).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "companion/MCClusterSums.h"

using MCMath_850::MCClusterSums;

TEST(ClusterSums, OuterProductsAreThoseOfTheClustersScoreSums) {
    constexpr int kK = 11;
    MCClusterSums sums;
    ASSERT_TRUE(sums.Reset(kK));
    std::map<double, std::vector<long double>> want;
    for (int run = 0; run < 90; ++run) {
        const double key = (run * 37) % 23 + (run % 4 == 0 ? 0.5 : 0.0);
        std::vector<long double>& u = want[key];
        u.resize(kK, 0.0L);
        for (int rec = 0; rec < 3; ++rec) {
            // 3 is prime to 11: the columns are distinct.
            const int n = 1 + (run + rec) % kK;
            std::vector<int> cols(static_cast<std::size_t>(n));
            std::vector<double> values(cols.size());
            for (int j = 0; j < n; ++j) {
                cols[static_cast<std::size_t>(j)] = (run * 5 + rec + 3 * j) % kK;
                values[static_cast<std::size_t>(j)] = std::sin(0.7 * run + 1.3 * rec + 2.1 * j);
            }
            const double weight = 0.5 + rec;
            ASSERT_TRUE(
                sums.Add(MCClusterSums::Key(key, 0.0), cols.data(), values.data(), n, weight));
            for (std::size_t j = 0; j < cols.size(); ++j)
                u[static_cast<std::size_t>(cols[j])] +=
                    static_cast<long double>(weight) * values[j];
        }
    }
    EXPECT_EQ(sums.Count(), static_cast<long>(want.size()));
    std::vector<double> plain(kK * (kK + 1) / 2, 0.0);
    ASSERT_TRUE(sums.AddOuterProducts(1.25, plain));
    for (int a = 0; a < kK; ++a)
        for (int b = 0; b <= a; ++b) {
            long double expected = 0.0L, scale = 0.0L;
            for (const auto& [key, u] : want) {
                const long double ua = u[static_cast<std::size_t>(a)];
                const long double ub = u[static_cast<std::size_t>(b)];
                expected += 1.25L * ua * ub;
                scale += 1.25L * std::fabs(ua * ub);
            }
            EXPECT_NEAR(plain[static_cast<std::size_t>(a * (a + 1) / 2 + b)],
                        static_cast<double>(expected), static_cast<double>(1e-14L * scale))
                << a << "," << b;
        }
}

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

}  // namespace

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
        std::vector<long double>& u = want[key];
        u.resize(kK, 0.0L);
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
        const double weight = 1.0 + 0.25 * (rec % 3);
        ASSERT_TRUE(sums.Add(MCClusterSums::Key(key, 0.0), cols.data(), values.data(), n, weight));
        for (std::size_t j = 0; j < cols.size(); ++j)
            u[static_cast<std::size_t>(cols[j])] += static_cast<long double>(weight) * values[j];
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
