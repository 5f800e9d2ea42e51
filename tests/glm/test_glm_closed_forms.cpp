// Fits whose answers follow from elementary algebra.
#include <cmath>
#include <map>

#include "glm_fixture.h"

using namespace glmtest;
using MCCommon_850::MCMV;

namespace {

// y at position 0, factor A (3 categories) at 1, weight at 2.
std::vector<Record> OneWay() {
    return {Record{3.0, 0, 1},  Record{5.0, 0, 1},  Record{4.0, 1, 1}, Record{10.0, 2, 1},
            Record{12.0, 2, 1}, Record{11.0, 2, 1}, Record{6.0, 1, 1}};
}

}  // namespace

TEST(GlmClosedForm, InterceptOnlyIsTheWeightedMean) {
    Model m;
    m.freqWeight = 1;
    m.regrWeight = 2;
    const std::vector<Record> recs = {Record{2.0, 1, 1}, Record{4.0, 3, 0.5}, Record{9.0, 2, 2}};
    Fit f = FitModel(m, recs);
    ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
    ASSERT_EQ(f.NParams(), 1);
    // weights fw * rw: 1, 1.5, 4
    const double mean = (2.0 * 1 + 4.0 * 1.5 + 9.0 * 4) / 6.5;
    EXPECT_NEAR(f.Estimate(0), mean, 1e-14);
    EXPECT_EQ(f.stats->GetTotalFreqWeight(), 6.0);
    EXPECT_EQ(f.stats->GetTotalRegrWeight(), 6.5);

    // All y equal: no total variation, so R-square stays missing.
    Fit g = FitModel(Model{}, {Record{7.0}, Record{7.0}});
    ASSERT_TRUE(g.status.IsOK());
    EXPECT_TRUE(MCMV::IsMissing(g.stats->GetModelFitStat(MCConst::MCModelFitStat(1))));
    EXPECT_NEAR(g.stats->GetModelFitStat(MCConst::MCModelFitStat(0)), 0.0, 1e-15);
    EXPECT_TRUE(MCMV::IsMissing(g.stats->GetModelFitStat(MCConst::MCModelFitStat(2))));
}

TEST(GlmClosedForm, OneWayCellMeansWithAndWithoutIntercept) {
    Model m;
    m.factors = {{1, 3}};
    m.terms = {Term{{1}, {}}};
    Fit f = FitModel(m, OneWay());
    ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
    ASSERT_EQ(f.NParams(), 4);
    const double m0 = 4.0, m1 = 5.0, m2 = 11.0;
    // The last category is aliased with the intercept.
    EXPECT_FALSE(f.Redundant(0));
    EXPECT_TRUE(f.Redundant(3));
    EXPECT_EQ(f.Estimate(3), 0.0);
    EXPECT_NEAR(f.Estimate(0), m2, 1e-13);
    EXPECT_NEAR(f.Estimate(1), m0 - m2, 1e-13);
    EXPECT_NEAR(f.Estimate(2), m1 - m2, 1e-13);
    // Residual SS = 2 + 2 + 2 = 6 on 7 - 3 df; var(b1) = s2 (1/2 + 1/3).
    const double s2 = 6.0 / 4.0;
    EXPECT_NEAR(f.Cov(1, 1), s2 * (0.5 + 1.0 / 3), 1e-13);
    EXPECT_NEAR(f.Cov(0, 0), s2 / 3, 1e-13);
    EXPECT_EQ(f.Cov(3, 3), 0.0);
    EXPECT_EQ(f.Cov(3, 1), 0.0);
    EXPECT_NEAR(f.stats->GetModelFitStat(MCConst::MCModelFitStat(0)), std::sqrt(6.0 / 7), 1e-14);
    double ybar = 51.0 / 7, sst = 0;
    for (const Record& r : OneWay()) sst += (r[0] - ybar) * (r[0] - ybar);
    EXPECT_NEAR(f.stats->GetModelFitStat(MCConst::MCModelFitStat(1)), 1 - 6.0 / sst, 1e-14);
    EXPECT_EQ(f.stats->GetNDegFreedom(), 7.0 - 4);  // total weight minus p, aliased included
    EXPECT_TRUE(f.stats->GetParamStats()[3].fbRedundant);

    m.intercept = false;
    Fit g = FitModel(m, OneWay());
    ASSERT_TRUE(g.status.IsOK());
    ASSERT_EQ(g.NParams(), 3);
    EXPECT_NEAR(g.Estimate(0), m0, 1e-13);
    EXPECT_NEAR(g.Estimate(1), m1, 1e-13);
    EXPECT_NEAR(g.Estimate(2), m2, 1e-13);
    for (int k = 0; k < 3; ++k) EXPECT_FALSE(g.Redundant(k));
}

