#pragma once
#include "companion/MCExport.h"
#include "companion/MCMV.h"

namespace MCMath_850 {

// The statistics of one regression parameter. A field that a model does not
// compute keeps its default (missing, or the values below); readers test for
// missing before using a value.
class MCREG_API MCRegrParameterStats {
public:
    MCRegrParameterStats() = default;

    // sqrt of the design effect; missing when it is missing, negative or NaN.
    double GetSqrtDeff() const;
    void Display() const;

    int fParamIndex = -1;
    double fEstimate = MCCommon_850::MCMV::Missing();
    bool fbRedundant = true;
    double fStdError = MCCommon_850::MCMV::Missing();
    double fCILower = MCCommon_850::MCMV::Missing();
    double fCIUpper = MCCommon_850::MCMV::Missing();
    double fTTest = MCCommon_850::MCMV::Missing();
    double fDF = 0.0;
    double fSig = MCCommon_850::MCMV::Missing();
    double fDeff = MCCommon_850::MCMV::Missing();
    int fEffectIndex = -1;
    double fChiSquare = MCCommon_850::MCMV::Missing();
    bool fbExpCI = false;
    double fExpCILower = MCCommon_850::MCMV::Missing();
    double fExpCIUpper = MCCommon_850::MCMV::Missing();
    double fZTest = MCCommon_850::MCMV::Missing();
    double fEffectSize = MCCommon_850::MCMV::Missing();
    double fEffectSizeCILower = MCCommon_850::MCMV::Missing();
    double fEffectSizeCIUpper = MCCommon_850::MCMV::Missing();
};

}  // namespace MCMath_850
