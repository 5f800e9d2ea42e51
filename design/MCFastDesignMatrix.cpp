#include "design/MCFastDesignMatrix.h"

#include <algorithm>
#include <new>
#include <string>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorCounts.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCFastDesignMatrix::MCFastDesignMatrix(const std::vector<int>& factors,
                                       const std::vector<int>& categoryCounts,
                                       const std::vector<int>& covariates, bool intercept)
    : fbIntercept(intercept) {
    try {
        if (intercept) {
            fvEffectVar.push_back(-1);
            fvEffectNParams.push_back(1);
            fvEffectFirst.push_back(0);
            fvEffectIsFactor.push_back(0);
            fNEffects = 1;
            fNParameters = 1;
            fvRowIndices = fvEffectFirst;
        }
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        return;
    }
    AddModelEffects(factors, categoryCounts);
    AddModelEffects(covariates, std::vector<int>(covariates.size(), 1));
}

MCFastDesignMatrix::~MCFastDesignMatrix() = default;

int MCFastDesignMatrix::AddModelEffects(const std::vector<int>& vars,
                                        const std::vector<int>& counts) {
    if (vars.size() != counts.size()) return -1;
    const std::size_t n0 = fvEffectVar.size();
    const std::size_t nFactors0 = fvFactors.size(), nCovariates0 = fvCovariates.size();
    try {
        for (std::size_t i = 0; i < vars.size(); ++i) {
            const int first = fNEffects == 0 ? 0
                                             : fvEffectFirst[Ix(fNEffects - 1)] +
                                                   fvEffectNParams[Ix(fNEffects - 1)];
            const bool factor = counts[i] > 1;
            // A variable with at most one category is a single column of its
            // values, whatever count it came with.
            const int count = factor ? counts[i] : 1;
            if (factor)
                fvFactors.push_back(vars[i]);
            else if (vars[i] >= 0)
                fvCovariates.push_back(vars[i]);
            fvEffectVar.push_back(vars[i]);
            fvEffectNParams.push_back(count);
            fvEffectFirst.push_back(first);
            fvEffectIsFactor.push_back(factor ? 1 : 0);
            ++fNEffects;
            fNParameters += count;
            if (factor) fbHasFactorEffects = true;
        }
        fvRowIndices = fvEffectFirst;
        fvScratchValues.reserve(static_cast<std::size_t>(fNEffects));
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvEffectVar.resize(n0);
        fvEffectNParams.resize(n0);
        fvEffectFirst.resize(n0);
        fvEffectIsFactor.resize(n0);
        fvFactors.resize(nFactors0);
        fvCovariates.resize(nCovariates0);
        fNEffects = static_cast<int>(n0);
        fNParameters = n0 == 0 ? 0 : fvEffectFirst.back() + fvEffectNParams.back();
        fbHasFactorEffects = std::find(fvEffectIsFactor.begin(), fvEffectIsFactor.end(), 1) !=
                             fvEffectIsFactor.end();
        fvRowIndices.resize(n0);
        fStatus = ErrorStatus(StatusCode::kTooManyParameters);
    }
    return -1;
}

bool MCFastDesignMatrix::GetParamsForEffect(int effect, int& first, int& count) const {
    if (effect < 0 || effect >= fNEffects) return false;
    first = fvEffectFirst[Ix(effect)];
    count = fvEffectNParams[Ix(effect)];
    return true;
}

int MCFastDesignMatrix::GetEffectParameterIndex(int effect, int code) const {
    if (effect < 0 || effect >= fNEffects) return -1;
    const std::size_t e = static_cast<std::size_t>(effect);
    if (!fvEffectIsFactor[e]) return fvEffectFirst[e];
    if (code < 0 || code >= fvEffectNParams[e]) return -1;
    return fvEffectFirst[e] + code;
}

const std::vector<int>& MCFastDesignMatrix::GetParameterIndices(const double* row, bool& ok) const {
    ok = true;
    for (int e = 0; e < fNEffects; ++e) {
        const std::size_t i = static_cast<std::size_t>(e);
        if (!fvEffectIsFactor[i]) continue;
        const int code = MCCategoryIndex(row[fvEffectVar[i]], 0);
        if (code >= 0 && code < fvEffectNParams[i]) {
            fvRowIndices[i] = fvEffectFirst[i] + code;
        } else {
            fvRowIndices[i] = -1;
            ok = false;
        }
    }
    return fvRowIndices;
}

