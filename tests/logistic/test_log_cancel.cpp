// Cancel from another thread while a multinomial fit iterates: the build
// stops with status 1 through either data handler. Run under
// ThreadSanitizer in CI.
#include <atomic>
#include <chrono>
#include <thread>

#include "companion/MCIterationReporter.h"
#include "logistic_fixture.h"

using namespace logtest;

namespace {

// Answers yes from its n-th poll on.
struct CancelFrom : MCCommon_850::MCQueryCancel {
    explicit CancelFrom(int n) : fN(n) {}
    bool IsCancel() override { return ++fPolls >= fN; }
    int fN, fPolls = 0;
};

struct FirstReport : MCCommon_850::ProgressListener {
    std::atomic<int> reports{0};
    void ReportIteration(const MCMath_850::MCIterationReporter&) override { ++reports; }
};

// y (3 categories) ~ A + x, A of `levels` categories at record position 1.
Model FactorAndCovariate(int levels, bool patterns) {
    Model m;
    m.nCategories = 3;
    m.factors = {{1, levels}};
    m.covariates = {2};
    m.terms = {{{1}, {}}, {{}, {2}}};
    m.patterns = patterns;
    return m;
}

}  // namespace

TEST(LogisticCancel, CancelFromAnotherThreadStopsTheFit) {
    std::vector<Record> data;
    for (int i = 0; i < 20000; ++i)
        data.push_back(Record{static_cast<double>(i % 3), static_cast<double>(i % 7),
                              static_cast<double>((i * 37) % 101) / 50.0});
    for (bool patterns : {false, true}) {
        Model m = FactorAndCovariate(7, patterns);
        // Never converges by itself: only the cancel ends it.
        m.paramCriterion = 0.0;
        m.maxIterations = 1000000;
        FirstReport listener;
        MCLogRegSettings s = m.Settings();
        s.SetProgressListener(&listener);
        MCMath_850::MCRegFactory factory;
        std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
        ASSERT_NE(c, nullptr);
        MCMemoryRecordIter iter(data);
        MCStatus result;
        std::thread worker([&] { result = c->BuildModel(iter); });
        while (listener.reports.load() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        c->Cancel();
        worker.join();
        EXPECT_EQ(result.GetErrorCode(), 1) << (patterns ? "patterns" : "records");
        EXPECT_FALSE(c->IsModelBuilt());
    }
}

// A host query that says yes at any one of its polls, and from then on, ends
// the build with status 1 through either data handler (a cancel met while
// X'X was filled record by record read as error 313), or not at all when it
// comes after the last poll.
TEST(LogisticCancel, ACancelAtEveryPollEndsTheBuildAsCancelled) {
    std::vector<Record> data;
    for (int i = 0; i < 13; ++i)
        data.push_back(Record{static_cast<double>(i % 3), static_cast<double>(i % 2), 0.1 * i});
    for (bool patterns : {false, true}) {
        const Model m = FactorAndCovariate(2, patterns);
        bool finished = false;
        for (int at = 1; !finished && at < 2000; ++at) {
            CancelFrom query(at);
            MCLogRegSettings s = m.Settings();
            s.SetCancelPointer(&query);
            MCMath_850::MCRegFactory factory;
            std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
            ASSERT_NE(c, nullptr);
            MCMemoryRecordIter iter(data);
            const MCStatus result = c->BuildModel(iter);
            finished = query.fPolls < at;
            EXPECT_EQ(result.GetErrorCode(), finished ? 0 : 1)
                << at << (patterns ? " patterns" : "");
        }
        EXPECT_TRUE(finished);
    }
}
