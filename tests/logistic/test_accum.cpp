#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/MCSymMatrix.h"
#include "logistic/MCAccumStatsLogistic.h"
#include "logistic/MCLogitKernels.h"

using namespace MCMath_850;
using std::vector;

namespace {
struct Row {
    vector<int> cols;
    vector<double> vals;
    int y;
    double w;
};

// Rows over p parameters; column 0 is an intercept, a zero covariate value is
// left out of the sparse row.
vector<Row> MakeRows(int p, int J, int n) {
    vector<Row> rows;
    for (int i = 0; i < n; ++i) {
        Row r{{0}, {1.0}, (i * 7 + i / 3) % J, 0.5 + 0.25 * (i % 4)};
        for (int a = 1; a < p; ++a) {
            const double x = std::sin(1.3 * i + a) * (a + 1);
            if (i % 5 == a) continue;
            r.cols.push_back(a);
            r.vals.push_back(x);
        }
        rows.push_back(r);
    }
    return rows;
}

// The multinomial-logit sums straight from their definitions, in long
// double (11 more bits than double) from the same double estimates and
// design values: the log-likelihood, the scores and, when asked for, the
// information.
void Reference(const vector<Row>& rows, int p, int J, const vector<double>& beta, long double& ll,
               vector<long double>& score, vector<vector<long double>>* info = nullptr) {
    const std::size_t n = static_cast<std::size_t>((J - 1) * p);
    ll = 0;
    score.assign(n, 0.0L);
    if (info != nullptr) info->assign(n, vector<long double>(n, 0.0L));
    for (const Row& r : rows) {
        vector<long double> x(static_cast<std::size_t>(p), 0.0L), eta(static_cast<std::size_t>(J));
        for (size_t e = 0; e < r.cols.size(); ++e) x[r.cols[e]] = r.vals[e];
        long double largest = 0;
        for (int k = 0; k < J - 1; ++k) {
            eta[k] = 0;
            for (int a = 0; a < p; ++a) eta[k] += x[a] * beta[k * p + a];
            largest = std::max(largest, eta[k]);
        }
        eta[J - 1] = 0;  // the reference
        long double sum = 0;
        for (int k = 0; k < J; ++k) sum += std::exp(eta[k] - largest);
        const long double lse = largest + std::log(sum);
        ll += r.w * (eta[r.y] - lse);
        for (int j = 0; j < J - 1; ++j) {
            const long double pj = std::exp(eta[j] - lse);
            for (int a = 0; a < p; ++a) {
                score[j * p + a] += r.w * ((j == r.y) - pj) * x[a];
                if (info == nullptr) continue;
                for (int l = 0; l < J - 1; ++l)
                    for (int b = 0; b < p; ++b)
                        (*info)[j * p + a][l * p + b] +=
                            r.w * ((j == l) * pj - pj * std::exp(eta[l] - lse)) * x[a] * x[b];
            }
        }
    }
}

void Accumulate(MCAccumStatsLogistic& acc, const vector<Row>& rows, bool llOnly,
                bool separation = false) {
    EXPECT_TRUE(acc.Reset(MCConst::HESSIAN_FISHER, separation));
    for (const Row& r : rows) ASSERT_EQ(acc.UpdateForRow(r.cols, r.vals, r.y, r.w, llOnly), 0);
}
}  // namespace

