#include "cli/Commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>

#include "cli/Analyses.h"
#include "cli/Interrupt.h"
#include "cli/ProcessGroup.h"
#include "host/analyses/EffectTests.h"
#include "host/base/HostError.h"
#include "host/fit/ModelFitter.h"
#include "host/input/BinaryReader.h"
#include "host/input/CsvReader.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"
#include "host/report/GlmReport.h"
#include "host/report/LogisticReport.h"
#include "host/report/ResultsDocument.h"
#include "host/run/Processes.h"
#include "host/run/Progress.h"
#include "host/run/ProgressIterator.h"
#include "host/session/ModelSession.h"

namespace mcregcli {

using namespace mchost;

// "512M", "2G", "1.5g", "100000" (bytes); K, M, G, T are powers of 1024.
std::size_t ParseSize(const std::string& text) {
    std::size_t used = 0;
    double v = -1;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
    }
    std::string unit = text.substr(used);
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && unit.back() == 'B') unit.pop_back();
    const std::string units = "KMGT";
    double scale = 1;
    if (unit.size() == 1 && units.find(unit[0]) != std::string::npos)
        for (std::size_t i = 0; i <= units.find(unit[0]); ++i) scale *= 1024;
    else if (!unit.empty() && unit != "B")
        v = -1;
    if (!(v >= 0) || v * scale > 1e18)
        throw HostError(HostError::kUsage,
                        "--memory-limit takes a size such as 0, 800M or 2G, not '" + text + "'");
    return static_cast<std::size_t>(v * scale);
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    if (text.empty()) return items;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        items.push_back(text.substr(from, comma - from));
        if (comma == std::string::npos) return items;
        from = comma + 1;
    }
}

char ParseDelimiter(const std::string& text) {
    if (text.empty()) return 0;
    if (text == "tab" || text == "\\t") return '\t';
    if (text.size() != 1 || text[0] == '"' || text[0] == '\n' || text[0] == '\r' ||
        text[0] == ' ' || static_cast<unsigned char>(text[0]) >= 0x80)
        throw HostError(HostError::kUsage,
                        "--delimiter takes one character other than a quote, a blank or a line "
                        "end, or 'tab', not '" +
                            text + "'");
    return text[0];
}

