#include "companion/MCVarList.h"

#include <cmath>
#include <exception>

#include "companion/MCIndex.h"

namespace MCXML_850 {

using MCMath_850::Ix;

std::string MCCategoryValues::GetText(int category) const {
    try {
        if (category >= 0 && category < GetNCategories()) return fvTexts[Ix(category)];
        return std::to_string(category);
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string MCCategoryValues::GetTextOfValue(double value) const {
    // Out-of-int-range values cannot be codes; keep them out of the cast.
    if (!std::isfinite(value) || std::fabs(value) > 2.0e9) return "NaN";
    return GetText(static_cast<int>(value + 0.5));
}

int MCVarList::AddCategoricalVar(const std::string& name,
                                 const std::vector<std::string>& categoryTexts) {
    try {
        return Append(std::make_unique<MCVariable>(name, categoryTexts));
    } catch (const std::exception&) {
        return -1;
    }
}

int MCVarList::AddContinuousVar(const std::string& name, double min, double max) {
    try {
        return Append(std::make_unique<MCContVar>(name, min, max));
    } catch (const std::exception&) {
        return -1;
    }
}

int MCVarList::Append(std::unique_ptr<MCVariable> var) {
    fvVars.push_back(std::move(var));
    return GetNVars() - 1;
}

const MCVariable* MCVarList::GetVarAt(int index) const {
    if (index < 0 || index >= GetNVars()) return nullptr;
    return fvVars[Ix(index)].get();
}

}  // namespace MCXML_850
