// A fit made in parts on threads: the in-process reducer's merges (in part
// order, whatever the number of threads running, and over processes too),
// a part that fails, a cancel that must stop every part, and the merged
// model against one fitted in a single part and against closed forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/fit/PartedFit.h"
#include "host/input/CsvReader.h"
#include "host/input/FrameRecordStore.h"
#include "host/input/RecordStore.h"
#include "host/run/PartGroup.h"
#include "host/session/ModelSession.h"
#include "support/host_fixtures.h"
#include "thread_reducer.h"

using namespace mchost;

namespace {

// Runs body(part, reducer) for each part of a group on its own thread.
void RunParts(PartGroup& group, const std::function<void(int, MCCommon_850::PassReducer&)>& body) {
    std::vector<std::thread> threads;
    for (int k = 0; k < group.Size(); ++k)
        threads.emplace_back([&, k] {
            group.Acquire();
            body(k, group.Reducer(k));
            group.Release();
        });
    for (std::thread& t : threads) t.join();
}

// Values whose sum depends on the order of the additions.
double Value(int part) {
    const double v[] = {1e16, 1.0, -1e16, 3.0, 0.5};
    return v[part % 5];
}

}  // namespace

TEST(SplitThreads, PartsMergeInPartOrderWhateverTheThreadsRunning) {
    // Left to right: ((1e16 + 1) - 1e16) + 3 + 0.5 = 3.5, not 4.5.
    const double ordered = (((Value(0) + Value(1)) + Value(2)) + Value(3)) + Value(4);
    for (int running : {1, 2, 5}) {
        SCOPED_TRACE(running);
        PartGroup group(5, running, nullptr);
        std::vector<std::vector<double>> sums(5), extended(5), mins(5), maxs(5), shared(5);
        std::vector<std::vector<std::vector<int>>> gathered(5);
        RunParts(group, [&](int k, MCCommon_850::PassReducer& r) {
            const auto K = static_cast<std::size_t>(k);
            // Several rounds: a part that leaves a meeting first must not
            // see the next round's values in this one's result.
            for (int round = 0; round < 3; ++round) {
                sums[K] = {Value(k), static_cast<double>(k + round)};
                EXPECT_TRUE(r.Sum(sums[K]));
            }
            extended[K] = {Value(k), 0.0};
            EXPECT_TRUE(r.SumExtended(extended[K]));
            mins[K] = {static_cast<double>(k)};
            maxs[K] = {static_cast<double>(k)};
            EXPECT_TRUE(r.Min(mins[K]) && r.Max(maxs[K]));
            EXPECT_TRUE(r.Gather(std::vector<int>(K, k), gathered[K]));
            // Part 0 leads; what the others hold, of any length, is replaced.
            EXPECT_EQ(r.Leads(), k == 0);
            shared[K].assign((K + 2) % 3, static_cast<double>(k));
            EXPECT_TRUE(r.Share(shared[K]));
        });
        for (std::size_t k = 0; k < 5; ++k) {
            EXPECT_EQ(sums[k], (std::vector<double>{ordered, 0 + 1 + 2 + 3 + 4 + 5 * 2}));
            // Double-double keeps the 1 that plain addition loses.
            EXPECT_EQ(extended[k][0] + extended[k][1], 4.5);
            EXPECT_EQ(mins[k][0], 0.0);
            EXPECT_EQ(maxs[k][0], 4.0);
            EXPECT_EQ(shared[k], (std::vector<double>{0.0, 0.0}));
            ASSERT_EQ(gathered[k].size(), 5u);
            for (std::size_t j = 0; j < 5; ++j)
                EXPECT_EQ(gathered[k][j], std::vector<int>(j, static_cast<int>(j)));
        }
    }
}

