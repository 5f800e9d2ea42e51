#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCSparseVector.h"
#include "companion/MCSymBlockMatrix.h"
#include "companion/MCSymMatrix.h"

using MCMath_850::MCBitSet;
using MCMath_850::MCRectMatrix;
using MCMath_850::MCSparseVector;
using MCMath_850::MCSymBlockMatrix;
using MCMath_850::MCSymMatrix;

namespace {

// Cross products of n random rows of length p (full rank for n > p).
MCSymMatrix RandomCrossProducts(int p, int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> nd;
    MCSymMatrix s(p);
    std::vector<double> z(p);
    for (int r = 0; r < n; ++r) {
        for (double& v : z) v = nd(gen);
        EXPECT_TRUE(s.UpdateXX(z, 1.0 + 0.1 * r));
    }
    return s;
}

// (A B)(i, j) for symmetric A and B given as MCSymMatrix.
double ProductElem(const MCSymMatrix& a, const MCSymMatrix& b, int i, int j) {
    double s = 0.0;
    for (int k = 0; k < a.GetNRows(); ++k) s += a.GetElem(i, k) * b.GetElem(k, j);
    return s;
}

}  // namespace

TEST(SymMatrix, SweepIsInvolutionAndFullSweepIsNegatedInverse) {
    const MCSymMatrix a = RandomCrossProducts(5, 12, 3);
    std::vector<double> scale;
    a.GetDiagonal(scale);

    MCSymMatrix s = a;
    MCBitSet set(5);
    EXPECT_TRUE(s.Sweep(1, 1e-12, scale, set, true));
    EXPECT_TRUE(s.Sweep(3, 1e-12, scale, set, true));
    EXPECT_TRUE(set.IsIn(1) && set.IsIn(3) && set.Count() == 2);
    EXPECT_TRUE(s.Sweep(1, 1e-12, scale, set, true));  // reverse sweeps
    EXPECT_TRUE(s.Sweep(3, 1e-12, scale, set, true));
    EXPECT_EQ(set.Count(), 0);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j <= i; ++j)
            EXPECT_NEAR(s.GetElem(i, j), a.GetElem(i, j), 1e-13 * std::fabs(a.GetElem(i, i)));

    for (int k = 0; k < 5; ++k) EXPECT_TRUE(s.Sweep(k, 1e-12, scale, set, true));
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_NEAR(-ProductElem(a, s, i, j), i == j ? 1.0 : 0.0, 1e-13);
    // The covariance finishing turns -A^-1 into factor * A^-1.
    s.FinishCovariance(2.0);
    EXPECT_NEAR(ProductElem(a, s, 2, 2), 2.0, 1e-13);
}

TEST(SymMatrix, RegressionWithAliasedColumnAndEstimableFunctions) {
    // One-way layout: intercept, three group indicators (the third is the
    // intercept minus the other two), and y. Group means 1, 4, 10.
    const double means[3] = {1.0, 4.0, 10.0};
    MCSymMatrix zz(5);
    for (int g = 0; g < 3; ++g)
        for (int r = 0; r < 2 + g; ++r) {
            std::vector<double> z = {1.0, g == 0 ? 1.0 : 0.0, g == 1 ? 1.0 : 0.0,
                                     g == 2 ? 1.0 : 0.0, means[g] + r - (1 + g) / 2.0};
            ASSERT_TRUE(zz.UpdateXX(z, 1.0));
        }
    std::vector<double> scale;
    zz.GetDiagonal(scale);
    MCBitSet set(5);
    int swept = 0;
    for (int k = 0; k < 4; ++k) swept += zz.Sweep(k, 1e-12, scale, set, true) ? 1 : 0;
    EXPECT_EQ(swept, 3);
    EXPECT_FALSE(set.IsIn(3));  // aliased with the intercept and groups 1, 2

    std::vector<double> b;
    zz.GetRegCoeffs(b, set);
    ASSERT_EQ(b.size(), 4u);
    EXPECT_NEAR(b[0], 10.0, 1e-13);  // last group is the reference
    EXPECT_NEAR(b[1], -9.0, 1e-13);
    EXPECT_NEAR(b[2], -6.0, 1e-13);
    EXPECT_EQ(b[3], 0.0);

    // H = G S over the parameters: column j is 1 at j and the aliased row
    // holds the coefficient of column 3 on j (column 3 = 1 - g1 - g2).
    MCRectMatrix h(5, 3);
    EXPECT_EQ(zz.ExtractH(0, 4, set, h), 3);
    const double expected[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, -1, -1}};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(h.GetElem(i, j), expected[i][j], 1e-13);
    MCRectMatrix small(5, 2);
    EXPECT_EQ(zz.ExtractH(0, 4, set, small), -1);

    zz.ZeroOutRedundant(set);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(zz.GetElem(3, i), 0.0);
    EXPECT_NE(zz.GetElem(0, 0), 0.0);
}

