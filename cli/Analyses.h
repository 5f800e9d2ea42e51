#pragma once
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "host/analyses/EffectTests.h"
#include "host/analyses/EmmeansRequest.h"
#include "host/analyses/Marginals.h"
#include "host/fit/FittedModel.h"
#include "host/report/OutputFile.h"
#include "host/report/OutputTarget.h"
#include "host/report/PmmlDocument.h"
#include "host/run/Processes.h"
#include "host/run/Progress.h"

namespace mcregcli {

// The work the options ask for after a fit (tests of effects, marginal
// means, the PMML and results documents, the predictions) and the files it
// writes. Every check that needs no fit runs before it: the options and the
// output files (each told apart from the input and the others by what file
// it is) at construction, the marginal-means terms against the model in
// Resolve, so a bad request stops the program before the data are fitted;
// the output files are opened at construction and put in place only by
// Commit, after everything succeeded.
class Analyses {
public:
    // Throws HostError (usage) for a bad option, a file that cannot be
    // written or one that is the input or another output. Of several processes, process 0 writes
    // the documents and each process the predictions of its own part.
    Analyses(const ModelCommand& cmd, const mchost::Processes& processes);

    // Opens the output files, after telling them apart from every other
    // process's files too (throws HostError on every process when one is
    // another's). Called by every process.
    void Open(mchost::Processes& processes);

    // Throws HostError (usage) for a marginal-means request the model
    // cannot answer.
    void Resolve(const mchost::ModelSpec& spec);

    // After the fit: one more pass over the records when a test, a mean or
    // the PMML document needs it (its sums merged over the processes), then
    // the tests, the means and the PMML document. application names the
    // program in the PMML header.
    // The marginal means show how far they have come on progress.
    void Run(const mchost::FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
             MCCommon_850::MCQueryCancel* cancel, const std::string& application,
             mchost::Processes& processes, mchost::TerminalProgress* progress = nullptr);

    // The files the caller fills itself; null when not asked for.
    std::ostream* Predictions() { return fpPredictions ? &fpPredictions->Stream() : nullptr; }
    std::ostream* ResultsXml() { return fpResultsXml ? &fpResultsXml->Stream() : nullptr; }
    // What the documents left out, said after the run.
    const std::vector<std::string>& Warnings() const { return fvWarnings; }

    std::string Text(double confidence, const std::string& dependent) const;
    // Adds "tests" and "emmeans" when asked for.
    void AddJson(nlohmann::ordered_json& j) const;
    // True when a file goes to the standard output, which the report must
    // then leave to it.
    bool WritesStandardOutput() const { return fbStandardOutput; }
    // Keeps what was written (a full disk fails here).
    void Finish();
    // Writes the files that go to a pipe or a device, which cannot wait
    // for the others.
    void CommitDirect();
    // Puts every other file in place, unless an interrupt came before: the
    // last step of a run.
    void Commit();

private:
    std::vector<mchost::OutputFile*> Files() const;

    mchost::TestTypes fTypes;
    mchost::EmmeansOptions fEmmeans;
    std::vector<mchost::EmmeansRequest> fvRequests;
    bool fbPmml = false;
    bool fbStandardOutput = false;
    mchost::PmmlCovariance fPmmlCovariance = mchost::PmmlCovariance::kAuto;
    std::unique_ptr<mchost::OutputFile> fpPmml;
    std::unique_ptr<mchost::OutputFile> fpResultsXml;
    std::unique_ptr<mchost::OutputFile> fpPredictions;
    // What Open checks and opens: the inputs, each output and its file.
    std::vector<mchost::NamedFile> fvInputs;
    std::vector<std::pair<std::string, mchost::OutputTarget>> fvTargets;
    std::vector<std::unique_ptr<mchost::OutputFile>*> fvFiles;
    std::optional<mchost::EffectTests> fTests;
    std::vector<mchost::EmmeansResult> fvMeans;
    std::vector<std::string> fvWarnings;
};

}  // namespace mcregcli
