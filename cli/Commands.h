#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "host/run/Processes.h"

// The two subcommands of the mcreg program. Each returns the process exit
// code and throws FormulaError or HostError for the caller to report.
namespace mcregcli {

enum ExitCode { kSuccess = 0, kInternal = 1, kUsage = 2, kData = 3, kInterrupted = 130 };

// What every model reads: the data, the formula and the variables' roles.
struct ReadCommand {
    std::string fData;
    std::string fFormula;
    std::vector<std::string> fvColumns;
    std::vector<std::string> fvFactors;
    std::string fFreqWeight;
    bool fbNoIntercept = false;
    double fConfidence = 0.95;
    bool fbJson = false;
    bool fbTiming = false;
    std::string fMemoryLimit;
    std::string fNaValues = "NA";  // comma-separated
    std::string fDelimiter;        // empty: a comma, or what the header shows
};

// What every model may do after its fit: tests of its effects, marginal
// means, and the files to write.
struct ModelCommand : ReadCommand {
    std::string fTests;
    std::vector<std::string> fvEmmeans;
    std::vector<std::string> fvCompare;
    std::string fAdjust = "none";
    std::string fContrast;
    std::string fContrastReference;
    std::vector<std::string> fvMetric;  // each comma-separated
    std::string fPmml;
    std::string fPmmlCovariance;  // empty: auto
    std::string fResultsXml;
    std::string fPredictions;
    int fThreads = 0;  // 0: the cores available
};

struct GlmCommand : ModelCommand {
    std::string fRegrWeight;
    std::string fVcov = "model";  // model, hc0, hc1, hc2 or hc3
    std::vector<std::string> fvCluster;
    double fTolerance = 0.0;
    bool fbCovariance = false;
};

struct LogisticCommand : ModelCommand {
    std::string fVcov = "model";  // model, hc0 or hc1
    std::vector<std::string> fvCluster;
    std::string fReference = "last";
    int fMaxIterations = 100;
};

// The reading options' texts: a size such as 800M, a comma-separated
// list, a delimiter (0: a comma unless the header says otherwise). Throw
// HostError (usage) for a text they cannot take.
std::size_t ParseSize(const std::string& text);
std::vector<std::string> SplitList(const std::string& text);
char ParseDelimiter(const std::string& text);

// With several processes (mpirun) each fits its own part of the records
// into the one model; process 0 alone prints.
int RunGlm(const GlmCommand& cmd, mchost::Processes& processes);
int RunLogistic(const LogisticCommand& cmd, mchost::Processes& processes);

}  // namespace mcregcli
