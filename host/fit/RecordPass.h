#pragma once
#include <cstddef>
#include <string>

#include "companion/MCStatus.h"
#include "companion/RecordIterator.h"
#include "data/MCRegRecordValidator.h"
#include "host/base/HostError.h"
#include "settings/IMCRegInterfaces.h"

namespace mchost {

// The next record of a pass the host makes over the records itself, after
// HasMore said there is one. A stream that then has none (a temporary file
// that cannot be read back) is an error: taken for the end of the data, it
// would leave the records after it out unseen.
inline const MCCommon_850::Record& NextRecord(MCCommon_850::MultiPassRecordIter& records) {
    const MCCommon_850::Record* record = records.Next();
    if (record == nullptr)
        throw HostError(HostError::kData, "the records could not be read back (failure " +
                                              std::to_string(records.GetFailReason()) + ")");
    return *record;
}

// One pass over the records, calling visit(record, used) for each in order;
// the records the library calls valid are the ones the fit used. cancel,
// when given, is polled every few thousand records; a cancel throws
// HostError (interrupted).
template <class Visit>
void ForEachRecord(const MCMath_850::IMCRegOutputStats& stats,
                   MCCommon_850::MultiPassRecordIter& records, MCCommon_850::MCQueryCancel* cancel,
                   Visit&& visit) {
    const MCMath_850::MCRegRecordValidator& validator = stats.GetRecordValidator();
    records.NewPass();
    std::size_t n = 0;
    while (records.HasMore()) {
        const MCCommon_850::Record& record = NextRecord(records);
        if ((++n & 4095) == 0 && cancel != nullptr && cancel->IsCancel())
            throw HostError(HostError::kInterrupted, "interrupted");
        MCCommon_850::MCStatus status;
        visit(record, validator.IsValidRecord(record, status));
    }
}

}  // namespace mchost
