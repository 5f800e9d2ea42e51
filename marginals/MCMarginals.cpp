#include "marginals/MCMarginals.h"

#include <algorithm>
#include <cmath>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "design/MCContrasts.h"
#include "design/MCLiteDesignMatrix.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCSatterthwaite.h"
#include "link/IMCLinkFunc.h"
#include "marginals/MCEmmeansContrasts.h"
#include "marginals/MCEmmeansLRows.h"
#include "marginals/MCEmmeansPairwise.h"
#include "marginals/MCEmmeansRequests.h"
#include "marginals/MCEmmeansSparseRows.h"
#include "marginals/MCMultiCompareMarginals.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// An index out of range: the index and the number of valid ones as data.
MCStatus RangeError(long code, int index, int largest) {
    MCStatus s = ErrorStatus(code);
    // Where the messages of 328 and 329 read them.
    s.SetDiscreteDatum(1, index);
    s.SetDiscreteDatum(2, largest + 1);
    return s;
}

// The compared levels of the single compare factor in the current test.
std::vector<int> TestLevels(const MCEmmeansTest& test, int comparePos) {
    std::vector<int> levels;
    for (const std::vector<int>& row : test.fvRowLevels)
        levels.push_back(comparePos >= 0 ? row[Ix(comparePos)] : -1);
    return levels;
}

}  // namespace

MCMarginals::MCMarginals(const MCRegSettings& settings, const std::vector<MCEmmeansSpec>& specs,
                         const MCLiteDesignMatrix& design, const std::vector<double>& estimates,
                         MCCancelInfo& cancel, const std::vector<double>& covariateMeans,
                         const MCFactorCounts* counts, MCConst::LinkType link, double linkParam)
    : fSettings(settings),
      fDesign(design),
      fvEstimates(estimates),
      fCancel(cancel),
      fpCounts(counts),
      fCriticalValue(MCMV::Missing()),
      fTestType(settings.GetTestType()) {
    Init(specs, covariateMeans);
    if (!specs.empty()) fPAdjust = specs[0].GetPAdjust();
    SetLink(link, linkParam);
}

MCMarginals::MCMarginals(const MCRegSettings& settings, const MCLiteDesignMatrix& design,
                         const std::vector<double>& estimates, MCCancelInfo& cancel,
                         const std::vector<double>& covariateMeans, const MCFactorCounts* counts)
    : fSettings(settings),
      fDesign(design),
      fvEstimates(estimates),
      fCancel(cancel),
      fpCounts(counts),
      fCriticalValue(MCMV::Missing()),
      fTestType(settings.GetTestType()) {
    Init({}, covariateMeans);
    SetLink(MCConst::LINK_IDENTITY, 0.0);
}

void MCMarginals::SetLink(MCConst::LinkType type, double param) {
    // Without its link a response-scale mean would be reported on the
    // linear predictor's scale.
    const MCStatus linked = GuardAllocation([&] {
        fpLink.reset(CreateLinkFunction(type, param));
        return MCStatus();
    });
    if (linked.IsError() && !fStatus.IsError()) fStatus = linked;
}

MCMarginals::~MCMarginals() = default;

void MCMarginals::Init(const std::vector<MCEmmeansSpec>& specs,
                       const std::vector<double>& covariateMeans) {
    // A design left part-built (it ran out of memory while the host added
    // its parameters) would give means of the parameters it happens to hold.
    if (fDesign.GetStatus().IsError()) {
        fStatus = fDesign.GetStatus();
        return;
    }
    fStatus = GuardAllocation([&] {
        fpRequests = std::make_unique<MCEmmeansRequests>();
        fpRows = std::make_unique<MCEmmeansLRows>(fDesign, *fpRequests, fCancel);
        fpLMatrix = std::make_unique<MCEmmeansLMatrix>();
        fpPairs = std::make_unique<MCEmmeansPairs>();
        MCStatus s = fpRequests->Init(fSettings, fDesign, fpCounts, covariateMeans, specs);
        if (s.IsError()) return s;
        if (fCancel.WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        if (!fpRequests->IsComplete()) s = fpRows->CountIncompleteCells();
        return s;
    });
}

bool MCMarginals::SetLinkFunction(MCConst::LinkType type, double param) {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        fpLink.reset(CreateLinkFunction(type, param));
        if (fpTester) fpTester->SetLinkFunction(fpLink.get());
        return fpLink != nullptr;
    });
}

