#pragma once
#include <vector>

#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "hypothesis/MCTestStats.h"
#include "marginals/MCEmmeansSpec.h"

namespace MCMath_850 {

class MCModelTests;

// Contrasts among the compared levels of one test of a marginal-means
// request (internal to MCMarginals).

// The request's contrast matrix C for the k levels compared (one column per
// level); compared is reordered to C's columns (a simple contrast's
// reference last). warning receives 327 for a reference that is not
// compared and 331 when the last level is missing from the test.
MCCommon_850::MCStatus BuildEmmeansContrast(const MCEmmeansSpec& spec,
                                            const std::vector<int>& allLevels,
                                            std::vector<int>& compared, MCRectMatrix& C,
                                            MCCommon_850::MCStatus& warning);

// Tests C mu of the means mu of the test's rows A of L on the request's
// scale: on the linear predictor the rows C A of tested; on the response
// scale tested is C itself. The overall test and one per row of C.
MCCommon_850::MCStatus TestEmmeansContrast(MCModelTests& tester,
                                           const std::vector<double>& estimates,
                                           MCConst::MCEmmScaleType scale, const MCRectMatrix& C,
                                           const MCRectMatrix& A, MCRectMatrix& tested,
                                           std::vector<MCTestStats>& indiv, MCTestStats& overall);

// The overall test of C mu = 0 alone.
MCCommon_850::MCStatus TestEmmeansOverall(MCModelTests& tester,
                                          const std::vector<double>& estimates,
                                          MCConst::MCEmmScaleType scale, const MCRectMatrix& C,
                                          const MCRectMatrix& A, MCTestStats& overall);

// Rows first .. first + count - 1 of L.
MCRectMatrix EmmeansTestRows(const MCRectMatrix& L, int first, int count);

}  // namespace MCMath_850
