#include "cli/Predict.h"

#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "host/base/HostError.h"
#include "host/input/CsvReader.h"
#include "host/input/RecordStore.h"
#include "host/report/OutputFile.h"
#include "host/report/OutputTarget.h"
#include "host/score/PmmlModel.h"
#include "host/score/ScoreData.h"
#include "host/score/Scorer.h"

namespace mcregcli {

using namespace mchost;

namespace {

ScoreOptions Options(const PredictCommand& cmd) {
    ScoreOptions options;
    options.fbStandardErrors = cmd.fbSe;
    options.fLevel = cmd.fLevel;
    if (cmd.fInterval == "confidence")
        options.fInterval = ScoreOptions::kConfidence;
    else if (cmd.fInterval == "prediction")
        options.fInterval = ScoreOptions::kPrediction;
    else if (!cmd.fInterval.empty())
        throw HostError(HostError::kUsage,
                        "--interval takes confidence or prediction, not '" + cmd.fInterval + "'");
    if (!(cmd.fLevel > 0.0 && cmd.fLevel < 1.0))
        throw HostError(HostError::kUsage, "--level must lie strictly between 0 and 1");
    return options;
}

}  // namespace

int RunPredict(const PredictCommand& cmd) {
    const ScoreOptions options = Options(cmd);
    // The output is opened before anything is read, and may be neither
    // input.
    std::vector<std::pair<std::string, OutputTarget>> targets;
    targets.emplace_back("--output", ResolveOutput(cmd.fOutput));
    std::vector<NamedFile> inputs;
    for (const auto& [option, name] :
         {std::pair<std::string, std::string>{"--data", cmd.fData}, {"--model", cmd.fModel}})
        if (const std::optional<FileKey> key = InputKey(name))
            inputs.push_back({option, *key, name});
    RefuseSharedFiles(inputs, targets);
    OutputFile output(targets.front().second, DefaultTempDir(), InterruptFlag());

    const Scorer scorer(ReadPmmlFile(cmd.fModel), options);
    const PmmlModel& model = scorer.Model();
    for (const std::string& k : cmd.fvKeep)
        for (const std::string& n : scorer.OutputNames())
            if (k == n)
                throw HostError(HostError::kUsage, "--keep " + k +
                                                       " would give two columns of that name: "
                                                       "the scores have one");

    ReadOptions read;
    if (!cmd.fMemoryLimit.empty()) read.fMemoryLimit = ParseSize(cmd.fMemoryLimit);
    read.fvNaValues = SplitList(cmd.fNaValues);
    read.fDelimiter = ParseDelimiter(cmd.fDelimiter);
    read.fpInterrupt = InterruptFlag();
    const CodedData data = CsvReader::ReadFile(cmd.fData, ScorePlan(model, cmd.fvKeep), read);
    TestPoint("predict");
    const std::vector<UnseenCategory> unseen =
        WriteScores(scorer, data, cmd.fvKeep, output.Stream(), InterruptFlag());
    ThrowIfInterrupted();

    std::vector<std::string> said;
    for (const UnseenCategory& u : unseen)
        said.push_back("column '" + u.fColumn + "' has category '" + u.fText +
                       "', which the model does not know, in " + std::to_string(u.fCount) +
                       (u.fCount == 1 ? " record" : " records"));
    if (!said.empty() && cmd.fbStrict) {
        std::string all;
        for (const std::string& s : said) all += (all.empty() ? "" : "; ") + s;
        throw HostError(HostError::kData, all + " (--strict)");
    }
    for (const std::string& s : said)
        std::cerr << "mcreg: warning: " << s << ": their scores are left empty\n";

    output.Finish();
    if (output.IsDirect()) {
        output.Commit();
        return kSuccess;
    }
    const HeldInterrupts held;
    ThrowIfInterrupted();
    output.Commit();
    return kSuccess;
}

}  // namespace mcregcli
