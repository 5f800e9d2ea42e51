#pragma once
// Runs a program as a separate process: its exit code, standard output and
// standard error.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace support {

namespace fs = std::filesystem;

// The mcreg program of this build.
inline const std::string kProgram = MCREG_BINARY_DIR "/cli/mcreg";

struct Result {
    int code = -1;  // exit code, or 128 + signal
    std::string out, err;
};

// s as one word of a shell command.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A file's bytes ("" when it cannot be read).
inline std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A shell command line, its standard input from stdinFile; stdoutFile,
// when given, takes its standard output instead of the result.
inline Result RunCommand(const std::string& command, const std::string& stdinFile = "/dev/null",
                         const std::string& stdoutFile = "") {
    static int serial = 0;
    const fs::path errFile =
        fs::temp_directory_path() /
        ("mcreg_test_err_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::string cmd = command + " 2>" + Quote(errFile.string()) + " <" + Quote(stdinFile);
    if (!stdoutFile.empty()) cmd += " >" + Quote(stdoutFile);
    Result r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.code = 128 + WTERMSIG(status);
    r.err = Slurp(errFile);
    fs::remove(errFile);
    return r;
}

// The mcreg program with args, each passed as it is.
inline Result RunProgram(const std::vector<std::string>& args,
                         const std::string& stdinFile = "/dev/null",
                         const std::string& stdoutFile = "") {
    std::string cmd = Quote(kProgram);
    for (const auto& a : args) cmd += " " + Quote(a);
    return RunCommand(cmd, stdinFile, stdoutFile);
}

}  // namespace support
