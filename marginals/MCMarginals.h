#pragma once
#include <memory>
#include <utility>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "data/MCFactorCounts.h"
#include "design/MCLiteDesignMatrix.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCTestStats.h"
#include "link/IMCLinkFunc.h"
#include "marginals/MCEmmeansSpec.h"
#include "marginals/MCEmmeansStats.h"
#include "marginals/MCEmmeansTest.h"
#include "settings/MCConst.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

struct MCEmmeansLMatrix;
class MCEmmeansLRows;
struct MCEmmeansPairInput;
struct MCEmmeansPairs;
class MCEmmeansRequests;
class MCMultiCompareMarginals;
class MCSatterthwaite;

// Estimated marginal means of a fitted model: for each request one L row
// per cell (combination of levels of the requested factors) that averages
// the model over the other factors with equal weights and holds covariates
// at given values or their means; the means L b with standard errors and
// intervals on the linear-predictor or the response scale; contrasts of the
// compare factor's levels within each combination of the other factors; and
// pairwise comparisons with multiplicity adjustment.
//
// This class is the front: the requests are checked by MCEmmeansRequests,
// their L rows built by MCEmmeansLRows, contrasts and pairwise comparisons
// computed in MCEmmeansContrasts and MCEmmeansPairwise (all internal), and
// requests with several compare factors use MCMultiCompareMarginals.
//
// Estimates, settings, design, cancel information and counts are the
// caller's and must outlive the object. Nothing throws; every query returns
// a status.
class MCREG_API MCMarginals {
public:
    typedef std::vector<std::pair<int, int>> FixedLevels;  // (factor, level)

    MCMarginals(const MCRegSettings& settings, const std::vector<MCEmmeansSpec>& specs,
                const MCLiteDesignMatrix& design, const std::vector<double>& estimates,
                MCCancelInfo& cancel, const std::vector<double>& covariateMeans,
                const MCFactorCounts* counts, MCConst::LinkType link, double linkParam);
    MCMarginals(const MCRegSettings& settings, const MCLiteDesignMatrix& design,
                const std::vector<double>& estimates, MCCancelInfo& cancel,
                const std::vector<double>& covariateMeans, const MCFactorCounts* counts);
    virtual ~MCMarginals();
    MCMarginals(const MCMarginals&) = delete;
    MCMarginals& operator=(const MCMarginals&) = delete;

    // covariance is the caller's and must outlive the object.
    MCCommon_850::MCStatus SetEmmeansTesting(const MCSymMatrix* covariance,
                                             const MCBitSet& nonRedundant, double errorDF,
                                             MCSatterthwaite* satterthwaite);
    bool SetLinkFunction(MCConst::LinkType type, double param);

    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    // Indexed by covariate record position.
    const std::vector<double>& GetCovariateMeans() const;

    MCCommon_850::MCStatus GetEmmeansStats(int spec, MCEmmeansSpec& specOut, MCRectMatrix& L,
                                           std::vector<MCEmmeansStats>& stats);
    int GetNEmmeansTests(int spec, MCCommon_850::MCStatus& status);
    MCCommon_850::MCStatus GetEmmeansTests(int spec, int test, FixedLevels& fixed,
                                           std::vector<int>& compared, MCRectMatrix& tested,
                                           std::vector<MCTestStats>& indiv, MCTestStats& overall);
    int GetNPairwiseEmmeansTests(int spec, int test);
    MCCommon_850::MCStatus GetPairwiseEmmeansTests(int spec, int test, int pair, FixedLevels& fixed,
                                                   std::vector<int>& compared,
                                                   MCEmmeansStats& stats);
    MCCommon_850::MCStatus GetPairwiseOverallTest(int spec, int test, FixedLevels& fixed,
                                                  MCTestStats& overall);
    // Linear-predictor means per usable level of factor, covariates at
    // their means; per point from low to high of covariate.
    MCCommon_850::MCStatus GetFactorEmmeans(int factor, MCRectMatrix& L,
                                            std::vector<double>& means);
    MCCommon_850::MCStatus GetCovarEmmeans(int covariate, double low, double high, int points,
                                           MCRectMatrix& L, std::vector<double>& values,
                                           std::vector<double>& means);
    // Every combination of levels of the request's compare factors, the
    // last one fastest.
    bool GetPWCombinations(int spec, std::vector<std::vector<int>>& combinations) const;

    // The request as checked and completed (covariates held at their means
    // where not given); null for an index out of range.
    const MCEmmeansSpec* GetSpec(int spec) const;
    // Position of a factor (record position) among the settings' factors;
    // -1 when it is none.
    int GetFactorPosition(int factor) const;
    // The test selected by the last query about a request's tests.
    const MCEmmeansTest& GetCurrentTest() const { return fTest; }

    // Ordered pair q of k items: i = q div (k-1), j the r-th other item.
    static void ComputePairIndices(int pair, int k, int& i, int& j);

    void Display() const;

private:
    void Init(const std::vector<MCEmmeansSpec>& specs, const std::vector<double>& covariateMeans);
    // The constructors' link; running out of memory for it is the object's error.
    void SetLink(MCConst::LinkType type, double param);
    MCCommon_850::MCStatus CheckSpec(int spec) const;
    // Builds the L matrix and test structure of spec (kept until another
    // request is asked for).
    MCCommon_850::MCStatus SetCurrentSpec(int spec);
    MCCommon_850::MCStatus SelectTest(int test);
    MCCommon_850::MCStatus SelectNewTest(int test);
    // The (factor, level) pairs of the current test's factors that are not
    // compared.
    void FillFixed(FixedLevels& fixed) const;
    double CriticalValue(double df) const;
    // What a pairwise comparison of the current test reads.
    void PairInput(MCEmmeansPairInput& in) const;
    MCCommon_850::MCStatus GetCombinationPair(int spec, int test, int pair, FixedLevels& fixed,
                                              std::vector<int>& compared, MCEmmeansStats& stats);

    const MCRegSettings& fSettings;
    const MCLiteDesignMatrix& fDesign;
    const std::vector<double>& fvEstimates;
    MCCancelInfo& fCancel;
    const MCFactorCounts* fpCounts;
    MCCommon_850::MCStatus fStatus;

    std::unique_ptr<MCEmmeansRequests> fpRequests;
    std::unique_ptr<MCEmmeansLRows> fpRows;
    std::unique_ptr<MCEmmeansLMatrix> fpLMatrix;       // the current request's L
    MCEmmeansTest fTest;                               // the current test
    MCCommon_850::MCStatus fTestStatus;                // what selecting it said
    std::unique_ptr<MCEmmeansPairs> fpPairs;           // the current test's pairs
    std::unique_ptr<MCMultiCompareMarginals> fpMulti;  // two or more compare factors

    // Testing, once SetEmmeansTesting ran.
    const MCSymMatrix* fpCovariance = nullptr;
    const MCBitSet* fpNonRedundant = nullptr;
    double fErrorDF = 0;
    double fCriticalValue;
    std::unique_ptr<MCModelTests> fpTester;
    MCConst::MCTestType fTestType;
    MCConst::MCPAdjustMethod fPAdjust = MCConst::PADJ_LSD;
    std::unique_ptr<IMCLinkFunc> fpLink;
    MCSatterthwaite* fpSatterthwaite = nullptr;
};

}  // namespace MCMath_850
