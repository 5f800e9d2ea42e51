#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCClusterRuns.h"
#include "companion/MCSandwich.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "design/MCColumnCentring.h"
#include "design/MCProductTerms.h"
#include "design/MCRegrParameter.h"
#include "glm/MCGLMCellMoments.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

class MCFactorTables;

// The general linear model proper: its parameters, the weighted
// cross-product matrix of the design augmented with the dependent, the
// estimates and the fit figures.
//
// Z'Z has order p + 1 (the last row and column belong to the dependent).
// Rows enter with weight fw * rw / W, W the total frequency weight, so the
// accumulated sums stay of the order of the data whatever the record count.
// After the build Z'Z holds the swept matrix scaled by 1 / W: its leading
// p x p block is -(X'WX)^- (zero rows and columns for aliased parameters),
// its last column the estimates and its corner the weighted residual sum of
// squares divided by W.
class MCGLMModel {
public:
    static constexpr int kMaxParameters = 46339;

    MCGLMModel(const MCRegSettings& settings, MCCancelInfo& cancel);
    MCGLMModel(const MCGLMModel&) = delete;
    MCGLMModel& operator=(const MCGLMModel&) = delete;

    void SetOffsets(const std::vector<int>& factors, const std::vector<int>& covariates,
                    int freqWeightVar, int regrWeightVar, int depVar);
    MCCommon_850::MCStatus CreateParameters(MCFactorTables* tables);
    // Adds one valid record to Z'Z; false before the parameters exist, after
    // the build or for a null record.
    bool UpdateZPrimeZ(const double* values);
    MCCommon_850::MCStatus BuildModel();
    // For records split over processes: after pass 2, the cells' moments
    // are flushed and Z'Z summed over the processes; after pass 3, the
    // residual and total sums. Every process calls them in the same order.
    bool MergeZPrimeZ(MCCommon_850::PassReducer& reducer);
    bool MergeErrorSums(MCCommon_850::PassReducer& reducer);
    // Whether the members of a split fit share one solve of the merged
    // sums (see PassReducer::Leads): a member that does not lead skips the
    // sweep in BuildModel and takes the leader's estimates and aliased
    // columns from ShareSolve, which every member calls after the build.
    // A robust covariance or kept cross products need every member's own
    // swept matrix: then each sweeps.
    bool SharesSolve() const;
    bool ShareSolve(MCCommon_850::PassReducer& reducer);
    // Adds one valid record to the residual and total sums; scratch receives
    // the record's weighted score contributions e * z * wt.
    void GetDResiduals(std::vector<double>& scratch, const double* values);
    // The residual pass's accumulation alone, without the score vector;
    // returns the record's residual.
    double AccumulateResidual(const double* values);
    // With a robust covariance asked for: adds the record with residual e
    // (from AccumulateResidual) to the middle of the sandwich; recordNo is
    // its number in the pass, for messages. False with the status set when
    // the record makes the estimator undefined.
    bool AddToSandwich(const double* values, double e, long recordNo,
                       MCCommon_850::MCStatus& status);
    bool HasSandwich() const { return fpSandwich != nullptr; }
    // The residual pass without the records: when every record of every
    // part went to the cells' moments and no robust covariance needs each
    // record's residual, sums the residual and total sums from the moments
    // (merged by MergeErrorSums like those of the pass). False, with
    // nothing summed, when the records must be passed.
    bool SumResidualsByCells();
    // After SumResidualsByCells (and the merge): whether the cells' sums
    // are within a small part of the last digit of the sums record by
    // record. Otherwise they are cleared for the residual pass.
    bool ResidualsByCellsExact();
    // Also finishes the robust covariance, when asked for.
    MCCommon_850::MCStatus FinishErrors();
    // The predicted value; system-missing when a cell of the record was not
    // observed in the fitting data.
    double Score(const double* values) const;
    // The dense design row; when row has more than p entries row[p] receives
    // the dependent. False when some effect did not find the record's cell
    // (its column stays 0).
    bool ExpandRow(std::vector<double>& row, const double* values) const;
    // The product of the parameter's covariates raised to their powers; 1
    // without covariates. Factors are not looked at.
    double ComputeDesignRowValue2(const double* values, const MCRegrParameter& p) const;
    // The same, but 0 when a factor code of the record differs from the
    // parameter's category.
    double ComputeDesignRowValue(const double* values, const MCRegrParameter& p) const;
    void SetDepMeanAndTotalW(double mean, double totalWeight);
    bool GetParamsForEffect(int effect, int& first, int& count) const;

