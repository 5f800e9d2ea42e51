// The component's life cycle and the failures a host meets through it.
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "companion/MCMemory.h"
#include "companion/MCSymMatrix.h"
#include "glm/MCGLMAlgorithm.h"
#include "glm_fixture.h"

using namespace glmtest;
using MCCommon_850::MultiPassRecordIter;

namespace {

// y, A (3 categories), x.
std::vector<Record> Small() {
    return {Record{1.0, 0, 0.5}, Record{2.0, 1, 1.5}, Record{2.5, 2, 0.0},
            Record{4.0, 0, 3.0}, Record{3.0, 1, 2.0}, Record{5.5, 2, 2.5}};
}

Model SmallModel() {
    Model m;
    m.factors = {{1, 3}};
    m.covariates = {2};
    m.terms = {Term{{1}, {}}, Term{{}, {2}}};
    return m;
}

class CountingIter : public MCMemoryRecordIter {
public:
    using MCMemoryRecordIter::MCMemoryRecordIter;
    int NewPass() override {
        ++passes;
        return MCMemoryRecordIter::NewPass();
    }
    int passes = 0;
};

// Over Small(), except that from pass `from` on (the first pass being 1) it
// hands out one record fewer, or at record 3 none although it reports more.
class FicklePasses : public MultiPassRecordIter {
public:
    FicklePasses(int from, bool null) : fFrom(from), fbNull(null) {}
    bool HasMore() const override { return fI < Count(); }
    int GetFailReason() const override { return HasMore() ? 0 : 1; }
    int NewPass() override {
        ++fPass, fI = 0;
        return 0;
    }
    Record* Next() override {
        if (!HasMore()) return nullptr;
        if (fbNull && fPass >= fFrom && fI == 2) return nullptr;
        fRec = fRecs[static_cast<std::size_t>(fI++)];
        return &fRec;
    }

private:
    int Count() const {
        return static_cast<int>(fRecs.size()) - (!fbNull && fPass >= fFrom ? 1 : 0);
    }
    std::vector<Record> fRecs = Small();
    Record fRec;
    int fFrom, fPass = 0, fI = 0;
    bool fbNull;
};

class OtherModelSettings : public MCRegSettings {
public:
    int GetModelType() const override { return 7; }
};

}  // namespace

