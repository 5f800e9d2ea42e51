#include "glm/MCGLMCellMoments.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCIndex.h"
#include "data/MCFactorCounts.h"
#include "data/MCFactorTables.h"
#include "glm/MCGLMMomentKernels.h"

namespace MCMath_850 {

bool MCGLMCellMoments::SetUp(const std::vector<MCRegrParameter>& params,
                             const std::vector<int>& factors, const std::vector<int>& sizes,
                             int depVar) {
    fbActive = false;
    fvCellCodes.clear();
    fvCellSlot.clear();
    fvMoments.clear();
    fvColStart.clear();
    fvCols.clear();
    fvSrcs.clear();
    fvCoefHi.clear();
    fvCoefLo.clear();
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
    fvSourcePos.assign(Ix(fNSources), -1);
    for (std::size_t m = 0; m < monomials.size(); ++m)
        if (monomials[m].size() == 1) fvSourcePos[m + 1] = monomials[m][0];
    fbFma = DoubleDouble::HasFma();
    fNElements = Ix(fNSources) * Ix(fNSources + 1) / 2;

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
    // Rows of four-element lanes when vectors take the update and the
    // cells' moments stay within the same bound; else the packed triangle.
    const std::size_t stride = (Ix(fNSources) + 3) / 4 * 4;
    fbVectors =
        HasMomentVectors() && cells * fNSources * static_cast<long>(stride) <= kMaxCellElements;
    fvRowStart.assign(Ix(fNSources), 0);
    for (std::size_t j = 0; j < Ix(fNSources); ++j)
        fvRowStart[j] = fbVectors ? j * stride : j * (j + 1) / 2;
    fSlotElements = fbVectors ? Ix(fNSources) * stride : fNElements;
    fvSrcHi.assign(stride, 0.0);
    fvSrcLo.assign(stride, 0.0);
    fvPackedHi.assign(fbVectors ? fNElements : 0, 0.0);
    fvPackedLo.assign(fvPackedHi.size(), 0.0);
    fvCellStrides.assign(fvCellFactors.size(), 1);
    for (std::size_t i = fvCellFactors.size(); i-- > 1;)
        fvCellStrides[i - 1] = fvCellStrides[i] * fvCellSizes[i];
    fvCellSlot.assign(static_cast<std::size_t>(cells), -1);
    fvCategories.assign(factors.size(), 0);
    fbActive = true;
    return true;
}

bool MCGLMCellMoments::Add(const double* values, double w) {
    const int code = CellCode(values);
    if (code < 0) return false;
    int& slot = fvCellSlot[Ix(code)];
    if (slot < 0) {
        fvMoments.resize(fvMoments.size() + 2 * fSlotElements, 0.0);
        fvCellCodes.push_back(code);
        slot = static_cast<int>(fvCellCodes.size()) - 1;
    }
    SourceValues(values);
    fLastSlot = -1;
    AddMoments(slot, w);
    return true;
}

// w z z' with exact products and compensated sums, as MCSymMatrix::UpdateXX.
template <bool kFma>
MC_DD_INLINE void MCGLMCellMoments::AddMomentsKernel(int slot, double w) {
    double* hi = fvMoments.data() + Ix(slot) * 2 * fSlotElements;
    double* lo = hi + fSlotElements;
    const double* srcHi = fvSrcHi.data();
    const double* srcLo = fvSrcLo.data();
    const std::size_t n = Ix(fNSources);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t row = fvRowStart[j];
        const double zj = srcHi[j], zjl = srcLo[j];
        if (zj == 0.0 && zjl == 0.0) continue;
        double wzh, wzl;
        DoubleDouble::TwoProd<kFma>(w, zj, wzh, wzl);
        wzl += w * zjl;
        for (std::size_t k = 0; k <= j; ++k) {
            const double zk = srcHi[k], zkl = srcLo[k];
            if (zk == 0.0 && zkl == 0.0) continue;
            double ph, pl;
            DoubleDouble::TwoProd<kFma>(wzh, zk, ph, pl);
            pl += wzl * zk + wzh * zkl;
            DoubleDouble::Accumulate(hi[row + k], lo[row + k], ph, pl);
        }
    }
}

void MCGLMCellMoments::AddMoments(int slot, double w) {
    if (fbVectors) {
        double* hi = fvMoments.data() + Ix(slot) * 2 * fSlotElements;
        AddMomentRows(hi, hi + fSlotElements, Ix(fNSources), fvSrcHi.data(), fvSrcLo.data(), w);
    } else if (fbFma)
        AddMomentsFmaEntry(slot, w);
    else
        AddMomentsKernel<false>(slot, w);
}

