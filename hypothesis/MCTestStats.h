#pragma once
#include "companion/MCExport.h"
#include "companion/MCMV.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// The outcome of one hypothesis test: an effect test, the overall or one
// individual test of an L matrix, a test of marginal means or of one of their
// pairwise differences. A plain value; statistics that were not computed hold
// the system-missing value. Setters store their argument unchanged.
class MCREG_API MCTestStats {
public:
    MCTestStats() { Reset(true); }

    // Clears the statistics. With resetAll the test type (chi-square) and the
    // adjustment method (none) return to their defaults as well; otherwise
    // they survive, so a record can be refilled by the same tester.
    void Reset(bool resetAll);

    MCConst::MCTestType GetTestType() const { return fTestType; }
    void SetTestType(MCConst::MCTestType t) { fTestType = t; }
    MCConst::MCPAdjustMethod GetPAdjMethod() const { return fPAdjMethod; }
    void SetPAdjMethod(MCConst::MCPAdjustMethod m) { fPAdjMethod = m; }

    double GetDF() const { return fDF; }
    void SetDF(double df) { fDF = df; }
    double GetDF2() const { return fDF2; }
    void SetDF2(double df2) { fDF2 = df2; }
    double GetWald() const { return fWald; }
    void SetWald(double w) { fWald = w; }
    double GetSig() const { return fSig; }
    void SetSig(double p) { fSig = p; }
    double GetAdjSig() const { return fAdjSig; }
    void SetAdjSig(double p) { fAdjSig = p; }
    double GetContrastEstimate() const { return fContrastEstimate; }
    void SetContrastEstimate(double e) { fContrastEstimate = e; }
    double GetStandardError() const { return fStandardError; }
    void SetStandardError(double se) { fStandardError = se; }

    // Individual test: whether its row was pivoted in the overall test's
    // generalised inverse. Overall test: whether L had full row rank (or
    // rank 0).
    bool IsUsedInOverallTest() const { return fbUsedInOverall; }
    void SetUsedInOverallTest(bool used) { fbUsedInOverall = used; }

    // The multiplicity of the adjustments: the number of non-redundant rows.
    int GetNNonRedunRows() const { return fNNonRedunRows; }
    void SetNNonRedunRows(int n) { fNNonRedunRows = n; }

    double GetLowerConfidenceInterval() const { return fLower; }
    void SetLowerConfidenceInterval(double x) { fLower = x; }
    double GetUpperConfidenceInterval() const { return fUpper; }
    void SetUpperConfidenceInterval(double x) { fUpper = x; }

    void Display() const;

private:
    MCConst::MCTestType fTestType = MCConst::TEST_CHISQUARE;
    MCConst::MCPAdjustMethod fPAdjMethod = MCConst::PADJ_LSD;
    double fDF = 0.0;
    double fDF2 = MCCommon_850::MCMV::Missing();
    double fWald = MCCommon_850::MCMV::Missing();
    double fSig = MCCommon_850::MCMV::Missing();
    double fAdjSig = MCCommon_850::MCMV::Missing();
    double fContrastEstimate = MCCommon_850::MCMV::Missing();
    double fStandardError = MCCommon_850::MCMV::Missing();
    bool fbUsedInOverall = true;
    int fNNonRedunRows = 0;
    double fLower = MCCommon_850::MCMV::Missing();
    double fUpper = MCCommon_850::MCMV::Missing();
};

}  // namespace MCMath_850
