#pragma once
#include <memory>
#include <vector>

#include "companion/MCHashKey.h"
#include "companion/PassReducer.h"
#include "companion/Record.h"
#include "data/MCFactorCounts.h"
#include "data/MCHashtable.h"

namespace MCMath_850 {

// What the first data pass learns for a design: the category counts, the
// observed cells of every model effect that contains factors, weighted
// means of covariates (and of the dependent), totals and, after the pass,
// the numbering of the regression parameters.
//
// Parameters are numbered effect by effect in model order and, within a
// factor effect, in ascending key order of its observed cells (the first
// factor of the effect varies slowest). A cell that never occurred gets no
// parameter.
//
// The row lookups are const but write scratch members (work keys, current
// categories, the returned index vectors): one object serves one thread at
// a time.
class MCFactorTables {
public:
    // Same arguments as MCFactorCounts.
    MCFactorTables(const std::vector<int>& factors, const std::vector<int>& factorSizes,
                   int freqWeightVar, int depVar, int depNCategs, int categoryBase, int offsetVar,
                   double offsetValue, int offsetType);
    MCFactorTables(const MCFactorTables&) = delete;
    MCFactorTables& operator=(const MCFactorTables&) = delete;
    virtual ~MCFactorTables();

    // Counts one record that the caller has already validated. False when a
    // category is out of range (the record then adds nothing to the cells,
    // totals and means) or when a new cell could not be stored.
    virtual bool UpdateAll(const MCCommon_850::Record& record);
    // Numbers the parameters from first on; returns one past the last index.
    virtual int CreateParameterIndices(int first);
    // After a pass over this process's part of the records: makes every
    // process hold the counts, totals, means and observed cells of all the
    // records (cells as the union of every process's), so that all number
    // the parameters alike. Every process must call it. False when the
    // reducer fails or a cell cannot be stored.
    bool MergeAcrossProcesses(MCCommon_850::PassReducer& reducer);

    void SetRegrWeightVar(int var);
    // Tracks the frequency-weighted mean of var; the mean restarts at 0.
    void SetDepVar(int var);
    // Replaces the covariates whose weighted means are tracked.
    void SetCovariates(const std::vector<int>& covariates);
    // Record positions of the factors of every model effect (empty for the
    // intercept and covariate-only effects). Discards all cells; call before
    // the data pass.
    void SetModelEffectFactors(const std::vector<std::vector<int>>& effectFactors);
    // Tracks the mean and standard deviation of a product of covariates for
    // every non-negative entry of statIndices (at most one per model
    // effect), taking the covariate lists in order.
    void SetCovarEffects(const std::vector<int>& statIndices,
                         const std::vector<std::vector<int>>& covLists);
    // Makes every category of each single-factor effect that saw no record
    // a cell, so that main effects can be numbered without data.
    bool FillTables4MainEffects();

    // For every model effect, the parameter of the row's cell (-1 when the
    // cell was never observed, and allFound becomes false); effects without
    // factors give their fixed index. values is indexed by record position.
    const std::vector<int>& GetRowParameterIndices(const double* values, bool& allFound) const;
    // The same from category indices given per factor (settings order).
    const std::vector<int>& GetParameterIndices(const std::vector<int>& categories,
                                                bool& allFound) const;
    // The parameter of one model effect for category indices per factor; the
    // fixed index for an effect without factors; -1 for an unobserved cell
    // or an effect out of range.
    int GetEffectParameterIndex(int effect, const std::vector<int>& categories) const;
    // Per factor effect, the row's parameter counted from the effect's first
    // one (-1 for an unobserved cell).
    const std::vector<int>& GetRowLocalParamIndices(const double* values, bool& allFound) const;

    // The category codes of the localParam-th cell of an effect, in the
    // effect's factor order; empty for an effect without factors.
    bool GetParameterFactorValues(std::vector<int>& codes, int effect, int localParam) const;
    // 0 out of range, 1 without factors, else the number of observed cells.
    int GetNEffectParameters(int effect) const;

    // Weighted means (frequency x regression weight) of the covariates. The
    // first call fixes them: with no positive total weight every mean is the
    // system-missing value.
    const std::vector<double>& GetCovariateMeans();

