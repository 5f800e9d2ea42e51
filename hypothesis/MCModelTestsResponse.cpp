// MCModelTests: the response-scale family. Contrasts L mu of cell means
// mu_i = g^-1(M_i b) under the link g, with variances from the delta method.
#include <cmath>

#include "companion/MCAllocationGuard.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCModelTestsDetail.h"
#include "hypothesis/MCPAdjust.h"
#include "hypothesis/MCSatterthwaite.h"
#include "link/IMCLinkFunc.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;
using namespace ModelTestsDetail;

bool MCModelTests::ComputeMeans(const MCRectMatrix& M, const std::vector<double>& b,
                                std::vector<double>& mu, std::vector<double>& w) const {
    if (!fpLink) return false;
    std::vector<double> eta;
    if (!M.ComputeRV(b, eta)) return false;
    mu.assign(eta.size(), MCMV::Missing());
    w.assign(eta.size(), MCMV::Missing());
    for (std::size_t i = 0; i < eta.size(); ++i) {
        const double m = fpLink->GetInverseValue(eta[i], nullptr);
        if (!IsValue(m)) continue;
        mu[i] = m;
        const double g1 = fpLink->Get1stDerivativeValue(m, nullptr);
        if (IsValue(g1) && g1 != 0.0) w[i] = 1.0 / g1;  // d mu / d eta
    }
    return true;
}

MCStatus MCModelTests::CheckOriginal(const MCRectMatrix& M, const std::vector<double>& b,
                                     const MCRectMatrix& L) const {
    if (M.GetNCols() != static_cast<int>(b.size()))
        return ColumnMismatch(M.GetNCols(), static_cast<long>(b.size()));
    if (L.GetNCols() != M.GetNRows()) return ColumnMismatch(L.GetNCols(), M.GetNRows());
    if (!fpLink) return ErrorStatus(StatusCode::kMissingInput);
    return MCStatus();
}

double MCModelTests::ComputeOriginalChiSquare(const MCRectMatrix& M, const std::vector<double>& b,
                                              const MCRectMatrix& L, int& rank, MCBitSet& used,
                                              double& df) {
    rank = -1;
    return GuardAllocationOr(MCMV::Missing(),
                             [&] { return OriginalChiSquare(M, b, L, rank, used, df); });
}

double MCModelTests::OriginalChiSquare(const MCRectMatrix& M, const std::vector<double>& b,
                                       const MCRectMatrix& L, int& rank, MCBitSet& used,
                                       double& df) {
    df = fErrorDF;
    rank = -1;
    std::vector<double> mu, w;
    if (L.GetNCols() != M.GetNRows() || !ComputeMeans(M, b, mu, w)) return MCMV::Missing();
    const int rows = L.GetNRows();
    const int cells = L.GetNCols();
    // L W: the cells' weights on the columns of L. A cell that L does not use
    // may lack a mean; one that L uses makes the statistic not computable.
    MCRectMatrix LW(L);
    for (int j = 0; j < cells; ++j) {
        bool usedCell = false;
        for (int r = 0; r < rows; ++r) usedCell = usedCell || L.GetElem(r, j) != 0.0;
        if (!usedCell) {
            mu[Ix(j)] = 0.0;
            continue;
        }
        if (!IsValue(mu[Ix(j)]) || !IsValue(w[Ix(j)])) return MCMV::Missing();
        for (int r = 0; r < rows; ++r) LW.SetElem(r, j, L.GetElem(r, j) * w[Ix(j)]);
    }
    std::vector<double> d;
    MCRectMatrix A;
    MCSymMatrix S, Sinv;
    if (!L.ComputeRV(mu, d) || !LW.ComputeMatrixProduct(M, A) ||
        !fpCovariance->ComputeRSRTrans(A, S))
        return MCMV::Missing();
    if (fpSatterthwaite) {
        const double s = fpSatterthwaite->ComputeDF4FixedOverall(A);
        if (IsValue(s)) df = s;
    }
    rank = Inverse(S, Sinv, used);
    if (rank < 0) return MCMV::Missing();
    return Sinv.ComputeVSV(d);
}

double MCModelTests::ComputeOriginalEstimDenomDf(const MCRectMatrix& L, int r,
                                                 const MCRectMatrix& M,
                                                 const std::vector<double>& b, double& variance,
                                                 double& df) const {
    variance = MCMV::Missing();
    df = MCMV::Missing();
    return GuardAllocationOr(MCMV::Missing(),
                             [&] { return OriginalEstimDenomDf(L, r, M, b, variance, df); });
}

