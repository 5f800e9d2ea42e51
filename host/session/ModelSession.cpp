#include "host/session/ModelSession.h"

#include <exception>
#include <stdexcept>

#include "host/base/HostError.h"
#include "host/fit/FitFailure.h"
#include "host/report/EffectTestsReport.h"
#include "host/report/GlmReport.h"
#include "host/report/LogisticReport.h"
#include "host/report/MarginalsReport.h"
#include "host/report/ResultsDocument.h"

namespace mchost {

void CheckRecords(const ModelSpec& spec, const std::string& holds) {
    // Said plainly here rather than as the library's generic "no valid record".
    if (spec.GetNRecords() == 0) throw HostError(HostError::kData, holds + " no data records");
    if (spec.GetNUsed() == 0)
        throw HostError(HostError::kData,
                        "none of the " + std::to_string(spec.GetNRecords()) +
                            " records has every model variable present and positive weights");
}

ModelSession::ModelSession(const SessionOptions& options, const DataLoader& load,
                           const SessionHooks& hooks)
    : fOptions(options), fpProcesses(hooks.fpProcesses) {
    const double confidence = fOptions.fFit.fConfidence;
    if (!FitOptions::IntervalLevel(confidence))
        throw HostError(HostError::kUsage, std::string("--confidence ") + FitOptions::kLevelRule);
    fOptions.fModel.fConfidence = confidence;
    fOptions.fModel.fbCategoricalDependent = IsLogistic();
    const auto agreed = [&](const std::function<void()>& step) {
        if (hooks.fAgreed)
            hooks.fAgreed(step);
        else
            step();
    };
    fFormula = ParseFormula(fOptions.fFormula);
    // Either way one of the two requests would be dropped without a word.
    if (fFormula.fbInterceptAsked && !fOptions.fModel.fbIntercept)
        throw HostError(HostError::kUsage,
                        "the formula asks for the intercept (1), which the model is to be "
                        "fitted without (--no-intercept)");
    const std::string margins = MissingMarginsNote(fFormula);
    if (!margins.empty()) fvNotes.push_back(margins);
    const Formula& formula = fFormula;
    const ModelOptions& model = fOptions.fModel;
    agreed([&] {
        fData = load([&](const std::vector<std::string>& header) {
            return PlanColumns(formula, model, header);
        });
    });
    if (hooks.fAfterRead) hooks.fAfterRead(fData, fvNotes);
    agreed([&] { fpSpec = std::make_unique<ModelSpec>(fFormula, fOptions.fModel, fData); });
    if (fpProcesses != nullptr) fpSpec->MergeAcrossProcesses(*fpProcesses);
    fpSpec->CheckScales();
    const std::vector<std::string>& dataWarnings = fpSpec->GetWarnings();
    fvNotes.insert(fvNotes.end(), dataWarnings.begin(), dataWarnings.end());
    CheckRecords(*fpSpec, hooks.fNoRecords.empty() ? fData.fSource + " holds" : hooks.fNoRecords);
}

ModelSession::~ModelSession() = default;

void ModelSession::Fit(MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress) {
    fUsed.reset();
    fpFitter.reset();
    fpParted.reset();
    fpOwnRecords = fpSpec->MakeIterator();
    const int parts = FitPartCount(*fpSpec, IsLogistic());
    fNParts = parts;
    // Processes choose their parts by their own records, and one of a
    // single part must still merge as a group of parts does: the lists a
    // group gathers from the other processes are its parts' lists, which
    // a process fitting alone would give as one.
    if (parts > 1 || (fpProcesses != nullptr && fpProcesses->IsSplit())) {
        fpCancel = cancel;
        fpRecords = fpOwnRecords.get();
        auto parted = std::make_unique<PartedFit>(*fpSpec, fOptions.fFit, fpProcesses, parts);
        parted->Fit(cancel, progress);
        fpParted = std::move(parted);
        TakeResults();
    } else if (progress.fRecords) {
        fpCounted = std::make_unique<ProgressIterator>(*fpOwnRecords, progress.fRecords);
        Fit(*fpCounted, cancel, progress);
        // The analyses after the fit read the records without its progress.
        fpRecords = fpOwnRecords.get();
    } else {
        Fit(*fpOwnRecords, cancel, progress);
    }
    // Records in the caller's memory may change after the fit: the
    // summaries every analysis needs are taken now, from the records fitted.
    if (fData.fpStore && fData.fpStore->IsBorrowed()) Used();
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> ModelSession::Records() const {
    if (fData.fpStore && !fData.fpStore->Unchanged())
        throw HostError(HostError::kData, fData.fSource +
                                              " has changed since the model was fitted: fit the "
                                              "model again, or give the data to predict");
    return fpSpec->MakeIterator();
}

void ModelSession::Fit(MCCommon_850::MultiPassRecordIter& records,
                       MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress) {
    fUsed.reset();
    fpFitter.reset();
    fpParted.reset();
    fNParts = 1;
    // The component keeps the cancel query and reads the records: both
    // outlive the fitter.
    fpCancel = cancel;
    fpRecords = &records;
    auto fitter = std::make_unique<ModelFitter>(*fpSpec, fOptions.fFit, fpProcesses);
    try {
        fitter->Fit(records, cancel, progress);
    } catch (const HostError&) {
        RethrowFitFailure(std::current_exception(), fpProcesses);
    }
    fpFitter = std::move(fitter);
    TakeResults();
}

void ModelSession::TakeResults() {
    if (IsLogistic()) {
        fLogistic = Active()->GetLogisticResult();
        fLogistic.fvWarnings.insert(fLogistic.fvWarnings.begin(), fvNotes.begin(), fvNotes.end());
    } else {
        fGlm = Active()->GetGlmResult();
        fGlm.fvWarnings.insert(fGlm.fvWarnings.begin(), fvNotes.begin(), fvNotes.end());
    }
}

std::vector<std::string> ModelSession::Warnings() const {
    return IsLogistic() ? fLogistic.fvWarnings : fGlm.fvWarnings;
}

const UsedData& ModelSession::Used() {
    if (Active() == nullptr) throw std::logic_error("ModelSession: no fit");
    if (!fUsed) fUsed = SummariseUsedData(Fitted(), *fpRecords, fpCancel);
    return *fUsed;
}

EffectTests ModelSession::Tests(const TestTypes& types) {
    if (fOptions.fModel.fSandwich >= 0 && types.fbTypeI)
        throw HostError(HostError::kUsage,
                        "--tests 1 asks for sequential sums of squares, which have no robust "
                        "form: with a robust covariance ask for --tests 3 (Wald tests with "
                        "that covariance)");
    const UsedData& used = Used();
    return TestEffects(Fitted(), used, types, fpCancel);
}

std::vector<EmmeansResult> ModelSession::Emmeans(const EmmeansOptions& options,
                                                 std::vector<std::string>* warnings) {
    options.Check();
    const std::vector<EmmeansRequest> requests = ResolveEmmeans(*fpSpec, options, warnings);
    if (requests.empty()) return {};
    const UsedData& used = Used();
    EmmeansControl control;
    control.fpCancel = fpCancel;
    std::vector<EmmeansResult> means = EstimateMarginalMeans(Fitted(), used, requests, control);
    if (warnings != nullptr) {
        const std::vector<std::string> empty = NotEstimableWarnings(means);
        warnings->insert(warnings->end(), empty.begin(), empty.end());
    }
    return means;
}

std::vector<std::string> ModelSession::WritePmml(std::ostream& out, PmmlOptions options) {
    const UsedData& used = Used();
    options.fpCancel = fpCancel;
    return WritePmmlDocument(out, Fitted(), used, options);
}

void ModelSession::WriteResultsXml(std::ostream& out) const {
    if (IsLogistic())
        WriteLogisticResultsDocument(out, Fitted(), fLogistic);
    else
        WriteGlmResultsDocument(out, Fitted(), fGlm);
}

SessionReport ModelSession::Report(const AnalysisRequest& request, const JsonOptions& json) {
    // The requests are checked and resolved before anything is summed, as
    // the program does before it fits.
    std::vector<std::string> left;
    std::optional<EffectTests> tests;
    std::vector<EmmeansResult> means;
    if (request.fEmmeans.Any()) {
        request.fEmmeans.Check();
        ResolveEmmeans(*fpSpec, request.fEmmeans);
    }
    if (request.fTests.Any()) tests = Tests(request.fTests);
    if (tests) left.insert(left.end(), tests->fvWarnings.begin(), tests->fvWarnings.end());
    if (request.fEmmeans.Any()) means = Emmeans(request.fEmmeans, &left);

    SessionReport report;
    const std::string& dependent = fpSpec->GetDependentName();
    if (IsLogistic()) {
        LogisticResult result = fLogistic;
        result.fvWarnings.insert(result.fvWarnings.end(), left.begin(), left.end());
        report.fText = FormatLogisticText(result);
        report.fJson = LogisticJson(result, json);
    } else {
        GlmResult result = fGlm;
        result.fvWarnings.insert(result.fvWarnings.end(), left.begin(), left.end());
        report.fText = FormatGlmText(result);
        report.fJson = GlmJson(result, json);
    }
    if (tests) {
        report.fText += FormatEffectTestsText(*tests);
        report.fJson["tests"] = EffectTestsJson(*tests);
    }
    // A request whose every term was left out (a compare factor of one
    // level) adds nothing, as in the program.
    if (!means.empty()) {
        report.fText += FormatMarginalsText(means, fOptions.fFit.fConfidence, dependent);
        report.fJson["emmeans"] = MarginalsJson(means);
    }
    return report;
}

}  // namespace mchost
