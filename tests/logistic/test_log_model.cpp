// The multinomial logistic model through its component: both data handlers
// against each other, how many times the host's records are read, the
// choice of reference category, redundancy, scoring with ties and unseen
// cells, separation, the iteration limit, the parameter limit and the
// component's life cycle.
#include <algorithm>
#include <cmath>
#include <random>

#include "companion/MCMV.h"
#include "logistic_fixture.h"
#include "thread_reducer.h"

using namespace logtest;
using MCCommon_850::MCMV;
using MCConst::FIT_COX_SNELL;

namespace {

// Counts the records the library reads.
class CountingIter : public MCCommon_850::MultiPassRecordIter {
public:
    explicit CountingIter(std::vector<Record> records) : fInner(std::move(records)) {}
    bool HasMore() const override { return fInner.HasMore(); }
    Record* Next() override {
        Record* r = fInner.Next();
        if (r != nullptr) ++reads;
        return r;
    }
    int GetFailReason() const override { return fInner.GetFailReason(); }
    int NewPass() override { return fInner.NewPass(); }
    long reads = 0;

private:
    MCMemoryRecordIter fInner;
};

// Columns: y (3 codes), A (3), B (4), x1, x2, frequency weight, regression
// weight.
std::vector<Record> MixedData(int n) {
    std::mt19937 gen(7);
    std::normal_distribution<double> norm;
    std::uniform_real_distribution<double> unif;
    std::vector<Record> rows;
    for (int i = 0; i < n; ++i) {
        const double a = i % 3, b = (i / 3) % 4, x1 = norm(gen), x2 = unif(gen);
        const double e0 = 0.3 + 0.7 * x1 - 0.4 * (a == 1) + 0.2 * b;
        const double e1 = -0.5 + 1.2 * x2 + 0.5 * (a == 2) - 0.3 * x1 * x2;
        const double d = 1.0 + std::exp(e0) + std::exp(e1), u = unif(gen);
        const double y = u < std::exp(e0) / d ? 0 : u < (std::exp(e0) + std::exp(e1)) / d ? 1 : 2;
        rows.push_back(Record{y, a, b, x1, x2, 1.0 + i % 3, 0.5 + unif(gen)});
    }
    return rows;
}

Model MixedModel() {
    Model m;
    m.nCategories = 3;
    m.factors = {{1, 3}, {2, 4}};
    m.covariates = {3, 4};
    m.terms = {{{1}, {}}, {{2}, {}}, {{1, 2}, {}}, {{}, {3}}, {{}, {3, 4}}, {{2}, {4}}};
    m.freqWeight = 5;
    return m;
}

}  // namespace

TEST(LogisticModel, PatternsAndRecordsAgreeAndNeitherReadsTheRecordsEveryPass) {
    const std::vector<Record> data = MixedData(3000);
    for (bool regression : {false, true}) {
        SCOPED_TRACE(regression ? "regression weights" : "frequency weights");
        Model m = MixedModel();
        MCLogRegSettings s = m.Settings();
        if (regression) {
            EXPECT_TRUE(s.SetRegrWeightVar(6));
        }
        Fit byRecord, byPattern;
        long recordReads = 0, patternReads = 0;
        for (bool patterns : {false, true}) {
            s.SetUsePatternTabulator(patterns);
            CountingIter iter(data);
            Fit& f = patterns ? byPattern : byRecord;
            f = FitModel(s, iter);
            ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
            (patterns ? patternReads : recordReads) = iter.reads;
        }
        EXPECT_EQ(patternReads, 2 * static_cast<long>(data.size()));
        // Without patterns: the factor pass, X'X and the initial pass; the
        // iterations replay the rows that the initial pass kept.
        EXPECT_GT(byRecord.Log().GetIterations(), 1);
        EXPECT_EQ(recordReads, 3 * static_cast<long>(data.size()));

        EXPECT_EQ(byRecord.stats->GetRedundancyIndicators(),
                  byPattern.stats->GetRedundancyIndicators());
        // Estimates relative to their size, covariances to the two standard errors.
        splittest::ExpectSameEstimates(byPattern, byRecord, 1e-12);
        EXPECT_NEAR(byPattern.stats->GetModelFitStat(FIT_COX_SNELL),
                    byRecord.stats->GetModelFitStat(FIT_COX_SNELL), 1e-13);
    }
}