const std::vector<double>& MCMarginals::GetCovariateMeans() const {
    static const std::vector<double> kNone;
    return fpRequests ? fpRequests->CovariateMeans() : kNone;
}

const MCEmmeansSpec* MCMarginals::GetSpec(int spec) const {
    return fpRequests && fpRequests->IsRequest(spec) ? &fpRequests->Get(spec) : nullptr;
}

int MCMarginals::GetFactorPosition(int factor) const {
    return fpRequests ? fpRequests->FactorPos(factor) : -1;
}

bool MCMarginals::GetPWCombinations(int spec, std::vector<std::vector<int>>& combinations) const {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        combinations.clear();
        return fpRequests && fpRequests->CompareCombinations(spec, combinations);
    });
}

MCStatus MCMarginals::CheckSpec(int spec) const {
    if (fStatus.IsError()) return fStatus;
    if (fpCovariance == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    if (!fpRequests->IsRequest(spec))
        return RangeError(StatusCode::kSpecIndex, spec, fpRequests->Size() - 1);
    return MCStatus();
}

MCStatus MCMarginals::SetEmmeansTesting(const MCSymMatrix* covariance, const MCBitSet& nonRedundant,
                                        double errorDF, MCSatterthwaite* satterthwaite) {
    return GuardAllocation([&]() -> MCStatus {
        if (fStatus.IsError()) return fStatus;
        if (covariance == nullptr || errorDF < 0) return ErrorStatus(StatusCode::kMissingInput);
        if (covariance->GetNRows() != static_cast<int>(fvEstimates.size()) ||
            covariance->GetNRows() != fDesign.GetNParameters())
            return ErrorStatus(StatusCode::kCovarianceDimension);
        // Made before anything is set: the means are not tested without it.
        auto tester =
            std::make_unique<MCModelTests>(fvEstimates, nonRedundant, *covariance, errorDF);
        fpCovariance = covariance;
        fpNonRedundant = &nonRedundant;
        fErrorDF = errorDF;
        fpSatterthwaite = satterthwaite;
        fpTester = std::move(tester);
        fpTester->SetTestType(fTestType);
        fpTester->SetConfidenceLevel(fSettings.GetConfidenceLevel());
        fpTester->SetPAdjustment(fPAdjust);
        fpTester->SetLinkFunction(fpLink.get());
        fpTester->SetSatterthwaite(satterthwaite);
        fCriticalValue = fpTester->GetCriticalValue();
        fpLMatrix->fSpec = -1;
        return MCStatus();
    });
}

double MCMarginals::CriticalValue(double df) const {
    if (fpSatterthwaite == nullptr) return fCriticalValue;
    return fpTester->ComputePercentile(0.5 * fSettings.GetConfidenceLevel() + 0.5, df);
}

MCStatus MCMarginals::GetFactorEmmeans(int factor, MCRectMatrix& L, std::vector<double>& means) {
    return GuardAllocation([&]() -> MCStatus {
        if (fStatus.IsError()) return fStatus;
        if (!fpRequests->IsFactor(factor)) return ErrorStatus(StatusCode::kMissingInput);
        std::vector<std::vector<int>> cells;
        for (int l : fpRequests->Levels(factor)) cells.push_back({l});
        MCEmmeansSpec atMeans;
        for (int c : fSettings.GetCovariates())
            atMeans.AddCovariate(c, fpRequests->CovariateMean(c));
        return fpRows->Profile({factor}, cells, std::vector<MCEmmeansSpec>(cells.size(), atMeans),
                               fvEstimates, L, means);
    });
}

MCStatus MCMarginals::GetCovarEmmeans(int covariate, double low, double high, int points,
                                      MCRectMatrix& L, std::vector<double>& values,
                                      std::vector<double>& means) {
    return GuardAllocation([&]() -> MCStatus {
        if (fStatus.IsError()) return fStatus;
        if (points < 2 || !(low < high) || covariate < 0 ||
            FindPosition(fSettings.GetCovariates(), covariate) < 0)
            return ErrorStatus(StatusCode::kMissingInput);
        values.clear();
        const double step = (high - low) / (points - 1);
        double x = low;
        std::vector<MCEmmeansSpec> covs;
        for (int i = 0; i < points; ++i, x += step) {
            values.push_back(x);
            MCEmmeansSpec at;
            for (int c : fSettings.GetCovariates())
                at.AddCovariate(c, c == covariate ? x : fpRequests->CovariateMean(c));
            covs.push_back(at);
        }
        return fpRows->Profile({}, std::vector<std::vector<int>>(covs.size()), covs, fvEstimates, L,
                               means);
    });
}

MCStatus MCMarginals::SetCurrentSpec(int spec) {
    MCStatus& st = fpRequests->Status(spec);
    if (spec == fpLMatrix->fSpec || st.IsError()) return st;
    const MCEmmeansSpec& s = fpRequests->Get(spec);
    fPAdjust = s.GetPAdjust();
    fpTester->SetPAdjustment(fPAdjust);
    fpLMatrix->fSpec = -1;
    fpPairs->Forget();
    fTest = MCEmmeansTest();
    // Request factors with the compare factors moved last (fastest), in
    // compare-list order.
    std::vector<int> order;
    if (!fpRequests->FactorOrder(s, order)) return ErrorStatus(StatusCode::kMissingInput);
    if (s.GetCompareFactors().size() > 1) {
        fpMulti = std::make_unique<MCMultiCompareMarginals>(*this);
        std::vector<int> positions;
        fpMulti->GetEmmeansFactorIndices(spec, positions, true);
    } else {
        fpMulti.reset();
    }
    const MCStatus built = fpRows->Build(spec, order, *fpLMatrix, st);
    if (built.GetErrorCode() == StatusCode::kCancelled) fStatus = built;
    if (built.IsError()) return built;
    if (st.IsError()) return st;
    if (fpMulti && fpRequests->IsComplete()) {
        // Every test holds all combinations of the compare levels.
        const MCStatus ms = fpMulti->DoAfterCompleteLMatrix(spec);
        if (ms.IsError()) return ms;
        const int K = fpMulti->GetTestCatsSize();
        fpLMatrix->fNCompare = K;
        fpLMatrix->fNTests = K > 1 ? fpLMatrix->fL.GetNRows() / K : 0;
    }
    fpLMatrix->fSpec = spec;
    return st;
}

MCStatus MCMarginals::SelectTest(int test) {
    const MCEmmeansLMatrix& m = *fpLMatrix;
    if (m.fNTests <= 0) return ErrorStatus(StatusCode::kMissingInput);
    if (test < 0 || test >= m.fNTests)
        return RangeError(StatusCode::kTestIndex, test, m.fNTests - 1);
    // Asked once per pair of a test: selected once.
    if (fTest.fSpec == m.fSpec && fTest.fTest == test) return fTestStatus;
    try {
        fTestStatus = SelectNewTest(test);
    } catch (...) {
        fTest.fSpec = -1;  // a selection cut short is made again next time
        throw;
    }
    return fTestStatus;
}

MCStatus MCMarginals::SelectNewTest(int test) {
    const MCEmmeansLMatrix& m = *fpLMatrix;
    const bool complete = fpRequests->IsComplete();
    const int first = complete ? m.fNCompare * test : m.fvTestStarts[Ix(test)];
    const int end = complete ? first + m.fNCompare : m.fvTestStarts[Ix(test) + 1];
    fTest.fSpec = m.fSpec;
    fTest.fTest = test;
    fTest.fFirstRow = first;
    fTest.fvRowLevels.assign(m.fvRowLevels.begin() + first, m.fvRowLevels.begin() + end);
    if (complete) return MCStatus();

    const MCEmmeansSpec& s = fpRequests->Get(m.fSpec);
    if (fpMulti) {
        const MCStatus multi = fpMulti->DoAfterSetEmmeansTest(test);
        if (multi.IsError()) return multi;
    }
    std::size_t full = 1;
    for (int c : s.GetCompareFactors()) full *= fpRequests->Levels(c).size();
    MCStatus st;
    if (fTest.GetNCompare() == 1) {
        st = MCStatus(StatusCode::kOneRowTest, s.GetContrastType() == MCConst::CONTRAST_PAIRWISE);
        st.SetDiscreteDatum(0, test);
    } else if (Ix(fTest.GetNCompare()) < full) {
        st = WarningStatus(StatusCode::kLevelsMissing);
        st.SetDiscreteDatum(0, test);
    }
    return st;
}

void MCMarginals::FillFixed(FixedLevels& fixed) const {
    fixed.clear();
    const std::vector<int>& factors = fpRequests->Get(fTest.fSpec).GetFactors();
    const std::vector<int>& levels = fTest.fvRowLevels.front();
    for (std::size_t i = 0; i < factors.size(); ++i)
        if (static_cast<int>(i) != fpLMatrix->fComparePos)
            fixed.emplace_back(factors[i], levels[i]);
}

MCStatus MCMarginals::GetEmmeansStats(int spec, MCEmmeansSpec& specOut, MCRectMatrix& L,
                                      std::vector<MCEmmeansStats>& stats) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus st = CheckSpec(spec);
        if (st.IsError()) return st;
        st = SetCurrentSpec(spec);
        if (st.IsError()) return st;
        const MCEmmeansSpec& s = fpRequests->Get(spec);
        const MCRectMatrix& lm = fpLMatrix->fL;
        specOut = s;
        L = lm;
        const int nRows = lm.GetNRows();
        std::vector<double> df(Ix(nRows), fErrorDF);
        if (fpSatterthwaite != nullptr) fpSatterthwaite->ComputeDF4FixedOverallNIndiv(lm, {}, df);
        std::vector<double> eta;
        lm.ComputeRV(fvEstimates, eta);
        stats.assign(Ix(nRows), MCEmmeansStats());
        MCEmmeansSparseRows rows;
        rows.Load(lm, 0, nRows);
        std::vector<int> idx;
        std::vector<double> val;
        for (int r = 0; r < nRows; ++r) {
            if (fCancel.WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
            rows.Row(r, idx, val);
            const double v = std::max(MCEmmeansSparseRows::Variance(*fpCovariance, idx, val), 0.0);
            const double rdf = Ix(r) < df.size() ? df[Ix(r)] : fErrorDF;
            const double crit = CriticalValue(rdf);
            const double half = MCMV::IsMissing(crit) ? MCMV::Missing() : std::sqrt(v) * crit;
            const double e = eta[Ix(r)];
            MCEmmeansStats& out = stats[Ix(r)];
            out.SetCategories(fpLMatrix->fvRowLevels[Ix(r)]);
            out.SetDF(rdf);
            if (s.GetEmmScaleType() == MCConst::EMM_SCALE_TRANSFORMED || fpLink == nullptr) {
                out.SetMean(e);
                out.SetStandardError(std::sqrt(v));
                if (!MCMV::IsMissing(half)) {
                    out.SetLower(e - half);
                    out.SetUpper(e + half);
                }
            } else {
                int flag = 0;
                const double mu = fpLink->GetInverseValue(e, &flag);
                out.SetMean(mu);
                const double d = fpLink->Get1stDerivativeValue(mu, &flag);
                if (!MCMV::IsMissing(d) && d != 0)
                    out.SetStandardError(std::sqrt(v) / std::fabs(d));
                if (!MCMV::IsMissing(half)) {
                    const double a = fpLink->GetInverseValue(e - half, &flag);
                    const double b = fpLink->GetInverseValue(e + half, &flag);
                    out.SetLower(std::min(a, b));
                    out.SetUpper(std::max(a, b));
                }
            }
        }
        return st;
    });
}

