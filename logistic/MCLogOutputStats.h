#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSymMatrix.h"
#include "data/MCFactorCounts.h"
#include "design/MCRegrParameter.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"
#include "settings/MCRegrParameterStats.h"

namespace MCMath_850 {

class MCLogAlgorithm;

// The results of a built multinomial logistic model, read from the
// algorithm and its optimizer when the object is made. It points into the
// algorithm (parameters, estimates, covariance), so it must not outlive the
// component that made it.
//
// The covariance matrix is the inverse of the information matrix at the
// estimates, over all parameters (zero rows and columns for redundant
// ones). The per-parameter records carry the estimate and redundancy; the
// standard errors and tests follow from the covariance.
class MCLogOutputStats : public IMCRegOutputStats {
public:
    MCLogOutputStats(const MCRegSettings& settings, MCLogAlgorithm& algorithm);
    ~MCLogOutputStats() override;
    MCLogOutputStats(const MCLogOutputStats&) = delete;
    MCLogOutputStats& operator=(const MCLogOutputStats&) = delete;

    int GetModelType() const override { return 1; }
    const MCFactorCounts* GetFactorCounts() const override;
    const std::vector<double>& GetMeanValues() const override;
    const std::vector<double>& GetParamEstimates() const override;
    const std::vector<MCRegrParameter>& GetParameters() const override;
    double GetTotalFreqWeight() const override;
    double GetTotalRegrWeight() const override;
    // The settings' df when positive, else the total regression weight minus
    // the number of parameters (redundant ones included).
    double GetNDegFreedom() const override;
    // Cox and Snell (2), Nagelkerke (3) and McFadden (4) R-squares; missing
    // for any other statistic.
    double GetModelFitStat(MCConst::MCModelFitStat stat) const override;
    const MCSymMatrix* GetCovarianceMatrix() const override;
    const std::vector<MCRegrParameterStats>& GetParamStats() const override;
    const MCBitSet& GetRedundancyIndicators() const override;
    const MCRegRecordValidator& GetRecordValidator() const override;
    // The basic design row at the front of a row sized to all parameters.
    bool ExpandRow(const MCCommon_850::Record& record, std::vector<double>& row) const override;
    void Cancel() override;
    void Display() const override;

    // The record's parameter index and design value of every model effect.
    bool ExpandRow(const MCCommon_850::Record& record, std::vector<int>& indices,
                   std::vector<double>& values) const;
    // Category codes of the dependent, reference last.
    const std::vector<int>& GetDependCategories() const;

    class MCLogOutStatsImpl;

private:
    std::unique_ptr<MCLogOutStatsImpl> fpImpl;
};

}  // namespace MCMath_850
