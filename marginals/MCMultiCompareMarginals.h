#pragma once
#include <utility>
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "marginals/MCEmmeansStats.h"

namespace MCMath_850 {

class MCMarginals;

// Marginal-means requests with two or more compare factors: the compared
// items are the combinations of levels of all compare factors, compared
// pairwise within each combination of the remaining factors. Created and
// driven by MCMarginals, through its public interface and the current test
// it selected (MCMarginals::GetCurrentTest).
class MCREG_API MCMultiCompareMarginals {
public:
    typedef std::vector<std::pair<int, int>> FixedLevels;  // (factor, level)

    explicit MCMultiCompareMarginals(MCMarginals& marginals) : fMarginals(marginals) {}

    // Factor positions of spec's factors with the compare factors moved to
    // the end (in compare-list order); fills the two test-factor lists.
    // False for a request index out of range or a compare factor that is not
    // one of the request's factors.
    bool GetEmmeansFactorIndices(int spec, std::vector<int>& out, bool);
    // The compare-level combinations of a complete design, last compare
    // factor fastest (every test holds all of them). Error 303 when there
    // are none.
    MCCommon_850::MCStatus DoAfterCompleteLMatrix(int spec);
    // The compare-level combinations of the rows of the current test
    // (incomplete design).
    MCCommon_850::MCStatus DoAfterSetEmmeansTest(int test);
    // (factor, level) pairs of the non-compare factors of the current test.
    void GetTableFactors(int spec, int test, FixedLevels& out) const;

    const std::vector<int>& GetTestFactors() const { return fvTestFactors; }
    const std::vector<int>& GetEMTestFactors() const { return fvEMTestFactors; }
    int GetTestCatsSize() const { return static_cast<int>(fvTestCats.size()); }

    // Both forward to MCMarginals.
    int GetNPairwiseEmmeansTests(int spec, int test);
    MCCommon_850::MCStatus GetPairwiseEmmeansTests(int spec, int test, int pair, FixedLevels& fixed,
                                                   std::vector<int>& compared,
                                                   MCEmmeansStats& stats);

    static void ComputePairIndices(int pair, int k, std::pair<int, int>& out);
    static int GetPos(const std::vector<int>& list, int value);
    // Appends the compare levels of a test combination.
    void PushCompareFactors(int combination, std::vector<int>& out) const;
    // Row first + offsets[t] of A into row t of out; false when a row lies
    // outside A (the copy stops there).
    static bool GetNRowsFromAMatrix(const MCRectMatrix& A, const std::vector<int>& offsets,
                                    MCRectMatrix& out, int first);
    // 1 x n: row 0 of A minus row 1.
    static bool SubtractPairMatrix(const MCRectMatrix& A, MCRectMatrix& out);

private:
    std::vector<int> fvTestFactors;    // settings positions of the compare factors
    std::vector<int> fvEMTestFactors;  // their positions among the request's factors
    std::vector<std::vector<int>> fvTestCats;
    MCMarginals& fMarginals;
};

}  // namespace MCMath_850
