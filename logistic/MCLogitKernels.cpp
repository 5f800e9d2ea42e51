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

// Kept out of line: inlined into AddOuterTerms2, it made the AVX2 path save
// registers and copy its arguments on every row.
__attribute__((noinline)) void AddOuterTerms2Portable(double* sums, double* errors,
                                                      const double* coef, std::size_t nCoef,
                                                      const double* values, std::size_t width,
                                                      const double* coef2, std::size_t nCoef2,
                                                      const double* values2, std::size_t width2) {
    const std::size_t second = nCoef * width;
    AddOuterTermsPortable(sums, errors, coef, nCoef, values, width);
    AddOuterTermsPortable(sums + second, errors + second, coef2, nCoef2, values2, width2);
}

}  // namespace

#ifdef MC_TERM_VECTORS

namespace {

// Asked when the library is loaded rather than on first use: a guarded
// local made every row's call save registers for the guard's slow path.
// Should a caller run before this is set, it takes the portable form,
// which gives the same bits.
const bool kHasTermVectors = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

bool HasTermVectors() {
    return kHasTermVectors;
}

__attribute__((target("avx2"))) inline __m256d Load(const double* p, __m256d) {
    return _mm256_loadu_pd(p);
}
__attribute__((target("avx2"))) inline __m128d Load(const double* p, __m128d) {
    return _mm_loadu_pd(p);
}
__attribute__((target("avx2"))) inline void Store(double* p, __m256d v) {
    _mm256_storeu_pd(p, v);
}
__attribute__((target("avx2"))) inline void Store(double* p, __m128d v) {
    _mm_storeu_pd(p, v);
}

// TwoSum(s, c v) on the elements of one vector V (four or two doubles) at
// s, adding the rounding errors at err.
template <class V>
__attribute__((target("avx2"), always_inline)) inline void AddTerms(double* s, double* err, V c,
                                                                    V v) {
    const V a = Load(s, c);
    const V b = c * v;
    // TwoSum(a, b): s = a + b, e = (a - (s - bb)) + (b - bb), bb = s - a.
    const V sum = a + b;
    const V bb = sum - a;
    const V e = (a - (sum - bb)) + (b - bb);
    Store(s, sum);
    Store(err, Load(err, c) + e);
}

// The outer terms of width values (W, when not 0, is width known to the
// compiler, which then drops the loops over lanes; the operations are the
// same either way).
template <std::size_t W>
__attribute__((target("avx2"), always_inline)) inline void OuterTermsAvx2(
    double* sums, double* errors, const double* coef, std::size_t nCoef, const double* values,
    std::size_t width) {
    if (W != 0) width = W;
    const std::size_t whole = width / kTermLanes * kTermLanes;
    std::size_t i = 0;
    if (whole != width) {
        // Rows of whole lanes and a half, two at a time: the first row's
        // half and the second's first half make one group of four, and the
        // second row's remaining lanes start half a group into values.
        const __m256d split = _mm256_set_m128d(_mm_loadu_pd(values), _mm_loadu_pd(values + whole));
        for (; i + 1 < nCoef; i += 2) {
            const __m256d c0 = _mm256_set1_pd(coef[i]);
            const __m256d c1 = _mm256_set1_pd(coef[i + 1]);
            double* s = sums + i * width;
            double* err = errors + i * width;
            for (std::size_t j = 0; j < whole; j += kTermLanes)
                AddTerms(s + j, err + j, c0, _mm256_loadu_pd(values + j));
            AddTerms(s + whole, err + whole, _mm256_blend_pd(c0, c1, 0xC), split);
            s += width + kTermLanes / 2;
            err += width + kTermLanes / 2;
            for (std::size_t j = 0; j < whole; j += kTermLanes)
                AddTerms(s + j, err + j, c1, _mm256_loadu_pd(values + kTermLanes / 2 + j));
        }
    }
    for (; i < nCoef; ++i) {
        const __m256d c = _mm256_set1_pd(coef[i]);
        double* s = sums + i * width;
        double* err = errors + i * width;
        for (std::size_t j = 0; j < whole; j += kTermLanes)
            AddTerms(s + j, err + j, c, _mm256_loadu_pd(values + j));
        if (whole != width)
            AddTerms(s + whole, err + whole, _mm256_castpd256_pd128(c),
                     _mm_loadu_pd(values + whole));
    }
}

__attribute__((target("avx2"))) void AddOuterTermsAvx2(double* sums, double* errors,
                                                       const double* coef, std::size_t nCoef,
                                                       const double* values, std::size_t width) {
    OuterTermsAvx2<0>(sums, errors, coef, nCoef, values, width);
}

__attribute__((target("avx2"))) void AddOuterTerms2Avx2(double* sums, double* errors,
                                                        const double* coef, std::size_t nCoef,
                                                        const double* values, std::size_t width,
                                                        const double* coef2, std::size_t nCoef2,
                                                        const double* values2, std::size_t width2) {
    double* sums2 = sums + nCoef * width;
    double* errors2 = errors + nCoef * width;
    if (width == 4 && width2 == 6) {
        // Three sources: their values in one group, their six pairs in one
        // and a half.
        OuterTermsAvx2<4>(sums, errors, coef, nCoef, values, width);
        OuterTermsAvx2<6>(sums2, errors2, coef2, nCoef2, values2, width2);
    } else {
        OuterTermsAvx2<0>(sums, errors, coef, nCoef, values, width);
        OuterTermsAvx2<0>(sums2, errors2, coef2, nCoef2, values2, width2);
    }
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
        AddOuterTerms2Portable(sums, errors, coef, nCoef, values, width, coef2, nCoef2, values2,
                               width2);
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
    AddOuterTerms2Portable(sums, errors, coef, nCoef, values, width, coef2, nCoef2, values2,
                           width2);
}

#endif

}  // namespace MCMath_850
