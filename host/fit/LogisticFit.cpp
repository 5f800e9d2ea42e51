#include "host/fit/LogisticFit.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

#include "companion/MCDistFun.h"
#include "companion/MCIterationReporter.h"
#include "companion/MCVarList.h"
#include "components/MCLogComponent.h"
#include "components/MCRegFactory.h"
#include "data/MCRegRecordValidator.h"
#include "export/MCRegrDoreZADUtil.h"
#include "host/fit/RecordPass.h"
#include "logistic/MCLogOutputStats.h"
#include "settings/MCLogRegSettings.h"

namespace mchost {

using MCCommon_850::MCStatus;
using MCMath_850::MCDistFun;

namespace {

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

class IterationListener : public MCCommon_850::ProgressListener {
public:
    IterationListener(std::vector<IterationRow>& rows, const IterationCallback& callback)
        : fRows(rows), fCallback(callback) {}
    void ReportIteration(const MCMath_850::MCIterationReporter& r) override {
        IterationRow row;
        row.fIteration = r.GetIteration();
        row.fHalvings = r.GetHalvings();
        row.fLogLikelihood = HostValue(r.GetLogLikelihood());
        fRows.push_back(row);
        if (fCallback) fCallback(row);
    }

private:
    std::vector<IterationRow>& fRows;
    const IterationCallback& fCallback;
};

}  // namespace

class LogisticFitter::Impl {
public:
    const ModelSpec* fpSpec;
    LogisticOptions fOptions;
    MCMath_850::MCLogRegSettings fSettings;
    std::vector<std::string> fvCategories;
    std::string fReference;
    int fFreqWeightPosition = -1;
    std::unique_ptr<MCMath_850::IMCRegComponent> fpComponent;
    const MCMath_850::MCLogOutputStats* fpStats = nullptr;

