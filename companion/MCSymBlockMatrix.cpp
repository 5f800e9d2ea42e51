#include "companion/MCSymBlockMatrix.h"

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCSparseVector.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

bool MCSymBlockMatrix::Resize(int nBlocks, int blockSize) {
    if (nBlocks < 0 || blockSize < 0) {
        Resize(std::vector<int>());
        return false;
    }
    try {
        return Resize(std::vector<int>(static_cast<std::size_t>(nBlocks), blockSize));
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        Resize(std::vector<int>());
        return false;
    }
}

bool MCSymBlockMatrix::Resize(const std::vector<int>& blockSizes) {
    fN = 0;
    fvBlockSizes.clear();
    fvBlockOffsets.clear();
    fvPacked.clear();
    fvLow.clear();
    long long n = 0;
    for (int s : blockSizes) {
        if (s < 0) return false;
        n += s;
        if (n > INT_MAX) return false;
    }
    const std::size_t packed = static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 1) / 2;
    try {
        fvPacked.assign(packed, 0.0);
        fvLow.assign(packed, 0.0);
        fvBlockSizes = blockSizes;
        fvBlockOffsets.resize(blockSizes.size());
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvPacked = std::vector<double>();
        fvLow = std::vector<double>();
        fvBlockSizes.clear();
        fvBlockOffsets.clear();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        fvPacked = std::vector<double>();
        fvLow = std::vector<double>();
        fvBlockSizes.clear();
        fvBlockOffsets.clear();
        return false;
    }
    int offset = 0;
    for (std::size_t b = 0; b < blockSizes.size(); ++b) {
        fvBlockOffsets[b] = offset;
        offset += blockSizes[b];
    }
    fN = static_cast<int>(n);
    return true;
}

double MCSymBlockMatrix::GetElem(int j, int k) const {
    if (j < 0 || k < 0 || j >= fN || k >= fN) return 0.0;
    const std::size_t i = Index(j, k);
    return fvPacked[i] + fvLow[i];
}

double MCSymBlockMatrix::GetBlockElem(int j, int l, int a, int b) const {
    const int nb = GetNBlocks();
    if (j < 0 || l < 0 || j >= nb || l >= nb) return 0.0;
    if (a < 0 || b < 0 || a >= fvBlockSizes[j] || b >= fvBlockSizes[l]) return 0.0;
    const std::size_t i = Index(fvBlockOffsets[j] + a, fvBlockOffsets[l] + b);
    return fvPacked[i] + fvLow[i];
}

void MCSymBlockMatrix::Zero() {
    std::fill(fvPacked.begin(), fvPacked.end(), 0.0);
    std::fill(fvLow.begin(), fvLow.end(), 0.0);
}

bool MCSymBlockMatrix::MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
    std::vector<double> pairs;
    pairs.resize(2 * fvPacked.size());
    for (std::size_t i = 0; i < fvPacked.size(); ++i) {
        pairs[2 * i] = fvPacked[i];
        pairs[2 * i + 1] = fvLow[i];
    }
    if (!reducer.SumExtended(pairs)) return false;
    for (std::size_t i = 0; i < fvPacked.size(); ++i) {
        fvPacked[i] = pairs[2 * i];
        fvLow[i] = pairs[2 * i + 1];
    }
    return true;
}

bool MCSymBlockMatrix::QuadraticOuterProductIncr(int j, int l, const MCSparseVector& x, double c) {
    const int nb = GetNBlocks();
    if (l < 0 || l > j || j >= nb) return false;
    const int size = fvBlockSizes[j];
    if (fvBlockSizes[l] != size || !x.IsValid() || x.GetDimension() != size) return false;
    const std::vector<int>& idx = x.GetIndices();
    const std::vector<double>& val = x.GetValues();
    const std::size_t nnz = idx.size();
    const int rowBase = fvBlockOffsets[j];
    const int colBase = fvBlockOffsets[l];
    if (j == l) {
        // Ascending indices: entry b <= a lies in the lower triangle.
        for (std::size_t a = 0; a < nnz; ++a) {
            const double ca = c * val[a];
            const std::size_t row = Index(rowBase + idx[a], 0);
            for (std::size_t b = 0; b <= a; ++b)
                Add(row + static_cast<std::size_t>(rowBase + idx[b]), ca * val[b], 0.0);
        }
    } else {
        // Every element of an off-diagonal lower block is below the diagonal.
        for (std::size_t a = 0; a < nnz; ++a) {
            const double ca = c * val[a];
            const std::size_t row = Index(rowBase + idx[a], 0);
            for (std::size_t b = 0; b < nnz; ++b)
                Add(row + static_cast<std::size_t>(colBase + idx[b]), ca * val[b], 0.0);
        }
    }
    return true;
}

bool MCSymBlockMatrix::KroneckerOuterProductIncr(const double* c, const MCSparseVector& x) {
    const std::size_t nb = fvBlockSizes.size();
    if (nb == 0) return true;
    const int size = fvBlockSizes[0];
    for (int s : fvBlockSizes)
        if (s != size) return false;
    if (c == nullptr || !x.IsValid() || x.GetDimension() != size) return false;
    const std::vector<int>& idx = x.GetIndices();
    const std::vector<double>& val = x.GetValues();
    const std::size_t nnz = idx.size();
    if (fvProducts.size() < nnz * nnz) fvProducts.resize(nnz * nnz);
    for (std::size_t a = 0; a < nnz; ++a)
        for (std::size_t b = 0; b <= a; ++b)
            fvProducts[a * nnz + b] = fvProducts[b * nnz + a] = val[a] * val[b];

    const std::size_t p = static_cast<std::size_t>(size);
    for (std::size_t j = 0; j < nb; ++j) {
        const double* cj = c + j * (j + 1) / 2;
        for (std::size_t a = 0; a < nnz; ++a) {
            // Row j p + idx[a] of the packed triangle; block column l starts at
            // l p within it.
            const std::size_t r = j * p + static_cast<std::size_t>(idx[a]);
            const std::size_t row = r * (r + 1) / 2;
            const double* pa = fvProducts.data() + a * nnz;
            for (std::size_t l = 0; l < j; ++l) {
                const std::size_t block = row + l * p;
                const double cjl = cj[l];
                for (std::size_t b = 0; b < nnz; ++b)
                    Add(block + static_cast<std::size_t>(idx[b]), cjl * pa[b], 0.0);
            }
            // Diagonal block: only its lower triangle, b <= a.
            const std::size_t block = row + j * p;
            const double cjj = cj[j];
            for (std::size_t b = 0; b <= a; ++b)
                Add(block + static_cast<std::size_t>(idx[b]), cjj * pa[b], 0.0);
        }
    }
    return true;
}

bool MCSymBlockMatrix::CopyTo(MCSymMatrix& out) const {
    if (!out.Resize(fN)) return false;
    // Zero() also forgets any Cholesky factor the target held.
    out.Zero();
    std::vector<double>& dst = out.AsVector();
    for (std::size_t i = 0; i < fvPacked.size(); ++i) dst[i] = fvPacked[i] + fvLow[i];
    return true;
}

void MCSymBlockMatrix::Display(bool full) const {
    using namespace MCDisplay_850;
    DisplayText("MCSymBlockMatrix display start");
    DisplayI("Number of rows", fN);
    DisplayIV("Block sizes", fvBlockSizes);
    if (full) {
        DisplayDV("Packed lower triangle", fvPacked);
        DisplayDV("Its rounding errors", fvLow);
    }
    DisplayText("MCSymBlockMatrix display end");
}

}  // namespace MCMath_850
