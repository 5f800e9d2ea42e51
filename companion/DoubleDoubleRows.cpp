// Products subtracted along a row: scalar forms and their AVX2 twins.
#include "companion/DoubleDoubleRows.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include "companion/DoubleDoubleAvx2.h"
#define MC_ROWS_AVX2 1
#endif

namespace MCMath_850 {
namespace DoubleDouble {

namespace {

bool IsZero(const DD& v) {
    return v.hi == 0.0 && v.lo == 0.0;
}

template <bool kFma>
MC_DD_INLINE void ScaledScalar(DD* x, DD a, const DD* v, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        if (IsZero(v[i])) continue;
        x[i] = Sub(x[i], Mul<kFma>(a, v[i]));
    }
}

template <bool kFma>
MC_DD_INLINE void ScaledSplitScalar(double* xHi, double* xLo, DD a, const DD* v, std::size_t begin,
                                    std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        if (IsZero(v[i])) continue;
        const DD r = Sub(DD{xHi[i], xLo[i]}, Mul<kFma>(a, v[i]));
        xHi[i] = r.hi;
        xLo[i] = r.lo;
    }
}

template <bool kFma>
MC_DD_INLINE void ScaledByScalar(DD* x, const DD* v, DD b, std::size_t begin, std::size_t end,
                                 bool skipZeros) {
    for (std::size_t i = begin; i < end; ++i) {
        if (skipZeros && IsZero(v[i])) continue;
        x[i] = Sub(x[i], Mul<kFma>(v[i], b));
    }
}

MC_DD_TARGET_FMA void ScaledFma(DD* x, DD a, const DD* v, std::size_t len) {
    ScaledScalar<true>(x, a, v, 0, len);
}
MC_DD_TARGET_FMA void ScaledSplitFma(double* xHi, double* xLo, DD a, const DD* v, std::size_t len) {
    ScaledSplitScalar<true>(xHi, xLo, a, v, 0, len);
}
MC_DD_TARGET_FMA void ScaledByFma(DD* x, const DD* v, DD b, std::size_t len, bool skipZeros) {
    ScaledByScalar<true>(x, v, b, 0, len, skipZeros);
}

#ifdef MC_ROWS_AVX2
__attribute__((target("avx2,fma"))) void ScaledAvx2(DD* x, DD a, const DD* v, std::size_t len) {
    const Quad q = Broadcast(a);
    std::size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const Quad vi = LoadQuad(v + i);
        StoreQuad(x + i, SubMul(LoadQuad(x + i), q, vi, NonZero(vi)));
    }
    ScaledScalar<true>(x, a, v, i, len);
}

__attribute__((target("avx2,fma"))) void ScaledSplitAvx2(double* xHi, double* xLo, DD a,
                                                         const DD* v, std::size_t len) {
    const Quad q = Broadcast(a);
    std::size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const Quad vi = LoadQuad(v + i);
        StoreQuad(xHi, xLo, i, SubMul(LoadQuad(xHi, xLo, i), q, vi, NonZero(vi)));
    }
    ScaledSplitScalar<true>(xHi, xLo, a, v, i, len);
}

__attribute__((target("avx2,fma"))) void ScaledByAvx2(DD* x, const DD* v, DD b, std::size_t len,
                                                      bool skipZeros) {
    const Quad q = Broadcast(b);
    std::size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const Quad vi = LoadQuad(v + i);
        StoreQuad(x + i, SubMul(LoadQuad(x + i), vi, q, skipZeros ? NonZero(vi) : AllLanes()));
    }
    ScaledByScalar<true>(x, v, b, i, len, skipZeros);
}
#endif

// The kernel to run: the one asked for if the processor has it, else the
// best it has below it.
RowKernel Choose(RowKernel kernel) {
#ifdef MC_ROWS_AVX2
    if ((kernel == RowKernel::kBest || kernel == RowKernel::kAvx2) && HasAvx2())
        return RowKernel::kAvx2;
#endif
    if (kernel != RowKernel::kPortable && HasFma()) return RowKernel::kFma;
    return RowKernel::kPortable;
}

}  // namespace

void SubScaled(DD* x, DD a, const DD* v, std::size_t len, RowKernel kernel) {
    switch (Choose(kernel)) {
#ifdef MC_ROWS_AVX2
        case RowKernel::kAvx2:
            return ScaledAvx2(x, a, v, len);
#endif
        case RowKernel::kFma:
            return ScaledFma(x, a, v, len);
        default:
            return ScaledScalar<false>(x, a, v, 0, len);
    }
}

void SubScaled(double* xHi, double* xLo, DD a, const DD* v, std::size_t len, RowKernel kernel) {
    switch (Choose(kernel)) {
#ifdef MC_ROWS_AVX2
        case RowKernel::kAvx2:
            return ScaledSplitAvx2(xHi, xLo, a, v, len);
#endif
        case RowKernel::kFma:
            return ScaledSplitFma(xHi, xLo, a, v, len);
        default:
            return ScaledSplitScalar<false>(xHi, xLo, a, v, 0, len);
    }
}

void SubScaledBy(DD* x, const DD* v, DD b, std::size_t len, bool skipZeros, RowKernel kernel) {
    switch (Choose(kernel)) {
#ifdef MC_ROWS_AVX2
        case RowKernel::kAvx2:
            return ScaledByAvx2(x, v, b, len, skipZeros);
#endif
        case RowKernel::kFma:
            return ScaledByFma(x, v, b, len, skipZeros);
        default:
            return ScaledByScalar<false>(x, v, b, 0, len, skipZeros);
    }
}

}  // namespace DoubleDouble
}  // namespace MCMath_850
