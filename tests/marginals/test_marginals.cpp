// Marginal means of a fitted y ~ A * B + x model (A three levels, B two,
// unbalanced, every cell observed) against R's emmeans
// (tools/reference/emmeans.R, tests/golden/emmeans.txt).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "glm/MCGLMOutputStats.h"
#include "glm/glm_fixture.h"
#include "marginals/MCMarginals.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace MCMath_850;

namespace {

std::map<std::string, double> Golden() {
    return golden::ReadValues("emmeans.txt");
}

void ExpectGolden(const std::map<std::string, double>& g, const std::string& key, double got) {
    auto it = g.find(key);
    ASSERT_NE(it, g.end()) << key;
    EXPECT_TRUE(support::Near(got, it->second, 1e-12, 1)) << key;
}

// The statistics of a row against the golden values prefix + field + "_" +
// index, for each field named: est or mean, se, df, p, lo, hi.
void ExpectRow(const std::map<std::string, double>& g, const std::string& prefix,
               const std::string& index, const MCEmmeansStats& s,
               const std::vector<std::string>& fields) {
    for (const std::string& field : fields) {
        double got = s.GetMean();
        if (field == "se") got = s.GetStandardError();
        if (field == "df") got = s.GetDF();
        if (field == "p") got = s.GetSignificance();
        if (field == "lo") got = s.GetLower();
        if (field == "hi") got = s.GetUpper();
        ExpectGolden(g, prefix + field + "_" + index, got);
    }
}

const int kY = 0, kA = 1, kB = 2, kX = 3;

struct Fixture {
    glmtest::Model model;
    glmtest::Fit fit;
    std::unique_ptr<MCLiteDesignMatrix> design;
    MCCancelInfo cancel;
    MCRegSettings settings;  // outlives the MCMarginals objects that refer to it
    double xmean = 0;

    // dropCell leaves the (A2, B1) cell unobserved.
    explicit Fixture(bool dropCell = false) {
        const double A[] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 0, 1, 1, 2, 0, 1, 2, 2};
        const double B[] = {0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0};
        const double X[] = {1.2, 2.5, 3.1, 0.7, 4.4, 2.2, 3.8, 1.9, 5.0, 2.7,
                            3.3, 0.9, 4.1, 1.5, 2.9, 3.6, 2.0, 4.8, 1.1, 2.4};
        const double Y[] = {5.1,  7.3, 9.0,  4.2, 11.8, 8.1,  10.9, 6.6,  12.4, 9.7,
                            10.5, 5.9, 10.2, 6.0, 9.1,  10.0, 6.2,  12.9, 6.8,  8.3};
        std::vector<MCCommon_850::Record> records;
        for (int i = 0; i < 20; ++i)
            if (!dropCell || A[i] != 2 || B[i] != 1) records.push_back({Y[i], A[i], B[i], X[i]});
        for (const auto& r : records) xmean += r[kX] / static_cast<double>(records.size());
        model.dependent = kY;
        model.factors = {{kA, 3}, {kB, 2}};
        model.covariates = {kX};
        model.terms = {{{kA}, {}}, {{kB}, {}}, {{kA, kB}, {}}, {{}, {kX}}};
        fit = glmtest::FitModel(model, records);
        settings = model.Settings();
        design.reset(new MCLiteDesignMatrix({kA, kB}, {}, {kX}));
        for (const MCRegrParameter& p : fit.stats->GetParameters())
            EXPECT_TRUE(design->AddRegrParameter(p));
    }

    std::unique_ptr<MCMarginals> Make(const std::vector<MCEmmeansSpec>& specs,
                                      MCConst::LinkType link = MCConst::LINK_IDENTITY,
                                      MCFactorCounts* counts = nullptr) {
        std::unique_ptr<MCMarginals> m(new MCMarginals(settings, specs, *design,
                                                       fit.stats->GetParamEstimates(), cancel,
                                                       {xmean}, counts, link, 0.0));
        EXPECT_TRUE(m->SetEmmeansTesting(fit.stats->GetCovarianceMatrix(),
                                         fit.stats->GetRedundancyIndicators(),
                                         fit.Glm().GetErrorDF(), nullptr)
                        .IsOK());
        return m;
    }
};

