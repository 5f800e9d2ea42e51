#include "design/MCDesignMatrix.h"

#include <algorithm>
#include <new>
#include <string>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "design/MCEffectParameter.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCDesignMatrix::MCDesignMatrix(const MCRegSettings& settings, MCCancelInfo& cancel,
                               MCCommon_850::MCWarnings& /*warnings*/)
    : fpSettings(&settings),
      fpCancel(&cancel),
      fFreqWeightVar(settings.GetFrequencyWeightVar()),
      fRegrWeightVar(settings.GetRegrWeightVar()),
      fpEffects(&settings.GetModelEffects()),
      fTables(settings.GetFactors(), settings.GetFactorSizes(), settings.GetFrequencyWeightVar(),
              -1, 0, 0, -1, 0.0, MCConst::OFFSET_NONE) {
    try {
        fvDepVars.assign(1, settings.GetDependent());
        fvDepCategories.assign(1, -1);
        fNDepVars = 1;
        if (fRegrWeightVar >= 0) fTables.SetRegrWeightVar(fRegrWeightVar);
        fTables.SetCovariates(settings.GetCovariates());
        fvCovariates = settings.GetCovariates();

        // The tables key each effect's cells by its factors in nesting
        // order, outermost first: the order in which a parameter set up
        // from the effect lists them, so the cell codes map onto it as is.
        std::vector<std::vector<int>> lists;
        if (settings.GetInterceptUse()) lists.emplace_back();
        MCRegrParameter p;
        for (std::size_t e = 0; e < fpEffects->size(); ++e) {
            p.Reset();
            SetupFromEffectOrThrow(p, (*fpEffects)[e], static_cast<int>(e));
            lists.push_back(p.GetFactors());
            if (!lists.back().empty()) fbHasFactors = true;
        }
        fTables.SetModelEffectFactors(lists);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fbConstructFailed = true;
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
    }
}

MCDesignMatrix::~MCDesignMatrix() = default;

MCStatus MCDesignMatrix::CreateParameters() {
    if (fbConstructFailed) return fStatus;
    fvParameters.clear();
    fNParameters = 0;
    fbParamsCreated = false;
    if (fTables.CreateParameterIndices(0) < 0) {
        fStatus = ErrorStatus(StatusCode::kMissingInput);
        return fStatus;
    }
    bool cancelled = false;
    try {
        const bool intercept = fpSettings->GetInterceptUse();
        if (intercept) fvParameters.emplace_back();
        const std::size_t nEffects = fpEffects->size();
        fvEffectFirst.assign(nEffects, 0);
        fvEffectNParams.assign(nEffects, 0);
        MCRegrParameter p;
        for (std::size_t e = 0; e < nEffects; ++e) {
            if (fpCancel->WillCancel()) {
                cancelled = true;
                break;
            }
            p.Reset();
            if (!SetupFromEffectOrThrow(p, (*fpEffects)[e], static_cast<int>(e)))
                p.SetEffectIndex(static_cast<int>(e));
            const int m = static_cast<int>(e) + (intercept ? 1 : 0);
            const int n = fTables.GetNEffectParameters(m);
            fvEffectNParams[e] = n;
            fvEffectFirst[e] = static_cast<int>(fvParameters.size());
            if (n == 1 && p.GetNFactors() == 0) {
                fvParameters.push_back(p);
                continue;
            }
            for (int j = 0; j < n; ++j) {
                fTables.GetParameterFactorValues(p.GetCategories(), m, j);
                fvParameters.push_back(p);
            }
        }
        fvScratchValues.assign(fvParameters.size() + 1, 0.0);
        fvScratchIndices.reserve(fvParameters.size() + 1);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvParameters.clear();
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        return fStatus;
    }
    fNParameters = static_cast<int>(fvParameters.size());
    fbParamsCreated = true;
    fStatus = cancelled ? ErrorStatus(StatusCode::kCancelled) : MCStatus();
    return fStatus;
}

bool MCDesignMatrix::GetParamsForFixedEffect(int effect, int& first, int& count) const {
    if (!fbParamsCreated || effect < 0 || effect >= fTables.GetNModelEffects()) return false;
    first = fTables.GetParameterOffsets()[Ix(effect)];
    count = fTables.GetNEffectParameters(effect);
    return true;
}

void MCDesignMatrix::SetDepVars(const std::vector<int>& indices,
                                const std::vector<int>& categories) {
    try {
        fvDepVars = indices;
        fvDepCategories = categories;
        fNDepVars = static_cast<int>(fvDepVars.size());
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvDepVars.clear();
        fvDepCategories.clear();
        fNDepVars = 0;
    }
}

double MCDesignMatrix::ComputeDesignRowValue(const double* row, const MCRegrParameter& p) const {
    return p.CovariateProduct(row);
}

