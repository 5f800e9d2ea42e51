#pragma once
#include <ostream>

#include "companion/RecordIterator.h"
#include "host/fit/FittedModel.h"

namespace mchost {

// One CSV row per record, in order: the predicted value and the residual
// (observed minus predicted) of each record the fit used; empty cells for a
// record it did not use.
void WriteGlmPredictions(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                         std::ostream& out);

}  // namespace mchost
