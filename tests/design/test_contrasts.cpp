#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "design/MCContrasts.h"
#include "support/golden.h"

using MCCommon_850::MCStatus;
using MCMath_850::MCContrasts;
using MCMath_850::MCRectMatrix;

namespace {

using Rows = std::vector<std::vector<double>>;

// c equals ref within tol; with upToSign each row may also be negated
// (orthonormal polynomial rows are defined only up to their sign).
void ExpectRows(const MCRectMatrix& c, const MCRectMatrix& ref, double tol, bool upToSign,
                const std::string& what) {
    ASSERT_EQ(c.GetNRows(), ref.GetNRows()) << what;
    ASSERT_EQ(c.GetNCols(), ref.GetNCols()) << what;
    for (int i = 0; i < c.GetNRows(); ++i) {
        double dot = 0;
        for (int j = 0; j < c.GetNCols(); ++j) dot += c.GetElem(i, j) * ref.GetElem(i, j);
        const double sign = upToSign && dot < 0 ? -1.0 : 1.0;
        for (int j = 0; j < c.GetNCols(); ++j)
            EXPECT_NEAR(c.GetElem(i, j), sign * ref.GetElem(i, j), tol)
                << what << " row " << i << " column " << j;
    }
}

MCRectMatrix FromRows(const Rows& rows) {
    MCRectMatrix m(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()));
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(m.SetRow(static_cast<int>(i), rows[i]));
    return m;
}

struct PolyCase {
    int k = 0;
    std::vector<double> scores;
    MCRectMatrix expected;
};

// contr.poly(k, scores) from R, written by tools/reference/contr_poly.R as
// lines "case,k,level,score,degree,value".
std::map<int, PolyCase> ReadGolden() {
    std::map<int, PolyCase> cases;
    const golden::Csv csv = golden::ReadCsv("contr_poly.csv");
    for (std::size_t r = 0; r < csv.rows.size(); ++r) {
        const int id = static_cast<int>(csv.Value(r, "case"));
        const int k = static_cast<int>(csv.Value(r, "k"));
        const int level = static_cast<int>(csv.Value(r, "level"));
        const int degree = static_cast<int>(csv.Value(r, "degree"));
        PolyCase& pc = cases[id];
        if (pc.k == 0) {
            pc.k = k;
            pc.scores.assign(static_cast<std::size_t>(k), 0.0);
            pc.expected = MCRectMatrix(k - 1, k);
        }
        pc.scores[static_cast<std::size_t>(level)] = csv.Value(r, "score");
        pc.expected.SetElem(degree - 1, level, csv.Value(r, "value"));
    }
    return cases;
}

}  // namespace

TEST(Contrasts, PolynomialMatchesRAndIgnoresUnits) {
    const std::map<int, PolyCase> cases = ReadGolden();
    ASSERT_EQ(cases.size(), 25u);  // k = 2 .. 6, five spacings each
    for (const auto& [id, pc] : cases) {
        const std::string what = "case " + std::to_string(id);
        MCRectMatrix c, r;
        ASSERT_TRUE(MCContrasts::ComputePolynomialContrast(pc.k, pc.scores, c).IsOK()) << what;
        ExpectRows(c, pc.expected, 1e-13, true, what);
        // Only the relative spacing matters; values beyond the k-th are unused.
        std::vector<double> rescaled;
        for (double v : pc.scores) rescaled.push_back(1000.0 + 7.5 * v);
        rescaled.push_back(-1e9);
        ASSERT_TRUE(MCContrasts::ComputePolynomialContrast(pc.k, rescaled, r).IsOK()) << what;
        ExpectRows(r, c, 1e-13, false, what + " rescaled");
    }

    MCRectMatrix c;
    const double s2 = 1 / std::sqrt(2.0), s6 = 1 / std::sqrt(6.0);
    ASSERT_TRUE(MCContrasts::ComputePolynomialContrast(3, {1, 2, 3}, c).IsOK());
    ExpectRows(c, FromRows({{-s2, 0, s2}, {s6, -2 * s6, s6}}), 1e-15, false, "k=3");
    ASSERT_TRUE(MCContrasts::ComputePolynomialContrast(2, {-40, 0.125}, c).IsOK());
    ExpectRows(c, FromRows({{-s2, s2}}), 1e-15, false, "k=2");

    // Degrees close to the number of levels: the rows stay orthonormal, and
    // over symmetric points a polynomial of degree d has parity (-1)^d.
    std::vector<double> m(120);
    for (size_t j = 0; j < m.size(); ++j) m[j] = static_cast<double>(j);
    ASSERT_TRUE(MCContrasts::ComputePolynomialContrast(100, m, c).IsOK());
    double worst = 0, asym = 0;
    for (int a = 0; a < 99; ++a) {
        for (int b = 0; b <= a; ++b) {
            double dot = 0;
            for (int j = 0; j < 100; ++j) dot += c.GetElem(a, j) * c.GetElem(b, j);
            worst = std::max(worst, std::fabs(dot - (a == b ? 1.0 : 0.0)));
        }
        for (int j = 0; j < 100; ++j)
            asym = std::max(asym,
                            std::fabs(c.GetElem(a, j) + (a % 2 ? -1 : 1) * c.GetElem(a, 99 - j)));
    }
    EXPECT_LT(worst, 1e-12);
    EXPECT_LT(asym, 1e-10);
}

