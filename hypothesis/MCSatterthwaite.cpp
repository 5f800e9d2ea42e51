#include "hypothesis/MCSatterthwaite.h"

#include <cmath>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCEigenValues.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"

namespace MCMath_850 {

using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCMV;

namespace {

bool IsValue(double x) {
    return !MCMV::IsMissing(x) && std::isfinite(x);
}

// v' S v over v[offset .. offset + order(S) - 1]; missing when it does not fit.
double QuadForm(const MCSymMatrix& S, const std::vector<double>& v, std::size_t offset) {
    const std::size_t n = static_cast<std::size_t>(S.GetNRows());
    if (offset > v.size() || v.size() - offset < n) return MCMV::Missing();
    return n == 0 ? 0.0 : S.ComputeVSV(v.data() + offset);
}

}  // namespace

MCSatterthwaite::MCSatterthwaite(const MCSymMatrix& invHessian, const MCSymMatrix& C11,
                                 const std::vector<double>& theta,
                                 const std::vector<MCSymMatrix*>& derivatives, double residualDF)
    : fpInvHessian(&invHessian),
      fpC11(&C11),
      fpTheta(&theta),
      fpDerivatives(&derivatives),
      fNParams(invHessian.GetNRows()),
      fResidualDF(residualDF) {}

void MCSatterthwaite::SetAdditionalInfo(
    const std::vector<double>* subjectValues, const MCRectMatrix* blockMatrix,
    const MCRectMatrix* Z, const MCSymMatrix* randomMatrix,
    const std::vector<std::pair<MCSymMatrix*, int>>* blockPairs,
    const std::vector<std::vector<MCRectMatrix*>>* perSubjectRect,
    const std::vector<std::vector<MCSymMatrix*>>* perSubjectSym) {
    if (fpSubjectValues == nullptr) fpSubjectValues = subjectValues;
    if (fpBlockMatrix == nullptr) fpBlockMatrix = blockMatrix;
    if (fpZ == nullptr) fpZ = Z;
    if (fpRandomMatrix == nullptr) fpRandomMatrix = randomMatrix;
    if (fpBlockPairs == nullptr) fpBlockPairs = blockPairs;
    if (fpPerSubjectRect == nullptr) fpPerSubjectRect = perSubjectRect;
    if (fpPerSubjectSym == nullptr) fpPerSubjectSym = perSubjectSym;
    // The counts follow the stored list, so they always describe the
    // matrices that the gradient actually reads.
    fNGSide = fpBlockPairs != nullptr ? static_cast<int>(fpBlockPairs->size()) : 0;
    fNRSide = fNParams - fNGSide;
    if (fNRSide < 0) fNRSide = 0;
}

double MCSatterthwaite::ComputegHinvg(const std::vector<double>& l) const {
    return GuardAllocationOr<double>(MCMV::Missing(), [&]() -> double {
        if (fpTheta->empty()) return 0.0;
        if (fNGSide > fNParams) return MCMV::Missing();
        try {
            std::vector<double> g(static_cast<std::size_t>(fNParams), 0.0);
            std::vector<double> u;
            if (!fpC11->ComputeSV(l, u)) return MCMV::Missing();

            for (int r = 0; r < fNRSide; ++r) {
                const int k = fNGSide + r;
                if (k >= static_cast<int>(fpDerivatives->size())) return MCMV::Missing();
                const MCSymMatrix* D = (*fpDerivatives)[k];
                if (D == nullptr) continue;
                const double q = D->ComputeVSV(u);
                if (!IsValue(q)) return MCMV::Missing();
                g[k] += q;
            }

            if (fpSubjectValues != nullptr && !fpSubjectValues->empty()) {
                std::size_t s = 0;
                if (fpPerSubjectRect != nullptr)
                    s = fpPerSubjectRect->size();
                else if (fpPerSubjectSym != nullptr)
                    s = fpPerSubjectSym->size();
                if (s == 0 || fpSubjectValues->size() % s != 0 || fpBlockMatrix == nullptr)
                    return MCMV::Missing();
                const std::size_t m = fpSubjectValues->size() / s;
                std::vector<double> w;
                if (!fpBlockMatrix->ComputeRV(l, w) || w.size() != s * m) return MCMV::Missing();

                std::vector<double> segment(m), mapped, rvec;
                for (int j = 0; j < fNGSide; ++j) {
                    const MCSymMatrix* B = (*fpBlockPairs)[j].first;
                    const int offset = (*fpBlockPairs)[j].second;
                    if (B == nullptr) continue;
                    if (fpZ == nullptr || offset < 0) return MCMV::Missing();
                    for (std::size_t i = 0; i < s; ++i) {
                        segment.assign(w.begin() + i * m, w.begin() + (i + 1) * m);
                        if (!fpZ->ComputeRV(segment, mapped)) return MCMV::Missing();
                        const double q = QuadForm(*B, mapped, static_cast<std::size_t>(offset));
                        if (!IsValue(q)) return MCMV::Missing();
                        g[j] += q;
                    }
                }

                for (int r = 0; r < fNRSide; ++r) {
                    const int k = fNGSide + r;
                    for (std::size_t i = 0; i < s; ++i) {
                        const MCRectMatrix* M = nullptr;
                        const MCSymMatrix* S = nullptr;
                        if (fpPerSubjectRect != nullptr && i < fpPerSubjectRect->size() &&
                            r < static_cast<int>((*fpPerSubjectRect)[i].size()))
                            M = (*fpPerSubjectRect)[i][r];
                        if (fpPerSubjectSym != nullptr && i < fpPerSubjectSym->size() &&
                            r < static_cast<int>((*fpPerSubjectSym)[i].size()))
                            S = (*fpPerSubjectSym)[i][r];
                        if (M != nullptr) {
                            if (!M->ComputeRV(u, rvec) || rvec.size() != m) return MCMV::Missing();
                            g[k] += 2.0 * MCMathFun::DDot(static_cast<int>(m), rvec.data(), 1,
                                                          w.data() + i * m, 1);
                        }
                        if (S != nullptr) {
                            if (static_cast<std::size_t>(S->GetNRows()) != m)
                                return MCMV::Missing();
                            const double q = QuadForm(*S, w, i * m);
                            if (!IsValue(q)) return MCMV::Missing();
                            g[k] += q;
                        }
                    }
                }
            }
            const double h = fpInvHessian->ComputeVSV(g);
            return IsValue(h) ? h : MCMV::Missing();
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            return MCMV::Missing();
        }
    });
}

double MCSatterthwaite::ComputegHinvg(const std::vector<int>& indices,
                                      const std::vector<double>& values) const {
    std::vector<double> l;
    if (!ExpandSparse(indices, values, l)) return MCMV::Missing();
    return ComputegHinvg(l);
}

bool MCSatterthwaite::ExpandSparse(const std::vector<int>& indices,
                                   const std::vector<double>& values,
                                   std::vector<double>& l) const {
    const int p = fpC11->GetNRows();
    if (indices.size() != values.size()) return false;
    try {
        l.assign(static_cast<std::size_t>(p), 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    for (std::size_t t = 0; t < indices.size(); ++t) {
        if (indices[t] < 0 || indices[t] >= p) return false;
        l[indices[t]] += values[t];
    }
    return true;
}

double MCSatterthwaite::ComputeDF4XRow(const std::vector<double>& l) const {
    return GuardAllocationOr<double>(MCMV::Missing(), [&]() -> double {
        const double h = ComputegHinvg(l);
        // A zero (or, from an indefinite H^-1, negative) gradient norm means the
        // variance is not estimated from theta: no finite approximation exists.
        if (!IsValue(h) || h <= 0.0) return MCMV::Missing();
        const double v = fpC11->ComputeVSV(l);
        if (!IsValue(v)) return MCMV::Missing();
        const double df = v * v / h;
        return df < fResidualDF ? df : fResidualDF;
    });
}

double MCSatterthwaite::ComputeDF4XRow(const std::vector<int>& indices,
                                       const std::vector<double>& values) const {
    std::vector<double> l;
    if (!ExpandSparse(indices, values, l)) return MCMV::Missing();
    return ComputeDF4XRow(l);
}

double MCSatterthwaite::ComputeDF4FixedOverall(const MCRectMatrix& L) {
    return GuardAllocationOr<double>(MCMV::Missing(), [&]() -> double {
        const int r = L.GetNRows();
        if (r == 0) return fResidualDF;
        std::vector<double> row;
        if (r == 1) {
            if (!L.GetRow(0, row)) return MCMV::Missing();
            return ComputeDF4XRow(row);
        }
        if (!fpC11->ComputeRSRTrans(L, fWork)) return MCMV::Missing();
        MCEigenValues eigen;
        if (!eigen.Compute(fWork, 1e-12, 30) || !eigen.GetSorted(fEigenValues, fEigenVectors))
            return MCMV::Missing();
        MCRectMatrix P;
        if (!fEigenVectors.ComputeMatrixProduct(L, P)) return MCMV::Missing();

        int n = 0;
        double E = 0.0;
        for (int m = 0; m < P.GetNRows(); ++m) {
            if (!P.GetRow(m, row)) return MCMV::Missing();
            const double lambda = fEigenValues.GetElem(m);
            if (lambda == 0.0) continue;  // outside the column space of L C11 L'
            const double h = ComputegHinvg(row);
            if (!IsValue(h)) continue;
            ++n;
            const double lambda2 = lambda * lambda;
            if (2.0 * h < lambda2) {
                const double x = 2.0 * h / (lambda2 - 2.0 * h);
                // nu/(nu - 2) = 1 + x; for a huge nu the term is exactly 1.
                E += MCMathFun::QLReps(x, 2.0) ? 1.0 : lambda2 / (lambda2 - 2.0 * h);
            }
        }
        const double df = E > n ? 2.0 * E / (E - n) : 0.0;
        return (df > 1e-12 && df <= fResidualDF) ? df : fResidualDF;
    });
}

bool MCSatterthwaite::ComputeDF4FixedOverallNIndiv(const MCRectMatrix& L,
                                                   const std::vector<double>& /*unused*/,
                                                   std::vector<double>& df) const {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        const int r = L.GetNRows();
        std::vector<double> row;
        try {
            df.assign(static_cast<std::size_t>(r), MCMV::Missing());
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            df.clear();
            return false;
        }
        for (int i = 0; i < r; ++i)
            if (L.GetRow(i, row)) df[i] = ComputeDF4XRow(row);
        return true;
    });
}

void MCSatterthwaite::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCSatterthwaite display start");
    DisplayText("Inverse matrix of H:");
    fpInvHessian->Display();
    DisplayText("C11 matrix:");
    fpC11->Display();
    DisplayI("Number of the thetas:", static_cast<long long>(fpTheta->size()));
    DisplayI("Number of G-side parameters", fNGSide);
    DisplayI("Number of R-side parameters", fNRSide);
    DisplayText("Display each derivative matrices of C11:");
    for (const MCSymMatrix* D : *fpDerivatives) {
        if (D != nullptr)
            D->Display();
        else
            DisplayText("(none)");
    }
    DisplayD("Residual DF", fResidualDF);
    DisplayText("End of MCSatterthwaite display");
}

}  // namespace MCMath_850
