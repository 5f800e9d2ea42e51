#pragma once
#include <vector>

#include "companion/MCStatus.h"
#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

// A main-effects design for data whose factors are already coded 0 .. K-1:
// an optional intercept, then every factor as one effect with exactly K
// parameters (one per code, observed or not), every covariate as one effect
// with one parameter. Parameter indices are computed as first index + code,
// without a data pass or hash table.
//
// The row operations write scratch members: one object serves one thread
// at a time.
class MCFastDesignMatrix {
public:
    MCFastDesignMatrix(const std::vector<int>& factors, const std::vector<int>& categoryCounts,
                       const std::vector<int>& covariates, bool intercept);
    virtual ~MCFastDesignMatrix();

    // Appends one effect per variable: a count above 1 makes a factor
    // effect, otherwise an effect whose value is the variable itself (one
    // parameter). Nothing is added when the lists differ in length. Always
    // returns -1.
    int AddModelEffects(const std::vector<int>& vars, const std::vector<int>& counts);

    void SetDepVar(int var) { fDepVar = var; }
    int GetDepVar() const { return fDepVar; }
    int GetNParameters() const { return fNParameters; }
    int GetNEffects() const { return fNEffects; }
    // Always empty: this design keeps no effect objects.
    const std::vector<MCModelEffect>& GetModelEffects() const { return fvNoEffects; }
    bool GetParamsForEffect(int effect, int& first, int& count) const;
    const std::vector<int>& GetFactors() const { return fvFactors; }
    const std::vector<int>& GetCovariates() const { return fvCovariates; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

    // first + code for a factor effect (-1 for a code outside 0 .. count-1),
    // the single index of any other effect; -1 for an effect out of range.
    int GetEffectParameterIndex(int effect, int code) const;
    // One parameter index per effect; ok false (and -1 entries) for codes
    // out of range.
    const std::vector<int>& GetParameterIndices(const double* row, bool& ok) const;

    // x must hold the parameters (it is enlarged when shorter).
    bool ExpandRowX(const double* row, std::vector<double>& x) const;
    bool ExpandRowX(const double* row, std::vector<int>& indices,
                    std::vector<double>& values) const;
    // The row followed by the dependent value (index = parameters); false
    // while no dependent variable is set.
    bool ExpandRowXY(const double* row, std::vector<double>& xy) const;
    bool ExpandRowXY(const double* row, std::vector<int>& indices,
                     std::vector<double>& values) const;

    // 1 without covariates, else the value of p's first covariate.
    double ComputeDesignRowValue(const double* row, const MCRegrParameter& p) const;
    // 0 when a factor of the row is not in p's category, else the value.
    double ComputeDesignRowValueCheck(const double* row, const MCRegrParameter& p) const;

    // The intercept (when used), then one parameter per code of every factor
    // effect and one per covariate effect; effects other than the intercept
    // are numbered from 0 as effect indices.
    std::vector<MCRegrParameter> GetParameters() const;

    void Display() const;

private:
    // Value of effect e's parameter in the row (1 for factors and the
    // intercept, the variable's value otherwise).
    double EffectValue(const double* row, int e) const {
        const int var = fvEffectVar[static_cast<std::size_t>(e)];
        return fvEffectIsFactor[static_cast<std::size_t>(e)] || var < 0 ? 1.0 : row[var];
    }

    std::vector<int> fvFactors;
    std::vector<int> fvCovariates;
    int fDepVar = -1;
    std::vector<int> fvEffectVar;
    std::vector<int> fvEffectNParams;
    std::vector<int> fvEffectFirst;
    std::vector<char> fvEffectIsFactor;
    int fNEffects = 0;
    int fNParameters = 0;
    bool fbHasFactorEffects = false;
    bool fbIntercept = false;
    mutable std::vector<int> fvRowIndices;
    mutable std::vector<double> fvScratchValues;
    MCCommon_850::MCStatus fStatus;
    std::vector<MCModelEffect> fvNoEffects;
};

}  // namespace MCMath_850
