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

std::string Messy(const std::string& name) {
    return kMessy + name;
}

Result Glm(const std::string& data, const std::string& formula,
           const std::vector<std::string>& more = {}) {
    return Fit("glm", data, formula, more);
}

json Parameters(const Result& r) {
    return json::parse(r.out)["parameters"];
}

// The program run by bash, whose process substitution hands it a pipe
// named /dev/fd/N; the JSON it writes.
json ThroughBash(const std::string& dataExpr, const std::string& formula) {
    const Result r =
        support::RunCommand("bash -c " + Quote(Quote(kProgram) + " glm --data " + dataExpr +
                                               " --formula " + Quote(formula) + " --json"));
    EXPECT_EQ(r.code, 0) << r.err;
    return r.code == 0 ? json::parse(r.out) : json();
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
    EXPECT_EQ(
        ThroughBash("<(cat " + Quote(Messy("utf16_bom.csv")) + ")", "y ~ x + région")["parameters"],
        Parameters(utf8));
    // Big-endian without a mark.
    const Result plain = Glm(Messy("comma.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    const Result be = Glm(Messy("utf16be.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(be.code, 0) << be.err;
    EXPECT_EQ(Parameters(be), Parameters(plain));
    // The header is read as characters, not as bytes with zeros between.
    ExpectExit(Glm(Messy("utf16be.csv"), "y ~ z"), 2,
               "mcreg: unknown column 'z'; the columns are: y, x\n  y ~ z\n      ^\n");
    // Messages name the encoding with the file.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("y,x\n1,2\n2,.\n")) utf16 += std::string{c, '\0'};
    const TempFile stray(utf16);
    ExpectExit(Glm(stray.path.string(), "y ~ x"), 3,
               "mcreg: " + stray.path.string() +
                   " (UTF-16), line 3 (data row 2): column 'x' holds '.', which is neither a "
                   "number nor a missing value (mark it with --na-values, or name the column in "
                   "--factors if it is a factor)\n");
    // UTF-32 is refused, naming it.
    ExpectExit(Glm(Messy("utf32.csv"), "y ~ x"), 3,
               "mcreg: '" + Messy("utf32.csv") +
                   "' is in UTF-32: save it as UTF-8 (iconv -f UTF-32 -t UTF-8)\n");
}

TEST_F(Cli, GzipIsReadFromAPipeAndOtherArchivesAreRefusedByName) {
    const Result plain = Glm(Messy("comma.csv"), "y ~ x", {"--json"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(ThroughBash("<(gzip -c " + Quote(Messy("comma.csv")) + ")", "y ~ x")["parameters"],
              Parameters(plain));

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
        ExpectExit(r, 3, "mcreg: '" + Messy(file) + "' " + what + "\n");
        EXPECT_EQ(r.out, "");
    }
    // The same through the standard input.
    ExpectExit(RunProgram({"glm", "--data", "-", "--formula", "y ~ x"}, Messy("comma.csv.bz2")), 3,
               "mcreg: standard input " + refused[0].second + "\n");
}

TEST_F(Cli, AnInputWithoutLineEndsIsRefusedAtTheRecordCap) {
    ExpectExit(Glm("/dev/zero", "y ~ x"), 3,
               "mcreg: /dev/zero, line 1: no line end in 64 MiB, the most a header or record may "
               "take (is it a CSV file?)\n");
}

}  // namespace
