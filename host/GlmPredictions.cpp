#include "host/GlmPredictions.h"

#include <cstdio>
#include <vector>

#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "data/MCRegRecordValidator.h"

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
        const MCCommon_850::Record* record = records.Next();
        if (record == nullptr) break;
        MCCommon_850::MCStatus status;
        double value = 0.0;
        if (!validator.IsValidRecord(*record, status) ||
            model.fpComponent->Score(*record, value, unused).IsError() ||
            MCCommon_850::MCMV::IsMissing(value)) {
            out << ",\n";
            continue;
        }
        std::snprintf(line, sizeof line, "%.17g,%.17g\n", value, (*record)[dep] - value);
        out << line;
    }
}

}  // namespace mchost
