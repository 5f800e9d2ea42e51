// Wald tests of L matrices on a fitted general linear model (y on A(3), B(2)
// and x, two aliased columns), checked against R's lm on the same design
// (tools/reference/lmatrix.R): overall F and chi-square of a single row,
// several rows, a rank-deficient L with a duplicate and a zero row, and a K
// vector; per-row t and chi-square tests, Bonferroni and Holm adjustments,
// intervals; the log-link response scale by the delta method.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "glm/glm_fixture.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCSatterthwaite.h"
#include "link/IMCLinkFunc.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace glmtest;
using namespace MCMath_850;
using MCCommon_850::MCMV;

namespace {

using Case = std::map<std::string, std::vector<double>>;

struct Golden {
    std::vector<Record> records;
    double errorDF = 0;
    std::map<std::string, Case> cases;
};

const Golden& Data() {
    static const Golden g = [] {
        Golden g;
        for (const golden::Case& c : golden::ReadEntries("lmatrix.txt").cases) {
            if (c.name.empty()) {
                for (const std::vector<double>& row : c.data) g.records.emplace_back(row);
                g.errorDF = c.Scalar("errordf");
            } else {
                g.cases[c.name] = c.values;
            }
        }
        return g;
    }();
    return g;
}

MCRectMatrix Matrix(const std::vector<double>& v, int cols) {
    MCRectMatrix m(static_cast<int>(v.size()) / cols, cols);
    m.AsVector() = v;
    return m;
}

double worst = 0;  // largest relative error against R over all checks

void ExpectR(double got, double want, const std::string& what) {
    if (golden::IsNA(want)) {  // R has no value: the library reports missing
        EXPECT_TRUE(MCMV::IsMissing(got)) << what << " = " << got;
        return;
    }
    worst = std::max(worst, support::RelErr(got, want));
    EXPECT_TRUE(support::Near(got, want, 1e-9)) << what;
}

struct Fixture {
    Fit fit;
    std::unique_ptr<MCModelTests> tester;
    Fixture() {
        Model m;  // y, A (3), B (2), x
        m.factors = {{1, 3}, {2, 2}};
        m.covariates = {3};
        m.terms = {Term{{1}, {}}, Term{{2}, {}}, Term{{}, {3}}};
        fit = FitModel(m, Data().records);
        EXPECT_TRUE(fit.status.IsOK()) << fit.status.GetMessage();
        EXPECT_EQ(fit.Glm().GetErrorDF(), Data().errorDF);
        tester = std::make_unique<MCModelTests>(
            fit.stats->GetParamEstimates(), fit.stats->GetRedundancyIndicators(),
            *fit.stats->GetCovarianceMatrix(), fit.Glm().GetErrorDF());
        tester->SetConfidenceLevel(0.95);
    }
};

}  // namespace

