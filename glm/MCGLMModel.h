#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "design/MCModelEffect.h"
#include "design/MCRegrParameter.h"
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
    // Adds one valid record to the residual and total sums; scratch receives
    // the record's weighted score contributions e * z * wt.
    void GetDResiduals(std::vector<double>& scratch, const double* values);
    // The residual pass's accumulation alone, without the score vector;
    // returns the record's residual.
    double AccumulateResidual(const double* values);
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
    // The non-zero columns of a record's design row in ascending order, with
    // the dependent appended as column p; values carry a low-order part so
    // that covariate powers and products enter Z'Z without rounding.
    bool ExpandSparse(const double* values) const;
    // Product of the covariates with a low-order part.
    void DesignValue(const double* values, const MCRegrParameter& p, double& hi, double& lo) const;
    double RowWeight(const double* values) const;
    // Cell moments (see fbCells).
    void SetUpCells();
    int CellCode(const double* values) const;
    struct CellMoments;
    // The cell of a record's code, null when no record of it was accumulated.
    const CellMoments* FindCell(int code) const;
    void SourceValues(const double* values) const;
    bool FlushCells();
    void ComputeCellCoefficients();
    double FittedValue(const double* values) const;

    const MCRegSettings* fpSettings;
    MCCancelInfo* fpCancel;
    std::vector<int> fvFactors;
    std::vector<int> fvCovariates;
    std::vector<int> fvCovariateMap;
    int fFreqWeightVar = -1;
    int fRegrWeightVar = -1;
    int fDepVar = -1;
    const std::vector<MCModelEffect>* fpEffects;
    MCFactorTables* fpFactorTables = nullptr;
    std::unique_ptr<MCSymMatrix> fpZPrimeZ;
    int fNRows = 0;
    MCBitSet fRedundancy;
    std::vector<MCRegrParameter> fvParameters;
    bool fbParamsCreated = false;
    bool fbModelBuilt = false;
    std::vector<double> fvEstimates;
    double fRSquare;
    double fRMSE;
    mutable std::vector<double> fvRow;
    double fResidualSum = 0.0;
    double fTotalSum = 0.0;
    // Low-order parts of the two compensated sums.
    double fResidualLow = 0.0;
    double fTotalLow = 0.0;
    double fDepMean;
    double fTotalWeight;
    int fNResidualRows = 0;
    std::vector<int> fvEffectFirst;
    std::vector<int> fvEffectCount;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;

    // Per parameter: whether its design value needs the covariates (and the
    // dense, extended-precision accumulation when a product or power).
    std::vector<unsigned char> fvHasCovariates;
    bool fbProducts = false;
    // Scratch of the sparse row.
    mutable std::vector<int> fvIdx;
    mutable std::vector<double> fvHi;
    mutable std::vector<double> fvLo;
    mutable int fNnz = 0;
    // Records of one factor cell share their design columns, so pass 2 can
    // accumulate per cell the weighted moments of the few distinct values a
    // row is made of (1, each covariate product, y) and scatter them into
    // Z'Z once, before the sweep. For the usual models this is several times
    // fewer updates per record than the row's outer product. Used when the
    // cells are few enough to index directly; otherwise rows go to Z'Z one
    // by one.
    struct CellMoments {
        std::unique_ptr<MCSymMatrix> fpMoments;
        // The cell's columns and their sources, once flushed.
        std::vector<int> fvCols, fvSrcs;
        // After the build: per source, the sum of the estimates of the
        // cell's columns with that source, in double-double.
        std::vector<double> fvCoefHi, fvCoefLo;
    };
    bool fbCells = false;
    std::vector<int> fvCellFactors;  // record positions
    std::vector<int> fvCellSizes;
    std::vector<int> fvCellStrides;
    std::vector<int> fvCellSlot;                        // by cell code: index into fvCells, or -1
    std::vector<CellMoments> fvCells;                   // the cells seen, in order of first record
    std::vector<int> fvCellCodes;                       // their codes
    std::vector<int> fvParamSource;                     // per parameter
    std::vector<const MCRegrParameter*> fvSourceParam;  // a parameter carrying each source
    int fNSources = 0;
    mutable std::vector<double> fvSrcHi;
    mutable std::vector<double> fvSrcLo;
    mutable std::vector<int> fvCategories;

    // Scratch of the dense extended-precision row.
    std::vector<double> fvDenseHi;
    std::vector<double> fvDenseLo;
};

}  // namespace MCMath_850
