#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "companion/MCMV.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"
#include "hypothesis/MCSatterthwaite.h"

using namespace MCMath_850;
using MCCommon_850::MCMV;

namespace {

// Two fixed treatments, each with a groups (random, variance sa) of n
// observations (error variance se), balanced; the parameters are the two
// treatment means, theta = (sa, se). The REML estimates are the ANOVA ones:
// MSA = n sa + se on dfA = 2(a - 1) and MSE = se on dfE = 2a(n - 1), so
// Cov(sa^, se^) follows from Var(MS) = 2 E(MS)^2 / df, and H^-1 is half of
// it. C11 = tau/(an) I with tau = n sa + se. Every contrast l'b has variance
// proportional to tau, estimated by MSA alone, so its Satterthwaite df is dfA.
struct OneWay {
    int a, n;
    double sa = 2.0, se = 3.0, tau, dfA, dfE;
    MCSymMatrix invH{2}, C11{2}, Da{2}, De{2};
    std::vector<double> theta{sa, se};
    std::vector<MCSymMatrix*> derivs{&Da, &De};

    OneWay(int groups, int perGroup) : a(groups), n(perGroup) {
        tau = n * sa + se;
        dfA = 2.0 * (a - 1);
        dfE = 2.0 * a * (n - 1);
        const double vA = 2 * tau * tau / dfA, vE = 2 * se * se / dfE;
        invH.SetElem(0, 0, 0.5 * (vA + vE) / (n * n));
        invH.SetElem(1, 0, -0.5 * vE / n);
        invH.SetElem(1, 1, 0.5 * vE);
        for (int i = 0; i < 2; ++i) {
            C11.SetElem(i, i, tau / (a * n));
            // D_k = -d(C11^-1)/d theta_k with C11^-1 = an/tau.
            Da.SetElem(i, i, a * n * n / (tau * tau));
            De.SetElem(i, i, a * n / (tau * tau));
        }
    }
    std::unique_ptr<MCSatterthwaite> Make(double residualDF) {
        return std::make_unique<MCSatterthwaite>(invH, C11, theta, derivs, residualDF);
    }
};

MCRectMatrix Rows(int r, int c, std::vector<double> v) {
    MCRectMatrix m(r, c);
    m.AsVector() = v;
    return m;
}

}  // namespace

TEST(MCSatterthwaite, BalancedOneWayGivesGroupDF) {
    OneWay w(6, 4);
    auto s = w.Make(1000);
    // Without SetAdditionalInfo no parameter is R-side: nothing is estimable.
    EXPECT_TRUE(MCMV::IsMissing(s->ComputeDF4XRow({1.0, 0.0})));
    s->SetAdditionalInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(s->GetNRSide(), 2);

    EXPECT_NEAR(s->ComputeDF4XRow({1.0, 0.0}), w.dfA, 1e-10);
    EXPECT_NEAR(s->ComputeDF4XRow({1.0, -1.0}), w.dfA, 1e-10);
    EXPECT_NEAR(s->ComputeDF4XRow(std::vector<int>{1}, {2.5}), w.dfA, 1e-10);
    // g = (1/a, 1/(an)) for l = e_0, so g'H^-1 g = Var(MSA)/(2 a^2 n^2).
    EXPECT_NEAR(s->ComputegHinvg({1.0, 0.0}), w.tau * w.tau / (w.dfA * w.a * w.a * w.n * w.n),
                1e-14);
    EXPECT_TRUE(MCMV::IsMissing(s->ComputeDF4XRow(std::vector<int>{2}, {1.0})));

    // Two rows whose transformed directions have nu = dfA each: 2E/(E - 2) = dfA.
    const MCRectMatrix L = Rows(2, 2, {1.0, 0.0, 1.0, 1.0});
    EXPECT_NEAR(s->ComputeDF4FixedOverall(L), w.dfA, 1e-9);
    // A one-row L gives exactly the one-row result; a zero row is no direction.
    EXPECT_EQ(s->ComputeDF4FixedOverall(Rows(1, 2, {1.0, -1.0})), s->ComputeDF4XRow({1.0, -1.0}));
    EXPECT_NEAR(s->ComputeDF4FixedOverall(Rows(2, 2, {1.0, 0.0, 0.0, 0.0})), w.dfA, 1e-9);

    std::vector<double> df;
    ASSERT_TRUE(s->ComputeDF4FixedOverallNIndiv(L, {}, df));
    ASSERT_EQ(df.size(), 2u);
    EXPECT_NEAR(df[1], w.dfA, 1e-10);

    // Every result is cut to the residual degrees of freedom.
    auto cut = w.Make(3.0);
    cut->SetAdditionalInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(cut->ComputeDF4XRow({1.0, 0.0}), 3.0);
    EXPECT_EQ(cut->ComputeDF4FixedOverall(L), 3.0);
    ASSERT_TRUE(cut->ComputeDF4FixedOverallNIndiv(L, {}, df));
    EXPECT_EQ(df[1], 3.0);
}

