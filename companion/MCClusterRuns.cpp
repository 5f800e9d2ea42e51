#include "companion/MCClusterRuns.h"

#include <cstring>

namespace MCMath_850 {

namespace {

std::uint64_t Mix(std::uint64_t h) {
    // splitmix64's finaliser.
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return h;
}

}  // namespace

void MCClusterRuns::Reset() {
    fbOpen = false;
    fbSingle = true;
    fLast = 0.0;
    fRuns = 0;
    fvDirect.clear();
    fvHashed.clear();
    fNHashed = 0;
}

void MCClusterRuns::NewRun(double key) {
    fbOpen = true;
    fLast = key;
    ++fRuns;
    if (!fbSingle) return;
    if (key >= 0.0 && key < kDirect && key == static_cast<double>(static_cast<long>(key))) {
        const std::size_t i = static_cast<std::size_t>(key);
        const std::size_t word = i / 64;
        if (word >= fvDirect.size()) fvDirect.resize(2 * word + 16, 0);
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        fbSingle = (fvDirect[word] & bit) == 0;
        fvDirect[word] |= bit;
        return;
    }
    // A key unequal to itself (not a number) cannot be told apart from
    // another run of it.
    if (!(key == key)) {
        fbSingle = false;
        return;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    fbSingle = !TestAndSetHashed(bits);
}

bool MCClusterRuns::TestAndSetHashed(std::uint64_t bits) {
    // At most half full, so a probe ends soon.
    if (2 * (fNHashed + 1) > fvHashed.size()) {
        std::vector<std::uint64_t> table(fvHashed.empty() ? 64 : 2 * fvHashed.size(), 0);
        const std::size_t mask = table.size() - 1;
        for (std::uint64_t b : fvHashed) {
            if (b == 0) continue;
            std::size_t at = Mix(b) & mask;
            while (table[at] != 0) at = (at + 1) & mask;
            table[at] = b;
        }
        fvHashed.swap(table);
    }
    const std::size_t mask = fvHashed.size() - 1;
    std::size_t at = Mix(bits) & mask;
    for (; fvHashed[at] != 0; at = (at + 1) & mask)
        if (fvHashed[at] == bits) return true;
    fvHashed[at] = bits;
    ++fNHashed;
    return false;
}

}  // namespace MCMath_850
