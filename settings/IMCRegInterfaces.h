#pragma once
#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
#include "companion/MCStatus.h"
#include "companion/PassReducer.h"
#include "companion/Record.h"
#include "settings/MCConst.h"

// The abstract interfaces between the estimation classes: what a fitted
// model offers the host (IMCRegOutputStats), the model that the optimizer and
// the data handlers work on (IMCRegModel), a source of data passes
// (IMCDataHandler) and the per-row likelihood accumulator (IMCAccumStats).
// They only refer to the classes they name, so those are declared here.
namespace MCMath_850 {

class MCFactorCounts;
class MCFactorTables;
class MCRegrParameter;
class MCRegrParameterStats;
class MCRegRecordValidator;
class MCSymMatrix;

// A fitted model as the host reads it. The objects returned by pointer or
// reference belong to the statistics object and die with it.
class MCREG_API IMCRegOutputStats {
public:
    virtual ~IMCRegOutputStats() = default;

    // 0 general linear model, 1 multinomial logistic model.
    virtual int GetModelType() const = 0;
    virtual const MCFactorCounts* GetFactorCounts() const = 0;
    // Means of the model variables.
    virtual const std::vector<double>& GetMeanValues() const = 0;
    // One estimate per parameter, 0 for a redundant one.
    virtual const std::vector<double>& GetParamEstimates() const = 0;
    virtual const std::vector<MCRegrParameter>& GetParameters() const = 0;
    virtual double GetTotalFreqWeight() const = 0;
    virtual double GetTotalRegrWeight() const = 0;
    // Error degrees of freedom.
    virtual double GetNDegFreedom() const = 0;
    // The system-missing value for a statistic the model does not have.
    virtual double GetModelFitStat(MCConst::MCModelFitStat stat) const = 0;
    virtual const MCSymMatrix* GetCovarianceMatrix() const = 0;
    virtual const std::vector<MCRegrParameterStats>& GetParamStats() const = 0;
    // Bit i set: parameter i is not redundant; clear: aliased.
    virtual const MCBitSet& GetRedundancyIndicators() const = 0;
    virtual const MCRegRecordValidator& GetRecordValidator() const = 0;
    // The design row of a record; false when the record cannot be scored.
    virtual bool ExpandRow(const MCCommon_850::Record& record, std::vector<double>& row) const = 0;
    virtual void Cancel() = 0;
    virtual void Display() const = 0;
};

// The model the optimizer estimates and the data handlers feed. Rows are
// arrays of doubles: whole records, or the stored analysis values of a
// covariate pattern, as the implementation was told by its offsets.
class MCREG_API IMCRegModel {
public:
    virtual ~IMCRegModel() = default;

