#pragma once
// What the two files of MCModelTests share (internal): the tolerances, the
// test-type predicates and the records a test starts from.
#include <cmath>
#include <limits>

#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "companion/MCStatusCodes.h"
#include "hypothesis/MCTestStats.h"
#include "settings/MCConst.h"
#include "settings/MCWaldTest.h"

namespace MCMath_850 {
namespace ModelTestsDetail {

constexpr double kTol = 1e-12;
// Hypothesis matrices of at least this order are tried with a Cholesky
// factor before the sweep.
constexpr int kFactorOrder = 32;
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

inline bool IsValue(double x) {
    return !MCCommon_850::MCMV::IsMissing(x) && !std::isnan(x);
}

// Rows tested by t with the error (or Satterthwaite) degrees of freedom.
inline bool IsFTest(MCConst::MCTestType type) {
    return type == MCConst::TEST_WALD_F || type == MCConst::TEST_T;
}

// A single row of a t-family test is a t test, of a chi-square one a
// one-df Wald chi-square.
inline MCWaldTest::Family WaldFamily(MCConst::MCTestType type) {
    return IsFTest(type) ? MCWaldTest::FAMILY_T : MCWaldTest::FAMILY_CHISQUARE;
}

inline bool HasOverallTest(MCConst::MCTestType type) {
    return type == MCConst::TEST_WALD_F || type == MCConst::TEST_CHISQUARE;
}

inline MCCommon_850::MCStatus ColumnMismatch(long got, long expected) {
    MCCommon_850::MCStatus s = MCCommon_850::ErrorStatus(MCCommon_850::StatusCode::kLMatrixColumns);
    s.SetDiscreteDatum(1, got);
    s.SetDiscreteDatum(2, expected);
    return s;
}

// The record a test starts from: fresh, carrying the tester's settings.
inline MCTestStats FreshRecord(MCConst::MCTestType type, MCConst::MCPAdjustMethod method) {
    MCTestStats t;
    t.SetTestType(type);
    t.SetPAdjMethod(method);
    return t;
}

}  // namespace ModelTestsDetail
}  // namespace MCMath_850
