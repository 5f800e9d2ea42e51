#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "companion/MCMV.h"
#include "link/MCLinkFunctions.h"

using namespace MCMath_850;
using MCCommon_850::MCMV;

namespace {

const double kMiss = MCMV::Missing();
enum Op { G, INV, D1, D2 };

std::unique_ptr<IMCLinkFunc> Make(int type, double param = 0.0) {
    return std::unique_ptr<IMCLinkFunc>(
        CreateLinkFunction(static_cast<MCConst::LinkType>(type), param));
}

double Call(const IMCLinkFunc& l, int op, double x, int* code) {
    if (op == G) return l.Compute(x, code);
    if (op == INV) return l.GetInverseValue(x, code);
    if (op == D1) return l.Get1stDerivativeValue(x, code);
    return l.Get2ndDerivativeValue(x, code);
}

const std::vector<double> kProbs = {0.02, 0.1, 0.3, 0.5, 0.7, 0.9, 0.98};
const std::vector<double> kPositive = {0.05, 0.5, 1.0, 2.5, 20.0};

// Every link (the parametrised ones with several parameters) over a grid of
// means inside its domain.
struct GridCase {
    int type;
    double param;
    std::vector<double> means;
};
// clang-format off
const std::vector<GridCase> kGrid = {
    {0, 0, kProbs}, {1, 0, {-5.0, 0.0, 3.0}}, {2, 0, kPositive},
    {3, 0, {-3.0, -0.5, 0.02, 0.5, 0.9}}, {4, 0, kProbs}, {5, 0.5, kPositive},
    {5, 2.0, kPositive}, {6, 0, kProbs}, {7, 0.5, kProbs}, {7, 0.0, kProbs}, {7, -0.7, kProbs},
    {7, 2.0, kProbs}, {8, 2.0, kPositive}, {8, 3.0, kPositive}, {8, 0.5, kPositive},
    {8, 0.0, kPositive}, {8, -1.0, kPositive}, {9, 0, kProbs}, {10, 0, kProbs},
    {11, 0, kProbs}, {12, 0, kProbs}, {13, 0, kProbs}, {14, 0, kProbs}};
// clang-format on

}  // namespace

TEST(LinkFunctions, FactoryClassesAndParameters) {
    EXPECT_EQ(Make(15), nullptr);
    EXPECT_EQ(Make(-1), nullptr);
    for (int t = 0; t <= 14; ++t) EXPECT_NE(Make(t, 1.5), nullptr) << t;
    EXPECT_NE(dynamic_cast<MCLinkCompLog2*>(Make(11).get()), nullptr);
    EXPECT_NE(dynamic_cast<MCLinkLogit*>(Make(12).get()), nullptr);
    EXPECT_NE(dynamic_cast<MCLinkNegLog2*>(Make(13).get()), nullptr);
    EXPECT_NE(dynamic_cast<MCLinkProbit*>(Make(14).get()), nullptr);
    EXPECT_EQ(dynamic_cast<MCLinkLogit*>(Make(10).get()), nullptr);

    auto nb = Make(5, 2.0), op = Make(7, 0.5), pw = Make(8, 3.0);
    EXPECT_DOUBLE_EQ(nb->Compute(1.0, nullptr), std::log(2.0 / 3.0));
    EXPECT_DOUBLE_EQ(op->Compute(0.8, nullptr), 2.0);  // (4^0.5 - 1) / 0.5
    EXPECT_DOUBLE_EQ(pw->Compute(2.0, nullptr), 8.0);
    for (auto* l : {nb.get(), op.get(), pw.get()}) l->SetParam(1.0);
    EXPECT_DOUBLE_EQ(nb->Compute(1.0, nullptr), std::log(0.5));
    EXPECT_DOUBLE_EQ(op->Compute(0.8, nullptr), 2.0);
    EXPECT_DOUBLE_EQ(pw->Compute(2.0, nullptr), 8.0);
    EXPECT_DOUBLE_EQ(Make(1, 5.0)->Compute(3.0, nullptr), 3.0);
    EXPECT_DOUBLE_EQ(Make(4, 5.0)->Compute(0.25, nullptr), -std::log(3.0));
}

