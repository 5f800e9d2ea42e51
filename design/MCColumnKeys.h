#pragma once
#include <map>
#include <utility>
#include <vector>

#include "design/MCRegrParameter.h"

namespace MCMath_850 {

// The columns of a list of parameters by what names them whatever order
// their effects listed it in: the cell (factor, category) and covariates
// (variable, power), each sorted, and the target category. A factor-only
// column is its cell's indicator; a covariate's column within a cell is
// found by the cell and the covariate.
class MCColumnKeys {
public:
    using Pairs = std::vector<std::pair<int, int>>;
    struct Key {
        Pairs cell;
        Pairs covariates;
        int target = -1;
        bool operator<(const Key& o) const {
            if (target != o.target) return target < o.target;
            if (cell != o.cell) return cell < o.cell;
            return covariates < o.covariates;
        }
    };

    static Key KeyOf(const MCRegrParameter& p);

    // The first parameter of each key.
    explicit MCColumnKeys(const std::vector<MCRegrParameter>& params);
    // The column of key, -1 when the list has none.
    int Find(const Key& key) const {
        const auto it = fColumns.find(key);
        return it != fColumns.end() ? it->second : -1;
    }

private:
    std::map<Key, int> fColumns;
};

}  // namespace MCMath_850