TEST(GlmComponent, FactoryAndLifeCycleRules) {
    MCMath_850::MCRegFactory factory;
    MCRegSettings empty;
    EXPECT_EQ(factory.CreateRegAlgorithm(empty), nullptr);
    EXPECT_EQ(factory.GetStatus().GetErrorCode(), 301);
    OtherModelSettings other;
    EXPECT_TRUE(other.SetDependent(0));
    EXPECT_EQ(factory.CreateRegAlgorithm(other), nullptr);
    EXPECT_TRUE(factory.GetStatus().IsOK());
    MCRegSettings noTerms;
    EXPECT_TRUE(noTerms.SetDependent(0));
    noTerms.SetInterceptUse(false);
    EXPECT_EQ(factory.CreateRegAlgorithm(noTerms), nullptr);
    EXPECT_EQ(factory.GetStatus().GetErrorCode(), 302);
    // A term naming a position that has no role made the build read outside
    // a cell's values; the factory refuses it.
    MCRegSettings stray = SmallModel().Settings();
    const std::vector<int> strayVars = {1, 5};
    MCModelEffect x5(1, 1, &strayVars);
    ASSERT_EQ(x5.AddCovariate(5), 1);
    ASSERT_TRUE(stray.AddModelEffect(x5));
    EXPECT_EQ(factory.CreateRegAlgorithm(stray), nullptr);
    EXPECT_EQ(factory.GetStatus().GetErrorCode(), 339);

    MCRegSettings s = SmallModel().Settings();
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->GetModelType(), 0);
    IMCRegOutputStats* stats = nullptr;
    EXPECT_EQ(c->GetOutputStats(stats).GetErrorCode(), 311);
    EXPECT_EQ(stats, nullptr);
    double value = 42;
    std::vector<double> probs;
    // Before the build a score is refused, not an OK beside a value the
    // host had left there.
    EXPECT_EQ(c->Score(Record{0.0, 1, 1.0}, value, probs).GetErrorCode(), 311);
    EXPECT_TRUE(MCCommon_850::MCMV::IsMissing(value));

    // Parameters first, then the build: the first pass is not repeated, and
    // the residuals come from the cells' moments, without a third pass.
    CountingIter iter(Small());
    std::vector<MCMath_850::MCRegrParameter> params;
    ASSERT_TRUE(c->CreateParameters(iter, params).IsOK());
    EXPECT_EQ(params.size(), 5u);
    ASSERT_TRUE(c->BuildModel(iter).IsOK());
    EXPECT_EQ(iter.passes, 2);
    EXPECT_TRUE(c->IsModelBuilt());
    IMCRegOutputStats* again = nullptr;
    ASSERT_TRUE(c->GetOutputStats(stats).IsOK());
    ASSERT_TRUE(c->GetOutputStats(again).IsOK());
    EXPECT_EQ(stats, again);
    EXPECT_TRUE(c->Score(Record{0.0, 1, 1.0}, value, probs).IsOK());
    EXPECT_NE(value, 42);
    // The dependent's position lies before the others here, so a record
    // cut after the covariate still scores; one cut before it is missing.
    double same = 0;
    EXPECT_TRUE(c->Score(Record{99.0, 1, 1.0}, same, probs).IsOK());
    EXPECT_EQ(same, value);
    EXPECT_TRUE(c->Score(Record{0.0, 1}, same, probs).IsOK());
    EXPECT_TRUE(MCCommon_850::MCMV::IsMissing(same));

    // A second build is an error that sticks.
    EXPECT_EQ(c->BuildModel(iter).GetErrorCode(), 310);
    EXPECT_FALSE(c->IsModelBuilt());
    EXPECT_EQ(c->GetOutputStats(stats).GetErrorCode(), 310);
    EXPECT_EQ(c->GetStatus().GetErrorCode(), 310);
}

// A model whose cross-product and covariance matrices do not fit in the
// machine's memory is refused with 305 before they are allocated, saying
// how many parameters would fit (on this 24 GB machine about 39,000).
TEST(GlmComponent, ModelTooLargeForMemoryIsRefusedBeforeAllocating) {
    const int levels = 46000;
    const double need = MCMath_850::MCSymMatrix::StorageBytes(levels + 2) +
                        MCMath_850::MCSymMatrix::StorageBytes(levels + 1);
    const double have = static_cast<double>(MCMath_850::UsableMemoryBytes());
    if (have <= 0.0 || have >= need) GTEST_SKIP() << "this machine holds " << need << " bytes";
    std::vector<Record> recs;
    for (int g = 0; g < levels; ++g) recs.push_back(Record{0.5 * (g % 7), static_cast<double>(g)});
    Model m;
    m.factors = {{1, levels}};
    m.terms = {Term{{1}, {}}};
    Fit f = FitModel(m, recs);
    ASSERT_EQ(f.status.GetErrorCode(), 305) << f.status.GetMessage();
    long needed = 0, fits = 0;
    double gb = 0.0;
    EXPECT_TRUE(f.status.GetDiscreteDatum(0, needed) && f.status.GetDiscreteDatum(1, fits) &&
                f.status.GetScaleDatum(1, gb));
    EXPECT_EQ(needed, levels + 1);
    EXPECT_NEAR(gb, need / 1e9, 1e-6);
    // The largest model that fits: both matrices within the memory, one
    // parameter more not.
    const auto bytes = [](long p) {
        return MCMath_850::MCSymMatrix::StorageBytes(static_cast<int>(p) + 1) +
               MCMath_850::MCSymMatrix::StorageBytes(static_cast<int>(p));
    };
    EXPECT_LE(bytes(fits), have);
    EXPECT_GT(bytes(fits + 1), have);
    EXPECT_NE(f.status.GetMessage().find("memory"), std::string::npos) << f.status.GetMessage();

    // Kept for the analyses, Z'Z and its swept copy count too: a model
    // whose two matrices alone would fit is refused as well.
    const int kept = static_cast<int>(fits) * 5 / 6;
    ASSERT_LE(bytes(kept), have);
    std::vector<Record> fewer(recs.begin(), recs.begin() + kept);
    MCRegSettings s = Model{0, {{1, kept}}, {}, {Term{{1}, {}}}}.Settings();
    s.SetKeepCrossProducts(true);
    Fit k = FitModel(s, fewer);
    ASSERT_EQ(k.status.GetErrorCode(), 305) << k.status.GetMessage();
    EXPECT_TRUE(k.status.GetDiscreteDatum(1, fits));
    EXPECT_LE(3 * MCMath_850::MCSymMatrix::StorageBytes(static_cast<int>(fits) + 1) +
                  MCMath_850::MCSymMatrix::StorageBytes(static_cast<int>(fits)),
              have);
}

