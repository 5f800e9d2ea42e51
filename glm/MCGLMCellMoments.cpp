#include "glm/MCGLMCellMoments.h"

#include <algorithm>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCIndex.h"
#include "data/MCFactorCounts.h"
#include "data/MCFactorTables.h"

namespace MCMath_850 {

bool MCGLMCellMoments::SetUp(const std::vector<MCRegrParameter>& params,
                             const std::vector<int>& factors, const std::vector<int>& sizes,
                             int depVar) {
    fbActive = false;
    fvCells.clear();
    fvCellCodes.clear();
    fvCellSlot.clear();
    fDepVar = depVar;
    fP = static_cast<int>(params.size());
    fvSettingsFactors = factors;
    // Sources: 0 is the constant, then one per distinct covariate product,
    // and the dependent last.
    std::vector<std::vector<int>> monomials;
    fvParamSource.assign(params.size(), 0);
    fvSourceParam.assign(1, nullptr);
    std::vector<int> factorUsed;
    for (std::size_t k = 0; k < params.size(); ++k) {
        const MCRegrParameter& prm = params[k];
        for (int f : prm.GetFactors())
            if (std::find(factorUsed.begin(), factorUsed.end(), f) == factorUsed.end())
                factorUsed.push_back(f);
        if (prm.GetNCovariates() == 0) continue;
        std::vector<int> mono;
        for (std::size_t c = 0; c < prm.GetCovariates().size(); ++c)
            for (int m = 0; m < prm.GetCovariateMultiplicities()[c]; ++m)
                mono.push_back(prm.GetCovariates()[c]);
        std::sort(mono.begin(), mono.end());
        auto it = std::find(monomials.begin(), monomials.end(), mono);
        if (it == monomials.end()) {
            monomials.push_back(mono);
            fvSourceParam.push_back(&prm);
            it = monomials.end() - 1;
        }
        fvParamSource[k] = 1 + static_cast<int>(it - monomials.begin());
    }
    fNSources = static_cast<int>(monomials.size()) + 2;
    if (fNSources > kMaxSources) return false;

    // The cell of a record is fixed by the categories of the factors in use.
    fvCellFactors.clear();
    fvCellSizes.clear();
    long cells = 1;
    for (std::size_t i = 0; i < factors.size() && i < sizes.size(); ++i) {
        if (std::find(factorUsed.begin(), factorUsed.end(), factors[i]) == factorUsed.end())
            continue;
        fvCellFactors.push_back(factors[i]);
        fvCellSizes.push_back(sizes[i]);
        cells *= std::max(sizes[i], 1);
        if (cells * fNSources * (fNSources + 1) / 2 > kMaxCellElements) return false;
    }
    fvCellStrides.assign(fvCellFactors.size(), 1);
    for (std::size_t i = fvCellFactors.size(); i-- > 1;)
        fvCellStrides[i - 1] = fvCellStrides[i] * fvCellSizes[i];
    fvCellSlot.assign(static_cast<std::size_t>(cells), -1);
    fvSrcHi.assign(static_cast<std::size_t>(fNSources), 0.0);
    fvSrcLo.assign(static_cast<std::size_t>(fNSources), 0.0);
    fvCategories.assign(factors.size(), 0);
    fbActive = true;
    return true;
}

bool MCGLMCellMoments::Flush(const MCFactorTables& tables, MCSymMatrix& zpz) {
    for (std::size_t slot = 0; slot < fvCells.size(); ++slot) {
        Cell& cell = fvCells[slot];
        if (!cell.fpMoments) continue;
        // The categories of the cell, by settings factor.
        int rest = fvCellCodes[slot];
        for (std::size_t i = 0; i < fvCellFactors.size(); ++i) {
            const int c = rest / fvCellStrides[i];
            rest -= c * fvCellStrides[i];
            const auto f =
                std::find(fvSettingsFactors.begin(), fvSettingsFactors.end(), fvCellFactors[i]);
            fvCategories[Ix(f - fvSettingsFactors.begin())] = c;
        }
        bool allFound = true;
        const std::vector<int>& idx = tables.GetParameterIndices(fvCategories, allFound);
        cell.fvCols.clear();
        cell.fvSrcs.clear();
        for (int i : idx) {
            if (i < 0) continue;
            cell.fvCols.push_back(i);
            cell.fvSrcs.push_back(fvParamSource[Ix(i)]);
        }
        cell.fvCols.push_back(fP);
        cell.fvSrcs.push_back(fNSources - 1);
        if (!zpz.AddMapped(*cell.fpMoments, cell.fvCols.data(), cell.fvSrcs.data(),
                           static_cast<int>(cell.fvCols.size())))
            return false;
        cell.fpMoments.reset();
    }
    return true;
}

void MCGLMCellMoments::SetCoefficients(const std::vector<double>& estimates) {
    using DoubleDouble::DD;
    for (Cell& cell : fvCells) {
        if (cell.fvCols.empty()) continue;
        std::vector<DD> coef(static_cast<std::size_t>(fNSources), DD{0.0, 0.0});
        for (std::size_t a = 0; a + 1 < cell.fvCols.size(); ++a) {
            DD& c = coef[Ix(cell.fvSrcs[a])];
            c = DoubleDouble::Add(c, DD{estimates[Ix(cell.fvCols[a])], 0.0});
        }
        cell.fvCoefHi.resize(coef.size());
        cell.fvCoefLo.resize(coef.size());
        for (std::size_t k = 0; k < coef.size(); ++k) {
            cell.fvCoefHi[k] = coef[k].hi;
            cell.fvCoefLo[k] = coef[k].lo;
        }
    }
}

}  // namespace MCMath_850
