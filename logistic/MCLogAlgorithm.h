#pragma once
#include <memory>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCClusterRuns.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"
#include "data/MCFactorTables.h"
#include "data/MCRecordExtractor.h"
#include "data/MCRegRecordValidator.h"
#include "logistic/MCAccumStatsLogistic.h"
#include "logistic/MCLogModel.h"
#include "logistic/MCRegOptimizer.h"
#include "settings/MCLogRegSettings.h"

namespace MCMath_850 {

// One multinomial logistic fit: the factor-table pass (categories, cells,
// means), parameter creation, then the build: X'X of the basic design and
// its redundancy, the intercept-only start and the iterations of the
// optimizer over the data handler (covariate patterns in memory, or the
// host's records re-read on every pass).
//
// Every step runs only while the status holds no error and stores its
// result there. Warnings are kept once each.
class MCLogAlgorithm {
public:
    explicit MCLogAlgorithm(const MCLogRegSettings& settings);
    MCLogAlgorithm(const MCLogAlgorithm&) = delete;
    MCLogAlgorithm& operator=(const MCLogAlgorithm&) = delete;
    ~MCLogAlgorithm();

    // The factor-table pass, the response categories and the parameters; on
    // success params receives a copy of all parameters.
    MCCommon_850::MCStatus CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                            std::vector<MCRegrParameter>& params);
    MCCommon_850::MCStatus BuildModel(MCCommon_850::MultiPassRecordIter& iter);
    // probabilities (sized J, model order: reference last) and the predicted
    // category code (-1 when none).
    MCCommon_850::MCStatus Score(const MCCommon_850::Record& record,
                                 std::vector<double>& probabilities, int& category) const;
    MCCommon_850::MCStatus FillFactorTable(MCCommon_850::MultiPassRecordIter& iter);
    // An error becomes the algorithm's status; a warning (or, with
    // asWarning, an error) joins the warning list unless an equal one is
    // there; OK is ignored.
    void AddNewWarning(const MCCommon_850::MCStatus& status, bool asWarning);
    void AddNewWarnings(const std::vector<MCCommon_850::MCStatus>& list, bool asWarning);
    // May be called from another thread while a pass runs: the handler, the
    // model and the optimizer all poll this one atomic flag.
    void Cancel() { fCancel.SetCancel(); }

    bool AreParamsCreated() const { return fbParamsCreated; }
    bool IsModelBuilt() const { return fbModelBuilt; }
    bool IsFactorTableFilled() const { return fbFactorTableFilled; }
    const std::vector<double>& GetMeanValues() const { return fvMeanValues; }
    const MCFactorCounts& GetFactorCounts() const { return fFactorTables.GetFactorCounts(); }
    const MCFactorTables& GetFactorTables() const { return fFactorTables; }
    const MCLogModel& GetModel() const { return fModel; }
    MCLogModel& GetModel() { return fModel; }
    const MCRegOptimizer* GetOptimizer() const { return fpOptimizer.get(); }
    // The robust covariance of all the parameters; null unless the
    // settings ask for one.
    const MCSymMatrix* GetRobustCovariance() const { return fpRobustCov.get(); }
    // The clusters of each cluster column.
    const std::vector<long>& GetClusterCounts() const { return fvClusterCounts; }
    const std::vector<MCCommon_850::MCStatus>& GetWarnings() const { return fvWarnings; }
    const MCRegRecordValidator& GetRecordValidator() const { return fValidator; }
    double GetTotalWeight() const { return fFactorTables.GetTotalWeight(); }
    double GetTotalRegrWeight() const { return fFactorTables.GetTotalRegrWeight(); }
    int GetNRecordsRead() const { return fNRecordsRead; }
    int GetNRecordsUsed() const { return fNRecordsUsed; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    void Display() const;

private:
    bool Cancelled() const { return fCancel.WillCancel(); }
    // The records pass of FillFactorTable without patterns.
    MCCommon_850::MCStatus CountRecords(MCCommon_850::MultiPassRecordIter& iter);
    // 307 without a used record, 308 without positive total weight.
    MCCommon_850::MCStatus CheckTotals() const;
    // X'X from the patterns or from one more pass over the records.
    MCCommon_850::MCStatus FillXPrimeX(MCCommon_850::MultiPassRecordIter& iter);
    MCCommon_850::MCStatus Estimate(MCCommon_850::MultiPassRecordIter& iter);
    // With a robust covariance asked for: one more pass summing each
    // record's scores x (x) (y - p), the inverse information as the bread.
    MCCommon_850::MCStatus RobustCovariance(MCCommon_850::MultiPassRecordIter& iter);

    const MCLogRegSettings* fpSettings;
    MCRecordExtractor fPatternExtractor;
    MCFactorTables fFactorTables;
    MCRegRecordValidator fValidator;
    std::unique_ptr<IMCDataHandler> fpDataHandler;
    std::vector<double> fvMeanValues;
    // Mutable: scoring (const) also asks the host's cancel query.
    mutable MCCancelInfo fCancel;
    MCLogModel fModel;
    std::unique_ptr<MCAccumStatsLogistic> fpAccum;
    std::unique_ptr<MCRegOptimizer> fpOptimizer;
    std::vector<double> fvEstimates;
    std::unique_ptr<MCSymMatrix> fpRobustCov;
    std::vector<long> fvClusterCounts;
    // One cluster column of a fit that is not split, records read one by
    // one: the first pass finds whether each cluster's records come in one
    // run, which spares the robust pass the clusters' sums.
    int fClusterVar = -1;
    MCClusterRuns fClusterRuns;
    bool fbFactorTableFilled = false;
    bool fbParamsCreated = false;
    bool fbModelBuilt = false;
    int fNRecordsRead = 0;
    int fNRecordsUsed = 0;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;
};

}  // namespace MCMath_850
