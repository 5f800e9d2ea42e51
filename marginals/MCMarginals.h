#pragma once
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "data/MCFactorCounts.h"
#include "design/MCLiteDesignMatrix.h"
#include "hypothesis/MCModelTests.h"
#include "hypothesis/MCTestStats.h"
#include "logistic/IMCLinkFunc.h"
#include "marginals/MCEmmeansSpec.h"
#include "marginals/MCEmmeansStats.h"
#include "settings/MCConst.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

class MCSatterthwaite;
class MCMultiCompareMarginals;

// Estimated marginal means of a fitted model: for each request one L row
// per cell (combination of levels of the requested factors) that averages
// the model over the other factors with equal weights and holds covariates
// at given values or their means; the means L b with standard errors and
// intervals on the linear-predictor or the response scale; contrasts of the
// compare factor's levels within each combination of the other factors; and
// pairwise comparisons with multiplicity adjustment.
//
// Estimates, settings, design, cancel information and counts are the
// caller's and must outlive the object. Nothing throws; every query returns
// a status.
class MCMarginals {
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
    const std::vector<double>& GetCovariateMeans() const { return fvCovMeans; }

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
    // Every combination of levels of the request's compare factors, the
    // last one fastest.
    // Linear-predictor means per usable level of factor, covariates at
    // their means; per point from low to high of covariate.
    MCCommon_850::MCStatus GetFactorEmmeans(int factor, MCRectMatrix& L,
                                            std::vector<double>& means);
    MCCommon_850::MCStatus GetCovarEmmeans(int covariate, double low, double high, int points,
                                           MCRectMatrix& L, std::vector<double>& values,
                                           std::vector<double>& means);
    bool GetPWCombinations(int spec, std::vector<std::vector<int>>& combinations) const;

    // Ordered pair q of k items: i = q div (k-1), j the r-th other item.
    static void ComputePairIndices(int pair, int k, int& i, int& j);

    void Display() const;

private:
    // Adds to row r of L the averaged design of the cell (levels of
    // factors, the other factors averaged with equal weights).
    void FillRow(MCRectMatrix& L, int r, const std::vector<int>& factors,
                 const std::vector<int>& levels, const std::vector<double>& covExpr) const;
    MCCommon_850::MCStatus ProfileRows(const std::vector<int>& factors,
                                       const std::vector<std::vector<int>>& cells,
                                       const std::vector<MCEmmeansSpec>& covs, MCRectMatrix& L,
                                       std::vector<double>& means) const;
    friend class MCMultiCompareMarginals;

    typedef std::map<std::vector<int>, std::vector<double>> CellMap;
    void Init(const std::vector<double>& covariateMeans);
    // Request factor indices, the compare factors last in compare-list order.
    bool BuildOrder(const MCEmmeansSpec& s, std::vector<int>& order) const;
    // Per request and marginal cell, how many observed design cells use
    // each parameter (and, last, how many there are).
    void ComputeIncompleteCounts();
    MCCommon_850::MCStatus SetIncompleteLMatrix(int spec, const std::vector<int>& order);
    bool IsComplete() const { return fbComplete; }
    double CovariateExpression(int effect, const MCEmmeansSpec& spec) const;
    // Builds the L matrix and test structure of spec (cached).
    MCCommon_850::MCStatus SetCurrentSpec(int spec);
    MCCommon_850::MCStatus SelectTest(int test);
    void FillFixed(int firstRow, FixedLevels& fixed) const;
    double CriticalValue(double df) const;
    MCCommon_850::MCStatus ComputePairs(int test);
    MCCommon_850::MCStatus CheckSpec(int spec) const;

    const MCRegSettings& fSettings;
    std::vector<MCEmmeansSpec> fvSpecs;
    const MCLiteDesignMatrix& fDesign;
    const std::vector<double>& fvEstimates;
    MCCancelInfo& fCancel;
    const MCFactorCounts* fpCounts;

    std::vector<double> fvCovMeans;
    std::vector<std::vector<int>> fvLevels;  // usable levels per settings factor
    std::vector<int> fvFactorPos;            // record index -> settings factor position
    std::vector<int> fvDesignPos;            // record index -> design factor position
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvSpecStatus;
    bool fbComplete = true;

    int fCurrentSpec = -1;
    std::unique_ptr<MCRectMatrix> fpL;
    std::vector<std::vector<int>> fvRowCats;  // per L row, levels in request order
    int fComparePos = -1;                     // compare factor among the request's factors
    int fNTests = 0;
    int fNCompare = 0;  // levels of the compare factor per test
    int fCurrentTest = -1;
    int fFirstRow = 0;
    std::vector<int> fvAllLevels;   // usable levels of the compare factor
    std::vector<int> fvTestStarts;  // incomplete design: first row per test, then the row count
    std::vector<CellMap> fvCells;   // incomplete design: per request
    std::vector<int> fvTestLevels;

    const MCSymMatrix* fpCovariance = nullptr;
    const MCBitSet* fpNonRedundant = nullptr;
    double fErrorDF = 0;
    double fCriticalValue;
    std::unique_ptr<MCModelTests> fpTester;
    MCConst::MCTestType fTestType;
    MCConst::MCPAdjustMethod fPAdjust = MCConst::PADJ_LSD;
    std::unique_ptr<IMCLinkFunc> fpLink;
    MCSatterthwaite* fpSatterthwaite = nullptr;

    int fPairTest = -1;  // test whose pairs are cached
    std::vector<MCEmmeansStats> fvPairs;
    std::vector<MCCommon_850::MCStatus> fvPairStatus;
    std::unique_ptr<MCMultiCompareMarginals> fpMulti;  // two or more compare factors
};

}  // namespace MCMath_850
