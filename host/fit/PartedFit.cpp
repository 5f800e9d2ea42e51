#include "host/fit/PartedFit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "host/base/Cores.h"
#include "host/base/HostError.h"
#include "host/fit/FitFailure.h"

namespace mchost {

namespace {

// A part per this many records, up to kMaxParts: small data stay one part,
// and fit exactly as they always have.
constexpr std::size_t kRecordsPerPart = std::size_t(1) << 16;
constexpr int kMaxParts = 16;
// What the parts' copies of the largest matrices may take together. A
// constant rather than the memory free at the time, which would make the
// parts, and so the last bits of the results, depend on the machine's load.
constexpr double kPartsMemory = double(std::size_t(1) << 30);

// At most the parameters the model can have: one per cell of each
// effect's factors (and per category of the dependent but one, for the
// logistic model).
double ParameterBound(const ModelSpec& spec, bool logistic) {
    const MCMath_850::MCRegSettings& settings = spec.GetSettings();
    const std::vector<int>& sizes = settings.GetFactorSizes();
    double p = settings.GetInterceptUse() ? 1.0 : 0.0;
    for (const MCMath_850::MCModelEffect& e : settings.GetModelEffects()) {
        const std::vector<int>& main = e.GetModelEffect();
        double cells = 1.0;
        for (std::size_t f = 0; f < main.size() && f < sizes.size(); ++f)
            if (f < static_cast<std::size_t>(e.GetNModelFactors()) && main[f] >= 0)
                cells *= std::max(1, sizes[f]);
        p += cells;
    }
    if (logistic) {
        const std::size_t k = spec.GetVariables().front().fvCategories.size();
        p *= static_cast<double>(std::max<std::size_t>(k, 2) - 1);
    }
    return p;
}

}  // namespace

int FitPartCount(const ModelSpec& spec, bool logistic) {
    const std::size_t n = spec.GetNLocalRecords();
    const auto byRecords = static_cast<int>(
        std::min<std::size_t>(kMaxParts, (n + kRecordsPerPart - 1) / kRecordsPerPart));
    if (byRecords <= 1) return 1;
    // Parts merge their clusters' score sums by key, one dense slot of p
    // sums per cluster and part: with 100,000 clusters that merge costs
    // ten times the fit. A single part sums each cluster as its run ends.
    if (!spec.GetSettings().GetClusterVars().empty()) return 1;
    // The cross products, the covariance and the merge's copies of them:
    // a few p-by-p matrices of double-double values per part.
    const double p = ParameterBound(spec, logistic);
    const double perPart = 4.0 * 16.0 * p * p;
    const double fit = std::floor(kPartsMemory / perPart);
    return fit < 2.0 ? 1 : std::min(byRecords, static_cast<int>(fit));
}

// What the parts share of their caller: its cancel query and callbacks,
// which are asked by one part at a time, and the records each part has
// handed out in the current pass.
class PartedFit::Shared {
public:
    explicit Shared(int nParts)
        : fpCounts(std::make_unique<std::atomic<std::size_t>[]>(static_cast<std::size_t>(nParts))),
          fNParts(static_cast<std::size_t>(nParts)) {
        for (std::size_t k = 0; k < fNParts; ++k) fpCounts[k].store(0);
    }

    bool Cancelled() const { return fbCancelled.load(std::memory_order_relaxed); }
    bool AskCancel() {
        if (fbCancelled.load()) return true;
        const std::lock_guard<std::mutex> lock(fHost);
        if (fpCancel != nullptr && fpCancel->IsCancel()) fbCancelled.store(true);
        return fbCancelled.load();
    }
    void Count(std::size_t part, std::size_t n) { fpCounts[part].store(n); }
    void Report(int pass) {
        if (!fRecords) return;
        std::size_t total = 0;
        for (std::size_t k = 0; k < fNParts; ++k) total += fpCounts[k].load();
        const std::lock_guard<std::mutex> lock(fHost);
        fRecords(pass, total);
    }
    template <class F>
    void Call(F&& f) {
        const std::lock_guard<std::mutex> lock(fHost);
        f();
    }
    void Fail(std::exception_ptr e) {
        const std::lock_guard<std::mutex> lock(fHost);
        if (!fFirstFailure) fFirstFailure = std::move(e);
    }

    MCCommon_850::MCQueryCancel* fpCancel = nullptr;
    std::function<void(int, std::size_t)> fRecords;
    std::exception_ptr fFirstFailure;  // read once the parts have ended

private:
    std::mutex fHost;
    std::atomic<bool> fbCancelled{false};
    std::unique_ptr<std::atomic<std::size_t>[]> fpCounts;
    std::size_t fNParts;
};

namespace {

// A part's records, counted for the progress over all parts. It knows
// whether a pass is handing out records, which tells its part's cancel
// query how often to ask the caller.
template <class Shared>
class PartRecords : public MCCommon_850::MultiPassRecordIter {
public:
    PartRecords(std::unique_ptr<MCCommon_850::MultiPassRecordIter> inner, Shared& shared,
                std::size_t part)
        : fpInner(std::move(inner)), fShared(shared), fPart(part) {}

