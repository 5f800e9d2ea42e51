#include "settings/MCLogRegSettings.h"

#include "companion/MCDisplay.h"

namespace MCMath_850 {

MCCommon_850::MCStatus MCLogRegSettings::IsValidSettings(bool allowEmpty) const {
    return MCRegSettings::IsValidSettings(allowEmpty);
}

bool MCLogRegSettings::SetDependentRefCat(int refCat, int nCategs) {
    if (nCategs < 2 || refCat < -2 || refCat >= nCategs) return false;
    fRefCateg = refCat;
    fNDepCategs = nCategs;
    return true;
}

bool MCLogRegSettings::SetIterationFrequency(int n) {
    if (n < 1) return false;
    fIterationFrequency = n;
    return true;
}

bool MCLogRegSettings::SetLLConCriterion(double c) {
    if (!(c >= 0.0)) return false;  // also refuses NaN
    fLLCriterion = c;
    return true;
}

bool MCLogRegSettings::SetParamEstConCriterion(double c) {
    if (!(c >= 0.0)) return false;
    fParamCriterion = c;
    return true;
}

bool MCLogRegSettings::SetMaxIterations(int n) {
    if (n < 0) return false;
    fMaxIterations = n;
    return true;
}

bool MCLogRegSettings::SetMaxStepHalvingValue(int n) {
    if (n < 1) return false;
    fMaxStepHalving = n;
    return true;
}

bool MCLogRegSettings::SetStartingIteration(int n) {
    if (n < 0) return false;
    fStartingIteration = n;
    return true;
}

void MCLogRegSettings::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCLogRegSettings display start");
    MCRegSettings::Display();
    DisplayI("N of Dependent Categories", fNDepCategs);
    DisplayI("Dependent Var reference Category", fRefCateg);
    DisplayD("Log-Likelihood Function Convergence Criterion", fLLCriterion);
    DisplayD("Parameter Estimates Convergence Criterion", fParamCriterion);
    DisplayI("Maximum number of Iteration", fMaxIterations);
    DisplayI("Maximum Step-Halving Allowed", fMaxStepHalving);
    DisplayI("Staring Iteration", fStartingIteration);
    DisplayB("Log-Likelihood Function absolute change", fbLLAbsolute);
    DisplayB("Parameter Estimates absolute change", fbParamAbsolute);
    DisplayB("Use pattern tabulator", fbUsePatterns);
    DisplayI("Show Iteration history frequency", fIterationFrequency);
    DisplayText("MCLogRegSettings display end");
}

}  // namespace MCMath_850
