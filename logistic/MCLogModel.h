#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "data/MCFactorCounts.h"
#include "design/MCColumnCentring.h"
#include "design/MCRegrParameter.h"
#include "logistic/MCLogCentring.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCLogRegSettings.h"

namespace MCMath_850 {

// The multinomial logistic model: J response categories (those of the
// dependent with positive weight, the reference last) and J - 1 logits
// log(pi_k / pi_ref) = x beta_k that share one design. The basic parameters
// are those of one logit; the full list repeats them for every non-reference
// category, logit k occupying positions k nBasic .. k nBasic + nBasic - 1.
//
// Rows come in two layouts. The rows handed to UpdateXPrimeX and
// ExpandAndCompressRow are whole records or the stored analysis values of a
// covariate pattern, as SetPatternOffsets says; ExpandRow, Score and
// GetDResiduals always read whole records (SetOffsets). The model effects are
// the factor tables' effects: the intercept first when used, then the
// settings' effects.
class MCLogModel : public IMCRegModel {
public:
    // Largest order of the information matrix (all non-reference logits).
    static constexpr int kMaxMatrixRows = 46340;

    MCLogModel(const MCLogRegSettings& settings, MCCancelInfo& cancel);
    MCLogModel(const MCLogModel&) = delete;
    MCLogModel& operator=(const MCLogModel&) = delete;
    ~MCLogModel() override;

    // Record positions of the model variables (weights -1 when absent).
    void SetOffsets(const std::vector<int>& factors, const std::vector<int>& covariates,
                    int freqWeight, int regrWeight, int dependent);
    // Positions in the rows of UpdateXPrimeX and ExpandAndCompressRow: one per
    // covariate of the settings, in their order, then the weights and the
    // dependent.
    void SetPatternOffsets(const std::vector<int>& covariates, int freqWeight, int regrWeight,
                           int dependent);
    // The response categories from the dependent's counts and the settings'
    // reference choice: 318 with fewer than two categories of positive
    // weight, warning 319 when the requested reference has no cases.
    MCCommon_850::MCStatus SetDepCatInfo(const MCFactorCounts& counts);
    // One zero per non-redundant parameter, except that with an intercept
    // the intercept of logit k is ln(n_k / n_ref): the intercept-only fit.
    MCCommon_850::MCStatus SetInitialEstimates(std::vector<double>& estimates) const;
    void SetTotalWeight(double sampleSize, double totalWeight);
    // Sums X'X and its row count over the processes of a split fit.
    bool MergeXPrimeX(MCCommon_850::PassReducer& reducer);
    // Marks the estimates final; afterwards the model refuses new rows.
    void SetModelBuilt() { fbModelBuilt = true; }

