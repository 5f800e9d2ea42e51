// The sweep that follows the non-zeros. References: a plain dense sweep
// written here from the sweep's definition (every element visited, in
// double-double), which the library's sweep must match bit for bit in the
// same pivot order; and the library's own pivot-by-pivot sweep in index
// order, whose aliasing decisions a reordered sweep must reproduce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCSymMatrix.h"

using MCMath_850::MCBitSet;
using MCMath_850::MCCancelInfo;
using MCMath_850::MCSymMatrix;
namespace dd = MCMath_850::DoubleDouble;

namespace {

const double kTol = 1e-12;

// A record: factor codes, covariate values, dependent, weight.
struct Rec {
    std::vector<int> codes;
    std::vector<double> covs;
    double y;
    double w;
};

// A model term: the factors (indices into codes) whose observed cells are
// its columns, and the covariates (indices into covs) multiplied into them.
struct Term {
    std::vector<int> factors;
    std::vector<int> covs;
};

// [X y]'W[X y] of the records for an intercept and the terms, the cells of
// a term in ascending key order. Values are small multiples of 1/8 and
// weights whole numbers, so every sum is exact in double.
MCSymMatrix CrossProducts(const std::vector<Rec>& recs, const std::vector<Term>& terms) {
    std::vector<std::map<std::vector<int>, int>> cells(terms.size());
    for (const Rec& r : recs)
        for (std::size_t t = 0; t < terms.size(); ++t) {
            std::vector<int> key;
            for (int f : terms[t].factors) key.push_back(r.codes[f]);
            cells[t][key] = 0;
        }
    int p = 1;
    for (auto& m : cells)
        for (auto& c : m) c.second = p++;
    std::vector<std::vector<double>> sums(p + 1, std::vector<double>(p + 1, 0.0));
    std::vector<double> z(p + 1);
    for (const Rec& r : recs) {
        std::fill(z.begin(), z.end(), 0.0);
        z[0] = 1.0;
        for (std::size_t t = 0; t < terms.size(); ++t) {
            std::vector<int> key;
            for (int f : terms[t].factors) key.push_back(r.codes[f]);
            double v = 1.0;
            for (int c : terms[t].covs) v *= r.covs[c];
            z[cells[t][key]] = v;
        }
        z[p] = r.y;
        for (int i = 0; i <= p; ++i)
            for (int j = 0; j <= i; ++j) sums[i][j] += r.w * z[i] * z[j];
    }
    MCSymMatrix m(p + 1);
    for (int i = 0; i <= p; ++i)
        for (int j = 0; j <= i; ++j) m.SetElem(i, j, sums[i][j]);
    return m;
}

// The sweep by its definition, on the lower triangle of double-doubles
// (element (i, j), j <= i, becomes a_ij - c_i f_j with c_i = a_ik and
// f_j = a_jk / a_kk): every element visited for every pivot; elements whose
// c_i or f_j is 0 are left alone, and so are the pivot column's zeros.
class DenseReference {
public:
    explicit DenseReference(const MCSymMatrix& m) : fN(m.GetNRows()), fA(fN * fN) {
        for (int i = 0; i < fN; ++i)
            for (int j = 0; j < fN; ++j) fA[i * fN + j] = dd::DD{m.GetElem(i, j), 0.0};
    }
    bool Sweep(int k, bool checkTol, const std::vector<double>& scale) {
        const dd::DD a = At(k, k);
        if (a.hi == 0.0 || !std::isfinite(a.hi)) return false;
        if (checkTol && std::fabs(a.hi) <= kTol * scale[k]) return false;
        const dd::DD inv = dd::Div(dd::DD{1.0, 0.0}, a);
        std::vector<dd::DD> c(fN), f(fN);
        for (int i = 0; i < fN; ++i) {
            c[i] = i == k ? dd::DD{0.0, 0.0} : At(i, k);
            f[i] = dd::Mul(c[i], inv);
        }
        for (int i = 0; i < fN; ++i)
            for (int j = 0; j <= i; ++j) {
                if (i == k || j == k || Zero(c[i]) || Zero(f[j])) continue;
                At(i, j) = dd::Sub(At(i, j), dd::Mul(c[i], f[j]));
            }
        for (int i = 0; i < fN; ++i) {
            if (i == k || Zero(c[i])) continue;
            At(i, k) = f[i];
        }
        At(k, k) = dd::Neg(inv);
        return true;
    }
    double Hi(int i, int j) const { return fA[Pos(i, j)].hi; }

private:
    static bool Zero(const dd::DD& v) { return v.hi == 0.0 && v.lo == 0.0; }
    std::size_t Pos(int i, int j) const {
        return i >= j ? static_cast<std::size_t>(i) * fN + j : static_cast<std::size_t>(j) * fN + i;
    }
    dd::DD& At(int i, int j) { return fA[Pos(i, j)]; }
    int fN;
    std::vector<dd::DD> fA;
};

// Every element of m has the bits of the reference's.
void ExpectSameBits(const MCSymMatrix& m, const DenseReference& ref, const std::string& what) {
    int differ = 0;
    for (int i = 0; i < m.GetNRows(); ++i)
        for (int j = 0; j <= i; ++j) {
            const double a = m.GetElem(i, j), b = ref.Hi(i, j);
            if (std::memcmp(&a, &b, sizeof a) != 0 && ++differ <= 3)
                ADD_FAILURE() << what << ": (" << i << ", " << j << ") " << a << " vs " << b;
        }
    EXPECT_EQ(differ, 0) << what;
}

struct Design {
    std::string name;
    std::vector<Rec> recs;
    std::vector<Term> terms;
    bool reordered;  // a diagonal run long enough to be swept first
};

// Unbalanced codes: level l drawn with weight 1 + (l * 7) % 5.
int Skewed(std::mt19937& gen, int levels) {
    std::vector<double> w(levels);
    for (int l = 0; l < levels; ++l) w[l] = 1.0 + (l * 7) % 5;
    return std::discrete_distribution<int>(w.begin(), w.end())(gen);
}

double Eighths(std::mt19937& gen) {
    return static_cast<double>(static_cast<int>(gen() % 129) - 64) / 8.0;
}

std::vector<Design> Designs() {
    std::vector<Design> out;
    std::mt19937 gen(4242);
    // codes: G (60), A = G % 5, B within A (20), H (6), C = G relabelled.
    auto rec = [&](int g, int b, int h) {
        Rec r;
        r.codes = {g, g % 5, b, h, (g * 17 + 3) % 60};
        r.covs = {Eighths(gen), Eighths(gen)};
        r.y = std::round(r.covs[0] * 3 - r.covs[1] + (g % 7) + Eighths(gen));
        r.w = 1.0 + static_cast<double>(gen() % 3);
        return r;
    };
    std::vector<Rec> recs;
    for (int i = 0; i < 700; ++i)
        recs.push_back(rec(Skewed(gen, 60), static_cast<int>(gen() % 20), Skewed(gen, 6)));
    out.push_back({"large factor and covariates", recs, {{{0}, {}}, {{}, {0}}, {{}, {1}}}, true});
    out.push_back({"nested factor", recs, {{{1}, {}}, {{2, 1}, {}}, {{}, {0}}}, true});
    out.push_back({"interaction", recs, {{{3}, {}}, {{1}, {}}, {{3, 1}, {}}, {{}, {1}}}, true});
    out.push_back({"factor-by-covariate", recs, {{{}, {0}}, {{0}, {0}}, {{}, {1}}}, true});
    // A factor whose cells are unions of the large factor's (A) before it,
    // and one whose cells repeat them (C) after or before it.
    out.push_back({"coarser factor before, copy after",
                   recs,
                   {{{1}, {}}, {{0}, {}}, {{4}, {}}, {{}, {0}}},
                   true});
    out.push_back({"copy before", recs, {{{4}, {}}, {{0}, {}}, {{}, {1}}}, true});
    // Too few cells for a run: index order.
    std::vector<Rec> small(recs.begin(), recs.begin() + 60);
    out.push_back({"small model", small, {{{3}, {}}, {{1}, {}}, {{}, {0}}}, false});
    return out;
}

}  // namespace

