#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCStatus.h"

namespace MCCommon_850 {

// How a host whose records are split over several processes (one model
// fitted over all of them) merges what each pass accumulates. The host
// hands one to the settings; every process of the fit then makes the same
// calls in the same order at the end of each pass, and each call returns,
// on every process, the same merged values. With no reducer set the library
// fits the records it is given, as always. The library itself knows nothing
// of processes or networks: an implementation may use MPI, or threads in a
// test.
class MCREG_API PassReducer {
public:
    virtual ~PassReducer() = default;

    // Element-wise sums over the processes, the same length everywhere.
    virtual bool Sum(std::vector<double>& values) = 0;
    // The same for sums kept in double-double: values holds (high, low)
    // pairs, and the sums must keep both parts (add the pairs in process
    // order, in extended precision).
    virtual bool SumExtended(std::vector<double>& pairs) = 0;
    virtual bool Min(std::vector<double>& values) = 0;
    virtual bool Max(std::vector<double>& values) = 0;
    // Every process's list, in process order; the lists may differ in length.
    virtual bool Gather(const std::vector<int>& mine, std::vector<std::vector<int>>& all) = 0;

    // Members that share one process's memory (the parts of a fit made on
    // threads) hold the same merged sums and would each make the same
    // solve from them. A reducer may let one of them lead: only it solves,
    // and Share hands what it found to the others. Lead says whether this
    // member solves; Share, called by every member alike, leaves the
    // leader's values with every member (a leader's own are kept). Over
    // processes every member leads, each making its own solve without a
    // message.
    virtual bool Leads() const { return true; }
    virtual bool Share(std::vector<double>& values) {
        (void)values;
        return true;
    }
};

// Makes every process hold the same status after a pass: the error of the
// first process that has one, with its data, or else this process's own
// status. False when the reducer failed.
MCREG_API bool AgreeStatus(PassReducer& reducer, MCStatus& status);

}  // namespace MCCommon_850