    const MCFactorTables* GetFactorTables() const { return fpFactorTables; }
    bool AreParamsCreated() const { return fbParamsCreated; }
    bool IsModelBuilt() const { return fbModelBuilt; }
    const MCSymMatrix* GetZPrimeZ() const { return fpZPrimeZ.get(); }
    // The robust covariance of the estimates; null unless the settings ask
    // for one.
    const MCSymMatrix* GetRobustCovariance() const { return fpRobustCov.get(); }
    // The bordered cross products before the sweep, when the settings keep
    // them; null otherwise.
    std::shared_ptr<const MCSymMatrix> GetCrossProducts() const { return fpCrossProducts; }
    // The same swept on the kept pivots, before the redundant rows are
    // cleared, and negated (see MCGLMOutputStats); null unless kept.
    std::shared_ptr<const MCSymMatrix> GetSweptCrossProducts() const { return fpSweptKept; }
    // Per column of the kept cross products (the dependent last), the
    // spread the fit judged its pivot by (MCSymMatrix::ComputeCentredScale);
    // empty unless kept.
    const std::vector<double>& GetCrossProductScale() const { return fvKeptScale; }
    // The clusters of cluster column c of a cluster-robust covariance; 0
    // otherwise.
    long GetNClusters(int c = 0) const { return fpSandwich ? fpSandwich->GetNClusters(c) : 0; }
    const std::vector<int>& GetFactorOffsets() const { return fvFactors; }
    const std::vector<int>& GetCovariateOffsets() const { return fvCovariates; }
    const std::vector<MCRegrParameter>& GetParameters() const { return fvParameters; }
    int GetNParameters() const { return static_cast<int>(fvParameters.size()); }
    const std::vector<double>& GetParamEstimates() const { return fvEstimates; }
    const MCBitSet& GetRedundancyInfo() const { return fRedundancy; }
    double GetMultipleRSquare() const { return fRSquare; }
    double GetRootMeanSquareError() const { return fRMSE; }
    // Sum of fw * rw * residual^2 / W from the residual pass.
    double GetResidualSum() const { return fResidualSum; }
    double GetTotalSum() const { return fTotalSum; }
    int GetNRowsAccumulated() const { return fNRows; }
    const std::vector<MCCommon_850::MCStatus>& GetWarnings() const { return fvWarnings; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    void ClearZPrimeZMatrix() { fpZPrimeZ.reset(); }
    void Display() const;

private:
    // The cells' moments added to Z'Z, once.
    bool FlushCells();
    // Before the sweep, for a robust covariance: the products of
    // covariates far from zero whose lower-order columns are all in the
    // model (productCentred), with those columns' units (centreUnit, from
    // units) and their single covariates' means (centre).
    void CentreProducts(const std::vector<int>& units, std::vector<int>& centreUnit,
                        std::vector<double>& centre,
                        std::vector<unsigned char>& productCentred) const;
    // After the sweep: the combination that product k less it is the
    // product of its centred covariates, its empty product on unit (the
    // kept columns of its cell's indicator); empty where a column of it
    // was aliased.
    MCSandwich::Combination ProductUnits(std::size_t k, const MCSandwich::Combination& unit,
                                         const std::vector<double>& centre) const;
    // After the sweep: a warning (346) naming the kept product left
    // uncentred that is most nearly collinear with the other columns, when
    // that costs its robust covariance more than half its digits; squares
    // holds the products' spreads (0: not judged).
    void WarnCollinearProducts(const std::vector<double>& squares);
    // Pass 2 row by row (rows outside the cells, or a model with too many
    // cells): the non-zero columns of a record's design row in ascending
    // order into fvIdx/fvHi/fvLo, with the dependent appended as column p;
    // values carry a low-order part so that covariate powers and products
    // enter Z'Z without rounding.
    bool ExpandSparse(const double* values) const;
    // Adds the expanded row to Z'Z: sparse, or dense in extended precision
    // when the model has products or powers of covariates.
    bool AddExpandedRow(double w);
    // Whether Z'Z and the output statistics' covariance matrix of p
    // parameters fit in this machine's memory; otherwise the status is 305
    // with the parameters needed and those that fit, the gigabytes needed
    // and those there are.
    bool FitsInMemory(long p);
    double RowWeight(const double* values) const;
    double FittedValue(const double* values) const;
    double FreqWeight(const double* values) const {
        return fFreqWeightVar >= 0 ? values[fFreqWeightVar] : 1.0;
    }
    double RegrWeight(const double* values) const {
        return fRegrWeightVar >= 0 ? values[fRegrWeightVar] : 1.0;
    }

    const MCRegSettings* fpSettings;
    MCCancelInfo* fpCancel;
    std::vector<int> fvFactors;
    std::vector<int> fvCovariates;
    int fFreqWeightVar = -1;
    int fRegrWeightVar = -1;
    int fDepVar = -1;
    const std::vector<MCModelEffect>* fpEffects;
    MCFactorTables* fpFactorTables = nullptr;
    std::vector<MCRegrParameter> fvParameters;
    std::vector<int> fvEffectFirst;
    std::vector<int> fvEffectCount;
    bool fbParamsCreated = false;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;

    // Z'Z and its accumulation (pass 2).
    std::unique_ptr<MCSymMatrix> fpZPrimeZ;
    int fNRows = 0;
    // Of this part's records alone, and the records (of all parts, once
    // merged) that did not go to the cells.
    int fNLocalRows = 0;
    int fNRowsOutsideCells = 0;
    MCGLMCellMoments fCells;
    bool fbCellsFlushed = false;
    // The cells' moments are kept past the flush for the residual sums.
    bool fbCellsKept = false;
    // Per parameter: whether its design value needs the covariates.
    std::vector<unsigned char> fvHasCovariates;
    // Some parameter has a product or power of covariates: rows outside the
    // cells go to Z'Z dense, in extended precision.
    bool fbProducts = false;
    // Scratch of the sparse row and of the dense extended-precision row.
    mutable std::vector<int> fvIdx;
    mutable std::vector<double> fvHi;
    mutable std::vector<double> fvLo;
    mutable int fNnz = 0;
    std::vector<double> fvDenseHi;
    std::vector<double> fvDenseLo;
    // Which column each parameter's spread is measured about, with the
    // weights of the cells no indicator marks, summed in pass 2.
    MCColumnCentring fCentring;
    MCProductTerms fProducts;  // the lower-order columns of products of covariates

    // The sweep and its results.
    bool fbModelBuilt = false;
    MCBitSet fRedundancy;
    std::vector<double> fvEstimates;

    // The residual pass (pass 3), with the two sums compensated.
    double fResidualSum = 0.0;
    double fTotalSum = 0.0;
    double fResidualLow = 0.0;
    double fTotalLow = 0.0;
    int fNResidualRows = 0;
    // What rounding may have cost the sums when they come from the cells.
    double fResidualBound = 0.0;
    double fTotalBound = 0.0;
    double fDepMean;
    double fTotalWeight;
    double fInvTotalWeight;  // every row's weight starts from it
    double fRSquare;
    double fRMSE;

    // The robust covariance, accumulated in the residual pass.
    std::unique_ptr<MCSandwich> fpSandwich;
    // One cluster column of a fit that is not split: pass 2 finds whether
    // each cluster's records come in one run, which spares the residual
    // pass the clusters' sums.
    int fClusterVar = -1;
    MCClusterRuns fClusterRuns;
    bool fbSandwichCells = false;   // the cells' records by their sources
    std::vector<double> fvSources;  // scratch: a record's source values
    // The cell (-1: none) of the record of the last AccumulateResidual, its
    // sources in fvSources.
    const double* fpResidualValues = nullptr;
    int fResidualCell = -1;
    std::unique_ptr<MCSymMatrix> fpRobustCov;
    std::shared_ptr<const MCSymMatrix> fpCrossProducts;
    std::shared_ptr<const MCSymMatrix> fpSweptKept;
    std::vector<double> fvKeptScale;
};

}  // namespace MCMath_850
