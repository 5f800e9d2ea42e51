#pragma once
// What the end-to-end tests share: the program runner and JSON comparer
// of tests/support, scratch files and the fixture that skips without the
// program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

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

inline const std::string kGolden = MCREG_GOLDEN_DIR "/";

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

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kProgram)) GTEST_SKIP() << "program not built: " << kProgram;
    }
};

}  // namespace clitest