int MCMarginals::GetNEmmeansTests(int spec, MCStatus& status) {
    status = CheckSpec(spec);
    if (!status.IsError()) status = GuardAllocation([&] { return SetCurrentSpec(spec); });
    if (status.IsError()) return -1;
    return fpLMatrix->fNTests;
}

MCStatus MCMarginals::GetEmmeansTests(int spec, int test, FixedLevels& fixed,
                                      std::vector<int>& compared, MCRectMatrix& tested,
                                      std::vector<MCTestStats>& indiv, MCTestStats& overall) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus st = CheckSpec(spec);
        if (st.IsError()) return st;
        st = SetCurrentSpec(spec);
        if (st.IsError()) return st;
        const MCEmmeansSpec& s = fpRequests->Get(spec);
        // Contrasts compare the levels of one factor.
        if (s.GetContrastType() == MCConst::CONTRAST_PAIRWISE || fpMulti)
            return ErrorStatus(StatusCode::kMissingInput);
        MCStatus sel = SelectTest(test);
        if (sel.IsError()) return sel;
        FillFixed(fixed);
        compared = TestLevels(fTest, fpLMatrix->fComparePos);
        MCRectMatrix C;
        MCStatus cs = BuildEmmeansContrast(s, fpLMatrix->fvAllLevels, compared, C, sel);
        if (cs.IsError()) return cs;
        const MCRectMatrix A = EmmeansTestRows(fpLMatrix->fL, fTest.fFirstRow, fTest.GetNCompare());
        cs = TestEmmeansContrast(*fpTester, fvEstimates, s.GetEmmScaleType(), C, A, tested, indiv,
                                 overall);
        if (!cs.IsOK()) return cs;
        return st.IsOK() ? sel : st;
    });
}

