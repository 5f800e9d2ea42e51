#pragma once
#include <cstddef>
#include <vector>

#include "companion/PassReducer.h"
#include "design/MCRegrParameter.h"

namespace MCMath_850 {

class MCSymMatrix;

// Which column each parameter's spread is measured about, and the weights of
// the cells that no indicator column marks, which the models sum with their
// cross products.
//
// A parameter with covariates is measured about the indicator of its own
// cell when the list has one (a factor-only parameter of the same factors
// and categories), so that x within the categories of A is judged by its
// spread within each category; else about the intercept (0) when used;
// the intercept itself, and everything in a model without one, about zero
// (-1). A covariate within cells that no indicator marks (x within A*B in a
// model without A*B) gets the intercept too, but its spread within its cell
// needs the cell's weight: SetUp then keeps a weight sum for it.
class MCColumnCentring {
public:
    void SetUp(const std::vector<MCRegrParameter>& params, bool intercept);

    // Per parameter, the column its spread is measured about.
    const std::vector<int>& Units() const { return fvUnits; }
    // Whether parameter k is a covariate within cells that no indicator marks.
    bool WithoutIndicator(std::size_t k) const { return k < fvFlags.size() && fvFlags[k] != 0; }

    // Adds a record's weight to the cells of its nonzero columns idx[0..n).
    void Add(const int* idx, std::size_t n, double w);
    bool Merge(MCCommon_850::PassReducer& reducer);
    // The cells' weights as (high, low) pairs at 2k and 2k + 1, for
    // MCSymMatrix::ComputeCentredScale; null when no parameter needs one.
    const std::vector<double>* Weights() const { return fvWeights.empty() ? nullptr : &fvWeights; }
    std::vector<double>* MutableWeights() { return fvWeights.empty() ? nullptr : &fvWeights; }
    // The weights times f, in extended precision.
    std::vector<double> ScaledWeights(double f) const;

    // Column k's mean over its standard deviation about its unit (within its
    // cell), from the cross products m; 0 where it is measured about zero or
    // has no weight, +inf where it has no spread.
    double MeanOverSpread(const MCSymMatrix& m, std::size_t k) const;
    // Column k's weighted mean about its unit, 0 where there is none.
    double Mean(const MCSymMatrix& m, std::size_t k) const;
    // Column k's weighted sum of squares about that mean, 0 where it is
    // measured about zero.
    double CentredSquares(const MCSymMatrix& m, std::size_t k) const;

private:
    std::vector<int> fvUnits;
    std::vector<unsigned char> fvFlags;
    std::vector<double> fvWeights;
};

}  // namespace MCMath_850
