#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/fit/FittedModel.h"
#include "host/fit/GlmFit.h"
#include "host/model/ModelSpec.h"

namespace mchost {

// How the command line asks for a multinomial logistic fit.
class LogisticOptions {
public:
    // "first", "last" or the text of a category of the dependent.
    std::string fReference = "last";
    int fMaxIterations = 100;
    double fConfidence = 0.95;
};

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

// A multinomial logistic fit of a model whose dependent is coded as
// categories.
class LogisticFitter {
public:
    // Throws HostError (data) for a dependent with fewer than two categories
    // and for a reference that is not one of them.
    LogisticFitter(const ModelSpec& spec, const LogisticOptions& options);
    ~LogisticFitter();
    LogisticFitter(const LogisticFitter&) = delete;
    LogisticFitter& operator=(const LogisticFitter&) = delete;

    // Fits the model over the records and computes each parameter's Wald
    // test and the interval of Exp(B), the model-fitting test and the
    // classification table of the records used (one more pass). Throws
    // LibraryError when the library fails (status 1: interrupted).
    LogisticResult Fit(MCCommon_850::MultiPassRecordIter& records,
                       MCCommon_850::MCQueryCancel* cancel = nullptr,
                       const IterationCallback& onIteration = nullptr);

    // After Fit: one CSV row per record, in order, with the probability of
    // each category (columns p_<category>, in category order) and the
    // predicted category; empty cells for a record that was not used.
    void WritePredictions(MCCommon_850::MultiPassRecordIter& records, std::ostream& out) const;

    // After Fit: the fit as the analyses after it read it (valid while the
    // fitter lives).
    FittedModel GetFitted() const;

private:
    class Impl;
    std::unique_ptr<Impl> fpImpl;
};

}  // namespace mchost
