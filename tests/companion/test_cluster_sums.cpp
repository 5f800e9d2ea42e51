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