TEST(GlmComponent, DataErrorsStopTheBuild) {
    // A factor code outside 0..2: malformed, with its position and value.
    std::vector<Record> bad = Small();
    bad[3][1] = 5;
    Fit f = FitModel(SmallModel(), bad);
    EXPECT_EQ(f.status.GetErrorCode(), 316);
    long pos = -1;
    double v = 0;
    EXPECT_TRUE(f.status.GetDiscreteDatum(1, pos) && f.status.GetScaleDatum(1, v));
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(v, 5.0);

    // An infinite dependent made every estimate NaN under an OK status.
    std::vector<Record> infinite = Small();
    infinite[2][0] = HUGE_VAL;
    EXPECT_EQ(FitModel(SmallModel(), infinite).status.GetErrorCode(), 342);

    // Records too short for the role map.
    EXPECT_EQ(FitModel(SmallModel(), {Record{1.0, 0}}).status.GetErrorCode(), 315);
    // No record at all, and no valid record (all covariates missing).
    EXPECT_EQ(FitModel(SmallModel(), {}).status.GetErrorCode(), 307);
    std::vector<Record> missing = Small();
    for (Record& r : missing) r[2] = MCCommon_850::MCMV::Missing();
    EXPECT_EQ(FitModel(SmallModel(), missing).status.GetErrorCode(), 307);

    // Records with missing values or non-positive weights are left out.
    Model m = SmallModel();
    m.freqWeight = 3;
    std::vector<Record> weighted;
    for (const Record& r : Small()) weighted.push_back(Record{r[0], r[1], r[2], 1.0});
    weighted.push_back(Record{100.0, 0, 1.0, 0.0});
    weighted.push_back(Record{100.0, 0, MCCommon_850::MCMV::Missing(), 1.0});
    Fit a = FitModel(m, weighted), b = FitModel(SmallModel(), Small());
    ASSERT_TRUE(a.status.IsOK() && b.status.IsOK());
    for (int k = 0; k < b.NParams(); ++k) EXPECT_NEAR(a.Estimate(k), b.Estimate(k), 1e-13);

    // Too many parameters: the status names the model's real size.
    Model wide;
    wide.factors = {{1, 50000}};
    wide.terms = {Term{{1}, {}}};
    std::vector<Record> many;
    for (int i = 0; i < 50000; ++i) many.push_back(Record{double(i % 7), double(i)});
    const MCStatus tooMany = FitModel(wide, many).status;
    long count = 0, limit = 0;
    EXPECT_EQ(tooMany.GetErrorCode(), 305);
    EXPECT_TRUE(tooMany.GetDiscreteDatum(0, count) && tooMany.GetDiscreteDatum(1, limit));
    EXPECT_EQ(count, 50001);
    EXPECT_EQ(limit, 46339);

    // Later passes that read fewer records than the first, or stop on a
    // null record, filled the cross products or the residuals of other data
    // than the parameters were made from, under an OK status. A robust
    // covariance passes the records for the residuals.
    for (int from : {2, 3}) {
        MCMath_850::MCRegFactory factory;
        MCRegSettings settings = SmallModel().Settings();
        settings.SetCovbType(MCConst::COVB_ROBUST);
        std::unique_ptr<IMCRegComponent> fewer(factory.CreateRegAlgorithm(settings));
        std::unique_ptr<IMCRegComponent> null(factory.CreateRegAlgorithm(settings));
        FicklePasses shorter(from, false), stops(from, true);
        EXPECT_EQ(fewer->BuildModel(shorter).GetErrorCode(), 307) << from;
        const MCStatus none = null->BuildModel(stops);
        long at = 0;
        EXPECT_EQ(none.GetErrorCode(), 304) << from;
        EXPECT_TRUE(none.GetDiscreteDatum(1, at) && at == 3);
    }

    // The first pass twice, and the build before any pass.
    MCRegSettings s = SmallModel().Settings();
    MCMath_850::MCGLMAlgorithm alg(s);
    MCMemoryRecordIter iter(Small());
    EXPECT_EQ(alg.BuildModel(iter).GetErrorCode(), 309);
    MCMath_850::MCGLMAlgorithm alg2(s);
    ASSERT_TRUE(alg2.ProcessData(iter).IsOK());
    EXPECT_EQ(alg2.ProcessData(iter).GetErrorCode(), 306);
}

