#include "cli/Analyses.h"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "cli/Interrupt.h"
#include "host/base/HostError.h"
#include "host/fit/UsedData.h"
#include "host/input/RecordStore.h"
#include "host/report/EffectTestsReport.h"
#include "host/report/MarginalsReport.h"
#include "host/report/OutputTarget.h"
#include "host/report/PmmlDocument.h"
#include "host/run/Progress.h"

namespace mcregcli {

using namespace mchost;

namespace {

// "1,2,4.5": the values of one --metric.
std::vector<double> ParseMetric(const std::string& text) {
    std::vector<double> values;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma - from);
        std::size_t used = 0;
        double v = 0.0;
        try {
            v = std::stod(item, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (item.empty() || used != item.size() || !std::isfinite(v))
            throw HostError(
                HostError::kUsage,
                "--metric takes numbers separated by commas, such as 1,2,4, not '" + text + "'");
        values.push_back(v);
        if (comma == std::string::npos) return values;
        from = comma + 1;
    }
}

}  // namespace

Analyses::Analyses(const ModelCommand& cmd, const Processes& processes) {
    if (!cmd.fTests.empty()) fTypes = TestTypes::Parse(cmd.fTests);
    fEmmeans.fvTerms = cmd.fvEmmeans;
    fEmmeans.fvCompare = cmd.fvCompare;
    fEmmeans.fAdjust = cmd.fAdjust;
    fEmmeans.fContrast = cmd.fContrast;
    fEmmeans.fContrastReference = cmd.fContrastReference;
    for (const std::string& metric : cmd.fvMetric) fEmmeans.fvMetric.push_back(ParseMetric(metric));
    fEmmeans.Check();
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

    // Every output is found, and told apart from the input and the others
    // by what file it is, before any is opened.
    const bool speaks = processes.Rank() == 0;
    std::vector<std::pair<std::string, OutputTarget>> targets;
    std::vector<std::unique_ptr<OutputFile>*> files;
    const auto add = [&](const std::string& name, const char* option,
                         std::unique_ptr<OutputFile>& file) {
        if (name.empty()) return;
        targets.emplace_back(option, ResolveOutput(name));
        files.push_back(&file);
    };
    add(speaks ? cmd.fPmml : "", "--pmml", fpPmml);
    add(speaks ? cmd.fResultsXml : "", "--results-xml", fpResultsXml);
    add(cmd.fPredictions.empty() ? "" : PartName(cmd.fPredictions, processes, "--predictions"),
        "--predictions", fpPredictions);
    std::vector<NamedFile> inputs;
    const std::string data = PartName(cmd.fData, processes, "--data");
    if (const std::optional<FileKey> key = InputKey(data)) inputs.push_back({"--data", *key, data});
    RefuseSharedFiles(inputs, targets);
    fvInputs = std::move(inputs);
    fvTargets = std::move(targets);
    fvFiles = std::move(files);
}

void Analyses::Open(Processes& processes) {
    RefuseFilesSharedBetweenProcesses(fvInputs, fvTargets, processes);
    processes.Agreed([&] {
        const std::string tempDir = DefaultTempDir();
        for (std::size_t i = 0; i < fvTargets.size(); ++i) {
            const OutputTarget& target = fvTargets[i].second;
            *fvFiles[i] = std::make_unique<OutputFile>(target, tempDir, InterruptFlag());
            fbStandardOutput = fbStandardOutput || target.IsStandardOutput();
        }
    });
}

void Analyses::Resolve(const ModelSpec& spec) {
    fvRequests = ResolveEmmeans(spec, fEmmeans, &fvWarnings);
}

void Analyses::Run(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                   MCCommon_850::MCQueryCancel* cancel, const std::string& application,
                   Processes& processes, TerminalProgress* progress) {
    if (!fTypes.Any() && fvRequests.empty() && !fbPmml) return;
    UsedData used;
    processes.Agreed([&] { used = SummariseUsedData(model, records, cancel); });
    MergeUsedData(used, processes);
    if (fTypes.Any()) {
        TestPoint("tests");
        processes.Agreed([&] {
            fTests = TestEffects(model, used, fTypes, cancel, [&](int effect, int effects) {
                if (progress != nullptr)
                    progress->Show("tests: effect " + std::to_string(effect + 1) + " of " +
                                   std::to_string(effects));
            });
        });
        if (progress != nullptr) progress->Clear();
        fvWarnings.insert(fvWarnings.end(), fTests->fvWarnings.begin(), fTests->fvWarnings.end());
    }
    // The rest merges nothing: a process that stops in it (an interrupt
    // that reached it alone) must not leave the others at their next merge.
    processes.Agreed([&] {
        if (!fvRequests.empty()) {
            TestPoint("emmeans");
            EmmeansControl control;
            control.fpCancel = cancel;
            control.fOnProgress = [progress](const EmmeansProgress& p) {
                if (p.fTest >= 0) TestPoint("emmeans-pairs");
                if (progress != nullptr) progress->Show(p.Text());
            };
            fvMeans = EstimateMarginalMeans(model, used, fvRequests, control);
            if (progress != nullptr) progress->Clear();
            const std::vector<std::string> empty = NotEstimableWarnings(fvMeans);
            fvWarnings.insert(fvWarnings.end(), empty.begin(), empty.end());
        }
        // The documents do not ask about a cancel: asked here.
        ThrowIfInterrupted();
        if (fpPmml) {
            PmmlOptions options;
            options.fApplication = application;
            options.fCovariance = fPmmlCovariance;
            options.fpCancel = cancel;
            const std::vector<std::string> left =
                WritePmmlDocument(fpPmml->Stream(), model, used, options);
            fvWarnings.insert(fvWarnings.end(), left.begin(), left.end());
            TestPoint("pmml");
        }
    });
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

std::vector<OutputFile*> Analyses::Files() const {
    std::vector<OutputFile*> files;
    for (OutputFile* f : {fpPmml.get(), fpResultsXml.get(), fpPredictions.get()})
        if (f != nullptr) files.push_back(f);
    return files;
}

void Analyses::Finish() {
    for (OutputFile* f : Files()) f->Finish();
}

void Analyses::CommitDirect() {
    // What goes to a pipe cannot be taken back: it goes first, and an
    // interrupt while it goes leaves the other files unwritten.
    for (OutputFile* f : Files())
        if (f->IsDirect()) f->Commit();
}

void Analyses::Commit() {
    const HeldInterrupts held;
    ThrowIfInterrupted();
    const OutputFile::CommitWindow window;
    for (OutputFile* f : Files())
        if (!f->IsDirect()) f->Commit();
}

}  // namespace mcregcli
