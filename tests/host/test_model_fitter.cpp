// The fit driver of both models: a fit repeated on one driver, scoring
// against the predictions it writes and against closed forms, and the
// classification table of a fit split over processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/fit/ModelFitter.h"
#include "host/report/GlmReport.h"
#include "host/report/LogisticReport.h"
#include "logistic/MCLogOutputStats.h"
#include "support/golden.h"
#include "support/host_fixtures.h"
#include "thread_reducer.h"

using namespace mchost;
using mchost_test::CsvModel;

namespace {

// Three categories of y over a factor and a covariate, not separable.
std::string LogisticData(int from, int to) {
    std::string csv = "y,A,x\n";
    for (int i = from; i < to; ++i) {
        const int a = i % 4;
        const double x = 0.1 * ((i * 7) % 13);
        const char* y = (i * 5 + a) % 7 < 3 ? "lo" : ((i * 3) % 5 < 2 ? "mid" : "hi");
        csv += std::string(y) + ",a" + std::to_string(a) + "," + std::to_string(x) + "\n";
    }
    return csv;
}

FitOptions Logistic() {
    FitOptions o;
    o.fbLogistic = true;
    return o;
}

ModelOptions CategoricalDependent() {
    ModelOptions o;
    o.fbCategoricalDependent = true;
    return o;
}

// The predictions a fitter writes for its records, as a CSV.
golden::Csv Predictions(const ModelFitter& fitter, MCCommon_850::MultiPassRecordIter& records) {
    std::ostringstream out;
    fitter.WritePredictions(records, out);
    return golden::ParseCsv(out.str());
}

// Processes played by threads: the reducer and the host's sums and text
// exchanges meet the way MPI ranks would.
class ThreadProcesses : public Processes {
public:
    ThreadProcesses(splittest::Meeting& meeting, MCCommon_850::PassReducer& reducer, int rank,
                    int size)
        : fMeeting(meeting), fReducer(reducer), fRank(rank), fSize(size) {}
    int Rank() const override { return fRank; }
    int Size() const override { return fSize; }
    MCCommon_850::PassReducer* Reducer() override { return &fReducer; }
    void Sum(std::vector<double>& values) override {
        const auto all = fMeeting.Exchange(fRank, values);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = 0.0;
            for (const auto& v : all) values[i] += v[i];
        }
    }
    std::vector<std::vector<std::string>> GatherTexts(
        const std::vector<std::string>& mine) override {
        // Each text as its length and its bytes.
        std::vector<int> packed;
        for (const std::string& s : mine) {
            packed.push_back(static_cast<int>(s.size()));
            for (char c : s) packed.push_back(static_cast<unsigned char>(c));
        }
        std::vector<std::vector<std::string>> all;
        for (const std::vector<int>& p : fMeeting.Exchange(fRank, packed)) {
            std::vector<std::string> texts;
            for (std::size_t at = 0; at < p.size();) {
                const auto n = static_cast<std::size_t>(p[at++]);
                std::string s;
                for (std::size_t c = 0; c < n; ++c) s += static_cast<char>(p[at++]);
                texts.push_back(s);
            }
            all.push_back(texts);
        }
        return all;
    }

protected:
    Failure FirstFailure(const Failure& mine) override {
        const auto all = fMeeting.Exchange(fRank, std::vector<int>{mine.kind});
        for (std::size_t r = 0; r < all.size(); ++r)
            if (all[r].front() != 0)
                return static_cast<int>(r) == fRank
                           ? mine
                           : Failure{all[r].front(), "failed", 0, 0, static_cast<int>(r)};
        return mine;
    }

private:
    splittest::Meeting& fMeeting;
    MCCommon_850::PassReducer& fReducer;
    int fRank, fSize;
};

}  // namespace

TEST(ModelFitter, ASecondFitOnOneDriverRepeatsTheFirst) {
    const std::string csv = LogisticData(0, 200);
    {
        // Any y is a number for the general linear model: the codes of x.
        const CsvModel m(csv, "x ~ A");
        ModelFitter fitter(m.spec, FitOptions());
        EXPECT_FALSE(fitter.IsFitted());
        EXPECT_THROW(fitter.GetFitted(), std::logic_error);
        fitter.Fit(*m.records);
        const GlmResult first = fitter.GetGlmResult();
        EXPECT_THROW(fitter.GetLogisticResult(), std::logic_error);
        fitter.Fit(*m.records);
        // Every figure of the report, to the last bit.
        EXPECT_EQ(FormatGlmJson(fitter.GetGlmResult()), FormatGlmJson(first));
        EXPECT_EQ(fitter.GetFitted().fNBasic, static_cast<int>(first.fvParameters.size()));
    }
    const CsvModel m(csv, "y ~ A + x", CategoricalDependent());
    ModelFitter fitter(m.spec, Logistic());
    int heard = 0;
    FitProgress progress;
    progress.fIteration = [&](const IterationRow&) { ++heard; };
    fitter.Fit(*m.records, nullptr, progress);
    const LogisticResult first = fitter.GetLogisticResult();
    ASSERT_GT(heard, 0);
    EXPECT_EQ(static_cast<std::size_t>(heard), first.fvIterations.size());
    // The first caller's callback is not kept beyond its fit.
    const int before = heard;
    fitter.Fit(*m.records);
    EXPECT_EQ(heard, before);
    const LogisticResult& second = fitter.GetLogisticResult();
    EXPECT_EQ(first.fvIterations.size(), second.fvIterations.size());
    EXPECT_EQ(FormatLogisticJson(second), FormatLogisticJson(first));
    EXPECT_EQ(first.fvClassification, second.fvClassification);
    EXPECT_TRUE(fitter.GetFitted().fbLogistic);
}