MCEmmeansSpec Spec(std::vector<int> factors, int compare, MCConst::MCContrastType type) {
    MCEmmeansSpec s;
    for (int f : factors) EXPECT_GE(s.AddFactor(f), 0);
    if (compare >= 0) {
        EXPECT_GE(s.AddCompareFactor(compare), 0);
    }
    s.SetContrastType(type);
    s.SetEmmScaleType(MCConst::EMM_SCALE_TRANSFORMED);
    return s;
}

}  // namespace

TEST(Marginals, MeansMatchEmmeans) {
    Fixture f;
    ASSERT_TRUE(f.fit.status.IsOK());
    const auto g = Golden();
    // A alone (B averaged equally) and the A x B cells, x at its mean; the
    // second request on the response scale of the identity link must agree.
    MCEmmeansSpec a = Spec({kA}, -1, MCConst::CONTRAST_SIMPLE),
                  ab = Spec({kA, kB}, -1, MCConst::CONTRAST_SIMPLE);
    ab.SetEmmScaleType(MCConst::EMM_SCALE_ORIGINAL);
    auto m = f.Make({a, ab});
    EXPECT_NEAR(m->GetCovariateMeans()[kX], g.at("xmean_0"), 1e-14);
    const char* names[] = {"A", "AB"};
    for (int s = 0; s < 2; ++s) {
        MCEmmeansSpec out;
        MCRectMatrix L;
        std::vector<MCEmmeansStats> st;
        ASSERT_TRUE(m->GetEmmeansStats(s, out, L, st).IsOK());
        ASSERT_EQ(st.size(), s == 0 ? 3u : 6u);
        EXPECT_NEAR(out.GetCovariates().at(0).second, f.xmean, 1e-15);
        for (std::size_t r = 0; r < st.size(); ++r) {
            // emmeans lists A x B cells with A fastest; ours run B fastest.
            const std::size_t gr = s == 0 ? r : (r % 2) * 3 + r / 2;
            ExpectRow(g, std::string(names[s]) + "_", std::to_string(gr), st[r],
                      {"est", "se", "df", "lo", "hi"});
            EXPECT_EQ(st[r].GetCategories()[0], s == 0 ? int(r) : int(r / 2));
        }
    }
    MCEmmeansSpec out;
    MCRectMatrix L;
    std::vector<MCEmmeansStats> st;
    // The message names the index asked for and the count (it named the
    // largest index as the one asked for).
    const MCCommon_850::MCStatus range = m->GetEmmeansStats(2, out, L, st);
    EXPECT_EQ(range.GetErrorCode(), 328);
    EXPECT_NE(range.GetMessage().find("index 2 is out of range: there are 2 spec"),
              std::string::npos)
        << range.GetMessage();
    // Profiles: per level of A, and along x with A x B averaged.
    std::vector<double> values, means;
    ASSERT_TRUE(m->GetFactorEmmeans(kA, L, means).IsOK());
    for (int r = 0; r < 3; ++r) ExpectGolden(g, "A_est_" + std::to_string(r), means[r]);
    ASSERT_TRUE(m->GetCovarEmmeans(kX, 1, 5, 3, L, values, means).IsOK());
    EXPECT_EQ(values, (std::vector<double>{1, 3, 5}));
    for (int r = 0; r < 3; ++r) ExpectGolden(g, "xprof_" + std::to_string(r), means[r]);
    EXPECT_EQ(m->GetCovarEmmeans(kX, 5, 1, 3, L, values, means).GetErrorCode(), 303);
}

