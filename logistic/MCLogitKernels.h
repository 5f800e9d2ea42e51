#pragma once
#include <cstddef>

namespace MCMath_850 {

// Lanes of the outer-product rows below: row widths are multiples of half
// of it, so that a row is whole lanes or whole lanes and a half.
constexpr std::size_t kTermLanes = 4;

// The width of n values padded to whole half lanes: three sources' six
// pairs are held as six (four lanes and two), not eight.
inline std::size_t LaneWidth(std::size_t n) {
    constexpr std::size_t half = kTermLanes / 2;
    return (n + half - 1) / half * half;
}

// Compensated sums advanced by the terms of an outer product: for i < nCoef
// and j < width (a multiple of kTermLanes / 2), with t = coef[i] * values[j],
// (sums[i width + j], e) = TwoSum(sums[i width + j], t) and
// errors[i width + j] += e. The terms are formed in registers rather than
// stored and read back. The elements are independent, so the AVX2 form
// takes four at a time (two rows of whole lanes and a half share a group
// of four across their boundary); every lane does the scalar operations in
// the same order, so both forms give the same bits. The processor is asked
// once.
void AddOuterTerms(double* sums, double* errors, const double* coef, std::size_t nCoef,
                   const double* values, std::size_t width);

// Two such blocks one after the other, as a row of a cell of the logistic
// fit adds them: its scores (coef, values) and then its information
// (coef2, values2).
void AddOuterTerms2(double* sums, double* errors, const double* coef, std::size_t nCoef,
                    const double* values, std::size_t width, const double* coef2,
                    std::size_t nCoef2, const double* values2, std::size_t width2);

}  // namespace MCMath_850