void MCMarginals::ComputePairIndices(int pair, int k, int& i, int& j) {
    i = k > 1 ? pair / (k - 1) : 0;
    const int r = k > 1 ? pair % (k - 1) : 0;
    j = i > r ? r : r + 1;
}

int MCMarginals::GetNPairwiseEmmeansTests(int spec, int test) {
    return GuardAllocationOr<int>(-1, [&]() -> int {
        MCStatus st;
        if (GetNEmmeansTests(spec, st) < 0 || SelectTest(test).IsError()) return -1;
        const int k = fTest.GetNCompare();
        const int n = k * (k - 1);
        return n == 0 ? 1 : n;
    });
}

void MCMarginals::PairInput(MCEmmeansPairInput& in) const {
    in.fpL = &fpLMatrix->fL;
    in.fFirstRow = fTest.fFirstRow;
    in.fK = fTest.GetNCompare();
    in.fpEstimates = &fvEstimates;
    in.fpTester = fpTester.get();
    in.fpCancel = &fCancel;
    in.fScale = fpRequests->Get(fTest.fSpec).GetEmmScaleType();
    in.fMethod = fPAdjust;
    in.fTestType = fTestType;
    in.fAlpha = 1.0 - fSettings.GetConfidenceLevel();
    in.fErrorDF = fErrorDF;
    in.fbRowDF = fpSatterthwaite != nullptr;
}

