#pragma once
// Products subtracted along a row of double-doubles, the inner loops of a
// sweep, with four-wide kernels where the processor has AVX2. Every kernel
// gives each element exactly Sub(x, Mul(a, b)) of DoubleDouble.h, so the
// bits do not depend on the kernel. Internal to the companion matrices.
#include <cstddef>

#include "companion/DoubleDouble.h"

namespace MCMath_850 {
namespace DoubleDouble {

enum class RowKernel {
    kBest,      // the fastest the processor runs
    kPortable,  // plain double arithmetic
    kFma,       // scalar, fused multiply-add for the exact products
    kAvx2,      // four elements at a time
};

// x[i] = Sub(x[i], Mul(a, v[i])) for the i < len whose v[i] is not 0.
void SubScaled(DD* x, DD a, const DD* v, std::size_t len, RowKernel kernel = RowKernel::kBest);
// The same on x held as high and low parts apart.
void SubScaled(double* xHi, double* xLo, DD a, const DD* v, std::size_t len,
               RowKernel kernel = RowKernel::kBest);
// x[i] = Sub(x[i], Mul(v[i], b)) for every i < len, or (skipZeros) for the
// i whose v[i] is not 0.
void SubScaledBy(DD* x, const DD* v, DD b, std::size_t len, bool skipZeros,
                 RowKernel kernel = RowKernel::kBest);

}  // namespace DoubleDouble
}  // namespace MCMath_850
