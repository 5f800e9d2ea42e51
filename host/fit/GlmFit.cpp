#include "host/fit/GlmFit.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "components/MCGLMComponent.h"
#include "glm/MCGLMOutputStats.h"
#include "host/base/NumberText.h"
#include "host/fit/ParameterTable.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCMath_850::MCDistFun;

double HostValue(double v) {
    return MCMV::IsMissing(v) ? kMissing : v;
}

std::string StatusText(const MCStatus& s) {
    // The library's "Error 302: " or "Warning 110: " is its own numbering,
    // which tells a user nothing.
    std::string text = s.GetMessage();
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos &&
        (text.rfind("Error ", 0) == 0 || text.rfind("Warning ", 0) == 0))
        text.erase(0, colon + 2);
    return s.IsWarning() ? "warning: " + text : text;
}

void ThrowLibraryError(const MCStatus& s) {
    throw LibraryError(s.GetErrorCode(), StatusText(s));
}

namespace {

// Whether the residuals of a fit with error df left are rounding and not
// data: as few records as parameters (frequency weights then give the df),
// or a residual variance below 1e-30 of the dependent's mean square, the
// bound of R's summary.lm. The standard errors are then rounding too.
bool FitsExactly(const GlmResult& r, double depMean, bool intercept) {
    if (!(r.fErrorDF > 0.0) || r.fRank <= 0) return false;
    if (r.fRecordsUsed <= r.fRank) return true;
    if (std::isnan(r.fRmse) || std::isnan(r.fRSquare) || std::isnan(depMean)) return false;
    if (r.fRSquare >= 1.0) return true;
    // All per unit of frequency weight and at the regression weights' scale,
    // as the root mean square error is.
    const double meanResidualSquare = r.fRmse * r.fRmse;
    // The sums behind R-square: about the mean with an intercept, about 0 without.
    const double spread = meanResidualSquare / (1.0 - r.fRSquare);
    const double meanWeight = r.fTotalRegrWeight / r.fTotalFreqWeight;
    const double depMeanSquare = intercept ? depMean * depMean * meanWeight + spread : spread;
    const double residualVariance = meanResidualSquare * r.fTotalFreqWeight / r.fErrorDF;
    return residualVariance < 1e-30 * depMeanSquare;
}

// Fits that succeed but tell less than the user expects say why.
void AddFitWarnings(const ModelSpec& spec, const std::vector<MCMath_850::MCRegrParameter>& params,
                    double depMean, bool intercept, GlmResult& r) {
    if (r.fErrorDF == 0.0)
        r.fvWarnings.push_back(
            "warning: the model is saturated: " +
            (r.fRank == 1 ? std::string("its one parameter fits")
                          : "its " + std::to_string(r.fRank) + " parameters fit") +
            " the records exactly (error df 0), so there are no standard errors, tests or "
            "intervals");
    else if (FitsExactly(r, depMean, intercept))
        r.fvWarnings.push_back(
            "warning: the model fits the records exactly, up to rounding (" +
            (r.fRecordsUsed <= r.fRank
                 ? "as many parameters as records; the frequency weights give the error df"
                 : std::string("residual variance below 1e-30 of the dependent's mean square")) +
            "): the standard errors, tests and intervals measure rounding, not the data");
    if (std::isnan(r.fRSquare) && r.fRecordsUsed > 0)
        r.fvWarnings.push_back("warning: the dependent variable '" + r.fDependent +
                               "' is constant in the records used, so R-square is undefined");
    if (r.fVcov != "model" && r.fErrorDF > 0.0) {
        // A parameter that only records with residual 0 inform, as the one
        // record of a category, gets a robust variance of 0 or of rounding:
        // no data give a t beyond 1e10.
        std::string zero;
        int count = 0;
        for (const ParameterRow& row : r.fvParameters)
            if (!row.fbRedundant &&
                (row.fStdError == 0.0 || std::fabs(row.fEstimate) > 1e10 * row.fStdError) &&
                count++ < 3)
                zero += (zero.empty() ? "'" : ", '") + row.fLabel + "'";
        if (count > 0)
            r.fvWarnings.push_back(
                "warning: the robust standard error of " + zero +
                (count > 3 ? " and " + std::to_string(count - 3) + " more" : std::string()) +
                " is 0 up to rounding: the records that determine " +
                (count == 1 ? "it are fitted exactly, so its test and interval say nothing"
                            : "them are fitted exactly, so their tests and intervals say "
                              "nothing"));
    }
    for (const std::string& w : spec.SpreadWarnings()) r.fvWarnings.push_back(w);
    for (std::string& w : LookAlikeWarnings(spec)) r.fvWarnings.push_back(std::move(w));
    std::vector<bool> redundant;
    for (const ParameterRow& row : r.fvParameters) redundant.push_back(row.fbRedundant);
    for (std::string& w : OverflowWarnings(spec, params, redundant))
        r.fvWarnings.push_back(std::move(w));
}

}  // namespace