MCStatus MCMarginals::GetPairwiseEmmeansTests(int spec, int test, int pair, FixedLevels& fixed,
                                              std::vector<int>& compared, MCEmmeansStats& stats) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus st = CheckSpec(spec);
        if (st.IsError()) return st;
        st = SetCurrentSpec(spec);
        if (st.IsError()) return st;
        if (fpMulti) return GetCombinationPair(spec, test, pair, fixed, compared, stats);
        MCStatus sel = SelectTest(test);
        if (sel.IsError()) return sel;
        const int k = fTest.GetNCompare(), n = k * (k - 1);
        FillFixed(fixed);
        if (n <= 1) {
            stats.Reset();
            if (k == 1) stats.SetCategories(TestLevels(fTest, fpLMatrix->fComparePos));
            return sel.IsOK() ? WarningStatus(k == 1 ? StatusCode::kOneLevelCompare
                                                     : StatusCode::kOneRowTest)
                              : sel;
        }
        if (pair < 0 || pair >= n) return RangeError(StatusCode::kTestIndex, pair, n - 1);
        if (pair == 0 || fpPairs->fTest != test) {
            fpPairs->Forget();
            fpPairs->fvLevels = TestLevels(fTest, fpLMatrix->fComparePos);
            MCEmmeansPairInput in;
            PairInput(in);
            const MCStatus ps = ComputeLevelPairs(in, fpPairs->fvLevels, *fpPairs);
            if (ps.GetErrorCode() == StatusCode::kCancelled) fStatus = ps;
            if (ps.IsError()) return ps;
            fpPairs->fSpec = spec;
            fpPairs->fTest = test;
        }
        int i = 0, j = 0;
        ComputePairIndices(pair, k, i, j);
        compared.assign(1, fpPairs->fvLevels[Ix(i)]);
        stats = fpPairs->fvStats[Ix(pair)];
        const MCStatus& qs = fpPairs->fvStatus[Ix(pair)];
        if (!qs.IsOK()) return qs;
        return st.IsOK() ? sel : st;
    });
}