TEST(LMatrixTests, OverallAndRowTestsMatchR) {
    Fixture f;
    ASSERT_EQ(f.fit.NParams(), 7);
    MCModelTests& t = *f.tester;
    for (const auto& [name, g] : Data().cases) {
        if (name == "original" || name == "effectA_more") continue;
        SCOPED_TRACE(name);
        const MCRectMatrix L = Matrix(g.at("L"), 7);
        const std::vector<double>& K = g.at("K");
        const int rows = L.GetNRows(), rank = static_cast<int>(g.at("rank")[0]);
        std::vector<int> codes;
        int m = 0;
        CheckRows(L, &K, codes, m);
        for (int r = 0; r < rows; ++r) EXPECT_EQ(codes[r], g.at("codes")[r]) << r;

        std::vector<MCTestStats> ind;
        MCTestStats all;
        for (auto method : {MCConst::PADJ_BONFERRONI, MCConst::PADJ_SEQ_BONFERRONI}) {
            t.SetTestType(MCConst::TEST_WALD_F);
            t.SetPAdjustment(method);
            ASSERT_TRUE(t.ComputeOvAndIndTests(L, K, ind, all, 0).IsOK());
            EXPECT_EQ(all.GetDF(), rank);
            EXPECT_EQ(all.GetDF2(), Data().errorDF);
            EXPECT_EQ(all.GetNNonRedunRows(), m);
            EXPECT_EQ(all.IsUsedInOverallTest(), rank == rows);
            ExpectR(all.GetWald(), g.at("F")[0], "F");
            ExpectR(all.GetSig(), g.at("F")[1], "F sig");
            const auto& adj = g.at(method == MCConst::PADJ_BONFERRONI ? "bonferroni" : "holm");
            double smallest = 1;
            for (int r = 0; r < rows; ++r) {
                const std::string row = " row " + std::to_string(r);
                ExpectR(ind[r].GetContrastEstimate(), g.at("estimate")[r], "estimate" + row);
                ExpectR(ind[r].GetStandardError(), g.at("se")[r], "se" + row);
                EXPECT_EQ(ind[r].IsUsedInOverallTest(), r < rank)
                    << row;  // leading rows independent
                ExpectR(ind[r].GetWald(), g.at("t")[r], "t" + row);
                ExpectR(ind[r].GetSig(), g.at("pt")[r], "p" + row);
                ExpectR(ind[r].GetAdjSig(), adj[r], "adjusted p" + row);
                if (adj[r] >= 0) smallest = std::min(smallest, adj[r]);
                // A multiple of row i (under Holm) gets row i's interval, as
                // wide in units of its own standard error.
                const int i = codes[r];
                if (i >= 0 && method == MCConst::PADJ_SEQ_BONFERRONI)
                    ExpectR((ind[r].GetUpperConfidenceInterval() -
                             ind[r].GetLowerConfidenceInterval()) /
                                ind[r].GetStandardError(),
                            (ind[i].GetUpperConfidenceInterval() -
                             ind[i].GetLowerConfidenceInterval()) /
                                ind[i].GetStandardError(),
                            "duplicate's interval" + row);
            }
            ExpectR(all.GetAdjSig(), smallest, "overall adjusted p");
        }
        t.SetTestType(MCConst::TEST_CHISQUARE);
        t.SetPAdjustment(MCConst::PADJ_LSD);
        ASSERT_TRUE(t.ComputeOvAndIndTests(L, K, ind, all, 0).IsOK());
        ExpectR(all.GetWald(), g.at("chisq")[0], "chi-square");
        ExpectR(all.GetSig(), g.at("chisq")[1], "chi-square sig");
        EXPECT_TRUE(MCMV::IsMissing(all.GetDF2()));
        for (int r = 0; r < rows; ++r) {
            ExpectR(ind[r].GetWald(), g.at("chi")[r], "row chi-square");
            ExpectR(ind[r].GetSig(), g.at("pchi")[r], "row chi-square sig");
        }

        // Intervals of single rows, unadjusted and Bonferroni over m rows.
        t.SetTestType(MCConst::TEST_WALD_F);
        for (auto method : {MCConst::PADJ_LSD, MCConst::PADJ_BONFERRONI}) {
            t.SetPAdjustment(method);
            const auto& ci = g.at(method == MCConst::PADJ_LSD ? "lsdci" : "bonfci");
            for (int r = 0; r < rows; ++r) {
                MCTestStats one;
                ASSERT_TRUE(t.ComputeIndivTest(L, r, K[r], m, one, true));
                ExpectR(one.GetLowerConfidenceInterval(), ci[2 * r], "lower");
                ExpectR(one.GetUpperConfidenceInterval(), ci[2 * r + 1], "upper");
            }
        }
        // Without K the stand-alone overall test agrees with the combined one.
        if (std::all_of(K.begin(), K.end(), [](double k) { return k == 0; })) {
            t.SetPAdjustment(MCConst::PADJ_BONFERRONI);
            ASSERT_TRUE(t.ComputeOverallTest(L, all).IsOK());
            ExpectR(all.GetWald(), g.at("F")[0], "stand-alone F");
            double smallest = 1;
            for (int r = 0; r < rows; ++r)
                if (codes[r] == -1 && g.at("se")[r] > 0)
                    smallest = std::min(smallest, g.at("bonferroni")[r]);
            ExpectR(all.GetAdjSig(), smallest, "stand-alone adjusted p");
        }
    }
    std::printf("[ lmatrix  ] worst relative error against R %.2g\n", worst);
}

