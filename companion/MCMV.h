#pragma once
#include <cfloat>

#include "companion/MCExport.h"

namespace MCCommon_850 {

// The system-missing value. It is the most negative finite double, so it
// compares below -0.5 (how the record rules recognise a missing category
// code) and never above 0 (how weights are rejected).
class MCREG_API MCMV {
public:
    static constexpr double Missing() { return -DBL_MAX; }
    static constexpr bool IsMissing(double x) { return x == -DBL_MAX; }
};

}  // namespace MCCommon_850