namespace {

// -1 for the model-based covariance, else the robust estimator.
int ParseVcov(const std::string& text) {
    static const char* const kNames[] = {"hc0", "hc1", "hc2", "hc3"};
    if (text == "model") return -1;
    for (int i = 0; i < 4; ++i)
        if (text == kNames[i]) return i;
    throw HostError(HostError::kUsage,
                    "--vcov takes model, hc0, hc1, hc2 or hc3, not '" + text + "'");
}

// --cluster: the column and the cluster-robust covariance it selects.
void UseClusters(const std::vector<std::string>& cluster, const std::string& vcov,
                 ModelOptions& options) {
    if (cluster.empty()) return;
    if (cluster.size() > 2)
        throw HostError(HostError::kUsage,
                        "--cluster takes one column, or two for two-way clustering");
    if (options.fSandwich >= 0)
        throw HostError(
            HostError::kUsage,
            "--cluster selects the cluster-robust covariance: leave out --vcov " + vcov);
    options.fvCluster = cluster;
    options.fSandwich = MCConst::ROBUST_CLUSTER;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Percent(double part, double whole) {
    const int pct = whole > 0 ? static_cast<int>(100.0 * part / whole) : 0;
    return std::to_string(pct > 100 ? 100 : pct) + "%";
}

// The options every model reads with, checked, for a session that reads
// the data and makes the model.
SessionOptions ModelSessionOptions(const ModelCommand& cmd, ModelOptions options, FitOptions fit) {
    options.fvFactors = cmd.fvFactors;
    options.fFreqWeight = cmd.fFreqWeight;
    options.fbIntercept = !cmd.fbNoIntercept;
    fit.fConfidence = cmd.fConfidence;
    fit.fThreads = cmd.fThreads;
    SessionOptions session;
    session.fFormula = cmd.fFormula;
    session.fModel = options;
    session.fFit = fit;
    return session;
}

// The data read and coded into a model session, with the seconds it took.
struct ModelData {
    std::unique_ptr<ModelSession> fpSession;
    double fReadSeconds = 0.0;
};

ModelData ReadModel(const ReadCommand& cmd, const SessionOptions& options,
                    TerminalProgress& progress, Processes& processes) {
    if (!FitOptions::IntervalLevel(cmd.fConfidence))
        throw HostError(HostError::kUsage, std::string("--confidence ") + FitOptions::kLevelRule);
    const bool binary = !cmd.fvColumns.empty();
    if (cmd.fvColumns.size() == 1 && cmd.fvColumns.front().find(' ') != std::string::npos)
        throw HostError(HostError::kUsage,
                        "--columns takes the names separated by commas, such "
                        "as y,a,x, not by blanks: '" +
                            cmd.fvColumns.front() + "'");
    if (binary && (EndsWith(cmd.fData, ".csv") || EndsWith(cmd.fData, ".CSV")))
        throw HostError(HostError::kUsage,
                        "--columns names the columns of a binary record file; a CSV file "
                        "names them in its header row");
    if (!binary && EndsWith(cmd.fData, ".bin"))
        throw HostError(HostError::kUsage,
                        "'" + cmd.fData +
                            "' looks like a binary record file: name its columns "
                            "with --columns y,a,b,...");
    const std::string file = PartName(cmd.fData, processes, "--data");
    // A wrong formula is said before a wrong reading option.
    ParseFormula(cmd.fFormula);

    ReadOptions read;
    if (!cmd.fMemoryLimit.empty()) read.fMemoryLimit = ParseSize(cmd.fMemoryLimit);
    read.fvNaValues = SplitList(cmd.fNaValues);
    read.fDelimiter = ParseDelimiter(cmd.fDelimiter);
    if (options.fFit.fThreads > 0) read.fThreads = static_cast<unsigned>(options.fFit.fThreads);
    read.fpInterrupt = InterruptFlag();
    // A second reading starts again from 0%: said, so that the display
    // does not seem to go back.
    read.fProgress = [&](std::size_t done, std::size_t total, int reading) {
        TestPoint("read");
        progress.Show("reading " + file + (reading > 1 ? " again, a column being text" : "") +
                      ": " +
                      (total > 0 ? Percent(static_cast<double>(done), static_cast<double>(total))
                                 : std::to_string(done >> 20) + " MB"));
    };
    const auto readStart = std::chrono::steady_clock::now();
    // The parts' headers may differ: a name missing from one is said with
    // its file.
    const DataLoader load = [&](const PlanFn& planFn) {
        const PlanFn plan = [&](const std::vector<std::string>& header) {
            if (!processes.IsSplit()) return planFn(header);
            try {
                return planFn(header);
            } catch (const FormulaError& e) {
                throw FormulaError(file + ": " + e.what(), e.GetPos(), e.GetLen());
            } catch (const HostError& e) {
                throw HostError(e.GetKind(), file + ": " + e.what());
            }
        };
        if (binary) plan(cmd.fvColumns);  // name errors before reading
        return binary ? BinaryReader::ReadFile(file, cmd.fvColumns, plan, read)
                      : CsvReader::ReadFile(file, plan, read);
    };
    SessionHooks hooks;
    // Each process reads its own part; a failure on one stops them all.
    hooks.fAgreed = [&](const std::function<void()>& step) { processes.Agreed(step); };
    hooks.fAfterRead = [&](CodedData& data, std::vector<std::string>& notes) {
        if (!binary && read.fDelimiter == 0 && data.fDelimiter != ',' && !data.fbDelimiterDeclared)
            notes.push_back(std::string("note: the header of ") + data.fSource +
                            " splits only on " + (data.fDelimiter == '\t' ? "tabs" : "semicolons") +
                            ", so they are read as the delimiter (--delimiter)");
        AgreeColumnKinds(data, processes);
        progress.Clear();
    };
    hooks.fpProcesses = &processes;
    hooks.fNoRecords =
        processes.IsSplit() ? "the parts of " + cmd.fData + " hold" : file + " holds";
    ModelData m;
    m.fpSession = std::make_unique<ModelSession>(options, load, hooks);
    m.fReadSeconds = Seconds(readStart);
    return m;
}

// Process 0 speaks for all the processes of a split fit.
int Print(const std::string& text, std::FILE* out, const Processes& processes) {
    if (processes.Rank() != 0) return kSuccess;
    errno = 0;
    const bool ok =
        std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    if (ok) return kSuccess;
    // A write that a signal cut short was interrupted, not failed.
    ThrowIfInterrupted();
    std::cerr << "mcreg: cannot write output: "
              << (errno != 0 ? std::strerror(errno) : "write error") << "\n";
    return kInternal;
}

// The records as the predictions are written from them, with the progress.
ProgressIterator WritingPredictions(MCCommon_850::MultiPassRecordIter& records, double nRows,
                                    TerminalProgress& progress) {
    return ProgressIterator(records, [&progress, nRows](int, std::size_t n) {
        progress.Show("writing predictions: " + Percent(static_cast<double>(n), nRows));
        if (n > 0) TestPoint("predictions");
    });
}

// The warnings on standard error, then the model's report with the
// analyses': as text, or as one JSON document (on standard error when a
// file goes to the standard output). json is the model's document; the
// warnings are already in it.
int Report(const std::vector<std::string>& warnings, const std::string& text,
           nlohmann::ordered_json json, const ModelCommand& cmd, const Analyses& analyses,
           const ModelSpec& spec, const Processes& processes) {
    ThrowIfInterrupted();
    if (processes.Rank() == 0)
        for (const std::string& w : warnings) std::cerr << "mcreg: " << w << "\n";
    std::FILE* out = analyses.WritesStandardOutput() ? stderr : stdout;
    if (!cmd.fbJson)
        return Print(text + analyses.Text(cmd.fConfidence, spec.GetDependentName()), out,
                     processes);
    analyses.AddJson(json);
    return Print(JsonText(json), out, processes);
}

// Once every file is complete: the report, then the files put in place as
// the very last step, so that a run interrupted before it leaves none.
int Conclude(const std::vector<std::string>& warnings, const std::string& text,
             const nlohmann::ordered_json& json, const ModelCommand& cmd, Analyses& analyses,
             const ModelSpec& spec, Processes& processes) {
    processes.Agreed([&] {
        analyses.Finish();
        ThrowIfInterrupted();
    });
    TestPoint("report");
    // An interrupt on any process stops them all.
    int rc = kSuccess;
    processes.Agreed([&] { rc = Report(warnings, text, json, cmd, analyses, spec, processes); });
    if (rc != kSuccess) {
        // The other processes would wait for this one to commit.
        AbortGroup(processes, rc);
        return rc;
    }
    TestPoint("commit");
    processes.Agreed([&] { analyses.CommitDirect(); });
    // An interrupt of one process is agreed before any process puts a file
    // in place; one that comes later waits until all are in place.
    const HeldInterrupts held;
    processes.Agreed([&] { ThrowIfInterrupted(); });
    processes.Agreed([&] { analyses.Commit(); });
    return kSuccess;
}

}  // namespace

int RunGlm(const GlmCommand& cmd, Processes& processes) {
    if (!(cmd.fTolerance >= 0.0 && cmd.fTolerance < 1.0))
        throw HostError(HostError::kUsage, "--tolerance must lie in (0, 1)");
    // Output files are opened before the data are read, on every process
    // that writes one.
    std::unique_ptr<Analyses> made;
    processes.Agreed([&] { made = std::make_unique<Analyses>(cmd, processes); });
    made->Open(processes);
    Analyses& analyses = *made;
    ModelOptions options;
    options.fRegrWeight = cmd.fRegrWeight;
    options.fTolerance = cmd.fTolerance;
    options.fSandwich = ParseVcov(cmd.fVcov);
    // The marginal means read the swept cross products too: they tell which
    // means the data determine, as the model's document tells its scorer
    // which records.
    options.fbKeepCrossProducts = !cmd.fTests.empty() || !cmd.fvEmmeans.empty() ||
                                  !cmd.fPmml.empty() || !cmd.fPredictions.empty();
    UseClusters(cmd.fvCluster, cmd.fVcov, options);
    if (options.fSandwich >= 0 && !cmd.fTests.empty() && TestTypes::Parse(cmd.fTests).fbTypeI)
        throw HostError(HostError::kUsage,
                        "--tests 1 asks for sequential sums of squares, which have no robust "
                        "form: with a robust covariance ask for --tests 3 (Wald tests with "
                        "that covariance)");
    FitOptions fit;
    fit.fbCovariance = cmd.fbCovariance;
    TerminalProgress progress;
    const ModelData m = ReadModel(cmd, ModelSessionOptions(cmd, options, fit), progress, processes);
    ModelSession& session = *m.fpSession;
    const ModelSpec& spec = session.Spec();
    analyses.Resolve(spec);

    const auto fitStart = std::chrono::steady_clock::now();
    const double nRows = static_cast<double>(spec.GetNLocalRecords());
    InterruptQuery interrupt;
    interrupt.fPoint = "fit";
    // After pass 2 has handed out its last record the library sweeps, once
    // per parameter, asking about a cancel before each pivot.
    std::size_t nParams = 0;
    std::size_t sweepStart = 0;
    bool sweeping = false;
    FitProgress fitProgress;
    // Called by one part of the fit at a time, with the records of all.
    fitProgress.fRecords = [&](int pass, std::size_t n) {
        sweeping = pass == 2 && static_cast<double>(n) >= nRows;
        sweepStart = interrupt.fPolls;
        // The residuals' pass runs only when the cells' sums cannot give
        // them, so the number of passes is not known in advance.
        progress.Show("fitting: pass " + std::to_string(pass) + ", " +
                      Percent(static_cast<double>(n), nRows));
    };
    interrupt.fOnPoll = [&](std::size_t polls) {
        if (!sweeping || nParams == 0) return;
        TestPoint("sweep");
        const std::size_t done = std::min(polls - sweepStart, nParams);
        progress.Show("fitting: solving, pivot " + std::to_string(done) + " of " +
                      std::to_string(nParams) + " (" +
                      Percent(static_cast<double>(done), static_cast<double>(nParams)) + ")");
    };
    fitProgress.fParameters = [&](std::size_t p) { nParams = p; };
    session.Fit(&interrupt, fitProgress);
    interrupt.fOnPoll = nullptr;
    interrupt.fPoint = nullptr;
    progress.Clear();
    GlmResult result = session.Glm();
    result.fReadSeconds = m.fReadSeconds;
    result.fFitSeconds = Seconds(fitStart);

    const FittedModel model = session.Fitted();
    const auto records = spec.MakeIterator();
    ProgressIterator analysed(*records, [&](int, std::size_t n) {
        progress.Show("analysing: " + Percent(static_cast<double>(n), nRows));
    });
    analyses.Run(model, analysed, &interrupt, "mcreg " MCREG_VERSION, processes, &progress);
    // Each process writes alone: a stop in one is agreed before the report.
    processes.Agreed([&] {
        if (std::ostream* out = analyses.ResultsXml()) {
            WriteGlmResultsDocument(*out, model, result);
            TestPoint("results-xml");
        }
        if (std::ostream* out = analyses.Predictions()) {
            ProgressIterator written = WritingPredictions(*records, nRows, progress);
            session.Fitter().WritePredictions(written, *out);
        }
    });
    progress.Clear();

    result.fvWarnings.insert(result.fvWarnings.end(), analyses.Warnings().begin(),
                             analyses.Warnings().end());
    JsonOptions json;
    json.fbTiming = cmd.fbTiming;
    json.fbCovariance = cmd.fbCovariance;
    return Conclude(result.fvWarnings, FormatGlmText(result), GlmJson(result, json), cmd, analyses,
                    spec, processes);
}

int RunLogistic(const LogisticCommand& cmd, Processes& processes) {
    // With no iteration there is no maximum to report, only the start.
    if (cmd.fMaxIterations < 1)
        throw HostError(HostError::kUsage, "--max-iterations must be at least 1, not " +
                                               std::to_string(cmd.fMaxIterations));
    // Output files are opened before the data are read, on every process
    // that writes one.
    std::unique_ptr<Analyses> made;
    processes.Agreed([&] { made = std::make_unique<Analyses>(cmd, processes); });
    made->Open(processes);
    Analyses& analyses = *made;
    ModelOptions options;
    options.fbCategoricalDependent = true;
    // The sequential tests sweep the design's X'X as summed.
    options.fbKeepCrossProducts = !cmd.fTests.empty() && TestTypes::Parse(cmd.fTests).fbTypeI;
    options.fSandwich = ParseVcov(cmd.fVcov);
    if (options.fSandwich >= 2)
        throw HostError(HostError::kUsage,
                        "--vcov " + cmd.fVcov +
                            " divides by leverages, which the logistic model does not have: "
                            "use hc0 or hc1");
    UseClusters(cmd.fvCluster, cmd.fVcov, options);
    FitOptions fit;
    fit.fbLogistic = true;
    fit.fReference = cmd.fReference;
    fit.fMaxIterations = cmd.fMaxIterations;
    TerminalProgress progress;
    const ModelData m = ReadModel(cmd, ModelSessionOptions(cmd, options, fit), progress, processes);
    ModelSession& session = *m.fpSession;
    const ModelSpec& spec = session.Spec();
    analyses.Resolve(spec);

    // The component keeps the cancel query: it outlives the fit, as the
    // session does.
    InterruptQuery interrupt;
    const auto fitStart = std::chrono::steady_clock::now();
    interrupt.fPoint = "fit";
    FitProgress fitProgress;
    fitProgress.fIteration = [&](const IterationRow& it) {
        progress.Show("fitting: iteration " + std::to_string(it.fIteration) + ", log-likelihood " +
                      std::to_string(it.fLogLikelihood));
    };
    session.Fit(&interrupt, fitProgress);
    interrupt.fPoint = nullptr;
    progress.Clear();
    LogisticResult result = session.Logistic();
    result.fReadSeconds = m.fReadSeconds;
    result.fFitSeconds = Seconds(fitStart);

    const FittedModel model = session.Fitted();
    const auto records = spec.MakeIterator();
    analyses.Run(model, *records, &interrupt, "mcreg " MCREG_VERSION, processes, &progress);
    // Each process writes alone: a stop in one is agreed before the report.
    processes.Agreed([&] {
        if (std::ostream* out = analyses.ResultsXml()) {
            WriteLogisticResultsDocument(*out, model, result);
            TestPoint("results-xml");
        }
        if (std::ostream* out = analyses.Predictions()) {
            ProgressIterator written =
                WritingPredictions(*records, static_cast<double>(spec.GetNRecords()), progress);
            session.Fitter().WritePredictions(written, *out);
        }
    });
    progress.Clear();

    result.fvWarnings.insert(result.fvWarnings.end(), analyses.Warnings().begin(),
                             analyses.Warnings().end());
    JsonOptions json;
    json.fbTiming = cmd.fbTiming;
    return Conclude(result.fvWarnings, FormatLogisticText(result), LogisticJson(result, json), cmd,
                    analyses, spec, processes);
}

}  // namespace mcregcli
