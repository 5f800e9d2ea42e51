#include "logistic/MCLogitKernels.h"

#include "companion/DoubleDouble.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define MC_TERM_VECTORS 1
#endif

namespace MCMath_850 {

namespace {

void AddOuterTermsPortable(double* sums, double* errors, const double* coef, std::size_t nCoef,
                           const double* values, std::size_t width) {
    for (std::size_t i = 0; i < nCoef; ++i) {
        const double c = coef[i];
        double* s = sums + i * width;
        double* err = errors + i * width;
        for (std::size_t j = 0; j < width; ++j) {
            double sum, error;
            DoubleDouble::TwoSum(s[j], c * values[j], sum, error);
            s[j] = sum;
            err[j] += error;
        }
    }
}

}  // namespace

#ifdef MC_TERM_VECTORS

namespace {

bool HasTermVectors() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

__attribute__((target("avx2"))) void AddOuterTermsAvx2(double* sums, double* errors,
                                                       const double* coef, std::size_t nCoef,
                                                       const double* values, std::size_t width) {
    for (std::size_t i = 0; i < nCoef; ++i) {
        const __m256d c = _mm256_set1_pd(coef[i]);
        double* s = sums + i * width;
        double* err = errors + i * width;
        for (std::size_t j = 0; j < width; j += kTermLanes) {
            const __m256d a = _mm256_loadu_pd(s + j);
            const __m256d b = _mm256_mul_pd(c, _mm256_loadu_pd(values + j));
            // TwoSum(a, b): s = a + b, e = (a - (s - bb)) + (b - bb), bb = s - a.
            const __m256d sum = _mm256_add_pd(a, b);
            const __m256d bb = _mm256_sub_pd(sum, a);
            const __m256d e =
                _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(sum, bb)), _mm256_sub_pd(b, bb));
            _mm256_storeu_pd(s + j, sum);
            _mm256_storeu_pd(err + j, _mm256_add_pd(_mm256_loadu_pd(err + j), e));
        }
    }
}

__attribute__((target("avx2"))) void AddOuterTerms2Avx2(double* sums, double* errors,
                                                        const double* coef, std::size_t nCoef,
                                                        const double* values, std::size_t width,
                                                        const double* coef2, std::size_t nCoef2,
                                                        const double* values2, std::size_t width2) {
    const std::size_t second = nCoef * width;
    AddOuterTermsAvx2(sums, errors, coef, nCoef, values, width);
    AddOuterTermsAvx2(sums + second, errors + second, coef2, nCoef2, values2, width2);
}

}  // namespace

void AddOuterTerms(double* sums, double* errors, const double* coef, std::size_t nCoef,
                   const double* values, std::size_t width) {
    if (HasTermVectors())
        AddOuterTermsAvx2(sums, errors, coef, nCoef, values, width);
    else
        AddOuterTermsPortable(sums, errors, coef, nCoef, values, width);
}

void AddOuterTerms2(double* sums, double* errors, const double* coef, std::size_t nCoef,
                    const double* values, std::size_t width, const double* coef2,
                    std::size_t nCoef2, const double* values2, std::size_t width2) {
    if (HasTermVectors()) {
        AddOuterTerms2Avx2(sums, errors, coef, nCoef, values, width, coef2, nCoef2, values2,
                           width2);
    } else {
        const std::size_t second = nCoef * width;
        AddOuterTermsPortable(sums, errors, coef, nCoef, values, width);
        AddOuterTermsPortable(sums + second, errors + second, coef2, nCoef2, values2, width2);
    }
}

#else

void AddOuterTerms(double* sums, double* errors, const double* coef, std::size_t nCoef,
                   const double* values, std::size_t width) {
    AddOuterTermsPortable(sums, errors, coef, nCoef, values, width);
}

void AddOuterTerms2(double* sums, double* errors, const double* coef, std::size_t nCoef,
                    const double* values, std::size_t width, const double* coef2,
                    std::size_t nCoef2, const double* values2, std::size_t width2) {
    const std::size_t second = nCoef * width;
    AddOuterTermsPortable(sums, errors, coef, nCoef, values, width);
    AddOuterTermsPortable(sums + second, errors + second, coef2, nCoef2, values2, width2);
}

#endif

}  // namespace MCMath_850
