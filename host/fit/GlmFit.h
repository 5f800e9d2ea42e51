#pragma once
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "companion/MCStatus.h"
#include "components/IMCRegComponent.h"
#include "glm/MCGLMOutputStats.h"
#include "host/base/HostError.h"
#include "host/model/ModelSpec.h"

namespace mchost {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// One row of the parameter table. Statistics a parameter does not have
// (all of them for an aliased one) are NaN.
class ParameterRow {
public:
    std::string fName;    // P0000001, ...
    std::string fLabel;   // see ParameterLabel
    std::string fEffect;  // the effect's formula text, "Intercept" for the intercept
    double fEstimate = 0.0;
    bool fbRedundant = false;
    double fStdError = kMissing;
    double fT = kMissing;
    double fDF = kMissing;
    double fSig = kMissing;
    double fCILower = kMissing;
    double fCIUpper = kMissing;
};

// A model variable as the reports list it: its name, role and, for a
// factor, its categories in the order of their codes.
class ResultVariable {
public:
    std::string fName;
    std::string fRole;  // RoleName
    std::vector<std::string> fvCategories;
};
std::vector<ResultVariable> ResultVariables(const ModelSpec& spec);

// Everything the reports print about a general linear model fit.
class GlmResult {
public:
    std::string fFormula;
    std::string fDependent;
    std::vector<std::string> fvTextFactors;  // factors read so for their text cells
    std::vector<ResultVariable> fvVariables;
    long long fRecordsRead = 0;
    long long fRecordsUsed = 0;
    double fTotalFreqWeight = 0.0;
    double fTotalRegrWeight = 0.0;
    double fConfidence = 0.95;
    // The covariance behind the standard errors: "model", "hc0" to "hc3".
    std::string fVcov = "model";
    // A cluster-robust covariance: the columns and the number of clusters.
    std::vector<std::string> fvClusterColumns;
    std::vector<long> fvClusterCounts;  // per column
    long fNClusters = 0;                // the fewest: tests on this less one
    std::vector<ParameterRow> fvParameters;
    double fRSquare = kMissing;  // missing when the dependent does not vary
    // The library's root mean square error: sqrt(weighted residual SS / total
    // frequency weight). The residual standard error divides by the error df
    // instead; it is the scale of the standard errors.
    double fRmse = kMissing;
    double fResidualSE = kMissing;
    double fErrorDF = kMissing;  // total frequency weight minus rank
    int fRank = 0;
    // When asked: the covariance matrix of the estimates of the parameters
    // that are not redundant (named in fvCovarianceNames), row by row.
    std::vector<std::string> fvCovarianceNames;
    std::vector<double> fvCovariance;
    double fReadSeconds = 0.0;
    double fFitSeconds = 0.0;
    std::vector<std::string> fvWarnings;  // "warning: <message>"
};

// A failure reported by the library: its status code and message (its
// StatusText). Status 1, a cancelled fit, is an interruption.
class LibraryError : public HostError {
public:
    LibraryError(long code, const std::string& message)
        : HostError(code == 1 ? kInterrupted : kData, message), fCode(code) {}
    long GetCode() const { return fCode; }

private:
    long fCode;
};

// The covariance the settings ask for: "model", "hc0" to "hc3" or
// "cluster".
std::string VcovName(const MCMath_850::MCRegSettings& settings);

// The library's missing value as the host's (NaN); other values unchanged.
double HostValue(double v);
// A status's message for a user: without the library's "Error <code>: ",
// a warning starting "warning: " as the host's own do.
std::string StatusText(const MCCommon_850::MCStatus& s);
// Throws the LibraryError of a failed status.
[[noreturn]] void ThrowLibraryError(const MCCommon_850::MCStatus& s);

// The result of a general linear model's fit: the figures of its
// statistics, each parameter's standard error, t, significance and
// confidence interval at the given level, and with covariance the
// covariance matrix of the estimates. A ModelFitter makes it.
GlmResult SummariseGlm(const ModelSpec& spec, const MCMath_850::IMCRegComponent& component,
                       const MCMath_850::MCGLMOutputStats& glm, double confidence, bool covariance);

}  // namespace mchost
