#pragma once
#include <string>
#include <vector>

// The predict subcommand: scores new data with a model from a PMML
// document. Returns the exit code and throws HostError for the caller to
// report.
namespace mcregcli {

struct PredictCommand {
    std::string fModel;
    std::string fData;
    std::string fOutput;
    bool fbSe = false;
    std::string fInterval;  // empty, confidence or prediction
    double fLevel = 0.95;
    std::vector<std::string> fvKeep;
    bool fbStrict = false;
    std::string fNaValues = "NA";  // comma-separated
    std::string fDelimiter;
    std::string fMemoryLimit;
};

int RunPredict(const PredictCommand& cmd);

}  // namespace mcregcli
