#pragma once
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"
#include "data/MCFactorTables.h"
#include "data/MCRegRecordValidator.h"
#include "glm/MCGLMModel.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// One general linear model fit: three passes over the host's records
// (factor tables; cross products; residuals) and the sweep between them.
// Every step runs only while the status holds no error and stores its
// result there, so the first error sticks.
class MCGLMAlgorithm {
public:
    explicit MCGLMAlgorithm(const MCRegSettings& settings);
    MCGLMAlgorithm(const MCGLMAlgorithm&) = delete;
    MCGLMAlgorithm& operator=(const MCGLMAlgorithm&) = delete;

    // Pass 1: validates every record and fills the factor tables.
    MCCommon_850::MCStatus ProcessData(MCCommon_850::MultiPassRecordIter& iter);
    // Numbers the parameters; on success params receives a copy of them.
    MCCommon_850::MCStatus CreateParameters(std::vector<MCRegrParameter>& params);
    // Passes 2 and 3 with the sweep between them.
    MCCommon_850::MCStatus BuildModel(MCCommon_850::MultiPassRecordIter& iter);
    // The predicted value of a record (system-missing for an unseen cell).
    MCCommon_850::MCStatus Score(const MCCommon_850::Record& record, double& value) const;
    // May be called from another thread while a pass runs.
    void Cancel() { fCancel.SetCancel(); }

    MCCommon_850::MCStatus FillDesignMatrix(MCCommon_850::MultiPassRecordIter& iter);
    MCCommon_850::MCStatus ProcessSource(MCCommon_850::MultiPassRecordIter& iter);
    MCCommon_850::MCStatus ComputeResiduals(MCCommon_850::MultiPassRecordIter& iter);

    bool IsDataProcessed() const { return fbDataProcessed; }
    bool IsModelBuilt() const { return fbModelBuilt; }
    bool AreParamsCreated() const { return fModel.AreParamsCreated(); }
    const std::vector<double>& GetMeanValues() const { return fvMeanValues; }
    const MCFactorCounts& GetFactorCounts() const { return fFactorTables.GetFactorCounts(); }
    const MCFactorTables& GetFactorTables() const { return fFactorTables; }
    const MCGLMModel& GetModel() const { return fModel; }
    const MCRegRecordValidator& GetRecordValidator() const { return fValidator; }
    const std::vector<MCCommon_850::MCStatus>& GetWarnings() const { return fvWarnings; }
    double GetTotalFreqWeight() const { return fFactorTables.GetTotalWeight(); }
    double GetTotalRegrWeight() const { return fFactorTables.GetTotalRegrWeight(); }
    int GetNRecordsRead() const { return fNRecordsRead; }
    int GetNRecordsUsed() const { return fNRecordsUsed; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    void Display() const;

private:
    bool Cancelled() { return fCancel.WillCancel(); }
    MCCommon_850::PassReducer* Reducer() const { return fpSettings->GetPassReducer(); }
    // With the records split over processes, every process must take the
    // same branch after a pass: the pass's status is agreed before its sums
    // are merged. False when the agreed status is an error.
    bool AgreeOnPass(MCCommon_850::MCStatus& pass);
    static MCCommon_850::MCStatus NoRecordInPass(long readBefore);
    // Pass 3 from the cells' moments, where they give the sums as exactly
    // as the records would: true when done (or failed, with the status
    // set), false when the records must be passed.
    bool ResidualsByCells();
    MCCommon_850::MCStatus SamePassAsFirst(long read, long used) const;

    const MCRegSettings* fpSettings;
    // Mutable: scoring (const) also asks the host's cancel query.
    mutable MCCancelInfo fCancel;
    MCRegRecordValidator fValidator;
    MCFactorTables fFactorTables;
    std::vector<double> fvMeanValues;
    MCGLMModel fModel;
    bool fbDataProcessed = false;
    bool fbModelBuilt = false;
    int fNRecordsRead = 0;
    int fNRecordsUsed = 0;
    // This process's records of the first pass, read and used: every later
    // pass must meet the same, or its sums belong to other data.
    long fNLocalRead = 0;
    long fNLocalUsed = 0;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;
    // A short record padded to the role map for scoring.
    mutable std::vector<double> fvScoreBuffer;
};

}  // namespace MCMath_850
