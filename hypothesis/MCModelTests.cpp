#include "hypothesis/MCModelTests.h"

#include <cmath>
#include <limits>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCDistFun.h"
#include "companion/MCIndex.h"
#include "companion/MCMathFun.h"
#include "companion/MCStatusCodes.h"
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

void CheckRows(const MCRectMatrix& L, const std::vector<double>* K, std::vector<int>& codes,
               int& nNonRedundant) {
    const int n = L.GetNRows();
    const int c = L.GetNCols();
    codes.assign(static_cast<std::size_t>(n), -1);
    nNonRedundant = n;
    std::vector<double> extra;
    if (K) {
        extra.assign(static_cast<std::size_t>(n), 0.0);
        for (int i = 0; i < n && i < static_cast<int>(K->size()); ++i) extra[Ix(i)] = (*K)[Ix(i)];
    }
    for (int i = 0; i < n; ++i) {
        const double* row = L.GetRow(i);
        bool zero = true;
        for (int j = 0; j < c && zero; ++j) zero = row[j] == 0.0;
        if (zero) {
            codes[Ix(i)] = -2;
            --nNonRedundant;
            continue;
        }
        if (codes[Ix(i)] != -1) continue;
        for (int j = i + 1; j < n; ++j) {
            if (codes[Ix(j)] != -1) continue;
            if (L.IsERowMultipleOfAnother(i, j, K ? &extra : nullptr)) {
                codes[Ix(j)] = i;
                --nNonRedundant;
            }
        }
    }
}

MCModelTests::MCModelTests(const std::vector<double>& estimates, const MCBitSet& nonRedundant,
                           const MCSymMatrix& covariance, double errorDF,
                           MCCommon_850::MCQueryCancel* cancelQuery)
    : fpEstimates(&estimates),
      fpCovariance(&covariance),
      fpNonRedundant(&nonRedundant),
      fErrorDF(errorDF),
      fpCancelQuery(cancelQuery) {}

void MCModelTests::SetTestType(MCConst::MCTestType type) {
    fTestType = type;
    if (!MCMV::IsMissing(fConfidenceLevel)) SetConfidenceLevel(fConfidenceLevel);
}

void MCModelTests::SetConfidenceLevel(double c) {
    fConfidenceLevel = c;
    fCriticalValue = IsValue(c) ? ComputePercentile(0.5 * c + 0.5, fErrorDF) : MCMV::Missing();
}

void MCModelTests::SetDF(double df) {
    fErrorDF = df;
    if (!MCMV::IsMissing(fConfidenceLevel)) SetConfidenceLevel(fConfidenceLevel);
}

double MCModelTests::ComputePercentile(double q, double df) const {
    return MCPAdjust::Percentile(fTestType, q, df, fErrorDF);
}

double MCModelTests::ComputeAdjPercentile(MCConst::MCPAdjustMethod method, double alpha, int k,
                                          double df) const {
    if (!MCPAdjust::IsSingleStep(method)) return MCMV::Missing();
    return MCPAdjust::AdjPercentile(fTestType, method, alpha, k, df, fErrorDF);
}

double MCModelTests::DenominatorDF(const std::vector<double>& l) const {
    return fpSatterthwaite ? fpSatterthwaite->ComputeDF4XRow(l) : fErrorDF;
}

int MCModelTests::ComputeInverse(const MCSymMatrix& S, MCSymMatrix& Sinv, MCBitSet& used) {
    return GuardAllocationOr(-1, [&] { return Inverse(S, Sinv, used); });
}

int MCModelTests::Inverse(const MCSymMatrix& S, MCSymMatrix& Sinv, MCBitSet& used) {
    const int n = S.GetNRows();
    std::vector<double> scale(static_cast<std::size_t>(n), 0.0);
    int rank = -1;
    // A single element is its own scale; larger matrices are scaled so that
    // a numerically zero diagonal is judged against the largest one.
    if (n < 2)
        S.GetDiagonal(scale);
    else
        S.ComputeSweepScale(scale, kTol, 1.0);
    if (!S.GeneralizedInverse(kTol, scale, Sinv, rank, used)) return -1;
    Sinv.Clean(n * kEpsilon);
    return rank;
}