TEST(ModelFitter, ScoringARecordGivesThePredictionWrittenAndTheCellFigures) {
    // y ~ A saturates the cells: a general linear model predicts each
    // cell's mean, a logistic model each cell's category proportions.
    // Record 3 misses its factor and is not used.
    std::string csv = "y,A\n";
    std::map<std::string, std::vector<int>> values;
    for (int i = 0; i < 60; ++i) {
        const std::string a = "c" + std::to_string(i % 3);
        const int y = (i * 7) % 5 + (i % 3);
        csv += std::to_string(y) + "," + (i == 3 ? std::string("") : a) + "\n";
        if (i != 3) values[a].push_back(y);
    }
    for (const bool logistic : {false, true}) {
        SCOPED_TRACE(logistic);
        const CsvModel m(csv, "y ~ A", logistic ? CategoricalDependent() : ModelOptions());
        const std::vector<std::string>& categories = m.spec.GetVariables().front().fvCategories;
        ModelFitter fitter(m.spec, logistic ? Logistic() : FitOptions());
        fitter.Fit(*m.records);
        const golden::Csv written = Predictions(fitter, *m.records);
        if (!logistic) {
            EXPECT_EQ(written.header, (std::vector<std::string>{"predicted", "residual"}));
        }
        ASSERT_EQ(written.rows.size(), 60u);
        m.records->NewPass();
        for (std::size_t row = 0; row < 60; ++row) {
            SCOPED_TRACE(row);
            const MCCommon_850::Record& r = *m.records->Next();
            const std::vector<std::string>& cells = written.rows[row];
            double value = 0.0;
            std::vector<double> p;
            const bool scored = fitter.Score(r, value, p);
            if (row == 3) {
                EXPECT_FALSE(scored);
                EXPECT_EQ(cells, std::vector<std::string>(logistic ? categories.size() + 1 : 2));
                continue;
            }
            ASSERT_TRUE(scored);
            const std::vector<int>& cell = values["c" + std::to_string(row % 3)];
            if (!logistic) {
                ASSERT_EQ(cells.size(), 2u);
                EXPECT_EQ(std::strtod(cells[0].c_str(), nullptr), value);
                double mean = 0.0;
                for (int v : cell) mean += v;
                mean /= static_cast<double>(cell.size());
                EXPECT_NEAR(value, mean, 1e-12);
                EXPECT_NEAR(std::strtod(cells[1].c_str(), nullptr), r[0] - mean, 1e-12);
            } else {
                ASSERT_EQ(cells.size(), categories.size() + 1);
                ASSERT_EQ(p.size(), categories.size());
                for (std::size_t c = 0; c < categories.size(); ++c) {
                    EXPECT_EQ(std::strtod(cells[c].c_str(), nullptr), p[c]);
                    double share = 0.0;
                    for (int v : cell) share += std::to_string(v) == categories[c] ? 1.0 : 0.0;
                    EXPECT_NEAR(p[c], share / static_cast<double>(cell.size()), 1e-7)
                        << categories[c];
                }
                EXPECT_EQ(cells.back(), categories[static_cast<std::size_t>(value + 0.5)]);
            }
        }
    }
}

