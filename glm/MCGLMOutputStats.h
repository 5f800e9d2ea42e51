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

class MCGLMAlgorithm;

// The results of a built general linear model: a snapshot taken at
// construction, plus a reference to the algorithm for record validation,
// row expansion and cancellation.
//
// The covariance matrix is sigma^2 (X'WX)^- with zero rows and columns for
// aliased parameters, sigma^2 = sum(fw * rw * e^2) / error df, the error df
// being the settings' df when positive and otherwise the total frequency
// weight minus the rank. These are the standard errors R's vcov(lm) gives.
// When the settings ask for a robust covariance it is the model's sandwich
// estimate instead (MCGLMSandwich).
// The per-parameter records carry each parameter's standard error, t test
// on GetTestDF() (two-sided Sig.) and interval at the settings' confidence
// level, as MCWaldTest makes them; an aliased parameter has none.
// GetNDegFreedom() keeps its own definition: the settings' df when
// positive, otherwise the total regression weight minus p.
class MCREG_API MCGLMOutputStats : public IMCRegOutputStats {
public:
    MCGLMOutputStats(const MCRegSettings& settings, MCGLMAlgorithm& algorithm);
    ~MCGLMOutputStats() override;
    MCGLMOutputStats(const MCGLMOutputStats&) = delete;
    MCGLMOutputStats& operator=(const MCGLMOutputStats&) = delete;

    int GetModelType() const override { return 0; }
    const MCFactorCounts* GetFactorCounts() const override;
    const std::vector<double>& GetMeanValues() const override;
    const std::vector<double>& GetParamEstimates() const override;
    const std::vector<MCRegrParameter>& GetParameters() const override;
    double GetTotalFreqWeight() const override;
    double GetTotalRegrWeight() const override;
    double GetNDegFreedom() const override;
    double GetModelFitStat(MCConst::MCModelFitStat stat) const override;
    const MCSymMatrix* GetCovarianceMatrix() const override;
    const std::vector<MCRegrParameterStats>& GetParamStats() const override;
    const MCBitSet& GetRedundancyIndicators() const override;
    const MCRegRecordValidator& GetRecordValidator() const override;
    bool ExpandRow(const MCCommon_850::Record& record, std::vector<double>& row) const override;
    void Cancel() override;
    void Display() const override;

    // The error df behind the covariance matrix (see above) and the error
    // mean square; missing when the df is not positive.
    double GetErrorDF() const;
    double GetErrorMeanSquare() const;
    int GetRank() const;
    // The clusters behind a cluster-robust covariance (the fewer of two
    // columns'); 0 otherwise.
    long GetNClusters() const;
    // The clusters of each cluster column.
    const std::vector<long>& GetClusterCounts() const;
    // The df of the t and F tests and intervals: the clusters minus one
    // under a cluster-robust covariance (its information grows with the
    // clusters, not the records), otherwise the error df.
    double GetTestDF() const;
    // X'WX bordered by X'Wy and y'Wy (the dependent last), as summed before
    // the sweep, when the settings keep the cross products; null otherwise.
    const MCSymMatrix* GetCrossProducts() const;
    // The same swept on the fit's non-redundant pivots and negated, as the
    // effect tests take a generalised inverse: G on the pivots, the negated
    // aliasing coefficients of the others beside it and minus the residual
    // sum of squares in the dependent's corner; null unless kept.
    const MCSymMatrix* GetSweptCrossProducts() const;
    // Per column of GetCrossProducts(), the spread the fit judged a pivot
    // by (a covariate's sum of squares about its mean within its cell), for
    // tests that sweep the cross products again and must alias what the fit
    // aliased; empty unless kept.
    const std::vector<double>& GetCrossProductScale() const;

    class MCGLMOutStatsImpl;

private:
    std::unique_ptr<MCGLMOutStatsImpl> fpImpl;
};

// Analysis-of-variance figures that a host fills and prints.
class MCREG_API MCRegANOVA {
public:
    MCRegANOVA();
    void Display() const;

    double fModelSS, fModelDF, fModelMS, fF, fSig;
    double fErrorSS, fErrorDF, fErrorMS;
    double fTotalSS, fTotalDF;
};

// Type III figures of one effect that a host fills and prints.
class MCREG_API MCTypeIIIStats {
public:
    MCTypeIIIStats();
    void Display() const;

    int fEffectIndex = -1;
    double fSS, fMS, fF, fDF1, fDF2, fSig;
    double fEtaSquared, fPartialEtaSquared;
    double fEtaCILower, fEtaCIUpper, fPartialEtaCILower, fPartialEtaCIUpper;
};

}  // namespace MCMath_850
