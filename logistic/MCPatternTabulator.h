#pragma once
#include <memory>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCHashKey.h"
#include "companion/MCPackedInt.h"
#include "companion/MCStatus.h"
#include "companion/RecordIterator.h"
#include "data/MCHashtable.h"
#include "data/MCRecordExtractor.h"
#include "data/MCRegRecordValidator.h"
#include "logistic/MCRowPatterns.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCLogRegSettings.h"

namespace MCMath_850 {

class MCFactorTables;

// The in-memory data handler of the logistic estimation. It reads the host's
// records twice: once to fill the factor tables, once to store the analysis
// values of every valid record, grouped by row pattern (the cell the record
// takes in every model effect with factors). Every optimizer pass then runs
// over memory, and the factor part of the design row is worked out once per
// pattern rather than once per record.
class MCPatternTabulator : public IMCDataHandler {
public:
    // The settings, extractor and cancel state must outlive the object.
    // createTable false leaves it without a pattern table (nothing can be
    // stored).
    MCPatternTabulator(const MCLogRegSettings& settings, const MCRecordExtractor& extractor,
                       MCCancelInfo& cancel, bool createTable);
    MCPatternTabulator(const MCPatternTabulator&) = delete;
    MCPatternTabulator& operator=(const MCPatternTabulator&) = delete;
    ~MCPatternTabulator() override;

    // IMCDataHandler.
    void SetStatsModel(IMCAccumStats* accum, const IMCRegModel* model) override;
    bool ResetAccumStats(MCConst::MCHessianCompMethod method, bool checkSeparation) override;
    void CleanStatsModel() override;
    MCCommon_850::MCStatus ComputeStatsForOptimizer(bool likelihoodOnly) override;
    const std::vector<MCCommon_850::MCStatus>& GetWarnings() const override { return fvWarnings; }
    void Display() const override;

    // The first pass: every valid record into the factor tables.
    MCCommon_850::MCStatus FillFactorTable(MCCommon_850::RecordIterator& iter,
                                           MCFactorTables& tables);
    // The second pass: every valid record into its pattern.
    MCCommon_850::MCStatus CreateRowPatterns(MCCommon_850::RecordIterator& iter,
                                             const MCFactorTables& tables,
                                             const IMCRegModel& model);
    // Every stored record into the model's X'X.
    MCCommon_850::MCStatus FillDesignMatrix(IMCRegModel& model);
    MCCommon_850::MCStatus ProcessRowPattern(const MCCommon_850::Record& record,
                                             const MCFactorTables& tables);

    // The pattern of the given local parameter indices (one per effect with
    // factors), or null.
    const MCRowPatterns* GetRowPatternsPtr(const std::vector<int>& localIndices) const;
    int GetNPatterns() const { return fpRowPatternTable ? fpRowPatternTable->GetCount() : 0; }
    int GetRecordCount() const { return fRecordCount; }
    int GetValidCount() const { return fValidCount; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

private:
    // The key of a vector of local indices (packed when packing is on).
    void MakeKey(const std::vector<int>& localIndices, MCHashKey& key) const;
    // For a stored key: the parameter index of every model effect.
    bool PatternIndices(const MCHashKey& key, std::vector<int>& indices) const;
    // Reads one record of a pass; null (and the status set) on a null or
    // short record.
    const MCCommon_850::Record* NextRecord(MCCommon_850::RecordIterator& iter);

    int fNFactorEffects = 0;
    int fNAllEffects = 0;
    const std::vector<int>* fpModelEffectIndices = nullptr;
    const std::vector<int>* fpLocalEffectIndices = nullptr;
    const std::vector<int>* fpParameterOffsets = nullptr;
    std::vector<int> fvBounds;
    std::vector<int> fvPackedBounds;
    int fNPackedKey = 0;
    std::vector<int> fvDepCategories;
    std::vector<int> fvDepLocal;
    int fFreqWeightOffset = -1;
    int fRegrWeightOffset = -1;
    int fDependentOffset = 0;
    int fNAnalysVars = 0;
    const MCRecordExtractor* fpExtractor;
    std::unique_ptr<MCHashtable<MCRowPatterns>> fpRowPatternTable;
    std::unique_ptr<MCHashKey> fpKey;
    IMCAccumStats* fpAccum = nullptr;
    int fRecordCount = 0;
    int fValidCount = 0;
    bool fbFactorTableFilled = false;
    bool fbRowPatternsCreated = false;
    MCCancelInfo* fpCancel;
    MCPackedInt fPacker;
    bool fbPacking = false;
    const IMCRegModel* fpModel = nullptr;
    int fNVarTypes = 0;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;
    MCRegRecordValidator fValidator;
    // The records are split over several processes: this one may hold none.
    bool fbSplit;
    // Scratch, reused for every pattern and record (the const lookups write
    // the first two: one object serves one thread at a time).
    mutable std::vector<int> fvLocal;
    mutable std::vector<int> fvPacked;
    std::vector<int> fvColumns;
    std::vector<int> fvSources;
    std::vector<double> fvValues;
};

}  // namespace MCMath_850
