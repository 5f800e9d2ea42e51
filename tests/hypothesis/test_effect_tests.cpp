// Type I and Type III tests of the effects of a fitted general linear model
// (y on A(3), B(2), x, A*B, unbalanced, no empty cell) against R
// (tools/reference/effect_tests.R): sequential anova F tests, car's Type III
// F tests with sum-to-zero contrasts and the overall model F; the general
// estimable function and a Type III L matrix in closed form; the
// generalised-inverse input; an effect with only redundant parameters.
#include <cmath>
#include <map>
#include <string>

#include "companion/MCStatusCodes.h"
#include "glm/glm_fixture.h"
#include "hypothesis/MCModelEffectTest.h"
#include "support/golden.h"

using namespace glmtest;
using namespace MCMath_850;

namespace {

struct Golden {
    std::vector<Record> records;
    std::map<std::string, std::vector<double>> values;  // F df1 df2 p
};

const Golden& Data() {
    static const Golden g = [] {
        Golden g;
        const golden::Entries file = golden::ReadEntries("effect_tests.txt");
        const golden::Case& c = file.Get("");
        for (const std::vector<double>& row : c.data) g.records.emplace_back(row);
        g.values = c.values;
        return g;
    }();
    return g;
}

// Positions: 0 y, 1 A, 2 B, 3 x (4 a copy of x in the redundant case).
Model TwoWay() {
    Model m;
    m.factors = {{1, 3}, {2, 2}};
    m.covariates = {3};
    m.terms = {{{1}, {}}, {{2}, {}}, {{}, {3}}, {{1, 2}, {}}};
    return m;
}

// X'X (with y appended when augmented) rebuilt from the design rows.
MCSymMatrix CrossProduct(const Fit& f, const std::vector<Record>& records, bool augmented) {
    const int p = f.NParams();
    MCSymMatrix xx(p + (augmented ? 1 : 0));
    for (const Record& r : records) {
        std::vector<double> row;
        EXPECT_TRUE(f.stats->ExpandRow(r, row));
        if (augmented) row.push_back(r[0]);
        EXPECT_TRUE(xx.UpdateXX(row, 1.0));
    }
    return xx;
}

void ExpectTest(const MCModelTestStats* s, int i, const std::vector<double>& g) {
    ASSERT_NE(s, nullptr);
    const MCTestStats* t = s->GetTestStats(i);
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(t->GetWald(), g[0], 1e-10 * g[0]) << "test " << i;
    EXPECT_EQ(t->GetDF(), g[1]);
    EXPECT_EQ(t->GetDF2(), g[2]);
    EXPECT_NEAR(t->GetSig(), g[3], 1e-10 * g[3] + 1e-15);
}

const std::vector<int> kFirst{0, 1, 4, 6, 7}, kCount{1, 3, 2, 1, 6};

}  // namespace