    virtual const MCFactorTables* GetFactorTables() const = 0;
    // Numbers the cells of the (already filled) factor tables and creates the
    // parameters; the tables are not owned.
    virtual MCCommon_850::MCStatus CreateParameters(MCFactorTables* tables) = 0;
    virtual bool AreParamsCreated() const = 0;
    // Adds a row to X'X; the first form takes the row's parameter index of
    // every model effect from the caller, the second looks them up.
    virtual bool UpdateXPrimeX(const double* row, const std::vector<int>& indices) = 0;
    virtual bool UpdateXPrimeX(const double* row) = 0;
    virtual MCCommon_850::MCStatus IdentifyRedundancy() = 0;
    virtual bool IsModelBuilt() const = 0;
    // Score residuals of a record (and its entry in the classification table).
    virtual void GetDResiduals(std::vector<double>& residuals, const double* row) = 0;
    virtual MCCommon_850::MCStatus FinishErrors() = 0;
    virtual const MCSymMatrix* GetXPrimeX() const = 0;
    virtual const MCSymMatrix* GetHessianGI() const = 0;
    virtual const std::vector<MCRegrParameter>& GetParameters() const = 0;
    virtual const std::vector<MCRegrParameter>& GetBasicParams() const = 0;
    virtual int GetNParameters() const = 0;
    virtual int GetNNonRedParams() const = 0;
    virtual int GetNBasicParameters() const = 0;
    virtual int GetNBasicNonRed() const = 0;
    virtual const std::vector<double>& GetParamEstimates() const = 0;
    virtual const MCBitSet& GetBasicRedundInfo() const = 0;
    virtual const MCBitSet& GetRedundancyInfo() const = 0;
    virtual int GetDependentNCategs() const = 0;
    // Category codes of the dependent with positive weight, reference last.
    virtual const std::vector<int>& GetDependCategories() const = 0;
    // Category code -> position in GetDependCategories(), -1 where absent.
    virtual const std::vector<int>& GetDepCatLocalInds() const = 0;
    virtual void ClearXPrimeXMatrix() = 0;
    virtual void ClearHessianGIMatrix() = 0;
    virtual bool GetParamsForEffect(int effect, int& first, int& count) const = 0;
    virtual MCCommon_850::MCStatus Score(const double* row, std::vector<double>& probabilities,
                                         int& category) const = 0;
    virtual MCCommon_850::MCStatus UncompressEstimates(const std::vector<double>& estimates,
                                                       const MCSymMatrix& inverse) = 0;
    // Dense basic design row of a record.
    virtual bool ExpandRow(std::vector<double>& x, const double* row) const = 0;
    // The row's parameter index and design value of every model effect.
    virtual bool ExpandRow(const double* row, std::vector<int>& indices,
                           std::vector<double>& values) const = 0;
    // Sparse row over the non-redundant basic parameters: columns (local
    // non-redundant indices) and values. The callee replaces the contents of
    // both vectors (they only lend their capacity, so a pass allocates
    // nothing per row) and leaves exactly count entries in each. The first
    // form takes the parameter index of every model effect from the caller.
    virtual bool ExpandAndCompressRow(const double* row, const std::vector<int>& indices,
                                      int& count, std::vector<int>& columns,
                                      std::vector<double>& values) const = 0;
    virtual bool ExpandAndCompressRow(const double* row, int& count, std::vector<int>& columns,
                                      std::vector<double>& values) const = 0;
    // Rows that take the same parameter in every effect (a cell) share the
    // columns of their sparse row, and each design value is one of a few
    // sources: 1 for a factor cell or the intercept, or a product of
    // covariates. For the parameter indices of a cell: the columns (as
    // ExpandAndCompressRow gives them) and the source of each; false when
    // the model does not describe its rows this way.
    virtual bool GetCellLayout(const std::vector<int>& indices, std::vector<int>& columns,
                               std::vector<int>& sources, int& nSources) const {
        (void)indices, (void)columns, (void)sources, (void)nSources;
        return false;
    }
    // The source values of a row (source 0 is the constant 1).
    virtual bool GetSourceValues(const double* row, std::vector<double>& values) const {
        (void)row, (void)values;
        return false;
    }
    virtual const MCCommon_850::MCStatus& GetStatus() const = 0;
    virtual void Display() const = 0;
};

class IMCAccumStats;

// A source of passes over the data that feeds every valid row to an
// accumulator on behalf of the model.
class MCREG_API IMCDataHandler {
public:
    virtual ~IMCDataHandler() = default;

    // Neither object is owned.
    virtual void SetStatsModel(IMCAccumStats* accum, const IMCRegModel* model) = 0;
    virtual bool ResetAccumStats(MCConst::MCHessianCompMethod method, bool checkSeparation) = 0;
    virtual void CleanStatsModel() = 0;
    // One full pass; likelihoodOnly is handed to every UpdateForRow.
    virtual MCCommon_850::MCStatus ComputeStatsForOptimizer(bool likelihoodOnly) = 0;
    virtual const std::vector<MCCommon_850::MCStatus>& GetWarnings() const = 0;
    virtual void Display() const = 0;
};

// Accumulates log-likelihood, score vector and Hessian one sparse design row
// at a time.
class MCREG_API IMCAccumStats {
public:
    virtual ~IMCAccumStats() = default;

