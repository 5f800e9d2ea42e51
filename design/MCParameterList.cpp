#include "design/MCParameterList.h"

#include <algorithm>
#include <map>
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

std::vector<int> MCParameterList::CentringColumns(const std::vector<MCRegrParameter>& params,
                                                  bool intercept) {
    using Cell = std::vector<std::pair<int, int>>;
    const auto cellOf = [](const MCRegrParameter& p) {
        Cell c;
        for (std::size_t i = 0; i < p.GetFactors().size() && i < p.GetCategories().size(); ++i)
            c.emplace_back(p.GetFactors()[i], p.GetCategories()[i]);
        std::sort(c.begin(), c.end());
        return c;
    };
    std::map<Cell, int> indicators;
    for (std::size_t k = 0; k < params.size(); ++k)
        if (params[k].GetNCovariates() == 0 && params[k].GetNFactors() > 0)
            indicators.emplace(cellOf(params[k]), static_cast<int>(k));
    std::vector<int> unit(params.size(), intercept ? 0 : -1);
    if (intercept && !unit.empty()) unit[0] = -1;
    for (std::size_t k = 0; k < params.size(); ++k) {
        if (params[k].GetNCovariates() == 0 || params[k].GetNFactors() == 0) continue;
        const auto it = indicators.find(cellOf(params[k]));
        if (it != indicators.end()) unit[k] = it->second;
    }
    return unit;
}

std::vector<unsigned char> MCParameterList::CellsWithoutIndicator(
    const std::vector<MCRegrParameter>& params, const std::vector<int>& units) {
    std::vector<unsigned char> flags(params.size(), 0);
    bool any = false;
    for (std::size_t k = 0; k < params.size() && k < units.size(); ++k)
        if (units[k] == 0 && params[k].GetNCovariates() > 0 && params[k].GetNFactors() > 0)
            flags[k] = any = true;
    if (!any) flags.clear();
    return flags;
}

}  // namespace MCMath_850
