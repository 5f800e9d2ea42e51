#include "design/MCRegrParameter.h"

#include <algorithm>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

bool MCRegrParameter::AddFactor(int var, int category, int level) {
    if (var < 0 || level < 0) return false;
    if (std::find(fvFactors.begin(), fvFactors.end(), var) != fvFactors.end()) return false;
    const auto at = std::upper_bound(fvLevels.begin(), fvLevels.end(), level) - fvLevels.begin();
    try {
        // Reserve first so that a failed allocation leaves the three lists
        // of equal length.
        fvFactors.reserve(fvFactors.size() + 1);
        fvCategories.reserve(fvCategories.size() + 1);
        fvLevels.reserve(fvLevels.size() + 1);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    fvFactors.insert(fvFactors.begin() + at, var);
    fvCategories.insert(fvCategories.begin() + at, category);
    fvLevels.insert(fvLevels.begin() + at, level);
    return true;
}

int MCRegrParameter::AddCovariate(int var, int mult) {
    if (var < 0 || mult < 1) return 0;
    const auto it = std::find(fvCovariates.begin(), fvCovariates.end(), var);
    if (it != fvCovariates.end()) {
        int& m = fvCovMults[Ix(it - fvCovariates.begin())];
        m += mult;
        return m;
    }
    try {
        fvCovariates.reserve(fvCovariates.size() + 1);
        fvCovMults.reserve(fvCovMults.size() + 1);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return 0;
    }
    fvCovariates.push_back(var);
    fvCovMults.push_back(mult);
    return mult;
}

bool MCRegrParameter::SetupFromEffect(const MCModelEffect& effect, int effectIndex, int category) {
    if (effect.IsIntercept() || effectIndex < 0) return false;
    return MCCommon_850::GuardAllocationOr(false, [&] {
        const std::vector<int> factors = effect.GetFactors();
        const std::vector<int> levels = effect.GetFactorLevels();
        std::vector<int> covariates = effect.GetCovariates();
        std::vector<int> mults = effect.GetCovMultiplicities();
        MCRegrParameter p;
        p.fTargetCategory = fTargetCategory;
        p.fEffectIndex = effectIndex;
        // Room for every factor first, so that adding one cannot be refused
        // for memory and leave the parameter short of a factor.
        p.fvFactors.reserve(factors.size());
        p.fvCategories.reserve(factors.size());
        p.fvLevels.reserve(factors.size());
        for (std::size_t i = 0; i < factors.size() && i < levels.size(); ++i)
            p.AddFactor(factors[i], category, levels[i]);
        p.fvCovariates.swap(covariates);
        p.fvCovMults.swap(mults);
        *this = std::move(p);
        return true;
    });
}

void MCRegrParameter::Reset() {
    fvFactors.clear();
    fvCategories.clear();
    fvLevels.clear();
    fvCovariates.clear();
    fvCovMults.clear();
    fEffectIndex = -1;
    fTargetCategory = -1;
}

int MCRegrParameter::ContainsFactor(int var, int notFound) const {
    for (std::size_t i = 0; i < fvFactors.size(); ++i)
        if (fvFactors[i] == var) return fvCategories[i];
    return notFound;
}

int MCRegrParameter::GetCovariateMult(int var) const {
    for (std::size_t i = 0; i < fvCovariates.size(); ++i)
        if (fvCovariates[i] == var) return fvCovMults[i];
    return 0;
}

int MCRegrParameter::GetNCovariateMult() const {
    int n = 0;
    for (int m : fvCovMults) n += m;
    return n;
}

bool MCRegrParameter::operator==(const MCRegrParameter& o) const {
    return fEffectIndex == o.fEffectIndex && fvFactors == o.fvFactors &&
           fvCategories == o.fvCategories && fvLevels == o.fvLevels &&
           fvCovariates == o.fvCovariates && fvCovMults == o.fvCovMults &&
           fTargetCategory == o.fTargetCategory;
}

void MCRegrParameter::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCRegrParameter display start");
    if (fvFactors.empty()) {
        DisplayText("No factors are present.");
    } else {
        DisplayIV("The factors:", fvFactors);
        DisplayIV("Categories:", fvCategories);
        DisplayIV("Factor nesting levels:", fvLevels);
    }
    if (fvCovariates.empty()) {
        DisplayText("No covariates are present.");
    } else {
        DisplayIV("Covariates:", fvCovariates);
        DisplayIV("Covariate multiplicities:", fvCovMults);
    }
    DisplayI("Index of the effect", fEffectIndex);
    DisplayI("Target category", fTargetCategory);
    DisplayText("MCRegrParameter display end");
}

}  // namespace MCMath_850
