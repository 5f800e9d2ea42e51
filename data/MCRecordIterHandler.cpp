#include "data/MCRecordIterHandler.h"

namespace MCMath_850 {

using MCCommon_850::MCStatus;
using MCCommon_850::Record;

namespace {

const long kStatusRowRefused = 303;
const long kStatusNoRecord = 304;
const long kStatusNoRestart = 307;

// The dependent's value truncated to an int; -1 (no category) for a value
// that has none, which the accumulator refuses.
int TruncatedCategory(double v) {
    if (!(v > -1.0 && v < 2147483647.0)) return -1;
    return static_cast<int>(v);
}

}  // namespace

MCRecordIterHandler::MCRecordIterHandler(MCCommon_850::MultiPassRecordIter& iter,
                                         MCCancelInfo& cancelInfo,
                                         const MCRegRecordValidator& validator, int depVar,
                                         int freqWeightVar, int regrWeightVar)
    : fpIter(&iter),
      fpCancel(&cancelInfo),
      fDepVar(depVar),
      fFreqWeightVar(freqWeightVar),
      fRegrWeightVar(regrWeightVar),
      fpValidator(&validator) {}

void MCRecordIterHandler::SetStatsModel(IMCAccumStats* accum, const IMCRegModel* model) {
    fpAccum = accum;
    fpModel = model;
}

bool MCRecordIterHandler::ResetAccumStats(MCConst::MCHessianCompMethod method,
                                          bool checkSeparation) {
    return fpAccum != nullptr && fpAccum->Reset(method, checkSeparation);
}

void MCRecordIterHandler::CleanStatsModel() {
    fpAccum = nullptr;
    fpModel = nullptr;
}

MCStatus MCRecordIterHandler::ComputeStatsForOptimizer(bool likelihoodOnly) {
    MCStatus result = fStatus;
    if (fpIter->NewPass() != 0) fStatus = MCStatus(kStatusNoRestart, false);
    if (result.IsError()) return result;
    if (fpModel == nullptr || fpAccum == nullptr) return MCStatus(kStatusRowRefused, false);

    // The accumulator wants the response as the model's local category index
    // (reference last), not as the raw code.
    const std::vector<int>& localCategory = fpModel->GetDepCatLocalInds();
    while (fpIter->HasMore() && !result.IsError()) {
        if (fpCancel->WillCancel()) return result;
        const Record* record = fpIter->Next();
        if (record == nullptr) return MCStatus(kStatusNoRecord, false);
        if (!fpValidator->IsValidRecord(*record, result)) continue;

        const double* values = record->GetAll();
        int count = 0;
        fvColumns.clear();
        fvValues.clear();
        // Every valid record's cells were seen by the factor-table pass; one
        // that is not (data changed between passes) cannot be expanded and is
        // left out like an invalid record.
        if (!fpModel->ExpandAndCompressRow(values, count, fvColumns, fvValues)) continue;
        if (count >= 0 && static_cast<std::size_t>(count) < fvColumns.size()) {
            fvColumns.resize(static_cast<std::size_t>(count));
            fvValues.resize(static_cast<std::size_t>(count));
        }

        double weight = fFreqWeightVar >= 0 ? values[fFreqWeightVar] : 1.0;
        if (fRegrWeightVar >= 0) weight *= values[fRegrWeightVar];
        int category = fDepVar >= 0 ? TruncatedCategory(values[fDepVar]) : 0;
        if (!localCategory.empty())
            category = (category >= 0 && category < static_cast<int>(localCategory.size()))
                           ? localCategory[static_cast<std::size_t>(category)]
                           : -1;

        if (fpAccum->UpdateForRow(fvColumns, fvValues, category, weight, likelihoodOnly) == -1) {
            fStatus = MCStatus(kStatusRowRefused, false);
            return fStatus;
        }
    }
    return result;
}

}  // namespace MCMath_850
