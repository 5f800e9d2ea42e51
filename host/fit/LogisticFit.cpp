#include "host/fit/LogisticFit.h"

#include <cctype>
#include <cmath>

#include "companion/MCDistFun.h"
#include "components/MCLogComponent.h"
#include "host/base/HostError.h"
#include "host/fit/ParameterTable.h"

namespace mchost {

using MCCommon_850::MCStatus;
using MCMath_850::MCDistFun;

namespace {

constexpr int kMaxStepHalvings = 50;

std::string List(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "'" : ", '") + s + "'";
    return out;
}

// The words for an estimation that did not end at a maximum.
std::string ConvergenceWarning(int code, int iterations, int maxIterations) {
    const std::string at = " at iteration " + std::to_string(iterations);
    switch (code) {
        case MCConst::CONVERGENCE_SINGULAR:
            return "The information matrix became singular or ill-conditioned" + at +
                   "; the estimates may not maximise the likelihood and their standard errors "
                   "are unreliable.";
        case MCConst::CONVERGENCE_HALVING_EXHAUSTED:
            return "No step-halving increased the log-likelihood" + at +
                   "; the estimates are those at the start of that iteration.";
        case MCConst::CONVERGENCE_MAX_ITERATIONS:
            return "The estimation did not converge within " + std::to_string(maxIterations) +
                   (maxIterations == 1 ? " iteration" : " iterations") +
                   "; the estimates are those of the last iteration.";
        case MCConst::CONVERGENCE_COMPLETE_SEPARATION:
            return "Complete separation of the data was found" + at +
                   ": the predictors determine the response exactly, maximum likelihood "
                   "estimates do not exist, and the estimates and standard errors shown are not "
                   "meaningful.";
        case MCConst::CONVERGENCE_QUASI_SEPARATION:
            return "Quasi-complete separation of the data was found" + at +
                   ": some estimates grow without bound, so maximum likelihood estimates of "
                   "some parameters do not exist, and their values and standard errors are not "
                   "meaningful.";
        default:
            return "";
    }
}

}  // namespace

LogisticSetup PrepareLogistic(const ModelSpec& spec, const std::string& referenceText,
                              int maxIterations, double confidence) {
    LogisticSetup d;
    d.fMaxIterations = maxIterations;
    d.fConfidence = confidence;
    const ModelVariable& dependent = spec.GetVariables().front();
    d.fvCategories = dependent.fvCategories;
    const int k = static_cast<int>(d.fvCategories.size());
    if (k < 2)
        throw HostError(HostError::kData,
                        "the dependent variable '" + dependent.fName + "' has " +
                            (k == 0 ? std::string("no category")
                                    : "only one category, " + List(d.fvCategories)) +
                            ", among the records used; a logistic model needs at least two");
    int reference = -1;
    if (referenceText == "first") {
        reference = -2;
        d.fReference = d.fvCategories.front();
    } else if (referenceText == "last") {
        d.fReference = d.fvCategories.back();
    } else {
        reference = FindCategory(dependent, referenceText);
        if (reference < 0)
            throw HostError(HostError::kData, "--reference names '" + referenceText +
                                                  "', which is not a category of '" +
                                                  dependent.fName + "'; its categories are " +
                                                  List(d.fvCategories));
        d.fReference = d.fvCategories[static_cast<std::size_t>(reference)];
    }
    static_cast<MCMath_850::MCRegSettings&>(d.fSettings) = spec.GetSettings();
    d.fSettings.SetDependentRefCat(reference, k);
    d.fSettings.SetMaxIterations(maxIterations);
    // A Newton step taken where a category's fitted probabilities are
    // tiny is of the order of their inverse: from the intercepts' start a
    // well-posed model with weights of 1000 to 3 may ask for a step of a
    // million, which five halvings leave far too long to improve the fit,
    // ending the fit at estimates far from its maximum. Halvings cost a
    // pass only when a step fails, and fifty bring a step of 1e15 down to
    // the scale of a logit.
    d.fSettings.SetMaxStepHalvingValue(kMaxStepHalvings);
    d.fSettings.SetConfidenceLevel(confidence);
    return d;
}