    // The sorted category (code) of each of the model's categories.
    const std::vector<int>& ModelCategories() const { return fpStats->GetDependCategories(); }
    void Parameters(LogisticResult& r) const;
    void Classify(MCCommon_850::MultiPassRecordIter& records, LogisticResult& r) const;
};

LogisticFitter::LogisticFitter(const ModelSpec& spec, const LogisticOptions& options)
    : fpImpl(std::make_unique<Impl>()) {
    Impl& d = *fpImpl;
    d.fpSpec = &spec;
    d.fOptions = options;
    const ModelVariable& dependent = spec.GetVariables().front();
    d.fvCategories = dependent.fvCategories;
    for (std::size_t p = 0; p < spec.GetVariables().size(); ++p)
        if (spec.GetVariables()[p].fRole == ModelVariable::kFreqWeight)
            d.fFreqWeightPosition = static_cast<int>(p);
    const int k = static_cast<int>(d.fvCategories.size());
    if (k < 2)
        throw HostError(HostError::kData,
                        "the dependent variable '" + dependent.fName + "' has " +
                            (k == 0 ? std::string("no category")
                                    : "only one category, " + List(d.fvCategories)) +
                            ", among the records used; a logistic model needs at least two");
    int reference = -1;
    if (options.fReference == "first") {
        reference = -2;
        d.fReference = d.fvCategories.front();
    } else if (options.fReference == "last") {
        d.fReference = d.fvCategories.back();
    } else {
        reference = FindCategory(dependent, options.fReference);
        if (reference < 0)
            throw HostError(HostError::kData, "--reference names '" + options.fReference +
                                                  "', which is not a category of '" +
                                                  dependent.fName + "'; its categories are " +
                                                  List(d.fvCategories));
        d.fReference = d.fvCategories[static_cast<std::size_t>(reference)];
    }
    static_cast<MCMath_850::MCRegSettings&>(d.fSettings) = spec.GetSettings();
    d.fSettings.SetDependentRefCat(reference, k);
    d.fSettings.SetMaxIterations(options.fMaxIterations);
    d.fSettings.SetConfidenceLevel(options.fConfidence);
}

LogisticFitter::~LogisticFitter() = default;

LogisticResult LogisticFitter::Fit(MCCommon_850::MultiPassRecordIter& records,
                                   MCCommon_850::MCQueryCancel* cancel,
                                   const IterationCallback& onIteration) {
    Impl& d = *fpImpl;
    LogisticResult r;
    IterationListener listener(r.fvIterations, onIteration);
    MCMath_850::MCLogRegSettings settings = d.fSettings;
    settings.SetCancelPointer(cancel);
    settings.SetProgressListener(&listener);
    MCMath_850::MCRegFactory factory;
    d.fpComponent.reset(factory.CreateRegAlgorithm(settings));
    if (!d.fpComponent) ThrowLibraryError(factory.GetStatus());
    MCStatus status = d.fpComponent->BuildModel(records);
    if (status.IsError()) ThrowLibraryError(status);
    MCMath_850::IMCRegOutputStats* out = nullptr;
    status = d.fpComponent->GetOutputStats(out);
    if (status.IsError()) ThrowLibraryError(status);
    d.fpStats = &dynamic_cast<const MCMath_850::MCLogOutputStats&>(*out);
    const MCMath_850::MCLogOutputStats& stats = *d.fpStats;

    r.fFormula = d.fpSpec->GetFormulaText();
    r.fDependent = d.fpSpec->GetDependentName();
    r.fvTextFactors = d.fpSpec->GetTextFactors();
    r.fvVariables = ResultVariables(*d.fpSpec);
    r.fvCategories = d.fvCategories;
    r.fReference = d.fReference;
    r.fConfidence = d.fOptions.fConfidence;
    r.fVcov = VcovName(settings);
    r.fvClusterCounts = stats.GetClusterCounts();
    for (int p : settings.GetClusterVars())
        r.fvClusterColumns.push_back(d.fpSpec->GetVariables()[static_cast<std::size_t>(p)].fName);
    const auto& component = dynamic_cast<const MCMath_850::MCLogComponent&>(*d.fpComponent);
    r.fRecordsRead = component.GetNRecordsRead();
    r.fRecordsUsed = component.GetNRecordsUsed();
    r.fTotalFreqWeight = stats.GetTotalFreqWeight();
    r.fvCategoryWeights.assign(d.fvCategories.size(), 0.0);
    for (std::size_t m = 0; m < d.ModelCategories().size(); ++m)
        r.fvCategoryWeights[static_cast<std::size_t>(d.ModelCategories()[m])] =
            stats.GetCategoryWeights()[m];

    d.Parameters(r);

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

    for (const MCStatus& w : d.fpComponent->GetWarnings()) r.fvWarnings.push_back(StatusText(w));
    for (const std::string& w : d.fpSpec->SpreadWarnings()) r.fvWarnings.push_back(w);
    const std::string words = ConvergenceWarning(code, r.fIterations, d.fOptions.fMaxIterations);
    if (!words.empty()) {
        // Said as the linear model's warnings are: "warning: " and a
        // sentence without its capital and its stop.
        std::string w = words;
        w[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(w[0])));
        if (w.back() == '.') w.pop_back();
        r.fvWarnings.push_back("warning: " + w);
    }

    d.Classify(records, r);
    return r;
}

FittedModel LogisticFitter::GetFitted() const {
    const Impl& d = *fpImpl;
    FittedModel m;
    m.fpSpec = d.fpSpec;
    m.fpSettings = &d.fpComponent->GetCompSettings();
    m.fpComponent = d.fpComponent.get();
    m.fpStats = d.fpStats;
    m.fbLogistic = true;
    m.fConfidence = d.fOptions.fConfidence;
    m.fvModelCategories = d.ModelCategories();
    m.fNBasic = d.fpStats->GetNBasicParameters();
    return m;
}