MCStatus MCMarginals::GetCombinationPair(int spec, int test, int pair, FixedLevels& fixed,
                                         std::vector<int>& compared, MCEmmeansStats& stats) {
    MCStatus st = fpRequests->Status(spec);
    const MCStatus sel = SelectTest(test);
    if (sel.IsError()) return sel;
    if (!sel.IsOK() && st.IsOK()) st = sel;
    const int K = fpMulti->GetTestCatsSize();
    if (K < 2) {
        stats.Reset();
        if (K == 1) {
            std::vector<int> only;
            fpMulti->PushCompareFactors(0, only);
            stats.SetCategories(only);
        }
        return WarningStatus(StatusCode::kOneLevelCompare);
    }
    const int n = K * (K - 1), mult = n / 2;
    if (pair < 0 || pair >= n) return RangeError(StatusCode::kTestIndex, pair, n - 1);
    MCEmmeansPairInput in;
    PairInput(in);
    in.fK = K;
    const double crit = fpTester->ComputeAdjPercentile(in.fMethod, in.fAlpha, mult, fErrorDF);
    int i = 0, j = 0;
    ComputePairIndices(pair, K, i, j);
    compared.clear();
    fpMulti->PushCompareFactors(i, compared);
    fpMulti->GetTableFactors(spec, test, fixed);
    if (!IsStepDown(in.fMethod)) {
        const MCStatus rs = ComputeCombinationPair(in, pair, crit, *fpMulti, stats);
        return rs.IsOK() ? st : rs;
    }
    // Step-down methods adjust the whole family at once: computed at pair 0
    // (or for a new test) and read from the cache afterwards.
    if (pair == 0 || !fpPairs->Holds(spec, test)) {
        const MCStatus ps = ComputeCombinationPairs(in, crit, *fpMulti, *fpPairs);
        if (ps.GetErrorCode() == StatusCode::kCancelled) fStatus = ps;
        if (ps.IsError()) return ps;
        fpPairs->fSpec = spec;
        fpPairs->fTest = test;
    }
    stats = fpPairs->fvStats[Ix(pair)];
    const MCStatus& qs = fpPairs->fvStatus[Ix(pair)];
    return qs.IsOK() ? st : qs;
}

MCStatus MCMarginals::GetPairwiseOverallTest(int spec, int test, FixedLevels& fixed,
                                             MCTestStats& overall) {
    return GuardAllocation([&]() -> MCStatus {
        MCStatus st = CheckSpec(spec);
        if (st.IsError()) return st;
        st = SetCurrentSpec(spec);
        if (st.IsError()) return st;
        const MCStatus sel = SelectTest(test);
        if (sel.IsError()) return sel;
        const int k = fTest.GetNCompare();
        FillFixed(fixed);
        MCRectMatrix C;
        MCStatus cs = MCContrasts::ComputeSimpleContrast(k, 0, C);
        if (cs.IsError()) return cs;
        const MCRectMatrix A = EmmeansTestRows(fpLMatrix->fL, fTest.fFirstRow, k);
        cs = TestEmmeansOverall(*fpTester, fvEstimates, fpRequests->Get(spec).GetEmmScaleType(), C,
                                A, overall);
        return cs.IsOK() ? st : cs;
    });
}

void MCMarginals::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCMarginals display start");
    DisplayI("Status", fStatus.GetErrorCode());
    DisplayI("Specifications", fpRequests ? fpRequests->Size() : 0);
    DisplayB("Complete design", !fpRequests || fpRequests->IsComplete());
    DisplayI("Current specification", fpLMatrix ? fpLMatrix->fSpec : -1);
    DisplayI("Number of tests", fpLMatrix ? fpLMatrix->fNTests : 0);
    DisplayI("Compare levels", fTest.GetNCompare());
    DisplayD("Error df", fErrorDF);
    DisplayD("Critical value", fCriticalValue);
    DisplayI("P-value adjustment", fPAdjust);
    if (fpLMatrix && fpLMatrix->fSpec >= 0) fpLMatrix->fL.Display();
    DisplayText("MCMarginals display end");
}

}  // namespace MCMath_850