TEST(Marginals, ContrastsAndPairsMatchEmmeans) {
    Fixture f;
    const auto g = Golden();
    MCEmmeansSpec simple = Spec({kA}, kA, MCConst::CONTRAST_SIMPLE);
    simple.SetRefCateg(0);
    MCEmmeansSpec pairs = Spec({kA}, kA, MCConst::CONTRAST_PAIRWISE), holm = pairs;
    pairs.SetPAdjust(MCConst::PADJ_BONFERRONI);
    holm.SetPAdjust(MCConst::PADJ_SEQ_BONFERRONI);
    MCEmmeansSpec response = pairs;  // identity link: the same numbers
    response.SetEmmScaleType(MCConst::EMM_SCALE_ORIGINAL);
    auto m = f.Make({simple, pairs, holm, response});

    MCCommon_850::MCStatus st;
    ASSERT_EQ(m->GetNEmmeansTests(0, st), 1);
    MCMarginals::FixedLevels fixed;
    std::vector<int> compared;
    MCRectMatrix tested;
    std::vector<MCTestStats> indiv;
    MCTestStats overall;
    ASSERT_TRUE(m->GetEmmeansTests(0, 0, fixed, compared, tested, indiv, overall).IsOK());
    EXPECT_EQ(compared, (std::vector<int>{1, 2, 0}));  // reference moved last
    ASSERT_EQ(indiv.size(), 2u);
    for (int r = 0; r < 2; ++r) {
        const std::string i = std::to_string(r);
        ExpectGolden(g, "trt_est_" + i, indiv[r].GetContrastEstimate());
        ExpectGolden(g, "trt_se_" + i, indiv[r].GetStandardError());
        ExpectGolden(g, "trt_p_" + i, indiv[r].GetSig());
    }
    EXPECT_EQ(m->GetEmmeansTests(1, 0, fixed, compared, tested, indiv, overall).GetErrorCode(),
              303);
    EXPECT_EQ(m->GetEmmeansTests(0, 1, fixed, compared, tested, indiv, overall).GetErrorCode(),
              329);

    // Ordered pairs (0,1) (0,2) (1,0) (1,2) (2,0) (2,1); emmeans lists 0-1,
    // 0-2, 1-2 with Bonferroni over three.
    ASSERT_EQ(m->GetNPairwiseEmmeansTests(1, 0), 6);
    const int ours[] = {0, 1, 3};
    MCEmmeansStats p[6];
    for (int q = 0; q < 6; ++q)
        ASSERT_TRUE(m->GetPairwiseEmmeansTests(1, 0, q, fixed, compared, p[q]).IsOK());
    for (int r = 0; r < 3; ++r) {
        ExpectRow(g, "pw_", std::to_string(r), p[ours[r]], {"est", "se", "p", "lo", "hi"});
        EXPECT_DOUBLE_EQ(p[ours[r]].GetDF(), 13.0);
    }
    MCEmmeansStats h[6];
    for (int q = 0; q < 6; ++q)
        EXPECT_TRUE(m->GetPairwiseEmmeansTests(2, 0, q, fixed, compared, h[q]).IsOK());
    for (int r = 0; r < 3; ++r) {
        ExpectRow(g, "pwholm_", std::to_string(r), h[ours[r]], {"p"});
        ASSERT_TRUE(m->GetPairwiseEmmeansTests(3, 0, ours[r], fixed, compared, h[0]).IsOK());
        ExpectRow(g, "pw_", std::to_string(r), h[0], {"est", "se", "p"});
    }
    EXPECT_DOUBLE_EQ(h[4].GetSignificance(), h[1].GetSignificance());
    // (2,0) mirrors (0,2); (1,0) compares level 1 with level 0.
    EXPECT_DOUBLE_EQ(p[4].GetMean(), -p[1].GetMean());
    EXPECT_DOUBLE_EQ(p[4].GetLower(), -p[1].GetUpper());
    EXPECT_EQ(p[2].GetCategories(), std::vector<int>{0});
    EXPECT_TRUE(m->GetPairwiseEmmeansTests(1, 0, 2, fixed, compared, p[0]).IsOK());
    EXPECT_EQ(compared, std::vector<int>{1});
}