TEST(AccumStatsLogistic, MatchesClosedFormAndDerivatives) {
    MCRegSettings settings;
    for (int J : {2, 3, 4}) {
        const int p = J == 3 ? 2 : 3;
        vector<double> beta;
        for (int i = 0; i < (J - 1) * p; ++i) beta.push_back(0.4 * std::cos(2.1 * i) - 0.1);
        const vector<Row> rows = MakeRows(p, J, 23);
        MCAccumStatsLogistic acc(settings, p, J, beta);
        ASSERT_TRUE(acc.IsValid());
        Accumulate(acc, rows, false);

        long double ll;
        vector<long double> score;
        vector<vector<long double>> info;
        Reference(rows, p, J, beta, ll, score, &info);
        const int n = (J - 1) * p;
        EXPECT_NEAR(acc.GetLL(), ll, 1e-12 * std::fabs(ll));
        MCSymMatrix h;
        ASSERT_TRUE(acc.GetHessian(h));
        ASSERT_EQ(h.GetNRows(), n);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(acc.GetScores()[i], score[i], 1e-12);
            for (int k = 0; k < n; ++k) EXPECT_NEAR(h.GetElem(i, k), info[i][k], 1e-12);
        }
        int valid, invalid;
        double weight, expectedWeight = 0;
        for (const Row& r : rows) expectedWeight += r.w;
        acc.GetCounts(valid, invalid, weight);
        EXPECT_EQ(std::make_tuple(valid, invalid), std::make_tuple(23, 0));
        EXPECT_DOUBLE_EQ(weight, expectedWeight);

        // Central differences: score = dLL/dbeta, information = -dScore/dbeta.
        const vector<double> score0 = acc.GetScores();
        const double step = 1e-5;
        for (int i = 0; i < n; ++i) {
            const double keep = beta[i];
            beta[i] = keep + step;
            Accumulate(acc, rows, false);
            const double llUp = acc.GetLL();
            const vector<double> sUp = acc.GetScores();
            beta[i] = keep - step;
            Accumulate(acc, rows, true);  // scores stay at 0 on a likelihood-only pass
            const double llDown = acc.GetLL();
            EXPECT_EQ(acc.GetScores(), vector<double>(n, 0.0));
            beta[i] = keep - step;
            Accumulate(acc, rows, false);
            EXPECT_NEAR((llUp - llDown) / (2 * step), score0[i], 1e-7);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(-(sUp[k] - acc.GetScores()[k]) / (2 * step), h.GetElem(i, k), 1e-7);
            beta[i] = keep;
        }
    }
}

TEST(AccumStatsLogistic, WeightsSpecialCasesAndRefusals) {
    MCRegSettings settings;
    vector<double> beta{0.3, -0.7, 1.1, 0.2};
    MCAccumStatsLogistic acc(settings, 2, 3, beta);
    EXPECT_TRUE(acc.Reset(MCConst::HESSIAN_NEWTON, false));
    EXPECT_EQ(acc.UpdateForRow({0, 1}, {1.0, 0.8}, 1, 2.5, false), 0);

    // Refused rows change nothing; a non-finite value counts one invalid call.
    const double ll = acc.GetLL(), nan = std::numeric_limits<double>::quiet_NaN();
    const vector<double> s = acc.GetScores();
    const vector<Row> refused{
        {{0, 1}, {1, .8}, 3, 1},   {{0, 1}, {1, .8}, -1, 1},       {{0, 1}, {1, .8}, 0, 0},
        {{0, 1}, {1, .8}, 0, nan}, {{1, 0}, {1, .8}, 0, 1},        {{0, 2}, {1, .8}, 0, 1},
        {{0}, {1, .8}, 0, 1},      {{0, 1}, {1, .8}, 0, HUGE_VAL}, {{0, 1}, {1, nan}, 0, 1}};
    for (const Row& r : refused) EXPECT_EQ(acc.UpdateForRow(r.cols, r.vals, r.y, r.w, false), -1);
    int valid, invalid;
    double weight;
    acc.GetCounts(valid, invalid, weight);
    EXPECT_EQ(std::make_tuple(valid, invalid, weight), std::make_tuple(1, 1, 2.5));
    EXPECT_EQ(acc.GetLL(), ll);
    EXPECT_EQ(acc.GetScores(), s);
    EXPECT_EQ(acc.GetHessianMethod(), MCConst::HESSIAN_NEWTON);

    // Huge linear predictors neither overflow nor lose ln pi_y.
    vector<double> big{800.0, 0.0, -800.0, 0.0};
    MCAccumStatsLogistic far(settings, 2, 3, big);
    EXPECT_TRUE(far.Reset(MCConst::HESSIAN_FISHER, false));
    EXPECT_EQ(far.UpdateForRow({0}, {1.0}, 1, 2.0, false), 0);
    EXPECT_NEAR(far.GetLL(), 2.0 * -1600.0, 1e-9);

    // No parameters: each row adds w ln(1/J) and nothing else.
    MCAccumStatsLogistic none(settings, 0, 4, beta);
    ASSERT_TRUE(none.IsValid());
    EXPECT_TRUE(none.Reset(MCConst::HESSIAN_FISHER, false));
    EXPECT_EQ(none.UpdateForRow({}, {}, 2, 3.0, false), 0);
    EXPECT_NEAR(none.GetLL(), 3.0 * std::log(0.25), 1e-15);
    EXPECT_TRUE(none.GetScores().empty());

    // Invalid construction.
    EXPECT_FALSE(MCAccumStatsLogistic(settings, -1, 3, beta).IsValid());
    EXPECT_FALSE(MCAccumStatsLogistic(settings, 2, 1, beta).IsValid());
    EXPECT_FALSE(MCAccumStatsLogistic(settings, 3, 3, beta).IsValid());
    MCAccumStatsLogistic bad(settings, 5, 2, beta);
    MCSymMatrix h;
    EXPECT_EQ(bad.UpdateForRow({0}, {1.0}, 0, 1.0, false), -1);
    EXPECT_FALSE(bad.GetHessian(h));
}