// Over the grid: the inverse undoes g. Ordinary links: g' and g'' by
// central differences of g and g'. Cumulative links: F'(eta) and F''(eta)
// by central differences of the inverse F and of F' o F, at eta = F^-1(p).
TEST(LinkFunctions, InverseAndDerivativesOverTheGrid) {
    for (const GridCase& gc : kGrid) {
        auto l = Make(gc.type, gc.param);
        auto at = [&](int op, double x) { return Call(*l, op, x, nullptr); };
        for (double mu : gc.means) {
            SCOPED_TRACE("type " + std::to_string(gc.type) + "/" + std::to_string(gc.param) +
                         " at " + std::to_string(mu));
            int f1 = -7, f2 = -7;
            const double back = l->GetInverseValue(l->Compute(mu, &f1), &f2);
            EXPECT_TRUE(f1 == 0 && f2 == 0);
            EXPECT_NEAR(back, mu, 1e-13 * std::max(1.0, std::fabs(mu)));
            f1 = f2 = -7;
            const double d1 = l->Get1stDerivativeValue(mu, &f1);
            const double d2 = l->Get2ndDerivativeValue(mu, &f2);
            EXPECT_EQ(f1, 0);
            EXPECT_EQ(f2, gc.type == 14 ? 1 : 0);
            double n1, n2;
            if (gc.type >= 10) {
                const double eta = at(G, mu), h = 1e-5 * std::max(1.0, std::fabs(eta));
                n1 = (at(INV, eta + h) - at(INV, eta - h)) / (2 * h);
                n2 = (at(D1, at(INV, eta + h)) - at(D1, at(INV, eta - h))) / (2 * h);
            } else {
                double h = 1e-5 * std::max(1.0, std::fabs(mu));
                if (gc.means == kProbs) h = 1e-5 * std::min(mu, 1 - mu);
                if (gc.means == kPositive) h = 1e-5 * mu;
                n1 = (at(G, mu + h) - at(G, mu - h)) / (2 * h);
                n2 = (at(D1, mu + h) - at(D1, mu - h)) / (2 * h);
            }
            EXPECT_NEAR(d1, n1, 1e-6 * std::max(1e-3, std::fabs(n1)));
            EXPECT_NEAR(d2, n2, 1e-6 * (std::fabs(n2) + std::fabs(n1)));
        }
    }
    // Far into the tails the inverses keep their relative accuracy.
    auto cauchit = Make(10), cloglog = Make(0);
    for (double p : {1e-12, 1e-200}) {
        EXPECT_NEAR(cauchit->GetInverseValue(cauchit->Compute(p, nullptr), nullptr) / p, 1, 1e-12);
        EXPECT_NEAR(cloglog->GetInverseValue(cloglog->Compute(p, nullptr), nullptr) / p, 1, 1e-12);
    }
}

