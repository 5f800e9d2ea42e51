#include "data/MCRecordIterHandler.h"

#include <algorithm>

#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "data/MCCellRowCache.h"
#include "data/MCFactorTables.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;
using MCCommon_850::Record;

namespace {

// Cells numbered directly at most; beyond, records are summed one by one.
const long long kMaxCells = 1 << 20;

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
    fRows.Clear();
    SetUpCells();
}

void MCRecordIterHandler::SetUpCells() {
    fbCells = false;
    fvCellEffects.clear();
    fvCellOffsets.clear();
    fvCellStrides.clear();
    const MCFactorTables* tables = fpModel != nullptr ? fpModel->GetFactorTables() : nullptr;
    if (tables == nullptr || fpAccum == nullptr) return;
    long long cells = 1;
    const std::vector<int>& offsets = tables->GetParameterOffsets();
    for (int e : tables->GetModelEffectIndices()) {
        const int n = std::max(tables->GetNEffectParameters(e), 1);
        fvCellEffects.push_back(Ix(e));
        fvCellOffsets.push_back(offsets[Ix(e)]);
        fvCellStrides.push_back(static_cast<int>(cells));
        cells *= n;
        if (cells > kMaxCells) return;
    }
    fbCells = true;
}

int MCRecordIterHandler::CellNumber(const std::vector<int>& indices) const {
    int cell = 0;
    for (std::size_t f = 0; f < fvCellEffects.size(); ++f)
        cell += (indices[fvCellEffects[f]] - fvCellOffsets[f]) * fvCellStrides[f];
    return cell;
}

bool MCRecordIterHandler::ResetAccumStats(MCConst::MCHessianCompMethod method,
                                          bool checkSeparation) {
    return fpAccum != nullptr && fpAccum->Reset(method, checkSeparation);
}

void MCRecordIterHandler::CleanStatsModel() {
    fpAccum = nullptr;
    fpModel = nullptr;
    fRows.Clear();
}

MCStatus MCRecordIterHandler::ComputeStatsForOptimizer(bool likelihoodOnly) {
    MCStatus result = fStatus;
    const int restart = fpIter->NewPass();
    if (restart != 0 && !(fbPartOfSplit && restart == MCCommon_850::kIterEnd))
        fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    if (result.IsError()) return result;
    if (fpModel == nullptr || fpAccum == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    // A pass whose records could not be restarted reads none, as before.
    if (restart != 0) fRows.GiveUp();
    if (fRows.IsComplete()) return Replay(likelihoodOnly);
    fRows.BeginFill();
    result = ReadPass(likelihoodOnly, result);
    // A pass cut short (an error, a cancel) is not one to replay; the next
    // pass that reads the records fills the rows afresh.
    if (!result.IsError() && !fStatus.IsError() && !fpIter->HasMore()) {
        fRows.EndFill();
        fReplayResult = result;
    }
    return result;
}

MCStatus MCRecordIterHandler::Replay(bool likelihoodOnly) {
    // Every cell was made by the pass that kept the rows, so its layout is
    // not needed (without it an unknown cell is refused). The cancel is
    // asked every few rows: a row takes far less than a record did, and
    // the query may take a lock.
    const std::size_t kRowsPerCancelQuery = 64;
    for (std::size_t r = 0; r < fRows.Size(); r += kRowsPerCancelQuery) {
        if (fpCancel->WillCancel()) return fReplayResult;
        const std::size_t n = std::min(kRowsPerCancelQuery, fRows.Size() - r);
        if (fpAccum->UpdateForCellRows(n, fRows.Cells(r), fRows.Categories(r), fRows.Weights(r),
                                       fRows.AllValues(r), fRows.NValues(), likelihoodOnly) != n) {
            fpAccum->FlushCells();
            fStatus = ErrorStatus(StatusCode::kMissingInput);
            return fStatus;
        }
    }
    fpAccum->FlushCells();
    return fReplayResult;
}

MCStatus MCRecordIterHandler::ReadPass(bool likelihoodOnly, MCStatus result) {
    // The accumulator wants the response as the model's local category index
    // (reference last), not as the raw code.
    const std::vector<int>& localCategory = fpModel->GetDepCatLocalInds();
    while (fpIter->HasMore() && !result.IsError()) {
        if (fpCancel->WillCancel()) return result;
        const Record* record = fpIter->Next();
        if (record == nullptr) return ErrorStatus(StatusCode::kNoRecordInPass);
        if (!fpValidator->IsValidFitRecord(*record, result)) continue;

        const double* values = record->GetAll();
        double weight = fFreqWeightVar >= 0 ? values[fFreqWeightVar] : 1.0;
        if (fRegrWeightVar >= 0) weight *= values[fRegrWeightVar];
        int category = fDepVar >= 0 ? TruncatedCategory(values[fDepVar]) : 0;
        if (!localCategory.empty())
            category = (category >= 0 && category < static_cast<int>(localCategory.size()))
                           ? localCategory[Ix(category)]
                           : -1;

        // Every valid record's cells were seen by the factor-table pass; one
        // that is not (data changed between passes) cannot be expanded and is
        // left out like an invalid record.
        int used;
        bool allFound = true;
        const std::vector<int>* indices =
            fbCells ? &fpModel->GetFactorTables()->GetRowParameterIndices(values, allFound)
                    : nullptr;
        if (indices != nullptr && !allFound) continue;
        const int cell = indices != nullptr ? CellNumber(*indices) : -1;
        int nSources = 0;
        if (cell >= 0 &&
            (fpAccum->HasCell(cell) ||
             fpModel->GetCellLayout(*indices, fvColumns, fvSources, nSources)) &&
            fpAccum->UseCell(cell, fvColumns, fvSources, nSources) &&
            fpModel->GetSourceValues(values, fvValues)) {
            used = fpAccum->UpdateForCellRow(fvValues, category, weight, likelihoodOnly);
            if (used == 0) fRows.Add(cell, category, weight, fvValues);
        } else {
            fRows.GiveUp();
            int count = 0;
            const bool expanded =
                indices != nullptr
                    ? fpModel->ExpandAndCompressRow(values, *indices, count, fvColumns, fvValues)
                    : fpModel->ExpandAndCompressRow(values, count, fvColumns, fvValues);
            if (!expanded) continue;
            used = fpAccum->UpdateForRow(fvColumns, fvValues, category, weight, likelihoodOnly);
        }
        if (used == -1) {
            fpAccum->FlushCells();
            fStatus = ErrorStatus(StatusCode::kMissingInput);
            return fStatus;
        }
    }
    fpAccum->FlushCells();
    return result;
}

}  // namespace MCMath_850