    // Clears every sum for a new pass.
    virtual bool Reset(MCConst::MCHessianCompMethod method, bool checkSeparation) = 0;
    virtual bool CheckConstraints() = 0;
    // 0 when the row was used, -1 when it was rejected.
    virtual int UpdateForRow(const std::vector<int>& columns, const std::vector<double>& values,
                             int category, double weight, bool likelihoodOnly) = 0;
    virtual double GetLL() const = 0;
    virtual const std::vector<double>& GetScores() const = 0;
    // A bound on the rounding error of GetLL(): its distance from the
    // log-likelihood of the same estimates in exact arithmetic. The
    // optimizer takes two log-likelihoods that differ by less than their
    // bounds together for equal. 0 (the sums are taken as exact) unless the
    // accumulator knows better.
    virtual double GetLLRoundingBound() const { return 0.0; }
    // The smallest fitted probability of any category in the pass's rows,
    // or -1 when the accumulator keeps none. The optimizer judges by it how
    // far a step carried the fit towards probabilities of 0.
    virtual double GetSmallestProbability() const { return -1.0; }
    // The same for each score, into bounds (resized to the scores' length);
    // false (bounds untouched) when the accumulator has none.
    virtual bool GetScoreRoundingBounds(std::vector<double>& bounds) const {
        (void)bounds;
        return false;
    }
    // Copies the accumulated Hessian into hessian; false when it cannot.
    virtual bool GetHessian(MCSymMatrix& hessian) const = 0;
    virtual void GetCounts(int& validRows, int& invalidCalls, double& weight) const = 0;
    virtual void GetMinMaxProbabilities(double& minObserved, double& maxObserved,
                                        double& minComputed) const = 0;
    virtual double GetStepAdjustmentFactor() const = 0;
    virtual void Display(bool full) const = 0;
    // The weights of the last pass's rows by observed (row) and predicted
    // (column) response category, local indices, J by J; false when the
    // accumulator keeps no such table or cannot vouch for every row's
    // prediction.
    virtual bool GetClassification(std::vector<double>& counts) const {
        (void)counts;
        return false;
    }
    // The rows of a cell (see IMCRegModel::GetCellLayout), given by their
    // source values: the sums are those of the rows given one by one. The
    // caller numbers its cells, the same number for the same cell in every
    // pass; the columns and sources are read when a cell is first used.
    // UseCell makes a cell current; false when the accumulator has no such
    // path or no room for another cell, and the caller then gives the row
    // with UpdateForRow.
    virtual bool UseCell(int cell, const std::vector<int>& columns, const std::vector<int>& sources,
                         int nSources) {
        (void)cell, (void)columns, (void)sources, (void)nSources;
        return false;
    }
    virtual bool HasCell(int cell) const {
        (void)cell;
        return false;
    }
    // A row of the current cell; 0 when it was used, -1 when it was rejected
    // (as UpdateForRow).
    virtual int UpdateForCellRow(const std::vector<double>& sourceValues, int category,
                                 double weight, bool likelihoodOnly) {
        (void)sourceValues, (void)category, (void)weight, (void)likelihoodOnly;
        return -1;
    }
    // Rows of cells used before in the pass or an earlier one, in order:
    // row r is of cell cells[r], with response category categories[r],
    // weight weights[r] and source values values[r nValues ...]. The sums
    // are those of the rows given one by one (UseCell, UpdateForCellRow);
    // returns how many rows were taken before the first refused (n when
    // none was).
    virtual std::size_t UpdateForCellRows(std::size_t n, const int* cells, const int* categories,
                                          const double* weights, const double* values,
                                          std::size_t nValues, bool likelihoodOnly) {
        static const std::vector<int> kNone;
        std::vector<double> z;
        try {
            z.resize(nValues);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        for (std::size_t r = 0; r < n; ++r) {
            std::copy(values + r * nValues, values + (r + 1) * nValues, z.begin());
            if (!UseCell(cells[r], kNone, kNone, 0) ||
                UpdateForCellRow(z, categories[r], weights[r], likelihoodOnly) == -1)
                return r;
        }
        return n;
    }
    // Adds the cells' sums to the scores and the information; a pass ends
    // with it.
    virtual void FlushCells() {}
    // After a pass over this process's part of the records: sums the pass's
    // log-likelihood, scores, information and counts over every process of
    // the fit, and takes the extremes of the separation check over them.
    // Every process calls it. False when the reducer fails or the
    // accumulator cannot be merged.
    virtual bool MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
        (void)reducer;
        return false;
    }
};

}  // namespace MCMath_850