bool MCGLMCellMoments::FittedValue(const double* values, double& hi, double& lo) const {
    fLastSlot = -1;
    if (!fbActive || fvCoefHi.empty()) return false;
    const int slot = FindSlot(CellCode(values));
    if (slot < 0) return false;
    SourceValues(values);
    fLastSlot = slot;
    if (fbFma)
        FittedFmaEntry(slot, hi, lo);
    else
        FittedKernel<false>(slot, hi, lo);
    return true;
}

template <bool kFma>
MC_DD_INLINE void MCGLMCellMoments::FittedKernel(int slot, double& hi, double& lo) const {
    const double* coefHi = fvCoefHi.data() + Ix(slot) * Ix(fNSources);
    const double* coefLo = fvCoefLo.data() + Ix(slot) * Ix(fNSources);
    const double* srcHi = fvSrcHi.data();
    const double* srcLo = fvSrcLo.data();
    // Summed in locals: hi and lo may alias nothing the loop reads, but the
    // compiler cannot know.
    double sumHi = 0.0, sumLo = 0.0;
    const std::size_t n = Ix(fNSources) - 1;  // every source but the dependent
    for (std::size_t k = 0; k < n; ++k) {
        const double b = coefHi[k];
        if (b == 0.0) continue;
        double ph, pl;
        DoubleDouble::TwoProd<kFma>(srcHi[k], b, ph, pl);
        pl += srcLo[k] * b + srcHi[k] * coefLo[k];
        DoubleDouble::Accumulate(sumHi, sumLo, ph, pl);
    }
    hi = sumHi;
    lo = sumLo;
}

MC_DD_TARGET_FMA void MCGLMCellMoments::AddMomentsFmaEntry(int slot, double w) {
    AddMomentsKernel<true>(slot, w);
}

MC_DD_TARGET_FMA void MCGLMCellMoments::FittedFmaEntry(int slot, double& hi, double& lo) const {
    FittedKernel<true>(slot, hi, lo);
}

bool MCGLMCellMoments::Flush(const MCFactorTables& tables, MCSymMatrix& zpz,
                             std::vector<double>* weights, bool keep) {
    const std::size_t cells = fvCellCodes.size();
    fvColStart.assign(cells + 1, 0);
    fvCols.clear();
    fvSrcs.clear();
    for (std::size_t slot = 0; slot < cells; ++slot) {
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
        const std::size_t start = fvCols.size();
        for (int i : idx) {
            if (i < 0) continue;
            fvCols.push_back(i);
            fvSrcs.push_back(fvParamSource[Ix(i)]);
        }
        fvCols.push_back(fP);
        fvSrcs.push_back(fNSources - 1);
        fvColStart[slot + 1] = fvCols.size();
        const double* moments = fvMoments.data() + slot * 2 * fSlotElements;
        const double* lows = moments + fSlotElements;
        if (fbVectors) {
            // Rows to the packed triangle that the scatter reads.
            for (std::size_t j = 0, e = 0; j < Ix(fNSources); ++j)
                for (std::size_t k = 0; k <= j; ++k, ++e) {
                    fvPackedHi[e] = moments[fvRowStart[j] + k];
                    fvPackedLo[e] = lows[fvRowStart[j] + k];
                }
            moments = fvPackedHi.data();
            lows = fvPackedLo.data();
        }
        // The constant's moment with itself is the cell's weight.
        if (weights != nullptr && weights->size() >= 2 * Ix(fP))
            for (std::size_t c = start; c + 1 < fvCols.size(); ++c) {
                const std::size_t k = Ix(fvCols[c]);
                DoubleDouble::Accumulate((*weights)[2 * k], (*weights)[2 * k + 1], moments[0],
                                         lows[0]);
            }
        if (!zpz.AddMapped(moments, lows, fNSources, fvCols.data() + start, fvSrcs.data() + start,
                           static_cast<int>(fvCols.size() - start)))
            return false;
    }
    if (!keep) ReleaseMoments();
    return true;
}

