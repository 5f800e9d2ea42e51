#pragma once
#include <vector>

namespace MCMath_850 {

class MCSymMatrix;
class MCDiagMatrix;
class MCRectMatrix;

// Eigen-decomposition of a symmetric matrix, S = sum_m lambda_m e_m e_m'.
// Eigenvalues whose magnitude is at most tol times the largest magnitude are
// reported as exactly 0 (they are round-off of a singular matrix).
class MCEigenValues {
public:
    MCEigenValues() = default;
    // Decomposes S at once; IsOK() tells whether it worked. maxIter bounds
    // the QL sweeps per eigenvalue (the solver's own limit applies as well).
    explicit MCEigenValues(const MCSymMatrix& S, double tol = 1e-12, int maxIter = 30);
    virtual ~MCEigenValues() = default;

    // Returns whether the decomposition converged (false for non-finite input).
    bool Compute(const MCSymMatrix& S, double tol = 1e-12, int maxIter = 30);
    bool IsOK() const { return fbOK; }
    int GetN() const { return static_cast<int>(fvValues.size()); }

    // Eigenvalues in descending order into values (order n) and the matching
    // unit eigenvectors as the ROWS of vectors (n x n, row m belongs to
    // value m, so vectors * S * vectors' is diagonal). Each eigenvector's
    // sign is fixed so its largest-magnitude component is positive. False
    // when no successful decomposition is held.
    bool GetSorted(MCDiagMatrix& values, MCRectMatrix& vectors) const;
    bool GetSorted(std::vector<double>& values, MCRectMatrix& vectors) const;

    void Display() const;

private:
    bool fbOK = false;
    std::vector<double> fvValues;   // descending
    std::vector<double> fvVectors;  // row m = eigenvector of value m, n x n
};

}  // namespace MCMath_850