double MCDesignMatrix::ComputeDesignRowValueNorm(const double*, const MCRegrParameter&) const {
    return 1.0;
}

double MCDesignMatrix::ComputeDesignRowValueCheck(const double* row, const MCRegrParameter& p,
                                                  bool norm) const {
    const std::vector<int>& factors = p.GetFactors();
    const std::vector<int>& cats = p.GetCategories();
    for (std::size_t i = 0; i < factors.size(); ++i)
        if (MCCategoryIndex(row[factors[i]], 0) != cats[i]) return 0.0;
    if (p.GetNCovariates() == 0) return 1.0;
    return norm ? ComputeDesignRowValueNorm(row, p) : ComputeDesignRowValue(row, p);
}

double MCDesignMatrix::ParameterValue(const double* row, int k, bool norm) const {
    const MCRegrParameter& p = fvParameters[Ix(k)];
    return norm ? ComputeDesignRowValueNorm(row, p) : ComputeDesignRowValue(row, p);
}

double MCDesignMatrix::DependentValue(const double* row, int d) const {
    const int var = fvDepVars[Ix(d)];
    if (var < 0 || MCCommon_850::MCMV::IsMissing(row[var])) return MCCommon_850::MCMV::Missing();
    double y = row[var] - fOffsetValue;
    if (fOffsetVar >= 0) y -= row[fOffsetVar];
    return y;
}

bool MCDesignMatrix::ExpandRowX(const double* row, double* x, bool norm) const {
    if (!fbParamsCreated || row == nullptr || x == nullptr) return false;
    if (!fbHasFactors) {
        for (int j = 0; j < fNParameters; ++j) x[j] = ParameterValue(row, j, norm);
        return true;
    }
    bool ok = false;
    const std::vector<int>& idx = fTables.GetRowParameterIndices(row, ok);
    if (!ok) return false;
    // A parameter list cut short by a cancel lacks the later columns.
    for (int k : idx)
        if (k >= fNParameters) return false;
    std::fill(x, x + fNParameters, 0.0);
    for (int k : idx) x[k] = ParameterValue(row, k, norm);
    return true;
}

bool MCDesignMatrix::ExpandRowX(const double* row, std::vector<int>& indices,
                                std::vector<double>& values, bool norm) const {
    if (!fbParamsCreated || row == nullptr) return false;
    if (!fbHasFactors) {
        indices.resize(static_cast<std::size_t>(fNParameters));
        values.resize(static_cast<std::size_t>(fNParameters));
        for (int j = 0; j < fNParameters; ++j) {
            indices[Ix(j)] = j;
            values[Ix(j)] = ParameterValue(row, j, norm);
        }
        return true;
    }
    bool ok = false;
    const std::vector<int>& idx = fTables.GetRowParameterIndices(row, ok);
    if (!ok) return false;
    for (int k : idx)
        if (k >= fNParameters) return false;
    indices.assign(idx.begin(), idx.end());
    values.resize(idx.size());
    for (std::size_t e = 0; e < idx.size(); ++e) values[e] = ParameterValue(row, idx[e], norm);
    return true;
}

bool MCDesignMatrix::ExpandRowXY(const double* row, std::vector<int>& indices,
                                 std::vector<double>& values, bool norm) const {
    if (!ExpandRowX(row, indices, values, norm)) return false;
    for (int d = 0; d < fNDepVars; ++d) {
        indices.push_back(fNParameters + d);
        values.push_back(DependentValue(row, d));
    }
    return true;
}

bool MCDesignMatrix::ExpandRowXY(const double* row, double* xy, bool norm) const {
    if (xy == nullptr || !ExpandRowX(row, fvScratchIndices, fvScratchValues, norm)) return false;
    std::fill(xy, xy + fNParameters + fNDepVars, 0.0);
    for (std::size_t i = 0; i < fvScratchIndices.size(); ++i)
        xy[fvScratchIndices[i]] = fvScratchValues[i];
    for (int d = 0; d < fNDepVars; ++d) xy[fNParameters + d] = DependentValue(row, d);
    return true;
}

void MCDesignMatrix::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCDesignMatrix display start");
    DisplayI("Frequency weight variable", fFreqWeightVar);
    DisplayI("Regression weight variable", fRegrWeightVar);
    DisplayIV("Dependent variable", fvDepVars);
    DisplayI("Offset variable", fOffsetVar);
    DisplayD("Offset value", fOffsetValue);
    DisplayI("Number of fixed parameters", fNParameters);
    DisplayI("Number of dependent variables", fNDepVars);
    for (std::size_t k = 0; k < fvParameters.size(); ++k) {
        DisplayText("Parameter " + std::to_string(k));
        fvParameters[k].Display();
    }
    DisplayText("MCDesignMatrix display end");
}

}  // namespace MCMath_850
