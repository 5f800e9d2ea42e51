#include "cli/Predict.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "host/base/HostError.h"
#include "host/fit/ModelFitter.h"
#include "host/input/ByteSource.h"
#include "host/input/CsvReader.h"
#include "host/input/PartSource.h"
#include "host/input/RecordStore.h"
#include "host/report/OutputFile.h"
#include "host/report/OutputTarget.h"
#include "host/run/Processes.h"
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
    if (!FitOptions::IntervalLevel(cmd.fLevel))
        throw HostError(HostError::kUsage, std::string("--level ") + FitOptions::kLevelRule);
    return options;
}

// The records this process scores: all of them, or with several processes
// its own part of the input.
CodedData ReadRecords(const PredictCommand& cmd, const PmmlModel& model, ReadOptions read,
                      const Processes& processes) {
    if (!processes.IsSplit())
        return CsvReader::ReadFile(cmd.fData, ScorePlan(model, cmd.fvKeep), read);
    if (cmd.fData == "-")
        throw HostError(HostError::kUsage,
                        "with " + std::to_string(processes.Size()) +
                            " processes, --data must name a file that each process can read "
                            "its part of, not the standard input");
    const std::unique_ptr<ByteSource> source =
        OpenSource(cmd.fData, read.fTempDir, read.fpInterrupt);
    PartSource part(*source, processes.Rank(), processes.Size());
    read.fRowsBefore = part.RowsBefore();
    read.fByteShift = part.ByteShift();
    return CsvReader::Read(part, ScorePlan(model, cmd.fvKeep), read);
}

// The categories no process's model knows, column by column in the
// model's order, each in order of first appearance in the input: the
// processes' lists in process order, the counts summed.
std::vector<UnseenCategory> AllUnseen(const std::vector<UnseenCategory>& mine,
                                      const PmmlModel& model, Processes& processes) {
    if (!processes.IsSplit()) return mine;
    std::vector<std::string> texts;
    for (const UnseenCategory& u : mine)
        texts.insert(texts.end(), {u.fColumn, u.fText, std::to_string(u.fCount)});
    const std::vector<std::vector<std::string>> all = processes.GatherTexts(texts);
    std::vector<UnseenCategory> merged;
    for (const ModelPredictor& p : model.fvPredictors)
        for (const std::vector<std::string>& part : all)
            for (std::size_t k = 0; k + 2 < part.size(); k += 3) {
                if (part[k] != p.fName) continue;
                const std::size_t count = std::stoull(part[k + 2]);
                bool found = false;
                for (UnseenCategory& u : merged)
                    if (u.fColumn == p.fName && u.fText == part[k + 1]) {
                        u.fCount += count;
                        found = true;
                    }
                if (!found) merged.push_back({p.fName, part[k + 1], count});
            }
    return merged;
}

// A file of this process's own, gone once closed.
class PartFile {
public:
    explicit PartFile(const Processes& processes) {
        const std::string path = DefaultTempDir() + "/mcreg-scores-" + std::to_string(::getpid()) +
                                 "-" + std::to_string(processes.Rank()) + ".csv";
        fFile.open(path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
        std::remove(path.c_str());
        if (!fFile)
            throw HostError(HostError::kUsage, "cannot create a temporary file in " +
                                                   DefaultTempDir() + " (set TMPDIR)");
    }
    std::iostream& Stream() { return fFile; }
    // After the scores: back to the start, or a failure to write them.
    void Rewind() {
        fFile.flush();
        if (!fFile)
            throw HostError(HostError::kUsage, "cannot write a temporary file in " +
                                                   DefaultTempDir() + " (a full disk?)");
        fFile.seekg(0);
    }
    bool Next(std::string& piece) {
        piece.resize(std::size_t(4) << 20);
        fFile.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        piece.resize(static_cast<std::size_t>(fFile.gcount()));
        return !piece.empty();
    }

private:
    std::fstream fFile;
};

}  // namespace

