// One general linear model fitted over records split across processes
// (played by threads, tests/thread_reducer.h): unevenly, with a process that
// holds no record and factor cells that only one process sees. Every process
// must end with the fit of all the records in one process: the same cells,
// aliasing and, to 1e-12, estimates, covariance and fit; an error or a
// cancel on one process stops all of them with the same status.
#include <algorithm>
#include <cmath>

#include "companion/MCStatusCodes.h"
#include "companion/RecordIterator.h"
#include "glm_fixture.h"
#include "thread_reducer.h"

using namespace glmtest;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// Columns: y, A (3), B (4), C (2, nested in A), x, frequency weight,
// regression weight.
std::vector<Record> Data() {
    std::vector<Record> rows;
    for (int i = 0; i < 500; ++i) {
        const double a = i % 3, b = (i / 3) % 4, c = (i / 7) % 2;
        const double x = std::sin(0.29 * i) * 3 + 0.01 * i;
        const double e = std::fmod(i * 0.6180339887498949, 1.0) - 0.5;
        const double y = 2 + 0.7 * a - 0.4 * b + 0.3 * a * b + 0.5 * c * (a == 1) + 1.1 * x + e;
        // Cell A = 2, B = 3 is left empty: its interaction parameter is
        // aliased.
        if (a == 2 && b == 3) continue;
        rows.push_back(Record{y, a, b, c, x, 1.0 + i % 3, 0.5 + (i % 5) * 0.25});
    }
    return rows;
}

Model SplitModel() {
    Model m;
    m.factors = {{1, 3}, {2, 4}, {3, 2}};
    m.covariates = {4};
    // A + B + A*B + C(A) + x + x*A + x*x
    m.terms = {Term{{1}, {}}, Term{{2}, {}},  Term{{1, 2}, {}}, Term{{3, 1}, {}, true},
               Term{{}, {4}}, Term{{1}, {4}}, Term{{}, {4, 4}}};
    m.freqWeight = 5;
    m.regrWeight = 6;
    return m;
}

// Part 0 empty; part 1 a few records of B = 0 only; part 2 the rest, so
// that B = 1..3 and most cells live in part 2 alone.
std::vector<std::vector<Record>> Split(const std::vector<Record>& data) {
    std::vector<std::vector<Record>> parts(3);
    for (std::size_t i = 0; i < data.size(); ++i)
        parts[data[i][2] == 0 && i % 2 == 0 ? 1 : 2].push_back(data[i]);
    return parts;
}

Fit FitPart(MCRegSettings& s, const std::vector<Record>& part) {
    return FitModel(s, part);
}

std::vector<Fit> FitSplit(const Model& m, const std::vector<std::vector<Record>>& parts,
                          std::vector<MCRegSettings>& settings) {
    settings.assign(parts.size(), m.Settings());
    return splittest::FitParts<Fit>(settings, parts, FitPart);
}

void FitsTheWholeData(const std::vector<Record>& data);

}  // namespace

TEST(GlmSplit, ProcessesTogetherFitTheWholeData) {
    // Far from zero the dependent's residual sums cannot come from the
    // cells' moments: every process then passes its records, the one
    // without records too.
    for (const double shift : {0.0, 1e9}) {
        SCOPED_TRACE(shift);
        std::vector<Record> data = Data();
        for (Record& r : data) r[0] += shift;
        FitsTheWholeData(data);
    }
}

namespace {

void FitsTheWholeData(const std::vector<Record>& data) {
    const auto parts = Split(data);
    ASSERT_TRUE(parts[0].empty());
    const Model m = SplitModel();
    const Fit whole = FitModel(m, data);
    ASSERT_TRUE(whole.status.IsOK()) << whole.status.GetMessage();
    ASSERT_LT(whole.stats->GetRedundancyIndicators().Count(), whole.NParams());

    std::vector<MCRegSettings> settings;
    const std::vector<Fit> fits = FitSplit(m, parts, settings);
    for (const Fit& f : fits) {
        ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
        ASSERT_EQ(f.NParams(), whole.NParams());
        EXPECT_EQ(f.stats->GetRedundancyIndicators(), whole.stats->GetRedundancyIndicators());
        EXPECT_EQ(f.stats->GetTotalFreqWeight(), whole.stats->GetTotalFreqWeight());
        EXPECT_EQ(f.Glm().GetErrorDF(), whole.Glm().GetErrorDF());
        splittest::ExpectSameEstimates(f, whole, 1e-12);
        for (auto stat : {MCConst::FIT_RMSE, MCConst::FIT_RSQUARE})
            EXPECT_LT(splittest::RelDiff(f.stats->GetModelFitStat(stat),
                                         whole.stats->GetModelFitStat(stat)),
                      1e-12);
        EXPECT_LT(
            splittest::RelDiff(f.Glm().GetErrorMeanSquare(), whole.Glm().GetErrorMeanSquare()),
            1e-12);
        const std::vector<double>& means = f.stats->GetMeanValues();
        ASSERT_EQ(means.size(), whole.stats->GetMeanValues().size());
        for (std::size_t k = 0; k < means.size(); ++k)
            EXPECT_LT(splittest::RelDiff(means[k], whole.stats->GetMeanValues()[k]), 1e-13);
    }
    // Every process holds the same model, bit for bit.
    EXPECT_EQ(fits[0].stats->GetParamEstimates(), fits[1].stats->GetParamEstimates());
    EXPECT_EQ(fits[0].stats->GetParamEstimates(), fits[2].stats->GetParamEstimates());
}

}  // namespace

