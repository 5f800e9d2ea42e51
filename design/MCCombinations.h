#pragma once
#include <vector>

namespace MCMath_850 {

// An odometer over the category combinations of a chosen subset of variable
// positions, the last enumerated position turning fastest.
//
//   MCCombinations c;
//   c.Set(&categoryLists, positions);
//   while (c.Next(values)) { ... values[position] holds a category value ... }
//
// Values at positions that are not enumerated are never touched.
class MCCombinations {
public:
    MCCombinations() = default;
    MCCombinations(const MCCombinations&) = default;
    MCCombinations& operator=(const MCCombinations&) = default;

    // categoryLists (not owned; must outlive the enumeration) gives, for each
    // variable position, its category values in order. Positions are
    // enumerated in the given order, except those in excluded. False (and
    // nothing to enumerate) for a null list or a position outside
    // 0 .. number of lists - 1.
    bool Set(const std::vector<std::vector<int>>* categoryLists, const std::vector<int>& positions,
             const std::vector<int>& excluded);
    bool Set(const std::vector<std::vector<int>>* categoryLists, const std::vector<int>& positions);

    // Writes the next combination into values (indexed by variable
    // position). False when all combinations are done, when an enumerated
    // position has no category, or when a position lies beyond the size of
    // values (the others are still written). With nothing to enumerate the
    // first call returns true once.
    bool Next(std::vector<int>& values);
    void Reset() { fbReset = true; }

    // Product of the category counts of the enumerated positions; 1 when
    // there is none.
    double GetNCombinations() const;

    int GetNFreeVars() const { return fNFreeVars; }
    const std::vector<int>& GetFreeVars() const { return fvFreeVars; }

    void Display() const;

private:
    const std::vector<std::vector<int>>* fpCategoryLists = nullptr;
    std::vector<int> fvNVarCats;
    std::vector<int> fvFreeVars;
    int fNFreeVars = 0;
    std::vector<int> fvCurrCat;
    bool fbReset = true;
};

}  // namespace MCMath_850
