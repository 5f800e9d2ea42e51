#pragma once
#include <new>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/MCIndex.h"
#include "companion/MCSymMatrix.h"
#include "data/MCFactorCounts.h"
#include "design/MCRegrParameter.h"

namespace MCMath_850 {

class MCFactorTables;

// The design value of a parameter with covariates, the product of its
// covariates raised to their powers, in double-double (hi + lo): high
// powers of a covariate rounded to a double alone perturb ill-conditioned
// polynomial fits in the eighth digit.
inline void GLMDesignValue(const double* values, const MCRegrParameter& p, double& hi, double& lo);

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
    // Z'Z itself).
    bool Add(const double* values, double w);
    // Scatters every cell's moments into Z'Z (order p + 1, the dependent
    // last) over the cell's columns, which the factor tables give; the
    // moments are freed unless kept for SumResiduals. False when a scatter
    // is refused. With weights (2p elements, (high, low) per column), adds
    // to each column the weight of the cells it is part of.
    bool Flush(const MCFactorTables& tables, MCSymMatrix& zpz,
               std::vector<double>* weights = nullptr, bool keep = false);
    // Per cell and source, the sum of the estimates of the cell's columns
    // with that source, in double-double.
    void SetCoefficients(const std::vector<double>& estimates);

    // The residual pass's sums over the cells' records, from the moments
    // Flush kept (in double-double), with a bound on what the rounding of
    // the moments and of the sums may have cost each.
    class ResidualSums {
    public:
        DoubleDouble::DD fResidual{0.0, 0.0};  // sum of w (y - fitted)^2
        DoubleDouble::DD fTotal{0.0, 0.0};     // sum of w (y - centre)^2
        double fResidualBound = 0.0;
        double fTotalBound = 0.0;
    };
    // After SetCoefficients: the sums of the cells' nRecords records, the
    // total about centre (about zero when centred is false). False when
    // the moments were not kept.
    bool SumResiduals(double centre, bool centred, long nRecords, ResidualSums& sums) const;
    void ReleaseMoments() { std::vector<double>().swap(fvMoments); }
    // The fitted value of a record whose cell was accumulated, in
    // double-double (hi + lo); false for any other record.
    bool FittedValue(const double* values, double& hi, double& lo) const;
    // After the flush: per cell, its columns but the dependent and their
    // sources (cell q's from start[q] to start[q + 1]), and the number of
    // sources but the dependent. False when memory runs out.
    bool DesignPatterns(std::vector<std::size_t>& start, std::vector<int>& cols,
                        std::vector<int>& srcs, int& nSources) const;
    // The cell of a record among those accumulated (-1: none), with its
    // sources but the dependent into v (hi + lo, GetNSources() - 1 of them).
    int DesignSources(const double* values, double* v) const;
    // The same for the record of the last FittedValue, without finding its
    // cell and sources again (-1 when that FittedValue returned false).
    int LastSources(double* v) const;
    int GetNSources() const { return fNSources; }

private:
    // The cell of a record (-1: none).
    int CellCode(const double* values) const;
    // The slot of a code among the cells seen, -1 when no record of it was
    // accumulated.
    int FindSlot(int code) const;
    // The source values of a record into fvSrcHi/fvSrcLo.
    void SourceValues(const double* values) const;
    // The products of Add and FittedValue, exact with or without fused
    // multiply-add (chosen once, at SetUp), so both give the same bits.
    void AddMoments(int slot, double w);
    template <bool kFma>
    void AddMomentsKernel(int slot, double w);
    void AddMomentsFmaEntry(int slot, double w);
    template <bool kFma>
    void FittedKernel(int slot, double& hi, double& lo) const;
    void FittedFmaEntry(int slot, double& hi, double& lo) const;

