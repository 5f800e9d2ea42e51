#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
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
// ones). The per-parameter records carry the estimate, its standard error,
// the one-df Wald chi-square with its Sig., and the normal interval at the
// settings' confidence level with its exponent (the interval of Exp(B)), as
// MCWaldTest makes them; a redundant parameter has none.
class MCREG_API MCLogOutputStats : public IMCRegOutputStats {
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
    // Per response category (in that order) its weighted and unweighted
    // count.
    const std::vector<double>& GetCategoryWeights() const;
    const std::vector<double>& GetCategoryCounts() const;
    // The weights of the used records by observed (row) and predicted
    // (column) category, J by J in the order of GetDependCategories, as
    // the fitted model's scorer of new records predicts them, counted in
    // the estimation's last pass; false when the library cannot vouch for
    // it (see MCAccumStatsLogistic::Classify), and the caller then counts
    // them itself.
    bool GetFinalPassClassification(std::vector<double>& counts) const;

    // The estimation: iterations, the convergence code (1-3 converged, 4
    // singular information, 5 step-halving exhausted, 6 iteration limit, 7
    // complete and 8 quasi-complete separation, 9 nothing to iterate) and
    // the log-likelihoods of the start (the intercept-only fit when the
    // model has an intercept) and of the estimates.
    int GetIterations() const;
    int GetConvergenceCode() const;
    double GetInitialLogLikelihood() const;
    double GetFinalLogLikelihood() const;

    // The basic design of one logit: its number of parameters, their
    // redundancy (bit set: not redundant), the first parameter and number of
    // parameters of each effect (the intercept first when used), and X'X
    // swept on the non-redundant pivots, whose negation is the generalized
    // inverse that the tests of model effects take.
    int GetNBasicParameters() const;
    const MCBitSet& GetBasicRedundancy() const;
    bool GetParamsForEffect(int effect, int& first, int& count) const;
    const MCSymMatrix* GetSweptCrossProduct() const;
    // The basic design's X'X before that sweep (null once cleared).
    const MCSymMatrix* GetCrossProduct() const;
    // The diagonal of that X'X before the sweep (the weighted sums of the
    // columns' squares).
    const std::vector<double>& GetBasicCrossProductDiagonal() const;
    // The clusters of each cluster column of a cluster-robust covariance.
    const std::vector<long>& GetClusterCounts() const;

    class MCLogOutStatsImpl;

private:
    std::unique_ptr<MCLogOutStatsImpl> fpImpl;
};

}  // namespace MCMath_850