double MCModelTests::ComputeChiSquare(const MCRectMatrix& L, const std::vector<double>* K,
                                      int& rank, MCBitSet& used) const {
    rank = -1;
    return GuardAllocationOr(MCMV::Missing(), [&] { return ChiSquare(L, K, rank, used); });
}

double MCModelTests::ChiSquare(const MCRectMatrix& L, const std::vector<double>* K, int& rank,
                               MCBitSet& used) const {
    rank = -1;
    std::vector<double> d;
    if (!L.ComputeRV(*fpEstimates, d)) return MCMV::Missing();
    if (K)
        for (std::size_t i = 0; i < d.size() && i < K->size(); ++i) d[i] -= (*K)[i];
    MCSymMatrix S, Sinv;
    if (!fpCovariance->ComputeRSRTrans(L, S)) return MCMV::Missing();
    // A large hypothesis of full rank needs no generalised inverse, whose
    // extended-precision sweep would cost far more than the test.
    if (S.GetNRows() >= kFactorOrder) {
        std::vector<double> scale;
        S.ComputeSweepScale(scale, kTol, 1.0);
        double chi = 0.0;
        if (S.FullRankQuadraticForm(d, kTol, scale, chi)) {
            rank = S.GetNRows();
            used = MCBitSet(rank);
            used.SetRange(0, rank);
            return chi;
        }
    }
    rank = Inverse(S, Sinv, used);
    if (rank < 0) return MCMV::Missing();
    return Sinv.ComputeVSV(d);
}

void MCModelTests::FillOverall(double chi, int rank, const std::vector<double>& d, double df2,
                               bool allowF, int nRows, MCTestStats& overall) const {
    overall.SetUsedInOverallTest(rank == nRows || rank == 0);
    if (!HasOverallTest(fTestType) || rank < 0) return;
    overall.SetDF(rank);
    if (IsValue(chi) && chi >= 0.0 && rank > 0) {
        if (fTestType == MCConst::TEST_CHISQUARE) {
            overall.SetWald(chi);
            overall.SetSig(MCDistFun::SigChi(chi, rank));
        } else if (allowF) {
            const double F = chi / rank;
            overall.SetWald(F);
            overall.SetDF2(df2);
            overall.SetSig(MCDistFun::SigF(F, rank, df2));
        }
        return;
    }
    // Nothing left to test: a contrast that is non-zero although it has no
    // variance is rejected outright.
    for (const double x : d)
        if (x != 0.0) {
            overall.SetSig(0.0);
            break;
        }
    if (overall.GetDF() == 0.0) overall.SetDF(MCMV::Missing());
    if (overall.GetDF2() == 0.0) overall.SetDF2(MCMV::Missing());
}

void MCModelTests::AdjustOverallFromRows(const std::vector<MCTestStats>& rows,
                                         const std::vector<int>& codes, int n,
                                         MCTestStats& overall) const {
    double minSig = MCMV::Missing();
    double minAdj = MCMV::Missing();
    for (std::size_t r = 0; r < rows.size() && r < codes.size(); ++r) {
        if (codes[r] != -1) continue;
        const double p = rows[r].GetSig();
        const double a = rows[r].GetAdjSig();
        if (IsValue(p) && (MCMV::IsMissing(minSig) || p < minSig)) minSig = p;
        if (IsValue(a) && (MCMV::IsMissing(minAdj) || a < minAdj)) minAdj = a;
    }
    if (MCPAdjust::IsStepDown(fPAdjMethod))
        overall.SetAdjSig(MCPAdjust::StepValue(fPAdjMethod, minSig, n));
    else
        overall.SetAdjSig(minAdj);
}