bool MCGLMCellMoments::DesignPatterns(std::vector<std::size_t>& start, std::vector<int>& cols,
                                      std::vector<int>& srcs, int& nSources) const {
    const std::size_t cells = fvCellCodes.size();
    if (fvColStart.size() != cells + 1) return false;
    try {
        start.assign(1, 0);
        cols.clear();
        srcs.clear();
        for (std::size_t slot = 0; slot < cells; ++slot) {
            // Every column but the dependent, the last of the cell's.
            for (std::size_t a = fvColStart[slot]; a + 1 < fvColStart[slot + 1]; ++a) {
                cols.push_back(fvCols[a]);
                srcs.push_back(fvSrcs[a]);
            }
            start.push_back(cols.size());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    nSources = fNSources - 1;
    return true;
}

bool MCGLMCellMoments::SumResiduals(double centre, bool centred, long nRecords,
                                    ResidualSums& sums) const {
    using DoubleDouble::DD;
    const std::size_t cells = fvCellCodes.size();
    const std::size_t n = Ix(fNSources);
    const std::size_t dep = n - 1;
    if (fvMoments.size() != cells * 2 * fSlotElements || fvCoefHi.size() != cells * n) return false;
    sums = ResidualSums();
    // The residual of a record is v'z, v = (-c, 1) over its sources z (the
    // dependent last, c the cell's coefficients); its weighted square
    // summed over the cell is v'Mv. Each moment M(j, k) may be off by
    // about (4 m + 8) 2^-106 sum |w z_j z_k| after m compensated additions,
    // the form's own sums add a few units of 2^-106 per term, and
    // sum |w z_j z_k| <= sqrt(M(j, j) M(k, k)): the error of v'Mv is
    // within that factor times (sum |v_j| sqrt(M(j, j)))^2.
    const double unit = std::ldexp(1.0, -106);
    const double factor =
        2.0 * (4.0 * static_cast<double>(nRecords) + 8.0 + 4.0 * static_cast<double>(n * n)) * unit;
    std::vector<DD> v(n);
    double rssScale = 0.0, tssScale = 0.0;
    for (std::size_t slot = 0; slot < cells; ++slot) {
        const double* hi = fvMoments.data() + slot * 2 * fSlotElements;
        const double* lo = hi + fSlotElements;
        const auto at = [&](std::size_t j, std::size_t k) {
            const std::size_t e = fvRowStart[j] + k;
            return DD{hi[e], lo[e]};
        };
        for (std::size_t k = 0; k < dep; ++k)
            v[k] = DD{-fvCoefHi[slot * n + k], -fvCoefLo[slot * n + k]};
        v[dep] = DD{1.0, 0.0};
        // v'Mv by rows of the lower triangle: v_j (M(j, j) v_j + 2 sum_k<j M(j, k) v_k).
        DD form{0.0, 0.0};
        double spread = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const DD mjj = at(j, j);
            spread += std::fabs(v[j].hi) * std::sqrt(std::max(mjj.hi, 0.0));
            DD off{0.0, 0.0};
            for (std::size_t k = 0; k < j; ++k)
                off = DoubleDouble::Add(off, DoubleDouble::Mul(at(j, k), v[k]));
            DD row = DoubleDouble::Add(DoubleDouble::Mul(mjj, v[j]), DoubleDouble::Mul(off, 2.0));
            form = DoubleDouble::Add(form, DoubleDouble::Mul(row, v[j]));
        }
        sums.fResidual = DoubleDouble::Add(sums.fResidual, form);
        rssScale += spread * spread;
        // The total about the centre: M(y, y) - 2 centre M(y, 1) + centre^2 M(1, 1).
        const DD myy = at(dep, dep);
        DD total = myy;
        double reach = std::sqrt(std::max(myy.hi, 0.0));
        if (centred) {
            const DD m11 = at(0, 0);
            const DD m1y = at(dep, 0);
            total = DoubleDouble::Add(total, DoubleDouble::Mul(m1y, -2.0 * centre));
            total =
                DoubleDouble::Add(total, DoubleDouble::Mul(DoubleDouble::Mul(m11, centre), centre));
            reach += std::fabs(centre) * std::sqrt(std::max(m11.hi, 0.0));
        }
        sums.fTotal = DoubleDouble::Add(sums.fTotal, total);
        tssScale += reach * reach;
    }
    sums.fResidualBound = factor * rssScale;
    sums.fTotalBound = factor * tssScale;
    return true;
}

void MCGLMCellMoments::SetCoefficients(const std::vector<double>& estimates) {
    using DoubleDouble::DD;
    const std::size_t cells = fvCellCodes.size();
    const std::size_t n = Ix(fNSources);
    if (fvColStart.size() != cells + 1) return;
    fvCoefHi.assign(cells * n, 0.0);
    fvCoefLo.assign(cells * n, 0.0);
    for (std::size_t slot = 0; slot < cells; ++slot) {
        // Every column but the dependent, the last of the cell's.
        for (std::size_t a = fvColStart[slot]; a + 1 < fvColStart[slot + 1]; ++a) {
            const std::size_t at = slot * n + Ix(fvSrcs[a]);
            const DD c = DoubleDouble::Add(DD{fvCoefHi[at], fvCoefLo[at]},
                                           DD{estimates[Ix(fvCols[a])], 0.0});
            fvCoefHi[at] = c.hi;
            fvCoefLo[at] = c.lo;
        }
    }
}

}  // namespace MCMath_850