LogisticResult SummariseLogistic(const ModelSpec& spec, const LogisticSetup& d,
                                 const MCMath_850::IMCRegComponent& component,
                                 const MCMath_850::MCLogOutputStats& stats) {
    const MCMath_850::MCRegSettings& settings = component.GetCompSettings();
    // The sorted category (code) of each of the model's categories.
    const std::vector<int>& modelCategories = stats.GetDependCategories();
    LogisticResult r;
    r.fFormula = spec.GetFormulaText();
    r.fDependent = spec.GetDependentName();
    r.fvTextFactors = spec.GetTextFactors();
    r.fvVariables = ResultVariables(spec);
    r.fvCategories = d.fvCategories;
    r.fReference = d.fReference;
    r.fConfidence = d.fConfidence;
    r.fVcov = VcovName(settings);
    r.fvClusterCounts = stats.GetClusterCounts();
    for (int p : settings.GetClusterVars())
        r.fvClusterColumns.push_back(spec.GetVariables()[static_cast<std::size_t>(p)].fName);
    const auto& log = dynamic_cast<const MCMath_850::MCLogComponent&>(component);
    r.fRecordsRead = log.GetNRecordsRead();
    r.fRecordsUsed = log.GetNRecordsUsed();
    r.fTotalFreqWeight = stats.GetTotalFreqWeight();
    r.fvCategoryWeights.assign(d.fvCategories.size(), 0.0);
    for (std::size_t m = 0; m < modelCategories.size(); ++m)
        r.fvCategoryWeights[static_cast<std::size_t>(modelCategories[m])] =
            stats.GetCategoryWeights()[m];

    const std::vector<ParameterFigures> table = ParameterTable(spec, settings, stats, true);
    const auto nBasic = static_cast<std::size_t>(stats.GetNBasicParameters());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ParameterFigures& f = table[i];
        LogisticParameterRow row;
        row.fTarget = d.fvCategories[static_cast<std::size_t>(modelCategories[i / nBasic])];
        row.fLabel = f.fLabel;
        row.fEffect = f.fEffect;
        row.fbRedundant = f.fbRedundant;
        row.fEstimate = f.fEstimate;
        row.fDF = f.fDF;
        // Every tested parameter has its odds ratio, standard error or not.
        if (f.fDF > 0.0) row.fExpB = std::exp(f.fEstimate);
        row.fStdError = f.fStdError;
        row.fWald = f.fStatistic;
        row.fSig = f.fSig;
        row.fCILower = f.fCILower;
        row.fCIUpper = f.fCIUpper;
        r.fvParameters.push_back(std::move(row));
    }

    r.fbInterceptBaseline = settings.GetInterceptUse();
    r.fLogLikInitial = HostValue(stats.GetInitialLogLikelihood());
    r.fLogLikFinal = HostValue(stats.GetFinalLogLikelihood());
    r.fIterations = stats.GetIterations();
    const int code = stats.GetConvergenceCode();
    r.fbConverged = code == MCConst::CONVERGENCE_LOGLIKELIHOOD ||
                    code == MCConst::CONVERGENCE_PARAMETERS || code == MCConst::CONVERGENCE_BOTH ||
                    code == MCConst::CONVERGENCE_NOTHING_TO_ITERATE;
    int estimated = stats.GetRedundancyIndicators().Count();
    if (settings.GetInterceptUse()) estimated -= static_cast<int>(d.fvCategories.size()) - 1;
    r.fChiSquare = 2.0 * (r.fLogLikFinal - r.fLogLikInitial);
    r.fDF = estimated;
    if (estimated > 0 && r.fChiSquare >= 0.0)
        r.fSig = HostValue(MCDistFun::SigChi(r.fChiSquare, estimated));
    r.fCoxSnell = HostValue(stats.GetModelFitStat(MCConst::FIT_COX_SNELL));
    r.fNagelkerke = HostValue(stats.GetModelFitStat(MCConst::FIT_NAGELKERKE));
    r.fMcFadden = HostValue(stats.GetModelFitStat(MCConst::FIT_MCFADDEN));

    for (const MCStatus& w : component.GetWarnings()) r.fvWarnings.push_back(StatusText(w));
    for (const std::string& w : spec.SpreadWarnings()) r.fvWarnings.push_back(w);
    for (std::string& w : LookAlikeWarnings(spec)) r.fvWarnings.push_back(std::move(w));
    // A basic parameter is aliased in every category's equation or in none.
    std::vector<bool> redundant(nBasic, false);
    for (std::size_t i = 0; i < r.fvParameters.size(); ++i)
        if (r.fvParameters[i].fbRedundant) redundant[i % nBasic] = true;
    for (std::string& w : OverflowWarnings(spec, stats.GetParameters(), redundant))
        r.fvWarnings.push_back(std::move(w));
    const std::string words = ConvergenceWarning(code, r.fIterations, d.fMaxIterations);
    if (!words.empty()) {
        // Said as the linear model's warnings are: "warning: " and a
        // sentence without its capital and its stop.
        std::string w = words;
        w[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(w[0])));
        if (w.back() == '.') w.pop_back();
        r.fvWarnings.push_back("warning: " + w);
    }
    return r;
}

}  // namespace mchost
