#include "marginals/MCMultiCompareMarginals.h"

#include <algorithm>

#include "companion/MCAllocationGuard.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "marginals/MCMarginals.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

bool MCMultiCompareMarginals::GetEmmeansFactorIndices(int spec, std::vector<int>& out, bool) {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        out.clear();
        fvTestFactors.clear();
        fvEMTestFactors.clear();
        const MCEmmeansSpec* s = fMarginals.GetSpec(spec);
        if (s == nullptr) return false;
        const std::vector<int>& factors = s->GetFactors();
        const std::vector<int>& cmp = s->GetCompareFactors();
        for (int f : factors)
            if (GetPos(cmp, f) < 0) out.push_back(fMarginals.GetFactorPosition(f));
        for (int c : cmp) {
            const int at = GetPos(factors, c);
            if (at < 0) return false;
            out.push_back(fMarginals.GetFactorPosition(c));
            fvTestFactors.push_back(fMarginals.GetFactorPosition(c));
            fvEMTestFactors.push_back(at);
        }
        return true;
    });
}

MCStatus MCMultiCompareMarginals::DoAfterCompleteLMatrix(int spec) {
    return GuardAllocation([&]() -> MCStatus {
        fvTestCats.clear();
        if (!fMarginals.GetPWCombinations(spec, fvTestCats))
            return ErrorStatus(StatusCode::kMissingInput);
        return MCStatus();
    });
}

MCStatus MCMultiCompareMarginals::DoAfterSetEmmeansTest(int test) {
    return GuardAllocation([&]() -> MCStatus {
        const MCEmmeansTest& current = fMarginals.GetCurrentTest();
        fvTestCats.clear();
        if (current.fTest != test) return ErrorStatus(StatusCode::kMissingInput);
        for (const std::vector<int>& levels : current.fvRowLevels) {
            std::vector<int> combination;
            for (int at : fvEMTestFactors) combination.push_back(levels[Ix(at)]);
            fvTestCats.push_back(combination);
        }
        return MCStatus();
    });
}

void MCMultiCompareMarginals::GetTableFactors(int spec, int test, FixedLevels& out) const {
    out.clear();
    (void)test;
    const MCEmmeansSpec* s = fMarginals.GetSpec(spec);
    const MCEmmeansTest& current = fMarginals.GetCurrentTest();
    if (s == nullptr || current.fvRowLevels.empty()) return;
    const std::vector<int>& levels = current.fvRowLevels.front();
    for (std::size_t i = 0; i < s->GetFactors().size(); ++i)
        if (GetPos(fvEMTestFactors, static_cast<int>(i)) < 0)
            out.emplace_back(s->GetFactors()[i], levels[i]);
}

int MCMultiCompareMarginals::GetNPairwiseEmmeansTests(int spec, int test) {
    return fMarginals.GetNPairwiseEmmeansTests(spec, test);
}

MCStatus MCMultiCompareMarginals::GetPairwiseEmmeansTests(int spec, int test, int pair,
                                                          FixedLevels& fixed,
                                                          std::vector<int>& compared,
                                                          MCEmmeansStats& stats) {
    return fMarginals.GetPairwiseEmmeansTests(spec, test, pair, fixed, compared, stats);
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
    const std::vector<int>& c = fvTestCats[Ix(combination)];
    out.insert(out.end(), c.begin(), c.end());
}

bool MCMultiCompareMarginals::GetNRowsFromAMatrix(const MCRectMatrix& A,
                                                  const std::vector<int>& offsets,
                                                  MCRectMatrix& out, int first) {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        out.Resize(static_cast<int>(offsets.size()), A.GetNCols());
        for (std::size_t t = 0; t < offsets.size(); ++t) {
            const int r = first + offsets[t];
            if (r < 0 || r >= A.GetNRows()) return false;
            for (int j = 0; j < A.GetNCols(); ++j)
                out.SetElem(static_cast<int>(t), j, A.GetElem(r, j));
        }
        return true;
    });
}

bool MCMultiCompareMarginals::SubtractPairMatrix(const MCRectMatrix& A, MCRectMatrix& out) {
    return GuardAllocationOr<bool>(false, [&]() -> bool {
        if (A.GetNRows() < 2) return false;
        out.Resize(1, A.GetNCols());
        for (int j = 0; j < A.GetNCols(); ++j) out.SetElem(0, j, A.GetElem(0, j) - A.GetElem(1, j));
        return true;
    });
}

}  // namespace MCMath_850
