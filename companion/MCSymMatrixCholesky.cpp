// MCSymMatrix: the Cholesky factor, solving with it and inverting from it.
// The factor lives in the matrix's own elements; MCSymMatrix::Elements
// records it and forgets it at the next write.
#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCIndex.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

namespace {

// Start of packed row n.
std::size_t Packed(int n) {
    return static_cast<std::size_t>(n) * (n + 1) / 2;
}

}  // namespace

int MCSymMatrix::Cholesky(double tol, double& condition) {
    condition = 0.0;
    std::vector<unsigned char> refusedPivots;
    try {
        refusedPivots.assign(static_cast<std::size_t>(fN), 0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return fN > 0 ? fN : 1;
    }
    fElems.DropLow();
    int refused = 0;
    double smallest = 1.0;
    double* a = fElems.Write().data();
    for (int i = 0; i < fN; ++i) {
        double* li = a + Packed(i);
        for (int j = 0; j < i; ++j) {
            if (refusedPivots[Ix(j)]) {
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
            refusedPivots[Ix(i)] = 1;
            ++refused;
            std::fill(li, li + i + 1, 0.0);
            continue;
        }
        smallest = std::min(smallest, std::sqrt(d / orig));
        li[i] = std::sqrt(d);
    }
    fElems.MarkFactored(std::move(refusedPivots));
    condition = refused > 0 ? 0.0 : smallest;
    return refused;
}

bool MCSymMatrix::LTSubstitute(const std::vector<double>& b, std::vector<double>& x) const {
    if (!fElems.IsFactored() || b.size() != static_cast<std::size_t>(fN)) return false;
    const std::vector<unsigned char>& refused = fElems.Refused();
    std::vector<double> y(b);
    const double* a = fElems.Hi().data();
    // L y = b.
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (refused[i]) {
            y[i] = 0.0;
            continue;
        }
        const double* li = a + Packed(static_cast<int>(i));
        double s = y[i];
        for (std::size_t k = 0; k < i; ++k) s -= li[k] * y[k];
        y[i] = s / li[i];
    }
    // L' x = y, column-oriented over the packed rows.
    for (std::size_t i = y.size(); i-- > 0;) {
        if (refused[i]) {
            y[i] = 0.0;
            continue;
        }
        const double* li = a + Packed(static_cast<int>(i));
        y[i] /= li[i];
        for (std::size_t k = 0; k < i; ++k) y[k] -= li[k] * y[i];
    }
    x.swap(y);
    return true;
}

bool MCSymMatrix::InvertFromCholesky() {
    if (!fElems.IsFactored()) return false;
    const std::vector<unsigned char>& refused = fElems.Refused();
    std::vector<double> inv;  // L^-1, packed lower
    try {
        inv.assign(fElems.Hi().size(), 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    const double* a = fElems.Hi().data();
    for (int j = 0; j < fN; ++j) {
        if (refused[Ix(j)]) continue;
        inv[Index(j, j)] = 1.0 / a[Index(j, j)];
        for (int i = j + 1; i < fN; ++i) {
            if (refused[Ix(i)]) continue;
            const double* li = a + Packed(i);
            double s = 0.0;
            for (int k = j; k < i; ++k) s -= li[k] * inv[Index(k, j)];
            inv[Index(i, j)] = s / li[i];
        }
    }
    // (L L')^-1 = L^-T L^-1: element (i, j), j <= i, sums over k >= i.
    // Writing forgets the factor.
    std::vector<double>& hi = fElems.Write();
    for (int i = 0; i < fN; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int k = i; k < fN; ++k) s += inv[Index(k, i)] * inv[Index(k, j)];
            hi[Index(i, j)] = s;
        }
    return true;
}

bool MCSymMatrix::FullRankQuadraticForm(const std::vector<double>& d, double tol,
                                        const std::vector<double>& scale, double& value) const {
    const Eigen::Index n = fN;
    if (d.size() != Ix(fN) || scale.size() < Ix(fN)) return false;
    try {
        Eigen::MatrixXd S(n, n);
        const double* hi = fElems.Hi().data();
        for (Eigen::Index j = 0; j < n; ++j)
            for (Eigen::Index k = 0; k <= j; ++k)
                S(j, k) = hi[Packed(static_cast<int>(j)) + static_cast<std::size_t>(k)];
        const Eigen::LLT<Eigen::MatrixXd, Eigen::Lower> llt(S);
        if (llt.info() != Eigen::Success) return false;
        const Eigen::MatrixXd& L = llt.matrixLLT();
        for (Eigen::Index k = 0; k < n; ++k) {
            const double pivot = L(k, k) * L(k, k);
            if (!std::isfinite(pivot) || !(pivot > tol * scale[Ix(static_cast<int>(k))]))
                return false;
        }
        Eigen::VectorXd z = Eigen::Map<const Eigen::VectorXd>(d.data(), n);
        llt.matrixL().solveInPlace(z);
        value = z.squaredNorm();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return std::isfinite(value);
}

}  // namespace MCMath_850
