#include "glm/MCGLMMomentKernels.h"

#include "companion/DoubleDouble.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define MC_MOMENT_VECTORS 1
#endif

namespace MCMath_850 {

#ifdef MC_MOMENT_VECTORS

bool HasMomentVectors() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
}

namespace {

// Lanes 0 .. i of four.
alignas(32) const
    long long kLanesUpTo[4][4] = {{-1, 0, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, 0}, {-1, -1, -1, -1}};

}  // namespace

__attribute__((target("avx2,fma"))) void AddMomentRows(double* hi, double* lo, std::size_t n,
                                                       const double* zh, const double* zl,
                                                       double w) {
    const std::size_t stride = (n + 3) / 4 * 4;
    const __m256d zero = _mm256_setzero_pd();
    for (std::size_t j = 0; j < n; ++j) {
        const double zj = zh[j], zjl = zl[j];
        if (zj == 0.0 && zjl == 0.0) continue;
        double wzh, wzl;
        DoubleDouble::TwoProd<true>(w, zj, wzh, wzl);
        wzl += w * zjl;
        const __m256d a = _mm256_set1_pd(wzh), aLow = _mm256_set1_pd(wzl);
        double* rowHi = hi + j * stride;
        double* rowLo = lo + j * stride;
        for (std::size_t k = 0; k <= j; k += 4) {
            // Element by element: the sources were just stored one by one,
            // and a wide load of them would wait for the stores to retire.
            const __m256d b = _mm256_setr_pd(zh[k], zh[k + 1], zh[k + 2], zh[k + 3]);
            const __m256d bLow = _mm256_setr_pd(zl[k], zl[k + 1], zl[k + 2], zl[k + 3]);
            // Lanes k <= j whose source is not zero.
            const __m256d inRow =
                j - k >= 3 ? _mm256_castsi256_pd(_mm256_set1_epi64x(-1))
                           : _mm256_load_pd(reinterpret_cast<const double*>(kLanesUpTo[j - k]));
            const __m256d dead = _mm256_and_pd(_mm256_cmp_pd(b, zero, _CMP_EQ_OQ),
                                               _mm256_cmp_pd(bLow, zero, _CMP_EQ_OQ));
            const __m256d use = _mm256_andnot_pd(dead, inRow);
            const __m256d h = _mm256_loadu_pd(rowHi + k), l = _mm256_loadu_pd(rowLo + k);
            // TwoProd(a, b): p = a b, its error by the fused form.
            const __m256d ph = _mm256_mul_pd(a, b);
            __m256d pl = _mm256_fmsub_pd(a, b, ph);
            // pl += al b + a bl
            pl = _mm256_add_pd(pl, _mm256_add_pd(_mm256_mul_pd(aLow, b), _mm256_mul_pd(a, bLow)));
            // Accumulate: TwoSum(h, ph), the low parts added, FastTwoSum.
            const __m256d s = _mm256_add_pd(h, ph);
            const __m256d bb = _mm256_sub_pd(s, h);
            __m256d err =
                _mm256_add_pd(_mm256_sub_pd(h, _mm256_sub_pd(s, bb)), _mm256_sub_pd(ph, bb));
            err = _mm256_add_pd(err, _mm256_add_pd(l, pl));
            const __m256d nh = _mm256_add_pd(s, err);
            const __m256d nl = _mm256_sub_pd(err, _mm256_sub_pd(nh, s));
            _mm256_storeu_pd(rowHi + k, _mm256_blendv_pd(h, nh, use));
            _mm256_storeu_pd(rowLo + k, _mm256_blendv_pd(l, nl, use));
        }
    }
}

#else

bool HasMomentVectors() {
    return false;
}

void AddMomentRows(double*, double*, std::size_t, const double*, const double*, double) {}

#endif

}  // namespace MCMath_850
