#include "marginals/MCEmmeansStats.h"

#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "hypothesis/MCPAdjust.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

void MCEmmeansStats::Reset() {
    fvCategories.clear();
    fMean = MCMV::Missing();
    fStandardError = MCMV::Missing();
    fLower = MCMV::Missing();
    fUpper = MCMV::Missing();
    fSignificance = MCMV::Missing();
    fDF = MCMV::Missing();
    fTStatistics = MCMV::Missing();
}

bool MCEmmeansStats::StepDown(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                              double alpha, double errorDf, int k,
                              std::vector<MCEmmeansStats>& rows, const std::vector<int>& members) {
    if (!MCPAdjust::IsStepDown(method)) return false;
    std::vector<MCStepDownItem> items;
    std::vector<int> index;
    try {
        items.reserve(members.size());
        index.reserve(members.size());
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    for (const int r : members) {
        if (r < 0 || r >= static_cast<int>(rows.size())) continue;
        MCStepDownItem item;
        item.fSig = rows[r].fSignificance;
        item.fEstimate = rows[r].fMean;
        item.fStdErr = rows[r].fStandardError;
        item.fDF = rows[r].fDF;
        items.push_back(item);
        index.push_back(r);
    }
    if (!MCPAdjust::StepDown(method, testType, alpha, errorDf, k, items, true)) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].fbInFamily) continue;
        MCEmmeansStats& row = rows[index[i]];
        row.fSignificance = items[i].fAdjSig;
        row.fLower = items[i].fLower;
        row.fUpper = items[i].fUpper;
    }
    return true;
}

void MCEmmeansStats::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCEmmeansStats display start");
    DisplayIV("Categories", fvCategories);
    DisplayD("Mean", fMean);
    DisplayD("Standard error", fStandardError);
    DisplayD("Lower", fLower);
    DisplayD("Upper", fUpper);
    DisplayD("Significance", fSignificance);
    DisplayD("Degree of freedom", fDF);
    DisplayD("T statistics ", fTStatistics);
    DisplayText("MCEmmeansStats display end");
}

}  // namespace MCMath_850
