#pragma once
// Double-double arithmetic four lanes at a time, for kernels compiled with
// target("avx2,fma") and called only where the processor has both. Each
// lane does exactly the scalar operations of DoubleDouble.h (with the
// fused-multiply-add TwoProd), so a vector kernel gives the scalar bits.
// Internal to the companion matrices; x86-64 with GNU compilers only.
#include <immintrin.h>

#include <cstddef>

#include "companion/DoubleDouble.h"

#define MC_DD_AVX2 __attribute__((target("avx2,fma"), always_inline)) inline

namespace MCMath_850 {
namespace DoubleDouble {

static_assert(sizeof(DD) == 2 * sizeof(double), "a DD is its two doubles, packed");

// Four double-doubles, high and low parts apart, lanes in element order.
struct Quad {
    __m256d hi;
    __m256d lo;
};

// p[0..3] from an array of DD.
MC_DD_AVX2 Quad LoadQuad(const DD* p) {
    const double* d = &p->hi;
    const __m256d a = _mm256_loadu_pd(d);      // h0 l0 h1 l1
    const __m256d b = _mm256_loadu_pd(d + 4);  // h2 l2 h3 l3
    // unpack gives lanes 0 2 1 3; the permute puts them in order.
    return Quad{_mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8),
                _mm256_permute4x64_pd(_mm256_unpackhi_pd(a, b), 0xD8)};
}

MC_DD_AVX2 void StoreQuad(DD* p, Quad v) {
    const __m256d h = _mm256_permute4x64_pd(v.hi, 0xD8);  // h0 h2 h1 h3
    const __m256d l = _mm256_permute4x64_pd(v.lo, 0xD8);
    double* d = &p->hi;
    _mm256_storeu_pd(d, _mm256_unpacklo_pd(h, l));
    _mm256_storeu_pd(d + 4, _mm256_unpackhi_pd(h, l));
}

// Elements i .. i + 3 of high and low parts held apart.
MC_DD_AVX2 Quad LoadQuad(const double* hi, const double* lo, std::size_t i) {
    return Quad{_mm256_loadu_pd(hi + i), _mm256_loadu_pd(lo + i)};
}

MC_DD_AVX2 void StoreQuad(double* hi, double* lo, std::size_t i, Quad v) {
    _mm256_storeu_pd(hi + i, v.hi);
    _mm256_storeu_pd(lo + i, v.lo);
}

MC_DD_AVX2 Quad Broadcast(DD v) {
    return Quad{_mm256_set1_pd(v.hi), _mm256_set1_pd(v.lo)};
}

// The lanes whose value is not 0 (a NaN counts as not 0, as in a scalar
// test hi == 0 && lo == 0).
MC_DD_AVX2 __m256d NonZero(Quad v) {
    const __m256d zero = _mm256_setzero_pd();
    return _mm256_or_pd(_mm256_cmp_pd(v.hi, zero, _CMP_NEQ_UQ),
                        _mm256_cmp_pd(v.lo, zero, _CMP_NEQ_UQ));
}

MC_DD_AVX2 __m256d AllLanes() {
    return _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
}

// Sub(x, Mul<true>(a, b)) in the live lanes; the other lanes keep x.
MC_DD_AVX2 Quad SubMul(Quad x, Quad a, Quad b, __m256d live) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    // Mul: p + e = a b.
    const __m256d p = _mm256_mul_pd(a.hi, b.hi);
    __m256d e = _mm256_fmadd_pd(a.hi, b.hi, _mm256_xor_pd(p, sign));
    e = _mm256_add_pd(e, _mm256_add_pd(_mm256_mul_pd(a.hi, b.lo), _mm256_mul_pd(a.lo, b.hi)));
    const __m256d mh = _mm256_add_pd(p, e);
    const __m256d ml = _mm256_sub_pd(e, _mm256_sub_pd(mh, p));
    // Sub: x + (-m), as Add.
    const __m256d bh = _mm256_xor_pd(mh, sign);
    const __m256d bl = _mm256_xor_pd(ml, sign);
    const __m256d sh = _mm256_add_pd(x.hi, bh);
    __m256d bb = _mm256_sub_pd(sh, x.hi);
    __m256d se = _mm256_add_pd(_mm256_sub_pd(x.hi, _mm256_sub_pd(sh, bb)), _mm256_sub_pd(bh, bb));
    const __m256d th = _mm256_add_pd(x.lo, bl);
    bb = _mm256_sub_pd(th, x.lo);
    const __m256d tf =
        _mm256_add_pd(_mm256_sub_pd(x.lo, _mm256_sub_pd(th, bb)), _mm256_sub_pd(bl, bb));
    se = _mm256_add_pd(se, th);
    const __m256d s2 = _mm256_add_pd(sh, se);
    se = _mm256_sub_pd(se, _mm256_sub_pd(s2, sh));
    se = _mm256_add_pd(se, tf);
    const __m256d rh = _mm256_add_pd(s2, se);
    const __m256d rl = _mm256_sub_pd(se, _mm256_sub_pd(rh, s2));
    return Quad{_mm256_blendv_pd(x.hi, rh, live), _mm256_blendv_pd(x.lo, rl, live)};
}

// Whether the processor has AVX2 and FMA (checked once).
inline bool HasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
}

}  // namespace DoubleDouble
}  // namespace MCMath_850
