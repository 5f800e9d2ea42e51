#pragma once
#include <vector>

namespace MCMath_850 {

// Packs a sequence of bounded non-negative ints into fewer ints and back.
//
// Entry i takes values 0 .. bound[i] - 1. Consecutive entries are grouped
// while the product of their bounds stays below 2^31, and each group is
// written as one mixed-radix number, so equal sequences give equal packed
// words and different sequences different ones. The packed length depends on
// the bounds only (GetNPacked()).
class MCPackedInt {
public:
    MCPackedInt() = default;
    explicit MCPackedInt(const std::vector<int>& bounds) { SetBounds(bounds); }

    // False (and an empty packer) when a bound is below 1.
    bool SetBounds(const std::vector<int>& bounds);
    const std::vector<int>& GetBounds() const { return fvBounds; }
    int GetNValues() const { return static_cast<int>(fvBounds.size()); }
    int GetNPacked() const { return static_cast<int>(fvGroupStart.size()); }

    // packed receives GetNPacked() words. False when the count differs from
    // GetNValues() or a value lies outside 0 .. bound - 1; the words are then
    // still written but do not identify the sequence.
    bool Pack(const int* values, int n, std::vector<int>& packed) const;
    bool Pack(const std::vector<int>& values, std::vector<int>& packed) const {
        return Pack(values.data(), static_cast<int>(values.size()), packed);
    }
    // values receives GetNValues() entries. False when n differs from
    // GetNPacked() or a word is negative.
    bool Unpack(const int* packed, int n, std::vector<int>& values) const;
    bool Unpack(const std::vector<int>& packed, std::vector<int>& values) const {
        return Unpack(packed.data(), static_cast<int>(packed.size()), values);
    }

private:
    std::vector<int> fvBounds;
    // Index of the first entry of each packed word.
    std::vector<int> fvGroupStart;
};

}  // namespace MCMath_850