std::string VcovName(const MCMath_850::MCRegSettings& settings) {
    static const char* const kNames[] = {"hc0", "hc1", "hc2", "hc3", "cluster"};
    const int type = settings.GetSandwichType();
    return type >= 0 && type <= 4 ? kNames[type] : "model";
}

std::vector<ResultVariable> ResultVariables(const ModelSpec& spec) {
    std::vector<ResultVariable> out;
    for (const ModelVariable& v : spec.GetVariables()) {
        ResultVariable r;
        r.fName = v.fName;
        r.fRole = RoleName(v.fRole);
        r.fvCategories = v.fvCategories;
        out.push_back(std::move(r));
    }
    return out;
}

GlmResult SummariseGlm(const ModelSpec& spec, const MCMath_850::IMCRegComponent& component,
                       const MCMath_850::MCGLMOutputStats& glm, double confidence,
                       bool covariance) {
    const MCMath_850::MCRegSettings& settings = component.GetCompSettings();
    GlmResult r;
    r.fFormula = spec.GetFormulaText();
    r.fDependent = spec.GetDependentName();
    r.fvTextFactors = spec.GetTextFactors();
    r.fvVariables = ResultVariables(spec);
    r.fConfidence = confidence;
    r.fVcov = VcovName(settings);
    if (const auto* c = dynamic_cast<const MCMath_850::MCGLMComponent*>(&component)) {
        r.fRecordsRead = c->GetNRecordsRead();
        r.fRecordsUsed = c->GetNRecordsUsed();
    }
    // The weighted sums of squares carry the scale the weights were given.
    const double scale = spec.GetRegrWeightScale();
    const double rootScale = std::sqrt(scale);
    r.fTotalFreqWeight = glm.GetTotalFreqWeight();
    r.fTotalRegrWeight = glm.GetTotalRegrWeight() / scale;
    r.fErrorDF = HostValue(glm.GetErrorDF());
    r.fRank = glm.GetRank();
    r.fRmse = HostValue(glm.GetModelFitStat(MCConst::FIT_RMSE)) / rootScale;
    const double ms = HostValue(glm.GetErrorMeanSquare());
    r.fResidualSE = ms >= 0.0 ? std::sqrt(ms) / rootScale : kMissing;
    r.fRSquare = HostValue(glm.GetModelFitStat(MCConst::FIT_RSQUARE));
    for (const MCStatus& w : component.GetWarnings()) r.fvWarnings.push_back(StatusText(w));

    r.fNClusters = glm.GetNClusters();
    r.fvClusterCounts = glm.GetClusterCounts();
    for (int p : settings.GetClusterVars())
        r.fvClusterColumns.push_back(spec.GetVariables()[static_cast<std::size_t>(p)].fName);
    const std::vector<ParameterFigures> table = ParameterTable(spec, settings, glm, false);
    for (std::size_t k = 0; k < table.size(); ++k) {
        const ParameterFigures& f = table[k];
        ParameterRow row;
        char name[32];
        std::snprintf(name, sizeof name, "P%07zu", k + 1);
        row.fName = name;
        row.fLabel = f.fLabel;
        row.fEffect = f.fEffect;
        row.fbRedundant = f.fbRedundant;
        row.fEstimate = f.fEstimate;
        row.fStdError = f.fStdError;
        row.fT = f.fStatistic;
        row.fDF = f.fDF;
        row.fSig = f.fSig;
        row.fCILower = f.fCILower;
        row.fCIUpper = f.fCIUpper;
        r.fvParameters.push_back(std::move(row));
    }
    const std::vector<MCMath_850::MCRegrParameter>& params = glm.GetParameters();
    const MCMath_850::MCSymMatrix* cov = glm.GetCovarianceMatrix();
    if (covariance && cov != nullptr) {
        std::vector<int> kept;
        for (std::size_t k = 0; k < params.size(); ++k)
            if (!r.fvParameters[k].fbRedundant) {
                kept.push_back(static_cast<int>(k));
                r.fvCovarianceNames.push_back(r.fvParameters[k].fName);
            }
        for (int a : kept)
            for (int b : kept) r.fvCovariance.push_back(HostValue(cov->GetElem(a, b)));
    }
    const std::vector<double>& means = glm.GetMeanValues();
    AddFitWarnings(spec, params, means.empty() ? kMissing : HostValue(means.back()),
                   settings.GetInterceptUse(), r);
    return r;
}

}  // namespace mchost
