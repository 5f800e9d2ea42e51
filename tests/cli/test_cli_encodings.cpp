// End-to-end tests of how the program recognises what a data file is by its
// first bytes: UTF-16 text (with or without a byte order mark) is read,
// gzip is read from any file or pipe, and other compressed files and
// archives are refused by name. Each asserts the exit code and the exact
// message or the fit's parameters against the same data as a plain file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

const std::string kMessy = MCREG_SOURCE_DIR "/tests/data/messy/";

std::string Messy(const std::string& name) {
    return kMessy + name;
}

Result Glm(const std::string& data, const std::string& formula,
           std::vector<std::string> more = {}) {
    std::vector<std::string> args{"glm", "--data", data, "--formula", formula};
    args.insert(args.end(), more.begin(), more.end());
    return RunProgram(args);
}

json Parameters(const Result& r) {
    return json::parse(r.out)["parameters"];
}

// The program run by bash, whose process substitution hands it a pipe
// named /dev/fd/N; the JSON it writes.
std::string ThroughBash(const std::string& dataExpr, const std::string& formula) {
    const TempFile out("", ".json");
    const std::string script = Quote(kProgram) + " glm --data " + dataExpr + " --formula " +
                               Quote(formula) + " --json >" + Quote(out.path.string());
    const std::string cmd = "bash -c " + Quote(script);
    if (std::system(cmd.c_str()) != 0) return "failed: " + cmd;
    return Slurp(out.path);
}

TEST_F(Cli, Utf16TextIsReadAsItsCharacters) {
    const Result utf8 = Glm(Messy("region.csv"), "y ~ x + région", {"--json"});
    ASSERT_EQ(utf8.code, 0) << utf8.err;
    // Little-endian with a mark, compressed or not, from a file or a pipe;
    // the names and categories (one outside the 16-bit plane) are the same.
    for (const char* file : {"utf16_bom.csv", "utf16_bom.csv.gz"}) {
        SCOPED_TRACE(file);
        const Result r = Glm(Messy(file), "y ~ x + région", {"--json"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Parameters(r), Parameters(utf8));
    }
    const json piped =
        json::parse(ThroughBash("<(cat " + Quote(Messy("utf16_bom.csv")) + ")", "y ~ x + région"));
    EXPECT_EQ(piped["parameters"], Parameters(utf8));
    // Big-endian without a mark.
    const Result plain = Glm(Messy("comma.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    const Result be = Glm(Messy("utf16be.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(be.code, 0) << be.err;
    EXPECT_EQ(Parameters(be), Parameters(plain));
    // The header is read as characters, not as bytes with zeros between.
    const Result unknown = Glm(Messy("utf16be.csv"), "y ~ z");
    EXPECT_EQ(unknown.code, 2);
    EXPECT_EQ(unknown.err, "mcreg: unknown column 'z'; the columns are: y, x\n  y ~ z\n      ^\n");
    // Messages name the encoding with the file.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("y,x\n1,2\n2,.\n")) utf16 += std::string{c, '\0'};
    const TempFile stray(utf16);
    const Result dot = Glm(stray.path.string(), "y ~ x");
    EXPECT_EQ(dot.code, 3);
    EXPECT_EQ(dot.err, "mcreg: " + stray.path.string() +
                           " (UTF-16), line 3 (data row 2): column 'x' holds '.', which is neither "
                           "a number nor a missing value (mark it with --na-values, or name the "
                           "column in --factors if it is a factor)\n");
    // UTF-32 is refused, naming it.
    const Result wide = Glm(Messy("utf32.csv"), "y ~ x");
    EXPECT_EQ(wide.code, 3);
    EXPECT_EQ(wide.err, "mcreg: '" + Messy("utf32.csv") +
                            "' is in UTF-32: save it as UTF-8 (iconv -f UTF-32 -t UTF-8)\n");
}

TEST_F(Cli, GzipIsReadFromAPipeAndOtherArchivesAreRefusedByName) {
    const Result plain = Glm(Messy("comma.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    const json piped =
        json::parse(ThroughBash("<(gzip -c " + Quote(Messy("comma.csv")) + ")", "y ~ x"));
    EXPECT_EQ(piped["parameters"], Parameters(plain));

    const std::vector<std::pair<std::string, std::string>> refused = {
        {"comma.csv.bz2",
         "is a bzip2-compressed file: decompress it first, or pipe it: bzip2 -dc FILE | mcreg "
         "... --data -"},
        {"comma.csv.xz",
         "is an xz-compressed file: decompress it first, or pipe it: xz -dc FILE | mcreg ... "
         "--data -"},
        {"comma.csv.zst",
         "is a zstd-compressed file: decompress it first, or pipe it: zstd -dc FILE | mcreg ... "
         "--data -"},
        {"comma.zip",
         "is a zip archive (an .xlsx or .ods workbook is one too): extract the CSV file from it "
         "first, or save the sheet as CSV"},
    };
    for (const auto& [file, what] : refused) {
        SCOPED_TRACE(file);
        const Result r = Glm(Messy(file), "y ~ x");
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "mcreg: '" + Messy(file) + "' " + what + "\n");
    }
    // The same through the standard input.
    const Result r =
        RunProgram({"glm", "--data", "-", "--formula", "y ~ x"}, Messy("comma.csv.bz2"));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "mcreg: standard input " + refused[0].second + "\n");
}

TEST_F(Cli, AnInputWithoutLineEndsIsRefusedAtTheRecordCap) {
    const Result r = Glm("/dev/zero", "y ~ x");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err,
              "mcreg: /dev/zero, line 1: no line end in 64 MiB, the most a header or record may "
              "take (is it a CSV file?)\n");
}

}  // namespace