    const MCFactorCounts& GetFactorCounts() const { return fCounts; }
    double GetTotalWeight() const { return fTotalWeight; }
    double GetTotalRegrWeight() const { return fTotalRegrWeight; }
    double GetSampleSize() const { return fSampleSize; }
    double GetDepMean() const { return fDepMean; }
    int GetDepVar() const { return fDepMeanVar; }
    int GetRegrWeightVar() const { return fRegrWeightVar; }
    int GetNCovariates() const { return fNCovariates; }
    const std::vector<int>& GetCovariates() const { return fvCovariates; }
    int GetNModelEffects() const { return fNModelEffects; }
    int GetNFactorEffects() const { return fNFactorEffects; }
    const std::vector<std::vector<int>>& GetModelEffectFactors() const { return fvEffectFactors; }
    // Per model effect, the number of parameters of all earlier effects.
    const std::vector<int>& GetParameterOffsets() const { return fvLocalOffsets; }
    // Per factor effect, its model effect.
    const std::vector<int>& GetModelEffectIndices() const { return fvFEToEffect; }
    // Per model effect, its factor-effect number, -1 without factors.
    const std::vector<int>& GetLocalEffectIndices() const { return fvEffectToFE; }
    int GetNCovEffects() const { return fNCovEffects; }
    const std::vector<int>& GetCovStatIndices() const { return fvCovStatIndices; }
    const std::vector<double>& GetCovEffectMeans() const { return fvCovEffectMeans; }
    // From the sums of squares, once the records are in: asked for rarely,
    // so no record pays for a square root.
    std::vector<double> GetCovEffectStddev() const;

    void Display() const;

private:
    typedef MCHashPair<int> Cell;

    // Fills the work key of factor effect fe from the current categories and
    // returns the stored cell, or null.
    const PairNode<int>* FindCell(std::size_t fe) const;
    // Looks up every factor effect from the current categories.
    const std::vector<int>& LookUpCurrent(bool& allFound) const;
    bool AddCell(std::size_t fe);
    // The mixed-radix code of factor effect fe's current cell, -1 when a
    // category is out of range.
    int DenseCode(std::size_t fe) const;
    // The same once CountFactors has accepted the record: its categories
    // are known to be in range.
    int DenseCodeCounted(std::size_t fe) const;
    // Copies every stored cell's value into the direct index.
    void SyncDenseCells();
    void ClearEffects();
    void BuildFactorEffects(const std::vector<std::vector<int>>& effectFactors);
    void UpdateMaxPosition();

    MCFactorCounts fCounts;
    std::vector<std::vector<int>> fvEffectFactors;
    int fNModelEffects = 0;
    int fNFactorEffects = 0;
    std::vector<int> fvFEFactors;
    std::vector<int> fvFESizes;
    std::vector<int> fvFEStarts;
    // Per entry of fvFEFactors: the stride of that factor in the cell code.
    std::vector<int> fvFEStrides;
    // Per factor effect: cell code -> the cell's value, or unseen; empty
    // for effects with too many possible cells.
    std::vector<std::vector<int>> fvDenseCells;
    // When the factors the effects use have few combinations: per
    // combination, whether a record of it was counted, and so every
    // effect's cell of it stored (empty otherwise). A record of a
    // combination seen looks up no effect.
    std::vector<unsigned char> fvSeenCombination;
    std::vector<int> fvCombinationFactors;  // factor indices
    std::vector<int> fvCombinationStrides;
    mutable std::vector<MCHashKey> fvKeys;
    std::vector<std::unique_ptr<MCHashtable<int>>> fvTables;
    std::vector<std::vector<Cell*>> fvCellLists;
    std::vector<int> fvFactorMap;
    mutable std::vector<int> fvCurrCategories;
    mutable std::vector<int> fvEffectParamIndex;
    mutable std::vector<int> fvLocalParamIndex;
    std::vector<int> fvEffectToFE;
    std::vector<int> fvFEToEffect;
    std::vector<int> fvParamsPerFE;
    std::vector<int> fvLocalOffsets;
    std::vector<int> fvFactorPositions;
    std::vector<int> fvCovariates;
    int fRegrWeightVar = -1;
    int fDepMeanVar = -1;
    double fDepMean;
    int fNCovariates = 0;
    std::vector<double> fvCovMeans;
    bool fbMeansFinished = false;
    double fTotalWeight = 0.0;
    double fTotalRegrWeight = 0.0;
    double fSampleSize = 0.0;
    std::vector<int> fvCovStatIndices;
    int fNCovEffects = 0;
    std::vector<std::vector<int>> fvCovEffectVars;
    std::vector<double> fvCovEffectMeans;
    std::vector<double> fvCovEffectSS;
    // Index given to the first parameter by the last numbering.
    int fFirstIndex = 0;
    // Largest record position read by UpdateAll.
    int fMaxPosition = -1;
    // Set when the cell tables could not be built.
    bool fbBroken = false;
};

}  // namespace MCMath_850
