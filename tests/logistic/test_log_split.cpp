// One multinomial model fitted over records split across processes (played
// by threads, tests/thread_reducer.h): unevenly, with a process that holds
// no record and a response category and a factor cell that only one process
// sees. Every process must end with the fit of all the records in one
// process: the same categories, cells, aliasing, iterations and, to 1e-12,
// estimates, covariance and fit; an error on one process stops all of them
// with the same status.
#include <cmath>
#include <mutex>

#include "logistic_fixture.h"
#include "thread_reducer.h"

using namespace logtest;

namespace {

// Columns: y (4 codes), A (3), x1, x2, weight.
std::vector<Record> Data() {
    std::vector<Record> rows;
    for (int i = 0; i < 600; ++i) {
        const double a = i % 3, x1 = std::sin(0.37 * i), x2 = std::cos(0.11 * i) * 2;
        const double e0 = 0.2 + 0.9 * x1 - 0.5 * (a == 1), e1 = -0.1 + 0.6 * x2 + 0.4 * (a == 2);
        const double e2 = 0.3 * x1 * x2 - 0.2;
        const double u = std::fmod(i * 0.6180339887498949, 1.0) *
                         (1 + std::exp(e0) + std::exp(e1) + std::exp(e2));
        double y = 3;
        if (u < std::exp(e0))
            y = 0;
        else if (u < std::exp(e0) + std::exp(e1))
            y = 1;
        else if (u < std::exp(e0) + std::exp(e1) + std::exp(e2))
            y = 2;
        rows.push_back(Record{y, a, x1, x2, 1.0 + i % 4});
    }
    return rows;
}

Model SplitModel(bool patterns) {
    Model m;
    m.nCategories = 4;
    m.factors = {{1, 3}};
    m.covariates = {2, 3};
    m.terms = {{{1}, {}}, {{}, {2}}, {{}, {3}}, {{1}, {2}}};
    m.freqWeight = 4;
    m.patterns = patterns;
    m.paramCriterion = 1e-10;
    return m;
}

// Part 0 empty; part 1 the records of A = 0 and 1 whose y is not 3; part 2
// the rest, so that y = 3 and the cells of A = 2 live in part 2 alone.
std::vector<std::vector<Record>> Split(const std::vector<Record>& data) {
    std::vector<std::vector<Record>> parts(3);
    for (const Record& r : data) parts[r[3] != 3 && r[1] != 2 ? 1 : 2].push_back(r);
    return parts;
}

Fit FitLog(MCLogRegSettings& s, const std::vector<Record>& part) {
    return FitModel(s, part);
}

}  // namespace

TEST(LogisticSplit, ProcessesTogetherFitTheWholeData) {
    const std::vector<Record> data = Data();
    const auto parts = Split(data);
    ASSERT_TRUE(parts[0].empty());
    for (bool patterns : {false, true}) {
        SCOPED_TRACE(patterns ? "patterns" : "records");
        const Model m = SplitModel(patterns);
        Fit whole = FitModel(m, data);
        ASSERT_TRUE(whole.status.IsOK()) << whole.status.GetMessage();

        std::vector<MCLogRegSettings> settings(parts.size(), m.Settings());
        const std::vector<Fit> fits = splittest::FitParts<Fit>(settings, parts, FitLog);
        for (const Fit& f : fits) {
            ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
            EXPECT_EQ(f.Categories(), whole.Categories());
            EXPECT_EQ(f.stats->GetRedundancyIndicators(), whole.stats->GetRedundancyIndicators());
            EXPECT_EQ(f.Log().GetIterations(), whole.Log().GetIterations());
            EXPECT_EQ(f.stats->GetTotalFreqWeight(), whole.stats->GetTotalFreqWeight());
            ASSERT_EQ(f.NParams(), whole.NParams());
            splittest::ExpectSameEstimates(f, whole, 1e-12);
            EXPECT_LT(splittest::RelDiff(f.Log().GetFinalLogLikelihood(),
                                         whole.Log().GetFinalLogLikelihood()),
                      1e-13);
            EXPECT_LT(splittest::RelDiff(f.stats->GetModelFitStat(MCConst::FIT_NAGELKERKE),
                                         whole.stats->GetModelFitStat(MCConst::FIT_NAGELKERKE)),
                      1e-12);
        }
        // Every process holds the same model, bit for bit.
        EXPECT_EQ(fits[0].stats->GetParamEstimates(), fits[2].stats->GetParamEstimates());
        EXPECT_EQ(fits[1].stats->GetParamEstimates(), fits[2].stats->GetParamEstimates());
        EXPECT_EQ(fits[0].Log().GetCategoryWeights(), whole.Log().GetCategoryWeights());
    }
}

TEST(LogisticSplit, AnErrorOnOneProcessStopsThemAll) {
    const std::vector<Record> data = Data();
    auto parts = Split(data);
    // A response code the settings do not allow, on part 1 only.
    parts[1][5][0] = 7;
    const Model m = SplitModel(false);
    std::vector<MCLogRegSettings> settings(parts.size(), m.Settings());
    const std::vector<Fit> fits = splittest::FitParts<Fit>(settings, parts, FitLog);
    for (const Fit& f : fits) {
        EXPECT_EQ(f.status.GetErrorCode(), 316);
        EXPECT_EQ(f.status, fits[1].status);
    }
}
