#pragma once
#include <memory>
#include <vector>

#include "companion/MCSymMatrix.h"
#include "design/MCRegrParameter.h"

namespace MCMath_850 {

class MCFactorTables;

// The design value of a parameter with covariates, the product of its
// covariates raised to their powers, in double-double (hi + lo): high
// powers of a covariate rounded to a double alone perturb ill-conditioned
// polynomial fits in the eighth digit.
void GLMDesignValue(const double* values, const MCRegrParameter& p, double& hi, double& lo);

// Pass 2 of the general linear model by cells (internal to MCGLMModel).
//
// Records of one factor cell share their design columns, so pass 2 can
// accumulate per cell the weighted moments of the few distinct values a row
// is made of (the sources: 1, each distinct covariate product, y) and
// scatter them into Z'Z once, before the sweep. For the usual models this
// is several times fewer updates per record than the row's outer product.
// Used when the cells are few enough to index directly (at most
// kMaxCellElements moment elements over all possible cells, at most
// kMaxSources sources); otherwise the model adds rows to Z'Z one by one.
//
// Life: SetUp with the parameters; Add every valid row; Flush into Z'Z;
// after the sweep SetCoefficients with the estimates; then FittedValue for
// the residual pass and scoring.
class MCGLMCellMoments {
public:
    static constexpr long kMaxCellElements = 1L << 22;
    static constexpr int kMaxSources = 24;

    // Prepares for the parameters of a model whose factors (record
    // positions) have the given numbers of categories and whose dependent
    // sits at depVar. False, and inactive, when the model has too many cells
    // or sources.
    bool SetUp(const std::vector<MCRegrParameter>& params, const std::vector<int>& factors,
               const std::vector<int>& sizes, int depVar);
    bool IsActive() const { return fbActive; }

    // Adds the row with weight w to its cell's moments. False when the row
    // belongs to no cell (a category out of range: the caller adds it to
    // Z'Z itself) or when memory runs out (failed is set).
    bool Add(const double* values, double w, bool& failed);
    // Scatters every cell's moments into Z'Z (order p + 1, the dependent
    // last) over the cell's columns, which the factor tables give; the
    // moments are freed. False when a scatter is refused.
    bool Flush(const MCFactorTables& tables, MCSymMatrix& zpz);
    // Per cell and source, the sum of the estimates of the cell's columns
    // with that source, in double-double.
    void SetCoefficients(const std::vector<double>& estimates);
    // The fitted value of a record whose cell was accumulated, in
    // double-double (hi + lo); false for any other record.
    bool FittedValue(const double* values, double& hi, double& lo) const;

private:
    struct Cell {
        std::unique_ptr<MCSymMatrix> fpMoments;
        // The cell's columns and their sources, once flushed.
        std::vector<int> fvCols, fvSrcs;
        // After the build: per source, the sum of the estimates of the
        // cell's columns with that source, in double-double.
        std::vector<double> fvCoefHi, fvCoefLo;
    };
    // The cell of a record (-1: none).
    int CellCode(const double* values) const;
    // The cell of a code, null when no record of it was accumulated.
    const Cell* FindCell(int code) const;
    // The source values of a record into fvSrcHi/fvSrcLo.
    void SourceValues(const double* values) const;

    bool fbActive = false;
    int fDepVar = -1;
    int fP = 0;                                         // parameters
    std::vector<int> fvSettingsFactors;                 // record positions, settings order
    std::vector<int> fvCellFactors;                     // the factors in use, record positions
    std::vector<int> fvCellSizes;                       // their numbers of categories
    std::vector<int> fvCellStrides;                     // code = sum category * stride
    std::vector<int> fvCellSlot;                        // by cell code: index into fvCells, or -1
    std::vector<Cell> fvCells;                          // the cells seen, in order of first record
    std::vector<int> fvCellCodes;                       // their codes
    std::vector<int> fvParamSource;                     // per parameter
    std::vector<const MCRegrParameter*> fvSourceParam;  // a parameter carrying each source
    int fNSources = 0;
    mutable std::vector<double> fvSrcHi;
    mutable std::vector<double> fvSrcLo;
    std::vector<int> fvCategories;  // scratch of Flush, by settings factor
};

}  // namespace MCMath_850