TEST(SymMatrix, SweepToleranceRulesAndSparseUpdate) {
    // Column 2 = 2 column 0 - column 1; dense and sparse updates agree.
    MCSymMatrix dense(3), sparse(3);
    std::mt19937 gen(5);
    std::normal_distribution<double> nd;
    for (int r = 0; r < 20; ++r) {
        const double x0 = nd(gen), x1 = nd(gen);
        const std::vector<double> z = {x0, x1, 2.0 * x0 - x1};
        EXPECT_TRUE(dense.UpdateXX(z, 0.5));
        const int idx[3] = {0, 1, 2};
        EXPECT_TRUE(sparse.UpdateXXSparse(idx, z.data(), 3, 0.5));
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) EXPECT_EQ(dense.GetElem(i, j), sparse.GetElem(i, j));
    const int bad[2] = {2, 1};
    EXPECT_TRUE(sparse.UpdateXXSparse(bad, nullptr, 0, 1.0));  // an empty row is fine
    const double v[2] = {1.0, 1.0};
    EXPECT_FALSE(sparse.UpdateXXSparse(bad, v, 2, 1.0));  // not ascending

    std::vector<double> scale;
    dense.GetDiagonal(scale);
    MCBitSet set(3);
    EXPECT_TRUE(dense.Sweep(0, 1e-12, scale, set, true));
    EXPECT_TRUE(dense.Sweep(1, 1e-12, scale, set, true));
    EXPECT_FALSE(dense.Sweep(2, 1e-12, scale, set, true));  // exact combination
    EXPECT_FALSE(set.IsIn(2));
    // Without the tolerance only an exactly zero pivot is refused.
    MCSymMatrix tiny(1);
    tiny.SetElem(0, 0, 1e-300);
    MCBitSet one(1);
    EXPECT_FALSE(tiny.Sweep(0, 1e-12, {1.0}, one, true));
    EXPECT_TRUE(tiny.Sweep(0, 1e-12, {}, one, false));
    MCSymMatrix zero(1);
    EXPECT_FALSE(zero.Sweep(0, 0.0, {}, one, false));
}

TEST(SymMatrix, GeneralizedInverseOfSingularMatrix) {
    // Rank 2: column 2 = column 0 + column 1.
    MCSymMatrix a(3);
    const double rows[4][3] = {{1, 2, 3}, {2, -1, 1}, {0, 1, 1}, {3, 0, 3}};
    for (const auto& r : rows) EXPECT_TRUE(a.UpdateXX(r, 1.0));
    std::vector<double> scale;
    a.ComputeSweepScale(scale, 1e-12, 1.0);
    MCSymMatrix g;
    int rank = -1;
    MCBitSet pivoted;
    ASSERT_TRUE(a.GeneralizedInverse(1e-12, scale, g, rank, pivoted));
    EXPECT_EQ(rank, 2);
    EXPECT_TRUE(pivoted.IsIn(0) && pivoted.IsIn(1) && !pivoted.IsIn(2));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(g.GetElem(2, i), 0.0);
    // A G A = A.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0.0;
            for (int k = 0; k < 3; ++k) s += ProductElem(a, g, i, k) * a.GetElem(k, j);
            EXPECT_NEAR(s, a.GetElem(i, j), 1e-12 * std::fabs(a.GetElem(i, j)) + 1e-12);
        }
}