TEST(EffectTests, TypeIAndTypeIIIMatchR) {
    const Golden& g = Data();
    const Model m = TwoWay();
    const Fit f = FitModel(m, g.records);
    ASSERT_FALSE(f.status.IsError());
    ASSERT_EQ(f.NParams(), 13);
    const MCRegSettings s = m.Settings();
    // The dependent's row and column are cut off.
    const MCSymMatrix xx = CrossProduct(f, g.records, true);
    const double dfe = g.records.size() - f.stats->GetRedundancyIndicators().Count();
    MCModelEffectTest met(s, s.GetModelEffects(), f.stats->GetParamEstimates(), kFirst, kCount,
                          MCConst::ANALYSIS_TYPE_I_AND_III, f.stats->GetCovarianceMatrix(), &xx,
                          nullptr, MCConst::DIST_NORMAL, 2, nullptr, dfe, nullptr);
    ASSERT_TRUE(met.GetStatus().IsOK());
    EXPECT_TRUE(met.TestModelEffect().IsOK());
    const MCModelTestStats* t1 = met.GetTypeITestStats();
    const MCModelTestStats* t3 = met.GetTypeIIITestStats();
    ASSERT_TRUE(t1 && t3);
    EXPECT_EQ(t1->GetNTests(), 5);
    EXPECT_EQ(t3->GetNTests(), 5);
    const char* names[] = {"Intercept", "A", "B", "x", "A:B"};
    for (int e = 0; e < 5; ++e) {
        ExpectTest(t3, e, g.values.at(std::string("typeIII_") + names[e]));
        if (e > 0) ExpectTest(t1, e, g.values.at(std::string("typeI_") + names[e]));
    }
    ExpectTest(met.GetCorrectedModelTestStats(nullptr), 0, g.values.at("model"));

    // Type III of x, contained in nothing: the single row e_x.
    const MCRectMatrix* Lx = met.ComputeLMatrix(3);
    ASSERT_NE(Lx, nullptr);
    ASSERT_EQ(Lx->GetNRows(), 1);
    for (int j = 0; j < 13; ++j) EXPECT_NEAR(Lx->GetElem(0, j), j == 6 ? 1.0 : 0.0, 1e-12);

    // General estimable function: one row per non-redundant parameter; the
    // intercept's row carries the aliased last levels A2, B1 and A2*B1.
    MCRectMatrix gef;
    std::vector<int> rows;
    EXPECT_TRUE(met.GetGeneralEstimableFunction(&gef, rows).IsOK());
    EXPECT_EQ(rows, (std::vector<int>{1, 2, 3, 5, 7, 8, 10}));
    const std::vector<double> row0{1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    for (int j = 0; j < 13; ++j) EXPECT_NEAR(gef.GetElem(0, j), row0[j], 1e-12) << j;

    // Asked before each effect, a cancel after the second stops the tests
    // there.
    class CancelAfter : public MCCommon_850::MCQueryCancel {
    public:
        int fPolls = 0;
        bool IsCancel() override { return ++fPolls > 2; }
    } cancel;
    MCRegSettings cancelling = s;
    cancelling.SetCancelPointer(&cancel);
    MCModelEffectTest stopped(cancelling, s.GetModelEffects(), f.stats->GetParamEstimates(), kFirst,
                              kCount, MCConst::ANALYSIS_TYPE_III, f.stats->GetCovarianceMatrix(),
                              &xx, nullptr, MCConst::DIST_NORMAL, 2, nullptr, dfe, nullptr);
    EXPECT_EQ(stopped.TestModelEffect().GetErrorCode(), MCCommon_850::StatusCode::kCancelled);
    EXPECT_EQ(cancel.fPolls, 3);
}

TEST(EffectTests, GeneralizedInverseInputAndRedundantEffect) {
    const Golden& g = Data();
    const Model m = TwoWay();
    const Fit f = FitModel(m, g.records);
    ASSERT_FALSE(f.status.IsError());
    const MCRegSettings s = m.Settings();
    const MCBitSet& nonRed = f.stats->GetRedundancyIndicators();
    // The generalised inverse: X'X swept on the non-redundant pivots, negated.
    MCSymMatrix ginv = CrossProduct(f, g.records, false);
    std::vector<double> diag;
    ginv.GetDiagonal(diag);
    MCBitSet swept(13);
    int nSwept = 0;
    for (int k = 0; k < 13; ++k) nSwept += ginv.Sweep(k, 1e-12, diag, swept, true) ? 1 : 0;
    ASSERT_EQ(swept, nonRed);
    EXPECT_EQ(nSwept, nonRed.Count());
    ginv.Scale(-1.0);
    const double dfe = g.records.size() - nonRed.Count();
    MCModelEffectTest met(s, s.GetModelEffects(), f.stats->GetParamEstimates(), kFirst, kCount,
                          MCConst::ANALYSIS_TYPE_I_AND_III, f.stats->GetCovarianceMatrix(), &ginv,
                          &nonRed, MCConst::DIST_NORMAL, 2, nullptr, dfe, nullptr);
    EXPECT_TRUE(met.TestModelEffect().IsOK());
    const char* names[] = {"Intercept", "A", "B", "x", "A:B"};
    for (int e = 1; e < 5; ++e) {
        ExpectTest(met.GetTypeIIITestStats(), e, g.values.at(std::string("typeIII_") + names[e]));
        ExpectTest(met.GetTypeITestStats(), e, g.values.at(std::string("typeI_") + names[e]));
    }

    // z, a copy of x entered after it, has no estimable contrast; the error
    // df of -1 falls back to the settings' value.
    std::vector<Record> recs;
    for (const Record& r : g.records) {
        std::vector<double> v{r[0], r[1], r[2], r[3], r[3]};
        recs.emplace_back(v);
    }
    Model mz;
    mz.factors = {{1, 3}};
    mz.covariates = {3, 4};
    mz.terms = {{{1}, {}}, {{}, {3}}, {{}, {4}}};
    const Fit fz = FitModel(mz, recs);
    ASSERT_FALSE(fz.status.IsError());
    MCRegSettings sz = mz.Settings();
    sz.SetDF(26);
    const MCSymMatrix xz = CrossProduct(fz, recs, false);
    const std::vector<int> first{0, 1, 4, 5}, count{1, 3, 1, 1};
    MCModelEffectTest mz3(sz, sz.GetModelEffects(), fz.stats->GetParamEstimates(), first, count,
                          MCConst::ANALYSIS_TYPE_I_AND_III, fz.stats->GetCovarianceMatrix(), &xz,
                          nullptr, MCConst::DIST_NORMAL, 2, nullptr, -1.0, nullptr);
    const MCStatus st = mz3.TestModelEffect();
    EXPECT_EQ(st.GetErrorCode(), 321);
    EXPECT_TRUE(st.IsWarning());
    for (const MCModelTestStats* r : {mz3.GetTypeITestStats(), mz3.GetTypeIIITestStats()}) {
        ASSERT_EQ(r->GetNTests(), 4);
        EXPECT_EQ(r->GetStatus(3)->GetErrorCode(), 321);
        EXPECT_EQ(r->GetLMatrix(3)->GetNRows(), 0);
        EXPECT_TRUE(MCCommon_850::MCMV::IsMissing(r->GetTestStats(3)->GetWald()));
        EXPECT_EQ(r->GetTestStats(1)->GetDF2(), 26.0);
    }
    // Type I tests x before z; Type III adjusts each for the other.
    EXPECT_TRUE(mz3.GetTypeITestStats()->GetStatus(2)->IsOK());
    EXPECT_EQ(mz3.GetTypeIIITestStats()->GetStatus(2)->GetErrorCode(), 321);
    EXPECT_EQ(mz3.GetTypeIIITestStats()->GetTestStats(3)->GetTestType(), MCConst::TEST_WALD_F);

    // No cross-product matrix: error 303 sticks, nothing is tested.
    MCModelEffectTest none(sz, sz.GetModelEffects(), fz.stats->GetParamEstimates(), first, count,
                           MCConst::ANALYSIS_TYPE_I, fz.stats->GetCovarianceMatrix(), nullptr,
                           nullptr, MCConst::DIST_NORMAL, 2, nullptr, -1.0, nullptr);
    EXPECT_EQ(none.TestModelEffect().GetErrorCode(), 303);
    EXPECT_EQ(none.GetTypeITestStats(), nullptr);
    EXPECT_EQ(none.GetCorrectedModelTestStats(nullptr), nullptr);
    EXPECT_EQ(none.ComputeLMatrix(1), nullptr);
}