TEST(SplitThreads, PartsOfSeveralProcessesGatherInRankThenPartOrder) {
    // Two processes played by threads, each with three parts of its own.
    splittest::Meeting processes(2);
    splittest::ThreadReducer outer0(processes, 0), outer1(processes, 1);
    PartGroup group0(3, 1, &outer0), group1(3, 2, &outer1);
    std::vector<std::vector<std::vector<int>>> lists(6);
    std::vector<std::vector<double>> sums(6);
    std::thread second([&] {
        RunParts(group1, [&](int k, MCCommon_850::PassReducer& r) {
            sums[3 + k] = {1.0 + k};
            EXPECT_TRUE(r.Sum(sums[3 + k]));
            EXPECT_TRUE(r.Gather({10 + k, 10 + k}, lists[3 + k]));
        });
    });
    RunParts(group0, [&](int k, MCCommon_850::PassReducer& r) {
        sums[k] = {1.0 + k};
        EXPECT_TRUE(r.Sum(sums[k]));
        EXPECT_TRUE(r.Gather(std::vector<int>{k}, lists[k]));
    });
    second.join();
    const std::vector<std::vector<int>> want{{0}, {1}, {2}, {10, 10}, {11, 11}, {12, 12}};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(sums[k], std::vector<double>{12.0});
        EXPECT_EQ(lists[k], want);
    }
    // After the parts are done, part 0 merges over the processes alone.
    group0.Detach();
    group1.Detach();
    std::vector<double> a{2.0}, b{5.0};
    std::thread other([&] { EXPECT_TRUE(group1.Reducer(0).Sum(b)); });
    EXPECT_TRUE(group0.Reducer(0).Sum(a));
    other.join();
    EXPECT_EQ(a, std::vector<double>{7.0});
    EXPECT_EQ(b, std::vector<double>{7.0});
}

TEST(SplitThreads, APartThatFailsReleasesEveryOtherPart) {
    PartGroup group(4, 1, nullptr);
    std::atomic<int> failed{0};
    RunParts(group, [&](int k, MCCommon_850::PassReducer& r) {
        std::vector<double> v{1.0};
        if (k == 2) {
            // It fails before the first meeting the others already wait at.
            group.Poison();
            return;
        }
        if (!r.Sum(v)) ++failed;
        // Every later merge fails at once.
        if (!r.Max(v)) ++failed;
    });
    EXPECT_EQ(failed.load(), 6);
}

namespace {

// Record i of the data: a text factor of five levels (a), a numeric one of
// three (b), a covariate (missing in some records), a regression weight,
// a numeric response and one of three categories.
struct Row {
    int a, b;
    double x, y, w;
    const char* g;
};

Row MakeRow(int i) {
    const double u = std::fmod(i * 0.7548776662466927, 1.0);
    const int a = (i * 3) % 5, b = (i / 7) % 3;
    const double x = std::sin(0.001 * i) * 4 + u;
    const char* g = u < 0.3 + 0.2 * std::tanh(0.3 * x) ? "p" : u < 0.75 ? "q" : "r";
    return {a, b, x, 1.5 + 0.7 * a - 0.2 * b * a + 0.9 * x + 2 * u, 0.5 + (i % 4) * 0.5, g};
}

std::string Records(int n) {
    std::string csv = "y,g,A,B,x,w\n";
    char line[200];
    for (int i = 0; i < n; ++i) {
        const Row r = MakeRow(i);
        std::snprintf(line, sizeof line, "%.17g,%s,a%d,%d,%s,%.17g\n", r.y, r.g, r.a, r.b,
                      i % 211 == 9 ? "" : std::to_string(r.x).c_str(), r.w);
        csv += line;
    }
    return csv;
}

std::unique_ptr<ModelSession> Session(const std::string& csv, const std::string& formula,
                                      bool logistic, int threads, bool keep = true) {
    SessionOptions o;
    o.fFormula = formula;
    o.fModel.fvFactors = {"B"};
    o.fFit.fbLogistic = logistic;
    o.fFit.fThreads = threads;
    o.fFit.fbCovariance = true;
    if (!logistic) o.fModel.fRegrWeight = "w";
    o.fModel.fbKeepCrossProducts = !logistic && keep;
    return std::make_unique<ModelSession>(
        o, [&](const PlanFn& plan) { return CsvReader::ReadString(csv, plan); });
}

double Rel(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return 0.0;  // a redundant parameter's
    return a == b ? 0.0 : std::fabs(a - b) / std::max(std::fabs(b), 1e-300);
}

// The parameters of a fit in parts against those of one part.
template <class Row>
void ExpectSameParameters(const std::vector<Row>& got, const std::vector<Row>& want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(got[k].fbRedundant, want[k].fbRedundant) << k;
        EXPECT_LT(Rel(got[k].fEstimate, want[k].fEstimate), tol) << k;
        EXPECT_LT(Rel(got[k].fStdError, want[k].fStdError), tol) << k;
    }
}

}  // namespace

