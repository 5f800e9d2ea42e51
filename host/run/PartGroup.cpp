#include "host/run/PartGroup.h"

#include <algorithm>
#include <thread>

#include "companion/DoubleDouble.h"
#include "host/base/HostError.h"

namespace mchost {

using MCCommon_850::PassReducer;

namespace {

bool SameLengths(const std::vector<std::vector<double>>& all) {
    for (const std::vector<double>& v : all)
        if (v.size() != all.front().size()) return false;
    return true;
}

// Element-wise, in part order.
template <class Op>
bool Fold(const std::vector<std::vector<double>>& all, std::vector<double>& out, Op op) {
    if (!SameLengths(all)) return false;
    out = all.front();
    for (std::size_t k = 1; k < all.size(); ++k)
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = op(out[i], all[k][i]);
    return true;
}

// A gathered list of lists travels as one: the number of lists, each
// one's length, then their values one after another.
std::vector<double> Pack(const std::vector<std::vector<double>>& lists) {
    std::vector<double> packed{static_cast<double>(lists.size())};
    for (const auto& l : lists) packed.push_back(static_cast<double>(l.size()));
    for (const auto& l : lists) packed.insert(packed.end(), l.begin(), l.end());
    return packed;
}

bool Unpack(const std::vector<double>& packed, std::size_t& at,
            std::vector<std::vector<int>>& lists) {
    if (at >= packed.size()) return false;
    const auto n = static_cast<std::size_t>(packed[at++]);
    if (packed.size() - at < n) return false;
    std::vector<std::size_t> lengths;
    for (std::size_t k = 0; k < n; ++k) lengths.push_back(static_cast<std::size_t>(packed[at++]));
    for (std::size_t len : lengths) {
        if (packed.size() - at < len) return false;
        lists.emplace_back();
        for (std::size_t i = 0; i < len; ++i)
            lists.back().push_back(static_cast<int>(packed[at++]));
    }
    return true;
}

class PartReducer : public PassReducer {
public:
    PartReducer(PartGroup& group, int part) : fGroup(group), fPart(part) {}

    bool Sum(std::vector<double>& values) override {
        return Merge(values, &PassReducer::Sum, [](const auto& all, auto& out) {
            return Fold(all, out, [](double a, double b) { return a + b; });
        });
    }
    bool SumExtended(std::vector<double>& pairs) override {
        return Merge(pairs, &PassReducer::SumExtended, [](const auto& all, auto& out) {
            if (!SameLengths(all) || all.front().size() % 2 != 0) return false;
            out.assign(all.front().size(), 0.0);
            for (std::size_t i = 0; i < out.size(); i += 2) {
                MCMath_850::DoubleDouble::DD s{0.0, 0.0};
                for (const auto& v : all)
                    s = MCMath_850::DoubleDouble::Add(s,
                                                      MCMath_850::DoubleDouble::DD{v[i], v[i + 1]});
                out[i] = s.hi;
                out[i + 1] = s.lo;
            }
            return true;
        });
    }
    bool Min(std::vector<double>& values) override {
        return Merge(values, &PassReducer::Min, [](const auto& all, auto& out) {
            return Fold(all, out, [](double a, double b) { return std::min(a, b); });
        });
    }
    bool Max(std::vector<double>& values) override {
        return Merge(values, &PassReducer::Max, [](const auto& all, auto& out) {
            return Fold(all, out, [](double a, double b) { return std::max(a, b); });
        });
    }
    bool Gather(const std::vector<int>& mine, std::vector<std::vector<int>>& all) override {
        PassReducer* outer = fGroup.Outer();
        all.clear();
        if (fGroup.IsDetached()) {
            if (outer != nullptr) return outer->Gather(mine, all);
            all.push_back(mine);
            return true;
        }
        std::vector<double> values(mine.begin(), mine.end());
        const bool ok = fGroup.Meet(fPart, values, [outer](const auto& lists, auto& out) {
            out = Pack(lists);
            if (outer == nullptr) return true;
            // One list per process, each the packed lists of its parts.
            std::vector<int> packed(out.begin(), out.end());
            std::vector<std::vector<int>> processes;
            if (!outer->Gather(packed, processes)) return false;
            out.clear();
            for (const auto& p : processes) out.insert(out.end(), p.begin(), p.end());
            return true;
        });
        if (!ok) return false;
        std::size_t at = 0;
        while (at < values.size())
            if (!Unpack(values, at, all)) return false;
        return true;
    }