TEST(LMatrixTests, ResponseScaleByDeltaMethodMatchesR) {
    Fixture f;
    const Case& g = Data().cases.at("original");
    const MCRectMatrix M = Matrix(g.at("M"), 7), L = Matrix(g.at("L"), 3);
    std::unique_ptr<IMCLinkFunc> link(CreateLinkFunction(MCConst::LINK_LOG, 0));
    MCModelTests& t = *f.tester;
    const std::vector<double>& b = f.fit.stats->GetParamEstimates();
    std::vector<MCTestStats> ind;
    MCTestStats all;
    EXPECT_EQ(t.ComputeOriginalOvAndIndTests(M, b, L, ind, all, 0).GetErrorCode(), 303);  // no link
    t.SetLinkFunction(link.get());
    t.SetTestType(MCConst::TEST_WALD_F);
    t.SetPAdjustment(MCConst::PADJ_BONFERRONI);
    ASSERT_TRUE(t.ComputeOriginalOvAndIndTests(M, b, L, ind, all, 2).IsOK());
    ExpectR(all.GetWald(), g.at("F")[0], "F");
    ExpectR(all.GetSig(), g.at("F")[1], "F sig");
    for (int r = 0; r < 2; ++r) {
        ExpectR(ind[r].GetContrastEstimate(), g.at("estimate")[r], "estimate");
        ExpectR(ind[r].GetStandardError(), g.at("se")[r], "se");
        ExpectR(ind[r].GetSig(), g.at("pt")[r], "p");
        ExpectR(ind[r].GetLowerConfidenceInterval(), g.at("bonfci")[2 * r], "lower");
        ExpectR(ind[r].GetUpperConfidenceInterval(), g.at("bonfci")[2 * r + 1], "upper");
    }
    t.SetTestType(MCConst::TEST_CHISQUARE);
    ASSERT_TRUE(t.ComputeOriginalOverallTest(M, b, L, all).IsOK());
    ExpectR(all.GetWald(), g.at("chisq")[0], "chi-square");
    EXPECT_EQ(all.GetDF(), g.at("rank")[0]);

    // b of the wrong length, L not over the cells: 322 with both counts.
    const std::vector<double> shortB(b.begin(), b.end() - 1);
    const MCCommon_850::MCStatus s = t.ComputeOriginalOverallTest(M, shortB, L, all);
    long cols = 0, len = 0;
    EXPECT_TRUE(s.IsError() && s.GetErrorCode() == 322);
    EXPECT_TRUE(s.GetDiscreteDatum(1, cols) && s.GetDiscreteDatum(2, len));
    EXPECT_EQ(cols, 7);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(t.ComputeOriginalOverallTest(M, b, M, all).GetErrorCode(), 322);

    // A host cancel stops the row pass, and the error sticks.
    struct Stop : MCCommon_850::MCQueryCancel {
        bool IsCancel() override { return true; }
    } stop;
    MCModelTests c(b, f.fit.stats->GetRedundancyIndicators(), *f.fit.stats->GetCovarianceMatrix(),
                   19, &stop);
    c.SetLinkFunction(link.get());
    c.SetPAdjustment(MCConst::PADJ_BONFERRONI);
    EXPECT_EQ(c.ComputeOriginalOverallTest(M, b, L, all).GetErrorCode(), 1);
    EXPECT_EQ(c.ComputeOverallTest(Matrix(g.at("M"), 7), all).GetErrorCode(), 1);
}

