#pragma once
#include <functional>
#include <string>
#include <vector>

#include "companion/PassReducer.h"

namespace mchost {

// The processes that fit one model together, each over its own part of the
// records (one file per process). One process is the common case, and then
// every call below is trivial. An implementation over MPI lives with the
// program; the host itself knows no transport.
//
// Every process must make the same calls in the same order.
class Processes {
public:
    virtual ~Processes() = default;

    virtual int Rank() const { return 0; }
    virtual int Size() const { return 1; }
    bool IsSplit() const { return Size() > 1; }

    // What the library calls to merge each pass; null for one process.
    virtual MCCommon_850::PassReducer* Reducer() { return nullptr; }
    // Every process's list, in process order.
    virtual std::vector<std::vector<std::string>> GatherTexts(const std::vector<std::string>& mine);
    // Element-wise sums over the processes, added in process order.
    virtual void Sum(std::vector<double>& values);
    // Every process's text, in process order, to write on process 0: each
    // process takes its pieces from next until it returns false; process
    // 0 writes its own, then each other process's as they arrive, which
    // send theirs and write nothing. Neither may throw: a process that
    // stopped half way would leave the others waiting.
    virtual void InOrder(const std::function<bool(std::string&)>& next,
                         const std::function<void(const std::string&)>& write);

    // Runs step on every process. When it throws a HostError on any
    // process, every process throws the error of the first process that
    // failed, after all have run their step: no process is left waiting
    // for another at its next merge.
    void Agreed(const std::function<void()>& step);

    // A step's failure on one process: kind 0 for none, a HostError::Kind,
    // or -1 for a formula error whose span is in pos and len.
    struct Failure {
        int kind = 0;
        std::string message;
        long pos = 0;
        long len = 0;
        int rank = -1;
    };

protected:
    // The failure of the first process that has one, seen by every process.
    virtual Failure FirstFailure(const Failure& mine);
};

// Replaces "{rank}" in a file name with the process's rank. With several
// processes a name without it would have every process read, or write, the
// same file: a usage error naming the option.
std::string PartName(const std::string& pattern, const Processes& processes,
                     const std::string& option);

}  // namespace mchost
