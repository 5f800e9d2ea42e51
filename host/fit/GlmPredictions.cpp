#include "host/fit/GlmPredictions.h"

#include <cstdio>
#include <vector>

#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "data/MCRegRecordValidator.h"
#include "host/fit/GlmFit.h"
#include "host/fit/RecordPass.h"

namespace mchost {

void WriteGlmPredictions(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                         std::ostream& out) {
    out << "predicted,residual\n";
    const MCMath_850::MCRegRecordValidator& validator = model.fpStats->GetRecordValidator();
    const int dep = model.fpSettings->GetDependent();
    std::vector<double> unused;
    char line[64];
    records.NewPass();
    while (records.HasMore()) {
        const MCCommon_850::Record& record = NextRecord(records);
        MCCommon_850::MCStatus status;
        double value = 0.0;
        if (!validator.IsValidRecord(record, status)) {
            out << ",\n";
            continue;
        }
        // A record the fit used that cannot be scored (a cancel among
        // them) is no empty row: it ends the file.
        status = model.fpComponent->Score(record, value, unused);
        if (status.IsError()) ThrowLibraryError(status);
        if (MCCommon_850::MCMV::IsMissing(value)) {
            out << ",\n";
            continue;
        }
        std::snprintf(line, sizeof line, "%.17g,%.17g\n", value, record[dep] - value);
        out << line;
    }
}

}  // namespace mchost
