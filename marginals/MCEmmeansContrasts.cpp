#include "marginals/MCEmmeansContrasts.h"

#include "companion/MCStatusCodes.h"
#include "design/MCContrasts.h"
#include "hypothesis/MCModelTests.h"
#include "marginals/MCEmmeansRequests.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCStatus BuildEmmeansContrast(const MCEmmeansSpec& spec, const std::vector<int>& allLevels,
                              std::vector<int>& compared, MCRectMatrix& C, MCStatus& warning) {
    const int k = static_cast<int>(compared.size());
    switch (spec.GetContrastType()) {
        case MCConst::CONTRAST_SIMPLE: {
            int ref = k - 1;
            const int at =
                spec.GetRefCateg() >= 0 ? FindPosition(compared, spec.GetRefCateg()) : -1;
            if (at >= 0) {
                ref = at;
            } else if (spec.GetRefCateg() >= 0) {
                warning = WarningStatus(StatusCode::kReferenceNotLevel);
            } else if (!allLevels.empty() && compared.back() != allLevels.back()) {
                warning = WarningStatus(StatusCode::kLastLevelMissing);
            }
            const MCStatus cs = MCContrasts::ComputeSimpleContrast(k, ref, C);
            const auto reference = compared.begin() + ref;
            const int level = *reference;
            compared.erase(reference);
            compared.push_back(level);
            return cs;
        }
        case MCConst::CONTRAST_DEVIATION:
            return MCContrasts::ComputeDeviationContrast(k, C);
        case MCConst::CONTRAST_HELMERT:
            return MCContrasts::ComputeHelmertContrast(k, C);
        case MCConst::CONTRAST_DIFFERENCE:
            return MCContrasts::ComputeDifferenceContrast(k, C);
        case MCConst::CONTRAST_REPEATED:
            return MCContrasts::ComputeRepeatedContrast(k, C);
        default:
            return MCContrasts::ComputePolynomialContrast(k, spec.GetMetricValueList(), C);
    }
}

MCStatus TestEmmeansContrast(MCModelTests& tester, const std::vector<double>& estimates,
                             MCConst::MCEmmScaleType scale, const MCRectMatrix& C,
                             const MCRectMatrix& A, MCRectMatrix& tested,
                             std::vector<MCTestStats>& indiv, MCTestStats& overall) {
    if (scale == MCConst::EMM_SCALE_TRANSFORMED) {
        if (!C.ComputeMatrixProduct(A, tested)) return ErrorStatus(StatusCode::kAllocationFailed);
        return tester.ComputeOvAndIndTests(tested, {}, indiv, overall, 0);
    }
    tested = C;
    return tester.ComputeOriginalOvAndIndTests(A, estimates, C, indiv, overall, 0);
}

MCStatus TestEmmeansOverall(MCModelTests& tester, const std::vector<double>& estimates,
                            MCConst::MCEmmScaleType scale, const MCRectMatrix& C,
                            const MCRectMatrix& A, MCTestStats& overall) {
    if (scale == MCConst::EMM_SCALE_TRANSFORMED) {
        MCRectMatrix T;
        if (!C.ComputeMatrixProduct(A, T)) return ErrorStatus(StatusCode::kAllocationFailed);
        return tester.ComputeOverallTest(T, overall);
    }
    return tester.ComputeOriginalOverallTest(A, estimates, C, overall);
}

MCRectMatrix EmmeansTestRows(const MCRectMatrix& L, int first, int count) {
    MCRectMatrix A(count, L.GetNCols());
    for (int r = 0; r < count; ++r)
        for (int j = 0; j < L.GetNCols(); ++j) A.SetElem(r, j, L.GetElem(first + r, j));
    return A;
}

}  // namespace MCMath_850
