#include "companion/MCEigenValues.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDiagMatrix.h"
#include "companion/MCDisplay.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

MCEigenValues::MCEigenValues(const MCSymMatrix& S, double tol, int maxIter) {
    Compute(S, tol, maxIter);
}

bool MCEigenValues::Compute(const MCSymMatrix& S, double tol, int maxIter) {
    fbOK = false;
    fvValues.clear();
    fvVectors.clear();
    const int n = S.GetNRows();
    try {
        Eigen::MatrixXd m(n, n);
        for (int j = 0; j < n; ++j)
            for (int k = 0; k <= j; ++k) {
                const double v = S.GetElem(j, k);
                if (!std::isfinite(v)) return false;
                m(j, k) = v;
                m(k, j) = v;
            }
        // Eigen's tridiagonal QL iteration allows 30 sweeps per eigenvalue,
        // which is the customary limit; a smaller maxIter is checked below.
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(m, Eigen::ComputeEigenvectors);
        if (solver.info() != Eigen::Success || maxIter <= 0) return false;
        const Eigen::VectorXd& values = solver.eigenvalues();
        const Eigen::MatrixXd& vectors = solver.eigenvectors();
        std::vector<int> order(static_cast<std::size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return values(a) > values(b); });
        double largest = 0.0;
        for (int i = 0; i < n; ++i) largest = std::max(largest, std::fabs(values(i)));
        fvValues.resize(static_cast<std::size_t>(n));
        fvVectors.resize(static_cast<std::size_t>(n) * n);
        for (int m2 = 0; m2 < n; ++m2) {
            const int src = order[m2];
            const double v = values(src);
            fvValues[m2] = std::fabs(v) <= tol * largest ? 0.0 : v;
            // Sign convention: the largest-magnitude component positive.
            int big = 0;
            for (int i = 1; i < n; ++i)
                if (std::fabs(vectors(i, src)) > std::fabs(vectors(big, src))) big = i;
            const double sign = vectors(big, src) < 0.0 ? -1.0 : 1.0;
            for (int i = 0; i < n; ++i)
                fvVectors[static_cast<std::size_t>(m2) * n + i] = sign * vectors(i, src);
        }
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvValues.clear();
        fvVectors.clear();
        return false;
    }
    fbOK = true;
    return true;
}

bool MCEigenValues::GetSorted(MCDiagMatrix& values, MCRectMatrix& vectors) const {
    if (!fbOK) return false;
    MCDiagMatrix d;
    if (!d.Resize(GetN())) return false;
    d.AsVector() = fvValues;
    if (!GetSorted(d.AsVector(), vectors)) return false;
    values = std::move(d);
    return true;
}

bool MCEigenValues::GetSorted(std::vector<double>& values, MCRectMatrix& vectors) const {
    if (!fbOK) return false;
    const int n = GetN();
    MCRectMatrix e;
    if (!e.Resize(n, n)) return false;
    e.AsVector() = fvVectors;
    values = fvValues;
    vectors = std::move(e);
    return true;
}

void MCEigenValues::Display() const {
    MCDisplay_850::DisplayText("MCEigenValues display start");
    MCDisplay_850::DisplayB("Decomposed", fbOK);
    MCDisplay_850::DisplayDV("Eigenvalues", fvValues);
    const int n = GetN();
    for (int m = 0; m < n; ++m) {
        std::vector<double> row(fvVectors.begin() + static_cast<std::ptrdiff_t>(m) * n,
                                fvVectors.begin() + static_cast<std::ptrdiff_t>(m + 1) * n);
        MCDisplay_850::DisplayDV("Eigenvector " + std::to_string(m), row);
    }
    MCDisplay_850::DisplayText("MCEigenValues display end");
}

}  // namespace MCMath_850