void LogisticFitter::Impl::Parameters(LogisticResult& r) const {
    const MCMath_850::MCLogOutputStats& stats = *fpStats;
    const int nBasic = stats.GetNBasicParameters();
    const std::vector<MCMath_850::MCRegrParameter>& params = stats.GetParameters();
    const std::vector<double>& estimates = stats.GetParamEstimates();
    const MCMath_850::MCSymMatrix* cov = stats.GetCovarianceMatrix();
    // Labels as the library writes them into its results documents.
    MCXML_850::MCVarList varList;
    for (const ModelVariable& v : fpSpec->GetVariables()) {
        if (v.fRole == ModelVariable::kFactor || v.fRole == ModelVariable::kDependent)
            varList.AddCategoricalVar(v.fName, v.fvCategories);
        else
            varList.AddContinuousVar(v.fName, 0.0, 0.0);
    }
    std::vector<std::string> labels;
    std::vector<MCMath_850::MCRegrParameterStats> labelled;
    MCMath_850::MCRegrDoreZADUtil::GetParamLables(stats.GetParamStats(), fSettings, varList, params,
                                                  labels, labelled);
    const double z = HostValue(MCDistFun::IdfStdNorm((1.0 + fOptions.fConfidence) / 2.0));
    const std::vector<std::string>& effects = fpSpec->GetEffectTexts();
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::size_t logit = i / static_cast<std::size_t>(nBasic);
        LogisticParameterRow row;
        row.fTarget = fvCategories[static_cast<std::size_t>(ModelCategories()[logit])];
        row.fLabel = i < labels.size() ? labels[i] : std::string();
        const int e = params[i].GetEffectIndex();
        row.fEffect = e >= 0 && static_cast<std::size_t>(e) < effects.size()
                          ? effects[static_cast<std::size_t>(e)]
                          : "Intercept";
        row.fbRedundant = !stats.GetRedundancyIndicators().IsIn(static_cast<int>(i));
        row.fEstimate = row.fbRedundant ? 0.0 : estimates[i];
        if (!row.fbRedundant && cov != nullptr) {
            const double var = cov->GetElem(static_cast<int>(i), static_cast<int>(i));
            row.fDF = 1.0;
            row.fExpB = std::exp(row.fEstimate);
            if (var > 0.0 && std::isfinite(var)) {
                const double se = std::sqrt(var);
                row.fStdError = se;
                row.fWald = row.fEstimate * row.fEstimate / var;
                row.fSig = HostValue(MCDistFun::SigChi(row.fWald, 1.0));
                if (!std::isnan(z)) {
                    row.fCILower = std::exp(row.fEstimate - z * se);
                    row.fCIUpper = std::exp(row.fEstimate + z * se);
                }
            }
        }
        r.fvParameters.push_back(std::move(row));
    }
}

void LogisticFitter::Impl::Classify(MCCommon_850::MultiPassRecordIter& records,
                                    LogisticResult& r) const {
    const std::size_t k = fvCategories.size();
    r.fvClassification.assign(k, std::vector<double>(k, 0.0));
    const MCMath_850::MCRegRecordValidator& validator = fpStats->GetRecordValidator();
    records.NewPass();
    double value = 0.0;
    std::vector<double> probabilities;
    while (records.HasMore()) {
        const MCCommon_850::Record& record = NextRecord(records);
        MCStatus status;
        if (!validator.IsValidRecord(record, status)) continue;
        status = fpComponent->Score(record, value, probabilities);
        if (status.IsError()) ThrowLibraryError(status);
        if (value < 0) continue;
        const auto observed = static_cast<std::size_t>(record[0] + 0.5);
        const auto predicted = static_cast<std::size_t>(value + 0.5);
        if (observed >= k || predicted >= k) continue;
        const double w = fFreqWeightPosition >= 0 ? record[fFreqWeightPosition] : 1.0;
        r.fvClassification[observed][predicted] += w;
    }
}

namespace {

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

void LogisticFitter::WritePredictions(MCCommon_850::MultiPassRecordIter& records,
                                      std::ostream& out) const {
    const Impl& d = *fpImpl;
    const std::size_t k = d.fvCategories.size();
    for (const std::string& c : d.fvCategories) out << CsvField("p_" + c) << ",";
    out << "predicted\n";
    const MCMath_850::MCRegRecordValidator& validator = d.fpStats->GetRecordValidator();
    const std::vector<int>& model = d.ModelCategories();
    std::vector<double> probabilities, sorted(k);
    double value = 0.0;
    char number[32];
    records.NewPass();
    while (records.HasMore()) {
        const MCCommon_850::Record& record = NextRecord(records);
        MCStatus status;
        bool used = validator.IsValidRecord(record, status);
        if (used) {
            // A record the fit used that cannot be scored (a cancel among
            // them) is no empty row: it ends the file.
            status = d.fpComponent->Score(record, value, probabilities);
            if (status.IsError()) ThrowLibraryError(status);
            used = value >= 0;
        }
        if (!used) {
            out << std::string(k, ',') << "\n";
            continue;
        }
        for (std::size_t m = 0; m < model.size(); ++m)
            sorted[static_cast<std::size_t>(model[m])] = probabilities[m];
        for (double p : sorted) {
            std::snprintf(number, sizeof number, "%.17g", p);
            out << number << ",";
        }
        out << CsvField(d.fvCategories[static_cast<std::size_t>(value + 0.5)]) << "\n";
    }
}

}  // namespace mchost
