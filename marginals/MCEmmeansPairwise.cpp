#include "marginals/MCEmmeansPairwise.h"

#include <new>

#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCModelTestsDetail.h"
#include "marginals/MCEmmeansSparseRows.h"
#include "marginals/MCMarginals.h"
#include "marginals/MCMultiCompareMarginals.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// The two rows of L of items i and j.
MCRectMatrix PairRows(const MCEmmeansPairInput& in, int i, int j) {
    MCRectMatrix M(2, in.fpL->GetNCols());
    for (int c = 0; c < in.fpL->GetNCols(); ++c) {
        M.SetElem(0, c, in.fpL->GetElem(in.fFirstRow + i, c));
        M.SetElem(1, c, in.fpL->GetElem(in.fFirstRow + j, c));
    }
    return M;
}

// The contrast (1, -1) of two means.
MCRectMatrix Difference() {
    MCRectMatrix L(1, 2);
    L.SetElem(0, 0, 1.0);
    L.SetElem(0, 1, -1.0);
    return L;
}

// Step-down adjustment of the pairs i < j, then each pair j > i takes the
// significance and the mirrored interval of its partner.
MCStatus StepDownFamily(const MCEmmeansPairInput& in, std::vector<MCEmmeansStats>& pairs,
                        MCQuantileCache& quantiles) {
    const int k = in.fK, n = k * (k - 1), m = n / 2;
    std::vector<int> members;
    std::vector<MCStepDownItem> items;
    members.reserve(Ix(m));
    items.reserve(Ix(m));
    for (int q = 0; q < n; ++q) {
        int i = 0, j = 0;
        MCMarginals::ComputePairIndices(q, k, i, j);
        if (i > j) continue;
        const MCEmmeansStats& row = pairs[Ix(q)];
        MCStepDownItem item;
        item.fSig = row.GetSignificance();
        item.fEstimate = row.GetMean();
        item.fStdErr = row.GetStandardError();
        item.fDF = row.GetDF();
        items.push_back(item);
        members.push_back(q);
    }
    // Only out of memory can stop it: the method is a step-down one.
    if (!MCPAdjust::StepDown(in.fMethod, in.fTestType, in.fAlpha, in.fErrorDF, m, items, true,
                             &quantiles))
        return ErrorStatus(StatusCode::kAllocationFailed);
    for (std::size_t a = 0; a < items.size(); ++a) {
        if (!items[a].fbInFamily) continue;
        MCEmmeansStats& row = pairs[Ix(members[a])];
        row.SetSignificance(items[a].fAdjSig);
        row.SetLower(items[a].fLower);
        row.SetUpper(items[a].fUpper);
    }
    for (int q = 0; q < n; ++q) {
        int i = 0, j = 0;
        MCMarginals::ComputePairIndices(q, k, i, j);
        if (i < j) continue;
        const MCEmmeansStats& o = pairs[Ix(j * (k - 1) + i - 1)];
        MCEmmeansStats& out = pairs[Ix(q)];
        out.SetSignificance(o.GetSignificance());
        if (!MCMV::IsMissing(o.GetLower())) {
            out.SetLower(-o.GetUpper());
            out.SetUpper(-o.GetLower());
        }
    }
    return MCStatus();
}

// -x, the missing value kept.
double Negated(double x) {
    return MCMV::IsMissing(x) ? x : -x;
}

// The pair b - a from the pair a - b (compared with level), to the bit what
// testing its own row gives: rounding is symmetric about 0. A t statistic
// changes sign, a chi-square does not.
void Mirror(const MCEmmeansStats& from, int level, bool signedStatistic, MCEmmeansStats& out) {
    out = from;
    out.GetCategories().assign(1, level);
    out.SetMean(Negated(from.GetMean()));
    if (signedStatistic) out.SetTStatistics(Negated(from.GetTStatistics()));
    out.SetLower(Negated(from.GetUpper()));
    out.SetUpper(Negated(from.GetLower()));
}

}  // namespace

bool IsStepDown(MCConst::MCPAdjustMethod method) {
    return method == MCConst::PADJ_SEQ_BONFERRONI || method == MCConst::PADJ_SEQ_SIDAK;
}

