#include "hypothesis/MCTestStats.h"

#include "companion/MCDisplay.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

void MCTestStats::Reset(bool resetAll) {
    if (resetAll) {
        fTestType = MCConst::TEST_CHISQUARE;
        fPAdjMethod = MCConst::PADJ_LSD;
    }
    // df is a count of rows actually tested, so "none yet" is 0, not missing.
    fDF = 0.0;
    fDF2 = MCMV::Missing();
    fWald = MCMV::Missing();
    fSig = MCMV::Missing();
    fAdjSig = MCMV::Missing();
    fContrastEstimate = MCMV::Missing();
    fStandardError = MCMV::Missing();
    fbUsedInOverall = true;
    fNNonRedunRows = 0;
    fLower = MCMV::Missing();
    fUpper = MCMV::Missing();
}

void MCTestStats::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCTestStats display start");
    DisplayC("Test type", fTestType);
    DisplayC("p-value adjustment method", fPAdjMethod);
    DisplayD("df", fDF);
    DisplayD("df2", fDF2);
    DisplayD("Wald", fWald);
    DisplayD("Sig", fSig);
    DisplayD("Adjusted Sig", fAdjSig);
    DisplayD("Contrast Estimate", fContrastEstimate);
    DisplayD("Standard Error", fStandardError);
    DisplayB("Used in Overall", fbUsedInOverall);
    DisplayD("Lower confidence interval", fLower);
    DisplayD("Upper confidence interval", fUpper);
    DisplayText("MCTestStats display end");
}

}  // namespace MCMath_850