// Index order: the sparse pivot-by-pivot sweep against the dense
// definition, bit for bit, refusals included. SweepLeading: the decisions of
// index order, its numbers to rounding, and the bits of the dense definition
// in the order it swept.
TEST(SymMatrixSweep, PivotByPivotAndLeadingSweepsMatchTheDenseDefinition) {
    for (const Design& d : Designs()) {
        SCOPED_TRACE(d.name);
        const MCSymMatrix original = CrossProducts(d.recs, d.terms);
        const int p = original.GetNRows() - 1;
        std::vector<double> scale;
        original.GetDiagonal(scale);

        MCSymMatrix inOrder = original;
        DenseReference ref(original);
        MCBitSet orderSet(p + 1);
        for (int k = 0; k < p; ++k)
            EXPECT_EQ(inOrder.Sweep(k, kTol, scale, orderSet, true), ref.Sweep(k, true, scale));
        ExpectSameBits(inOrder, ref, "index order");

        MCSymMatrix leading = original;
        MCBitSet set(p + 1);
        std::vector<int> order;
        ASSERT_TRUE(leading.SweepLeading(p, kTol, scale, set, nullptr, &order));
        EXPECT_EQ(set, orderSet);
        EXPECT_LT(set.Count(), p) << "every design has aliased parameters";
        EXPECT_EQ(static_cast<int>(order.size()), set.Count());
        EXPECT_EQ(d.reordered, !std::is_sorted(order.begin(), order.end()));

        DenseReference leadingRef(original);
        for (int k : order) EXPECT_TRUE(leadingRef.Sweep(k, false, scale)) << "pivot " << k;
        ExpectSameBits(leading, leadingRef, "in its own order");

        double largest = 0.0;
        for (double v : inOrder.AsVector()) largest = std::max(largest, std::fabs(v));
        for (int i = 0; i <= p; ++i)
            for (int j = 0; j <= i; ++j) {
                const double a = leading.GetElem(i, j), b = inOrder.GetElem(i, j);
                ASSERT_NEAR(a, b, 1e-12 * std::fabs(b) + 1e-14 * largest) << i << ", " << j;
            }

        // Sweeping back restores the cross products, to rounding.
        for (int k = p - 1; k >= 0; --k)
            if (orderSet.IsIn(k)) inOrder.Sweep(k, kTol, scale, orderSet, false);
        for (int i = 0; i <= p; ++i)
            for (int j = 0; j <= i; ++j)
                ASSERT_NEAR(inOrder.GetElem(i, j), original.GetElem(i, j),
                            1e-9 * (1.0 + std::fabs(original.GetElem(i, j))))
                    << i << ", " << j;
    }
}

