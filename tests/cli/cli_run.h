#pragma once
// What the end-to-end tests share: the program runner, golden-file reader
// and JSON comparer of tests/support, scratch files, the ways of running
// the program and judging its exit, and the fixture that skips without
// the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/json_compare.h"
#include "support/program.h"

namespace clitest {

namespace fs = std::filesystem;
using nlohmann::json;

using support::ExpectJsonNear;
using support::ExpectJsonNumber;
using support::Keys;
using support::kProgram;
using support::Members;
using support::Quote;
using support::Result;
using support::RunProgram;
using support::Slurp;
using ::testing::HasSubstr;
using ::testing::Not;

inline const std::string kGolden = MCREG_GOLDEN_DIR "/";
inline const std::string kExamples = MCREG_SOURCE_DIR "/examples/";
inline const std::string kMessy = MCREG_SOURCE_DIR "/tests/data/messy/";

// The golden files hold R's numbers to 15 or more digits: the program
// agrees to 1e-9 of each, or of 1e-3 for a smaller one (a p-value near 0).
inline constexpr support::Tolerance kR{1e-9, 1e-3};

// A scratch file that removes itself.
struct TempFile {
    fs::path path;
    explicit TempFile(const std::string& content, const std::string& ext = ".csv") {
        static int serial = 0;
        path = fs::temp_directory_path() /
               ("mcreg_cli_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ext);
        std::ofstream(path, std::ios::binary) << content;
    }
    ~TempFile() { fs::remove(path); }
};

// A folder of its own, removed with everything in it.
struct TempDir {
    fs::path path;
    TempDir() {
        static int serial = 0;
        path = fs::temp_directory_path() /
               ("mcreg_cli_dir_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        fs::remove_all(path);
        fs::create_directory(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.insert(e.path().filename());
        return names;
    }
};

// a, then b.
inline std::vector<std::string> Plus(std::vector<std::string> a,
                                     const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The program fitting formula to data with more options.
inline Result Fit(const std::string& command, const std::string& data, const std::string& formula,
                  const std::vector<std::string>& more = {}) {
    return RunProgram(Plus({command, "--data", data, "--formula", formula}, more));
}

// The --json document of a run that must succeed (null when it fails).
inline json RunJson(const std::vector<std::string>& args) {
    const Result r = RunProgram(Plus(args, {"--json"}));
    EXPECT_EQ(r.code, 0) << r.err;
    return r.code == 0 ? json::parse(r.out) : json();
}

// The exit code and the exact message on standard error.
inline void ExpectExit(const Result& r, int code, const std::string& err) {
    EXPECT_EQ(r.code, code) << r.err;
    EXPECT_EQ(r.err, err);
}

// The run again with its records streamed through a temporary file: the
// same bytes on the standard output.
inline void ExpectSameStreamed(const std::vector<std::string>& args, const std::string& out) {
    const Result s = RunProgram(Plus(args, {"--memory-limit", "0"}));
    ASSERT_EQ(s.code, 0) << s.err;
    EXPECT_EQ(s.out, out);
}

// The arguments of a case of a golden JSON file: the command, the case's
// own (its data a file of tests/golden), then more.
inline std::vector<std::string> CaseArgs(const std::string& command, const json& c,
                                         const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{command};
    const json& a = c["args"];
    for (std::size_t i = 0; i < a.size(); ++i)
        args.push_back(i > 0 && a[i - 1] == "--data" ? kGolden + a[i].get<std::string>()
                                                     : a[i].get<std::string>());
    return Plus(args, more);
}

// The line of a text report that starts with prefix ("" when none does).
inline std::string LineStarting(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) return line;
    return "";
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kProgram)) GTEST_SKIP() << "program not built: " << kProgram;
    }
};

}  // namespace clitest
