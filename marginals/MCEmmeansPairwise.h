#pragma once
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "hypothesis/MCPAdjust.h"
#include "marginals/MCEmmeansStats.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

class MCModelTests;
class MCMultiCompareMarginals;

// Pairwise comparisons of the compared items of one test of a marginal-means
// request (internal to MCMarginals). The k items are rows first .. first +
// k - 1 of the request's L matrix; the k(k - 1) ordered pairs are numbered
// as MCMarginals::ComputePairIndices says.
struct MCEmmeansPairInput {
    const MCRectMatrix* fpL = nullptr;
    int fFirstRow = 0;
    int fK = 0;
    const std::vector<double>* fpEstimates = nullptr;
    MCModelTests* fpTester = nullptr;
    MCCancelInfo* fpCancel = nullptr;
    MCConst::MCEmmScaleType fScale = MCConst::EMM_SCALE_ORIGINAL;
    MCConst::MCPAdjustMethod fMethod = MCConst::PADJ_LSD;
    MCConst::MCTestType fTestType = MCConst::TEST_CHISQUARE;
    double fAlpha = 0.05;  // 1 - confidence level
    double fErrorDF = 0.0;
    // Each row has its own denominator df (Satterthwaite's), worked out from
    // the whole row.
    bool fbRowDF = false;
};

// The comparisons of one test computed as a family and kept until another
// test (or request) is asked for.
struct MCEmmeansPairs {
    int fSpec = -1;
    int fTest = -1;
    std::vector<int> fvLevels;  // of the compared items, in row order
    std::vector<MCEmmeansStats> fvStats;
    std::vector<MCCommon_850::MCStatus> fvStatus;
    // Kept across tests, whose families are often of one size.
    MCQuantileCache fQuantiles;

    bool Holds(int spec, int test) const { return fSpec == spec && fTest == test; }
    void Forget() { fSpec = fTest = -1; }
};

bool IsStepDown(MCConst::MCPAdjustMethod method);

// One compare factor: every pair of the levels (levels[i] the level of row
// first + i), with intervals and adjusted significances, step-down methods
// applied to the family. Status 1 on a cancel.
MCCommon_850::MCStatus ComputeLevelPairs(const MCEmmeansPairInput& in,
                                         const std::vector<int>& levels, MCEmmeansPairs& out);

// Several compare factors: the pair of combinations (multi's test level
// combinations) with intervals at the critical value crit.
MCCommon_850::MCStatus ComputeCombinationPair(const MCEmmeansPairInput& in, int pair, double crit,
                                              const MCMultiCompareMarginals& multi,
                                              MCEmmeansStats& stats);
// All pairs of combinations with a step-down method applied to the family.
// Status 1 on a cancel; the first failing pair's error otherwise.
MCCommon_850::MCStatus ComputeCombinationPairs(const MCEmmeansPairInput& in, double crit,
                                               const MCMultiCompareMarginals& multi,
                                               MCEmmeansPairs& out);

}  // namespace MCMath_850