namespace {

class CountingQuery : public MCCommon_850::MCQueryCancel {
public:
    explicit CountingQuery(int cancelAt) : fCancelAt(cancelAt) {}
    bool IsCancel() override { return ++fPolls >= fCancelAt; }
    int fPolls = 0;
    int fCancelAt;
};

}  // namespace

// One poll per pivot decided or swept, never more than the pivots; a cancel
// stops the sweep.
TEST(SymMatrixSweep, LeadingSweepPollsCancelPerPivot) {
    const Design d = Designs()[0];
    const MCSymMatrix original = CrossProducts(d.recs, d.terms);
    const int p = original.GetNRows() - 1;
    std::vector<double> scale;
    original.GetDiagonal(scale);

    CountingQuery never(1 << 30);
    MCCancelInfo info(&never);
    MCSymMatrix m = original;
    MCBitSet set(p + 1);
    EXPECT_TRUE(m.SweepLeading(p, kTol, scale, set, &info));
    EXPECT_LE(never.fPolls, p);
    EXPECT_GE(never.fPolls, set.Count());

    CountingQuery soon(10);
    MCCancelInfo stop(&soon);
    MCSymMatrix c = original;
    MCBitSet cset(p + 1);
    EXPECT_FALSE(c.SweepLeading(p, kTol, scale, cset, &stop));
    EXPECT_EQ(soon.fPolls, 10);
    EXPECT_LT(cset.Count(), set.Count());
}
