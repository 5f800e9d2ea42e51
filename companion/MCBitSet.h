#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// A fixed-size set of bits, all clear at construction.
class MCREG_API MCBitSet {
public:
    MCBitSet() = default;
    explicit MCBitSet(int n) { Resize(n); }

    int Size() const { return fN; }
    bool IsIn(int i) const { return i >= 0 && i < fN && ((fvWords[i >> 6] >> (i & 63)) & 1u) != 0; }
    void Set(int i, bool on = true) {
        if (i < 0 || i >= fN) return;
        const std::uint64_t bit = std::uint64_t{1} << (i & 63);
        if (on)
            fvWords[i >> 6] |= bit;
        else
            fvWords[i >> 6] &= ~bit;
    }
    void Unset(int i) { Set(i, false); }
    // Sets (or clears) the bits first .. first + count - 1.
    void SetRange(int first, int count, bool on = true) {
        for (int i = first; i < first + count; ++i) Set(i, on);
    }
    // Number of members among first .. first + count - 1.
    int InRange(int first, int count) const {
        int n = 0;
        for (int i = first; i < first + count; ++i) n += IsIn(i) ? 1 : 0;
        return n;
    }
    int Count() const { return InRange(0, fN); }
    // Keeps the bits below min(old, n); new bits are clear.
    void Resize(int n) {
        if (n < 0) n = 0;
        fvWords.resize((static_cast<std::size_t>(n) + 63) / 64, 0);
        fN = n;
        if (fN & 63) fvWords.back() &= (std::uint64_t{1} << (fN & 63)) - 1;
    }
    void Clear() { std::fill(fvWords.begin(), fvWords.end(), 0); }
    bool operator==(const MCBitSet& o) const { return fN == o.fN && fvWords == o.fvWords; }
    bool operator!=(const MCBitSet& o) const { return !(*this == o); }

private:
    int fN = 0;
    std::vector<std::uint64_t> fvWords;
};

}  // namespace MCMath_850
