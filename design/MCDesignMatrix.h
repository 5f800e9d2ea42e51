#pragma once
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCStatus.h"
#include "data/MCFactorTables.h"
#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// The design of a model with factors and covariates, built from settings:
// the caller feeds every record to the factor tables (GetFactorTables()
// .UpdateAll), then CreateParameters numbers the observed cells, and every
// record can be expanded into its design row, dense or sparse.
//
// Parameter order: the intercept (when used), then the settings' effects in
// order; within a factor effect its observed cells in ascending key order
// (first factor slowest), the factors of a cell listed outermost nesting
// level first. Cells never observed get no column.
//
// The expansions are const but use scratch members of the object and of
// its factor tables: one object serves one thread at a time.
class MCDesignMatrix {
public:
    // warnings is kept in the signature; the design raises none.
    MCDesignMatrix(const MCRegSettings& settings, MCCancelInfo& cancel,
                   MCCommon_850::MCWarnings& warnings);
    MCDesignMatrix(const MCDesignMatrix&) = delete;
    MCDesignMatrix& operator=(const MCDesignMatrix&) = delete;
    virtual ~MCDesignMatrix();

    MCFactorTables& GetFactorTables() { return fTables; }
    const MCFactorTables& GetFactorTables() const { return fTables; }

    // Numbers the observed cells and creates the parameter list. Error 303
    // when the cells cannot be numbered; error 1 when a cancel request cut
    // the list short (the parameters made so far are kept).
    MCCommon_850::MCStatus CreateParameters();

    bool AreParamsCreated() const { return fbParamsCreated; }
    const std::vector<MCRegrParameter>& GetFixedParameters() const { return fvParameters; }
    int GetNFixedParameters() const { return fNParameters; }
    // Model effects of the factor tables, the intercept included.
    int GetNFixedEffects() const { return fTables.GetNModelEffects(); }
    const MCRegSettings& GetRegSetings() const { return *fpSettings; }
    const std::vector<int>& GetDepVarsIndices() const { return fvDepVars; }
    const std::vector<int>& GetDepVarsCategories() const { return fvDepCategories; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

    // First parameter and parameter count of a model effect (the intercept
    // is effect 0 when used); false before the parameters exist or for an
    // effect out of range.
    bool GetParamsForFixedEffect(int effect, int& first, int& count) const;

    // Replaces the dependent variables written after the parameters by the
    // XY expansions.
    void SetDepVars(const std::vector<int>& indices, const std::vector<int>& categories);

    // Product of the parameter's covariates raised to their powers (1
    // without covariates); factors are not looked at.
    double ComputeDesignRowValue(const double* row, const MCRegrParameter& p) const;
    // Normalised value: 1 in this design.
    double ComputeDesignRowValueNorm(const double* row, const MCRegrParameter& p) const;
    // 0 when some factor of the row is not in p's category, else the value.
    double ComputeDesignRowValueCheck(const double* row, const MCRegrParameter& p, bool norm) const;

    // Dense row into x[0 .. parameters - 1]; false (x untouched) when a cell
    // of the row has no parameter or before the parameters exist.
    bool ExpandRowX(const double* row, double* x, bool norm) const;
    // Sparse row: one entry per model effect (all parameters in a model
    // without factors).
    bool ExpandRowX(const double* row, std::vector<int>& indices, std::vector<double>& values,
                    bool norm) const;
    // As ExpandRowX, followed by the dependent values at parameters + d.
    bool ExpandRowXY(const double* row, double* xy, bool norm) const;
    bool ExpandRowXY(const double* row, std::vector<int>& indices, std::vector<double>& values,
                     bool norm) const;

    void Display() const;

private:
    double ParameterValue(const double* row, int k, bool norm) const;
    // Dependent value d of the row, less the offset.
    double DependentValue(const double* row, int d) const;

    const MCRegSettings* fpSettings;
    MCCancelInfo* fpCancel;
    int fFreqWeightVar = -1;
    int fRegrWeightVar = -1;
    std::vector<int> fvDepVars;
    std::vector<int> fvDepCategories;
    int fNDepVars = 0;
    std::vector<int> fvCovariates;
    int fOffsetVar = -1;
    double fOffsetValue = 0.0;
    const std::vector<MCModelEffect>* fpEffects;
    MCFactorTables fTables;
    std::vector<MCRegrParameter> fvParameters;
    int fNParameters = 0;
    bool fbParamsCreated = false;
    mutable std::vector<double> fvScratchValues;
    mutable std::vector<int> fvScratchIndices;
    std::vector<int> fvEffectFirst;
    std::vector<int> fvEffectNParams;
    bool fbHasFactors = false;
    bool fbConstructFailed = false;
    MCCommon_850::MCStatus fStatus;
};

}  // namespace MCMath_850