TEST(SymMatrix, CholeskySolvesAndInverts) {
    const MCSymMatrix a = RandomCrossProducts(4, 9, 11);
    MCSymMatrix l = a;
    double cond = -1.0;
    EXPECT_EQ(l.Cholesky(1e-12, cond), 0);
    EXPECT_GT(cond, 0.01);
    EXPECT_LE(cond, 1.0);
    const std::vector<double> rhs = {1.0, -2.0, 0.5, 3.0};
    std::vector<double> x;
    ASSERT_TRUE(l.LTSubstitute(rhs, x));
    std::vector<double> back;
    EXPECT_TRUE(a.ComputeSV(x, back));
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(back[i], rhs[i], 1e-12);
    ASSERT_TRUE(l.InvertFromCholesky());
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(ProductElem(a, l, i, j), i == j ? 1 : 0, 1e-12);

    // A diagonal matrix has condition 1; a singular one refuses a pivot and
    // still solves on the remaining ones.
    MCSymMatrix d(2);
    d.SetElem(0, 0, 4.0);
    d.SetElem(1, 1, 9.0);
    EXPECT_EQ(d.Cholesky(1e-12, cond), 0);
    EXPECT_DOUBLE_EQ(cond, 1.0);
    MCSymMatrix s(2);
    EXPECT_TRUE(s.UpdateXX(std::vector<double>{1.0, 2.0}, 1.0));
    EXPECT_EQ(s.Cholesky(1e-12, cond), 1);
    EXPECT_EQ(cond, 0.0);
    ASSERT_TRUE(s.LTSubstitute({2.0, 4.0}, x));
    EXPECT_DOUBLE_EQ(x[0], 2.0);
    EXPECT_EQ(x[1], 0.0);
}

