// The robust covariance G M G of a weighted least-squares fit, fed record
// by record and by patterns (the records of a cell sharing their columns),
// against the estimators written out here from their textbook definitions
// in long double: HC0 to HC3 with each record's leverage w x'(X'WX)^-1 x,
// and one- and two-way cluster sums. The records come in runs of their
// clusters, a cluster meets records again after others, and one parameter
// is aliased.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSandwich.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"

using MCMath_850::MCBitSet;
using MCMath_850::MCSandwich;
using MCMath_850::MCSymMatrix;

namespace {

using Mat = std::vector<std::vector<long double>>;

// Parameters: intercept, A = a, A = b, A = c (aliased), x.
constexpr int kP = 5;
const std::vector<int> kKept{0, 1, 2, 4};

struct Rec {
    int a;  // 0, 1, 2
    double x, y, fw;
    double g, h;  // cluster keys
};

std::vector<Rec> Records() {
    std::vector<Rec> r;
    for (int i = 0; i < 40; ++i) {
        const int a = (i * 7) % 3;
        const double x = std::sin(1.3 * i) * 3 + 0.1 * i;
        const double y = 2 + a * 0.7 + 0.8 * x + std::cos(2.1 * i) * (1 + 0.3 * std::fabs(x));
        // g: runs of 4, cluster 1 met again at the end; h: crossed.
        const double g = i < 36 ? i / 4 : 1;
        r.push_back({a, x, y, 1.0 + i % 3, g, static_cast<double>(i % 5)});
    }
    return r;
}

std::vector<long double> Row(const Rec& r) {
    return {1.0L, r.a == 0 ? 1.0L : 0.0L, r.a == 1 ? 1.0L : 0.0L, r.a == 2 ? 1.0L : 0.0L, r.x};
}

// The inverse of a symmetric positive definite matrix (Gauss-Jordan).
Mat Inverse(Mat m) {
    const std::size_t n = m.size();
    Mat inv(n, std::vector<long double>(n, 0.0L));
    for (std::size_t i = 0; i < n; ++i) inv[i][i] = 1.0L;
    for (std::size_t c = 0; c < n; ++c) {
        const long double d = m[c][c];
        for (std::size_t j = 0; j < n; ++j) m[c][j] /= d, inv[c][j] /= d;
        for (std::size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const long double f = m[r][c];
            for (std::size_t j = 0; j < n; ++j) m[r][j] -= f * m[c][j], inv[r][j] -= f * inv[c][j];
        }
    }
    return inv;
}

struct Fit {
    Mat bread;  // over all parameters, 0 for the aliased
    std::vector<long double> e;
    long double n = 0.0L;
};

Fit FitWls(const std::vector<Rec>& recs) {
    const std::size_t k = kKept.size();
    Mat xtx(k, std::vector<long double>(k, 0.0L));
    std::vector<long double> xty(k, 0.0L);
    Fit f;
    for (const Rec& r : recs) {
        const auto x = Row(r);
        for (std::size_t i = 0; i < k; ++i) {
            xty[i] += r.fw * x[kKept[i]] * r.y;
            for (std::size_t j = 0; j < k; ++j) xtx[i][j] += r.fw * x[kKept[i]] * x[kKept[j]];
        }
        f.n += r.fw;
    }
    const Mat inv = Inverse(xtx);
    std::vector<long double> b(kP, 0.0L);
    f.bread.assign(kP, std::vector<long double>(kP, 0.0L));
    for (std::size_t i = 0; i < k; ++i) {
        for (std::size_t j = 0; j < k; ++j) {
            b[kKept[i]] += inv[i][j] * xty[j];
            f.bread[kKept[i]][kKept[j]] = inv[i][j];
        }
    }
    for (const Rec& r : recs) {
        const auto x = Row(r);
        long double fitted = 0.0L;
        for (int j = 0; j < kP; ++j) fitted += x[j] * b[j];
        f.e.push_back(r.y - fitted);
    }
    return f;
}

// G M G times factor.
Mat Sandwich(const Mat& g, const Mat& m, long double factor) {
    Mat t(kP, std::vector<long double>(kP, 0.0L)), v = t;
    for (int i = 0; i < kP; ++i)
        for (int j = 0; j < kP; ++j)
            for (int l = 0; l < kP; ++l) t[i][j] += m[i][l] * g[l][j];
    for (int i = 0; i < kP; ++i)
        for (int j = 0; j < kP; ++j) {
            for (int l = 0; l < kP; ++l) v[i][j] += g[i][l] * t[l][j];
            v[i][j] *= factor;
        }
    return v;
}

// Negative eigenvalues of v (over the kept parameters) set to 0, by
// Jacobi rotations.
Mat ClipNegative(const Mat& v) {
    const std::size_t n = kKept.size();
    Mat a(n, std::vector<long double>(n)), q(n, std::vector<long double>(n, 0.0L));
    for (std::size_t i = 0; i < n; ++i) {
        q[i][i] = 1.0L;
        for (std::size_t j = 0; j < n; ++j) a[i][j] = v[kKept[i]][kKept[j]];
    }
    for (int sweep = 0; sweep < 60; ++sweep)
        for (std::size_t p = 0; p < n; ++p)
            for (std::size_t r = p + 1; r < n; ++r) {
                if (std::fabs(a[p][r]) < 1e-300L) continue;
                const long double theta = (a[r][r] - a[p][p]) / (2 * a[p][r]);
                const long double t =
                    (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const long double c = 1 / std::sqrt(t * t + 1), s = t * c;
                const auto rotate = [c, s](long double& x, long double& y) {
                    const long double x0 = x;
                    x = c * x0 - s * y;
                    y = s * x0 + c * y;
                };
                for (std::size_t k = 0; k < n; ++k) rotate(a[k][p], a[k][r]);  // A J
                for (std::size_t k = 0; k < n; ++k) rotate(a[p][k], a[r][k]);  // J' A
                for (std::size_t k = 0; k < n; ++k) rotate(q[k][p], q[k][r]);  // Q J
            }
    Mat out(kP, std::vector<long double>(kP, 0.0L));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t m = 0; m < n; ++m)
                if (a[m][m] > 0) out[kKept[i]][kKept[j]] += a[m][m] * q[i][m] * q[j][m];
    return out;
}

Mat Expected(int type, const std::vector<Rec>& recs, const Fit& f, int ways) {
    Mat m(kP, std::vector<long double>(kP, 0.0L));
    const long double k = kKept.size();
    if (type != MCSandwich::kCluster) {
        for (std::size_t r = 0; r < recs.size(); ++r) {
            const auto x = Row(recs[r]);
            long double h = 0.0L;
            for (int i = 0; i < kP; ++i)
                for (int j = 0; j < kP; ++j) h += x[i] * f.bread[i][j] * x[j];
            long double omega = recs[r].fw * f.e[r] * f.e[r];
            if (type == MCSandwich::kHC2) omega /= 1.0L - h;
            if (type == MCSandwich::kHC3) omega /= (1.0L - h) * (1.0L - h);
            for (int i = 0; i < kP; ++i)
                for (int j = 0; j < kP; ++j) m[i][j] += omega * x[i] * x[j];
        }
        return Sandwich(f.bread, m, type == MCSandwich::kHC1 ? f.n / (f.n - k) : 1.0L);
    }
    // Per way (g, h, and g by h): G / (G - 1) sum_c u_c u_c'.
    auto way = [&](auto keyOf, long double sign) {
        std::vector<std::pair<double, std::vector<long double>>> sums;
        for (std::size_t r = 0; r < recs.size(); ++r) {
            const double key = keyOf(recs[r]);
            std::size_t c = 0;
            while (c < sums.size() && sums[c].first != key) ++c;
            if (c == sums.size()) sums.push_back({key, std::vector<long double>(kP, 0.0L)});
            const auto x = Row(recs[r]);
            for (int i = 0; i < kP; ++i) sums[c].second[i] += recs[r].fw * f.e[r] * x[i];
        }
        const long double groups = sums.size();
        for (const auto& s : sums)
            for (int i = 0; i < kP; ++i)
                for (int j = 0; j < kP; ++j)
                    m[i][j] += sign * groups / (groups - 1) * s.second[i] * s.second[j];
    };
    way([](const Rec& r) { return r.g; }, 1.0L);
    if (ways == 2) {
        way([](const Rec& r) { return r.h; }, 1.0L);
        way([](const Rec& r) { return r.g * 100 + r.h; }, -1.0L);
    }
    const Mat v = Sandwich(f.bread, m, (f.n - 1) / (f.n - k));
    return ways == 2 ? ClipNegative(v) : v;
}

// The library's covariance, the records added one by one or by cell.
MCSymMatrix Computed(int type, const std::vector<Rec>& recs, const Fit& f, int ways,
                     bool patterns) {
    MCSymMatrix bread(kP);
    MCBitSet kept(kP);
    for (int j : kKept) kept.Set(j);
    for (int i = 0; i < kP; ++i)
        for (int j = 0; j <= i; ++j) bread.SetElem(i, j, static_cast<double>(f.bread[i][j]));
    MCSandwich s(type, ways);
    EXPECT_TRUE(s.Start(bread, 1.0, kept, kP));
    if (patterns) {
        // Cell a: intercept, its indicator and x; sources 1 and x.
        const std::vector<std::size_t> start{0, 3, 6, 9};
        const std::vector<int> cols{0, 1, 4, 0, 2, 4, 0, 3, 4};
        const std::vector<int> srcs{0, 0, 1, 0, 0, 1, 0, 0, 1};
        EXPECT_TRUE(s.SetPatterns(2, start, cols, srcs));
    }
    MCCommon_850::MCStatus status;
    for (std::size_t r = 0; r < recs.size(); ++r) {
        const Rec& rec = recs[r];
        const double e = static_cast<double>(f.e[r]);
        const double keys[2] = {rec.g, rec.h};
        const double omega = rec.fw * e * e, cw = rec.fw * e;
        if (patterns) {
            const double v[2] = {1.0, rec.x};
            EXPECT_TRUE(
                s.AddPattern(rec.a, v, omega, 1.0, cw, keys, static_cast<long>(r) + 1, status));
        } else {
            const int idx[3] = {0, 1 + rec.a, 4};
            const double x[3] = {1.0, 1.0, rec.x};
            EXPECT_TRUE(s.Add(idx, x, 3, omega, 1.0, cw, keys, static_cast<long>(r) + 1, status));
        }
    }
    MCSymMatrix cov(0);
    EXPECT_TRUE(s.Finish(static_cast<double>(f.n), cov).IsOK());
    if (type == MCSandwich::kCluster) {
        EXPECT_EQ(s.GetNClusters(0), 9);
        if (ways == 2) {
            EXPECT_EQ(s.GetNClusters(1), 5);
        }
    }
    return cov;
}

}  // namespace