// The same layout with sa as a G-side parameter (Z sums a group's
// observations into its random effect) and the se gradient split between the
// per-subject rectangular and symmetric terms.
TEST(MCSatterthwaite, GSideAndPerSubjectTermsGiveTheSameDF) {
    OneWay w(5, 3);
    const int a = w.a, n = w.n, s = 2 * a;
    std::vector<double> subjects(s * n, 0.0);
    MCRectMatrix blockRows(s * n, 2), Z(1, n);
    // w = V^-1 X C11 l: each observation of treatment T carries l_T/(an).
    for (int i = 0; i < s * n; ++i) blockRows.SetElem(i, i / (a * n), 1.0 / (a * n));
    for (int j = 0; j < n; ++j) Z.SetElem(0, j, 1.0);
    MCSymMatrix B(1), half(n);
    B.SetElem(0, 0, 1.0);
    for (int j = 0; j < n; ++j) half.SetElem(j, j, 0.5);
    std::vector<MCRectMatrix> Ms(2, MCRectMatrix(n, 2));
    for (int t = 0; t < 2; ++t)
        for (int j = 0; j < n; ++j) Ms[t].SetElem(j, t, 1.0 / (4.0 * w.tau));
    std::vector<std::pair<MCSymMatrix*, int>> pairs{{&B, 0}};
    std::vector<std::vector<MCRectMatrix*>> rect(s);
    std::vector<std::vector<MCSymMatrix*>> sym(s, {&half});
    for (int i = 0; i < s; ++i) rect[i] = {&Ms[i / a]};
    std::vector<MCSymMatrix*> noDerivs{nullptr, nullptr};

    MCSatterthwaite sat(w.invH, w.C11, w.theta, noDerivs, 1000);
    sat.SetAdditionalInfo(&subjects, &blockRows, &Z, nullptr, &pairs, &rect, &sym);
    EXPECT_EQ(sat.GetNGSide(), 1);
    EXPECT_EQ(sat.GetNRSide(), 1);
    EXPECT_NEAR(sat.ComputeDF4XRow({1.0, 0.0}), w.dfA, 1e-10);
    EXPECT_NEAR(sat.ComputeDF4XRow({0.3, 2.0}), w.dfA, 1e-10);

    // A second call does not replace what the first one stored.
    std::vector<std::pair<MCSymMatrix*, int>> twoPairs{{&B, 0}, {&B, 0}};
    sat.SetAdditionalInfo(nullptr, nullptr, nullptr, nullptr, &twoPairs, nullptr, nullptr);
    EXPECT_EQ(sat.GetNGSide(), 1);
    EXPECT_NEAR(sat.ComputeDF4XRow({1.0, 0.0}), w.dfA, 1e-10);
}

TEST(MCSatterthwaite, UnusableRowsFallBackToResidualDF) {
    OneWay w(6, 4);
    const MCRectMatrix L = Rows(2, 2, {1.0, 0.0, 0.0, 1.0});
    std::vector<double> noTheta;
    MCSatterthwaite empty(w.invH, w.C11, noTheta, w.derivs, 50);
    empty.SetAdditionalInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(empty.ComputegHinvg({1.0, 0.0}), 0.0);
    EXPECT_TRUE(MCMV::IsMissing(empty.ComputeDF4XRow({1.0, 0.0})));
    EXPECT_EQ(empty.ComputeDF4FixedOverall(L), 50.0);

    // Inflating H^-1 makes every nu = 1.5 <= 2: no row enters the sum.
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k <= j; ++k) w.invH.SetElem(j, k, w.invH.GetElem(j, k) * w.dfA / 1.5);
    auto s = w.Make(50);
    s->SetAdditionalInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NEAR(s->ComputeDF4XRow({1.0, 0.0}), 1.5, 1e-12);
    EXPECT_EQ(s->ComputeDF4FixedOverall(L), 50.0);
}