TEST(LMatrixTests, StatusesAndDegenerateContrasts) {
    Fixture f;
    MCModelTests& t = *f.tester;
    t.SetTestType(MCConst::TEST_WALD_F);
    MCModelTestStats stats;
    // Empty L: warning 321 and an untested record; a prior error is kept.
    EXPECT_EQ(t.ComputeModelTest(MCRectMatrix(0, 7), {}, stats).GetErrorCode(), 321);
    const MCCommon_850::MCStatus prior(303, false);
    const MCRectMatrix A = Matrix(Data().cases.at("effectA").at("L"), 7);
    EXPECT_EQ(t.ComputeModelTest(A, prior, stats), prior);
    EXPECT_TRUE(t.ComputeModelTest(A, MCCommon_850::MCStatus(321, true), stats).IsOK());
    // Column mismatch: 322 with the column count and the number of estimates.
    const MCCommon_850::MCStatus bad = t.ComputeModelTest(MCRectMatrix(1, 5), {}, stats);
    long cols = 0, p = 0;
    EXPECT_EQ(bad.GetErrorCode(), 322);
    EXPECT_TRUE(bad.GetDiscreteDatum(1, cols) && bad.GetDiscreteDatum(2, p));
    EXPECT_EQ(cols, 5);
    EXPECT_EQ(p, 7);
    // A NaN or infinite coefficient or hypothesised value is no contrast: it
    // gave no statistic but a Sig of 0 under an OK status.
    MCRectMatrix withNaN = A;
    withNaN.SetElem(1, 2, std::nan(""));
    EXPECT_EQ(t.ComputeModelTest(withNaN, {}, stats).GetErrorCode(), 303);
    MCTestStats untested;
    std::vector<MCTestStats> rows;
    withNaN.SetElem(1, 2, HUGE_VAL);
    EXPECT_EQ(t.ComputeOverallTest(withNaN, untested).GetErrorCode(), 303);
    EXPECT_EQ(t.ComputeOvAndIndTests(A, {0.0, std::nan("")}, rows, untested, 0).GetErrorCode(),
              303);
    EXPECT_TRUE(t.GetStatus().IsOK());
    ASSERT_EQ(stats.GetNTests(), 5);
    EXPECT_TRUE(MCMV::IsMissing(stats.GetTestStats(0)->GetSig()));
    EXPECT_EQ(*stats.GetStatus(1), prior);
    ExpectR(stats.GetTestStats(2)->GetWald(), Data().cases.at("effectA").at("F")[0], "effect F");
    EXPECT_EQ(stats.GetLMatrix(2)->GetNRows(), 2);
    EXPECT_EQ(*stats.GetStatus(4), MCCommon_850::MCStatus(303, false));
    EXPECT_EQ(stats.GetTestStats(5), nullptr);
    EXPECT_EQ(stats.GetRowIndices(0), nullptr);

    // Aliased columns alone: zero variance. A zero estimate leaves df and Sig
    // missing; a non-zero hypothesised value is rejected outright.
    MCRectMatrix Z(1, 7);
    Z.SetElem(0, 3, 1.0);
    MCTestStats one;
    EXPECT_TRUE(t.ComputeIndivTest(Z, 0, 0.0, 1, one, true));
    EXPECT_TRUE(MCMV::IsMissing(one.GetDF()) && MCMV::IsMissing(one.GetSig()));
    EXPECT_EQ(one.GetLowerConfidenceInterval(), 0.0);
    MCTestStats all;
    ASSERT_TRUE(t.ComputeOverallTest(Z, all).IsOK());
    EXPECT_TRUE(MCMV::IsMissing(all.GetDF()) && MCMV::IsMissing(all.GetSig()));
    std::vector<MCTestStats> ind;
    ASSERT_TRUE(t.ComputeOvAndIndTests(Z, {2.0}, ind, all, 0).IsOK());
    EXPECT_EQ(all.GetSig(), 0.0);

    // A caller-given multiplicity counts every row; fewer error df than the
    // rank leave the combined test without F, the stand-alone test not.
    t.SetPAdjustment(MCConst::PADJ_BONFERRONI);
    ASSERT_TRUE(t.ComputeOvAndIndTests(A, {}, ind, all, 4).IsOK());
    EXPECT_EQ(all.GetNNonRedunRows(), 4);
    const Case& more = Data().cases.at("effectA_more");
    for (int r = 0; r < 2; ++r)
        ExpectR(ind[r].GetAdjSig(), more.at("bonferroni4")[r],
                "multiplicity 4, row " + std::to_string(r));
    t.SetDF(1);
    ASSERT_TRUE(t.ComputeOvAndIndTests(A, {}, ind, all, 0).IsOK());
    EXPECT_EQ(all.GetDF(), 2);
    EXPECT_TRUE(MCMV::IsMissing(all.GetWald()));
    ASSERT_TRUE(t.ComputeOverallTest(A, all).IsOK());
    EXPECT_FALSE(MCMV::IsMissing(all.GetWald()));

    // Satterthwaite without covariance parameters: rows have no df (no
    // p-value), the overall F falls back to the object's residual df.
    const MCSymMatrix none;
    const std::vector<double> theta;
    const std::vector<MCSymMatrix*> derivatives;
    MCSatterthwaite satt(none, *f.fit.stats->GetCovarianceMatrix(), theta, derivatives, 7);
    t.SetSatterthwaite(&satt);
    t.SetPAdjustment(MCConst::PADJ_LSD);
    ASSERT_TRUE(t.ComputeOverallTest(A, all).IsOK());
    EXPECT_EQ(all.GetDF2(), 7);
    ExpectR(all.GetWald(), more.at("F7")[0], "Satterthwaite F");
    ExpectR(all.GetSig(), more.at("F7")[1], "Satterthwaite F sig");
    ASSERT_TRUE(t.ComputeIndivTest(A, 0, 0.0, 1, one, false));
    EXPECT_TRUE(MCMV::IsMissing(one.GetDF2()) && MCMV::IsMissing(one.GetSig()));
}