TEST(AccumStatsLogistic, SeparationExtremes) {
    // Category 0 exactly where x < 0: the slope -20 nearly separates the data.
    MCRegSettings settings;
    vector<double> beta{0.0, -20.0};
    vector<Row> rows{{{0, 1}, {1, -1}, 0, 1},
                     {{0, 1}, {1, -0.5}, 0, 2},
                     {{0, 1}, {1, 0.5}, 1, 1},
                     {{0, 1}, {1, 1}, 1, 1}};
    MCAccumStatsLogistic acc(settings, 2, 2, beta);
    double minObs, maxObs, minAll;
    Accumulate(acc, rows, true, true);
    EXPECT_TRUE(acc.GetSeparationCheck());
    acc.GetMinMaxProbabilities(minObs, maxObs, minAll);
    EXPECT_NEAR(minObs, 1 / (1 + std::exp(-10.0)), 1e-15);
    EXPECT_NEAR(maxObs, 1 / (1 + std::exp(-20.0)), 1e-15);
    EXPECT_NEAR(minAll, std::exp(-20.0) / (1 + std::exp(-20.0)), 1e-20);

    // A tie at x = 0 with both responses makes the separation quasi-complete.
    rows.push_back({{0}, {1}, 0, 1});
    rows.push_back({{0}, {1}, 1, 1});
    Accumulate(acc, rows, false, true);
    acc.GetMinMaxProbabilities(minObs, maxObs, minAll);
    EXPECT_DOUBLE_EQ(minObs, 0.5);
    EXPECT_NEAR(maxObs, 1 / (1 + std::exp(-20.0)), 1e-15);

    // Without the check a new pass leaves the initial extremes.
    Accumulate(acc, rows, false, false);
    acc.GetMinMaxProbabilities(minObs, maxObs, minAll);
    EXPECT_EQ(std::make_tuple(minObs, maxObs, minAll), std::make_tuple(DBL_MAX, -DBL_MAX, DBL_MAX));
}

TEST(AccumStatsLogistic, CellSumsEqualRowSums) {
    // Columns 0..5 of one logit: the intercept and two factor cells carry 1,
    // columns 3 and 5 the covariate u and column 4 the product u v. Two
    // cells of different columns, rows interleaved, three sources (1, u, uv).
    MCRegSettings settings;
    const int p = 6, J = 3;
    vector<double> beta;
    for (int i = 0; i < (J - 1) * p; ++i) beta.push_back(0.3 * std::sin(1.7 * i));
    const vector<vector<int>> cellColumns{{0, 1, 3, 4, 5}, {0, 2, 3, 4, 5}};
    const vector<int> sources{0, 0, 1, 2, 1};
    MCAccumStatsLogistic byRow(settings, p, J, beta), byCell(settings, p, J, beta);
    for (bool separation : {false, true}) {
        EXPECT_TRUE(byRow.Reset(MCConst::HESSIAN_FISHER, separation));
        EXPECT_TRUE(byCell.Reset(MCConst::HESSIAN_FISHER, separation));
        for (int i = 0; i < 40; ++i) {
            const int cell = i % 3 == 0 ? 1 : 0;
            const double u = std::cos(0.9 * i), v = 0.5 + 0.1 * (i % 7), w = 1.0 + 0.5 * (i % 2);
            const int y = (i * 5) % J;
            const vector<double> z{1.0, u, u * v};
            vector<double> vals;
            for (int s : sources) vals.push_back(z[static_cast<std::size_t>(s)]);
            ASSERT_EQ(byRow.UpdateForRow(cellColumns[cell], vals, y, w, false), 0);
            ASSERT_TRUE(byCell.UseCell(cell, cellColumns[cell], sources, 3));
            ASSERT_EQ(byCell.UpdateForCellRow(z, y, w, false), 0);
            EXPECT_TRUE(byCell.HasCell(cell));
        }
        // A refused row changes nothing.
        ASSERT_TRUE(byCell.UseCell(0, {}, {}, 0));
        EXPECT_EQ(byCell.UpdateForCellRow({1.0, 0.1, 0.2}, J, 1.0, false), -1);
        EXPECT_EQ(byCell.UpdateForCellRow({1.0, 0.1, 0.2}, 0, -1.0, false), -1);
        byCell.FlushCells();

        EXPECT_NEAR(byCell.GetLL(), byRow.GetLL(), 1e-13 * std::fabs(byRow.GetLL()));
        for (int i = 0; i < (J - 1) * p; ++i)
            EXPECT_NEAR(byCell.GetScores()[i], byRow.GetScores()[i], 1e-13);
        MCSymMatrix a, b;
        ASSERT_TRUE(byCell.GetHessian(a));
        ASSERT_TRUE(byRow.GetHessian(b));
        for (int i = 0; i < a.GetNRows(); ++i)
            for (int k = 0; k <= i; ++k) EXPECT_NEAR(a.GetElem(i, k), b.GetElem(i, k), 1e-13);
        double r1, r2, r3, c1, c2, c3;
        byRow.GetMinMaxProbabilities(r1, r2, r3);
        byCell.GetMinMaxProbabilities(c1, c2, c3);
        EXPECT_NEAR(c1, r1, 1e-15);
        EXPECT_NEAR(c2, r2, 1e-15);
        EXPECT_NEAR(c3, r3, 1e-15);
    }
    // A layout that is not ascending, or a source out of range, is refused.
    EXPECT_FALSE(byCell.UseCell(7, {0, 3, 1}, {0, 1, 0}, 2));
    EXPECT_FALSE(byCell.UseCell(8, {0, 1}, {0, 2}, 2));
    EXPECT_FALSE(byCell.HasCell(7));
}

