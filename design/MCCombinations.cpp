#include "design/MCCombinations.h"

#include <algorithm>

#include "companion/MCDisplay.h"

namespace MCMath_850 {

bool MCCombinations::Set(const std::vector<std::vector<int>>* categoryLists,
                         const std::vector<int>& positions, const std::vector<int>& excluded) {
    fpCategoryLists = categoryLists;
    fvNVarCats.clear();
    fvFreeVars.clear();
    fvCurrCat.clear();
    fNFreeVars = 0;
    fbReset = true;
    if (categoryLists == nullptr) return false;

    const int n = static_cast<int>(categoryLists->size());
    int largest = -1;
    int smallest = n;
    for (int p : positions) {
        largest = std::max(largest, p);
        smallest = std::min(smallest, p);
    }
    if (largest >= n || smallest < 0) return false;

    fvNVarCats.reserve(categoryLists->size());
    for (const std::vector<int>& cats : *categoryLists)
        fvNVarCats.push_back(static_cast<int>(cats.size()));
    for (int p : positions)
        if (std::find(excluded.begin(), excluded.end(), p) == excluded.end())
            fvFreeVars.push_back(p);
    fNFreeVars = static_cast<int>(fvFreeVars.size());
    fvCurrCat.assign(fvFreeVars.size(), 0);
    return true;
}

bool MCCombinations::Set(const std::vector<std::vector<int>>* categoryLists,
                         const std::vector<int>& positions) {
    return Set(categoryLists, positions, std::vector<int>());
}

bool MCCombinations::Next(std::vector<int>& values) {
    const int nValues = static_cast<int>(values.size());
    // Writes category index cat of enumerated position k; false when the
    // position lies beyond values.
    auto write = [&](int k, int cat) {
        const int pos = fvFreeVars[k];
        fvCurrCat[k] = cat;
        if (pos >= nValues) return false;
        values[pos] = (*fpCategoryLists)[pos][cat];
        return true;
    };

    // A position without categories leaves nothing to enumerate, on the
    // first call and on every later one.
    for (int k = 0; k < fNFreeVars; ++k)
        if (fvNVarCats[fvFreeVars[k]] < 1) return false;
    if (fbReset) {
        fbReset = false;
        bool ok = true;
        for (int k = 0; k < fNFreeVars; ++k) ok = write(k, 0) && ok;
        return ok;
    }

    int k = fNFreeVars - 1;
    while (k >= 0 && fvCurrCat[k] >= fvNVarCats[fvFreeVars[k]] - 1) --k;
    if (k < 0) return false;
    bool ok = write(k, fvCurrCat[k] + 1);
    for (int j = k + 1; j < fNFreeVars; ++j) ok = write(j, 0) && ok;
    return ok;
}

double MCCombinations::GetNCombinations() const {
    double n = 1.0;
    for (int pos : fvFreeVars) n *= fvNVarCats[pos];
    return n;
}

void MCCombinations::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCCombinations display start");
    DisplayIV("fvNVarCats", fvNVarCats);
    DisplayIV("fvFreeVars", fvFreeVars);
    DisplayI("fNFreeVars", fNFreeVars);
    DisplayIV("fvCurrCat", fvCurrCat);
    DisplayB("fbReset", fbReset);
    DisplayText("MCCombinations display end");
}

}  // namespace MCMath_850