TEST(Sandwich, RecordsAndPatternsGiveTheTextbookEstimators) {
    const std::vector<Rec> recs = Records();
    const Fit f = FitWls(recs);
    struct Case {
        int type, ways;
    };
    for (const Case c : {Case{MCSandwich::kHC0, 1}, Case{MCSandwich::kHC1, 1},
                         Case{MCSandwich::kHC2, 1}, Case{MCSandwich::kHC3, 1},
                         Case{MCSandwich::kCluster, 1}, Case{MCSandwich::kCluster, 2}}) {
        const Mat want = Expected(c.type, recs, f, c.ways);
        // Two ways leave a negative eigenvalue here, set to 0.
        for (bool patterns : {false, true}) {
            SCOPED_TRACE(std::to_string(c.type) + " ways " + std::to_string(c.ways) +
                         (patterns ? " patterns" : " records"));
            const MCSymMatrix got = Computed(c.type, recs, f, c.ways, patterns);
            ASSERT_EQ(got.GetNRows(), kP);
            for (int i = 0; i < kP; ++i)
                for (int j = 0; j <= i; ++j) {
                    const long double scale = std::sqrt(want[i][i] * want[j][j]);
                    if (i == 3 || j == 3) {
                        EXPECT_EQ(got.GetElem(i, j), 0.0);  // aliased
                        continue;
                    }
                    EXPECT_NEAR(got.GetElem(i, j), static_cast<double>(want[i][j]),
                                static_cast<double>(1e-12L * scale))
                        << i << "," << j;
                }
        }
    }
}
