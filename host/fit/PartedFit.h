#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/fit/ModelFitter.h"
#include "host/model/ModelSpec.h"
#include "host/run/PartGroup.h"
#include "host/run/Processes.h"

namespace mchost {

// How many parts a fit of spec's records is made of: one per 64 Ki records
// up to 16, and fewer when the parts' copies of the model's largest
// matrices would take too much memory; one for a cluster-robust
// covariance, whose parts would merge a slot of sums per cluster. The
// data and the model decide it, never the number of threads, so that a
// fit gives the same bits on any machine with any --threads.
int FitPartCount(const ModelSpec& spec, bool logistic);

// A fit made in parts on threads of this process: part k fits records
// [k n / K, (k+1) n / K) with a fitter and component of its own, and the
// parts merge every pass through a PartGroup into one model, which every
// part then holds. Part 0's fitter is kept; the others go when the fit ends.
class PartedFit {
public:
    // spec and processes (null for one process) must outlive it.
    PartedFit(const ModelSpec& spec, const FitOptions& options, Processes* processes, int nParts);
    ~PartedFit();
    PartedFit(const PartedFit&) = delete;
    PartedFit& operator=(const PartedFit&) = delete;

    // Runs every part on a thread of its own (part 0 on the caller's),
    // options.fThreads of them at a time. cancel, polled by every part,
    // must outlive the object. Throws what the first part that failed
    // threw (LibraryError, HostError); over several processes a HostError
    // that only this process met comes as a LocalError.
    void Fit(MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress);

    // After Fit: part 0's fitter, which holds the merged model.
    ModelFitter& Fitter() { return *fvFitters.front(); }
    int Parts() const { return fNParts; }

private:
    class Shared;

    const ModelSpec& fSpec;
    FitOptions fOptions;
    Processes* fpProcesses;
    int fNParts;
    // Declared in the order they may go: the fitters first.
    std::unique_ptr<PartGroup> fpGroup;
    std::unique_ptr<Shared> fpShared;
    std::vector<std::unique_ptr<PartProcesses>> fvProcesses;
    std::vector<std::unique_ptr<MCCommon_850::MCQueryCancel>> fvCancels;
    std::vector<std::unique_ptr<MCCommon_850::MultiPassRecordIter>> fvRecords;
    std::vector<std::unique_ptr<ModelFitter>> fvFitters;
};

}  // namespace mchost