TEST(AccumStatsLogistic, RoundingBoundsCoverTheErrorOfTheSums) {
    // Rows with an offset covariate (column 1 near 1000, its slope against
    // the intercept), so that the linear predictors are differences of large
    // terms, through both paths.
    MCRegSettings settings;
    const int p = 4, J = 4, n = 3000;
    vector<Row> rows = MakeRows(p, J, n);
    for (Row& r : rows)
        for (size_t e = 0; e < r.cols.size(); ++e)
            if (r.cols[e] == 1) r.vals[e] += 1000.0;
    vector<double> beta;
    for (int k = 0; k < J - 1; ++k) {
        beta.push_back(0.5 - 0.3 * k + 0.02 * 1000.0 * (k + 1));
        beta.push_back(-0.02 * (k + 1));
        beta.push_back(0.4 * std::sin(k + 1.0));
        beta.push_back(-0.2 * std::cos(k + 2.0));
    }
    long double ll;
    vector<long double> score;
    Reference(rows, p, J, beta, ll, score);

    MCAccumStatsLogistic byRow(settings, p, J, beta), byCell(settings, p, J, beta);
    Accumulate(byRow, rows, false);
    EXPECT_TRUE(byCell.Reset(MCConst::HESSIAN_FISHER, false));
    for (const Row& r : rows) {
        // Every row is its own cell: one source per column.
        vector<int> sources;
        for (size_t e = 0; e < r.cols.size(); ++e) sources.push_back(static_cast<int>(e));
        ASSERT_TRUE(byCell.UseCell(static_cast<int>(&r - rows.data()), r.cols, sources,
                                   static_cast<int>(r.cols.size())));
        ASSERT_EQ(byCell.UpdateForCellRow(r.vals, r.y, r.w, false), 0);
    }
    byCell.FlushCells();

    for (const MCAccumStatsLogistic* acc : {&byRow, &byCell}) {
        const double bound = acc->GetLLRoundingBound();
        EXPECT_LE(std::fabs(static_cast<long double>(acc->GetLL()) - ll), bound);
        // A bound of the rounding, not of the log-likelihood itself.
        EXPECT_GT(bound, 0.0);
        EXPECT_LT(bound, 1e-9 * std::fabs(static_cast<double>(ll)));
        vector<double> bounds;
        ASSERT_TRUE(acc->GetScoreRoundingBounds(bounds));
        ASSERT_EQ(bounds.size(), score.size());
        for (size_t i = 0; i < score.size(); ++i) {
            EXPECT_LE(std::fabs(static_cast<long double>(acc->GetScores()[i]) - score[i]),
                      bounds[i])
                << i;
            EXPECT_GT(bounds[i], 0.0);
        }
    }
}

