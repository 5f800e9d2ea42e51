#pragma once
// What the tests of the host library share: a model read from CSV text as
// the program reads it, the error a piece of code throws and a cancel.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "companion/RecordIterator.h"
#include "host/base/HostError.h"
#include "host/input/CsvReader.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"

namespace mchost_test {

// The columns a model needs, read as the program reads them.
inline mchost::CodedData ReadModelData(const std::string& csv, const mchost::Formula& f,
                                       const mchost::ModelOptions& o,
                                       const mchost::ReadOptions& how = mchost::ReadOptions()) {
    return mchost::CsvReader::ReadString(
        csv, [&](const std::vector<std::string>& h) { return mchost::PlanColumns(f, o, h); }, how);
}

// A model of CSV text and its records; the data outlive its ModelSpec.
struct CsvModel {
    CsvModel(const std::string& csv, const std::string& formulaText,
             const mchost::ModelOptions& o = {},
             const mchost::ReadOptions& how = mchost::ReadOptions())
        : formula(mchost::ParseFormula(formulaText)),
          data(ReadModelData(csv, formula, o, how)),
          spec(formula, o, data),
          records(spec.MakeIterator()) {}

    mchost::Formula formula;
    mchost::CodedData data;
    mchost::ModelSpec spec;
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> records;
};

// The HostError that body throws: its kind (0 when it throws none) and
// its message.
struct Thrown {
    int kind = 0;
    std::string message;
};

inline Thrown ThrownBy(const std::function<void()>& body) {
    try {
        body();
    } catch (const mchost::HostError& e) {
        return {e.GetKind(), e.what()};
    }
    return {};
}

// Cancels once it has been asked more than after times, by any thread;
// never by default.
class CancelAfter : public MCCommon_850::MCQueryCancel {
public:
    explicit CancelAfter(long after = std::numeric_limits<long>::max()) : fAfter(after) {}
    bool IsCancel() override { return ++fAsked > fAfter; }

    std::atomic<long> fAsked{0};
    long fAfter;
};

}  // namespace mchost_test
