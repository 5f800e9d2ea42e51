#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCDiagMatrix.h"
#include "companion/MCEigenValues.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"

using MCMath_850::MCBitSet;
using MCMath_850::MCDiagMatrix;
using MCMath_850::MCEigenValues;
using MCMath_850::MCRectMatrix;
using MCMath_850::MCSymMatrix;

namespace {

MCRectMatrix FromRows(const std::vector<std::vector<double>>& rows) {
    MCRectMatrix m(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()));
    for (int i = 0; i < m.GetNRows(); ++i) EXPECT_TRUE(m.SetRow(i, rows[i]));
    return m;
}

}  // namespace

TEST(RectMatrix, ProductsAgainstHandResults) {
    const MCRectMatrix a = FromRows({{1, 2, 0}, {3, 4, -1}});
    const MCRectMatrix b = FromRows({{5, 0}, {6, 1}, {1, 2}});
    MCRectMatrix ab;
    ASSERT_TRUE(a.ComputeMatrixProduct(b, ab));
    EXPECT_EQ(ab.AsVector(), (std::vector<double>{17, 2, 38, 2}));
    MCRectMatrix bt, abt;
    ASSERT_TRUE(b.Transpose(bt));
    ASSERT_TRUE(a.ComputeProductMatrixTrans(bt, abt));  // A (B')' = A B
    EXPECT_EQ(abt.AsVector(), ab.AsVector());
    EXPECT_FALSE(a.ComputeMatrixProduct(a, ab));
    std::vector<double> v;
    ASSERT_TRUE(a.ComputeRV({1, 1, 1}, v));
    EXPECT_EQ(v, (std::vector<double>{3, 6}));
    ASSERT_TRUE(a.ComputeVR({1, -1}, v));
    EXPECT_EQ(v, (std::vector<double>{-2, -2, 1}));
    MCRectMatrix da;
    ASSERT_TRUE(a.ComputeDiagR(MCDiagMatrix(std::vector<double>{2, -1}), da));
    EXPECT_EQ(da.AsVector(), (std::vector<double>{2, 4, 0, -3, -4, 1}));
    MCRectMatrix dest(1, 2);
    ASSERT_TRUE(a.CopyColToRow(1, dest, 0));
    EXPECT_EQ(dest.AsVector(), (std::vector<double>{2, 4}));
}

TEST(RectMatrix, FullRankRowsAndMultiples) {
    MCRectMatrix l = FromRows({{1, 0, 1, 0},
                               {0, 1, 1, 0},
                               {1, 2, 3, 0},  // row 0 + 2 row 1
                               {0, 0, 0, 0},
                               {0, 0, 1, 1},
                               {2, 0, 2, 0}});  // 2 row 0
    std::vector<int> kept;
    EXPECT_EQ(l.ExtractFullRank(1e-12, &kept), 3);
    EXPECT_EQ(kept, (std::vector<int>{0, 1, 4}));
    EXPECT_EQ(l.GetNRows(), 3);
    EXPECT_EQ(l.GetElem(2, 3), 1.0);

    const MCRectMatrix m = FromRows({{1, -2, 0}, {-3, 6, 0}, {0, 0, 0}, {1, -2, 1e-9}});
    EXPECT_TRUE(m.IsERowMultipleOfAnother(0, 1));
    EXPECT_FALSE(m.IsERowMultipleOfAnother(0, 2));  // a zero row is no multiple
    EXPECT_FALSE(m.IsERowMultipleOfAnother(2, 0));
    EXPECT_FALSE(m.IsERowMultipleOfAnother(0, 3));
    const std::vector<double> kGood = {1, -3, 0, 0}, kBad = {1, 3, 0, 0};
    EXPECT_TRUE(m.IsERowMultipleOfAnother(0, 1, &kGood));
    EXPECT_FALSE(m.IsERowMultipleOfAnother(0, 1, &kBad));
}

