#pragma once
#include "companion/RecordIterator.h"
#include "host/base/HostError.h"

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

}  // namespace mchost