void MCModelTests::FinishFamily(const std::vector<int>& codes, int n,
                                std::vector<MCTestStats>& indiv, MCTestStats& overall) const {
    const int rows = static_cast<int>(indiv.size());
    if (MCPAdjust::IsStepDown(fPAdjMethod)) {
        std::vector<int> members;
        for (int r = 0; r < rows; ++r)
            if (codes[Ix(r)] == -1) members.push_back(r);
        const double alpha = IsValue(fConfidenceLevel) ? 1.0 - fConfidenceLevel : MCMV::Missing();
        MCPAdjust::StepDown(fPAdjMethod, alpha, fErrorDF, n, indiv, members, true);
        // A duplicate row tests the same hypothesis as its original: same
        // adjusted p-value, and an interval as wide in units of its own
        // standard error.
        for (int r = 0; r < rows; ++r) {
            const int i = codes[Ix(r)];
            MCTestStats& t = indiv[Ix(r)];
            if (i < 0 || !IsValue(t.GetSig())) continue;
            const MCTestStats& src = indiv[Ix(i)];
            t.SetAdjSig(src.GetAdjSig());
            if (!IsValue(src.GetLowerConfidenceInterval())) continue;
            double h = src.GetContrastEstimate() - src.GetLowerConfidenceInterval();
            const double seR = t.GetStandardError();
            const double seI = src.GetStandardError();
            if (seR != seI) h = seI > 0.0 ? h * seR / seI : 0.0;
            t.SetLowerConfidenceInterval(t.GetContrastEstimate() - h);
            t.SetUpperConfidenceInterval(t.GetContrastEstimate() + h);
        }
    }
    double minAdj = MCMV::Missing();
    for (const MCTestStats& t : indiv) {
        const double a = t.GetAdjSig();
        if (IsValue(a) && (MCMV::IsMissing(minAdj) || a < minAdj)) minAdj = a;
    }
    overall.SetAdjSig(minAdj);
}

bool MCModelTests::TestRow(double estimate, double k, double variance, double denomDF, int n,
                           MCTestStats& record, double critical) const {
    record.SetTestType(fTestType);
    record.SetPAdjMethod(fPAdjMethod);
    record.SetContrastEstimate(estimate);
    double v = variance;
    if (!MCMV::IsMissing(v) && v < 0.0) v = 0.0;  // round-off of a zero variance
    if (v > 0.0 || std::isnan(v)) {
        record.SetDF(1.0);
        if (IsFTest(fTestType)) record.SetDF2(denomDF);
    } else {
        if (HasOverallTest(fTestType)) record.SetDF(0.0);
        if (fTestType == MCConst::TEST_WALD_F) record.SetDF2(denomDF);
    }
    MCWaldTest::Input in;
    in.fEstimate = estimate;
    in.fHypothesised = k;
    in.fVariance = variance;
    in.fFamily = WaldFamily(fTestType);
    in.fDF = denomDF;
    in.fMethod = fPAdjMethod;
    in.fMultiplicity = n;
    const MCWaldTest::Result r = MCWaldTest::Test(in, critical);
    if (!r.fbTested) return false;
    record.SetStandardError(r.fStdError);
    if (IsValue(r.fStatistic)) record.SetWald(r.fStatistic);
    if (IsValue(r.fSig)) record.SetSig(r.fSig);
    if (IsValue(r.fAdjSig)) record.SetAdjSig(r.fAdjSig);
    if (IsValue(r.fLower)) {
        record.SetLowerConfidenceInterval(r.fLower);
        record.SetUpperConfidenceInterval(r.fUpper);
    }
    if (v == 0.0) {  // nothing to test: no df either
        if (record.GetDF() == 0.0) record.SetDF(MCMV::Missing());
        if (record.GetDF2() == 0.0) record.SetDF2(MCMV::Missing());
    }
    return true;
}

bool MCModelTests::ComputeIndivTest(const MCRectMatrix& L, int r, double k, int n,
                                    MCTestStats& record, bool interval) const {
    return GuardAllocationOr(false, [&] { return IndivTest(L, r, k, n, record, interval); });
}

bool MCModelTests::IndivTest(const MCRectMatrix& L, int r, double k, int n, MCTestStats& record,
                             bool interval) const {
    std::vector<double> l;
    if (!L.GetRow(r, l) || l.size() != fpEstimates->size()) {
        record.SetTestType(fTestType);
        record.SetPAdjMethod(fPAdjMethod);
        return false;
    }
    const double df = DenominatorDF(l);
    const double crit = interval ? ComputeIntervalCritical(n, df) : MCMV::Missing();
    return TestRow(MCMathFun::DDot(l, *fpEstimates), k, fpCovariance->ComputeVSV(l), df, n, record,
                   crit);
}