    // IMCRegModel.
    const MCFactorTables* GetFactorTables() const override { return fpTables; }
    MCCommon_850::MCStatus CreateParameters(MCFactorTables* tables) override;
    bool AreParamsCreated() const override { return fbParamsCreated; }
    bool UpdateXPrimeX(const double* row, const std::vector<int>& indices) override;
    bool UpdateXPrimeX(const double* row) override;
    MCCommon_850::MCStatus IdentifyRedundancy() override;
    bool IsModelBuilt() const override { return fbModelBuilt; }
    void GetDResiduals(std::vector<double>& residuals, const double* row) override;
    MCCommon_850::MCStatus FinishErrors() override;
    // X'X of the basic design; after IdentifyRedundancy swept on the
    // non-redundant basic pivots (-(X'X)^- on them, see MCSymMatrix::Sweep).
    const MCSymMatrix* GetXPrimeX() const override { return fpXPrimeX.get(); }
    // The basic design's X'X as summed, before the redundancy sweep.
    const MCSymMatrix* GetUnsweptXPrimeX() const { return fpUnsweptXPrimeX.get(); }
    const MCSymMatrix* GetHessianGI() const override { return fpHessianGI.get(); }
    // With a robust covariance asked for: the inverse information of the
    // centred parametrisation (see MCLogCentring), before it was carried to
    // the model's; otherwise null.
    const MCSymMatrix* GetCentredHessianGI() const { return fpCentredGI.get(); }
    // Per parameter (all logits) the combination of other parameters its
    // column was fitted less, and the shift that multiplies it (see
    // MCLogCentring; empty: fitted as it is).
    void GetFitCentring(std::vector<MCLogCentring::Combination>& units,
                        std::vector<double>& shifts) const;
    // Per cell source (GetSourceValues) the centre taken from its values.
    const std::vector<double>& GetSourceCentres() const { return fvSourceCentre; }
    // Whether a row's sums of the model's estimates reach no further than
    // GetSourceCentres says (MCLogitCells::GetCentreMagnitude): not when a
    // product is fitted centred, or a slope on what its cell's indicator is
    // aliased with, whose steps move columns the row does not hold.
    bool CentresBoundRows() const { return fFitCentring.MovesOwnUnits(); }
    const std::vector<MCRegrParameter>& GetParameters() const override { return fvParameters; }
    const std::vector<MCRegrParameter>& GetBasicParams() const override { return fvBasicParams; }
    int GetNParameters() const override { return static_cast<int>(fvParameters.size()); }
    int GetNNonRedParams() const override { return fNNonRed; }
    int GetNBasicParameters() const override { return fNBasic; }
    int GetNBasicNonRed() const override { return fNBasicNonRed; }
    const std::vector<double>& GetParamEstimates() const override { return fvEstimates; }
    const MCBitSet& GetBasicRedundInfo() const override { return fBasicRedundancy; }
    // The diagonal of the basic X'X before its sweep: the columns' sizes.
    const std::vector<double>& GetBasicDiagonal() const { return fvBasicDiagonal; }
    const MCBitSet& GetRedundancyInfo() const override { return fRedundancy; }
    int GetDependentNCategs() const override { return static_cast<int>(fvDepCategories.size()); }
    const std::vector<int>& GetDependCategories() const override { return fvDepCategories; }
    const std::vector<int>& GetDepCatLocalInds() const override { return fvDepLocal; }
    void ClearXPrimeXMatrix() override {
        fpXPrimeX.reset();
        fpUnsweptXPrimeX.reset();
    }
    void ClearHessianGIMatrix() override { fpHessianGI.reset(); }
    bool GetParamsForEffect(int effect, int& first, int& count) const override;
    MCCommon_850::MCStatus Score(const double* row, std::vector<double>& probabilities,
                                 int& category) const override;
    MCCommon_850::MCStatus UncompressEstimates(const std::vector<double>& estimates,
                                               const MCSymMatrix& inverse) override;
    bool ExpandRow(std::vector<double>& x, const double* row) const override;
    // The dense basic row of the columns the fit works on (centred).
    bool ExpandCentredRow(std::vector<double>& x, const double* row) const;
    // With a robust covariance asked for: the probabilities of a row from
    // its ExpandCentredRow and the estimates the fit found, before they
    // were carried to the model's parametrisation, whose terms at a
    // covariate far from zero would cancel to many orders below themselves;
    // false without them or when a logit is not finite.
    bool CentredProbabilities(const std::vector<double>& x,
                              std::vector<double>& probabilities) const;
    bool ExpandRow(const double* row, std::vector<int>& indices,
                   std::vector<double>& values) const override;
    bool ExpandAndCompressRow(const double* row, const std::vector<int>& indices, int& count,
                              std::vector<int>& columns,
                              std::vector<double>& values) const override;
    bool ExpandAndCompressRow(const double* row, int& count, std::vector<int>& columns,
                              std::vector<double>& values) const override;
    // Sources: 0 the constant 1, then one per distinct covariate product of
    // the effects, in the rows' layout of ExpandAndCompressRow.
    bool GetCellLayout(const std::vector<int>& indices, std::vector<int>& columns,
                       std::vector<int>& sources, int& nSources) const override;
    bool GetSourceValues(const double* row, std::vector<double>& values) const override;
    const MCCommon_850::MCStatus& GetStatus() const override { return fStatus; }
    void Display() const override;

    // Weighted and unweighted counts per response category, reference last.
    const std::vector<double>& GetWeightedCounts() const { return fvWeightedCounts; }
    const std::vector<double>& GetUnweightedCounts() const { return fvUnweightedCounts; }
    // Observed (rows) by predicted (columns) category, weighted, in the
    // model's category order; filled by GetDResiduals.
    const MCRectMatrix& GetClassificationTable() const { return fClassification; }
    int GetNClassifiedRows() const { return fNClassified; }
    int GetNRowsAdded() const { return fNRowsAdded; }
    double GetTotalWeight() const { return fTotalWeight; }
    double GetSampleSize() const { return fSampleSize; }

private:
    // One covariate factor of a design value: the row position and power.
    struct CovTerm {
        int fPos;
        int fMult;
    };
    // The covariate terms of every model effect, in one of the two layouts.
    struct Layout {
        std::vector<CovTerm> fvTerms;
        std::vector<int> fvStart;      // per model effect, plus one past the end
        std::vector<double> fvCentre;  // per term: the centre the fit takes it less
        std::vector<double> fvShift;   // per model effect: its own mean, or 0
        int fFreqWeight = -1;
        int fRegrWeight = -1;
        int fDependent = -1;
        double Value(const double* row, std::size_t effect) const;
        // The product of the covariates less their centres; the value the
        // fit works on is that less the effect's shift (Fitted).
        double Centred(const double* row, std::size_t effect) const;
        double Fitted(const double* row, std::size_t effect) const {
            return Centred(row, effect) - fvShift[effect];
        }
        double Weight(const double* row) const;
        void SetRoles(int freqWeight, int regrWeight, int dependent) {
            fFreqWeight = freqWeight;
            fRegrWeight = regrWeight;
            fDependent = dependent;
        }
    };
    void BuildLayouts();
    // The sources of the cells from the layouts' centres.
    void BuildSources();
    // The fit's centres (fFitCentring) into the layouts and the sources.
    void ApplyCentres();
    // Dense basic row of a whole record, raw or as the fit works on it.
    bool FillRow(std::vector<double>& x, const double* row, bool centred) const;
    // The parameter indices of a whole record from the factor tables, or
    // null when one of its cells was not observed.
    const std::vector<int>* RecordIndices(const double* row) const;
    // Dense basic design row of a whole record into fvDesignRow; false when
    // a cell was not observed.
    bool DesignRow(const double* row) const;
    // The predicted category among tied candidates: larger weighted count,
    // then larger unweighted count, then the smaller code.
    int BreakTie(const std::vector<int>& tied) const;
    // The probabilities of dense basic row x under estimates (all logits),
    // the logits into fvEta; false when one is not finite.
    bool Probabilities(const double* x, const std::vector<double>& estimates,
                       std::vector<double>& probabilities) const;