double MCModelTests::OriginalEstimDenomDf(const MCRectMatrix& L, int r, const MCRectMatrix& M,
                                          const std::vector<double>& b, double& variance,
                                          double& df) const {
    variance = MCMV::Missing();
    df = MCMV::Missing();
    std::vector<double> l, mu, w;
    if (!L.GetRow(r, l) || static_cast<int>(l.size()) != M.GetNRows() || !ComputeMeans(M, b, mu, w))
        return MCMV::Missing();
    double estimate = 0.0;
    std::vector<double> G(static_cast<std::size_t>(M.GetNCols()), 0.0);
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (l[i] == 0.0) continue;
        if (!IsValue(mu[i])) return MCMV::Missing();
        estimate += l[i] * mu[i];
        if (!IsValue(w[i])) continue;  // no derivative: the cell adds no gradient
        const double* row = M.GetRow(static_cast<int>(i));
        for (std::size_t j = 0; j < G.size(); ++j) G[j] += l[i] * w[i] * row[j];
    }
    variance = fpCovariance->ComputeVSV(G);
    df = DenominatorDF(G);
    return estimate;
}

bool MCModelTests::ComputeOriginalIndivTest(double estimate, double variance, int n,
                                            MCTestStats& record, double df, bool interval) const {
    if (!IsValue(estimate)) {
        record.SetTestType(fTestType);
        record.SetPAdjMethod(fPAdjMethod);
        return false;
    }
    const double critical =
        interval ? MCWaldTest::Critical(WaldFamily(fTestType), df, fConfidenceLevel, fPAdjMethod, n)
                 : MCMV::Missing();
    return TestRow(estimate, 0.0, variance, df, n, record, critical);
}

MCStatus MCModelTests::ComputeOriginalOverallTest(const MCRectMatrix& M,
                                                  const std::vector<double>& b,
                                                  const MCRectMatrix& L, MCTestStats& overall) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus start;
        if (!Start(L, overall, nullptr, start)) return start;
        const int rows = L.GetNRows();
        const MCStatus check = CheckOriginal(M, b, L);
        if (check.IsError()) return check;

        int rank = -1;
        MCBitSet used;
        double df2 = fErrorDF;
        const double chi = OriginalChiSquare(M, b, L, rank, used, df2);
        std::vector<double> mu, w, d;
        if (ComputeMeans(M, b, mu, w)) L.ComputeRV(mu, d);
        FillOverall(chi, rank, d, df2, true, rows, overall);
        return AdjustOverallByRows(L, overall, [&](int r, int n, MCTestStats& record) {
            double variance = 0.0, df = 0.0;
            const double est = OriginalEstimDenomDf(L, r, M, b, variance, df);
            ComputeOriginalIndivTest(est, variance, n, record, df, false);
        });
    });
}

MCStatus MCModelTests::ComputeOriginalOvAndIndTests(const MCRectMatrix& M,
                                                    const std::vector<double>& b,
                                                    const MCRectMatrix& L,
                                                    std::vector<MCTestStats>& indiv,
                                                    MCTestStats& overall, int nTests) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus start;
        if (!Start(L, overall, &indiv, start)) return start;
        const int rows = L.GetNRows();
        const MCStatus check = CheckOriginal(M, b, L);
        if (check.IsError()) return check;

        int rank = -1;
        MCBitSet used;
        double df2 = fErrorDF;
        const double chi = OriginalChiSquare(M, b, L, rank, used, df2);
        std::vector<double> mu, w, d;
        if (ComputeMeans(M, b, mu, w)) L.ComputeRV(mu, d);
        FillOverall(chi, rank, d, df2, true, rows, overall);

        std::vector<int> codes;
        int n = 0;
        StartFamily(L, nullptr, nTests, used, codes, n, indiv, overall);
        for (int r = 0; r < rows; ++r) {
            MCTestStats& t = indiv[Ix(r)];
            double variance = 0.0, df = 0.0;
            const double est = OriginalEstimDenomDf(L, r, M, b, variance, df);
            ComputeOriginalIndivTest(est, variance, n, t, df, true);
        }
        FinishFamily(codes, n, indiv, overall);
        return MCStatus();
    });
}

}  // namespace MCMath_850
