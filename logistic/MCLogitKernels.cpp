#include "logistic/MCLogitKernels.h"

#include "companion/DoubleDouble.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define MC_TERM_VECTORS 1
#endif

namespace MCMath_850 {

namespace {

void AddTermsPortable(double* sums, double* errors, const double* terms, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        double sum, error;
        DoubleDouble::TwoSum(sums[i], terms[i], sum, error);
        sums[i] = sum;
        errors[i] += error;
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

__attribute__((target("avx2"))) void AddTermsAvx2(double* sums, double* errors, const double* terms,
                                                  std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d a = _mm256_loadu_pd(sums + i);
        const __m256d b = _mm256_loadu_pd(terms + i);
        // TwoSum(a, b): s = a + b, e = (a - (s - bb)) + (b - bb), bb = s - a.
        const __m256d s = _mm256_add_pd(a, b);
        const __m256d bb = _mm256_sub_pd(s, a);
        const __m256d e =
            _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(s, bb)), _mm256_sub_pd(b, bb));
        _mm256_storeu_pd(sums + i, s);
        _mm256_storeu_pd(errors + i, _mm256_add_pd(_mm256_loadu_pd(errors + i), e));
    }
    AddTermsPortable(sums + i, errors + i, terms + i, n - i);
}

}  // namespace

void AddTerms(double* sums, double* errors, const double* terms, std::size_t n) {
    if (HasTermVectors())
        AddTermsAvx2(sums, errors, terms, n);
    else
        AddTermsPortable(sums, errors, terms, n);
}

#else

void AddTerms(double* sums, double* errors, const double* terms, std::size_t n) {
    AddTermsPortable(sums, errors, terms, n);
}

#endif

}  // namespace MCMath_850
