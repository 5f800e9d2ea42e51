// The used-data figures of a fit split over several processes: extremes as
// extremes, means as weighted sums, sums of squares about the mean by the
// parallel formula (each part's about its own mean, plus its weight times
// its mean's squared distance from the whole mean).
#include "host/base/HostError.h"
#include "host/fit/UsedData.h"

namespace mchost {

namespace {

void Require(bool ok) {
    if (!ok) throw HostError(HostError::kData, "the processes could not merge their figures");
}

}  // namespace

void MergeUsedData(UsedData& used, Processes& processes) {
    MCCommon_850::PassReducer* reducer = processes.Reducer();
    if (!processes.IsSplit() || reducer == nullptr) return;
    Require(reducer->Min(used.fvMin) && reducer->Max(used.fvMax));

    const std::size_t nCov = used.fvMean.size();
    std::vector<double> sums;
    for (double m : used.fvMean)
        sums.push_back(used.fFreqWeight > 0.0 ? used.fFreqWeight * m : 0.0);
    sums.push_back(used.fFreqWeight);
    sums.push_back(used.fWeight);
    sums.push_back(used.fWeight * used.fMean);
    sums.push_back(used.fRawSS);
    processes.Sum(sums);
    const double freq = sums[nCov], weight = sums[nCov + 1];
    for (std::size_t c = 0; c < nCov; ++c) used.fvMean[c] = freq > 0.0 ? sums[c] / freq : 0.0;
    const double mean = weight > 0.0 ? sums[nCov + 2] / weight : 0.0;
    std::vector<double> ss{used.fCorrectedSS +
                           used.fWeight * (used.fMean - mean) * (used.fMean - mean)};
    processes.Sum(ss);
    used.fFreqWeight = freq;
    used.fWeight = weight;
    used.fMean = mean;
    used.fRawSS = sums[nCov + 3];
    used.fCorrectedSS = ss[0];
}

}  // namespace mchost