TEST(Marginals, TwoCompareFactorsMatchEmmeans) {
    // Both factors compared: the six A x B cells form one family of 15
    // pairs (30 ordered), Bonferroni over 15 for p-values and intervals.
    Fixture f;
    const auto g = Golden();
    MCEmmeansSpec s = Spec({kA, kB}, kA, MCConst::CONTRAST_PAIRWISE);
    EXPECT_GE(s.AddCompareFactor(kB), 0);
    MCEmmeansSpec holm = s;
    s.SetPAdjust(MCConst::PADJ_BONFERRONI);
    holm.SetPAdjust(MCConst::PADJ_SEQ_BONFERRONI);
    auto m = f.Make({s, holm});
    ASSERT_EQ(m->GetNPairwiseEmmeansTests(0, 0), 30);
    MCMarginals::FixedLevels fixed;
    std::vector<int> compared;
    MCEmmeansStats e, h;
    int r = 0;
    for (int ei = 0; ei < 6; ++ei)
        for (int ej = ei + 1; ej < 6; ++ej) {
            // emmeans numbers the cells A fastest, ours run B fastest.
            const int ci = (ei % 3) * 2 + ei / 3, cj = (ej % 3) * 2 + ej / 3;
            const int q = ci * 5 + (cj > ci ? cj - 1 : cj);
            ASSERT_TRUE(m->GetPairwiseEmmeansTests(0, 0, q, fixed, compared, e).IsOK());
            EXPECT_EQ(compared, (std::vector<int>{ei % 3, ei / 3}));
            EXPECT_EQ(e.GetCategories(), (std::vector<int>{ej % 3, ej / 3}));
            EXPECT_TRUE(fixed.empty());
            ExpectRow(g, "abpw_", std::to_string(ei) + "_" + std::to_string(ej), e,
                      {"est", "se", "p", "lo", "hi"});
            ASSERT_TRUE(m->GetPairwiseEmmeansTests(1, 0, q, fixed, compared, h).IsOK());
            ExpectRow(g, "abholm_", std::to_string(r++), h, {"p"});
        }
    const MCCommon_850::MCStatus pair = m->GetPairwiseEmmeansTests(0, 0, 30, fixed, compared, e);
    EXPECT_EQ(pair.GetErrorCode(), 329);
    EXPECT_NE(pair.GetMessage().find("index 30 is out of range"), std::string::npos)
        << pair.GetMessage();
}

TEST(Marginals, IncompleteDesignAveragesObservedCells) {
    Fixture f(true);
    ASSERT_TRUE(f.fit.status.IsOK());
    const auto g = Golden();
    MCEmmeansSpec a = Spec({kA}, kA, MCConst::CONTRAST_PAIRWISE);
    a.SetPAdjust(MCConst::PADJ_BONFERRONI);
    MCEmmeansSpec ab = Spec({kA, kB}, kB, MCConst::CONTRAST_PAIRWISE);
    auto m = f.Make({a, ab});
    ExpectGolden(g, "inc_xmean_0", m->GetCovariateMeans()[kX]);
    MCEmmeansSpec out;
    MCRectMatrix L;
    std::vector<MCEmmeansStats> st;
    ASSERT_TRUE(m->GetEmmeansStats(0, out, L, st).IsOK());
    ASSERT_EQ(st.size(), 3u);
    for (int r = 0; r < 3; ++r) ExpectRow(g, "inc_", std::to_string(r), st[r], {"est", "se"});
    MCMarginals::FixedLevels fixed;
    std::vector<int> compared;
    MCEmmeansStats e;
    const int ours[] = {0, 1, 3};
    for (int r = 0; r < 3; ++r) {
        ASSERT_TRUE(m->GetPairwiseEmmeansTests(0, 0, ours[r], fixed, compared, e).IsOK());
        ExpectRow(g, "inc_pw_", std::to_string(r), e, {"est", "se", "p"});
    }
    // B within A: the A2 test holds the single observed cell (A2, B0).
    MCCommon_850::MCStatus s;
    ASSERT_EQ(m->GetNEmmeansTests(1, s), 3);
    ASSERT_TRUE(m->GetEmmeansStats(1, out, L, st).IsOK());
    EXPECT_EQ(st.size(), 5u);
    EXPECT_EQ(m->GetNPairwiseEmmeansTests(1, 1), 2);
    EXPECT_EQ(m->GetPairwiseEmmeansTests(1, 2, 0, fixed, compared, e).GetErrorCode(), 330);
    EXPECT_EQ(fixed, (MCMarginals::FixedLevels{{kA, 2}}));
}

