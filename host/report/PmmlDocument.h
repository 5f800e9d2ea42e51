#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/fit/FittedModel.h"
#include "host/fit/UsedData.h"

namespace mchost {

// Whether a PMML document holds the covariance matrix of the estimates
// (PCovMatrix), from which a scorer computes standard errors: one cell for
// every non-zero element of its lower triangle, p(p+1)/2 for p parameters.
enum class PmmlCovariance { kAuto, kAlways, kNever };

// kAuto writes the covariance of a model of at most this many parameters
// (at most about 2 million cells, some 160 MB) and leaves it out above,
// with a warning: beyond, the matrix outgrows the rest of the document by
// orders of magnitude and what reads the document in one piece.
constexpr int kPmmlCovarianceLimit = 2000;

class PmmlOptions {
public:
    // The program that writes the document, "name version".
    std::string fApplication;
    PmmlCovariance fCovariance = PmmlCovariance::kAuto;
    // Asked while the covariance is written; null: never stopped.
    MCCommon_850::MCQueryCancel* fpCancel = nullptr;
};

// Writes a complete PMML 4.4 document of a fitted model to out, to score it
// elsewhere: the header, a data dictionary with every model variable (the
// dependent, the factors with their categories, the covariates and the
// weights), and one GeneralRegressionModel ("generalLinear" or
// "multinomialLogistic") whose mining schema lists each variable once with
// its use (the weights as frequencyWeight and analysisWeight), whose model
// statistics hold the analysis of variance of a general linear model and
// the covariates' ranges and means, and whose parameter, predictor and
// estimate elements come from the library. A general linear model without
// error degrees of freedom has no covariance to write. Returns the
// warnings about what the document leaves out. A failure of out is left in
// out's state for its owner to report; throws HostError (interrupted) when
// the cancel query says stop.
std::vector<std::string> WritePmmlDocument(std::ostream& out, const FittedModel& model,
                                           const UsedData& used, const PmmlOptions& options);

}  // namespace mchost
