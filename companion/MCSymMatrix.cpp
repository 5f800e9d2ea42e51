#include "companion/MCSymMatrix.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "companion/DoubleDouble.h"
#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCRectMatrix.h"

namespace MCMath_850 {

namespace dd = DoubleDouble;
using MCCommon_850::MCMV;

namespace {

std::size_t Packed(int n) {
    return static_cast<std::size_t>(n) * (n + 1) / 2;
}

// The kernels below run in two builds: kFma = true inside functions compiled
// for FMA hardware (chosen at run time), false for the portable split form.

// hi/lo += w zh zh' (+ the low-order terms of zl when given): the products
// exact, the sums compensated.
template <bool kFma>
MC_DD_INLINE void DenseKernel(double* hi, double* lo, int n, const double* zh, const double* zl,
                              double w) {
    for (int j = 0; j < n; ++j) {
        const double zj = zh[j];
        const double zjl = zl != nullptr ? zl[j] : 0.0;
        if (zj == 0.0 && zjl == 0.0) continue;
        double wzh, wzl;
        dd::TwoProd<kFma>(w, zj, wzh, wzl);
        wzl += w * zjl;
        const std::size_t row = Packed(j);
        for (int k = 0; k <= j; ++k) {
            const double zk = zh[k];
            const double zkl = zl != nullptr ? zl[k] : 0.0;
            if (zk == 0.0 && zkl == 0.0) continue;
            // (wzh + wzl)(zk + zkl), dropping the term of order 2^-106.
            double ph, pl;
            dd::TwoProd<kFma>(wzh, zk, ph, pl);
            pl += wzl * zk + wzh * zkl;
            dd::Accumulate(hi[row + k], lo[row + k], ph, pl);
        }
    }
}

template <bool kFma>
MC_DD_INLINE void SparseKernel(double* hi, double* lo, const int* idx, const double* val, int nnz,
                               double w) {
    for (int a = 0; a < nnz; ++a) {
        const double zj = val[a];
        if (zj == 0.0) continue;
        double wzh, wzl;
        dd::TwoProd<kFma>(w, zj, wzh, wzl);
        const std::size_t row = Packed(idx[a]);
        for (int b = 0; b <= a; ++b) {
            const double zk = val[b];
            const std::size_t e = row + static_cast<std::size_t>(idx[b]);
            double ph, pl;
            dd::TwoProd<kFma>(wzh, zk, ph, pl);
            pl += wzl * zk;
            dd::Accumulate(hi[e], lo[e], ph, pl);
        }
    }
}

// a_ij -= col_i f_j for i, j != k (j <= i): the rank-one update of a sweep.
template <bool kFma>
MC_DD_INLINE void SweepKernel(double* hi, double* lo, int n, int k, const dd::DD* col,
                              const dd::DD* f) {
    for (int i = 0; i < n; ++i) {
        const dd::DD ci = col[i];
        if (i == k || (ci.hi == 0.0 && ci.lo == 0.0)) continue;
        const std::size_t row = Packed(i);
        for (int j = 0; j <= i; ++j) {
            if (j == k || (f[j].hi == 0.0 && f[j].lo == 0.0)) continue;
            const dd::DD r = dd::Sub(dd::DD{hi[row + j], lo[row + j]}, dd::Mul<kFma>(ci, f[j]));
            hi[row + j] = r.hi;
            lo[row + j] = r.lo;
        }
    }
}

MC_DD_TARGET_FMA void DenseFma(double* hi, double* lo, int n, const double* zh, const double* zl,
                               double w) {
    DenseKernel<true>(hi, lo, n, zh, zl, w);
}
void DensePortable(double* hi, double* lo, int n, const double* zh, const double* zl, double w) {
    DenseKernel<false>(hi, lo, n, zh, zl, w);
}
MC_DD_TARGET_FMA void SparseFma(double* hi, double* lo, const int* idx, const double* val, int nnz,
                                double w) {
    SparseKernel<true>(hi, lo, idx, val, nnz, w);
}
void SparsePortable(double* hi, double* lo, const int* idx, const double* val, int nnz, double w) {
    SparseKernel<false>(hi, lo, idx, val, nnz, w);
}
MC_DD_TARGET_FMA void SweepFma(double* hi, double* lo, int n, int k, const dd::DD* col,
                               const dd::DD* f) {
    SweepKernel<true>(hi, lo, n, k, col, f);
}
void SweepPortable(double* hi, double* lo, int n, int k, const dd::DD* col, const dd::DD* f) {
    SweepKernel<false>(hi, lo, n, k, col, f);
}

}  // namespace

MCSymMatrix::MCSymMatrix(int n) {
    fN = std::max(n, 0);
    fvHi.assign(Packed(fN), 0.0);
}

double MCSymMatrix::GetElem(int j, int k) const {
    if (j < 0 || k < 0 || j >= fN || k >= fN) return 0.0;
    return fvHi[Index(j, k)];
}

void MCSymMatrix::SetElem(int j, int k, double value) {
    if (j < 0 || k < 0 || j >= fN || k >= fN) return;
    const std::size_t i = Index(j, k);
    fvHi[i] = value;
    if (HasLowParts()) fvLo[i] = 0.0;
}

std::vector<double>& MCSymMatrix::AsVector() {
    // The caller may write anything: neither the low parts nor a Cholesky
    // factor can be trusted afterwards.
    DropLowParts();
    fbFactored = false;
    return fvHi;
}

void MCSymMatrix::GetDiagonal(std::vector<double>& d) const {
    d.resize(static_cast<std::size_t>(fN));
    for (int j = 0; j < fN; ++j) d[j] = fvHi[Index(j, j)];
}

void MCSymMatrix::EnsureLowParts() {
    // assign() reuses the capacity a former clear() left, so this allocates
    // only the first time.
    if (fvLo.size() != fvHi.size()) fvLo.assign(fvHi.size(), 0.0);
}

bool MCSymMatrix::UpdateXX(const double* z, double w) {
    return UpdateXX(z, nullptr, w);
}

bool MCSymMatrix::PrepareUpdate() {
    try {
        EnsureLowParts();
    } catch (const std::bad_alloc&) {
        return false;
    }
    fbFactored = false;
    return true;
}

bool MCSymMatrix::UpdateXX(const std::vector<double>& z, double w) {
    if (z.size() != static_cast<std::size_t>(fN)) return false;
    return UpdateXX(z.data(), nullptr, w);
}

bool MCSymMatrix::UpdateXX(const double* zHi, const double* zLo, double w) {
    if (zHi == nullptr) return false;
    if (!PrepareUpdate()) return false;
    if (dd::HasFma())
        DenseFma(fvHi.data(), fvLo.data(), fN, zHi, zLo, w);
    else
        DensePortable(fvHi.data(), fvLo.data(), fN, zHi, zLo, w);
    return true;
}

bool MCSymMatrix::UpdateXXSparse(const int* idx, const double* val, int nnz, double w) {
    if (nnz <= 0) return true;
    if (idx == nullptr || val == nullptr) return false;
    for (int a = 0; a < nnz; ++a)
        if (idx[a] < 0 || idx[a] >= fN || (a > 0 && idx[a] <= idx[a - 1])) return false;
    if (!PrepareUpdate()) return false;
    if (dd::HasFma())
        SparseFma(fvHi.data(), fvLo.data(), idx, val, nnz, w);
    else
        SparsePortable(fvHi.data(), fvLo.data(), idx, val, nnz, w);
    return true;
}

bool MCSymMatrix::AddMapped(const MCSymMatrix& m, const int* cols, const int* srcs, int count) {
    if (count <= 0) return true;
    if (cols == nullptr || srcs == nullptr) return false;
    for (int a = 0; a < count; ++a)
        if (cols[a] < 0 || cols[a] >= fN || (a > 0 && cols[a] <= cols[a - 1]) || srcs[a] < 0 ||
            srcs[a] >= m.fN)
            return false;
    if (!PrepareUpdate()) return false;
    const bool low = m.HasLowParts();
    for (int a = 0; a < count; ++a) {
        for (int b = 0; b <= a; ++b) {
            const std::size_t src = Index(srcs[a], srcs[b]);
            const std::size_t dst = Index(cols[a], cols[b]);
            dd::Accumulate(fvHi[dst], fvLo[dst], m.fvHi[src], low ? m.fvLo[src] : 0.0);
        }
    }
    return true;
}

bool MCSymMatrix::Sweep(int k, double tol, const std::vector<double>& scale, MCBitSet& set,
                        bool checkTol) {
    if (k < 0 || k >= fN) return false;
    if (set.Size() < fN) set.Resize(fN);
    const bool reverse = set.IsIn(k);
    const std::size_t kk = Index(k, k);
    const dd::DD a{fvHi[kk], HasLowParts() ? fvLo[kk] : 0.0};
    if (a.hi == 0.0 || !std::isfinite(a.hi)) return false;
    if (!reverse && checkTol) {
        if (scale.size() <= static_cast<std::size_t>(k)) return false;
        if (std::fabs(a.hi) <= tol * scale[static_cast<std::size_t>(k)]) return false;
    }
    std::vector<dd::DD> col;  // column k without its diagonal, then scaled
    try {
        EnsureLowParts();
        col.resize(static_cast<std::size_t>(fN));
    } catch (const std::bad_alloc&) {
        return false;
    }
    fbFactored = false;
    double* hi = fvHi.data();
    double* lo = fvLo.data();
    for (int i = 0; i < fN; ++i) {
        const std::size_t e = Index(i, k);
        col[i] = dd::DD{hi[e], lo[e]};
    }
    const dd::DD inv = dd::Div(dd::DD{1.0, 0.0}, a);
    std::vector<dd::DD> f(col);  // a_ik / a
    for (int i = 0; i < fN; ++i) f[i] = dd::Mul(col[i], inv);
    // a_ij -= a_ik a_kj / a for i, j != k.
    if (dd::HasFma())
        SweepFma(hi, lo, fN, k, col.data(), f.data());
    else
        SweepPortable(hi, lo, fN, k, col.data(), f.data());
    for (int i = 0; i < fN; ++i) {
        if (i == k) continue;
        const std::size_t e = Index(i, k);
        const dd::DD v = reverse ? dd::Neg(f[i]) : f[i];
        hi[e] = v.hi;
        lo[e] = v.lo;
    }
    hi[kk] = -inv.hi;
    lo[kk] = -inv.lo;
    set.Set(k, !reverse);
    return true;
}

void MCSymMatrix::ComputeSweepScale(std::vector<double>& scale, double tol, double factor) const {
    scale.assign(static_cast<std::size_t>(fN), 0.0);
    double largest = 0.0;
    for (int j = 0; j < fN; ++j) largest = std::max(largest, std::fabs(fvHi[Index(j, j)]));
    for (int j = 0; j < fN; ++j) {
        const double d = std::fabs(fvHi[Index(j, j)]);
        scale[j] = factor * (d <= tol * largest ? largest : d);
    }
}

void MCSymMatrix::GetRegCoeffs(std::vector<double>& b, const MCBitSet& set) const {
    const int p = std::max(fN - 1, 0);
    b.assign(static_cast<std::size_t>(p), 0.0);
    for (int k = 0; k < p; ++k)
        if (set.IsIn(k)) b[k] = fvHi[Index(p, k)];
}

void MCSymMatrix::ZeroOutRedundant(const MCBitSet& set) {
    const int m = std::min(set.Size(), fN);
    for (int k = 0; k < m; ++k) {
        if (set.IsIn(k)) continue;
        for (int i = 0; i < fN; ++i) {
            const std::size_t e = Index(i, k);
            fvHi[e] = 0.0;
            if (HasLowParts()) fvLo[e] = 0.0;
        }
    }
}

bool MCSymMatrix::Expand(const MCBitSet& set, MCSymMatrix& out) const {
    if (set.Count() != fN) return false;
    MCSymMatrix r;
    std::vector<int> where;
    try {
        r = MCSymMatrix(set.Size());
        for (int i = 0; i < set.Size(); ++i)
            if (set.IsIn(i)) where.push_back(i);
        if (HasLowParts()) r.EnsureLowParts();
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int j = 0; j < fN; ++j)
        for (int k = 0; k <= j; ++k) {
            const std::size_t src = Index(j, k);
            const std::size_t dst = Index(where[j], where[k]);
            r.fvHi[dst] = fvHi[src];
            if (HasLowParts()) r.fvLo[dst] = fvLo[src];
        }
    out = std::move(r);
    return true;
}

double MCSymMatrix::ComputeVSV(const std::vector<double>& v) const {
    if (v.size() != static_cast<std::size_t>(fN)) return MCMV::Missing();
    return ComputeVSV(v.data());
}

double MCSymMatrix::ComputeVSV(const double* v) const {
    if (v == nullptr) return fN == 0 ? 0.0 : MCMV::Missing();
    double diag = 0.0;
    double off = 0.0;
    for (int j = 0; j < fN; ++j) {
        if (v[j] == 0.0) continue;
        const double* row = fvHi.data() + Packed(j);
        double s = 0.0;
        for (int k = 0; k < j; ++k) s += row[k] * v[k];
        off += v[j] * s;
        diag += v[j] * v[j] * row[j];
    }
    return diag + 2.0 * off;
}

bool MCSymMatrix::ComputeSV(const std::vector<double>& v, std::vector<double>& out) const {
    if (v.size() != static_cast<std::size_t>(fN)) return false;
    std::vector<double> r;
    try {
        r.assign(static_cast<std::size_t>(fN), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int j = 0; j < fN; ++j) {
        const double* row = fvHi.data() + Packed(j);
        double s = 0.0;
        for (int k = 0; k < j; ++k) {
            s += row[k] * v[k];
            r[k] += row[k] * v[j];
        }
        r[j] += s + row[j] * v[j];
    }
    out.swap(r);
    return true;
}

bool MCSymMatrix::ComputeRSRTrans(const MCRectMatrix& R, MCSymMatrix& out) const {
    if (R.GetNCols() != fN) return false;
    const int r = R.GetNRows();
    MCSymMatrix result;
    std::vector<double> t;  // row i of R S
    std::vector<double> rows;
    try {
        result = MCSymMatrix(r);
        // (R S) row by row, then its products with the rows of R.
        rows.assign(static_cast<std::size_t>(r) * fN, 0.0);
        std::vector<double> ri;
        for (int i = 0; i < r; ++i) {
            R.GetRow(i, ri);
            if (!ComputeSV(ri, t)) return false;
            std::copy(t.begin(), t.end(), rows.begin() + static_cast<std::ptrdiff_t>(i) * fN);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int i = 0; i < r; ++i) {
        const double* ti = rows.data() + static_cast<std::size_t>(i) * fN;
        for (int j = 0; j <= i; ++j) {
            const double* rj = R.GetRow(j);
            double s = 0.0;
            for (int k = 0; k < fN; ++k) s += ti[k] * rj[k];
            result.fvHi[Index(i, j)] = s;
        }
    }
    out = std::move(result);
    return true;
}

bool MCSymMatrix::ComputeAXpY(double a, const MCSymMatrix& Y) {
    if (Y.fN != fN) return false;
    if (!PrepareUpdate()) return false;
    for (std::size_t e = 0; e < fvHi.size(); ++e) {
        const dd::DD y{Y.fvHi[e], Y.HasLowParts() ? Y.fvLo[e] : 0.0};
        const dd::DD r = dd::Add(dd::DD{fvHi[e], fvLo[e]}, dd::Mul(y, a));
        fvHi[e] = r.hi;
        fvLo[e] = r.lo;
    }
    return true;
}

int MCSymMatrix::Cholesky(double tol, double& condition) {
    condition = 0.0;
    try {
        fvRefused.assign(static_cast<std::size_t>(fN), 0);
    } catch (const std::bad_alloc&) {
        return fN > 0 ? fN : 1;
    }
    DropLowParts();
    int refused = 0;
    double smallest = 1.0;
    double* a = fvHi.data();
    for (int i = 0; i < fN; ++i) {
        double* li = a + Packed(i);
        for (int j = 0; j < i; ++j) {
            if (fvRefused[j]) {
                li[j] = 0.0;
                continue;
            }
            const double* lj = a + Packed(j);
            double s = li[j];
            for (int k = 0; k < j; ++k) s -= li[k] * lj[k];
            li[j] = s / lj[j];
        }
        const double orig = li[i];
        double d = orig;
        for (int k = 0; k < i; ++k) d -= li[k] * li[k];
        if (!(orig > 0.0) || !std::isfinite(orig) || !std::isfinite(d) || !(d > tol * orig) ||
            !(d > 0.0)) {
            fvRefused[i] = 1;
            ++refused;
            std::fill(li, li + i + 1, 0.0);
            continue;
        }
        smallest = std::min(smallest, std::sqrt(d / orig));
        li[i] = std::sqrt(d);
    }
    fbFactored = true;
    condition = refused > 0 ? 0.0 : smallest;
    return refused;
}

bool MCSymMatrix::LTSubstitute(const std::vector<double>& b, std::vector<double>& x) const {
    if (!fbFactored || b.size() != static_cast<std::size_t>(fN)) return false;
    std::vector<double> y(b);
    const double* a = fvHi.data();
    // L y = b.
    for (int i = 0; i < fN; ++i) {
        if (fvRefused[i]) {
            y[i] = 0.0;
            continue;
        }
        const double* li = a + Packed(i);
        double s = y[i];
        for (int k = 0; k < i; ++k) s -= li[k] * y[k];
        y[i] = s / li[i];
    }
    // L' x = y, column-oriented over the packed rows.
    for (int i = fN - 1; i >= 0; --i) {
        if (fvRefused[i]) {
            y[i] = 0.0;
            continue;
        }
        const double* li = a + Packed(i);
        y[i] /= li[i];
        for (int k = 0; k < i; ++k) y[k] -= li[k] * y[i];
    }
    x.swap(y);
    return true;
}

bool MCSymMatrix::InvertFromCholesky() {
    if (!fbFactored) return false;
    std::vector<double> inv;  // L^-1, packed lower
    try {
        inv.assign(fvHi.size(), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const double* a = fvHi.data();
    for (int j = 0; j < fN; ++j) {
        if (fvRefused[j]) continue;
        inv[Index(j, j)] = 1.0 / a[Index(j, j)];
        for (int i = j + 1; i < fN; ++i) {
            if (fvRefused[i]) continue;
            const double* li = a + Packed(i);
            double s = 0.0;
            for (int k = j; k < i; ++k) s -= li[k] * inv[Index(k, j)];
            inv[Index(i, j)] = s / li[i];
        }
    }
    // (L L')^-1 = L^-T L^-1: element (i, j), j <= i, sums over k >= i.
    for (int i = 0; i < fN; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int k = i; k < fN; ++k) s += inv[Index(k, i)] * inv[Index(k, j)];
            fvHi[Index(i, j)] = s;
        }
    fbFactored = false;
    fvRefused.clear();
    return true;
}

int MCSymMatrix::ExtractH(int first, int count, const MCBitSet& set, MCRectMatrix& H,
                          int colOffset) const {
    if (first < 0 || count < 0 || first + count > fN || colOffset < 0 || H.GetNRows() != fN)
        return -1;
    const int columns = set.InRange(first, count);
    if (colOffset + columns > H.GetNCols()) return -1;
    int c = colOffset;
    for (int j = first; j < first + count; ++j) {
        if (!set.IsIn(j)) continue;
        for (int i = 0; i < fN; ++i) {
            const double v = set.IsIn(i) ? (i == j ? 1.0 : 0.0) : fvHi[Index(j, i)];
            H.SetElem(i, c, v);
        }
        ++c;
    }
    return columns;
}

void MCSymMatrix::FinishCovariance(double factor) {
    Scale(-factor);
}

void MCSymMatrix::Scale(double a) {
    fbFactored = false;
    if (!HasLowParts()) {
        for (double& v : fvHi) v *= a;
        return;
    }
    for (std::size_t e = 0; e < fvHi.size(); ++e) {
        const dd::DD r = dd::Mul(dd::DD{fvHi[e], fvLo[e]}, a);
        fvHi[e] = r.hi;
        fvLo[e] = r.lo;
    }
}

void MCSymMatrix::Zero() {
    std::fill(fvHi.begin(), fvHi.end(), 0.0);
    DropLowParts();
    fbFactored = false;
}

bool MCSymMatrix::Resize(int n) {
    n = std::max(n, 0);
    try {
        fvHi.resize(Packed(n), 0.0);
        if (HasLowParts()) fvLo.resize(Packed(n), 0.0);
    } catch (const std::bad_alloc&) {
        fvHi.resize(Packed(fN));  // shrinking back cannot fail
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    fN = n;
    fbFactored = false;
    return true;
}

bool MCSymMatrix::CopyLeadingBlock(int m, MCSymMatrix& out) const {
    if (m < 0 || m > fN) return false;
    // The leading block of a packed lower triangle is a prefix of it.
    const std::size_t len = Packed(m);
    try {
        MCSymMatrix r;
        r.fN = m;
        r.fvHi.assign(fvHi.begin(), fvHi.begin() + static_cast<std::ptrdiff_t>(len));
        if (HasLowParts())
            r.fvLo.assign(fvLo.begin(), fvLo.begin() + static_cast<std::ptrdiff_t>(len));
        out = std::move(r);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool MCSymMatrix::GeneralizedInverse(double tol, const std::vector<double>& scale, MCSymMatrix& out,
                                     int& rank, MCBitSet& pivoted) const {
    rank = 0;
    if (scale.size() < static_cast<std::size_t>(fN)) return false;
    MCSymMatrix w;
    try {
        w = *this;
        w.fbFactored = false;
        w.fvRefused.clear();
    } catch (const std::bad_alloc&) {
        return false;
    }
    MCBitSet set(fN);
    for (int k = 0; k < fN; ++k)
        if (w.Sweep(k, tol, scale, set, true)) ++rank;
    // The swept block is -S^-1 on the pivots; other rows and columns go to 0.
    w.ZeroOutRedundant(set);
    w.Scale(-1.0);
    out = std::move(w);
    pivoted = set;
    return true;
}

void MCSymMatrix::Clean(double threshold) {
    for (std::size_t e = 0; e < fvHi.size(); ++e)
        if (std::fabs(fvHi[e]) <= threshold) {
            fvHi[e] = 0.0;
            if (HasLowParts()) fvLo[e] = 0.0;
        }
}

void MCSymMatrix::Display() const {
    MCDisplay_850::DisplayText("MCSymMatrix display start");
    MCDisplay_850::DisplayI("Order", fN);
    std::vector<double> row;
    for (int j = 0; j < fN; ++j) {
        row.assign(fvHi.begin() + static_cast<std::ptrdiff_t>(Packed(j)),
                   fvHi.begin() + static_cast<std::ptrdiff_t>(Packed(j + 1)));
        MCDisplay_850::DisplayDV("Row " + std::to_string(j), row);
    }
    MCDisplay_850::DisplayText("MCSymMatrix display end");
}

}  // namespace MCMath_850