namespace {

// Generates records on the fly; at record `signalAt` of its second pass it
// hands control to a canceller thread and waits until that thread has
// called Cancel(), so the cancel arrives from another thread while the
// build is in the middle of a pass.
class CancelIter : public MultiPassRecordIter {
public:
    CancelIter(int n, long signalAt) : fN(n), fSignalAt(signalAt), fRec(3) {}
    bool HasMore() const override { return fI < fN; }
    int GetFailReason() const override { return fI < fN ? 0 : 1; }
    int NewPass() override {
        fI = 0;
        ++fPass;
        fGen.seed(11);
        return fN > 0 ? 0 : 1;
    }
    Record* Next() override {
        if (fI >= fN) return nullptr;
        if (fPass == 2 && fI == fSignalAt) {
            std::unique_lock<std::mutex> lock(mutex);
            reached = true;
            cv.notify_all();
            cv.wait(lock, [this] { return cancelled; });
        }
        ++fI;
        std::uniform_real_distribution<double> u(0, 1);
        fRec[1] = static_cast<double>(fGen() % 4);
        fRec[2] = u(fGen);
        fRec[0] = fRec[1] + 2 * fRec[2] + u(fGen);
        return &fRec;
    }

    std::mutex mutex;
    std::condition_variable cv;
    bool reached = false;
    bool cancelled = false;

private:
    int fN;
    long fSignalAt;
    int fI = 0;
    int fPass = 0;
    Record fRec;
    std::mt19937_64 fGen;
};

}  // namespace

TEST(GlmComponent, CancelFromAnotherThreadStopsTheBuild) {
    Model m;
    m.factors = {{1, 4}};
    m.covariates = {2};
    m.terms = {Term{{1}, {}}, Term{{}, {2}}};
    MCRegSettings s = m.Settings();
    MCMath_850::MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
    ASSERT_NE(c, nullptr);
    CancelIter iter(200000, 50000);
    std::thread canceller([&] {
        std::unique_lock<std::mutex> lock(iter.mutex);
        iter.cv.wait(lock, [&] { return iter.reached; });
        c->Cancel();
        iter.cancelled = true;
        iter.cv.notify_all();
    });
    const MCStatus status = c->BuildModel(iter);
    canceller.join();
    EXPECT_EQ(status.GetErrorCode(), 1);
    EXPECT_FALSE(c->IsModelBuilt());
    IMCRegOutputStats* stats = nullptr;
    EXPECT_EQ(c->GetOutputStats(stats).GetErrorCode(), 1);
}
