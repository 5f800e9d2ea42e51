#pragma once
#include "companion/MCExport.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// The description of a multinomial logistic model: the base settings plus
// the dependent's number of categories and reference category, the
// convergence criteria and limits of the iterative estimation, the
// iteration-history frequency and the choice of data handler.
//
// Every setter keeps its field in range (refusing, with the object
// unchanged, what it cannot store), so validation needs only the base rules.
class MCREG_API MCLogRegSettings : public MCRegSettings {
public:
    MCLogRegSettings() = default;
    MCLogRegSettings(const MCLogRegSettings&) = default;
    MCLogRegSettings& operator=(const MCLogRegSettings&) = default;
    ~MCLogRegSettings() override = default;

    // 1: multinomial logistic model.
    int GetModelType() const override { return 1; }
    // The base rules only (301, 302).
    MCCommon_850::MCStatus IsValidSettings(bool allowEmpty) const override;
    void Display() const override;

    // refCat: -1 the highest category with a positive count, -2 the lowest,
    // 0 or more a category index. Refused when nCategs < 2, refCat < -2 or
    // refCat >= nCategs.
    bool SetDependentRefCat(int refCat, int nCategs);
    // Refused when n < 1.
    bool SetIterationFrequency(int n);
    // Refused unless c >= 0 (NaN refused); 0 switches the criterion off.
    bool SetLLConCriterion(double c);
    bool SetParamEstConCriterion(double c);
    // Refused when n < 0.
    bool SetMaxIterations(int n);
    // Refused when n < 1.
    bool SetMaxStepHalvingValue(int n);
    // Refused when n < 0; 0 never checks for separation.
    bool SetStartingIteration(int n);
    // true: absolute change; false: relative change.
    void SetLLFuncChange(bool absolute) { fbLLAbsolute = absolute; }
    void SetParamEstChange(bool absolute) { fbParamAbsolute = absolute; }
    // true: tabulate covariate patterns; false: read the records every pass.
    void SetUsePatternTabulator(bool on) { fbUsePatterns = on; }

    int GetDependentNCategs() const { return fNDepCategs; }
    int GetDependentRefCateg() const { return fRefCateg; }
    double GetLLConCriterion() const { return fLLCriterion; }
    double GetParamEstConCriterion() const { return fParamCriterion; }
    int GetMaxIterations() const { return fMaxIterations; }
    int GetMaxStepHalvingValue() const { return fMaxStepHalving; }
    int GetStartingIteration() const { return fStartingIteration; }
    bool GetLLFuncChange() const { return fbLLAbsolute; }
    bool GetParamEstChange() const { return fbParamAbsolute; }
    bool GetUsePatternTabulator() const { return fbUsePatterns; }
    int GetIterationFrequency() const { return fIterationFrequency; }

private:
    int fNDepCategs = 2;
    int fRefCateg = -1;
    double fLLCriterion = 0.0;
    double fParamCriterion = 1e-6;
    int fMaxIterations = 100;
    int fMaxStepHalving = 5;
    int fStartingIteration = 20;
    bool fbLLAbsolute = false;
    bool fbParamAbsolute = false;
    // The record-by-record handler unless the host asks for patterns.
    bool fbUsePatterns = false;
    int fIterationFrequency = 1;
};

}  // namespace MCMath_850
