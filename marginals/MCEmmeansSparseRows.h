#pragma once
#include <vector>

#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

// A run of rows of a marginal-means L matrix kept as their non-zeros
// (internal to the marginal means). A mean averages the parameters of the
// cells it covers, a few of the model's many, and a difference of two means
// fewer still: their estimates and variances then cost the non-zeros, not
// the number of parameters (or its square).
//
// The sums run in the order of the dense ones (ascending index, exact zeros
// skipped, which adds nothing to a sum), so every result equals the dense
// computation's to the bit.
class MCEmmeansSparseRows {
public:
    // Rows first .. first + count - 1 of L (within range). Throws
    // std::bad_alloc.
    void Load(const MCRectMatrix& L, int first, int count);
    int Size() const { return static_cast<int>(fvStarts.size()) - 1; }

    // Row i minus row j, the entries where they cancel left out. Throws
    // std::bad_alloc.
    void Difference(int i, int j, std::vector<int>& indices, std::vector<double>& values) const;
    // Row i's non-zeros.
    void Row(int i, std::vector<int>& indices, std::vector<double>& values) const;

    // x . b and x' V x for a sparse x.
    static double Dot(const std::vector<int>& indices, const std::vector<double>& values,
                      const std::vector<double>& b);
    static double Variance(const MCSymMatrix& V, const std::vector<int>& indices,
                           const std::vector<double>& values) {
        return V.ComputeSparseVSV(indices, values);
    }

private:
    std::vector<int> fvIndices;
    std::vector<double> fvValues;
    std::vector<std::size_t> fvStarts{0};  // row i's entries: [fvStarts[i], fvStarts[i + 1])
};

}  // namespace MCMath_850