bool MCFastDesignMatrix::ExpandRowX(const double* row, std::vector<double>& x) const {
    if (row == nullptr) return false;
    if (x.size() < static_cast<std::size_t>(fNParameters))
        x.resize(static_cast<std::size_t>(fNParameters));
    if (!fbHasFactorEffects) {
        for (int e = 0; e < fNEffects; ++e) x[Ix(e)] = EffectValue(row, e);
        return true;
    }
    bool ok = false;
    const std::vector<int>& idx = GetParameterIndices(row, ok);
    if (!ok) return false;
    std::fill(x.begin(), x.begin() + fNParameters, 0.0);
    for (int e = 0; e < fNEffects; ++e)
        x[Ix(idx[static_cast<std::size_t>(e)])] = EffectValue(row, e);
    return true;
}

bool MCFastDesignMatrix::ExpandRowX(const double* row, std::vector<int>& indices,
                                    std::vector<double>& values) const {
    if (row == nullptr) return false;
    bool ok = true;
    const std::vector<int>& idx = fbHasFactorEffects ? GetParameterIndices(row, ok) : fvEffectFirst;
    if (!ok) return false;
    indices.assign(idx.begin(), idx.end());
    values.resize(idx.size());
    for (int e = 0; e < fNEffects; ++e) values[Ix(e)] = EffectValue(row, e);
    return true;
}

bool MCFastDesignMatrix::ExpandRowXY(const double* row, std::vector<double>& xy) const {
    if (fDepVar < 0) return false;
    if (xy.size() < static_cast<std::size_t>(fNParameters + 1))
        xy.resize(static_cast<std::size_t>(fNParameters + 1));
    if (!ExpandRowX(row, xy)) return false;
    xy[Ix(fNParameters)] = row[fDepVar];
    return true;
}

bool MCFastDesignMatrix::ExpandRowXY(const double* row, std::vector<int>& indices,
                                     std::vector<double>& values) const {
    if (fDepVar < 0 || !ExpandRowX(row, indices, values)) return false;
    indices.push_back(fNParameters);
    values.push_back(row[fDepVar]);
    return true;
}

double MCFastDesignMatrix::ComputeDesignRowValue(const double* row,
                                                 const MCRegrParameter& p) const {
    if (p.GetNCovariates() == 0) return 1.0;
    return row[p.GetCovariates()[0]];
}

double MCFastDesignMatrix::ComputeDesignRowValueCheck(const double* row,
                                                      const MCRegrParameter& p) const {
    const std::vector<int>& factors = p.GetFactors();
    const std::vector<int>& cats = p.GetCategories();
    for (std::size_t i = 0; i < factors.size(); ++i)
        if (MCCategoryIndex(row[factors[i]], 0) != cats[i]) return 0.0;
    return ComputeDesignRowValue(row, p);
}

std::vector<MCRegrParameter> MCFastDesignMatrix::GetParameters() const {
    std::vector<MCRegrParameter> params;
    try {
        params.reserve(static_cast<std::size_t>(fNParameters));
        int effectIndex = 0;
        for (int e = 0; e < fNEffects; ++e) {
            const std::size_t i = static_cast<std::size_t>(e);
            if (e == 0 && fbIntercept) {
                params.emplace_back();
                continue;
            }
            MCRegrParameter p;
            p.SetEffectIndex(effectIndex++);
            if (fvEffectIsFactor[i]) {
                for (int c = 0; c < fvEffectNParams[i]; ++c) {
                    MCRegrParameter q = p;
                    q.AddFactor(fvEffectVar[i], c, 0);
                    params.push_back(q);
                }
            } else {
                p.AddCovariate(fvEffectVar[i], 1);
                params.push_back(p);
            }
        }
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        params.clear();
    }
    return params;
}

void MCFastDesignMatrix::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCFastDesignMatrix display start");
    DisplayI("Dependent variable", fDepVar);
    DisplayIV("Factors", fvFactors);
    DisplayIV("Covariates", fvCovariates);
    DisplayI("Number of fixed parameters", fNParameters);
    DisplayI("Number of model effects", fNEffects);
    DisplayIV("Effect variables", fvEffectVar);
    DisplayIV("Parameters per effect", fvEffectNParams);
    DisplayIV("First parameter of each effect", fvEffectFirst);
    DisplayB("Factor effects present", fbHasFactorEffects);
    DisplayText("MCFastDesignMatrix display end");
}

}  // namespace MCMath_850
