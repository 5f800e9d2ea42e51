#include "logistic/MCPatternTabulator.h"

#include <new>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorTables.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCCommon_850::RecordIterator;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// Keys are packed: several bounded local indices share one int, so a key of
// many effects stays short.
const bool usePacking = true;
const int kTableBuckets = 89;

}  // namespace

MCPatternTabulator::MCPatternTabulator(const MCLogRegSettings& settings,
                                       const MCRecordExtractor& extractor, MCCancelInfo& cancel,
                                       bool createTable)
    : fFreqWeightOffset(extractor.GetFreqWeightOffset()),
      fRegrWeightOffset(extractor.GetRegrWeightOffset()),
      fDependentOffset(extractor.GetDependentOffset()),
      fNAnalysVars(extractor.GetNPositions()),
      fpExtractor(&extractor),
      fpCancel(&cancel),
      fNVarTypes(static_cast<int>(settings.GetVariableTypes().size())),
      fValidator(settings.GetVariableTypes(), settings.GetFactors(), settings.GetFactorSizes(),
                 settings.GetDependentNCategs()),
      fbSplit(settings.GetPassReducer() != nullptr) {
    if (createTable)
        fpRowPatternTable = std::make_unique<MCHashtable<MCRowPatterns>>(kTableBuckets);
    fpKey = std::make_unique<MCHashKey>(0);
}

MCPatternTabulator::~MCPatternTabulator() = default;

void MCPatternTabulator::SetStatsModel(IMCAccumStats* accum, const IMCRegModel* model) {
    fpAccum = accum;
    fpModel = model;
}

bool MCPatternTabulator::ResetAccumStats(MCConst::MCHessianCompMethod method,
                                         bool checkSeparation) {
    return fpAccum != nullptr && fpAccum->Reset(method, checkSeparation);
}

void MCPatternTabulator::CleanStatsModel() {
    fpAccum = nullptr;
    fpModel = nullptr;
}

const Record* MCPatternTabulator::NextRecord(RecordIterator& iter) {
    const Record* record = iter.Next();
    if (record == nullptr) {
        fStatus = ErrorStatus(StatusCode::kNoRecordInFirstPass);
        return nullptr;
    }
    if (record->Size() < fNVarTypes) {
        MCStatus s = ErrorStatus(StatusCode::kShortRecord);
        s.SetDiscreteDatum(1, record->Size());
        s.SetDiscreteDatum(2, fNVarTypes);
        fStatus = s;
        return nullptr;
    }
    ++fRecordCount;
    return record;
}

MCStatus MCPatternTabulator::FillFactorTable(RecordIterator& iter, MCFactorTables& tables) {
    if (!fbSplit && !iter.HasMore()) return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    while (!fStatus.IsError() && iter.HasMore() && !fpCancel->WillCancel()) {
        const Record* record = NextRecord(iter);
        if (record == nullptr) break;
        if (!fValidator.IsValidFitRecord(*record, fStatus)) continue;
        if (record->Size() == 0) {
            fStatus = ErrorStatus(StatusCode::kPatternWithoutValues);
            break;
        }
        tables.UpdateAll(*record);
        ++fValidCount;
    }
    if (fStatus.IsError()) return fStatus;
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    fbFactorTableFilled = true;
    // A process of a split fit checks the totals once they are merged.
    if (fbSplit) return fStatus;
    if (fValidCount == 0) return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    if (!(tables.GetTotalWeight() > 0.0)) {
        MCStatus s = ErrorStatus(StatusCode::kNoPositiveWeight);
        s.SetScaleDatum(1, tables.GetTotalWeight());
        return fStatus = s;
    }
    return fStatus;
}

void MCPatternTabulator::MakeKey(const std::vector<int>& localIndices, MCHashKey& key) const {
    if (fbPacking) {
        fPacker.Pack(localIndices, fvPacked);
        key.Resize(static_cast<int>(fvPacked.size()));
        for (std::size_t i = 0; i < fvPacked.size(); ++i) key[static_cast<int>(i)] = fvPacked[i];
    } else {
        key.Resize(static_cast<int>(localIndices.size()));
        for (std::size_t i = 0; i < localIndices.size(); ++i)
            key[static_cast<int>(i)] = localIndices[i];
    }
    key.ComputeHash();
}

