#pragma once
#include <vector>

namespace MCMath_850 {

// A mixed-radix counter over a list of sizes: combination i has, for each
// position, the digit i mod size taken from the last size (fastest) to the
// first.
class MCSimpleCombination {
public:
    MCSimpleCombination() = default;
    explicit MCSimpleCombination(std::vector<int> sizes) : fvSizes(std::move(sizes)) {}

    void SetCombinationSizes(const std::vector<int>& sizes) { fvSizes = sizes; }
    const std::vector<int>& GetCombinationSizes() const { return fvSizes; }
    // The product of the sizes: 1 for no sizes, -1 when a size is below 1 (or
    // the product does not fit an int).
    int GetNCombinations() const;
    // The digits of combination index; false when the count is negative.
    bool GetCombinations(int index, std::vector<int>& digits) const;

private:
    std::vector<int> fvSizes;
};

}  // namespace MCMath_850
