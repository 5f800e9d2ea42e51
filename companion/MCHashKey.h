#pragma once
#include <cstdint>
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// A key of n ints with a stored hash code, used by the hash tables of cells,
// covariate patterns and marginal-mean cells.
//
// operator< is the lexicographic order of the entries, a shorter key first
// on a common prefix. Parameters of an effect are numbered in this order, so
// they come out in ascending category order with the first factor slowest.
class MCREG_API MCHashKey {
public:
    static const std::uint32_t ADD_LOWER_BOUND;
    static const std::uint32_t PRIME_FACTOR[49];

    MCHashKey() = default;
    explicit MCHashKey(int n) : fvKey(n > 0 ? static_cast<std::size_t>(n) : 0, 0) {}
    explicit MCHashKey(std::vector<int> values) : fvKey(std::move(values)) { ComputeHash(); }

    int Size() const { return static_cast<int>(fvKey.size()); }
    void Resize(int n) {
        fvKey.assign(n > 0 ? static_cast<std::size_t>(n) : 0, 0);
        fHash = 0;
    }
    int& operator[](int i) { return fvKey[static_cast<std::size_t>(i)]; }
    int operator[](int i) const { return fvKey[static_cast<std::size_t>(i)]; }
    int* GetAll() { return fvKey.data(); }
    const int* GetAll() const { return fvKey.data(); }
    const std::vector<int>& GetValues() const { return fvKey; }

    // XOR over i of (ADD_LOWER_BOUND + key[i]) * PRIME_FACTOR[i mod 49] in
    // 32-bit unsigned arithmetic (0 for an empty key), with the sign bit
    // cleared so that the stored code is never negative.
    static int Hash(const int* values, int n) {
        std::uint32_t h = 0;
        for (int i = 0; i < n; ++i)
            h ^= (ADD_LOWER_BOUND + static_cast<std::uint32_t>(values[i])) * PRIME_FACTOR[i % 49];
        return static_cast<int>(h & 0x7fffffffu);
    }
    int ComputeHash() { return fHash = Hash(fvKey.data(), Size()); }
    int GetHashCode() const { return fHash; }
    void SetHashCode(int h) { fHash = h; }

    bool operator<(const MCHashKey& o) const {
        const std::size_t n = fvKey.size() < o.fvKey.size() ? fvKey.size() : o.fvKey.size();
        for (std::size_t i = 0; i < n; ++i)
            if (fvKey[i] != o.fvKey[i]) return fvKey[i] < o.fvKey[i];
        return fvKey.size() < o.fvKey.size();
    }
    bool operator==(const MCHashKey& o) const { return fvKey == o.fvKey; }
    bool operator!=(const MCHashKey& o) const { return !(*this == o); }

private:
    std::vector<int> fvKey;
    int fHash = 0;
};

}  // namespace MCMath_850
