// MCSymMatrix: several dense pivots swept as one block.
//
// Sweeping b pivots one after another streams the whole triangle through
// the cache b times. Here the b pivot columns (the panel) are brought up to
// date one after another first, each pivot decided as Sweep decides it, and
// then every other element receives its b updates in one visit. Every
// element sees the same operations in the same order as under b calls of
// Sweep, so the bits are the same.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/DoubleDoubleRows.h"
#include "companion/MCAllocationGuard.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCIndex.h"
#include "companion/MCSymMatrix.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include "companion/DoubleDoubleAvx2.h"
#define MC_BLOCK_AVX2 1
#endif

namespace MCMath_850 {

namespace dd = DoubleDouble;

namespace {

std::size_t Packed(std::size_t n) {
    return n * (n + 1) / 2;
}

// Position of element (i, j) in either order.
std::size_t Pos(std::size_t i, std::size_t j) {
    return i >= j ? Packed(i) + j : Packed(j) + i;
}

// Columns per strip of the update outside the block: the strip's
// multipliers, 16 bytes per column and pivot, then fit in a core's cache.
constexpr std::size_t kStrip = 256;

// Dense pivots of a matrix of at least this order are swept kBlock at a
// time.
constexpr std::size_t kBlockOrder = 64;
constexpr std::size_t kBlock = 32;

bool IsZero(const dd::DD& v) {
    return v.hi == 0.0 && v.lo == 0.0;
}

// One row's updates: a_rs -= c_l f_l[s] for s < end, for each pivot l in
// turn whose c_l = c[l] is not 0, skipping the s whose f_l[s] is 0. f
// holds the pivots' multipliers, high and low parts apart, n to a pivot.
template <bool kFma>
MC_DD_INLINE void RowScalar(double* hi, double* lo, std::size_t begin, std::size_t end,
                            const dd::DD* c, const int* pivots, std::size_t count,
                            const double* fHi, const double* fLo, std::size_t n) {
    for (std::size_t s = begin; s < end; ++s) {
        dd::DD a{hi[s], lo[s]};
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t l = Ix(pivots[t]);
            const dd::DD f{fHi[l * n + s], fLo[l * n + s]};
            if (IsZero(f)) continue;
            a = dd::Sub(a, dd::Mul<kFma>(c[l], f));
        }
        hi[s] = a.hi;
        lo[s] = a.lo;
    }
}

void RowPortable(double* hi, double* lo, std::size_t begin, std::size_t end, const dd::DD* c,
                 const int* pivots, std::size_t count, const double* fHi, const double* fLo,
                 std::size_t n) {
    RowScalar<false>(hi, lo, begin, end, c, pivots, count, fHi, fLo, n);
}

#ifdef MC_BLOCK_AVX2
// The same, four elements at a time, two groups of four together: each
// element's updates are a chain of dependent additions, and two chains in
// flight keep the floating-point units busy.
__attribute__((target("avx2,fma"))) void RowAvx2(double* hi, double* lo, std::size_t begin,
                                                 std::size_t end, const dd::DD* c,
                                                 const int* pivots, std::size_t count,
                                                 const double* fHi, const double* fLo,
                                                 std::size_t n) {
    std::size_t s = begin;
    for (; s + 8 <= end; s += 8) {
        dd::Quad a0 = dd::LoadQuad(hi, lo, s);
        dd::Quad a1 = dd::LoadQuad(hi, lo, s + 4);
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t l = Ix(pivots[t]);
            const dd::Quad cl = dd::Broadcast(c[l]);
            const dd::Quad f0 = dd::LoadQuad(fHi + l * n, fLo + l * n, s);
            const dd::Quad f1 = dd::LoadQuad(fHi + l * n, fLo + l * n, s + 4);
            a0 = dd::SubMul(a0, cl, f0, dd::NonZero(f0));
            a1 = dd::SubMul(a1, cl, f1, dd::NonZero(f1));
        }
        dd::StoreQuad(hi, lo, s, a0);
        dd::StoreQuad(hi, lo, s + 4, a1);
    }
    for (; s + 4 <= end; s += 4) {
        dd::Quad a = dd::LoadQuad(hi, lo, s);
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t l = Ix(pivots[t]);
            const dd::Quad f = dd::LoadQuad(fHi + l * n, fLo + l * n, s);
            a = dd::SubMul(a, dd::Broadcast(c[l]), f, dd::NonZero(f));
        }
        dd::StoreQuad(hi, lo, s, a);
    }
    RowScalar<true>(hi, lo, s, end, c, pivots, count, fHi, fLo, n);
}
#endif

}  // namespace