double MCModelTests::ComputeIntervalCritical(int n, double denomDF) const {
    if (!IsValue(fConfidenceLevel)) return MCMV::Missing();
    // A chi-square test has no denominator df: its record holds none.
    const double df = IsFTest(fTestType) ? denomDF : MCMV::Missing();
    return (df == fErrorDF && fPAdjMethod == MCConst::PADJ_LSD)
               ? fCriticalValue
               : MCWaldTest::Critical(WaldFamily(fTestType), df, fConfidenceLevel, fPAdjMethod, n);
}

bool MCModelTests::ComputeIndivTest(double estimate, double variance, double denomDF, double k,
                                    int n, MCTestStats& record, const double* critical) const {
    return TestRow(estimate, k, variance, denomDF, n, record,
                   critical != nullptr ? *critical : MCMV::Missing());
}

namespace {

// A NaN or infinite coefficient or hypothesised value gives no statistic, and
// the p-value computed from it would read as a certain rejection.
bool AllFinite(const MCRectMatrix& L, const std::vector<double>* K) {
    for (int r = 0; r < L.GetNRows(); ++r)
        for (int c = 0; c < L.GetNCols(); ++c)
            if (!std::isfinite(L.GetElem(r, c))) return false;
    if (K)
        for (double k : *K)
            if (!std::isfinite(k)) return false;
    return true;
}

}  // namespace

MCStatus MCModelTests::ComputeOverallTest(const MCRectMatrix& L, MCTestStats& overall) {
    return GuardAllocation([&] { return OverallTest(L, overall); });
}

MCStatus MCModelTests::OverallTest(const MCRectMatrix& L, MCTestStats& overall) {
    MCStatus start;
    if (!Start(L, overall, nullptr, start)) return start;
    const int rows = L.GetNRows();
    if (L.GetNCols() != static_cast<int>(fpEstimates->size()))
        return ColumnMismatch(L.GetNCols(), static_cast<long>(fpEstimates->size()));
    if (!AllFinite(L, nullptr)) return ErrorStatus(StatusCode::kMissingInput);

    int rank = -1;
    MCBitSet used;
    const double chi = ChiSquare(L, nullptr, rank, used);
    std::vector<double> d;
    L.ComputeRV(*fpEstimates, d);
    double df2 = fErrorDF;
    if (fpSatterthwaite && fTestType == MCConst::TEST_WALD_F && rank > 0) {
        const double s = fpSatterthwaite->ComputeDF4FixedOverall(L);
        if (IsValue(s)) df2 = s;
    }
    FillOverall(chi, rank, d, df2, true, rows, overall);
    return AdjustOverallByRows(L, overall, [&](int r, int n, MCTestStats& record) {
        IndivTest(L, r, 0.0, n, record, false);
    });
}

bool MCModelTests::Start(const MCRectMatrix& L, MCTestStats& overall,
                         std::vector<MCTestStats>* indiv, MCStatus& status) const {
    status = fStatus;
    if (status.IsError()) return false;
    overall = FreshRecord(fTestType, fPAdjMethod);
    if (L.GetNRows() > 0) return true;
    if (indiv) indiv->clear();
    status = WarningStatus(StatusCode::kEmptyLMatrix);
    return false;
}

MCStatus MCModelTests::AdjustOverallByRows(
    const MCRectMatrix& L, MCTestStats& overall,
    const std::function<void(int r, int n, MCTestStats& record)>& test) {
    if (fPAdjMethod == MCConst::PADJ_LSD) return MCStatus();
    std::vector<int> codes;
    int n = 0;
    CheckRows(L, nullptr, codes, n);
    overall.SetNNonRedunRows(n);
    std::vector<MCTestStats> tests(static_cast<std::size_t>(L.GetNRows()));
    for (int r = 0; r < L.GetNRows(); ++r) {
        if (codes[Ix(r)] != -1) continue;
        if (fpCancelQuery && fpCancelQuery->IsCancel()) {
            fStatus = ErrorStatus(StatusCode::kCancelled);
            return fStatus;
        }
        test(r, n, tests[Ix(r)]);
    }
    AdjustOverallFromRows(tests, codes, n, overall);
    return MCStatus();
}