TEST(ModelFitter, TiedProbabilitiesPredictTheCategoryOfMoreRecords) {
    // A saturated model: each group's probabilities are its shares. Ties:
    // u and v in a, v and w in c, all three in d. Overall u has 5
    // records, v and w 6 each: v wins every tie it is in (before w by its
    // code), whatever the last digit of the tied probabilities says.
    const std::string csv =
        "c,g\nu,a\nu,a\nv,a\nv,a\nw,a\nu,b\nv,b\nw,b\nw,b\nv,c\nv,c\nw,c\nw,c\nu,c\n"
        "v,d\nw,d\nu,d\n";
    const std::map<std::string, std::vector<double>> shares = {{"a", {0.4, 0.4, 0.2}},
                                                               {"b", {0.25, 0.25, 0.5}},
                                                               {"c", {0.2, 0.4, 0.4}},
                                                               {"d", {1 / 3., 1 / 3., 1 / 3.}}};
    const std::map<std::string, std::string> predicted = {
        {"a", "v"}, {"b", "w"}, {"c", "v"}, {"d", "v"}};
    const CsvModel m(csv, "c ~ g", CategoricalDependent());
    ModelFitter fitter(m.spec, Logistic());
    fitter.Fit(*m.records);
    const golden::Csv written = Predictions(fitter, *m.records);
    EXPECT_EQ(written.header, (std::vector<std::string>{"p_u", "p_v", "p_w", "predicted"}));
    const golden::Csv data = golden::ParseCsv(csv);
    ASSERT_EQ(written.rows.size(), 17u);
    for (std::size_t n = 0; n < 17; ++n) {
        const std::string& g = data.rows[n][1];
        const std::vector<std::string>& cells = written.rows[n];
        ASSERT_EQ(cells.size(), 4u);
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(std::strtod(cells[c].c_str(), nullptr), shares.at(g)[c], 1e-9) << n;
        EXPECT_EQ(cells[3], predicted.at(g)) << "row " << n << " of group " << g;
    }
    // Observed u, v, w by predicted u, v, w: tied logits leave the table
    // to the host's own pass, whose precedence settles them.
    const std::vector<std::vector<double>> table = {{0, 4, 1}, {0, 5, 1}, {0, 4, 2}};
    EXPECT_EQ(fitter.GetLogisticResult().fvClassification, table);
    std::vector<double> fromLastPass;
    EXPECT_FALSE(static_cast<const MCMath_850::MCLogOutputStats&>(*fitter.GetFitted().fpStats)
                     .GetFinalPassClassification(fromLastPass));
}

TEST(ModelFitter, ASplitFitCountsTheClassificationTableOfAllItsRecords) {
    const Formula f = ParseFormula("y ~ A + x");
    const ModelOptions o = CategoricalDependent();
    // The reference first: the fit's category order is then not the codes'.
    FitOptions options = Logistic();
    options.fReference = "first";
    const CsvModel whole(LogisticData(0, 300), "y ~ A + x", o);
    ModelFitter wholeFit(whole.spec, options);
    wholeFit.Fit(*whole.records);
    const LogisticResult& want = wholeFit.GetLogisticResult();
    // The table comes from the estimation's last pass here, and must count
    // the predictions of the scorer of new records, row by row.
    std::vector<double> fromLastPass;
    EXPECT_TRUE(static_cast<const MCMath_850::MCLogOutputStats&>(*wholeFit.GetFitted().fpStats)
                    .GetFinalPassClassification(fromLastPass));
    const golden::Csv written = Predictions(wholeFit, *whole.records);
    const golden::Csv data = golden::ParseCsv(LogisticData(0, 300));
    std::vector<std::string> categories;
    for (std::size_t c = 0; c + 1 < written.header.size(); ++c)
        categories.push_back(written.header[c].substr(2));
    auto code = [&](const std::string& text) {
        return static_cast<std::size_t>(std::find(categories.begin(), categories.end(), text) -
                                        categories.begin());
    };
    std::vector<std::vector<double>> scored(3, std::vector<double>(3, 0.0));
    ASSERT_EQ(categories.size(), 3u);
    ASSERT_EQ(written.rows.size(), data.rows.size());
    for (std::size_t n = 0; n < data.rows.size(); ++n)
        scored.at(code(data.rows[n][0])).at(code(written.rows[n].back())) += 1.0;
    EXPECT_EQ(want.fvClassification, scored);

    // Parts of unequal size, fitted by two processes into one model.
    const std::vector<std::string> parts = {LogisticData(0, 110), LogisticData(110, 300)};
    std::vector<LogisticResult> got(parts.size());
    splittest::Meeting meeting(static_cast<int>(parts.size()));
    splittest::RunSplit(
        static_cast<int>(parts.size()), [&](int rank, MCCommon_850::PassReducer& reducer) {
            ThreadProcesses processes(meeting, reducer, rank, static_cast<int>(parts.size()));
            CodedData d = mchost_test::ReadModelData(parts[static_cast<std::size_t>(rank)], f, o);
            AgreeColumnKinds(d, processes);
            ModelSpec spec(f, o, d);
            spec.MergeAcrossProcesses(processes);
            auto records = spec.MakeIterator();
            ModelFitter fitter(spec, options, &processes);
            fitter.Fit(*records);
            got[static_cast<std::size_t>(rank)] = fitter.GetLogisticResult();
        });
    double total = 0.0;
    for (const auto& row : want.fvClassification)
        for (double c : row) total += c;
    EXPECT_EQ(total, 300.0);
    for (const LogisticResult& part : got) {
        EXPECT_EQ(part.fvClassification, want.fvClassification);
        ASSERT_EQ(part.fvParameters.size(), want.fvParameters.size());
        for (std::size_t k = 0; k < want.fvParameters.size(); ++k)
            EXPECT_NEAR(part.fvParameters[k].fEstimate, want.fvParameters[k].fEstimate,
                        1e-9 * (1.0 + std::fabs(want.fvParameters[k].fEstimate)));
    }
}