class MCSymMatrix::BlockWork {
public:
    std::vector<dd::DD> fvPanel;       // b columns of n
    std::vector<dd::DD> fvC;           // per pivot, its column when swept (0 at the pivot)
    std::vector<dd::DD> fvF;           // per pivot, c / a
    std::vector<double> fvFHi, fvFLo;  // f with the block's rows 0, for the other elements
    std::vector<dd::DD> fvRowC;        // per pivot, c at the current row
    std::vector<dd::DD> fvInv;
    std::vector<unsigned char> fvInBlock;
    std::vector<unsigned char> fvSwept, fvReverse;
    std::vector<int> fvLive;  // the pivots with c != 0 at the current row
};

void MCSymMatrix::ApplyToPanel(BlockWork& w, const int* pivots, std::size_t m, std::size_t l,
                               std::size_t n) {
    const std::size_t km = Ix(pivots[m]);
    const std::size_t kl = Ix(pivots[l]);
    dd::DD* col = w.fvPanel.data() + m * n;
    const dd::DD* c = w.fvC.data() + l * n;
    const dd::DD* f = w.fvF.data() + l * n;
    const bool reverse = w.fvReverse[l] != 0;
    if (m == l) {
        // The pivot's own column becomes its multipliers and -1 / pivot.
        for (std::size_t i = 0; i < n; ++i)
            if (i != kl && !IsZero(c[i])) col[i] = reverse ? dd::Neg(f[i]) : f[i];
        col[km] = dd::Neg(w.fvInv[l]);
        return;
    }
    // c and f are 0 at kl, so the update leaves (kl, km) alone; pivot l
    // then rewrites it, being in its own column.
    // Element (i, km) = (r, s), s <= r, becomes a_rs - c_r f_s: above km
    // that is c_km f_i, from km on c_i f_km.
    if (!IsZero(c[km])) dd::SubScaled(col, c[km], f, km);
    if (!IsZero(f[km])) dd::SubScaledBy(col + km, c + km, f[km], n - km, true);
    if (!IsZero(c[km])) col[kl] = reverse ? dd::Neg(f[km]) : f[km];
}