TEST(LogisticModel, ReferenceCategoryChoices) {
    // Codes 0 and 2 have cases, 1 has none: a two-category model.
    std::vector<Record> data;
    for (int i = 0; i < 40; ++i) data.push_back(Record{i % 3 == 0 ? 0.0 : 2.0, (i % 5) * 0.1});
    Model m;
    m.nCategories = 3;
    m.covariates = {1};
    m.terms = {{{}, {1}}};
    {
        Fit f = FitModel(m, data);
        ASSERT_TRUE(f.status.IsOK());
        EXPECT_EQ(f.Categories(), (std::vector<int>{0, 2}));
        EXPECT_EQ(f.NParams(), 2);
    }
    {
        // The empty code asked for: warning 319, and the last code with cases.
        m.reference = 1;
        Fit f = FitModel(m, data);
        EXPECT_TRUE(f.status.IsWarning());
        EXPECT_EQ(f.status.GetErrorCode(), 319);
        ASSERT_NE(f.stats, nullptr);
        EXPECT_EQ(f.Categories(), (std::vector<int>{0, 2}));
        ASSERT_EQ(f.component->GetWarnings().size(), 1u);
        EXPECT_EQ(f.component->GetWarnings()[0].GetErrorCode(), 319);
    }
    {
        m.reference = -2;
        Fit f = FitModel(m, data);
        ASSERT_TRUE(f.status.IsOK());
        EXPECT_EQ(f.Categories(), (std::vector<int>{2, 0}));
        // Parameters of the one logit target the first non-reference code.
        EXPECT_EQ(f.stats->GetParameters()[0].GetTargetCategory(), 2);
    }
    {
        // One category with cases: 318.
        std::vector<Record> one(10, Record{1.0, 0.5});
        m.reference = -1;
        Fit f = FitModel(m, one);
        EXPECT_EQ(f.status.GetErrorCode(), 318);
        EXPECT_TRUE(f.status.IsError());
    }
}

TEST(LogisticModel, RedundancyAndScoring) {
    // x2 repeats x1: its parameter is redundant in both logits.
    std::vector<Record> data = MixedData(600);
    for (Record& r : data) r[4] = r[3];
    Model m;
    m.nCategories = 3;
    m.factors = {{1, 3}};
    m.covariates = {3, 4};
    m.terms = {{{1}, {}}, {{}, {3}}, {{}, {4}}};
    Fit f = FitModel(m, data);
    ASSERT_TRUE(f.status.IsOK());
    // Basic: intercept, A0, A1, A2 (redundant), x1, x2 (redundant).
    ASSERT_EQ(f.NParams(), 12);
    for (int logit = 0; logit < 2; ++logit) {
        for (int k : {3, 5}) {
            const int i = logit * 6 + k;
            EXPECT_FALSE(f.stats->GetRedundancyIndicators().IsIn(i));
            EXPECT_EQ(f.Estimate(i), 0.0);
            for (int j = 0; j < 12; ++j) EXPECT_EQ(f.Cov(i, j), 0.0);
        }
        EXPECT_TRUE(f.stats->GetRedundancyIndicators().IsIn(logit * 6 + 4));
    }
    EXPECT_EQ(f.stats->GetNDegFreedom(), f.stats->GetTotalRegrWeight() - 12);

    // A score is the softmax of the logits x b_k.
    const Record r{0.0, 1.0, 0.0, 0.4, 0.4, 1.0, 1.0};
    double value = 0;
    std::vector<double> p;
    ASSERT_TRUE(f.component->Score(r, value, p).IsOK());
    ASSERT_EQ(p.size(), 3u);
    const double e0 = std::exp(f.Estimate(0) + f.Estimate(2) + 0.4 * f.Estimate(4));
    const double e1 = std::exp(f.Estimate(6) + f.Estimate(8) + 0.4 * f.Estimate(10));
    EXPECT_NEAR(p[0], e0 / (1 + e0 + e1), 1e-15);
    EXPECT_NEAR(p[1], e1 / (1 + e0 + e1), 1e-15);
    EXPECT_NEAR(p[2], 1 / (1 + e0 + e1), 1e-15);
    const int best = static_cast<int>(std::max_element(p.begin(), p.end()) - p.begin());
    EXPECT_EQ(value, f.Categories()[static_cast<std::size_t>(best)]);

    // A factor code that the data never had: no category, missing probabilities.
    MCLogRegSettings wide = m.Settings();
    EXPECT_TRUE(wide.SetFactorNCategs({4}));
    Fit g = FitModel(wide, data);
    ASSERT_TRUE(g.status.IsOK());
    ASSERT_TRUE(g.component->Score(Record{0.0, 3.0, 0.0, 0.4, 0.4, 1.0, 1.0}, value, p).IsOK());
    EXPECT_EQ(value, -1.0);
    for (double q : p) EXPECT_TRUE(MCMV::IsMissing(q));
}

