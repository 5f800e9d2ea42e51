#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// The test of a marginal-means request that MCMarginals selected last: the
// rows of the request's L matrix it occupies and the levels they stand for.
// MCMultiCompareMarginals reads it to form the compared combinations and the
// fixed levels of the test. A plain value.
struct MCREG_API MCEmmeansTest {
    int fSpec = -1;  // the request
    int fTest = -1;  // the test within the request; -1 while none is selected
    int fFirstRow = 0;
    // Per row of the test (compared item), a level per request factor in the
    // request's factor order.
    std::vector<std::vector<int>> fvRowLevels;

    // The number of compared items.
    int GetNCompare() const { return static_cast<int>(fvRowLevels.size()); }
};

}  // namespace MCMath_850