    bool fbActive = false;
    int fDepVar = -1;
    int fP = 0;                          // parameters
    std::vector<int> fvSettingsFactors;  // record positions, settings order
    std::vector<int> fvCellFactors;      // the factors in use, record positions
    std::vector<int> fvCellSizes;        // their numbers of categories
    std::vector<int> fvCellStrides;      // code = sum category * stride
    std::vector<int> fvCellSlot;         // by cell code: slot in the cells seen, or -1
    std::vector<int> fvCellCodes;        // by slot: the code, in order of first record
    std::vector<int> fvParamSource;      // per parameter
    std::vector<const MCRegrParameter*> fvSourceParam;  // a parameter carrying each source
    // Per source: the record position of a source that is one covariate to
    // the first power (its value read as it is), else -1.
    std::vector<int> fvSourcePos;
    bool fbFma = false;
    // The moments updated four at a time (AVX2), each cell's held as rows
    // of four-element lanes; otherwise as the packed lower triangle.
    bool fbVectors = false;
    std::vector<std::size_t> fvRowStart;         // per source: its row's first element
    std::size_t fSlotElements = 0;               // of one cell's moments, high or low parts
    std::vector<double> fvPackedHi, fvPackedLo;  // scratch of Flush
    int fNSources = 0;
    std::size_t fNElements = 0;  // of one cell's packed moments
    // All cells' packed moments, slot after slot in one block, each slot's
    // high parts followed by its low parts: a record then touches one or two
    // cache lines, however many cells there are.
    std::vector<double> fvMoments;
    // After the flush: per slot, its first entry in the columns and their
    // sources (the cell's columns, the dependent last).
    std::vector<std::size_t> fvColStart;
    std::vector<int> fvCols, fvSrcs;
    // After the build: per slot and source, the sum of the estimates of the
    // cell's columns with that source, in double-double.
    std::vector<double> fvCoefHi, fvCoefLo;
    // A record's sources, padded with zeros to a whole lane of four.
    mutable std::vector<double> fvSrcHi;
    mutable std::vector<double> fvSrcLo;
    mutable int fLastSlot = -1;     // of the sources in fvSrcHi/fvSrcLo
    std::vector<int> fvCategories;  // scratch of Flush, by settings factor
};

// The per-record steps, inline: passes 2 and 3 call them for every record.

inline void GLMDesignValue(const double* values, const MCRegrParameter& p, double& hi, double& lo) {
    const std::vector<int>& covs = p.GetCovariates();
    const std::vector<int>& mults = p.GetCovariateMultiplicities();
    if (covs.size() == 1 && mults[0] == 1) {
        hi = values[covs[0]];
        lo = 0.0;
        return;
    }
    DoubleDouble::DD v{1.0, 0.0};
    for (std::size_t c = 0; c < covs.size(); ++c)
        for (int m = 0; m < mults[c]; ++m) v = DoubleDouble::Mul(v, values[covs[c]]);
    hi = v.hi;
    lo = v.lo;
}

inline int MCGLMCellMoments::CellCode(const double* values) const {
    int code = 0;
    for (std::size_t i = 0; i < fvCellFactors.size(); ++i) {
        const int c = MCCategoryIndex(values[fvCellFactors[i]], 0);
        if (c < 0 || c >= fvCellSizes[i]) return -1;
        code += c * fvCellStrides[i];
    }
    return code;
}

inline int MCGLMCellMoments::FindSlot(int code) const {
    if (code < 0 || static_cast<std::size_t>(code) >= fvCellSlot.size()) return -1;
    return fvCellSlot[Ix(code)];
}

inline void MCGLMCellMoments::SourceValues(const double* values) const {
    const std::size_t last = Ix(fNSources) - 1;
    fvSrcHi[0] = 1.0;
    fvSrcLo[0] = 0.0;
    for (std::size_t s = 1; s < last; ++s) {
        const int pos = fvSourcePos[s];
        if (pos >= 0) {
            fvSrcHi[s] = values[pos];
            fvSrcLo[s] = 0.0;
        } else {
            GLMDesignValue(values, *fvSourceParam[s], fvSrcHi[s], fvSrcLo[s]);
        }
    }
    fvSrcHi[last] = values[fDepVar];
    fvSrcLo[last] = 0.0;
}

inline int MCGLMCellMoments::DesignSources(const double* values, double* v) const {
    if (!fbActive) return -1;
    const int slot = FindSlot(CellCode(values));
    if (slot < 0) return -1;
    SourceValues(values);
    fLastSlot = slot;
    return LastSources(v);
}

inline int MCGLMCellMoments::LastSources(double* v) const {
    for (std::size_t s = 0; s + 1 < Ix(fNSources); ++s) v[s] = fvSrcHi[s] + fvSrcLo[s];
    return fLastSlot;
}

}  // namespace MCMath_850