TEST(LogisticModel, TiedLogitsGoToTheLargerCountThenTheSmallerCode) {
    // Intercept-only: logit k is ln(n_k / n_ref). Codes 0 and 1 both weigh 6
    // against 2 for the reference, so their logits tie.
    std::vector<Record> data = {{0, 3}, {0, 3}, {1, 2}, {1, 2}, {1, 2}, {2, 2}};
    Model m;
    m.nCategories = 3;
    m.freqWeight = 1;
    Fit f = FitModel(m, data);
    ASSERT_TRUE(f.status.IsOK());
    EXPECT_EQ(f.Convergence(), MCConst::CONVERGENCE_NOTHING_TO_ITERATE);
    EXPECT_DOUBLE_EQ(f.Estimate(0), std::log(3.0));
    EXPECT_DOUBLE_EQ(f.Estimate(1), std::log(3.0));
    // Intercept only: nothing was estimated, so every R-square is 0, and
    // the final log-likelihood is the start's, sum_k w_k ln(w_k / W) with
    // weights 6, 6 and 2 of 14.
    EXPECT_EQ(f.stats->GetModelFitStat(FIT_COX_SNELL), 0.0);
    const double l0 = 12.0 * std::log(6.0 / 14.0) + 2.0 * std::log(2.0 / 14.0);
    EXPECT_NEAR(f.Log().GetInitialLogLikelihood(), l0, 1e-13);
    EXPECT_EQ(f.Log().GetFinalLogLikelihood(), f.Log().GetInitialLogLikelihood());
    double value = 0;
    std::vector<double> p;
    ASSERT_TRUE(f.component->Score(Record{0, 1}, value, p).IsOK());
    EXPECT_EQ(value, 1.0);  // equal weights; code 1 has more records
    // Equal weights and records: the smaller code.
    data = {{0, 3}, {1, 3}, {2, 1}};
    f = FitModel(m, data);
    ASSERT_TRUE(f.component->Score(Record{0, 1}, value, p).IsOK());
    EXPECT_EQ(value, 0.0);
}

TEST(LogisticModel, SeparationAndTheIterationLimitEndWithCodesNotErrors) {
    Model m;
    m.nCategories = 2;
    m.covariates = {1};
    m.terms = {{{}, {1}}};
    std::vector<Record> complete, quasi;
    for (int i = -10; i <= 10; ++i) {
        if (i == 0) continue;
        complete.push_back(Record{i < 0 ? 0.0 : 1.0, static_cast<double>(i)});
        quasi.push_back(Record{i < 0 ? 0.0 : 1.0, static_cast<double>(i < 0 ? i : i - 1)});
    }
    // x = 0 holds both responses: only quasi-complete separation.
    quasi.push_back(Record{0.0, 0.0});
    {
        Fit f = FitModel(m, complete);
        ASSERT_TRUE(f.status.IsOK());
        EXPECT_EQ(f.Convergence(), MCConst::CONVERGENCE_COMPLETE_SEPARATION);
        for (int k = 0; k < f.NParams(); ++k) EXPECT_TRUE(std::isfinite(f.Estimate(k)));
    }
    {
        Fit f = FitModel(m, quasi);
        ASSERT_TRUE(f.status.IsOK());
        EXPECT_EQ(f.Convergence(), MCConst::CONVERGENCE_QUASI_SEPARATION);
    }
    {
        m.maxIterations = 3;
        Fit f = FitModel(m, complete);
        ASSERT_TRUE(f.status.IsOK());
        EXPECT_EQ(f.Convergence(), MCConst::CONVERGENCE_MAX_ITERATIONS);
    }
}