TEST(SplitThreads, PartsFitTheModelOfOnePartAndOfClosedForms) {
    const std::string csv = Records(150000);
    // The cell means model's estimates are the category means' differences
    // from the last category's, in weighted least squares with weights w.
    // Without kept cross products part 0 alone sweeps: the others' residual
    // sums, in R-square, are made from the estimates it hands them.
    {
        std::unique_ptr<ModelSession> s = Session(csv, "y ~ A", false, 2, false);
        std::vector<std::pair<int, double>> seen;
        FitProgress progress;
        progress.fRecords = [&](int pass, std::size_t n) { seen.emplace_back(pass, n); };
        s->Fit(nullptr, progress);
        EXPECT_EQ(s->FitParts(), 3);
        std::size_t mostInPass1 = 0;
        for (const auto& [pass, n] : seen)
            if (pass == 1) mostInPass1 = std::max(mostInPass1, static_cast<std::size_t>(n));
        EXPECT_EQ(mostInPass1, 150000u);  // every part's records counted

        long double wy[5] = {}, w[5] = {};
        for (int i = 0; i < 150000; ++i) {
            const Row r = MakeRow(i);
            // %.17g reads back as the same double.
            wy[r.a] += r.w * r.y;
            w[r.a] += r.w;
        }
        const std::vector<ParameterRow>& p = s->Glm().fvParameters;
        ASSERT_EQ(p.size(), 6u);
        const long double last = wy[4] / w[4];
        EXPECT_LT(Rel(p[0].fEstimate, static_cast<double>(last)), 1e-13);
        for (int a = 0; a < 4; ++a)
            EXPECT_LT(Rel(p[1 + a].fEstimate, static_cast<double>(wy[a] / w[a] - last)), 1e-12)
                << a;
        const long double mean =
            (wy[0] + wy[1] + wy[2] + wy[3] + wy[4]) / (w[0] + w[1] + w[2] + w[3] + w[4]);
        long double rss = 0.0L, tss = 0.0L;
        for (int i = 0; i < 150000; ++i) {
            const Row r = MakeRow(i);
            const long double e = r.y - wy[r.a] / w[r.a], d = r.y - mean;
            rss += r.w * e * e;
            tss += r.w * d * d;
        }
        EXPECT_LT(Rel(s->Glm().fRSquare, static_cast<double>(1.0L - rss / tss)), 1e-12);
    }
    // A richer model: every figure as a fit in one part gives it.
    for (const bool logistic : {false, true}) {
        SCOPED_TRACE(logistic);
        const std::string formula = logistic ? "g ~ A + B + x + A*x" : "y ~ A + B + A*B + x + A*x";
        std::unique_ptr<ModelSession> parts = Session(csv, formula, logistic, 3);
        parts->Fit();
        ASSERT_EQ(parts->FitParts(), 3);
        std::unique_ptr<ModelSession> one = Session(csv, formula, logistic, 1);
        const auto records = one->Spec().MakeIterator();
        one->Fit(*records, nullptr, FitProgress());
        ASSERT_EQ(one->FitParts(), 1);
        if (logistic) {
            const LogisticResult& a = parts->Logistic();
            const LogisticResult& b = one->Logistic();
            ExpectSameParameters(a.fvParameters, b.fvParameters, 1e-10);
            // Counted by each part's fitter, summed over the parts.
            EXPECT_EQ(a.fvClassification, b.fvClassification);
            EXPECT_EQ(a.fvIterations.size(), b.fvIterations.size());
        } else {
            const GlmResult& a = parts->Glm();
            const GlmResult& b = one->Glm();
            ExpectSameParameters(a.fvParameters, b.fvParameters, 1e-12);
            EXPECT_EQ(a.fRank, b.fRank);
            EXPECT_LT(Rel(a.fRSquare, b.fRSquare), 1e-12);
            ASSERT_EQ(a.fvCovariance.size(), b.fvCovariance.size());
            for (std::size_t k = 0; k < a.fvCovariance.size(); ++k)
                EXPECT_LT(std::fabs(a.fvCovariance[k] - b.fvCovariance[k]),
                          1e-12 * std::fabs(b.fvCovariance[k]) + 1e-300);
            // The analyses after the fit read every record.
            const EffectTests ta = parts->Tests(TestTypes::Parse("1,3"));
            const EffectTests tb = one->Tests(TestTypes::Parse("1,3"));
            ASSERT_EQ(ta.fvTypeI.size(), tb.fvTypeI.size());
            ASSERT_EQ(ta.fvTypeIII.size(), tb.fvTypeIII.size());
            for (std::size_t k = 0; k < ta.fvTypeI.size(); ++k)
                EXPECT_LT(Rel(ta.fvTypeI[k].fSS, tb.fvTypeI[k].fSS), 1e-10);
            for (std::size_t k = 0; k < ta.fvTypeIII.size(); ++k)
                EXPECT_LT(Rel(ta.fvTypeIII[k].fF, tb.fvTypeIII[k].fF), 1e-10);
        }
    }
}

