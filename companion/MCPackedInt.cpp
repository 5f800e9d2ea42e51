#include "companion/MCPackedInt.h"

#include <cstdint>

namespace MCMath_850 {

namespace {
// Every packed word is a mixed-radix number below 2^31, so it fits a
// non-negative int.
constexpr std::int64_t kWordLimit = std::int64_t{1} << 31;
}  // namespace

bool MCPackedInt::SetBounds(const std::vector<int>& bounds) {
    fvBounds.clear();
    fvGroupStart.clear();
    for (int b : bounds)
        if (b < 1) return false;
    fvBounds = bounds;
    std::int64_t product = 1;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        if (i == 0 || product * bounds[i] > kWordLimit) {
            fvGroupStart.push_back(static_cast<int>(i));
            product = 1;
        }
        product *= bounds[i];
    }
    return true;
}

bool MCPackedInt::Pack(const int* values, int n, std::vector<int>& packed) const {
    packed.assign(fvGroupStart.size(), 0);
    bool ok = n == GetNValues() && (n == 0 || values != nullptr);
    const int nv = ok ? n : 0;
    for (std::size_t g = 0; g < fvGroupStart.size(); ++g) {
        const int end = g + 1 < fvGroupStart.size() ? fvGroupStart[g + 1] : GetNValues();
        std::int64_t word = 0;
        for (int i = fvGroupStart[g]; i < end && i < nv; ++i) {
            const int v = values[i];
            if (v < 0 || v >= fvBounds[i]) ok = false;
            // Reduced into range so that the word stays below 2^31 even for a
            // bad value; the result is then flagged by the return value.
            const std::int64_t d = ((v % fvBounds[i]) + fvBounds[i]) % fvBounds[i];
            word = word * fvBounds[i] + d;
        }
        packed[g] = static_cast<int>(word);
    }
    return ok;
}

bool MCPackedInt::Unpack(const int* packed, int n, std::vector<int>& values) const {
    values.assign(fvBounds.size(), 0);
    if (n != GetNPacked() || (n > 0 && packed == nullptr)) return false;
    bool ok = true;
    for (std::size_t g = 0; g < fvGroupStart.size(); ++g) {
        const int end = g + 1 < fvGroupStart.size() ? fvGroupStart[g + 1] : GetNValues();
        std::int64_t word = packed[g];
        if (word < 0) {
            ok = false;
            continue;
        }
        for (int i = end - 1; i >= fvGroupStart[g]; --i) {
            values[i] = static_cast<int>(word % fvBounds[i]);
            word /= fvBounds[i];
        }
        if (word != 0) ok = false;
    }
    return ok;
}

}  // namespace MCMath_850
