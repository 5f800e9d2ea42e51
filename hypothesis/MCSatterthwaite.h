#pragma once
#include <utility>
#include <vector>

#include "companion/MCDiagMatrix.h"
#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCSymMatrix.h"

namespace MCMath_850 {

// Satterthwaite approximation of the denominator degrees of freedom of a
// contrast l'b when the covariance C11 of the fixed-effect estimates depends
// on estimated covariance parameters theta (random effects, structured
// residual covariance):
//
//   df(l) = (l' C11 l)^2 / (g' H^-1 g),   g_k = d(l' C11 l)/d theta_k,
//
// with H^-1 the inverse Hessian of -2 times the (restricted) log-likelihood
// with respect to theta, so that 2 H^-1 is the asymptotic covariance of the
// estimated theta. Every result is capped at the residual degrees of freedom.
//
// The first G parameters of theta are G-side (random-effects covariance),
// the remaining R = q - G are R-side (residual covariance). For an R-side
// parameter k the host supplies D_k with d C11/d theta_k = -C11 D_k C11
// (D_k = -d(C11^-1)/d theta_k), so that g_k = u' D_k u with u = C11 l; the
// host may split part of that derivative into the per-subject terms of
// SetAdditionalInfo. G-side gradients come from the per-subject terms only.
//
// The object stores pointers to the host's matrices and never owns them;
// they must outlive it. No operation throws or reports a status: anything
// that cannot be computed gives the system-missing value.
class MCREG_API MCSatterthwaite {
public:
    // q is the order of invHessian. derivatives[k] is D_k (only the R-side
    // entries are read). Until SetAdditionalInfo runs, G and R are both 0.
    MCSatterthwaite(const MCSymMatrix& invHessian, const MCSymMatrix& C11,
                    const std::vector<double>& theta, const std::vector<MCSymMatrix*>& derivatives,
                    double residualDF);
    virtual ~MCSatterthwaite() = default;

    // The random-effects side of the gradient. Let s be the number of
    // subjects (the length of perSubjectRect, or of perSubjectSym when that
    // is absent) and m = subjectValues->size() / s the length of a subject's
    // segment. blockMatrix has s*m rows and p columns and gives
    // w = blockMatrix l. For G-side parameter j, blockPairs[j] = (B_j, o_j):
    // g_j += sum over subjects of the quadratic form of B_j over
    // (Z w_subject) from offset o_j. For R-side parameter r and subject i,
    // perSubjectRect[i][r] = M (m x p) and perSubjectSym[i][r] = S (m x m):
    // g_{G+r} += 2 (M u)' w_i + w_i' S w_i. A null matrix adds nothing.
    // randomMatrix is kept for the host. Each pointer is stored only while
    // its member is still null, so the first call wins; G becomes the size of
    // the stored block list (0 without one) and R = q - G.
    void SetAdditionalInfo(const std::vector<double>* subjectValues,
                           const MCRectMatrix* blockMatrix, const MCRectMatrix* Z,
                           const MCSymMatrix* randomMatrix,
                           const std::vector<std::pair<MCSymMatrix*, int>>* blockPairs,
                           const std::vector<std::vector<MCRectMatrix*>>* perSubjectRect,
                           const std::vector<std::vector<MCSymMatrix*>>* perSubjectSym);

    // g' H^-1 g for the row l (length p): 0 when theta is empty, missing
    // when an operand does not fit. The sparse form takes the non-zero
    // entries values[t] at indices[t] (each in 0 .. p-1).
    double ComputegHinvg(const std::vector<double>& l) const;
    double ComputegHinvg(const std::vector<int>& indices, const std::vector<double>& values) const;

    // Satterthwaite df of one contrast row, capped at the residual df;
    // missing when the gradient norm is 0 or not computable.
    double ComputeDF4XRow(const std::vector<double>& l) const;
    double ComputeDF4XRow(const std::vector<int>& indices, const std::vector<double>& values) const;

    // Denominator df of the overall F test of L (r rows): one row gives the
    // one-row result. Otherwise L C11 L' = E' diag(lambda) E is decomposed,
    // each transformed row e_m' L (variance lambda_m) has its own
    // nu_m = lambda_m^2 / h_m, and with n counted rows and
    // S = sum nu_m/(nu_m - 2) over the rows with nu_m > 2 the result is
    // 2S/(S - n). Rows in the null space of L C11 L' (eigenvalue 0) carry no
    // test direction and are not counted. The residual df is returned when
    // S <= n, no row is usable, or the value is not in (1e-12, residual df].
    // Missing when the decomposition fails. Keeps the eigen-decomposition.
    double ComputeDF4FixedOverall(const MCRectMatrix& L);

    // One df per row of L (each as ComputeDF4XRow). The vector argument is
    // not read. False (df emptied) when df cannot be sized.
    bool ComputeDF4FixedOverallNIndiv(const MCRectMatrix& L, const std::vector<double>& unused,
                                      std::vector<double>& df) const;

    int GetNParameters() const { return fNParams; }
    int GetNGSide() const { return fNGSide; }
    int GetNRSide() const { return fNRSide; }
    double GetResidualDF() const { return fResidualDF; }
    // The eigenvalues (descending) and eigenvectors (rows) of L C11 L' from
    // the last multi-row ComputeDF4FixedOverall.
    const MCDiagMatrix& GetEigenValues() const { return fEigenValues; }
    const MCRectMatrix& GetEigenVectors() const { return fEigenVectors; }

    void Display() const;

private:
    // The dense row (length p) of a sparse one; false for a bad index.
    bool ExpandSparse(const std::vector<int>& indices, const std::vector<double>& values,
                      std::vector<double>& l) const;

    const MCSymMatrix* fpInvHessian = nullptr;
    const MCSymMatrix* fpC11 = nullptr;
    const MCSymMatrix* fpRandomMatrix = nullptr;
    const std::vector<std::pair<MCSymMatrix*, int>>* fpBlockPairs = nullptr;
    const std::vector<double>* fpTheta = nullptr;
    const std::vector<double>* fpSubjectValues = nullptr;
    const MCRectMatrix* fpZ = nullptr;
    const MCRectMatrix* fpBlockMatrix = nullptr;
    const std::vector<std::vector<MCRectMatrix*>>* fpPerSubjectRect = nullptr;
    const std::vector<std::vector<MCSymMatrix*>>* fpPerSubjectSym = nullptr;
    const std::vector<MCSymMatrix*>* fpDerivatives = nullptr;
    int fNParams = 0;
    int fNGSide = 0;
    int fNRSide = 0;
    double fResidualDF = 0.0;
    MCDiagMatrix fEigenValues;
    MCRectMatrix fEigenVectors;
    MCSymMatrix fWork;  // L C11 L' of the last overall computation
};

}  // namespace MCMath_850