    // The pass's last count is published when the library finds the
    // records at an end, which spares asking the inner iterator after
    // every record.
    bool HasMore() const override {
        if (fpInner->HasMore()) return true;
        if (fbInPass) {
            fbInPass = false;
            if (fN > 0 && fShared.fRecords) {
                fShared.Count(fPart, fN);
                fShared.Report(fPass);
            }
        }
        return false;
    }
    MCCommon_850::Record* Next() override {
        MCCommon_850::Record* r = fpInner->Next();
        // Published every few thousand records: the parts' counts share a
        // cache line.
        if (r != nullptr && (++fN & 4095) == 0 && fShared.fRecords) {
            fShared.Count(fPart, fN);
            if ((fN & 0xffff) == 0) fShared.Report(fPass);
        }
        return r;
    }
    int GetFailReason() const override { return fpInner->GetFailReason(); }
    int NewPass() override {
        ++fPass;
        fN = 0;
        fbInPass = true;
        fShared.Count(fPart, 0);
        if (fPart == 0) fShared.Report(fPass);
        return fpInner->NewPass();
    }
    // Between NewPass and the end of its records.
    bool InPass() const { return fbInPass; }

private:
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> fpInner;
    Shared& fShared;
    std::size_t fPart;
    int fPass = 0;
    std::size_t fN = 0;
    mutable bool fbInPass = false;
};

// The library asks after every record and between the sweep's pivots.
// Within a pass every part asks the caller's query once in a thousand
// questions (the others would queue for the lock) and otherwise sees what
// any part last learnt. Outside its passes part 0 asks at every question,
// as a fit in one part does: a query may count the questions, as the
// program's does to show the sweep's progress.
template <class Shared>
class PartCancel : public MCCommon_850::MCQueryCancel {
public:
    PartCancel(Shared& shared, std::size_t part, const PartRecords<Shared>& records)
        : fShared(shared), fPart(part), fRecords(records) {}
    bool IsCancel() override {
        if (fPart == 0 && !fRecords.InPass()) return fShared.AskCancel();
        if ((++fNAsked & 1023) != 0) return fShared.Cancelled();
        return fShared.AskCancel();
    }

private:
    Shared& fShared;
    std::size_t fPart;
    const PartRecords<Shared>& fRecords;
    std::size_t fNAsked = 0;
};

// A part's thread holds a token while it runs.
class Token {
public:
    explicit Token(PartGroup& group) : fGroup(group) { fGroup.Acquire(); }
    ~Token() { fGroup.Release(); }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;

private:
    PartGroup& fGroup;
};

}  // namespace

PartedFit::PartedFit(const ModelSpec& spec, const FitOptions& options, Processes* processes,
                     int nParts)
    : fSpec(spec), fOptions(options), fpProcesses(processes), fNParts(std::max(1, nParts)) {}

PartedFit::~PartedFit() = default;

void PartedFit::Fit(MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress) {
    fvFitters.clear();
    fvRecords.clear();
    fvCancels.clear();
    fvProcesses.clear();
    const int running = fOptions.fThreads > 0 ? fOptions.fThreads : AvailableCores();
    MCCommon_850::PassReducer* outer = fpProcesses != nullptr ? fpProcesses->Reducer() : nullptr;
    fpGroup = std::make_unique<PartGroup>(fNParts, running, outer);
    fpShared = std::make_unique<Shared>(fNParts);
    fpShared->fpCancel = cancel;
    fpShared->fRecords = progress.fRecords;

    const std::size_t n = fSpec.GetNLocalRecords();
    const auto parts = static_cast<std::size_t>(fNParts);
    std::vector<FitProgress> said(parts);
    for (std::size_t k = 0; k < parts; ++k) {
        fvProcesses.push_back(
            std::make_unique<PartProcesses>(*fpGroup, static_cast<int>(k), fpProcesses));
        auto records = std::make_unique<PartRecords<Shared>>(
            fSpec.MakeRangeIterator(n * k / parts, n * (k + 1) / parts), *fpShared, k);
        fvCancels.push_back(std::make_unique<PartCancel<Shared>>(*fpShared, k, *records));
        fvRecords.push_back(std::move(records));
        FitOptions options = fOptions;
        options.fbSummary = k == 0;
        fvFitters.push_back(
            std::make_unique<ModelFitter>(fSpec, options, fvProcesses.back().get()));
        // Every part makes the same calls (a count of the parameters is a
        // pass of its own); part 0 alone tells the caller.
        if (progress.fParameters)
            said[k].fParameters = [this, k, &progress](std::size_t p) {
                if (k == 0) fpShared->Call([&] { progress.fParameters(p); });
            };
        if (progress.fIteration && k == 0)
            said[k].fIteration = [this, &progress](const IterationRow& row) {
                fpShared->Call([&] { progress.fIteration(row); });
            };
    }

    const auto run = [this, &said](std::size_t k) {
        try {
            const Token token(*fpGroup);
            fvFitters[k]->Fit(*fvRecords[k], fvCancels[k].get(), said[k]);
        } catch (...) {
            // The others may be waiting for this part at a meeting.
            fpShared->Fail(std::current_exception());
            fpGroup->Poison();
        }
    };
    // Part 0 runs on the calling thread: it makes the merges with the other
    // processes, and MPI may take calls from the thread that started it only.
    std::vector<std::thread> threads;
    bool started = true;
    try {
        for (std::size_t k = 1; k < parts; ++k) threads.emplace_back(run, k);
    } catch (const std::system_error& e) {
        // The parts started would wait for the others at their first merge.
        fpShared->Fail(std::make_exception_ptr(HostError(
            HostError::kData, std::string("cannot start the fit's threads: ") + e.what())));
        fpGroup->Poison();
        started = false;
    }
    if (started) run(0);
    for (std::thread& t : threads) t.join();
    fpGroup->Detach();
    if (fpShared->fFirstFailure) {
        fvFitters.clear();
        RethrowFitFailure(fpShared->fFirstFailure, fpProcesses);
    }
    // Every part holds the merged model: part 0's stays.
    fvFitters.resize(1);
    fvRecords.resize(1);
    fvCancels.resize(1);
}

}  // namespace mchost
