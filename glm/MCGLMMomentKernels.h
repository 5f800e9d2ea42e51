#pragma once
#include <cstddef>

namespace MCMath_850 {

// The cell moments' update w z z' held as rows of four-element lanes:
// element (j, k), k <= j, at j * stride + k, stride the sources rounded up
// to a multiple of four, high parts in hi and low parts in lo. z has n
// sources (zh + zl), padded with zeros to the stride. A row or column
// whose source is zero (both parts) is left as it is, and every other
// element gets the operations of the scalar update in the same order, so
// the sums are the same bits.
//
// Only on processors with AVX2 and FMA (HasMomentVectors()).
bool HasMomentVectors();
void AddMomentRows(double* hi, double* lo, std::size_t n, const double* zh, const double* zl,
                   double w);

}  // namespace MCMath_850