TEST(RectMatrix, ProjectionResidualAndPivotRow) {
    // B spans e0 + e1; H1 has a column in that span, one outside it and a
    // multiple of the second.
    const MCRectMatrix b = FromRows({{1}, {1}, {0}});
    MCRectMatrix h = FromRows({{2, 1, 3}, {2, 0, 0}, {0, 1, 3}});
    MCBitSet indep;
    ASSERT_TRUE(h.ResidOfOrthProjection(b, 1e-12, indep));
    EXPECT_FALSE(indep.IsIn(0));
    EXPECT_TRUE(indep.IsIn(1));
    EXPECT_FALSE(indep.IsIn(2));  // dependent on column 1 after projection
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(h.GetElem(i, 0), 0.0, 1e-15);
    EXPECT_NEAR(h.GetElem(0, 1), 0.5, 1e-15);
    EXPECT_NEAR(h.GetElem(1, 1), -0.5, 1e-15);
    EXPECT_NEAR(h.GetElem(2, 1) + h.GetElem(2, 2), 4.0, 1e-15);  // 1 and 3 kept

    MCRectMatrix p = FromRows({{1, 2, 4}, {1, 1, 1}, {0, 3, 1}});
    EXPECT_EQ(p.ZeroOutPivotRow(0, 1e-12), 2);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(p.GetElem(0, j), 0.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.GetElem(i, 2), 0.0);
    // Column 0 - col2/4: (0, 0.75, -0.25); column 1 - col2/2: (0, 0.5, 2.5).
    EXPECT_DOUBLE_EQ(p.GetElem(1, 0), 0.75);
    EXPECT_DOUBLE_EQ(p.GetElem(2, 1), 2.5);
    EXPECT_EQ(p.ZeroOutPivotRow(0, 1e-12), -1);
    p.SetElem(1, 0, 1e-17);
    p.ColClean(0, 3);
    EXPECT_EQ(p.GetElem(1, 0), 0.0);
    EXPECT_EQ(p.GetElem(2, 0), -0.25);
}

TEST(EigenValues, SortedDecompositionOfSymmetricMatrix) {
    MCSymMatrix s(3);
    s.SetElem(0, 0, 2);
    s.SetElem(1, 0, 1);
    s.SetElem(1, 1, 2);
    s.SetElem(2, 2, 0.5);
    MCEigenValues eig(s);
    ASSERT_TRUE(eig.IsOK());
    MCDiagMatrix values;
    MCRectMatrix vectors;
    ASSERT_TRUE(eig.GetSorted(values, vectors));
    EXPECT_NEAR(values.GetElem(0), 3.0, 1e-14);
    EXPECT_NEAR(values.GetElem(1), 1.0, 1e-14);
    EXPECT_NEAR(values.GetElem(2), 0.5, 1e-14);
    const double r = std::sqrt(0.5);
    EXPECT_NEAR(vectors.GetElem(0, 0), r, 1e-14);
    EXPECT_NEAR(vectors.GetElem(0, 1), r, 1e-14);
    EXPECT_NEAR(std::fabs(vectors.GetElem(1, 0)), r, 1e-14);
    EXPECT_NEAR(vectors.GetElem(1, 0), -vectors.GetElem(1, 1), 1e-14);
    EXPECT_NEAR(vectors.GetElem(2, 2), 1.0, 1e-14);

    // A singular matrix: the round-off eigenvalue is reported as 0.
    MCSymMatrix one(2);
    EXPECT_TRUE(one.UpdateXX(std::vector<double>{1.0, 0.1}, 1.0));
    ASSERT_TRUE(eig.Compute(one));
    std::vector<double> v;
    ASSERT_TRUE(eig.GetSorted(v, vectors));
    EXPECT_NEAR(v[0], 1.01, 1e-14);
    EXPECT_EQ(v[1], 0.0);
}

