#include "design/MCParameterList.h"

#include <utility>

#include "data/MCFactorTables.h"
#include "design/MCEffectParameter.h"

namespace MCMath_850 {

long MCParameterList::Count(const MCFactorTables& tables, int nEffects, bool intercept) {
    const int offset = intercept ? 1 : 0;
    long total = offset;
    for (int e = 0; e < nEffects; ++e) total += tables.GetNEffectParameters(e + offset);
    return total;
}

bool MCParameterList::Build(const MCFactorTables& tables, const std::vector<MCModelEffect>& effects,
                            bool intercept, MCCancelInfo& cancel) {
    fvParameters.clear();
    fvEffectFirst.clear();
    fvEffectCount.clear();
    if (intercept) fvParameters.emplace_back();
    const int offset = intercept ? 1 : 0;
    std::vector<int> codes;
    for (std::size_t e = 0; e < effects.size(); ++e) {
        if (cancel.WillCancel()) return false;
        const int tableEffect = static_cast<int>(e) + offset;
        MCRegrParameter param;
        SetupFromEffectOrThrow(param, effects[e], static_cast<int>(e));
        const int n = tables.GetNEffectParameters(tableEffect);
        fvEffectFirst.push_back(static_cast<int>(fvParameters.size()));
        fvEffectCount.push_back(n);
        if (n == 1 && param.GetNFactors() == 0) {
            fvParameters.push_back(param);
            continue;
        }
        for (int j = 0; j < n; ++j) {
            MCRegrParameter cell = param;
            tables.GetParameterFactorValues(codes, tableEffect, j);
            cell.GetCategories() = codes;
            fvParameters.push_back(std::move(cell));
        }
    }
    return true;
}

}  // namespace MCMath_850
