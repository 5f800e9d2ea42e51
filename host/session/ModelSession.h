#pragma once
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/analyses/EffectTests.h"
#include "host/analyses/EmmeansRequest.h"
#include "host/analyses/Marginals.h"
#include "host/fit/FittedModel.h"
#include "host/fit/ModelFitter.h"
#include "host/fit/PartedFit.h"
#include "host/fit/UsedData.h"
#include "host/input/CodedData.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"
#include "host/report/PmmlDocument.h"
#include "host/report/ReportFormat.h"
#include "host/run/ProgressIterator.h"

namespace mchost {

// What a session models: the formula, the variables' roles and the fit.
class SessionOptions {
public:
    std::string fFormula;
    ModelOptions fModel;
    FitOptions fFit;
};

// Reads the columns a plan asks for from wherever the data are (a CSV file,
// a binary record file, a data frame in memory).
using DataLoader = std::function<CodedData(const PlanFn& plan)>;

// How a front end takes part in making the model. The program runs on
// several processes, each with its own part of the records, where a step
// that fails on one must stop them all and the model is merged over them.
class SessionHooks {
public:
    // Runs a step that may fail on one process so that all of them stop
    // (Processes::Agreed); null runs it as it is.
    std::function<void(const std::function<void()>&)> fAgreed;
    // After the data are read, before the model is made: may add notes.
    std::function<void(CodedData&, std::vector<std::string>& notes)> fAfterRead;
    // A fit split over processes; null for one.
    Processes* fpProcesses = nullptr;
    // The subject of "... no data records": empty for "<source> holds".
    std::string fNoRecords;
};

// The analyses a report carries after the model's own tables.
class AnalysisRequest {
public:
    TestTypes fTests;
    EmmeansOptions fEmmeans;
};

// A report as the mcreg program writes it: the text for people and the
// JSON document for programs, each with the analyses asked for.
class SessionReport {
public:
    std::string fText;
    nlohmann::ordered_json fJson;
};

// One model from data to reports in a single process, for a front end
// that keeps the model to ask more of it (a Python session): the data read
// and coded, the model fitted, then on request its effect tests, marginal
// means, PMML and results documents, predictions and reports. The reports
// are those the program writes for the same data and options.
class ModelSession {
public:
    // Reads and codes the data and makes the model's spec. Throws
    // FormulaError and HostError (usage) for a model the formula and
    // options cannot describe, HostError (data) for data that cannot fit it
    // (no record, none used).
    ModelSession(const SessionOptions& options, const DataLoader& load,
                 const SessionHooks& hooks = SessionHooks());
    ~ModelSession();
    ModelSession(const ModelSession&) = delete;
    ModelSession& operator=(const ModelSession&) = delete;

    // Fits the model; cancel, when given, is polled and must outlive the
    // session. Throws LibraryError (status 1 when cancelled) and HostError.
    // Data of more than 64 Ki records are fitted in parts (FitPartCount) on
    // threads, fFit.fThreads of them computing at once: the same bits
    // for any number of threads.
    void Fit(MCCommon_850::MCQueryCancel* cancel = nullptr,
             const FitProgress& progress = FitProgress());
    // The same over the caller's stream of the model's records, in one
    // part, which must outlive the session.
    void Fit(MCCommon_850::MultiPassRecordIter& records, MCCommon_850::MCQueryCancel* cancel,
             const FitProgress& progress);

    bool IsLogistic() const { return fOptions.fFit.fbLogistic; }
    const ModelSpec& Spec() const { return *fpSpec; }
    // What the reading said besides the fit's warnings, first among them.
    const std::vector<std::string>& Notes() const { return fvNotes; }
    const ModelFitter& Fitter() const { return *Active(); }
    FittedModel Fitted() const { return Active()->GetFitted(); }
    // The parts the last fit was made of.
    int FitParts() const { return fNParts; }
    // After Fit: the results with every warning of the reading and the fit.
    const GlmResult& Glm() const { return fGlm; }
    const LogisticResult& Logistic() const { return fLogistic; }
    std::vector<std::string> Warnings() const;
    // A new stream over the model's records. Throws HostError (data) when
    // the data were read from the caller's memory (a data frame), which has
    // changed since. The analyses never need it again after a fit over such
    // data: they are summed from what the fit took.
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> Records() const;

    // After Fit: the analyses, each summing what it needs once. Throw
    // HostError (usage) for a request the model cannot answer, LibraryError
    // when the library fails, HostError (interrupted) on a cancel.
    // warnings, when given, receives what the requests leave out.
    EffectTests Tests(const TestTypes& types);
    std::vector<EmmeansResult> Emmeans(const EmmeansOptions& options,
                                       std::vector<std::string>* warnings = nullptr);
    // Returns the warnings about what the document leaves out.
    std::vector<std::string> WritePmml(std::ostream& out, PmmlOptions options);
    void WriteResultsXml(std::ostream& out) const;

    // The program's report of the model with the analyses asked for.
    SessionReport Report(const AnalysisRequest& request, const JsonOptions& json);

private:
    const UsedData& Used();
    void TakeResults();
    // The fitter of the last fit that succeeded, in one part or in parts;
    // null before.
    ModelFitter* Active() const { return fpParted ? &fpParted->Fitter() : fpFitter.get(); }

    SessionOptions fOptions;
    Formula fFormula;
    CodedData fData;
    std::unique_ptr<ModelSpec> fpSpec;
    std::vector<std::string> fvNotes;
    Processes* fpProcesses = nullptr;
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> fpOwnRecords;
    std::unique_ptr<ProgressIterator> fpCounted;  // fpOwnRecords, counted
    MCCommon_850::MultiPassRecordIter* fpRecords = nullptr;
    // Set only by a fit that succeeded: one in one part, or one in parts.
    std::unique_ptr<ModelFitter> fpFitter;
    std::unique_ptr<PartedFit> fpParted;
    int fNParts = 1;  // of the last fit, whether it succeeded or not
    MCCommon_850::MCQueryCancel* fpCancel = nullptr;
    GlmResult fGlm;
    LogisticResult fLogistic;
    std::optional<UsedData> fUsed;
};

// The checks after reading that every front end makes, said as the program
// says them: a source without records ("<holds> no data records"), records
// none of which the model can use. Throws HostError (data).
void CheckRecords(const ModelSpec& spec, const std::string& holds);

}  // namespace mchost