TEST(SplitThreads, ACancelStopsEveryPart) {
    const std::string csv = Records(300000);
    for (const bool logistic : {false, true})
        for (const long after : {0L, 40L, 400L}) {
            SCOPED_TRACE(std::to_string(logistic) + " after " + std::to_string(after));
            std::unique_ptr<ModelSession> s =
                Session(csv, logistic ? "g ~ A + x" : "y ~ A + x", logistic, 2);
            mchost_test::CancelAfter cancel(after);
            long code = 0;
            try {
                s->Fit(&cancel);
            } catch (const LibraryError& e) {
                code = e.GetCode();
            }
            // Interrupted, every part's thread ended (else Fit would not
            // have returned).
            EXPECT_EQ(code, 1);
            EXPECT_EQ(s->FitParts(), 5);
        }
}

namespace {

// The second of two processes, which never answers: a fit that reached a
// merge with it would end with the library's status rather than wait.
class SilentReducer : public MCCommon_850::PassReducer {
public:
    bool Sum(std::vector<double>&) override { return false; }
    bool SumExtended(std::vector<double>&) override { return false; }
    bool Min(std::vector<double>&) override { return false; }
    bool Max(std::vector<double>&) override { return false; }
    bool Gather(const std::vector<int>&, std::vector<std::vector<int>>&) override { return false; }
};
class SilentSecondProcess : public Processes {
public:
    int Size() const override { return 2; }
    MCCommon_850::PassReducer* Reducer() override { return &fReducer; }

private:
    SilentReducer fReducer;
};

}  // namespace