// A Cholesky factor is held in the matrix's own elements, so any write must
// forget it: LTSubstitute and InvertFromCholesky on a matrix written after
// its factorisation would otherwise compute with a stale factor.
TEST(SymMatrix, EveryWriterForgetsTheCholeskyFactor) {
    const MCSymMatrix a = RandomCrossProducts(3, 7, 5);
    MCSymMatrix fresh(3);
    MCRectMatrix r(3, 3);  // the identity
    for (int i = 0; i < 3; ++i) {
        fresh.SetElem(i, i, 2.0 + i);
        r.SetElem(i, i, 1.0);
    }
    MCBitSet someSet(3);
    someSet.Set(0);
    someSet.Set(2);
    MCBitSet allSet(3);
    allSet.SetRange(0, 3);
    const int cols[] = {0, 2};
    const int srcs[] = {0, 1};
    const double z[] = {1.0, -2.0, 0.5};
    const double zLo[] = {1e-20, 0.0, 0.0};
    const std::vector<double> unitScale(3, 1.0);

    struct Writer {
        const char* name;
        std::function<void(MCSymMatrix&)> write;
    };
    const std::vector<Writer> writers = {
        {"SetElem", [](MCSymMatrix& m) { m.SetElem(0, 0, 100.0); }},
        {"AsVector", [](MCSymMatrix& m) { m.AsVector()[0] = 100.0; }},
        {"UpdateXX(pointer)", [&](MCSymMatrix& m) { EXPECT_TRUE(m.UpdateXX(z, 1.0)); }},
        {"UpdateXX(vector)",
         [&](MCSymMatrix& m) { EXPECT_TRUE(m.UpdateXX(std::vector<double>(z, z + 3), 1.0)); }},
        {"UpdateXX(hi, lo)", [&](MCSymMatrix& m) { EXPECT_TRUE(m.UpdateXX(z, zLo, 1.0)); }},
        {"UpdateXXSparse", [&](MCSymMatrix& m) { EXPECT_TRUE(m.UpdateXXSparse(cols, z, 2, 1.0)); }},
        {"AddMapped", [&](MCSymMatrix& m) { EXPECT_TRUE(m.AddMapped(a, cols, srcs, 2)); }},
        {"Sweep",
         [&](MCSymMatrix& m) {
             MCBitSet set(3);
             EXPECT_TRUE(m.Sweep(0, 1e-12, unitScale, set, false));
         }},
        {"ZeroOutRedundant", [&](MCSymMatrix& m) { m.ZeroOutRedundant(someSet); }},
        {"ComputeAXpY", [&](MCSymMatrix& m) { EXPECT_TRUE(m.ComputeAXpY(2.0, a)); }},
        {"FinishCovariance", [](MCSymMatrix& m) { m.FinishCovariance(2.0); }},
        {"Scale", [](MCSymMatrix& m) { m.Scale(2.0); }},
        {"Zero", [](MCSymMatrix& m) { m.Zero(); }},
        {"Resize", [](MCSymMatrix& m) { EXPECT_TRUE(m.Resize(4)); }},
        {"Clean", [](MCSymMatrix& m) { m.Clean(1e300); }},
        {"copy assignment", [&](MCSymMatrix& m) { m = fresh; }},
        {"move assignment", [&](MCSymMatrix& m) { m = MCSymMatrix(fresh); }},
        {"Expand into", [&](MCSymMatrix& m) { EXPECT_TRUE(fresh.Expand(allSet, m)); }},
        {"CopyLeadingBlock into",
         [&](MCSymMatrix& m) { EXPECT_TRUE(fresh.CopyLeadingBlock(3, m)); }},
        {"ComputeRSRTrans into", [&](MCSymMatrix& m) { EXPECT_TRUE(fresh.ComputeRSRTrans(r, m)); }},
        {"GeneralizedInverse into",
         [&](MCSymMatrix& m) {
             int rank = 0;
             MCBitSet pivoted;
             EXPECT_TRUE(fresh.GeneralizedInverse(1e-12, unitScale, m, rank, pivoted));
         }},
    };
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        MCSymMatrix m = a;
        double cond = 0.0;
        ASSERT_EQ(m.Cholesky(1e-12, cond), 0);
        std::vector<double> x;
        ASSERT_TRUE(m.LTSubstitute({1.0, 2.0, 3.0}, x));
        w.write(m);
        std::vector<double> b(static_cast<std::size_t>(m.GetNRows()), 1.0);
        EXPECT_FALSE(m.LTSubstitute(b, x)) << w.name << " left a stale factor";
        MCSymMatrix copy = m;
        EXPECT_FALSE(copy.InvertFromCholesky()) << w.name << " left a stale factor";
    }

    // Factoring again after the write solves the new system.
    MCSymMatrix m = a;
    double cond = 0.0;
    ASSERT_EQ(m.Cholesky(1e-12, cond), 0);
    MCSymMatrix changed = a;
    changed.SetElem(0, 0, 100.0);
    m = changed;
    ASSERT_EQ(m.Cholesky(1e-12, cond), 0);
    std::vector<double> x, back;
    ASSERT_TRUE(m.LTSubstitute({1.0, 2.0, 3.0}, x));
    ASSERT_TRUE(changed.ComputeSV(x, back));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[static_cast<std::size_t>(i)], i + 1.0, 1e-12);
}

