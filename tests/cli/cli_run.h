#pragma once
// Runs the mcreg program as a separate process for the end-to-end tests.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;
using nlohmann::json;

inline const std::string kProgram = MCREG_BINARY_DIR "/cli/mcreg";
inline const std::string kGolden = MCREG_GOLDEN_DIR "/";

struct Result {
    int code = -1;  // exit code, or 128 + signal
    std::string out, err;
};

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// stdin: the file the program reads as its standard input; stdoutFile, when
// given, takes its standard output instead of the result.
inline Result RunProgram(const std::vector<std::string>& args,
                         const std::string& stdinFile = "/dev/null",
                         const std::string& stdoutFile = "") {
    static int serial = 0;
    const fs::path errFile =
        fs::temp_directory_path() /
        ("mcreg_cli_err_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::string cmd = Quote(kProgram);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " 2>" + Quote(errFile.string()) + " <" + Quote(stdinFile);
    if (!stdoutFile.empty()) cmd += " >" + Quote(stdoutFile);
    Result r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.code = 128 + WTERMSIG(status);
    r.err = Slurp(errFile);
    fs::remove(errFile);
    return r;
}

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

// Relative agreement to 1e-9, with null standing for a statistic not computed.
inline void ExpectNear(const json& got, const json& want, const std::string& what) {
    if (want.is_null()) {
        EXPECT_TRUE(got.is_null()) << what << ": " << got;
        return;
    }
    ASSERT_TRUE(got.is_number()) << what << ": " << got;
    const double g = got.get<double>(), w = want.get<double>();
    EXPECT_NEAR(g, w, 1e-9 * std::fabs(w) + 1e-12) << what;
}

// The names of an object's members, sorted.
inline std::vector<std::string> Keys(const json& o) {
    std::vector<std::string> k;
    for (auto it = o.begin(); it != o.end(); ++it) k.push_back(it.key());
    return k;
}

// Every member of want is in got (and no other), numbers to 1e-9
// relative, texts and nulls exactly.
inline void ExpectSame(const json& got, const json& want, const std::string& path) {
    if (want.is_object()) {
        ASSERT_TRUE(got.is_object()) << path << ": " << got;
        EXPECT_EQ(Keys(got), Keys(want)) << path;
        for (auto it = want.begin(); it != want.end(); ++it)
            if (got.contains(it.key())) {
                ExpectSame(got[it.key()], it.value(), path + "." + it.key());
            }
    } else if (want.is_array()) {
        ASSERT_TRUE(got.is_array()) << path << ": " << got;
        ASSERT_EQ(got.size(), want.size()) << path;
        for (std::size_t i = 0; i < want.size(); ++i)
            ExpectSame(got[i], want[i], path + "[" + std::to_string(i) + "]");
    } else if (want.is_string()) {
        EXPECT_EQ(got, want) << path;
    } else {
        ExpectNear(got, want, path);
    }
}

// RFC 4180 records: quoted fields with commas, doubled quotes and line
// ends; a UTF-8 byte-order mark and CRLF line ends are allowed.
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !rows.back().empty()) rows.back().push_back(field);
    if (rows.back().empty()) rows.pop_back();
    return rows;
}

}  // namespace clitest
