#include "host/ParameterLabels.h"

#include <algorithm>

namespace mchost {

std::string ParameterLabel(const MCMath_850::MCRegrParameter& parameter, const ModelSpec& spec,
                           bool factorsInParens) {
    if (parameter.IsIntercept()) return "Intercept";
    const std::vector<ModelVariable>& vars = spec.GetVariables();
    auto nameOf = [&](int pos) -> const std::string& {
        return vars[static_cast<std::size_t>(pos)].fName;
    };

    const std::vector<int>& factors = parameter.GetFactors();
    const std::vector<int>& categories = parameter.GetCategories();
    const std::vector<int>& levels = parameter.GetFactorNestLevels();
    std::string factorPart;
    if (!factors.empty()) {
        const int top = *std::max_element(levels.begin(), levels.end());
        for (int level = top; level >= 0; --level) {
            if (level < top) factorPart += '(';
            bool first = true;
            for (std::size_t i = 0; i < factors.size(); ++i) {
                if (levels[i] != level) continue;
                if (!first) factorPart += " * ";
                first = false;
                const ModelVariable& v = vars[static_cast<std::size_t>(factors[i])];
                const int code = i < categories.size() ? categories[i] : -1;
                const std::string value =
                    code >= 0 && static_cast<std::size_t>(code) < v.fvCategories.size()
                        ? v.fvCategories[static_cast<std::size_t>(code)]
                        : std::to_string(code);
                factorPart += "[" + v.fName + "=" + value + "]";
            }
        }
        factorPart.append(static_cast<std::size_t>(top), ')');
    }

    std::string covariatePart;
    const std::vector<int>& covs = parameter.GetCovariates();
    const std::vector<int>& mults = parameter.GetCovariateMultiplicities();
    for (std::size_t i = 0; i < covs.size(); ++i)
        for (int m = 0; m < mults[i]; ++m)
            covariatePart += (covariatePart.empty() ? "" : " * ") + nameOf(covs[i]);

    if (factorPart.empty()) return covariatePart;
    if (covariatePart.empty()) return factorPart;
    if (factorsInParens) return covariatePart + "(" + factorPart + ")";
    return factorPart + " * " + covariatePart;
}

}  // namespace mchost
