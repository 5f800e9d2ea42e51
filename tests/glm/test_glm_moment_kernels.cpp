// The vector update of a cell's moments against exact integer sums: the
// sums exceed a double's 53 bits, so only a correct double-double
// accumulation in every lane gives them, and elements whose source is zero
// or that lie above the diagonal must keep their bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "glm/MCGLMMomentKernels.h"

namespace {

using MCMath_850::AddMomentRows;
using MCMath_850::HasMomentVectors;

__int128 Exact(double hi, double lo) {
    // Both parts are whole numbers here: each converts exactly.
    return static_cast<__int128>(hi) + static_cast<__int128>(lo);
}

TEST(MomentRows, SumsEveryLaneExactlyAndLeavesZeroSourcesAlone) {
    if (!HasMomentVectors()) GTEST_SKIP() << "no AVX2 and FMA";
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<long long> big(-(1LL << 31), 1LL << 31);
    // One to nine sources: one, two and three lanes of four, partly filled.
    for (std::size_t n = 1; n <= 9; ++n) {
        SCOPED_TRACE("sources " + std::to_string(n));
        const std::size_t stride = (n + 3) / 4 * 4;
        // Elements never written hold -0.0, whose sign a spurious update
        // would lose.
        std::vector<double> hi(n * stride, -0.0), lo(n * stride, -0.0);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = 0; k <= j; ++k) hi[j * stride + k] = lo[j * stride + k] = 0.0;
        std::vector<__int128> exact(n * n, 0);
        const std::size_t zero = n / 2;  // a source that is always zero
        std::vector<double> zh(stride, 0.0), zl(stride, 0.0);
        for (int r = 0; r < 2000; ++r) {
            // Weights 1 and 2: every product and weight is a whole number.
            const long long w = 1 + (r % 2);
            std::vector<long long> z(n);
            for (std::size_t s = 0; s < n; ++s) {
                z[s] = s == zero ? 0 : big(rng);
                zh[s] = static_cast<double>(z[s]);
            }
            AddMomentRows(hi.data(), lo.data(), n, zh.data(), zl.data(), static_cast<double>(w));
            for (std::size_t j = 0; j < n; ++j)
                for (std::size_t k = 0; k <= j; ++k)
                    exact[j * n + k] += static_cast<__int128>(w) * z[j] * z[k];
        }
        for (std::size_t j = 0; j < n; ++j) {
            for (std::size_t k = 0; k < stride; ++k) {
                const double h = hi[j * stride + k], l = lo[j * stride + k];
                if (k > j) {
                    EXPECT_TRUE(h == 0.0 && std::signbit(h) && l == 0.0 && std::signbit(l))
                        << "above the diagonal at " << j << "," << k;
                } else if (j == zero || k == zero) {
                    EXPECT_TRUE(h == 0.0 && !std::signbit(h) && l == 0.0 && !std::signbit(l))
                        << "zero source at " << j << "," << k;
                } else {
                    EXPECT_TRUE(Exact(h, l) == exact[j * n + k]) << "at " << j << "," << k;
                    // A normalised pair: the low part below half an ulp of the high.
                    const double ulp = std::nextafter(std::fabs(h), INFINITY) - std::fabs(h);
                    EXPECT_LE(std::fabs(l), 0.5 * ulp) << "at " << j << "," << k;
                }
            }
        }
    }
}

}  // namespace