TEST(AccumStatsLogistic, RepeatedRowsAddWithoutDrift) {
    // 200,000 copies of one row, intercept only, beta = 0.3, J = 2, all in
    // category 0: every row adds the same terms, ln pi_0 to the
    // log-likelihood and 1 - pi_0 to the score. A plain running sum drifts
    // from n times the term by hundreds of units in the last place; the
    // compensated sums end within one.
    MCRegSettings settings;
    const vector<double> beta{0.3};
    const int n = 200000;
    MCAccumStatsLogistic byRow(settings, 1, 2, beta), byCell(settings, 1, 2, beta);
    EXPECT_TRUE(byRow.Reset(MCConst::HESSIAN_FISHER, false));
    EXPECT_TRUE(byCell.Reset(MCConst::HESSIAN_FISHER, false));
    ASSERT_TRUE(byCell.UseCell(0, {0}, {0}, 1));
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(byRow.UpdateForRow({0}, {1.0}, 0, 1.0, false), 0);
        ASSERT_EQ(byCell.UpdateForCellRow({1.0}, 0, 1.0, false), 0);
    }
    byCell.FlushCells();
    // The terms as the accumulator makes them: ln pi_ref + eta_0 and
    // 1 - pi_0 with pi_0 = 1 / (1 + exp(-0.3)).
    const double sum = 1.0 + std::exp(-0.3);
    const double llTerms[2] = {-0.3 - std::log(sum), 0.3};
    const double scoreTerm = 1.0 - 1.0 / sum;
    auto times = [n](double t) { return static_cast<long double>(n) * t; };  // exact in 64 bits
    const long double ll = times(llTerms[0]) + times(llTerms[1]);
    double plain = 0.0;
    for (int i = 0; i < n; ++i) plain = plain + llTerms[0] + llTerms[1];
    const double ulp = std::nextafter(std::fabs(static_cast<double>(ll)), HUGE_VAL) -
                       std::fabs(static_cast<double>(ll));
    EXPECT_GT(std::fabs(plain - ll), 100 * ulp);  // the drift the test is about
    for (const MCAccumStatsLogistic* acc : {&byRow, &byCell}) {
        EXPECT_LE(std::fabs(acc->GetLL() - ll), ulp);
        const long double g = times(scoreTerm);
        EXPECT_LE(std::fabs(acc->GetScores()[0] - g),
                  std::nextafter(static_cast<double>(g), HUGE_VAL) - static_cast<double>(g));
    }
}

TEST(AccumStatsLogistic, TermKernelGivesTheDefinitionsBits) {
    // The cells' compensated sums through AddOuterTerms (four lanes where
    // the processor has AVX2) against TwoSum of each product element by
    // element: up to three rows of up to three lanes in half lanes (odd and
    // even row counts of rows ending in a half), zeros of either sign,
    // magnitudes over many binades (sums that swallow their terms and the
    // reverse), and nothing written past the end.
    std::mt19937_64 gen(20261207);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-60, 60);
    auto random = [&] {
        switch (gen() % 8) {
            case 0:
                return 0.0;
            case 1:
                return -0.0;
            default:
                return std::ldexp(unit(gen), exponent(gen));
        }
    };
    for (int round = 0; round < 20; ++round)
        for (std::size_t rows = 0; rows <= 3; ++rows)
            for (std::size_t width = kTermLanes / 2; width <= 3 * kTermLanes;
                 width += kTermLanes / 2) {
                const std::size_t n = rows * width;
                vector<double> sums(n + 1), errors(n + 1), coef(rows), values(width);
                for (std::size_t i = 0; i < n; ++i) {
                    sums[i] = random();
                    errors[i] = random();
                }
                for (double& c : coef) c = random();
                for (double& v : values) v = random();
                sums[n] = errors[n] = -0.0;
                vector<double> wantSums = sums, wantErrors = errors;
                for (std::size_t i = 0; i < n; ++i) {
                    double s, e;
                    DoubleDouble::TwoSum(sums[i], coef[i / width] * values[i % width], s, e);
                    wantSums[i] = s;
                    wantErrors[i] += e;
                }
                AddOuterTerms(sums.data(), errors.data(), coef.data(), rows, values.data(), width);
                EXPECT_EQ(std::memcmp(sums.data(), wantSums.data(), sizeof(double) * (n + 1)), 0)
                    << "round " << round << ", " << rows << " by " << width;
                EXPECT_EQ(std::memcmp(errors.data(), wantErrors.data(), sizeof(double) * (n + 1)),
                          0)
                    << "round " << round << ", " << rows << " by " << width;
            }
}
