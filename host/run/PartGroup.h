#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "companion/PassReducer.h"
#include "host/run/Processes.h"

namespace mchost {

// The parts of one fit that the threads of one process make together, each
// over its own range of the records, merged as the processes of a split fit
// are: at every merge all parts meet, part 0 adds their values in part
// order (and, with several processes, merges the sum with theirs through
// the processes' reducer), and every part leaves with the same result. So
// the merged model depends on the number of parts, never on how many run
// at once.
//
// At most nRunning parts compute at a time: a part holds a token while it
// works and gives it up while it waits at a meeting, so any nRunning >= 1
// finishes. A part that fails between meetings poisons the group: every
// meeting waiting or to come then fails, and the library stops every part
// with a status instead of leaving them waiting.
class PartGroup {
public:
    PartGroup(int nParts, int nRunning, MCCommon_850::PassReducer* outer);
    ~PartGroup();
    PartGroup(const PartGroup&) = delete;
    PartGroup& operator=(const PartGroup&) = delete;

    int Size() const { return fNParts; }
    // What part gives the library to merge its passes.
    MCCommon_850::PassReducer& Reducer(int part);

    // The token a part's thread holds while it computes.
    void Acquire();
    void Release();

    void Poison();
    // Once the parts' threads have ended: part 0 alone is left, and its
    // reducer merges over the processes only.
    void Detach();
    bool IsDetached() const { return fbDetached; }
    MCCommon_850::PassReducer* Outer() const { return fpOuter; }

    // Every part's values in, part 0's combine(all, result) out to every
    // part; false when the group is poisoned or combine failed.
    using Combine =
        std::function<bool(const std::vector<std::vector<double>>& all, std::vector<double>& out)>;
    bool Meet(int part, std::vector<double>& values, const Combine& combine);

private:
    bool MeetLocked(int part, std::vector<double>& values, const Combine& combine);

    int fNParts;
    MCCommon_850::PassReducer* fpOuter;
    bool fbDetached = false;
    std::vector<std::unique_ptr<MCCommon_850::PassReducer>> fvReducers;

    std::mutex fTokenMutex;
    std::condition_variable fTokenFreed;
    int fNTokens;

    std::mutex fMutex;
    std::condition_variable fChanged;
    bool fbPoisoned = false;
    int fNArrived = 0;
    long fGeneration = 0;
    std::vector<std::vector<double>> fvDeposits;
    std::vector<double> fvResult;
    bool fbResultOk = false;
};

// One part of a fit as the fitter sees its processes: its merges go through
// the group (and from there over the processes).
class PartProcesses : public Processes {
public:
    PartProcesses(PartGroup& group, int part, Processes* outer)
        : fGroup(group), fPart(part), fpOuter(outer) {}

    int Rank() const override { return fpOuter != nullptr ? fpOuter->Rank() : 0; }
    int Size() const override {
        return (fGroup.IsDetached() ? 1 : fGroup.Size()) *
               (fpOuter != nullptr ? fpOuter->Size() : 1);
    }
    MCCommon_850::PassReducer* Reducer() override { return &fGroup.Reducer(fPart); }
    // Throws HostError (data) when the parts could not merge.
    void Sum(std::vector<double>& values) override;

private:
    PartGroup& fGroup;
    int fPart;
    Processes* fpOuter;
};

}  // namespace mchost
