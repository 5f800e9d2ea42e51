#pragma once
#include <vector>

#include "companion/PassReducer.h"

namespace MCMath_850 {

class MCSparseVector;
class MCSymMatrix;

// A symmetric matrix partitioned into square diagonal blocks: block row j
// covers the rows GetBlockOffset(j) .. GetBlockOffset(j) + GetBlockSize(j) - 1.
// The lower triangle is stored packed row by row in the layout of
// MCSymMatrix, so the whole matrix is copied out in one move; the block
// operations touch only the lower blocks (j, l), l <= j.
//
// Every element is a compensated sum (a running sum and the sum of its
// rounding errors, as Ogita, Rump and Oishi's Sum2): the elements are read
// as their correctly rounded totals whatever the order of the terms, so
// records taken in another order, or split over processes, give the same
// matrix.
//
// Nothing throws: a failed allocation is reported by the result.
class MCSymBlockMatrix {
public:
    MCSymBlockMatrix() = default;

    // nBlocks diagonal blocks of blockSize rows each (zero-filled). False,
    // leaving an empty matrix, for a negative argument or when the storage
    // cannot be obtained.
    bool Resize(int nBlocks, int blockSize);
    // Blocks of the given sizes (each >= 0).
    bool Resize(const std::vector<int>& blockSizes);

    int GetNRows() const { return fN; }
    int GetNBlocks() const { return static_cast<int>(fvBlockSizes.size()); }
    int GetBlockSize(int block) const { return fvBlockSizes[block]; }
    int GetBlockOffset(int block) const { return fvBlockOffsets[block]; }
    // Element (j, k) of the whole matrix, either order; 0 out of range.
    double GetElem(int j, int k) const;
    // Element (a, b) of block (j, l), local indices; 0 out of range.
    double GetBlockElem(int j, int l, int a, int b) const;

    void Zero();
    // The sums of all the processes of a split pass, in extended precision.
    bool MergeAcrossProcesses(MCCommon_850::PassReducer& reducer);
    // Element (a, b) of block (j, l), local indices, += v + low (a term
    // with its own low-order part); for j == l the element must lie in the
    // lower triangle (b <= a). No range checks: the caller's loop bounds
    // keep it in range.
    void AddBlockElem(int j, int l, int a, int b, double v, double low = 0.0) {
        Add(Index(fvBlockOffsets[static_cast<std::size_t>(j)] + a,
                  fvBlockOffsets[static_cast<std::size_t>(l)] + b),
            v, low);
    }
    // Block (j, l) += c x x', for l <= j, x a sparse vector over the block
    // size (the same coordinates in block row j and block column l). For
    // l == j the symmetric diagonal block is updated. False (unchanged) for
    // blocks out of range, l > j, unequal block sizes or an invalid x whose
    // dimension differs from the block size.
    bool QuadraticOuterProductIncr(int j, int l, const MCSparseVector& x, double c);
    // Every lower block (j, l) += c(j, l) x x' at once: the whole matrix
    // gains C (x) x x' for the symmetric nBlocks x nBlocks matrix C given as
    // its packed lower triangle (c(j, l) at j(j+1)/2 + l). This is the
    // information a multinomial row adds, and doing all blocks together
    // forms each product of two entries of x once. False (unchanged) when the
    // blocks differ in size or x is invalid or of another dimension.
    bool KroneckerOuterProductIncr(const double* c, const MCSparseVector& x);

    // out becomes the whole matrix (order GetNRows()). False when out cannot
    // be resized.
    bool CopyTo(MCSymMatrix& out) const;

    void Display(bool full) const;

private:
    void Add(std::size_t i, double v, double low) {
        const double s = fvPacked[i] + v;
        const double vv = s - fvPacked[i];
        fvLow[i] += (fvPacked[i] - (s - vv)) + (v - vv) + low;
        fvPacked[i] = s;
    }
    static std::size_t Index(int j, int k) {
        if (j < k) {
            const int t = j;
            j = k;
            k = t;
        }
        return static_cast<std::size_t>(j) * (static_cast<std::size_t>(j) + 1) / 2 +
               static_cast<std::size_t>(k);
    }

    int fN = 0;
    std::vector<int> fvBlockSizes;
    std::vector<int> fvBlockOffsets;
    std::vector<double> fvPacked;
    std::vector<double> fvLow;  // the rounding errors of fvPacked's sums
    // Scratch of KroneckerOuterProductIncr: the products of pairs of entries.
    std::vector<double> fvProducts;
};

}  // namespace MCMath_850
