#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "design/MCRegrParameter.h"

namespace MCMath_850 {

// The lower-order columns of each product of covariates (x*x, x*z, A*x*x)
// in a list of parameters: within the product's cell, the columns of every
// sub-product of its covariates (x and x*x for x*x*x), each present only
// when the model holds that term.
//
// With each covariate x_i less a centre c_i the product expands as
//
//   prod (x_i - c_i) = x1...xd - sum over proper sub-products S of
//                      coef(S) * prod over S of (x_i - c_i),
//   coef(S) = prod over the covariates of C(m, j) c^(m - j)
//
// (m the covariate's power in the product, j its power in S; S empty is
// the cell's indicator, or the intercept). A model that holds every
// lower-order column can so move to a basis of centred products, column by
// column from the lowest order up, by a linear map that is exact.
class MCProductTerms {
public:
    // One term of the expansion: the sub-product's column (-1: the empty
    // product, the product's unit) and its coefficient.
    using Term = std::pair<int, double>;

    void SetUp(const std::vector<MCRegrParameter>& params);

    // Whether parameter k is a product of covariates whose lower-order
    // columns are all in the list.
    bool IsComplete(std::size_t k) const { return k < fvProducts.size() && fvProducts[k].complete; }
    // The columns of the single covariates of complete product k, one per
    // covariate (x once for x*x).
    const std::vector<int>& Bases(std::size_t k) const { return fvProducts[k].bases; }
    // Their powers in the product (2 for x in x*x).
    const std::vector<int>& BasePowers(std::size_t k) const { return fvProducts[k].basePowers; }
    // The columns of the proper sub-products of complete product k of
    // order 2 and above.
    std::vector<int> SubProducts(std::size_t k) const;
    // The expansion of complete product k with the columns' centres
    // (indexed by parameter; only its bases' are read): the terms that
    // the product less them is the product of its centred covariates.
    std::vector<Term> Expansion(std::size_t k, const std::vector<double>& centre) const;

private:
    struct Part {
        int column;               // -1: the unit
        double binomial;          // prod C(m, j)
        std::vector<int> powers;  // per covariate of the product: m - j
    };
    struct Product {
        bool complete = false;
        std::vector<int> bases;       // per covariate of the product, its own column
        std::vector<int> basePowers;  // and its power in the product
        std::vector<Part> parts;      // proper sub-products, S empty included
    };
    std::vector<Product> fvProducts;
};

}  // namespace MCMath_850
