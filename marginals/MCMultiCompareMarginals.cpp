#include "marginals/MCMultiCompareMarginals.h"

#include <algorithm>
#include <new>

#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "marginals/MCMarginals.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

bool MCMultiCompareMarginals::GetEmmeansFactorIndices(int spec, std::vector<int>& out, bool) {
    out.clear();
    fvTestFactors.clear();
    fvEMTestFactors.clear();
    const MCEmmeansSpec& s = fMarginals.fvSpecs[static_cast<std::size_t>(spec)];
    const std::vector<int>& factors = s.GetFactors();
    const std::vector<int>& cmp = s.GetCompareFactors();
    auto position = [&](int f) { return fMarginals.fvFactorPos[static_cast<std::size_t>(f)]; };
    for (int f : factors)
        if (GetPos(cmp, f) < 0) out.push_back(position(f));
    for (int c : cmp) {
        const int at = GetPos(factors, c);
        if (at < 0) return false;
        out.push_back(position(c));
        fvTestFactors.push_back(position(c));
        fvEMTestFactors.push_back(at);
    }
    return true;
}

MCStatus MCMultiCompareMarginals::DoAfterCompleteLMatrix(int spec) {
    MCStatus st = fMarginals.fvSpecStatus[static_cast<std::size_t>(spec)];
    if (st.IsError()) return st;
    fvTestCats.clear();
    if (!fMarginals.GetPWCombinations(spec, fvTestCats))
        return ErrorStatus(StatusCode::kMissingInput);
    const int K = GetTestCatsSize();
    fMarginals.fNCompare = K;
    fMarginals.fNTests = K > 1 ? fMarginals.fpL->GetNRows() / K : 0;
    return st;
}

void MCMultiCompareMarginals::GetTableFactors(int spec, int test, FixedLevels& out) const {
    out.clear();
    const MCEmmeansSpec& s = fMarginals.fvSpecs[static_cast<std::size_t>(spec)];
    (void)test;
    const std::size_t row = static_cast<std::size_t>(fMarginals.fFirstRow);
    if (row >= fMarginals.fvRowCats.size()) return;
    for (std::size_t i = 0; i < s.GetFactors().size(); ++i)
        if (GetPos(fvEMTestFactors, static_cast<int>(i)) < 0)
            out.emplace_back(s.GetFactors()[i], fMarginals.fvRowCats[row][i]);
}

int MCMultiCompareMarginals::GetNPairwiseEmmeansTests(int spec, int test) {
    return fMarginals.GetNPairwiseEmmeansTests(spec, test);
}

MCStatus MCMultiCompareMarginals::GetPairwiseEmmeansTests(int spec, int test, int pair,
                                                          FixedLevels& fixed,
                                                          std::vector<int>& compared,
                                                          MCEmmeansStats& stats) {
    MCMarginals& m = fMarginals;
    const int nSpecs = static_cast<int>(m.fvSpecs.size());
    if (spec < 0 || spec >= nSpecs) {
        MCStatus e = ErrorStatus(StatusCode::kSpecIndex);
        e.SetDiscreteDatum(0, spec);
        e.SetDiscreteDatum(1, nSpecs - 1);
        return e;
    }
    MCStatus st = m.SetCurrentSpec(spec);
    if (st.IsError()) return st;
    MCStatus sel = m.SelectTest(test);
    if (sel.IsError()) return sel;
    if (!sel.IsOK() && st.IsOK()) st = sel;
    const int K = GetTestCatsSize();
    if (K < 2) {
        stats.Reset();
        if (K == 1) stats.SetCategories(fvTestCats[0]);
        return WarningStatus(StatusCode::kOneLevelCompare);
    }
    const int n = K * (K - 1), mult = n / 2;
    if (pair < 0 || pair >= n) {
        MCStatus e = ErrorStatus(StatusCode::kTestIndex);
        e.SetDiscreteDatum(0, pair);
        e.SetDiscreteDatum(1, n - 1);
        return e;
    }
    const MCEmmeansSpec& s = m.fvSpecs[static_cast<std::size_t>(spec)];
    const double alpha = 1.0 - m.fSettings.GetConfidenceLevel();
    const double crit = m.fpTester->ComputeAdjPercentile(s.GetPAdjust(), alpha, mult, m.fErrorDF);
    std::pair<int, int> ij;
    ComputePairIndices(pair, K, ij);
    compared.clear();
    PushCompareFactors(ij.first, compared);
    GetTableFactors(spec, test, fixed);
    const MCConst::MCPAdjustMethod method = s.GetPAdjust();
    if (method != MCConst::PADJ_SEQ_BONFERRONI && method != MCConst::PADJ_SEQ_SIDAK) {
        const MCStatus rs = ComputePair(spec, pair, K, crit, stats);
        return rs.IsOK() ? st : rs;
    }
    // Step-down methods adjust the whole family at once: computed at pair 0
    // (or for a new test) and read from the cache afterwards.
    if (pair == 0 || fCacheSpec != spec || fCacheTest != test) {
        fCacheSpec = -1;
        try {
            fvPairs.assign(static_cast<std::size_t>(n), MCEmmeansStats());
            fvPairStatus.assign(static_cast<std::size_t>(n), MCStatus());
        } catch (const std::bad_alloc&) {
            return ErrorStatus(StatusCode::kAllocationFailed);
        }
        std::vector<int> members;
        for (int q = 0; q < n; ++q) {
            if (m.fCancel.WillCancel()) return m.fStatus = ErrorStatus(StatusCode::kCancelled);
            fvPairStatus[static_cast<std::size_t>(q)] =
                ComputePair(spec, q, K, crit, fvPairs[static_cast<std::size_t>(q)]);
            if (fvPairStatus[static_cast<std::size_t>(q)].IsError())
                return fvPairStatus[static_cast<std::size_t>(q)];
            std::pair<int, int> qij;
            ComputePairIndices(q, K, qij);
            if (qij.first < qij.second) members.push_back(q);
        }
        MCEmmeansStats::StepDown(method, m.fTestType, alpha, m.fErrorDF, mult, fvPairs, members);
        for (int q = 0; q < n; ++q) {
            std::pair<int, int> qij;
            ComputePairIndices(q, K, qij);
            if (qij.first < qij.second) continue;
            const MCEmmeansStats& o =
                fvPairs[static_cast<std::size_t>(qij.second * (K - 1) + qij.first - 1)];
            MCEmmeansStats& out = fvPairs[static_cast<std::size_t>(q)];
            out.SetSignificance(o.GetSignificance());
            if (!MCMV::IsMissing(o.GetLower())) {
                out.SetLower(-o.GetUpper());
                out.SetUpper(-o.GetLower());
            }
        }
        fCacheSpec = spec;
        fCacheTest = test;
    }
    stats = fvPairs[static_cast<std::size_t>(pair)];
    const MCStatus& qs = fvPairStatus[static_cast<std::size_t>(pair)];
    return qs.IsOK() ? st : qs;
}