namespace {

class CancelNow : public MCCommon_850::MCQueryCancel {
public:
    bool IsCancel() override { return true; }
};

}  // namespace

TEST(GlmSplit, AnErrorOrCancelOnOneProcessStopsThemAll) {
    const std::vector<Record> data = Data();
    const Model m = SplitModel();
    {
        auto parts = Split(data);
        // A category the settings do not allow, on part 1 only.
        parts[1][3][1] = 7;
        std::vector<MCRegSettings> settings;
        const std::vector<Fit> fits = FitSplit(m, parts, settings);
        EXPECT_TRUE(fits[1].status.IsError());
        for (const Fit& f : fits) EXPECT_EQ(f.status, fits[1].status);
    }
    {
        // No process holds a record.
        std::vector<MCRegSettings> settings;
        const std::vector<Fit> fits = FitSplit(m, std::vector<std::vector<Record>>(2), settings);
        for (const Fit& f : fits) EXPECT_EQ(f.status.GetErrorCode(), StatusCode::kNoValidRecord);
    }
    {
        // Process 2 is cancelled; the others finish their passes and stop
        // with it rather than wait for it.
        const auto parts = Split(data);
        std::vector<MCRegSettings> settings(parts.size(), m.Settings());
        CancelNow cancel;
        settings[2].SetCancelPointer(&cancel);
        const std::vector<Fit> fits = splittest::FitParts<Fit>(settings, parts, FitPart);
        for (const Fit& f : fits) EXPECT_EQ(f.status.GetErrorCode(), StatusCode::kCancelled);
    }
}

// The cluster-robust covariance, whichever way the clusters' sums are
// formed: records in runs of their clusters (each cluster's sums dropped as
// its run closes), a cluster met again after others (sums kept per
// cluster), and the records split over processes (sums merged by key). The
// estimates are those of the plain fit; the covariances agree to 1e-12.
TEST(GlmSplit, ClusterRobustCovarianceIsTheSameHoweverTheClustersAreSummed) {
    std::vector<Record> data;
    for (const Record& r : Data()) {
        // Column 7: clusters of nine consecutive records.
        Record withCluster(8);
        for (int j = 0; j < 7; ++j) withCluster[j] = r[j];
        withCluster[7] = static_cast<double>(data.size() / 9);
        data.push_back(withCluster);
    }
    const Model m = SplitModel();
    const auto settings = [&m] {
        MCRegSettings s = m.Settings();
        s.SetCovbType(MCConst::COVB_ROBUST);
        s.SetRobustType(MCConst::ROBUST_CLUSTER);
        EXPECT_EQ(s.AddClusterVar(7), 1);
        return s;
    };
    MCRegSettings inRuns = settings();
    const Fit runs = FitModel(inRuns, data);
    ASSERT_TRUE(runs.status.IsOK()) << runs.status.GetMessage();
    const long clusters = static_cast<long>((data.size() + 8) / 9);
    EXPECT_EQ(runs.Glm().GetNClusters(), clusters);

    // The first cluster's first record moved to the end.
    std::vector<Record> again = data;
    std::rotate(again.begin(), again.begin() + 1, again.end());
    MCRegSettings metAgain = settings();
    const Fit stored = FitModel(metAgain, again);
    ASSERT_TRUE(stored.status.IsOK()) << stored.status.GetMessage();
    EXPECT_EQ(stored.Glm().GetNClusters(), clusters);
    splittest::ExpectSameEstimates(stored, runs, 1e-12);

    const auto parts = Split(data);
    std::vector<MCRegSettings> split(parts.size(), settings());
    const std::vector<Fit> fits = splittest::FitParts<Fit>(split, parts, FitPart);
    for (const Fit& f : fits) {
        ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();
        EXPECT_EQ(f.Glm().GetNClusters(), clusters);
        splittest::ExpectSameEstimates(f, runs, 1e-12);
    }

    // The robust covariance is not the model-based one.
    const Fit plain = FitModel(m, data);
    ASSERT_TRUE(plain.status.IsOK());
    double apart = 0.0;
    for (int k = 0; k < plain.NParams(); ++k)
        if (plain.Cov(k, k) > 0.0)
            apart = std::max(apart, splittest::RelDiff(runs.Cov(k, k), plain.Cov(k, k)));
    EXPECT_GT(apart, 1e-2);
}