TEST(Marginals, ResponseScaleAndRefusals) {
    Fixture f;
    // Log link on the linear-predictor means: exp of eta, delta-method SE,
    // bounds the exponentials of the linear-predictor bounds (emmeans with
    // tran = "log" on the response scale).
    MCEmmeansSpec lin = Spec({kA}, -1, MCConst::CONTRAST_SIMPLE), resp = lin;
    resp.SetEmmScaleType(MCConst::EMM_SCALE_ORIGINAL);
    auto m = f.Make({lin, resp}, MCConst::LINK_LOG);
    MCEmmeansSpec out;
    MCRectMatrix L;
    std::vector<MCEmmeansStats> a, b;
    ASSERT_TRUE(m->GetEmmeansStats(0, out, L, a).IsOK());
    ASSERT_TRUE(m->GetEmmeansStats(1, out, L, b).IsOK());
    const auto g = Golden();
    for (std::size_t r = 0; r < 3; ++r) {
        ExpectRow(g, "A_", std::to_string(r), a[r], {"est"});
        ExpectRow(g, "Alog_", std::to_string(r), b[r], {"mean", "se", "lo", "hi"});
    }

    // A compare factor restricted to one level by the counts is refused; a
    // polynomial request without metric gets 1..k; a short metric is refused.
    MCFactorCounts counts({kA, kB}, {3, 2}, -1, -1, 0, 0, -1, 0.0, 0);
    for (double av : {0.0, 0.0, 1.0, 2.0}) EXPECT_TRUE(counts.Update({0.0, av, 0.0, 0.0}));
    MCEmmeansSpec single = Spec({kB}, kB, MCConst::CONTRAST_SIMPLE);
    MCEmmeansSpec poly = Spec({kA}, kA, MCConst::CONTRAST_POLYNOMIAL);
    MCEmmeansSpec shortPoly = poly;
    EXPECT_TRUE(shortPoly.SetMetricValueList({1, 2}));
    auto restricted = f.Make({single, poly, shortPoly}, MCConst::LINK_IDENTITY, &counts);
    MCMarginals& mc = *restricted;
    MCCommon_850::MCStatus st;
    EXPECT_EQ(mc.GetNEmmeansTests(0, st), -1);
    EXPECT_EQ(st.GetErrorCode(), 324);
    EXPECT_EQ(mc.GetNEmmeansTests(1, st), 1);
    EXPECT_EQ(mc.GetEmmeansStats(1, out, L, a).GetErrorCode(), 0);
    EXPECT_EQ(out.GetMetricValueList(), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(mc.GetNEmmeansTests(2, st), -1);
    EXPECT_EQ(st.GetErrorCode(), 325);
    EXPECT_EQ(mc.SetEmmeansTesting(nullptr, f.fit.stats->GetRedundancyIndicators(), 13.0, nullptr)
                  .GetErrorCode(),
              303);

    // A covariate held at a NaN or infinite value gave NaN or infinite means,
    // and one that is no covariate of the model was ignored, under an OK
    // status; the system-missing value still means the covariate's mean.
    // Options outside their codes were read as a polynomial contrast, no
    // adjustment or the original scale.
    std::vector<MCEmmeansSpec> held(8, lin);
    held[0].AddCovariate(kX, std::nan(""));
    held[1].AddCovariate(kX, HUGE_VAL);
    held[2].AddCovariate(kA, 1.0);
    held[3].AddCovariate(7, 1.0);
    held[4].AddCovariate(kX, MCCommon_850::MCMV::Missing());
    held[5].SetContrastType(static_cast<MCConst::MCContrastType>(7));
    held[6].SetPAdjust(static_cast<MCConst::MCPAdjustMethod>(-1));
    held[7].SetEmmScaleType(static_cast<MCConst::MCEmmScaleType>(2));
    auto h = f.Make(held);
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(h->GetEmmeansStats(s, out, L, a).GetErrorCode(), 303) << s;
    for (int s = 5; s < 8; ++s)
        EXPECT_EQ(h->GetEmmeansStats(s, out, L, a).GetErrorCode(), 343) << s;
    ASSERT_TRUE(h->GetEmmeansStats(4, out, L, a).IsOK());
    for (std::size_t r = 0; r < 3; ++r) ExpectRow(g, "A_", std::to_string(r), a[r], {"est"});
}