TEST(RectMatrix, ProjectionOffUnitColumnsAndOwnEntryRows) {
    // B as the columns of H on most pivots: the identity on rows 4, 0, 2, 1
    // and anything on rows 3 and 5. The residual must be orthogonal to B and
    // differ from the column by a combination of B's columns.
    const MCRectMatrix b = FromRows({{0, 1, 0, 0},
                                     {0, 0, 0, 1},
                                     {0, 0, 1, 0},
                                     {0.5, -1, 2, 0.25},
                                     {1, 0, 0, 0},
                                     {-3, 0.5, 0, 1}});
    const std::vector<int> unit{4, 0, 2, 1};
    // Column 1 is 2 b0 - b3, in B's span.
    MCRectMatrix h = FromRows({{1, 0}, {2, -1}, {3, 0}, {4, 0.75}, {5, 2}, {6, -7}});
    const MCRectMatrix a = h;
    MCBitSet indep;
    ASSERT_TRUE(h.ResidOfOrthProjection(b, 1e-12, indep));
    EXPECT_TRUE(indep.IsIn(0));
    EXPECT_FALSE(indep.IsIn(1));
    for (int c = 0; c < 2; ++c) {
        for (int s = 0; s < 4; ++s) {
            double dot = 0.0;
            for (int i = 0; i < 6; ++i) dot += b.GetElem(i, s) * h.GetElem(i, c);
            EXPECT_NEAR(dot, 0.0, 1e-13) << c << " " << s;
        }
        // a - h = B k, k read off the unit rows.
        for (int i = 0; i < 6; ++i) {
            double bk = 0.0;
            for (int s = 0; s < 4; ++s)
                bk += b.GetElem(i, s) * (a.GetElem(unit[s], c) - h.GetElem(unit[s], c));
            EXPECT_NEAR(a.GetElem(i, c) - h.GetElem(i, c), bk, 1e-13) << c << " " << i;
        }
    }

    // Rows with an entry of their own are independent; one whose own entry
    // is within rounding of its norm is not taken on that account.
    MCRectMatrix own = FromRows({{1, 0, 5, 0}, {0, 2, 5, 0}, {0, 0, 1, 3}});
    EXPECT_EQ(own.ExtractFullRank(1e-12, nullptr), 3);
    MCRectMatrix tiny = FromRows({{1e-14, 1, 0}, {0, 1, 1e-14}});
    std::vector<int> kept;
    EXPECT_EQ(tiny.ExtractFullRank(1e-12, &kept), 1);
    EXPECT_EQ(kept, (std::vector<int>{0}));
}

TEST(SymMatrix, QuadraticFormOfSparseAndDenseRows) {
    // S with a zero row and column (a redundant parameter's).
    constexpr int n = 10;
    auto v = [](int a, int c) { return a == 2 || c == 2 ? 0.0 : 1.0 / (1.0 + a + c); };
    MCSymMatrix s(n);
    for (int j = 0; j < n; ++j)
        for (int k = 0; k <= j; ++k) s.SetElem(j, k, v(j, k));
    MCRectMatrix sparse(2, n), dense(3, n);
    sparse.SetElem(0, 0, 1.0);  // rows of H: one pivot each, and a redundant column
    sparse.SetElem(0, 2, 7.0);
    sparse.SetElem(1, 2, 1.0);
    sparse.SetElem(1, 9, -2.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < n; ++j) dense.SetElem(i, j, std::sin(1.0 + i * n + j));
    for (const MCRectMatrix* r : {&sparse, &dense}) {
        MCSymMatrix out;
        ASSERT_TRUE(s.ComputeRSRTrans(*r, out));
        ASSERT_EQ(out.GetNRows(), r->GetNRows());
        for (int i = 0; i < r->GetNRows(); ++i)
            for (int j = 0; j < r->GetNRows(); ++j) {
                double want = 0.0;
                for (int a = 0; a < n; ++a)
                    for (int c = 0; c < n; ++c)
                        want += r->GetElem(i, a) * v(a, c) * r->GetElem(j, c);
                EXPECT_NEAR(out.GetElem(i, j), want, 1e-14 * (1.0 + std::fabs(want)))
                    << i << " " << j;
            }
    }
}