TEST(GlmClosedForm, DuplicatedCovariateIsAliasedAndUnseenCellScoresMissing) {
    // y = 1 + 2 x exactly, x2 a copy of x; factor A at 3.
    std::vector<Record> recs;
    for (int i = 0; i < 6; ++i) {
        const double x = 0.5 * i - 1;
        recs.push_back(Record{1 + 2 * x + (i % 2 ? 0.25 : -0.25), x, x, double(i % 2)});
    }
    Model m;
    m.factors = {{3, 3}};
    m.covariates = {1, 2};
    m.terms = {Term{{3}, {}}, Term{{}, {1}}, Term{{}, {2}}};
    Fit f = FitModel(m, recs);
    ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
    // Intercept, A=0, A=1 (category 2 never seen: no parameter), x, x2.
    ASSERT_EQ(f.NParams(), 5);
    EXPECT_TRUE(f.Redundant(2));
    EXPECT_FALSE(f.Redundant(3));
    EXPECT_TRUE(f.Redundant(4));
    EXPECT_NEAR(f.Estimate(3), 2.0, 1e-12);

    double value = 123;
    std::vector<double> probs;
    EXPECT_TRUE(f.component->Score(Record{0.0, 1.0, 1.0, 1.0}, value, probs).IsOK());
    EXPECT_NEAR(value, 1 + 2 + 0.25, 1e-12);
    EXPECT_TRUE(f.component->Score(Record{0.0, 1.0, 1.0, 2.0}, value, probs).IsOK());
    EXPECT_TRUE(MCMV::IsMissing(value));
}

TEST(GlmClosedForm, RowByRowAndPerCellAccumulationAgree) {
    // A factor declared with half a million categories is too large to index
    // per cell, so its rows go into Z'Z one by one; the answer must not
    // depend on that.
    std::vector<Record> recs;
    for (int i = 0; i < 40; ++i) {
        const double x = std::sin(i * 0.7) * 3;
        recs.push_back(
            Record{1.5 * (i % 3) - 0.3 * x + x * x * 0.1 + std::cos(i * 1.3), double(i % 3), x});
    }
    Model m;
    m.factors = {{1, 3}};
    m.covariates = {2};
    m.terms = {Term{{1}, {}}, Term{{1}, {2}}, Term{{}, {2, 2}}};
    Fit small = FitModel(m, recs);
    m.factors = {{1, 500000}};
    Fit large = FitModel(m, recs);
    ASSERT_TRUE(small.status.IsOK() && large.status.IsOK());
    ASSERT_EQ(small.NParams(), large.NParams());
    for (int k = 0; k < small.NParams(); ++k) {
        EXPECT_EQ(small.Redundant(k), large.Redundant(k));
        EXPECT_NEAR(small.Estimate(k), large.Estimate(k),
                    1e-12 * (1 + std::fabs(small.Estimate(k))));
        EXPECT_NEAR(small.Cov(k, k), large.Cov(k, k), 1e-12 * small.Cov(k, k));
    }
    EXPECT_NEAR(small.stats->GetModelFitStat(MCConst::MCModelFitStat(1)),
                large.stats->GetModelFitStat(MCConst::MCModelFitStat(1)), 1e-14);
    double a = 0, b = 0;
    std::vector<double> probs;
    small.component->Score(Record{0.0, 2, 1.25}, a, probs);
    large.component->Score(Record{0.0, 2, 1.25}, b, probs);
    EXPECT_NEAR(a, b, 1e-12);
}

// A factor of many levels is swept before the intercept that would fill
// its block; the fit must still be that of parameter order: the last
// level aliased, the intercept its mean, the others differences of means,
// var(b_i) = s2 (1/n_i + 1/n_K) and cov(b_i, b_j) = s2 / n_K.
TEST(GlmClosedForm, OneWayWithManyLevels) {
    const int levels = 300;
    std::vector<Record> recs;
    std::vector<double> sum(levels), count(levels);
    double rss = 0.0;
    for (int g = 0; g < levels; ++g) {
        const int n = 2 + g % 4;
        for (int r = 0; r < n; ++r) {
            // Deviations -1, +1 (and 0 for odd n) around the level's mean.
            const double dev = r < 2 ? (r == 0 ? -1.0 : 1.0) : 0.0;
            const double mean = 0.25 * ((g * 37) % 41);
            recs.push_back(Record{mean + dev, static_cast<double>(g)});
            sum[g] += mean + dev;
            count[g] += 1;
            rss += dev * dev;
        }
    }
    Model m;
    m.factors = {{1, levels}};
    m.terms = {Term{{1}, {}}};
    Fit f = FitModel(m, recs);
    ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
    ASSERT_EQ(f.NParams(), levels + 1);
    const int last = levels - 1;
    const double lastMean = sum[last] / count[last];
    const double s2 = rss / (static_cast<double>(recs.size()) - levels);
    EXPECT_FALSE(f.Redundant(0));
    EXPECT_NEAR(f.Estimate(0), lastMean, 1e-12);
    EXPECT_NEAR(f.Cov(0, 0), s2 / count[last], 1e-12);
    for (int g = 0; g < last; ++g) {
        ASSERT_FALSE(f.Redundant(g + 1)) << g;
        EXPECT_NEAR(f.Estimate(g + 1), sum[g] / count[g] - lastMean, 1e-12) << g;
        EXPECT_NEAR(f.Cov(g + 1, g + 1), s2 * (1 / count[g] + 1 / count[last]), 1e-12) << g;
        EXPECT_NEAR(f.Cov(g + 1, (g + 1) % last + 1), s2 / count[last], 1e-12) << g;
    }
    EXPECT_TRUE(f.Redundant(levels));
    EXPECT_EQ(f.Estimate(levels), 0.0);
}