TEST(SymMatrix, ProductsExpandAndBlocks) {
    MCSymMatrix s(3);
    const double e[3][3] = {{2, 1, 0}, {1, 3, -1}, {0, -1, 4}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) s.SetElem(i, j, e[i][j]);
    EXPECT_DOUBLE_EQ(s.ComputeVSV(std::vector<double>{1, 2, 3}), 2 + 12 + 36 + 2 * (2 - 6));
    EXPECT_DOUBLE_EQ(s.ComputeSparseVSV({0, 2}, {1, 3}), 2 + 36);
    // The sparse form sums as the dense one does: equal to the bit on
    // values whose sums round, whatever the non-zeros' places.
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    MCSymMatrix w(40);
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j <= i; ++j) w.SetElem(i, j, u(gen) * (i == j ? 40.0 : 1.0) / 3.0);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> dense(40, 0.0), values;
        std::vector<int> indices;
        for (int i = 0; i < 40; ++i)
            if (gen() % 4 == 0 || i == 39 * (trial % 2)) {
                dense[static_cast<std::size_t>(i)] = u(gen) / 7.0;
                indices.push_back(i);
                values.push_back(dense[static_cast<std::size_t>(i)]);
            }
        EXPECT_EQ(w.ComputeSparseVSV(indices, values), w.ComputeVSV(dense)) << trial;
    }

    MCBitSet set(5);
    for (int k : {0, 2, 3}) set.Set(k);
    MCSymMatrix big;
    ASSERT_TRUE(s.Expand(set, big));
    EXPECT_EQ(big.GetNRows(), 5);
    EXPECT_EQ(big.GetElem(3, 2), -1.0);
    EXPECT_EQ(big.GetElem(2, 0), 1.0);
    EXPECT_EQ(big.GetElem(1, 1), 0.0);
    MCSymMatrix lead;
    ASSERT_TRUE(s.CopyLeadingBlock(2, lead));
    EXPECT_EQ(lead.GetElem(1, 0), 1.0);
    EXPECT_FALSE(s.CopyLeadingBlock(4, lead));
}

// The information of a multinomial fit is inverted for the covariance of
// the estimates: records taken in any order must give the same matrix.
// Terms of 1e16 and 1 that cancel leave, in a plain sum, a total that
// depends on the order; compensated, every order gives the exact total.
TEST(SymBlockMatrix, SumsDoNotDependOnTheOrderOfTheTerms) {
    const std::vector<double> scale{1e16, 1.0, -1e16, 1.0, 3.0, 1e16, -1e16, 0.5};
    const double exact = 5.5;  // the scales' sum
    auto fill = [&scale](bool reversed) {
        MCSymBlockMatrix m;
        EXPECT_TRUE(m.Resize(2, 2));
        const double c[3] = {1.0, -0.5, 2.0};  // C = [[1, -0.5], [-0.5, 2]]
        for (std::size_t i = 0; i < scale.size(); ++i) {
            const double s = scale[reversed ? scale.size() - 1 - i : i];
            const MCSparseVector x({0, 1}, {1.0, s}, 2);
            EXPECT_TRUE(m.KroneckerOuterProductIncr(c, x));
            // A diagonal-block update and a flushed cell's term with its
            // own low-order part go the same way.
            m.AddBlockElem(1, 0, 1, 1, s, 0.0);
        }
        return m;
    };
    const MCSymBlockMatrix forward = fill(false), backward = fill(true);
    // Element (x_1, x_0) of block (0, 0) sums 1 * s; of block (1, 0) -0.5 s
    // plus the direct terms s.
    EXPECT_EQ(forward.GetBlockElem(0, 0, 1, 0), exact);
    EXPECT_EQ(backward.GetBlockElem(0, 0, 1, 0), exact);
    EXPECT_EQ(forward.GetBlockElem(1, 0, 1, 0), -0.5 * exact);
    EXPECT_EQ(forward.GetBlockElem(1, 0, 1, 1), backward.GetBlockElem(1, 0, 1, 1));
    EXPECT_EQ(forward.GetBlockElem(1, 1, 1, 0), 2.0 * exact);
    MCSymMatrix a, b;
    ASSERT_TRUE(forward.CopyTo(a));
    ASSERT_TRUE(backward.CopyTo(b));
    for (int j = 0; j < 4; ++j)
        for (int k = 0; k <= j; ++k) EXPECT_EQ(a.GetElem(j, k), b.GetElem(j, k)) << j << "," << k;
    EXPECT_EQ(a.GetElem(2, 1), forward.GetBlockElem(1, 0, 0, 1));
}
