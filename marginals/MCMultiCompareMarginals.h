#pragma once
#include <utility>
#include <vector>

#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "marginals/MCEmmeansStats.h"

namespace MCMath_850 {

class MCMarginals;

// Marginal-means requests with two or more compare factors: the compared
// items are the combinations of levels of all compare factors, compared
// pairwise within each combination of the remaining factors. Created and
// driven by MCMarginals, which it reads as a friend.
class MCMultiCompareMarginals {
public:
    typedef std::vector<std::pair<int, int>> FixedLevels;  // (factor, level)

    explicit MCMultiCompareMarginals(MCMarginals& marginals) : fMarginals(marginals) {}

    // Factor positions of spec's factors with the compare factors moved to
    // the end (in compare-list order); fills the two test-factor lists.
    // False for a compare factor that is not one of the request's factors.
    bool GetEmmeansFactorIndices(int spec, std::vector<int>& out, bool);
    // The compare-level combinations of a complete design, last compare
    // factor fastest; the number of tests follows from them.
    MCCommon_850::MCStatus DoAfterCompleteLMatrix(int spec);
    // (factor, level) pairs of the non-compare factors of a test.
    void GetTableFactors(int spec, int test, FixedLevels& out) const;

    const std::vector<int>& GetTestFactors() const { return fvTestFactors; }
    const std::vector<int>& GetEMTestFactors() const { return fvEMTestFactors; }
    int GetTestCatsSize() const { return static_cast<int>(fvTestCats.size()); }

    int GetNPairwiseEmmeansTests(int spec, int test);
    MCCommon_850::MCStatus GetPairwiseEmmeansTests(int spec, int test, int pair, FixedLevels& fixed,
                                                   std::vector<int>& compared,
                                                   MCEmmeansStats& stats);

    static void ComputePairIndices(int pair, int k, std::pair<int, int>& out);
    static int GetPos(const std::vector<int>& list, int value);
    void PushCompareFactors(int combination, std::vector<int>& out) const;
    // Row first + offsets[t] of A into row t of out; false when a row lies
    // outside A (the copy stops there).
    static bool GetNRowsFromAMatrix(const MCRectMatrix& A, const std::vector<int>& offsets,
                                    MCRectMatrix& out, int first);
    // 1 x n: row 0 of A minus row 1.
    static bool SubtractPairMatrix(const MCRectMatrix& A, MCRectMatrix& out);

private:
    friend class MCMarginals;
    MCCommon_850::MCStatus ComputePair(int spec, int pair, int K, double crit,
                                       MCEmmeansStats& stats) const;
    std::vector<int> fvTestFactors;
    std::vector<int> fvEMTestFactors;
    std::vector<std::vector<int>> fvTestCats;
    MCMarginals& fMarginals;
    // Step-down family of the current test.
    int fCacheSpec = -1;
    int fCacheTest = -1;
    std::vector<MCEmmeansStats> fvPairs;
    std::vector<MCCommon_850::MCStatus> fvPairStatus;
};

}  // namespace MCMath_850
