#include "data/MCCellRowCache.h"

#include <new>

namespace MCMath_850 {

void MCCellRowCache::Drop() {
    std::vector<int>().swap(fvCells);
    std::vector<int>().swap(fvCategories);
    std::vector<double>().swap(fvWeights);
    std::vector<double>().swap(fvValues);
    fNValues = 0;
    fbFilling = false;
    fbComplete = false;
}

void MCCellRowCache::Clear() {
    Drop();
    fbGivenUp = false;
}

void MCCellRowCache::BeginFill() {
    Drop();
    fbFilling = !fbGivenUp;
}

void MCCellRowCache::GiveUp() {
    // Nothing is kept once given up (a pass may give up on every row).
    if (fbGivenUp) return;
    Drop();
    fbGivenUp = true;
}

void MCCellRowCache::Add(int cell, int category, double weight, const std::vector<double>& values) {
    if (!fbFilling) return;
    if (fvCells.empty()) fNValues = values.size();
    if (values.size() != fNValues || (fvCells.size() + 1) * (fNValues + 2) > kMaxDoubles) {
        GiveUp();
        return;
    }
    try {
        fvCells.push_back(cell);
        fvCategories.push_back(category);
        fvWeights.push_back(weight);
        fvValues.insert(fvValues.end(), values.begin(), values.end());
    } catch (const std::bad_alloc&) {
        // The passes read the records instead, with the same result.
        GiveUp();
    }
}

void MCCellRowCache::EndFill() {
    fbComplete = fbFilling;
    fbFilling = false;
}

void MCCellRowCache::Values(std::size_t row, std::vector<double>& values) const {
    // A few values: copied one by one rather than through memmove.
    const double* from = fvValues.data() + row * fNValues;
    values.resize(fNValues);
    for (std::size_t v = 0; v < fNValues; ++v) values[v] = from[v];
}

}  // namespace MCMath_850