void MCModelTests::StartFamily(const MCRectMatrix& L, const std::vector<double>* K, int nTests,
                               const MCBitSet& used, std::vector<int>& codes, int& n,
                               std::vector<MCTestStats>& indiv, MCTestStats& overall) const {
    const std::size_t rows = static_cast<std::size_t>(L.GetNRows());
    if (nTests >= 1) {
        codes.assign(rows, -1);
        n = nTests;
    } else {
        CheckRows(L, K, codes, n);
    }
    indiv.assign(rows, MCTestStats());
    overall.SetNNonRedunRows(n);
    for (std::size_t r = 0; r < rows; ++r) {
        indiv[r].SetUsedInOverallTest(used.IsIn(static_cast<int>(r)));
        indiv[r].SetNNonRedunRows(n);
    }
}

MCStatus MCModelTests::ComputeOvAndIndTests(const MCRectMatrix& L, const std::vector<double>& K,
                                            std::vector<MCTestStats>& indiv, MCTestStats& overall,
                                            int nTests) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus start;
        if (!Start(L, overall, &indiv, start)) return start;
        const int rows = L.GetNRows();
        if (L.GetNCols() != static_cast<int>(fpEstimates->size()))
            return ColumnMismatch(L.GetNCols(), static_cast<long>(fpEstimates->size()));
        if (!K.empty() && static_cast<int>(K.size()) != rows)
            return ErrorStatus(StatusCode::kMissingInput);
        const std::vector<double>* Kp = K.empty() ? nullptr : &K;
        if (!AllFinite(L, Kp)) return ErrorStatus(StatusCode::kMissingInput);

        int rank = -1;
        MCBitSet used;
        const double chi = ChiSquare(L, Kp, rank, used);
        std::vector<double> d;
        L.ComputeRV(*fpEstimates, d);
        if (Kp)
            for (std::size_t i = 0; i < d.size(); ++i) d[i] -= K[i];
        // With fewer error df than hypotheses the F test has no denominator.
        FillOverall(chi, rank, d, fErrorDF, fErrorDF >= rank, rows, overall);

        std::vector<int> codes;
        int n = 0;
        StartFamily(L, Kp, nTests, used, codes, n, indiv, overall);
        for (int r = 0; r < rows; ++r) {
            MCTestStats& t = indiv[Ix(r)];
            IndivTest(L, r, Kp ? K[Ix(r)] : 0.0, n, t, false);
        }
        FinishFamily(codes, n, indiv, overall);
        return MCStatus();
    });
}

MCStatus MCModelTests::ComputeModelTest(const MCRectMatrix& L, const MCStatus& prior,
                                        MCModelTestStats& stats) {
    return GuardAllocation([&] {
        MCTestStats record;
        MCStatus result;
        if (prior.IsError() ||
            (prior.IsWarning() && prior.GetErrorCode() != StatusCode::kEmptyLMatrix))
            result = prior;
        else if (L.GetNRows() > 0 && L.GetNCols() > 0)
            result = OverallTest(L, record);
        else
            result = WarningStatus(StatusCode::kEmptyLMatrix);
        // A test the record list refused is no result to report.
        if (!stats.AddTestStatsAndLMatrixAndStatus(record, L, result))
            return ErrorStatus(StatusCode::kAllocationFailed);
        return result;
    });
}

void MCModelTests::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCModelTests display start");
    DisplayDV("Parameter estimates", *fpEstimates);
    DisplayText("Covariance matrix:");
    fpCovariance->Display();
    std::vector<int> nonRedundant;
    for (int i = 0; i < fpNonRedundant->Size(); ++i)
        if (fpNonRedundant->IsIn(i)) nonRedundant.push_back(i);
    DisplayIV("Non-redundant parameters", nonRedundant);
    DisplayD("Error degrees of freedom", fErrorDF);
    DisplayC("Test type", fTestType);
    DisplayC("p-value adjustment method", fPAdjMethod);
    DisplayB("Cancel", fbCancel);
    DisplayI("Status code", fStatus.GetErrorCode());
    DisplayB("Link function set", fpLink != nullptr);
    DisplayB("Cancel query set", fpCancelQuery != nullptr);
    DisplayB("Satterthwaite set", fpSatterthwaite != nullptr);
    DisplayD("Critical value", fCriticalValue);
    DisplayD("Confidence level", fConfidenceLevel);
    DisplayText("MCModelTests display end");
}

}  // namespace MCMath_850