MCStatus MCPatternTabulator::CreateRowPatterns(RecordIterator& iter, const MCFactorTables& tables,
                                               const IMCRegModel& model) {
    fValidCount = 0;
    fvDepCategories = model.GetDependCategories();
    fvDepLocal = model.GetDepCatLocalInds();
    fpModelEffectIndices = &tables.GetModelEffectIndices();
    fpLocalEffectIndices = &tables.GetLocalEffectIndices();
    fpParameterOffsets = &tables.GetParameterOffsets();
    fNFactorEffects = tables.GetNFactorEffects();
    fNAllEffects = tables.GetNModelEffects();

    fvBounds.clear();
    for (int e : *fpModelEffectIndices) {
        const int n = tables.GetNEffectParameters(e);
        fvBounds.push_back(n > 0 ? n : 1);
    }
    fbPacking = usePacking && fNFactorEffects > 0 && fPacker.SetBounds(fvBounds);
    if (fbPacking) {
        fPacker.Pack(fvBounds, fvPackedBounds);
        fNPackedKey = fPacker.GetNPacked();
    } else {
        fvPackedBounds = fvBounds;
        fNPackedKey = static_cast<int>(fvBounds.size());
    }
    fpKey = std::make_unique<MCHashKey>(fNPackedKey);

    if (!fbSplit && !iter.HasMore()) return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    if (fbRowPatternsCreated || !fpRowPatternTable)
        return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
    while (!fStatus.IsError() && iter.HasMore() && !fpCancel->WillCancel()) {
        const Record* record = NextRecord(iter);
        if (record == nullptr) break;
        if (!fValidator.IsValidFitRecord(*record, fStatus)) continue;
        if (!ProcessRowPattern(*record, tables).IsError()) ++fValidCount;
    }
    if (fStatus.IsError()) return fStatus;
    // A cancel before the first valid record left none: it is the cancel.
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    if (fValidCount == 0 && !fbSplit) return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    fbRowPatternsCreated = true;
    return fStatus;
}

MCStatus MCPatternTabulator::ProcessRowPattern(const Record& record, const MCFactorTables& tables) {
    if (record.Size() == 0) return fStatus = ErrorStatus(StatusCode::kPatternWithoutValues);
    bool allFound = true;
    const std::vector<int>& local = tables.GetRowLocalParamIndices(record.GetAll(), allFound);
    // A record whose cell the factor pass never saw (data changed between the
    // passes) cannot be expanded; it is left out like an invalid record.
    if (!allFound) return fStatus;
    MakeKey(local, *fpKey);

    MCRowPatterns* pattern = fpRowPatternTable->GetValue(fpKey.get());
    if (pattern == nullptr) {
        auto key = std::make_unique<MCHashKey>(*fpKey);
        auto value = std::make_unique<MCRowPatterns>();
        if (!fpRowPatternTable->Put(key.get(), value.get()))
            return fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        key.release();
        pattern = value.release();
    }
    double* stored;
    stored = pattern->Append(Ix(fNAnalysVars));
    fpExtractor->Extract(record.GetAll(), stored);
    const int code = MCCategoryIndex(stored[fDependentOffset], 0);
    stored[fDependentOffset] =
        code >= 0 && Ix(code) < fvDepLocal.size() ? fvDepLocal[Ix(code)] : -1;
    return fStatus;
}

bool MCPatternTabulator::PatternIndices(const MCHashKey& key, std::vector<int>& indices) const {
    if (fbPacking) {
        if (!fPacker.Unpack(key.GetAll(), key.Size(), fvLocal)) return false;
    } else {
        fvLocal = key.GetValues();
    }
    indices = *fpParameterOffsets;
    for (std::size_t fe = 0; fe < fvLocal.size() && fe < fpModelEffectIndices->size(); ++fe)
        indices[Ix((*fpModelEffectIndices)[fe])] += fvLocal[fe];
    return true;
}