TEST(SplitThreads, AHostFailureOfOneProcessOfSeveralComesOutAsItsOwn) {
    const std::string csv = Records(150000);
    const std::unique_ptr<ModelSession> s = Session(csv, "y ~ A + x", false, 2);
    SilentSecondProcess split;
    Processes one;
    struct Case {
        Processes* processes;
        long libraryCode;  // 0: the host's own failure
        HostError::Kind kind;
        bool local;
    };
    // The parts' progress throws, before their first merge. Only a host
    // failure over several processes is this process's alone: the
    // library's are agreed by all, and each sees its own interrupt.
    const Case cases[] = {
        {&split, 0, HostError::kData, true},         {nullptr, 0, HostError::kData, false},
        {&one, 0, HostError::kData, false},          {&split, 5, HostError::kData, false},
        {&split, 0, HostError::kInterrupted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.libraryCode) + " " + std::to_string(c.kind) +
                     (c.processes == &split ? " split" : ""));
        FitOptions options;
        options.fThreads = 2;
        PartedFit fit(s->Spec(), options, c.processes, 3);
        FitProgress progress;
        progress.fRecords = [&c](int, std::size_t) {
            if (c.libraryCode != 0) throw LibraryError(c.libraryCode, "disk gone");
            throw HostError(c.kind, "disk gone");
        };
        try {
            fit.Fit(nullptr, progress);
            ADD_FAILURE() << "no failure";
        } catch (const HostError& e) {
            EXPECT_EQ(dynamic_cast<const LocalError*>(&e) != nullptr, c.local);
            EXPECT_EQ(dynamic_cast<const LibraryError*>(&e) != nullptr, c.libraryCode != 0);
            EXPECT_STREQ(e.what(), "disk gone");
            EXPECT_EQ(e.GetKind(), c.kind);
        }
    }
}

TEST(SplitThreads, StreamedAndHeldRecordsReadByRangeOnSeveralThreads) {
    // Record i holds (i, -i); each store's ranges read at once by threads.
    const std::size_t n = 70000;
    MemoryRecordStore memory(2, n);
    FileRecordStore file(2, DefaultTempDir());
    std::vector<double> column(n), negated(n);
    for (std::size_t i = 0; i < n; ++i) {
        column[i] = static_cast<double>(i);
        negated[i] = -column[i];
    }
    for (RecordStore* store :
         {static_cast<RecordStore*>(&memory), static_cast<RecordStore*>(&file)})
        for (std::size_t i = 0; i < n; i += 1000) {
            double* at = store->Append(1000);
            for (std::size_t j = 0; j < 1000; ++j) {
                at[2 * j] = column[i + j];
                at[2 * j + 1] = negated[i + j];
            }
        }
    memory.Finish();
    file.Finish();
    std::vector<FrameRecordStore::Source> sources(2);
    sources[0].fpNumbers = column.data();
    sources[1].fpNumbers = negated.data();
    FrameRecordStore frame(sources, n);
    frame.Append(n);
    frame.Finish();

    const std::size_t cuts[] = {0, 1, 33333, 65536, n, n + 5};
    for (const RecordStore* store :
         {static_cast<const RecordStore*>(&memory), static_cast<const RecordStore*>(&file),
          static_cast<const RecordStore*>(&frame)}) {
        std::vector<std::thread> readers;
        std::atomic<int> wrong{0};
        for (std::size_t c = 0; c + 1 < std::size(cuts); ++c)
            readers.emplace_back([&, c] {
                auto it = store->MakeRangeIterator(cuts[c], cuts[c + 1]);
                const std::size_t end = std::min(cuts[c + 1], n);
                for (int pass = 0; pass < 2; ++pass) {
                    it->NewPass();
                    std::size_t i = cuts[c];
                    while (it->HasMore()) {
                        const MCCommon_850::Record* r = it->Next();
                        if (r == nullptr || (*r)[0] != static_cast<double>(i) ||
                            (*r)[1] != -static_cast<double>(i))
                            ++wrong;
                        ++i;
                    }
                    if (i != std::max(end, std::min(cuts[c], n))) ++wrong;
                    if (it->GetFailReason() != MCCommon_850::kIterEnd) ++wrong;
                }
            });
        for (std::thread& t : readers) t.join();
        EXPECT_EQ(wrong.load(), 0);
    }
}
