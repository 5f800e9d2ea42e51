#pragma once
#include <map>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "marginals/MCEmmeansSpec.h"

namespace MCMath_850 {

class MCEmmeansRequests;
class MCLiteDesignMatrix;

// The L matrix of one marginal-means request (one row per cell) and how its
// rows form tests: a test is a run of rows that share the levels of the
// factors that are not compared.
struct MCEmmeansLMatrix {
    int fSpec = -1;  // the request; -1 while none is built
    MCRectMatrix fL;
    // Per row, a level per request factor in the request's factor order.
    std::vector<std::vector<int>> fvRowLevels;
    // The compare factor among the request's factors when there is exactly
    // one, else -1.
    int fComparePos = -1;
    int fNTests = 0;
    // Complete design: rows per test (compared items).
    int fNCompare = 0;
    // Incomplete design: the first row of every test, then the row count.
    std::vector<int> fvTestStarts;
    // Usable levels of the single compare factor.
    std::vector<int> fvAllLevels;
};

// Builds the L rows of the marginal means (internal to MCMarginals): for a
// request one row per cell that averages the model over the factors outside
// the cell with equal weights (complete design) or over the observed design
// cells (incomplete design), covariates held at the request's values; and
// the rows of profiles (each level of a factor, points of a covariate).
class MCEmmeansLRows {
public:
    MCEmmeansLRows(const MCLiteDesignMatrix& design, const MCEmmeansRequests& requests,
                   MCCancelInfo& cancel);

    // Incomplete design: per request and marginal cell, how many observed
    // design cells use each parameter (and, last, how many there are).
    // Status 1 on a cancel; throws std::bad_alloc when memory runs out.
    MCCommon_850::MCStatus CountIncompleteCells();

    // The L matrix of request spec with its factors in order (compare
    // factors last). Status 1 on a cancel, 303 without the incomplete
    // counts; requestStatus receives error 324 when every test of an
    // incomplete design has one row. Throws std::bad_alloc.
    MCCommon_850::MCStatus Build(int spec, const std::vector<int>& order, MCEmmeansLMatrix& out,
                                 MCCommon_850::MCStatus& requestStatus) const;

    // One row per cell (levels of factors, covariates at covs[r]) and the
    // means L b. Throws std::bad_alloc when memory runs out.
    MCCommon_850::MCStatus Profile(const std::vector<int>& factors,
                                   const std::vector<std::vector<int>>& cells,
                                   const std::vector<MCEmmeansSpec>& covs,
                                   const std::vector<double>& estimates, MCRectMatrix& L,
                                   std::vector<double>& means) const;

    // Product over the covariates of the effect of the request's value
    // (0 when not listed) raised to its multiplicity; 1 without covariates.
    double CovariateExpression(int effect, const MCEmmeansSpec& spec) const;

private:
    typedef std::map<std::vector<int>, std::vector<double>> CellMap;
    MCCommon_850::MCStatus BuildComplete(const MCEmmeansSpec& s, const std::vector<int>& order,
                                         MCEmmeansLMatrix& out) const;
    MCCommon_850::MCStatus BuildIncomplete(int spec, const std::vector<int>& order,
                                           MCEmmeansLMatrix& out,
                                           MCCommon_850::MCStatus& requestStatus) const;
    // Adds to row r of L the averaged design of the cell (levels of
    // factors); covExpr holds each effect's covariate expression.
    void FillRow(MCRectMatrix& L, int r, const std::vector<int>& factors,
                 const std::vector<int>& levels, const std::vector<double>& covExpr) const;

    const MCLiteDesignMatrix& fDesign;
    const MCEmmeansRequests& fRequests;
    MCCancelInfo& fCancel;
    std::vector<CellMap> fvCells;  // incomplete design: per request
};

}  // namespace MCMath_850