TEST(LogisticModel, TooManyParametersGive305BeforeAnyMatrix) {
    // 23171 cells and an intercept, two logits: 46344 > 46340 rows.
    std::vector<Record> data;
    for (int i = 0; i < 23171; ++i) data.push_back(Record{static_cast<double>(i % 3), double(i)});
    Model m;
    m.nCategories = 3;
    m.factors = {{1, 23171}};
    m.terms = {{{1}, {}}};
    Fit f = FitModel(m, data);
    EXPECT_EQ(f.status.GetErrorCode(), 305);
    long needed = 0, limit = 0;
    EXPECT_TRUE(f.status.GetDiscreteDatum(0, needed));
    EXPECT_TRUE(f.status.GetDiscreteDatum(1, limit));
    EXPECT_EQ(needed, 46344);
    EXPECT_EQ(limit, 46340);
}

TEST(LogisticComponent, LifeCycle) {
    const std::vector<Record> data = MixedData(300);
    Model m = MixedModel();
    MCLogRegSettings s = m.Settings();
    MCMath_850::MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->GetModelType(), 1);

    IMCRegOutputStats* stats = reinterpret_cast<IMCRegOutputStats*>(&s);
    EXPECT_EQ(c->GetOutputStats(stats).GetErrorCode(), 310);
    EXPECT_EQ(stats, nullptr);
    double value = 42;
    std::vector<double> p{7.0};
    EXPECT_EQ(c->Score(data[0], value, p).GetErrorCode(), 311);
    EXPECT_TRUE(MCCommon_850::MCMV::IsMissing(value));
    EXPECT_EQ(p, std::vector<double>{7.0});

    // Parameters first: the build does not repeat the factor pass.
    CountingIter iter(data);
    std::vector<MCMath_850::MCRegrParameter> params;
    ASSERT_TRUE(c->CreateParameters(iter, params).IsOK());
    EXPECT_EQ(iter.reads, static_cast<long>(data.size()));
    EXPECT_FALSE(params.empty());
    ASSERT_TRUE(c->BuildModel(iter).IsOK());
    EXPECT_TRUE(c->IsModelBuilt());

    // A second build is refused; the model stays usable.
    EXPECT_EQ(c->BuildModel(iter).GetErrorCode(), 310);
    EXPECT_TRUE(c->IsModelBuilt());
    EXPECT_TRUE(c->GetStatus().IsOK());
    IMCRegOutputStats* first = nullptr;
    IMCRegOutputStats* second = nullptr;
    ASSERT_TRUE(c->GetOutputStats(first).IsOK());
    ASSERT_TRUE(c->GetOutputStats(second).IsOK());
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->GetModelType(), 1);
    EXPECT_EQ(first->GetParameters().size(), params.size());
    EXPECT_TRUE(MCMV::IsMissing(first->GetModelFitStat(MCConst::FIT_RMSE)));
    EXPECT_TRUE(MCMV::IsMissing(first->GetModelFitStat(MCConst::FIT_RSQUARE)));

    // Without a dependent the factory refuses.
    MCLogRegSettings bad;
    bad.SetInterceptUse(true);
    EXPECT_EQ(factory.CreateRegAlgorithm(bad), nullptr);
    EXPECT_EQ(factory.GetStatus().GetErrorCode(), 301);
}