    const MCLogRegSettings* fpSettings;
    MCCancelInfo* fpCancel;
    MCFactorTables* fpTables = nullptr;

    // Record positions (whole records) and pattern-row positions.
    std::vector<int> fvRecordCovariates;
    int fRecordFreqWeight = -1, fRecordRegrWeight = -1, fRecordDependent = -1;
    std::vector<int> fvPatternCovariates;
    int fPatternFreqWeight = -1, fPatternRegrWeight = -1, fPatternDependent = -1;
    Layout fRecordLayout;
    Layout fPatternLayout;
    // Per model effect its source; per source but the constant, the model
    // effect whose pattern-layout terms compute it.
    std::vector<int> fvEffectSource;
    std::vector<std::size_t> fvSourceEffect;
    // The columns are fitted centred (MCLogCentring): a covariate far from
    // zero (a timestamp, a year) is then no near-copy of the intercept, nor
    // its square a near-copy of it, in the information matrix, whose sums are plain
    // doubles. The layouts' centres are 0 until IdentifyRedundancy sets
    // them; per source (0 the constant) the shift its values are less (the
    // effect's own mean), and the centre of its one covariate or that shift.
    MCLogCentring fFitCentring;
    std::vector<double> fvSourceShift;
    std::vector<double> fvSourceCentre;

    std::vector<int> fvDepCategories;
    std::vector<int> fvDepLocal;
    std::vector<double> fvWeightedCounts;
    std::vector<double> fvUnweightedCounts;

    int fNEffects = 0;  // model effects, the intercept included
    std::unique_ptr<MCSymMatrix> fpXPrimeX;
    // Kept for the sequential tests, whose hypotheses sweep it in model
    // order: recovered from the swept matrix by sweeping back, a covariate
    // far from zero would leave them the rounding of the two sweeps.
    std::unique_ptr<MCSymMatrix> fpUnsweptXPrimeX;
    int fNRowsAdded = 0;
    MCBitSet fBasicRedundancy;
    std::vector<double> fvBasicDiagonal;
    MCBitSet fRedundancy;
    std::unique_ptr<MCSymMatrix> fpHessianGI;
    std::unique_ptr<MCSymMatrix> fpCentredGI;
    std::vector<double> fvCentredEstimates;  // with fpCentredGI
    std::vector<MCRegrParameter> fvBasicParams;
    std::vector<MCRegrParameter> fvParameters;
    int fNBasic = 0;
    int fNAll = 0;
    int fNBasicNonRed = 0;
    int fNNonRed = 0;
    std::vector<int> fvBasicLocal;  // basic parameter -> non-redundant index, -1 redundant
    bool fbParamsCreated = false;
    bool fbModelBuilt = false;
    std::vector<double> fvEstimates;
    mutable std::vector<double> fvDesignRow;
    mutable std::vector<double> fvEta;
    std::vector<double> fvProbabilities;
    double fTotalWeight = 0.0;
    double fSampleSize = 0.0;
    int fNClassified = 0;
    std::vector<int> fvEffectFirst;  // per settings effect
    std::vector<int> fvEffectCount;
    MCRectMatrix fClassification;
    MCCommon_850::MCStatus fStatus;
    // Scratch of the sparse X'X update.
    std::vector<int> fvXIdx;
    std::vector<double> fvXVal;
    // Which column each basic parameter's spread is measured about, with
    // the weights of the cells no indicator marks, summed with X'X.
    MCColumnCentring fCentring;

    // Beyond this mean over spread in its cells a slope's standard errors
    // keep fewer than eight digits.
    static constexpr double kTrustedCellRatio = 1e4;
    // A warning (345) naming the slope within cells fitted raw that is
    // farthest from zero beside its spread there, when one is beyond
    // kTrustedCellRatio; OK otherwise. From each column's ratio (ratios,
    // from X'X before the sweep).
    MCCommon_850::MCStatus CellSlopePrecision(const std::vector<double>& ratios) const;
    // A warning (347) naming the product of covariates that the other
    // columns leave least of, when its size is beyond kTrustedCellRatio
    // times that rest: a product that cannot be fitted on its centred
    // covariates (a lower-order column missing) is centred on its own mean
    // only, so x*x beside x far from zero stays nearly collinear with x.
    // From the products' centred sums of squares before the sweep (squares,
    // 0 for those fitted centred) and the swept X'X.
    MCCommon_850::MCStatus ProductPrecision(const std::vector<double>& squares) const;
};

}  // namespace MCMath_850
