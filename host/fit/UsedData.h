#pragma once
#include <vector>

#include "companion/RecordIterator.h"
#include "host/fit/FittedModel.h"
#include "host/run/Processes.h"

namespace mchost {

// Figures of the records a fit used, from one more pass over them.
class UsedData {
public:
    // Per covariate, in the settings' order: the smallest and largest value
    // and the mean counting each record by its frequency weight (the sample
    // mean; a regression weight says how precise a response is, not how
    // often a covariate value occurs).
    std::vector<double> fvMin, fvMax, fvMean;
    double fFreqWeight = 0.0;  // behind the covariates' means
    // The dependent, weighted by frequency times regression weight: the
    // total weight, the sum of squares about zero and about the mean.
    double fWeight = 0.0;
    double fMean = 0.0;
    double fRawSS = 0.0;
    double fCorrectedSS = 0.0;
};

// One pass over the records (from the fitted model's iterator); the records
// the library calls valid are the ones the fit used. cancel, when given, is
// polled; a cancel throws HostError (interrupted).
UsedData SummariseUsedData(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                           MCCommon_850::MCQueryCancel* cancel);

// The figures of all the parts of a fit split over several processes, on
// every process; nothing for one process.
void MergeUsedData(UsedData& used, Processes& processes);

}  // namespace mchost
