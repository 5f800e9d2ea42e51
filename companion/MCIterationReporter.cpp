#include "companion/MCIterationReporter.h"

#include "companion/RecordIterator.h"

namespace MCCommon_850 {

void ProgressListener::ReportIteration(const MCMath_850::MCIterationReporter& report) {
    Progress(report.GetIteration(), report.GetLogLikelihood());
}

}  // namespace MCCommon_850
