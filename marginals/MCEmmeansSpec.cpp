#include "marginals/MCEmmeansSpec.h"

#include <algorithm>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"

namespace MCMath_850 {

namespace {

bool Listed(const std::vector<int>& list, int value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Appends value; false when memory runs out (the list is then unchanged).
template <class T>
bool Append(std::vector<T>& list, const T& value) {
    try {
        list.push_back(value);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

}  // namespace

int MCEmmeansSpec::AddFactor(int factor) {
    if (factor < 0 || Listed(fvFactors, factor)) return -1;
    if (!Append(fvFactors, factor)) return -1;
    return static_cast<int>(fvFactors.size());
}

int MCEmmeansSpec::AddFactor(int factor, int nestLevel) {
    if (factor < 0 || Listed(fvFactors, factor)) return -1;
    // Both lists grow together or not at all.
    try {
        fvFactorsNestLevel.reserve(fvFactorsNestLevel.size() + 1);
        fvFactors.reserve(fvFactors.size() + 1);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return -1;
    }
    fvFactors.push_back(factor);
    fvFactorsNestLevel.push_back(nestLevel);
    return static_cast<int>(fvFactors.size());
}

int MCEmmeansSpec::AddCovariate(int covariate, double value) {
    if (covariate < 0) return -1;
    for (const auto& c : fvCovariates)
        if (c.first == covariate) return -1;
    if (!Append(fvCovariates, std::make_pair(covariate, value))) return -1;
    return static_cast<int>(fvCovariates.size());
}

int MCEmmeansSpec::AddCompareFactor(int factor) {
    if (factor < 0 || Listed(fvCompareFactors, factor)) return -1;
    if (!Append(fvCompareFactors, factor)) return -1;
    return static_cast<int>(fvCompareFactors.size());
}

void MCEmmeansSpec::SetRefCateg(int level) {
    if (fContrastType == MCConst::CONTRAST_SIMPLE && level >= 0) fRefCateg = level;
}

bool MCEmmeansSpec::SetMetricValueList(const std::vector<double>& values) {
    if (fContrastType != MCConst::CONTRAST_POLYNOMIAL || values.empty()) return false;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (!(values[i - 1] < values[i])) return false;  // NaN fails as well
    try {
        fvMetricValues = values;
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

void MCEmmeansSpec::Reset() {
    fvFactors.clear();
    fvFactorsNestLevel.clear();
    fvCovariates.clear();
    fvCompareFactors.clear();
    fContrastType = MCConst::CONTRAST_SIMPLE;
    fRefCateg = -1;
    fvMetricValues.clear();
    fPAdjust = MCConst::PADJ_LSD;
    fScale = MCConst::EMM_SCALE_ORIGINAL;
}

void MCEmmeansSpec::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCEmmeansSpec display start");
    DisplayIV("Factors", fvFactors);
    try {
        std::vector<int> covariates;
        std::vector<double> values;
        for (const auto& c : fvCovariates) {
            covariates.push_back(c.first);
            values.push_back(c.second);
        }
        DisplayIV("Covariates", covariates);
        DisplayDV("Values", values);
    } catch (const std::bad_alloc&) {
        DisplayText("Covariates: not enough memory to display");
    }
    if (fvCompareFactors.empty())
        DisplayI("Compare factors (-1 means 'not set')", -1);
    else
        DisplayIV("Compare factors (-1 means 'not set')", fvCompareFactors);
    DisplayC("Contrast type", fContrastType);
    DisplayI("Contrast reference category", fRefCateg);
    DisplayDV("Metric value list", fvMetricValues);
    DisplayText("MCEmmeansSpec display end");
}

}  // namespace MCMath_850