MCStatus MCPatternTabulator::ComputeStatsForOptimizer(bool likelihoodOnly) {
    if (!fbRowPatternsCreated) return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
    if (fpAccum == nullptr || fpModel == nullptr)
        return fStatus = ErrorStatus(StatusCode::kMissingInput);
    std::vector<int> indices;
    int pattern = 0;
    for (auto it = fpRowPatternTable->begin(); it != fpRowPatternTable->end(); ++it) {
        if (fStatus.IsError() || fpCancel->WillCancel()) break;
        if (!PatternIndices(*it->fpKey, indices))
            return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
        // The records of a pattern share their columns: when the model and
        // the accumulator can, they are summed by source values and spread
        // over the columns once per pattern.
        int nSources = 0;
        const bool cell = fpModel->GetCellLayout(indices, fvColumns, fvSources, nSources) &&
                          fpAccum->UseCell(pattern, fvColumns, fvSources, nSources);
        ++pattern;
        const std::vector<double>& data = it->fpValue->GetAllRecords();
        const std::size_t stride = Ix(fNAnalysVars);
        for (std::size_t at = 0; at + stride <= data.size(); at += stride) {
            if (fpCancel->WillCancel()) break;
            const double* row = data.data() + at;
            double w = fFreqWeightOffset >= 0 ? row[fFreqWeightOffset] : 1.0;
            if (fRegrWeightOffset >= 0) w *= row[fRegrWeightOffset];
            const int category = static_cast<int>(row[fDependentOffset] + 0.5);
            int used;
            if (cell) {
                fpModel->GetSourceValues(row, fvValues);
                used = fpAccum->UpdateForCellRow(fvValues, category, w, likelihoodOnly);
            } else {
                int count = 0;
                fpModel->ExpandAndCompressRow(row, indices, count, fvColumns, fvValues);
                used = fpAccum->UpdateForRow(fvColumns, fvValues, category, w, likelihoodOnly);
            }
            if (used < 0) return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
        }
        if (cell) fpAccum->FlushCells();
    }
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    return fStatus;
}

MCStatus MCPatternTabulator::FillDesignMatrix(IMCRegModel& model) {
    if (!fbRowPatternsCreated) return fStatus = ErrorStatus(StatusCode::kMissingInput);
    std::vector<int> indices;
    for (auto it = fpRowPatternTable->begin(); it != fpRowPatternTable->end(); ++it) {
        if (fStatus.IsError() || fpCancel->WillCancel()) break;
        if (!PatternIndices(*it->fpKey, indices))
            return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
        const std::vector<double>& data = it->fpValue->GetAllRecords();
        const std::size_t stride = Ix(fNAnalysVars);
        for (std::size_t at = 0; at + stride <= data.size(); at += stride) {
            if (!model.UpdateXPrimeX(data.data() + at, indices)) {
                fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
                break;
            }
        }
    }
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    return fStatus;
}

const MCRowPatterns* MCPatternTabulator::GetRowPatternsPtr(
    const std::vector<int>& localIndices) const {
    if (!fpRowPatternTable) return nullptr;
    MCHashKey key;
    MakeKey(localIndices, key);
    return fpRowPatternTable->GetValue(&key);
}

void MCPatternTabulator::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCPatternTabulator display start");
    DisplayI("Number of effects with factors", fNFactorEffects);
    DisplayI("Number of local effects", fNAllEffects);
    DisplayIV("Bounds", fvBounds);
    DisplayIV("Packed bounds", fvPackedBounds);
    DisplayI("Length of a pattern key", fNPackedKey);
    DisplayIV("Dependent categories", fvDepCategories);
    DisplayIV("Local dependent indices", fvDepLocal);
    DisplayI("Frequency weight offset", fFreqWeightOffset);
    DisplayI("Regression weight offset", fRegrWeightOffset);
    DisplayI("Analysis values per record", fNAnalysVars);
    DisplayI("Records read", fRecordCount);
    DisplayI("Valid records", fValidCount);
    DisplayB("Factor table filled", fbFactorTableFilled);
    DisplayB("Row patterns created", fbRowPatternsCreated);
    DisplayI("Status", fStatus.GetErrorCode());
    if (fpRowPatternTable) {
        DisplayI("Number of patterns", fpRowPatternTable->GetCount());
        for (auto it = fpRowPatternTable->begin(); it != fpRowPatternTable->end(); ++it) {
            DisplayIV("Pattern key", it->fpKey->GetValues());
            DisplayDV("Stored records", it->fpValue->GetAllRecords());
        }
    }
    DisplayText("MCPatternTabulator display end");
}

}  // namespace MCMath_850