TEST(LMatrixTests, RowTestsOfBothScalesDecideEdgesAlike) {
    // A contrast handed in with its estimate, variance and df is tested the
    // same whether it comes from the linear predictor or the response
    // scale: zero and negative round-off variance (standard error 0, no
    // statistic, rejected when the estimate is not 0), df that are not
    // positive (no p-value, no interval), and a step-down method (no
    // interval, left to the family). x = 1.5 with variance 0.36 is t = 2.5;
    // R: 2 * pt(-2.5, 12) and 1.5 + qt(0.975, 12) * 0.6.
    const std::vector<double> b{1.0};
    MCBitSet kept(1);
    kept.Set(0, true);
    MCSymMatrix V(1);
    V.SetElem(0, 0, 1.0);
    MCModelTests t(b, kept, V, 12.0);
    t.SetTestType(MCConst::TEST_T);
    t.SetConfidenceLevel(0.95);
    struct Row {
        double estimate, variance, df;
    };
    for (MCConst::MCPAdjustMethod m : {MCConst::PADJ_LSD, MCConst::PADJ_SEQ_SIDAK}) {
        t.SetPAdjustment(m);
        for (const Row& r : {Row{1.5, 0.36, 12}, Row{1.5, 0.0, 12}, Row{1.5, -1e-19, 12},
                             Row{0.0, 0.0, 12}, Row{1.5, 0.36, 0}, Row{1.5, 0.36, -2}}) {
            SCOPED_TRACE(std::to_string(r.estimate) + ", " + std::to_string(r.variance) + ", " +
                         std::to_string(r.df) + ", method " + std::to_string(m));
            MCTestStats linear, response;
            const double crit = t.ComputeIntervalCritical(1, r.df);
            ASSERT_TRUE(t.ComputeIndivTest(r.estimate, r.variance, r.df, 0.0, 1, linear, &crit));
            ASSERT_TRUE(
                t.ComputeOriginalIndivTest(r.estimate, r.variance, 1, response, r.df, true));
            for (const MCTestStats* s : {&linear, &response}) {
                const bool positive = r.variance > 0.0;
                EXPECT_DOUBLE_EQ(s->GetStandardError(), positive ? 0.6 : 0.0);
                if (!positive) {
                    EXPECT_TRUE(MCMV::IsMissing(s->GetWald()));
                    if (r.estimate != 0.0)
                        EXPECT_EQ(s->GetSig(), 0.0);
                    else
                        EXPECT_TRUE(MCMV::IsMissing(s->GetSig()));
                } else if (r.df > 0.0) {
                    EXPECT_NEAR(s->GetWald(), 2.5, 1e-15);
                    EXPECT_NEAR(s->GetSig(), 0.027915399571325213, 1e-15);
                } else {
                    EXPECT_NEAR(s->GetWald(), 2.5, 1e-15);
                    EXPECT_TRUE(MCMV::IsMissing(s->GetSig()));
                }
                const bool interval = m == MCConst::PADJ_LSD && r.df > 0.0;
                EXPECT_EQ(MCMV::IsMissing(s->GetLowerConfidenceInterval()), !interval);
                if (!interval) continue;
                if (positive) {
                    EXPECT_NEAR(s->GetUpperConfidenceInterval(), 2.8072876978003372, 1e-14);
                } else {
                    EXPECT_EQ(s->GetUpperConfidenceInterval(), r.estimate);
                }
            }
            EXPECT_EQ(linear.GetSig(), response.GetSig());
            EXPECT_EQ(linear.GetAdjSig(), response.GetAdjSig());
            EXPECT_EQ(linear.GetLowerConfidenceInterval(), response.GetLowerConfidenceInterval());
        }
    }
}