int RunPredict(const PredictCommand& cmd, Processes& processes) {
    const ScoreOptions options = Options(cmd);
    // Process 0 writes the output, which is opened before anything is
    // read, and may be neither input.
    const bool writes = processes.Rank() == 0;
    std::unique_ptr<OutputFile> output;
    processes.Agreed([&] {
        if (!writes) return;
        std::vector<std::pair<std::string, OutputTarget>> targets;
        targets.emplace_back("--output", ResolveOutput(cmd.fOutput));
        std::vector<NamedFile> inputs;
        for (const auto& [option, name] :
             {std::pair<std::string, std::string>{"--data", cmd.fData}, {"--model", cmd.fModel}})
            if (const std::optional<FileKey> key = InputKey(name))
                inputs.push_back({option, *key, name});
        RefuseSharedFiles(inputs, targets);
        output =
            std::make_unique<OutputFile>(targets.front().second, DefaultTempDir(), InterruptFlag());
    });

    std::unique_ptr<Scorer> scorer;
    processes.Agreed([&] {
        scorer = std::make_unique<Scorer>(ReadPmmlFile(cmd.fModel), options);
        for (const std::string& k : cmd.fvKeep)
            for (const std::string& n : scorer->OutputNames())
                if (k == n)
                    throw HostError(HostError::kUsage,
                                    "--keep " + k +
                                        " would give two columns of that name: the scores have "
                                        "one");
    });
    const PmmlModel& model = scorer->Model();

    ReadOptions read;
    if (!cmd.fMemoryLimit.empty()) read.fMemoryLimit = ParseSize(cmd.fMemoryLimit);
    read.fvNaValues = SplitList(cmd.fNaValues);
    read.fDelimiter = ParseDelimiter(cmd.fDelimiter);
    read.fpInterrupt = InterruptFlag();
    CodedData data;
    processes.Agreed([&] { data = ReadRecords(cmd, model, read, processes); });
    TestPoint("predict");
    // Each process scores its own records; process 0 writes its scores
    // after the header, then the others' in process order.
    std::vector<UnseenCategory> unseen;
    std::unique_ptr<PartFile> part;
    processes.Agreed([&] {
        if (!writes) part = std::make_unique<PartFile>(processes);
        std::ostream& out = writes ? output->Stream() : part->Stream();
        unseen = WriteScores(*scorer, data, cmd.fvKeep, out, InterruptFlag(), writes);
        ThrowIfInterrupted();
        if (part) part->Rewind();
    });
    processes.InOrder([&](std::string& piece) { return part && part->Next(piece); },
                      [&](const std::string& piece) {
                          output->Stream().write(piece.data(),
                                                 static_cast<std::streamsize>(piece.size()));
                      });
    unseen = AllUnseen(unseen, model, processes);
    // The same terms on every process: their counts add up, and so do the
    // records the data do not determine and the standard errors that
    // rounding took (the last two counts).
    std::vector<std::pair<std::string, std::size_t>> unobserved = scorer->UnobservedCells();
    std::vector<double> counts;
    for (const auto& term : unobserved) counts.push_back(static_cast<double>(term.second));
    counts.push_back(static_cast<double>(scorer->UndeterminedRecords()));
    counts.push_back(static_cast<double>(scorer->ImpreciseErrors()));
    if (processes.IsSplit()) processes.Sum(counts);

    std::vector<std::string> said;
    for (const UnseenCategory& u : unseen)
        said.push_back("column '" + u.fColumn + "' has category '" + u.fText +
                       "', which the model does not know, in " + std::to_string(u.fCount) +
                       (u.fCount == 1 ? " record" : " records"));
    for (std::size_t t = 0; t < unobserved.size(); ++t) {
        const auto n = static_cast<std::size_t>(counts[t]);
        if (n == 0) continue;
        said.push_back(std::to_string(n) + (n == 1 ? " record has" : " records have") +
                       " a combination of categories of " + unobserved[t].first +
                       " that the fit did not meet");
    }
    if (const auto n = static_cast<std::size_t>(counts[counts.size() - 2]); n > 0)
        said.push_back(std::to_string(n) + (n == 1 ? " record has" : " records have") +
                       " values the fit's data do not determine a score for (a parameter "
                       "the data left aliased would decide it)");
    if (!said.empty() && cmd.fbStrict) {
        std::string all;
        for (const std::string& s : said) all += (all.empty() ? "" : "; ") + s;
        throw HostError(HostError::kData, all + " (--strict)");
    }
    if (!writes) return kSuccess;
    for (const std::string& s : said)
        std::cerr << "mcreg: warning: " << s << ": their scores are left empty\n";
    if (const auto n = static_cast<std::size_t>(counts.back()); n > 0)
        std::cerr << "mcreg: warning: the standard errors and intervals of " << n
                  << (n == 1 ? " record are" : " records are")
                  << " left empty: rounding takes their digits, as with a covariate far from "
                     "zero (fit it shifted by a value near its mean)\n";

    output->Finish();
    if (output->IsDirect()) {
        output->Commit();
        return kSuccess;
    }
    const HeldInterrupts held;
    ThrowIfInterrupted();
    const OutputFile::CommitWindow window;
    output->Commit();
    return kSuccess;
}

}  // namespace mcregcli
