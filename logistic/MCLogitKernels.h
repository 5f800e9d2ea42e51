#pragma once
#include <cstddef>

namespace MCMath_850 {

// Compensated sums advanced by one term each: for i < n,
// (sums[i], e) = TwoSum(sums[i], terms[i]) and errors[i] += e. The
// elements are independent, so the AVX2 form takes four at a time; every
// lane does the scalar operations in the same order, so both forms give
// the same bits. The processor is asked once.
void AddTerms(double* sums, double* errors, const double* terms, std::size_t n);

}  // namespace MCMath_850