int MCSymMatrix::SweepBlock(const int* pivots, int count, double tol,
                            const std::vector<double>& scale, MCBitSet& set, bool checkTol,
                            std::vector<int>* order, BlockWork& w) {
    const std::size_t n = Ix(fN);
    const std::size_t b = Ix(count);
    if (set.Size() < fN) set.Resize(fN);
    try {
        fElems.WriteLow();
        w.fvPanel.resize(b * n);
        w.fvC.assign(b * n, dd::DD{0.0, 0.0});
        w.fvF.assign(b * n, dd::DD{0.0, 0.0});
        w.fvFHi.assign(b * n, 0.0);
        w.fvFLo.assign(b * n, 0.0);
        w.fvRowC.assign(b, dd::DD{0.0, 0.0});
        w.fvInv.assign(b, dd::DD{0.0, 0.0});
        w.fvInBlock.assign(n, 0);
        w.fvSwept.assign(b, 0);
        w.fvReverse.assign(b, 0);
        w.fvLive.reserve(b);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return -1;
    }
    double* hi = fElems.Write().data();
    double* lo = fElems.WriteLow().data();
    for (std::size_t m = 0; m < b; ++m) {
        const std::size_t k = Ix(pivots[m]);
        w.fvInBlock[k] = 1;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t e = Pos(i, k);
            w.fvPanel[m * n + i] = dd::DD{hi[e], lo[e]};
        }
    }

    // The panel, pivot by pivot: each column brought up to date with the
    // block's earlier pivots, then decided and, when swept, its multipliers.
    int swept = 0;
    for (std::size_t m = 0; m < b; ++m) {
        for (std::size_t l = 0; l < m; ++l)
            if (w.fvSwept[l]) ApplyToPanel(w, pivots, m, l, n);
        const std::size_t k = Ix(pivots[m]);
        const bool reverse = set.IsIn(pivots[m]);
        const dd::DD a = w.fvPanel[m * n + k];
        if (a.hi == 0.0 || !std::isfinite(a.hi)) continue;
        if (!reverse && checkTol && (scale.size() <= k || std::fabs(a.hi) <= tol * scale[k]))
            continue;
        w.fvSwept[m] = 1;
        w.fvReverse[m] = reverse ? 1 : 0;
        w.fvInv[m] = dd::Div(dd::DD{1.0, 0.0}, a);
        for (std::size_t i = 0; i < n; ++i) {
            const dd::DD c = i == k ? dd::DD{0.0, 0.0} : w.fvPanel[m * n + i];
            const dd::DD f = dd::Mul(c, w.fvInv[m]);
            w.fvC[m * n + i] = c;
            w.fvF[m * n + i] = f;
            if (!w.fvInBlock[i]) {
                w.fvFHi[m * n + i] = f.hi;
                w.fvFLo[m * n + i] = f.lo;
            }
        }
        set.Set(pivots[m], !reverse);
        if (order != nullptr) order->push_back(pivots[m]);
        ++swept;
    }
    if (swept == 0) return 0;

    // Every element outside the block's rows and columns: its updates in
    // one visit, pivot after pivot. In strips of columns, so that the
    // multipliers of a strip stay in the cache while the rows pass.
    for (std::size_t s0 = 0; s0 < n; s0 += kStrip) {
        for (std::size_t r = s0; r < n; ++r) {
            if (w.fvInBlock[r]) continue;
            w.fvLive.clear();
            for (std::size_t m = 0; m < b; ++m) {
                w.fvRowC[m] = w.fvC[m * n + r];
                if (w.fvSwept[m] && !IsZero(w.fvRowC[m])) w.fvLive.push_back(static_cast<int>(m));
            }
            if (w.fvLive.empty()) continue;
            const std::size_t end = std::min(s0 + kStrip, r + 1);
            double* rowHi = hi + Packed(r);
            double* rowLo = lo + Packed(r);
#ifdef MC_BLOCK_AVX2
            if (dd::HasAvx2()) {
                RowAvx2(rowHi, rowLo, s0, end, w.fvRowC.data(), w.fvLive.data(), w.fvLive.size(),
                        w.fvFHi.data(), w.fvFLo.data(), n);
                continue;
            }
#endif
            RowPortable(rowHi, rowLo, s0, end, w.fvRowC.data(), w.fvLive.data(), w.fvLive.size(),
                        w.fvFHi.data(), w.fvFLo.data(), n);
        }
    }

    // The panel's remaining updates, from its own pivot on, then back in
    // place. An element of two block columns is computed the same in both.
    for (std::size_t m = 0; m < b; ++m) {
        for (std::size_t l = m; l < b; ++l)
            if (w.fvSwept[l]) ApplyToPanel(w, pivots, m, l, n);
        const std::size_t k = Ix(pivots[m]);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t e = Pos(i, k);
            hi[e] = w.fvPanel[m * n + i].hi;
            lo[e] = w.fvPanel[m * n + i].lo;
        }
    }
    return swept;
}

bool MCSymMatrix::SweepPivots(const std::vector<int>& pivots, double tol,
                              const std::vector<double>& scale, MCBitSet& set, bool checkTol,
                              MCCancelInfo* cancel) {
    for (int k : pivots)
        if (k < 0 || k >= fN) return false;
    if (set.Size() < fN) set.Resize(fN);
    return SweepList(pivots, tol, scale, set, checkTol, cancel, nullptr);
}

bool MCSymMatrix::SweepList(const std::vector<int>& pivots, double tol,
                            const std::vector<double>& scale, MCBitSet& set, bool checkTol,
                            MCCancelInfo* cancel, std::vector<int>* order) {
    const std::size_t n = Ix(fN);
    std::unique_ptr<BlockWork> block;
    for (std::size_t i = 0; i < pivots.size();) {
        // A dense column in a large matrix starts a block.
        std::size_t size = 1;
        if (n >= kBlockOrder) {
            const std::size_t k = Ix(pivots[i]);
            const double* hi = fElems.Hi().data();
            std::size_t nonzero = 0;
            for (std::size_t r = 0; r < n; ++r) nonzero += hi[Pos(r, k)] != 0.0;
            if (4 * nonzero > n) size = std::min(kBlock, pivots.size() - i);
        }
        for (std::size_t t = 0; t < size; ++t)
            if (cancel != nullptr && cancel->WillCancel()) return false;
        if (size > 1) {
            if (!block) {
                try {
                    block = std::make_unique<BlockWork>();
                } catch (const std::bad_alloc&) {
                    MCCommon_850::RethrowInsideGuard();
                }
            }
            if (block && SweepBlock(pivots.data() + i, static_cast<int>(size), tol, scale, set,
                                    checkTol, order, *block) >= 0) {
                i += size;
                continue;
            }
        }
        // One pivot at a time, also when a block found no memory.
        for (std::size_t t = 0; t < size; ++t, ++i)
            if (Sweep(pivots[i], tol, scale, set, checkTol) && order != nullptr)
                order->push_back(pivots[i]);
    }
    return true;
}

}  // namespace MCMath_850
