#include "settings/MCRegrParameterStats.h"

#include <cmath>
#include <string>

#include "companion/MCDisplay.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

double MCRegrParameterStats::GetSqrtDeff() const {
    if (MCMV::IsMissing(fDeff) || std::isnan(fDeff) || fDeff < 0.0) return MCMV::Missing();
    return std::sqrt(fDeff);
}

void MCRegrParameterStats::Display() const {
    using namespace MCDisplay_850;
    DisplayText("Begin Parameter Stats for regression parameter " + std::to_string(fParamIndex));
    DisplayD("Parameter estimate", fEstimate);
    DisplayB("Redundant?", fbRedundant);
    auto optional = [](const char* label, double v) {
        if (!MCMV::IsMissing(v)) DisplayD(label, v);
    };
    optional("Standard error", fStdError);
    optional("Conf. Interval Lower Bound", fCILower);
    optional("Conf. Interval Upper Bound", fCIUpper);
    optional("T test", fTTest);
    DisplayD("Degrees of freedom", fDF);
    optional("Sig", fSig);
    if (fEffectIndex >= 0) DisplayI("Model effect index", fEffectIndex);
    optional("Chi Square Stat", fChiSquare);
    if (fbExpCI) {
        DisplayD("Exp Conf Interval Lower", fExpCILower);
        DisplayD("Exp Conf Interval Upper", fExpCIUpper);
    }
    optional("Z test", fZTest);
    optional("Effect Size", fEffectSize);
    optional("Lower CI for Effect Size", fEffectSizeCILower);
    optional("Upper CI for Effect Size", fEffectSizeCIUpper);
}

}  // namespace MCMath_850
