#include "design/MCColumnKeys.h"

#include <algorithm>

namespace MCMath_850 {

MCColumnKeys::Key MCColumnKeys::KeyOf(const MCRegrParameter& p) {
    Key key;
    for (std::size_t i = 0; i < p.GetFactors().size() && i < p.GetCategories().size(); ++i)
        key.cell.emplace_back(p.GetFactors()[i], p.GetCategories()[i]);
    for (std::size_t i = 0; i < p.GetCovariates().size(); ++i)
        key.covariates.emplace_back(p.GetCovariates()[i], p.GetCovariateMultiplicities()[i]);
    std::sort(key.cell.begin(), key.cell.end());
    std::sort(key.covariates.begin(), key.covariates.end());
    key.target = p.GetTargetCategory();
    return key;
}

MCColumnKeys::MCColumnKeys(const std::vector<MCRegrParameter>& params) {
    for (std::size_t k = 0; k < params.size(); ++k)
        fColumns.emplace(KeyOf(params[k]), static_cast<int>(k));
}

}  // namespace MCMath_850
