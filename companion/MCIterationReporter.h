#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// What an iterative fit reports to the host's progress listener after an
// iteration: the estimates, the iteration number (0 for the start), the
// step-halvings of the last step, the log-likelihood and the seconds since
// the fit began. One object is reused for every report of a fit.
class MCREG_API MCIterationReporter {
public:
    void SetInfo(const std::vector<double>& estimates, int iteration, int halvings,
                 double logLikelihood, double seconds) {
        fvEstimates = estimates;
        fIteration = iteration;
        fHalvings = halvings;
        fLogLikelihood = logLikelihood;
        fSeconds = seconds;
    }

    const std::vector<double>& GetEstimates() const { return fvEstimates; }
    int GetIteration() const { return fIteration; }
    int GetHalvings() const { return fHalvings; }
    double GetLogLikelihood() const { return fLogLikelihood; }
    double GetSeconds() const { return fSeconds; }

private:
    std::vector<double> fvEstimates;
    int fIteration = 0;
    int fHalvings = 0;
    double fLogLikelihood = 0.0;
    double fSeconds = 0.0;
};

}  // namespace MCMath_850
