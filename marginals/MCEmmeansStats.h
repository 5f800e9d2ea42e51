#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCMV.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// One result row of the marginal means: an estimated mean, or one pairwise
// difference of means, with its standard error, confidence bounds and test
// values. A plain value; values not computed hold the system-missing value.
class MCREG_API MCEmmeansStats {
public:
    MCEmmeansStats() = default;

    // Empties Categories and sets every value to missing.
    void Reset();

    // Level indices of the cell, one per factor of the marginal-means request in its
    // order; for a pairwise comparison the level(s) compared with.
    const std::vector<int>& GetCategories() const { return fvCategories; }
    std::vector<int>& GetCategories() { return fvCategories; }
    void SetCategories(const std::vector<int>& categories) { fvCategories = categories; }

    double GetMean() const { return fMean; }
    void SetMean(double x) { fMean = x; }
    double GetStandardError() const { return fStandardError; }
    void SetStandardError(double x) { fStandardError = x; }
    double GetLower() const { return fLower; }
    void SetLower(double x) { fLower = x; }
    double GetUpper() const { return fUpper; }
    void SetUpper(double x) { fUpper = x; }
    double GetSignificance() const { return fSignificance; }
    void SetSignificance(double x) { fSignificance = x; }
    double GetDF() const { return fDF; }
    void SetDF(double x) { fDF = x; }
    double GetTStatistics() const { return fTStatistics; }
    void SetTStatistics(double x) { fTStatistics = x; }

    // Step-down adjustment of a family of pairwise comparisons
    // rows[members[0]], rows[members[1]], ... (indices outside the vector are
    // skipped; rows without a Significance take no part) with multiplicity k:
    // replaces Significance by the adjusted p-value and the bounds by
    // Mean -/+ the step's critical value x Standard error, the critical value
    // taken with the row's degrees of freedom (errorDf when not positive).
    // False, nothing changed, for a method that is not step-down.
    static bool StepDown(MCConst::MCPAdjustMethod method, MCConst::MCTestType testType,
                         double alpha, double errorDf, int k, std::vector<MCEmmeansStats>& rows,
                         const std::vector<int>& members);

    void Display() const;

private:
    std::vector<int> fvCategories;
    double fMean = MCCommon_850::MCMV::Missing();
    double fStandardError = MCCommon_850::MCMV::Missing();
    double fLower = MCCommon_850::MCMV::Missing();
    double fUpper = MCCommon_850::MCMV::Missing();
    double fSignificance = MCCommon_850::MCMV::Missing();
    double fDF = MCCommon_850::MCMV::Missing();
    double fTStatistics = MCCommon_850::MCMV::Missing();
};

}  // namespace MCMath_850