    // Part 0 solves; once the parts are detached it is alone and leads.
    bool Leads() const override { return fPart == 0 || fGroup.IsDetached(); }
    bool Share(std::vector<double>& values) override {
        if (fGroup.IsDetached()) return true;
        return fGroup.Meet(fPart, values, [](const auto& all, auto& out) {
            out = all.front();
            return true;
        });
    }

private:
    using OuterOp = bool (PassReducer::*)(std::vector<double>&);
    bool Merge(std::vector<double>& values, OuterOp op, const PartGroup::Combine& local) {
        PassReducer* outer = fGroup.Outer();
        if (fGroup.IsDetached()) return outer == nullptr || (outer->*op)(values);
        return fGroup.Meet(fPart, values, [&](const auto& all, auto& out) {
            return local(all, out) && (outer == nullptr || (outer->*op)(out));
        });
    }

    PartGroup& fGroup;
    int fPart;
};

}  // namespace

PartGroup::PartGroup(int nParts, int nRunning, PassReducer* outer)
    : fNParts(std::max(1, nParts)),
      fpOuter(outer),
      fNTokens(std::max(1, nRunning)),
      fvDeposits(static_cast<std::size_t>(fNParts)) {
    for (int k = 0; k < fNParts; ++k) fvReducers.push_back(std::make_unique<PartReducer>(*this, k));
}

PartGroup::~PartGroup() = default;

PassReducer& PartGroup::Reducer(int part) {
    return *fvReducers.at(static_cast<std::size_t>(part));
}

void PartGroup::Acquire() {
    std::unique_lock<std::mutex> lock(fTokenMutex);
    fTokenFreed.wait(lock, [&] { return fNTokens > 0; });
    --fNTokens;
}

void PartGroup::Release() {
    {
        const std::lock_guard<std::mutex> lock(fTokenMutex);
        ++fNTokens;
    }
    fTokenFreed.notify_one();
}

void PartGroup::Poison() {
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fbPoisoned = true;
    }
    fChanged.notify_all();
}

void PartGroup::Detach() {
    const std::lock_guard<std::mutex> lock(fMutex);
    fbDetached = true;
}

bool PartGroup::Meet(int part, std::vector<double>& values, const Combine& combine) {
    // Waiting takes no token: the parts still at work get them.
    Release();
    const bool ok = MeetLocked(part, values, combine);
    Acquire();
    return ok;
}

bool PartGroup::MeetLocked(int part, std::vector<double>& values, const Combine& combine) {
    std::unique_lock<std::mutex> lock(fMutex);
    if (fbPoisoned) return false;
    fvDeposits[static_cast<std::size_t>(part)] = values;
    ++fNArrived;
    if (part != 0) {
        const long generation = fGeneration;
        fChanged.notify_all();
        fChanged.wait(lock, [&] { return fGeneration != generation || fbPoisoned; });
        if (fGeneration == generation) return false;
        values = fvResult;
        return fbResultOk;
    }
    fChanged.wait(lock, [&] { return fNArrived == fNParts || fbPoisoned; });
    if (fbPoisoned) return false;
    fNArrived = 0;
    // The other parts wait for the next generation and touch neither the
    // deposits nor the result until then; the merge (over the processes
    // too) runs unlocked.
    lock.unlock();
    std::vector<double> result;
    const bool ok = combine(fvDeposits, result);
    lock.lock();
    fvResult = std::move(result);
    fbResultOk = ok;
    ++fGeneration;
    fChanged.notify_all();
    values = fvResult;
    return ok;
}

void PartProcesses::Sum(std::vector<double>& values) {
    if (!Reducer()->Sum(values))
        throw HostError(HostError::kData, "the parts of the fit could not merge their figures");
}

}  // namespace mchost
