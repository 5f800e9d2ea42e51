#include "logistic/MCSimpleCombination.h"

#include <climits>

namespace MCMath_850 {

int MCSimpleCombination::GetNCombinations() const {
    long long n = 1;
    for (int s : fvSizes) {
        if (s < 1) return -1;
        n *= s;
        if (n > INT_MAX) return -1;
    }
    return static_cast<int>(n);
}

bool MCSimpleCombination::GetCombinations(int index, std::vector<int>& digits) const {
    if (GetNCombinations() < 0) return false;
    digits.assign(fvSizes.size(), 0);
    for (std::size_t k = fvSizes.size(); k-- > 0;) {
        digits[k] = index % fvSizes[k];
        index /= fvSizes[k];
    }
    return true;
}

}  // namespace MCMath_850
