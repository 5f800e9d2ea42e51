#include "companion/MCSymMatrix.h"

#include <sys/mman.h>

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "companion/DoubleDouble.h"
#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
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
}  // namespace

MCSymMatrix::MCSymMatrix(int n) {
    fN = std::max(n, 0);
    ReserveLarge(fElems.Write(), Packed(fN));
    fElems.Write().assign(Packed(fN), 0.0);
}

void MCSymMatrix::ReserveLarge(std::vector<double>& v, std::size_t n) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (!v.empty() || n * sizeof(double) < 2 * kHuge) return;
    v.reserve(n);
    // The 2 MiB-aligned part of the block; a hint, whose failure changes
    // nothing.
    const auto begin = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + n * sizeof(double)) & ~(kHuge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

double MCSymMatrix::GetElem(int j, int k) const {
    if (j < 0 || k < 0 || j >= fN || k >= fN) return 0.0;
    return fElems.Hi()[Index(j, k)];
}

double MCSymMatrix::GetElemLow(int j, int k) const {
    if (j < 0 || k < 0 || j >= fN || k >= fN || !fElems.HasLow()) return 0.0;
    return fElems.Lo()[Index(j, k)];
}

void MCSymMatrix::SetElem(int j, int k, double value) {
    if (j < 0 || k < 0 || j >= fN || k >= fN) return;
    const std::size_t e = Index(j, k);
    fElems.Write()[e] = value;
    if (fElems.HasLow()) fElems.WriteLow()[e] = 0.0;
}

std::vector<double>& MCSymMatrix::AsVector() {
    // The caller may write anything: the low parts cannot be trusted
    // afterwards (and DropLow forgets a factor).
    fElems.DropLow();
    return fElems.Write();
}

void MCSymMatrix::GetDiagonal(std::vector<double>& d) const {
    d.resize(static_cast<std::size_t>(fN));
    for (int j = 0; j < fN; ++j) d[Ix(j)] = fElems.Hi()[Index(j, j)];
}

bool MCSymMatrix::PrepareUpdate() {
    try {
        fElems.WriteLow();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

bool MCSymMatrix::UpdateXX(const double* z, double w) {
    return UpdateXX(z, nullptr, w);
}

bool MCSymMatrix::UpdateXX(const std::vector<double>& z, double w) {
    if (z.size() != static_cast<std::size_t>(fN)) return false;
    return UpdateXX(z.data(), nullptr, w);
}

bool MCSymMatrix::UpdateXX(const double* zHi, const double* zLo, double w) {
    if (zHi == nullptr) return false;
    if (!PrepareUpdate()) return false;
    double* hi = fElems.Write().data();
    double* lo = fElems.WriteLow().data();
    if (dd::HasFma())
        DenseFma(hi, lo, fN, zHi, zLo, w);
    else
        DensePortable(hi, lo, fN, zHi, zLo, w);
    return true;
}

bool MCSymMatrix::UpdateXXSparse(const int* idx, const double* val, int nnz, double w) {
    if (nnz <= 0) return true;
    if (idx == nullptr || val == nullptr) return false;
    for (int a = 0; a < nnz; ++a)
        if (idx[a] < 0 || idx[a] >= fN || (a > 0 && idx[a] <= idx[a - 1])) return false;
    if (!PrepareUpdate()) return false;
    double* hi = fElems.Write().data();
    double* lo = fElems.WriteLow().data();
    if (dd::HasFma())
        SparseFma(hi, lo, idx, val, nnz, w);
    else
        SparsePortable(hi, lo, idx, val, nnz, w);
    return true;
}

bool MCSymMatrix::AddMapped(const MCSymMatrix& m, const int* cols, const int* srcs, int count) {
    return AddMapped(m.fElems.Hi().data(), m.fElems.HasLow() ? m.fElems.Lo().data() : nullptr, m.fN,
                     cols, srcs, count);
}

bool MCSymMatrix::AddMapped(const double* mHi, const double* mLo, int order, const int* cols,
                            const int* srcs, int count) {
    if (count <= 0) return true;
    if (cols == nullptr || srcs == nullptr || mHi == nullptr) return false;
    for (int a = 0; a < count; ++a)
        if (cols[a] < 0 || cols[a] >= fN || (a > 0 && cols[a] <= cols[a - 1]) || srcs[a] < 0 ||
            srcs[a] >= order)
            return false;
    if (!PrepareUpdate()) return false;
    std::vector<double>& hi = fElems.Write();
    std::vector<double>& lo = fElems.WriteLow();
    for (int a = 0; a < count; ++a) {
        for (int b = 0; b <= a; ++b) {
            const std::size_t src = Index(srcs[a], srcs[b]);
            const std::size_t dst = Index(cols[a], cols[b]);
            dd::Accumulate(hi[dst], lo[dst], mHi[src], mLo != nullptr ? mLo[src] : 0.0);
        }
    }
    return true;
}

void MCSymMatrix::ComputeSweepScale(std::vector<double>& scale, double tol, double factor) const {
    std::vector<double> d;
    GetDiagonal(d);
    double largest = 0.0;
    for (double v : d) largest = std::max(largest, std::fabs(v));
    scale.assign(d.size(), 0.0);
    for (std::size_t j = 0; j < d.size(); ++j) {
        const double v = std::fabs(d[j]);
        scale[j] = factor * (v <= tol * largest ? largest : v);
    }
}

void MCSymMatrix::ComputeCentredScale(std::vector<double>& scale, int unit, double tol) const {
    std::vector<int> units(Ix(fN), unit);
    if (unit >= 0 && unit < fN) units[Ix(unit)] = -1;
    ComputeCentredScale(scale, units, tol);
}

void MCSymMatrix::ComputeCentredScale(std::vector<double>& scale, const std::vector<int>& unit,
                                      double tol, const std::vector<double>* unitWeight) const {
    GetDiagonal(scale);
    const double floor = tol > 0.0 ? kSumsRounding / tol : 0.0;
    CentredMoments m;
    for (int k = 0; k < fN && Ix(k) < unit.size(); ++k) {
        if (!GetCentredMoments(m, k, unit[Ix(k)], unitWeight)) continue;
        const double uncentred = std::fabs(scale[Ix(k)]);
        // Sums that overflowed keep the diagonal, which refuses the pivot.
        if (std::isfinite(m.centred.hi))
            scale[Ix(k)] = std::max(std::max(m.centred.hi, 0.0), floor * uncentred);
    }
}

bool MCSymMatrix::GetCentredMoments(CentredMoments& m, int k, int unit,
                                    const std::vector<double>* unitWeight) const {
    if (unit < 0 || unit >= fN || unit == k || k < 0 || k >= fN) return false;
    const std::vector<double>& hi = fElems.Hi();
    const std::vector<double>& lo = fElems.Lo();
    const auto elem = [&](int i, int j) {
        const std::size_t e = Index(i, j);
        return dd::DD{hi[e], lo.empty() ? 0.0 : lo[e]};
    };
    const std::size_t w = 2 * Ix(k);
    const bool ownWeight =
        unitWeight != nullptr && w + 1 < unitWeight->size() && (*unitWeight)[w] > 0.0;
    const dd::DD total =
        ownWeight ? dd::DD{(*unitWeight)[w], (*unitWeight)[w + 1]} : elem(unit, unit);
    if (!(total.hi > 0.0) || !std::isfinite(total.hi)) return false;
    m.total = total;
    m.sum = elem(unit, k);
    m.centred = dd::Sub(elem(k, k), dd::Div(dd::Mul(m.sum, m.sum), total));
    return true;
}

int MCSymMatrix::MostCollinear(const std::vector<double>& squares, const MCBitSet& set,
                               double floor, double& ratio) const {
    ratio = floor;
    int which = -1;
    for (int k = 0; k < fN && Ix(k) < squares.size(); ++k) {
        if (!(squares[Ix(k)] > 0.0) || !set.IsIn(k)) continue;
        const double r = std::sqrt(squares[Ix(k)] * -fElems.Hi()[Index(k, k)]);
        if (std::isfinite(r) && r > ratio) {
            ratio = r;
            which = k;
        }
    }
    return which;
}

std::vector<std::pair<int, double>> MCSymMatrix::KeptCombination(
    const MCBitSet& kept, const std::vector<double>& diagonal, int u, int p, double sign) const {
    std::vector<std::pair<int, double>> combination;
    if (kept.IsIn(u)) {
        combination.emplace_back(u, 1.0);
        return combination;
    }
    const auto size = [&](int k) { return std::sqrt(std::max(diagonal[Ix(k)], 0.0)); };
    const double own = kAliasingRounding * size(u);
    for (int j = 0; j < p; ++j) {
        if (!kept.IsIn(j)) continue;
        const double coef = sign * GetElem(j, u);
        if (std::fabs(coef) * size(j) > own) combination.emplace_back(j, coef);
    }
    return combination;
}

void MCSymMatrix::GetRegCoeffs(std::vector<double>& b, const MCBitSet& set) const {
    const int p = std::max(fN - 1, 0);
    b.assign(static_cast<std::size_t>(p), 0.0);
    for (int k = 0; k < p; ++k)
        if (set.IsIn(k)) b[Ix(k)] = fElems.Hi()[Index(p, k)];
}

void MCSymMatrix::ZeroOutRedundant(const MCBitSet& set) {
    const int m = std::min(set.Size(), fN);
    double* lo = fElems.HasLow() ? fElems.WriteLow().data() : nullptr;
    double* hi = fElems.Write().data();
    for (int k = 0; k < m; ++k) {
        if (set.IsIn(k)) continue;
        for (int i = 0; i < fN; ++i) {
            const std::size_t e = Index(i, k);
            hi[e] = 0.0;
            if (lo != nullptr) lo[e] = 0.0;
        }
    }
}

void MCSymMatrix::ClearAliasingRounding(int q, const MCBitSet& set,
                                        const std::vector<double>& diagonal, double tol) {
    const int m = std::min({q, set.Size(), fN, static_cast<int>(diagonal.size())});
    double* lo = fElems.HasLow() ? fElems.WriteLow().data() : nullptr;
    double* hi = fElems.Write().data();
    std::vector<double> size(Ix(std::max(m, 0)));
    for (int k = 0; k < m; ++k) size[Ix(k)] = std::sqrt(std::max(diagonal[Ix(k)], 0.0));
    for (int j = 0; j < m; ++j) {
        if (set.IsIn(j)) continue;
        const double own = tol * size[Ix(j)];
        for (int k = 0; k < m; ++k) {
            if (!set.IsIn(k)) continue;
            const std::size_t e = Index(j, k);
            if (std::fabs(hi[e]) * size[Ix(k)] > own) continue;
            hi[e] = 0.0;
            if (lo != nullptr) lo[e] = 0.0;
        }
    }
}

namespace {

// Rescales a packed matrix swept on `swept` (one flag per row): elements
// between two swept rows times a, between two others divided by a.
template <bool kFma>
void UnscaleRows(double* hi, double* lo, int n, const std::vector<char>& swept, double a) {
    std::size_t e = 0;
    for (int j = 0; j < n; ++j)
        for (int k = 0; k <= j; ++k, ++e) {
            if (swept[Ix(j)] != swept[Ix(k)]) continue;
            const dd::DD v{hi[e], lo[e]};
            const dd::DD r = swept[Ix(j)] ? dd::Mul<kFma>(v, a) : dd::Div(v, dd::DD{a, 0.0});
            hi[e] = r.hi;
            lo[e] = r.lo;
        }
}

template <bool kFma>
void ScaleElems(double* hi, double* lo, std::size_t n, double a) {
    for (std::size_t e = 0; e < n; ++e) {
        const dd::DD r = dd::Mul<kFma>(dd::DD{hi[e], lo[e]}, a);
        hi[e] = r.hi;
        lo[e] = r.lo;
    }
}

__attribute__((target("fma"))) void ScaleFma(double* hi, double* lo, std::size_t n, double a) {
    ScaleElems<true>(hi, lo, n, a);
}

__attribute__((target("fma"))) void UnscaleRowsFma(double* hi, double* lo, int n,
                                                   const std::vector<char>& swept, double a) {
    UnscaleRows<true>(hi, lo, n, swept, a);
}

}  // namespace

void MCSymMatrix::UnscaleSwept(const MCBitSet& set, double a) {
    if (!PrepareUpdate()) return;
    double* hi = fElems.Write().data();
    double* lo = fElems.WriteLow().data();
    std::vector<char> swept(Ix(fN), 0);
    for (int k = 0; k < fN && k < set.Size(); ++k) swept[Ix(k)] = set.IsIn(k) ? 1 : 0;
    if (dd::HasFma())
        UnscaleRowsFma(hi, lo, fN, swept, a);
    else
        UnscaleRows<false>(hi, lo, fN, swept, a);
}

bool MCSymMatrix::Expand(const MCBitSet& set, MCSymMatrix& out) const {
    if (set.Count() != fN) return false;
    MCSymMatrix r;
    std::vector<int> where;
    try {
        r = MCSymMatrix(set.Size());
        for (int i = 0; i < set.Size(); ++i)
            if (set.IsIn(i)) where.push_back(i);
        if (fElems.HasLow()) r.fElems.WriteLow();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    const std::vector<double>& hi = fElems.Hi();
    const std::vector<double>& lo = fElems.Lo();
    double* rLo = fElems.HasLow() ? r.fElems.WriteLow().data() : nullptr;
    double* rHi = r.fElems.Write().data();
    for (std::size_t j = 0; j < where.size(); ++j)
        for (std::size_t k = 0; k <= j; ++k) {
            const std::size_t src = Index(static_cast<int>(j), static_cast<int>(k));
            const std::size_t dst = Index(where[j], where[k]);
            rHi[dst] = hi[src];
            if (rLo != nullptr) rLo[dst] = lo[src];
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
        const double* row = fElems.Hi().data() + Packed(j);
        double s = 0.0;
        for (int k = 0; k < j; ++k) s += row[k] * v[k];
        off += v[j] * s;
        diag += v[j] * v[j] * row[j];
    }
    return diag + 2.0 * off;
}

double MCSymMatrix::ComputeSparseVSV(const std::vector<int>& indices,
                                     const std::vector<double>& values) const {
    const std::size_t nnz = std::min(indices.size(), values.size());
    double diag = 0.0;
    double off = 0.0;
    for (std::size_t a = 0; a < nnz; ++a) {
        const double vj = values[a];
        if (vj == 0.0) continue;
        const double* row = fElems.Hi().data() + Packed(indices[a]);
        double s = 0.0;
        for (std::size_t b = 0; b < a; ++b) s += row[indices[b]] * values[b];
        off += vj * s;
        diag += vj * vj * row[indices[a]];
    }
    return diag + 2.0 * off;
}

bool MCSymMatrix::ComputeSV(const std::vector<double>& v, std::vector<double>& out) const {
    const std::size_t n = static_cast<std::size_t>(fN);
    if (v.size() != n) return false;
    std::vector<double> r;
    try {
        r.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    for (std::size_t j = 0; j < n; ++j) {
        const double* row = fElems.Hi().data() + Packed(static_cast<int>(j));
        double s = 0.0;
        for (std::size_t k = 0; k < j; ++k) {
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
    const Eigen::Index r = R.GetNRows();
    using Rows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    try {
        const double* hi = fElems.Hi().data();
        // The rows of a hypothesis on a model's pivots are mostly zero
        // where S is not (its redundant parameters are rows of zeros):
        // their non-zeros against S's non-zero rows decide the work.
        std::vector<char> live(Ix(fN), 0);
        for (int j = 0; j < fN; ++j) {
            // A non-zero diagonal settles it; only a row whose diagonal is
            // zero is scanned.
            bool any = hi[Index(j, j)] != 0.0;
            for (int k = 0; k < fN && !any; ++k) any = hi[Index(j, k)] != 0.0;
            live[Ix(j)] = any ? 1 : 0;
        }
        std::vector<std::vector<std::pair<int, double>>> sparse(Ix(int(r)));
        std::size_t nonZeros = 0, nLive = 0;
        for (int j = 0; j < fN; ++j) nLive += live[Ix(j)];
        for (Eigen::Index i = 0; i < r; ++i) {
            const double* row = R.GetRow(int(i));
            for (int j = 0; j < fN; ++j)
                if (live[Ix(j)] && row[j] != 0.0) sparse[Ix(int(i))].emplace_back(j, row[j]);
            nonZeros += sparse[Ix(int(i))].size();
        }
        Eigen::MatrixXd result;
        if (nonZeros * 8 < static_cast<std::size_t>(r) * nLive) {
            // R S row by row from S's packed rows, then (R S) R' at the
            // cost of R's non-zeros: S is never unpacked.
            Rows RS = Rows::Zero(r, fN);
            for (Eigen::Index i = 0; i < r; ++i)
                for (const auto& [k, v] : sparse[Ix(int(i))]) {
                    double* out = RS.row(i).data();
                    const double* sk = hi + Index(k, 0);  // S(k, 0 .. k)
                    for (int l = 0; l <= k; ++l) out[l] += v * sk[l];
                    for (int l = k + 1; l < fN; ++l) out[l] += v * hi[Index(l, k)];
                }
            result = Eigen::MatrixXd::Zero(r, r);
            for (Eigen::Index i = 0; i < r; ++i)
                for (Eigen::Index j = 0; j <= i; ++j) {
                    double sum = 0.0;
                    for (const auto& [k, v] : sparse[Ix(int(j))]) sum += RS(i, k) * v;
                    result(i, j) = result(j, i) = sum;
                }
        } else {
            // Dense: S's live part unpacked and two matrix products,
            // blocked and vectorised.
            std::vector<int> cols;
            for (int j = 0; j < fN; ++j)
                if (live[Ix(j)]) cols.push_back(j);
            const Eigen::Index n = static_cast<Eigen::Index>(cols.size());
            Eigen::MatrixXd S(n, n);
            for (Eigen::Index j = 0; j < n; ++j)
                for (Eigen::Index k = 0; k <= j; ++k)
                    S(j, k) = S(k, j) = hi[Index(cols[Ix(int(j))], cols[Ix(int(k))])];
            Rows Rm(r, n);
            for (Eigen::Index i = 0; i < r; ++i)
                for (Eigen::Index j = 0; j < n; ++j) Rm(i, j) = R.GetRow(int(i))[cols[Ix(int(j))]];
            const Rows RS = Rm * S;
            result = RS * Rm.transpose();
        }
        MCSymMatrix packed(static_cast<int>(r));
        std::vector<double>& outHi = packed.fElems.Write();
        for (Eigen::Index i = 0; i < r; ++i)
            for (Eigen::Index j = 0; j <= i; ++j) outHi[Index(int(i), int(j))] = result(i, j);
        out = std::move(packed);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

bool MCSymMatrix::ComputeAXpY(double a, const MCSymMatrix& Y) {
    if (Y.fN != fN) return false;
    if (!PrepareUpdate()) return false;
    std::vector<double>& hi = fElems.Write();
    std::vector<double>& lo = fElems.WriteLow();
    const bool yLow = Y.fElems.HasLow();
    for (std::size_t e = 0; e < hi.size(); ++e) {
        const dd::DD y{Y.fElems.Hi()[e], yLow ? Y.fElems.Lo()[e] : 0.0};
        const dd::DD r = dd::Add(dd::DD{hi[e], lo[e]}, dd::Mul(y, a));
        hi[e] = r.hi;
        lo[e] = r.lo;
    }
    return true;
}

int MCSymMatrix::ExtractH(int first, int count, const MCBitSet& set, MCRectMatrix& H, int colOffset,
                          double sign) const {
    const int rows = H.GetNRows();
    if (first < 0 || count < 0 || first + count > rows || colOffset < 0 || rows > fN) return -1;
    const int columns = set.InRange(first, count);
    if (colOffset + columns > H.GetNCols()) return -1;
    if (rows == 0 || columns == 0) return columns;
    const double* hi = fElems.Hi().data();
    std::vector<int> cols;  // the pivots in range, one column each
    for (int j = first; j < first + count; ++j)
        if (set.IsIn(j)) cols.push_back(j);
    // Row by row, so that H is written in order: a pivot's row is the
    // identity's, a redundant parameter's holds its aliasing coefficients.
    for (int i = 0; i < rows; ++i) {
        double* row = H.GetRow(i) + colOffset;
        if (set.IsIn(i)) {
            std::fill(row, row + columns, 0.0);
            if (i >= first && i < first + count)
                row[std::lower_bound(cols.begin(), cols.end(), i) - cols.begin()] = 1.0;
        } else {
            for (std::size_t c = 0; c < cols.size(); ++c) row[c] = sign * hi[Index(cols[c], i)];
        }
    }
    return columns;
}

void MCSymMatrix::FinishCovariance(double factor) {
    Scale(-factor);
}

void MCSymMatrix::Scale(double a) {
    if (!fElems.HasLow()) {
        for (double& v : fElems.Write()) v *= a;
        return;
    }
    std::vector<double>& hi = fElems.Write();
    std::vector<double>& lo = fElems.WriteLow();
    if (a == -1.0) {  // exact either way; this way at the speed of memory
        for (std::size_t e = 0; e < hi.size(); ++e) {
            hi[e] = -hi[e];
            lo[e] = -lo[e];
        }
        return;
    }
    if (dd::HasFma())
        ScaleFma(hi.data(), lo.data(), hi.size(), a);
    else
        ScaleElems<false>(hi.data(), lo.data(), hi.size(), a);
}

void MCSymMatrix::Zero() {
    fElems.DropLow();
    std::vector<double>& hi = fElems.Write();
    std::fill(hi.begin(), hi.end(), 0.0);
}

bool MCSymMatrix::Resize(int n) {
    n = std::max(n, 0);
    const bool low = fElems.HasLow();
    std::vector<double>& hi = fElems.Write();
    try {
        hi.resize(Packed(n), 0.0);
        if (low) fElems.WriteLow().resize(Packed(n), 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        hi.resize(Packed(fN));  // shrinking back cannot fail
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    fN = n;
    return true;
}

bool MCSymMatrix::CopyLeadingBlock(int m, MCSymMatrix& out) const {
    if (m < 0 || m > fN) return false;
    // The leading block of a packed lower triangle is a prefix of it.
    const auto len = static_cast<std::ptrdiff_t>(Packed(m));
    try {
        MCSymMatrix r;
        r.fN = m;
        ReserveLarge(r.fElems.Write(), static_cast<std::size_t>(len));
        r.fElems.Write().assign(fElems.Hi().begin(), fElems.Hi().begin() + len);
        if (fElems.HasLow()) {
            ReserveLarge(r.fElems.WriteLowUnset(), static_cast<std::size_t>(len));
            r.fElems.WriteLowUnset().assign(fElems.Lo().begin(), fElems.Lo().begin() + len);
        }
        out = std::move(r);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
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
        w.fElems.Forget();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    MCBitSet set(fN);
    std::vector<int> all(Ix(fN));
    for (int k = 0; k < fN; ++k) all[Ix(k)] = k;
    if (!w.SweepList(all, tol, scale, set, true, nullptr, nullptr)) return false;
    rank = set.Count();
    // The swept block is -S^-1 on the pivots; other rows and columns go to 0.
    w.ZeroOutRedundant(set);
    w.Scale(-1.0);
    out = std::move(w);
    pivoted = set;
    return true;
}

void MCSymMatrix::Clean(double threshold) {
    double* lo = fElems.HasLow() ? fElems.WriteLow().data() : nullptr;
    std::vector<double>& hi = fElems.Write();
    std::vector<double> size(Ix(fN));
    for (int j = 0; j < fN; ++j) size[Ix(j)] = std::sqrt(std::fabs(hi[Index(j, j)]));
    std::size_t e = 0;
    for (int j = 0; j < fN; ++j)
        for (int k = 0; k <= j; ++k, ++e)
            if (std::fabs(hi[e]) <= threshold * size[Ix(j)] * size[Ix(k)]) {
                hi[e] = 0.0;
                if (lo != nullptr) lo[e] = 0.0;
            }
}

void MCSymMatrix::Display() const {
    MCDisplay_850::DisplayText("MCSymMatrix display start");
    MCDisplay_850::DisplayI("Order", fN);
    std::vector<double> row;
    const std::vector<double>& hi = fElems.Hi();
    for (int j = 0; j < fN; ++j) {
        row.assign(hi.begin() + static_cast<std::ptrdiff_t>(Packed(j)),
                   hi.begin() + static_cast<std::ptrdiff_t>(Packed(j + 1)));
        MCDisplay_850::DisplayDV("Row " + std::to_string(j), row);
    }
    MCDisplay_850::DisplayText("MCSymMatrix display end");
}

}  // namespace MCMath_850
