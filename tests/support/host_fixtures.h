#pragma once
// What the tests of the host library share: a model read from CSV text as
// the program reads it, the error a piece of code throws, a cancel and a
// scratch folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/base/HostError.h"
#include "host/input/CsvReader.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"

namespace mchost_test {

namespace fs = std::filesystem;

// A folder of its own, removed with everything in it.
struct TempDir {
    fs::path path;
    TempDir() {
        static int serial = 0;
        path = fs::temp_directory_path() /
               ("mcreg_host_test_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        fs::remove_all(path);
        fs::create_directory(path);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

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
