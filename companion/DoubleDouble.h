#pragma once
// Double-double arithmetic: a value is the unevaluated sum hi + lo of two
// doubles with |lo| <= ulp(hi)/2, about 106 significant bits. Internal to the
// companion matrices; not part of the public interface.
//
// The error-free transformations below rely on IEEE double arithmetic with
// round-to-nearest (no -ffast-math); products are kept from being fused
// into sums by Opaque().
#include <cmath>

#ifdef __FAST_MATH__
#error "DoubleDouble.h needs IEEE arithmetic; do not compile with -ffast-math"
#endif

namespace MCMath_850 {
namespace DoubleDouble {

struct DD {
    double hi;
    double lo;
};

// s + e = a + b exactly, s = fl(a + b).
inline void TwoSum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// The same when |a| >= |b| (or a == 0).
inline void FastTwoSum(double a, double b, double& s, double& e) {
    s = a + b;
    e = b - (s - a);
}

// Veltkamp split: a = h + l with h and l of 26 bits each.
inline void Split(double a, double& h, double& l) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    h = c - (c - a);
    l = a - h;
}

// Hides x from the optimiser, so that a product that an error-free
// transformation needs rounded is never fused into a following addition
// (relevant when fp-contraction is on, as in GNU mode with FMA targets).
inline void Opaque(double& x) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm("" : "+x"(x));
#else
    (void)x;
#endif
}

// p + e = a * b exactly (barring underflow and overflow), p = fl(a * b).
// kFma selects the fused multiply-add form; callers use it only inside
// functions compiled for FMA hardware (the portable form costs ~17 flops).
template <bool kFma = false>
inline void TwoProd(double a, double b, double& p, double& e) {
    p = a * b;
    Opaque(p);
    if constexpr (kFma) {
        e = __builtin_fma(a, b, -p);
    } else {
        double ah, al, bh, bl;
        Split(a, ah, al);
        Split(b, bh, bl);
        e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    }
}

// a + b with a relative error of a few units of 2^-106 even under
// cancellation (two TwoSums, Shewchuk / QD "ieee_add").
inline DD Add(DD a, DD b) {
    double s, e, t, f;
    TwoSum(a.hi, b.hi, s, e);
    TwoSum(a.lo, b.lo, t, f);
    e += t;
    FastTwoSum(s, e, s, e);
    e += f;
    DD r;
    FastTwoSum(s, e, r.hi, r.lo);
    return r;
}

inline DD Neg(DD a) {
    return DD{-a.hi, -a.lo};
}

inline DD Sub(DD a, DD b) {
    return Add(a, Neg(b));
}

template <bool kFma = false>
inline DD Mul(DD a, DD b) {
    double p, e;
    TwoProd<kFma>(a.hi, b.hi, p, e);
    e += a.hi * b.lo + a.lo * b.hi;
    DD r;
    FastTwoSum(p, e, r.hi, r.lo);
    return r;
}

template <bool kFma = false>
inline DD Mul(DD a, double b) {
    double p, e;
    TwoProd<kFma>(a.hi, b, p, e);
    e += a.lo * b;
    DD r;
    FastTwoSum(p, e, r.hi, r.lo);
    return r;
}

// a / b by long division with three partial quotients.
inline DD Div(DD a, DD b) {
    const double q1 = a.hi / b.hi;
    DD r = Sub(a, Mul(b, q1));
    const double q2 = r.hi / b.hi;
    r = Sub(r, Mul(b, q2));
    const double q3 = r.hi / b.hi;
    DD q;
    FastTwoSum(q1, q2, q.hi, q.lo);
    return Add(q, DD{q3, 0.0});
}

// hi/lo += ph + pl, the cheap accumulation of a product into a running sum:
// one TwoSum of the high parts, the low parts added in double. The error is
// a few units of 2^-106 times |sum| + |product|, as for compensated summation.
inline void Accumulate(double& hi, double& lo, double ph, double pl) {
    double s, e;
    TwoSum(hi, ph, s, e);
    e += lo + pl;
    FastTwoSum(s, e, hi, lo);
}

// Whether the processor has fused multiply-add (checked once).
inline bool HasFma() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("fma") != 0;
    }();
    return has;
#else
    return false;
#endif
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MC_DD_TARGET_FMA __attribute__((target("fma")))
#define MC_DD_INLINE inline __attribute__((always_inline))
#else
#define MC_DD_TARGET_FMA
#define MC_DD_INLINE inline
#endif

}  // namespace DoubleDouble
}  // namespace MCMath_850