MCStatus MCMultiCompareMarginals::ComputePair(int spec, int pair, int K, double crit,
                                              MCEmmeansStats& stats) const {
    MCMarginals& m = fMarginals;
    const MCEmmeansSpec& s = m.fvSpecs[static_cast<std::size_t>(spec)];
    const int mult = K * (K - 1) / 2;
    std::pair<int, int> ij;
    ComputePairIndices(pair, K, ij);
    MCStatus rs;
    MCTestStats rec;
    try {
        MCRectMatrix A, d;
        if (!GetNRowsFromAMatrix(*m.fpL, {ij.first, ij.second}, A, m.fFirstRow))
            return ErrorStatus(StatusCode::kMissingInput);
        std::vector<MCTestStats> indiv;
        MCTestStats overall;
        if (s.GetEmmScaleType() == MCConst::EMM_SCALE_TRANSFORMED) {
            SubtractPairMatrix(A, d);
            rs = m.fpTester->ComputeOvAndIndTests(d, {0.0}, indiv, overall, mult);
        } else {
            MCRectMatrix L(1, 2);
            L.SetElem(0, 0, 1.0);
            L.SetElem(0, 1, -1.0);
            rs =
                m.fpTester->ComputeOriginalOvAndIndTests(A, m.fvEstimates, L, indiv, overall, mult);
        }
        if (rs.IsError()) return rs;
        if (!indiv.empty()) rec = indiv[0];
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    stats.Reset();
    stats.SetMean(rec.GetContrastEstimate());
    stats.SetStandardError(rec.GetStandardError());
    stats.SetDF(rec.GetDF2());
    const MCConst::MCPAdjustMethod method = s.GetPAdjust();
    const bool stepDown =
        method == MCConst::PADJ_SEQ_BONFERRONI || method == MCConst::PADJ_SEQ_SIDAK;
    stats.SetSignificance(stepDown ? rec.GetSig() : rec.GetAdjSig());
    PushCompareFactors(ij.second, stats.GetCategories());
    if (!MCMV::IsMissing(crit) && !MCMV::IsMissing(stats.GetStandardError())) {
        stats.SetLower(stats.GetMean() - crit * stats.GetStandardError());
        stats.SetUpper(stats.GetMean() + crit * stats.GetStandardError());
    }
    return rs;
}

void MCMultiCompareMarginals::ComputePairIndices(int pair, int k, std::pair<int, int>& out) {
    MCMarginals::ComputePairIndices(pair, k, out.first, out.second);
}

int MCMultiCompareMarginals::GetPos(const std::vector<int>& list, int value) {
    auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void MCMultiCompareMarginals::PushCompareFactors(int combination, std::vector<int>& out) const {
    if (combination < 0 || combination >= GetTestCatsSize()) return;
    const std::vector<int>& c = fvTestCats[static_cast<std::size_t>(combination)];
    out.insert(out.end(), c.begin(), c.end());
}

bool MCMultiCompareMarginals::GetNRowsFromAMatrix(const MCRectMatrix& A,
                                                  const std::vector<int>& offsets,
                                                  MCRectMatrix& out, int first) {
    out.Resize(static_cast<int>(offsets.size()), A.GetNCols());
    for (std::size_t t = 0; t < offsets.size(); ++t) {
        const int r = first + offsets[t];
        if (r < 0 || r >= A.GetNRows()) return false;
        for (int j = 0; j < A.GetNCols(); ++j) out.SetElem(static_cast<int>(t), j, A.GetElem(r, j));
    }
    return true;
}

bool MCMultiCompareMarginals::SubtractPairMatrix(const MCRectMatrix& A, MCRectMatrix& out) {
    if (A.GetNRows() < 2) return false;
    out.Resize(1, A.GetNCols());
    for (int j = 0; j < A.GetNCols(); ++j) out.SetElem(0, j, A.GetElem(0, j) - A.GetElem(1, j));
    return true;
}

}  // namespace MCMath_850
