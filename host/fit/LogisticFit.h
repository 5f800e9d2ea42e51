#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "components/IMCRegComponent.h"
#include "host/fit/GlmFit.h"
#include "host/model/ModelSpec.h"
#include "logistic/MCLogOutputStats.h"
#include "settings/MCLogRegSettings.h"

namespace mchost {

// One parameter of one logit. Statistics a parameter does not have (all of
// them for a redundant one) are NaN.
class LogisticParameterRow {
public:
    std::string fTarget;  // the category of the logit
    std::string fLabel;
    std::string fEffect;
    double fEstimate = 0.0;
    bool fbRedundant = false;
    double fStdError = kMissing;
    double fWald = kMissing;
    double fDF = 0.0;
    double fSig = kMissing;
    double fExpB = kMissing;
    // The confidence interval of Exp(B).
    double fCILower = kMissing;
    double fCIUpper = kMissing;
};

class IterationRow {
public:
    int fIteration = 0;
    int fHalvings = 0;
    double fLogLikelihood = kMissing;
};

// Everything the reports print about a multinomial logistic fit.
class LogisticResult {
public:
    std::string fFormula;
    std::string fDependent;
    std::vector<std::string> fvTextFactors;  // factors read so for their text cells
    std::vector<ResultVariable> fvVariables;
    // The categories of the dependent among the records used, in sorted
    // order, with their total frequency weight.
    std::vector<std::string> fvCategories;
    std::vector<double> fvCategoryWeights;
    std::string fReference;
    long long fRecordsRead = 0;
    long long fRecordsUsed = 0;
    double fTotalFreqWeight = 0.0;
    double fConfidence = 0.95;
    // The covariance behind the standard errors: "model", "hc0" or "hc1".
    std::string fVcov = "model";
    // A cluster-robust covariance: the columns and the number of clusters.
    std::vector<std::string> fvClusterColumns;
    std::vector<long> fvClusterCounts;  // per column
    // Logit by logit in category order (the reference left out).
    std::vector<LogisticParameterRow> fvParameters;
    std::vector<IterationRow> fvIterations;
    // The model the fit is tested against: the intercepts alone, or,
    // without an intercept, every parameter 0 (all categories equally
    // likely), whose log-likelihood is fLogLikInitial.
    bool fbInterceptBaseline = true;
    double fLogLikInitial = kMissing;
    double fLogLikFinal = kMissing;
    double fChiSquare = kMissing;
    double fDF = kMissing;
    double fSig = kMissing;
    double fCoxSnell = kMissing;
    double fNagelkerke = kMissing;
    double fMcFadden = kMissing;
    int fIterations = 0;
    bool fbConverged = false;
    // Observed (rows) by predicted (columns) category, weighted by the
    // frequency weight, in category order.
    std::vector<std::vector<double>> fvClassification;
    std::vector<std::string> fvWarnings;
    double fReadSeconds = 0.0;
    double fFitSeconds = 0.0;
};

// Reports an iteration of the estimation as it happens (for progress).
using IterationCallback = std::function<void(const IterationRow&)>;

// What a logistic fit of a spec is built from: the settings (the
// dependent's categories and reference, the iteration limit, the
// confidence level), the dependent's categories among the records used
// and the reference category's text.
class LogisticSetup {
public:
    MCMath_850::MCLogRegSettings fSettings;
    std::vector<std::string> fvCategories;
    std::string fReference;
    int fMaxIterations = 100;
    double fConfidence = 0.95;
};

// reference is "first", "last" or the text of a category. Throws HostError
// (data) for a dependent with fewer than two categories and for a
// reference that is not one of them.
LogisticSetup PrepareLogistic(const ModelSpec& spec, const std::string& reference,
                              int maxIterations, double confidence);

// The result of a logistic fit: the figures of its statistics, each
// parameter's Wald test and the interval of Exp(B), the model-fitting test
// and the warnings. The iterations and the classification table are the
// fitter's to add. A ModelFitter makes it.
LogisticResult SummariseLogistic(const ModelSpec& spec, const LogisticSetup& setup,
                                 const MCMath_850::IMCRegComponent& component,
                                 const MCMath_850::MCLogOutputStats& stats);

}  // namespace mchost