// Closed-form values, boundaries, guards and range checks: value and code.
TEST(LinkFunctions, ValuesAndStatusCodes) {
    const double pi = M_PI, z3 = -0.5244005127080407;  // Phi^-1(0.3)
    const double tiny = std::numeric_limits<double>::denorm_min();
    struct Row {
        int type;
        double param;
        int op;
        double x, value;
        int code;
    };
    // clang-format off
    const Row rows[] = {
        {4, 0, G, 0.25, -std::log(3.0), 0}, {4, 0, D1, 0.25, 16.0 / 3, 0},
        {4, 0, D2, 0.25, -0.5 / (0.1875 * 0.1875), 0}, {12, 0, D1, 0.25, 0.1875, 0},
        {12, 0, D2, 0.25, 0.1875 * 0.5, 0}, {9, 0, G, 0.975, 1.959963984540054, 0},
        {9, 0, D1, 0.5, std::sqrt(2 * pi), 0}, {14, 0, D1, 0.5, 1 / std::sqrt(2 * pi), 0},
        {14, 0, D2, 0.3, -z3 * std::exp(-z3 * z3 / 2) / std::sqrt(2 * pi), 1},
        {0, 0, G, 1 - std::exp(-1.0), 0.0, 0}, {6, 0, G, std::exp(-1.0), 0.0, 0},
        {10, 0, G, 0.75, 1.0, 0}, {10, 0, D1, 0.75, 0.5 / pi, 0},
        {8, 3, INV, -8.0, -2.0, 0}, {8, -1, INV, -0.5, -2.0, 0},
        // Domains and boundaries.
        {4, 0, D1, 0.0, kMiss, 1}, {2, 0, G, 0.0, kMiss, 1}, {3, 0, G, 1.0, kMiss, 1},
        {3, 0, D2, 2.0, kMiss, 1}, {5, 2, G, -1.0, kMiss, 1}, {7, 0.5, D1, 1.0, kMiss, 1},
        {13, 0, D2, 1.0, 0.0, 0}, {2, 0, INV, std::nan(""), kMiss, 2},
        {8, 0, G, 0.0, kMiss, 2}, {8, 0, D2, 0.0, kMiss, 2}, {8, 1, D2, 0.0, kMiss, 2},
        {8, 1, D2, 4.0, 0.0, 0}, {8, 2, INV, -4.0, kMiss, 2}, {8, 2, INV, kMiss, kMiss, 2},
        // Exponential guards, overflow and means out of range.
        {4, 0, INV, 710.0, 1.0, 0}, {4, 0, INV, -709.0, 0.0, 0},
        {2, 0, INV, 710.0, kMiss, 2}, {2, 0, INV, -709.0, 0.0, 0},
        {2, 0, D1, 1e-320, kMiss, 2}, {2, 0, D2, 1e-200, kMiss, 2},
        {3, 0, INV, 710.0, kMiss, 2}, {3, 0, INV, -709.0, 1.0, 0},
        {0, 0, INV, 710.0, 1.0, 0}, {0, 0, INV, -709.0, 0.0, 0}, {0, 0, INV, 6.6, 1.0, 0},
        {6, 0, INV, 708.5, 1.0, 0}, {6, 0, INV, -709.5, 0.0, 0}, {6, 0, INV, -6.6, 0.0, 0},
        {5, 2, INV, 0.0, kMiss, 1}, {5, 2, INV, 0.5, kMiss, 3}, {5, 2, INV, 710.0, kMiss, 3},
        {5, 2, INV, -709.0, 0.0, 0}, {5, -2, INV, 710.0, 0.5, 0},
        {7, 0, INV, 710.0, kMiss, 1}, {7, 0.01, INV, 1e6, kMiss, 2},
        {7, -1, INV, 3.0, kMiss, 3}, {8, 0, INV, 710.0, kMiss, 2},
        {9, 0, D1, tiny, kMiss, 2}, {9, 0, D2, tiny, kMiss, 2}, {14, 0, D1, tiny, kMiss, 2},
        {14, 0, D2, tiny, kMiss, 2}, {9, 0, INV, 40.0, 1.0, 0}};
    // clang-format on
    for (const Row& r : rows) {
        int f = -7;
        const double v = Call(*Make(r.type, r.param), r.op, r.x, &f);
        EXPECT_EQ(f, r.code) << "type " << r.type << " op " << r.op << " at " << r.x;
        EXPECT_NEAR(v, r.value, 1e-13 * std::max(1.0, std::fabs(r.value)))
            << "type " << r.type << " op " << r.op << " at " << r.x;
    }
    EXPECT_EQ(Make(9)->Get2ndDerivativeValue(0.5, nullptr), 0.0);  // exactly, at the median
    EXPECT_LT(Make(9)->Get2ndDerivativeValue(0.3, nullptr), 0.0);

    for (int t : {0, 4, 6, 9, 10, 11, 12, 13, 14}) {
        auto l = Make(t);
        int f = -7;
        for (double x : {0.0, 1.0}) {
            EXPECT_TRUE(MCMV::IsMissing(l->Compute(x, &f)) && f == 1) << t << " g at " << x;
            if (t < 9) continue;
            // Probit and cumulative derivatives vanish at 0 and 1 (F''(1) of
            // the negative log-log is a proper 0).
            for (int op : {D1, D2})
                EXPECT_TRUE(Call(*l, op, x, &f) == 0.0 &&
                            f == (t == 13 && op == D2 && x == 1 ? 0 : 1))
                    << t << " op " << op << " at " << x;
        }
        for (int op : {G, INV, D1, D2})
            for (double x : {kMiss, t >= 9 && op != INV ? 1.5 : kMiss})
                EXPECT_TRUE(MCMV::IsMissing(Call(*l, op, x, &f)) && f == 1) << t << " op " << op;
    }

    // The odds-power link at alpha = 0 is the logit, boundaries included.
    auto op0 = Make(7, 0.0), logit = Make(4);
    for (double x : {-0.5, 0.0, 1e-9, 0.2, 0.5, 0.9, 1.0, 3.0})
        for (int op : {G, INV, D1, D2}) {
            int fa = -7, fb = -7;
            const double a = Call(*op0, op, x, &fa), b = Call(*logit, op, x, &fb);
            EXPECT_EQ(fa, fb) << op << " at " << x;
            EXPECT_NEAR(a, b, 1e-12 * std::fabs(b)) << op << " at " << x;
        }
}
