#pragma once
#include <string>
#include <vector>

#include "host/run/Processes.h"

// The predict subcommand: scores new data with a model from a PMML
// document. With several processes each reads and scores its own part of
// the data, and process 0 writes the one output, in the input's order.
// Returns the exit code and throws HostError for the caller to report.
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

int RunPredict(const PredictCommand& cmd, mchost::Processes& processes);

}  // namespace mcregcli
