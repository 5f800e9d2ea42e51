#include "cli/Analyses.h"

#include "host/EffectTestsReport.h"
#include "host/HostError.h"
#include "host/MarginalsReport.h"
#include "host/UsedData.h"

namespace mcregcli {

using namespace mchost;

namespace {

std::unique_ptr<OutputFile> Open(const std::string& path, const char* option,
                                 std::vector<std::string>& seen) {
    if (path.empty()) return nullptr;
    for (const std::string& s : seen)
        if (s == path)
            throw HostError(HostError::kUsage, std::string(option) + " names '" + path +
                                                   "', which another option " + "already writes");
    seen.push_back(path);
    return std::make_unique<OutputFile>(path);
}

}  // namespace

Analyses::Analyses(const ModelCommand& cmd, const Processes& processes) {
    if (!cmd.fTests.empty()) fTypes = TestTypes::Parse(cmd.fTests);
    fEmmeans.fvTerms = cmd.fvEmmeans;
    fEmmeans.fvCompare = cmd.fvCompare;
    fEmmeans.fAdjust = cmd.fAdjust;
    fEmmeans.fContrast = cmd.fContrast;
    fEmmeans.fContrastReference = cmd.fContrastReference;
    fEmmeans.fvMetric = cmd.fvMetric;
    fEmmeans.Check();
    std::vector<std::string> seen{cmd.fData};
    const bool speaks = processes.Rank() == 0;
    fbPmml = !cmd.fPmml.empty();
    if (cmd.fPmmlCovariance == "always")
        fPmmlCovariance = PmmlCovariance::kAlways;
    else if (cmd.fPmmlCovariance == "never")
        fPmmlCovariance = PmmlCovariance::kNever;
    else if (!cmd.fPmmlCovariance.empty() && cmd.fPmmlCovariance != "auto")
        throw HostError(HostError::kUsage, "--pmml-covariance takes auto, always or never, not '" +
                                               cmd.fPmmlCovariance + "'");
    if (!cmd.fPmmlCovariance.empty() && !fbPmml)
        throw HostError(HostError::kUsage, "--pmml-covariance needs --pmml");
    fpPmml = Open(speaks ? cmd.fPmml : "", "--pmml", seen);
    fpResultsXml = Open(speaks ? cmd.fResultsXml : "", "--results-xml", seen);
    fpPredictions =
        Open(cmd.fPredictions.empty() ? "" : PartName(cmd.fPredictions, processes, "--predictions"),
             "--predictions", seen);
}

void Analyses::Resolve(const ModelSpec& spec) {
    fvRequests = ResolveEmmeans(spec, fEmmeans);
}

void Analyses::Run(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                   MCCommon_850::MCQueryCancel* cancel, const std::string& application,
                   Processes& processes) {
    if (!fTypes.Any() && fvRequests.empty() && !fbPmml) return;
    const bool crossProducts = fTypes.Any() && !model.fbLogistic;
    UsedData used;
    processes.Agreed([&] { used = SummariseUsedData(model, records, crossProducts, cancel); });
    MergeUsedData(used, processes);
    if (fTypes.Any()) fTests = TestEffects(model, used, fTypes);
    if (!fvRequests.empty()) fvMeans = EstimateMarginalMeans(model, used, fvRequests);
    if (fpPmml) {
        PmmlOptions options;
        options.fApplication = application;
        options.fCovariance = fPmmlCovariance;
        options.fpCancel = cancel;
        const std::vector<std::string> left =
            WritePmmlDocument(fpPmml->Stream(), model, used, options);
        fvWarnings.insert(fvWarnings.end(), left.begin(), left.end());
    }
}

std::string Analyses::Text(double confidence, const std::string& dependent) const {
    std::string out;
    if (fTests) out += FormatEffectTestsText(*fTests);
    if (!fvMeans.empty()) out += FormatMarginalsText(fvMeans, confidence, dependent);
    return out;
}

void Analyses::AddJson(nlohmann::ordered_json& j) const {
    if (fTests) j["tests"] = EffectTestsJson(*fTests);
    if (!fvRequests.empty()) j["emmeans"] = MarginalsJson(fvMeans);
}

void Analyses::Commit() {
    for (OutputFile* f : {fpPmml.get(), fpResultsXml.get(), fpPredictions.get()})
        if (f != nullptr) f->Commit();
}

}  // namespace mcregcli
