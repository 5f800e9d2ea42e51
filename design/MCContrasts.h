#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"

namespace MCMath_850 {

// Coefficient matrices that compare the k levels of a factor: one row per
// comparison, one column per level in level order.
//
// Every operation resizes c (zero-filled) and fills it, returning an OK
// status; on invalid input (fewer than two levels, a reference level out of
// range, unusable metric values, or more levels than a matrix can hold) it
// returns error 320 and leaves c untouched.
class MCREG_API MCContrasts {
public:
    // (k-1) x k: each non-reference level, ascending, minus the reference.
    static MCCommon_850::MCStatus ComputeSimpleContrast(int k, int reference, MCRectMatrix& c);
    // k x k: each level minus the mean of all levels.
    static MCCommon_850::MCStatus ComputeDeviationContrast(int k, MCRectMatrix& c);
    // (k-1) x k: level i minus the mean of the later levels.
    static MCCommon_850::MCStatus ComputeHelmertContrast(int k, MCRectMatrix& c);
    // (k-1) x k: level i+1 minus the mean of the earlier levels.
    static MCCommon_850::MCStatus ComputeDifferenceContrast(int k, MCRectMatrix& c);
    // (k-1) x k: level i minus level i+1.
    static MCCommon_850::MCStatus ComputeRepeatedContrast(int k, MCRectMatrix& c);
    // (k-1) x k: orthonormal polynomials of degree 1 .. k-1 over the first k
    // metric values, which must be finite and distinct. Only their relative
    // spacing matters.
    static MCCommon_850::MCStatus ComputePolynomialContrast(int k,
                                                            const std::vector<double>& metric,
                                                            MCRectMatrix& c);
    // k(k-1) x k: for each level a, a minus every other level in ascending
    // order, so both orders of every pair occur.
    static MCCommon_850::MCStatus ComputePairwiseContrast(int k, MCRectMatrix& c);
};

}  // namespace MCMath_850