TEST(Contrasts, ClassicalContrastsMatchDefinitions) {
    using C = MCContrasts;
    const double t = 1.0 / 3, q = 0.25;
    Rows pairwise4(12, std::vector<double>(4, 0.0));
    const int pairs[12][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 2}, {1, 3},
                              {2, 0}, {2, 1}, {2, 3}, {3, 0}, {3, 1}, {3, 2}};
    for (int r = 0; r < 12; ++r) {
        pairwise4[r][pairs[r][0]] = 1;
        pairwise4[r][pairs[r][1]] = -1;
    }
    struct Case {
        std::string name;
        std::function<MCStatus(MCRectMatrix&)> make;
        Rows expected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"simple k=2 r=1", [](auto& c) { return C::ComputeSimpleContrast(2, 1, c); }, {{1, -1}}},
        {"simple k=4 r=0", [](auto& c) { return C::ComputeSimpleContrast(4, 0, c); },
         {{-1, 1, 0, 0}, {-1, 0, 1, 0}, {-1, 0, 0, 1}}},
        {"simple k=4 r=2", [](auto& c) { return C::ComputeSimpleContrast(4, 2, c); },
         {{1, 0, -1, 0}, {0, 1, -1, 0}, {0, 0, -1, 1}}},
        {"deviation k=2", [](auto& c) { return C::ComputeDeviationContrast(2, c); },
         {{0.5, -0.5}, {-0.5, 0.5}}},
        {"deviation k=4", [](auto& c) { return C::ComputeDeviationContrast(4, c); },
         {{1 - q, -q, -q, -q}, {-q, 1 - q, -q, -q}, {-q, -q, 1 - q, -q}, {-q, -q, -q, 1 - q}}},
        {"helmert k=2", [](auto& c) { return C::ComputeHelmertContrast(2, c); }, {{1, -1}}},
        {"helmert k=4", [](auto& c) { return C::ComputeHelmertContrast(4, c); },
         {{1, -t, -t, -t}, {0, 1, -0.5, -0.5}, {0, 0, 1, -1}}},
        {"difference k=2", [](auto& c) { return C::ComputeDifferenceContrast(2, c); }, {{-1, 1}}},
        {"difference k=4", [](auto& c) { return C::ComputeDifferenceContrast(4, c); },
         {{-1, 1, 0, 0}, {-0.5, -0.5, 1, 0}, {-t, -t, -t, 1}}},
        {"repeated k=2", [](auto& c) { return C::ComputeRepeatedContrast(2, c); }, {{1, -1}}},
        {"repeated k=4", [](auto& c) { return C::ComputeRepeatedContrast(4, c); },
         {{1, -1, 0, 0}, {0, 1, -1, 0}, {0, 0, 1, -1}}},
        {"pairwise k=2", [](auto& c) { return C::ComputePairwiseContrast(2, c); },
         {{1, -1}, {-1, 1}}},
        {"pairwise k=4", [](auto& c) { return C::ComputePairwiseContrast(4, c); }, pairwise4}};
    // clang-format on
    for (const Case& cs : cases) {
        MCRectMatrix c(7, 7);  // any previous content is replaced
        ASSERT_TRUE(cs.make(c).IsOK()) << cs.name;
        ExpectRows(c, FromRows(cs.expected), 1e-15, false, cs.name);
    }
}

TEST(Contrasts, InvalidInputIsRefusedAndLeavesMatrix) {
    MCRectMatrix c(1, 1);
    c.SetElem(0, 0, 42.0);
    const std::vector<MCStatus> refused = {
        MCContrasts::ComputeSimpleContrast(3, 3, c),
        MCContrasts::ComputeSimpleContrast(3, -1, c),
        MCContrasts::ComputeSimpleContrast(1, 0, c),
        MCContrasts::ComputeDeviationContrast(1, c),
        MCContrasts::ComputeHelmertContrast(0, c),
        MCContrasts::ComputeDifferenceContrast(1, c),
        MCContrasts::ComputeRepeatedContrast(-3, c),
        MCContrasts::ComputePairwiseContrast(1, c),
        MCContrasts::ComputePairwiseContrast(3000, c),  // too many cells to address
        MCContrasts::ComputePolynomialContrast(1, {1.0}, c),
        MCContrasts::ComputePolynomialContrast(3, {1.0, 2.0}, c),
        MCContrasts::ComputePolynomialContrast(3, {1.0, 2.0, 1.0}, c),
        MCContrasts::ComputePolynomialContrast(3, {5.0, 5.0, 5.0}, c),
        MCContrasts::ComputePolynomialContrast(2, {1.0, std::nan("")}, c),
    };
    for (size_t i = 0; i < refused.size(); ++i)
        EXPECT_TRUE(refused[i].IsError() && refused[i].GetErrorCode() == 320) << i;
    ASSERT_EQ(c.GetNRows(), 1);
    ASSERT_EQ(c.GetNCols(), 1);
    EXPECT_EQ(c.GetElem(0, 0), 42.0);
}