MCStatus ComputeLevelPairs(const MCEmmeansPairInput& in, const std::vector<int>& levels,
                           MCEmmeansPairs& out) {
    const int k = in.fK, n = k * (k - 1), m = n / 2;
    out.fvStats.assign(Ix(n), MCEmmeansStats());
    out.fvStatus.assign(Ix(n), MCStatus());
    // On the linear predictor a pair is one sparse row, tested from its
    // estimate and variance; a Satterthwaite df needs the whole row.
    const bool sparse = in.fScale == MCConst::EMM_SCALE_TRANSFORMED && !in.fbRowDF;
    const bool signedStatistic = ModelTestsDetail::IsFTest(in.fpTester->GetTestType());
    MCEmmeansSparseRows rows;
    std::vector<int> idx;
    std::vector<double> val;
    double crit = 0.0;
    if (sparse) {
        rows.Load(*in.fpL, in.fFirstRow, k);
        crit = in.fpTester->ComputeIntervalCritical(m, in.fpTester->GetDF());
    }
    const MCSymMatrix& V = in.fpTester->GetCovariance();
    for (int q = 0; q < n; ++q) {
        if (in.fpCancel->WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        int i = 0, j = 0;
        MCMarginals::ComputePairIndices(q, k, i, j);
        if (sparse && i > j) {
            // Its partner j - i, computed before it, tested the negated row:
            // the same variance and p-value, every signed figure negated.
            Mirror(out.fvStats[Ix(j * (k - 1) + i - 1)], levels[Ix(j)], signedStatistic,
                   out.fvStats[Ix(q)]);
            continue;
        }
        MCTestStats rec;
        if (sparse) {
            rows.Difference(i, j, idx, val);
            in.fpTester->ComputeIndivTest(MCEmmeansSparseRows::Dot(idx, val, *in.fpEstimates),
                                          MCEmmeansSparseRows::Variance(V, idx, val),
                                          in.fpTester->GetDF(), 0.0, m, rec, &crit);
        } else if (in.fScale == MCConst::EMM_SCALE_TRANSFORMED) {
            const MCRectMatrix M = PairRows(in, i, j);
            MCRectMatrix d(1, M.GetNCols());
            for (int c = 0; c < M.GetNCols(); ++c)
                d.SetElem(0, c, M.GetElem(0, c) - M.GetElem(1, c));
            in.fpTester->ComputeIndivTest(d, 0, 0.0, m, rec, true);
        } else {
            std::vector<MCTestStats> ind;
            MCTestStats ov;
            out.fvStatus[Ix(q)] = in.fpTester->ComputeOriginalOvAndIndTests(
                PairRows(in, i, j), *in.fpEstimates, Difference(), ind, ov, m);
            if (!ind.empty()) rec = ind[0];
        }
        MCEmmeansStats& pair = out.fvStats[Ix(q)];
        pair.GetCategories().assign(1, levels[Ix(j)]);
        pair.SetMean(rec.GetContrastEstimate());
        pair.SetStandardError(rec.GetStandardError());
        pair.SetDF(rec.GetDF2());
        pair.SetTStatistics(rec.GetWald());
        pair.SetLower(rec.GetLowerConfidenceInterval());
        pair.SetUpper(rec.GetUpperConfidenceInterval());
        pair.SetSignificance(IsStepDown(in.fMethod) ? rec.GetSig() : rec.GetAdjSig());
    }
    return IsStepDown(in.fMethod) ? StepDownFamily(in, out.fvStats, out.fQuantiles) : MCStatus();
}

MCStatus ComputeCombinationPair(const MCEmmeansPairInput& in, int pair, double crit,
                                const MCMultiCompareMarginals& multi, MCEmmeansStats& stats) {
    const int K = in.fK, mult = K * (K - 1) / 2;
    std::pair<int, int> ij;
    MCMultiCompareMarginals::ComputePairIndices(pair, K, ij);
    MCStatus rs;
    MCTestStats rec;
    MCRectMatrix A, d;
    if (!MCMultiCompareMarginals::GetNRowsFromAMatrix(*in.fpL, {ij.first, ij.second}, A,
                                                      in.fFirstRow))
        return ErrorStatus(StatusCode::kMissingInput);
    std::vector<MCTestStats> indiv;
    MCTestStats overall;
    if (in.fScale == MCConst::EMM_SCALE_TRANSFORMED) {
        MCMultiCompareMarginals::SubtractPairMatrix(A, d);
        rs = in.fpTester->ComputeOvAndIndTests(d, {0.0}, indiv, overall, mult);
    } else {
        rs = in.fpTester->ComputeOriginalOvAndIndTests(A, *in.fpEstimates, Difference(), indiv,
                                                       overall, mult);
    }
    if (rs.IsError()) return rs;
    if (!indiv.empty()) rec = indiv[0];
    stats.Reset();
    stats.SetMean(rec.GetContrastEstimate());
    stats.SetStandardError(rec.GetStandardError());
    stats.SetDF(rec.GetDF2());
    stats.SetSignificance(IsStepDown(in.fMethod) ? rec.GetSig() : rec.GetAdjSig());
    multi.PushCompareFactors(ij.second, stats.GetCategories());
    if (!MCMV::IsMissing(crit) && !MCMV::IsMissing(stats.GetStandardError())) {
        stats.SetLower(stats.GetMean() - crit * stats.GetStandardError());
        stats.SetUpper(stats.GetMean() + crit * stats.GetStandardError());
    }
    return rs;
}

MCStatus ComputeCombinationPairs(const MCEmmeansPairInput& in, double crit,
                                 const MCMultiCompareMarginals& multi, MCEmmeansPairs& out) {
    const int K = in.fK, n = K * (K - 1);
    out.Forget();
    out.fvStats.assign(Ix(n), MCEmmeansStats());
    out.fvStatus.assign(Ix(n), MCStatus());
    for (int q = 0; q < n; ++q) {
        if (in.fpCancel->WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        MCStatus& qs = out.fvStatus[Ix(q)];
        qs = ComputeCombinationPair(in, q, crit, multi, out.fvStats[Ix(q)]);
        if (qs.IsError()) return qs;
    }
    return StepDownFamily(in, out.fvStats, out.fQuantiles);
}

}  // namespace MCMath_850
