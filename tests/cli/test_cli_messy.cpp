// End-to-end tests of the program on messy data files (tests/data/messy):
// stray text in numeric columns, bytes that are not UTF-8, extreme and
// negative weights, other delimiters, standard input, gzip; and how the
// program recognises what a data file is by its first bytes: UTF-16 text
// (with or without a byte order mark) is read, gzip is read from any file
// or pipe, and other compressed files and archives are refused by name.
// Each asserts the exit code and the exact message or output, or the fit's
// parameters against the same data as a plain file.
#include <cmath>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

std::string Messy(const std::string& name) {
    return kMessy + name;
}

Result Glm(const std::string& file, const std::string& formula,
           const std::vector<std::string>& more = {}) {
    return Fit("glm", Messy(file), formula, more);
}

json GlmJson(const std::string& file, const std::string& formula,
             const std::vector<std::string>& more = {}) {
    return RunJson(Plus({"glm", "--data", Messy(file), "--formula", formula}, more));
}

// The message of a stray cell in a column read as numbers.
std::string StrayCell(const std::string& place, const std::string& column,
                      const std::string& cell) {
    return "mcreg: " + place + ": column '" + column + "' holds '" + cell +
           "', which is neither a number nor a missing value (mark it with --na-values, or name "
           "the column in --factors if it is a factor)\n";
}

// Weighted least squares of y on x, in closed form.
struct Line {
    double slope, intercept;
};
Line Wls(const std::vector<double>& x, const std::vector<double>& y,
         const std::vector<double>& w = {}) {
    double sw = 0, sx = 0, sy = 0;
    const auto weight = [&](std::size_t i) { return w.empty() ? 1.0 : w[i]; };
    for (std::size_t i = 0; i < x.size(); ++i)
        sw += weight(i), sx += weight(i) * x[i], sy += weight(i) * y[i];
    const double mx = sx / sw, my = sy / sw;
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += weight(i) * (x[i] - mx) * (y[i] - my);
        sxx += weight(i) * (x[i] - mx) * (x[i] - mx);
    }
    return {sxy / sxx, my - sxy / sxx * mx};
}

TEST_F(Cli, StrayTextInANumericColumnIsAnErrorNotAFactor) {
    Result r = Glm("stray_dot.csv", "y ~ A + x1");
    ExpectExit(r, 3, StrayCell(Messy("stray_dot.csv") + ", line 5 (data row 3)", "x1", "."));
    EXPECT_EQ(r.out, "");

    // No spelling of a non-finite or non-decimal value passes for a number.
    const std::vector<std::string> cells = {"nan", "NaN",   "Inf",   "NULL",
                                            "n/a", "1,234", "1e309", "0x10"};
    for (std::size_t i = 0; i < cells.size(); ++i) {
        SCOPED_TRACE(cells[i]);
        const std::string column = "c" + std::to_string(i);
        ExpectExit(Glm("stray_spellings.csv", "y ~ " + column), 3,
                   StrayCell(Messy("stray_spellings.csv") + ", line " + std::to_string(i + 2) +
                                 " (data row " + std::to_string(i + 1) + ")",
                             column, cells[i]));
    }

    // Named as a missing-value marker, the cell leaves its record out; the
    // text column is a factor, and the report says why.
    r = Glm("stray_dot.csv", "y ~ A + x1", {"--na-values", "NA,."});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LineStarting(r.out, "  Records"), "  Records             6 read, 5 used");
    EXPECT_EQ(LineStarting(r.out, "  Read as factors"),
              "  Read as factors     A (none of its cells is a number)");
    EXPECT_EQ(LineStarting(r.out, "  x1"),
              "  x1                1   0.0721688  13.8564   2  0.0052   0.689483    1.31052");
    // Named in --factors, the column is a factor with '.' a category of it.
    r = Glm("stray_dot.csv", "y ~ x1", {"--factors", "x1"});
    ASSERT_EQ(r.code, 0) << r.err;
    // Saturated: each category's estimate is its record's y less the
    // reference's (x1 = 6, y = 6.1).
    EXPECT_EQ(LineStarting(r.out, "  [x1=.]"), "  [x1=.]           -3");
    EXPECT_EQ(LineStarting(r.out, "  Read as factors"), "");
}

TEST_F(Cli, DataErrorsNameTheFileLineColumnAndCell) {
    // A text cell in the dependent names its own row, after a blank line;
    // lines count blank lines, CRLF line ends and line breaks inside quotes.
    const auto ragged = [](const std::string& file) {
        return "mcreg: " + Messy(file) + ", line 5 (data row 3): 3 fields, but the header has 2\n";
    };
    const std::vector<std::vector<std::string>> cases = {
        {"text_dependent.csv", "y ~ x",
         StrayCell(Messy("text_dependent.csv") + ", line 4 (data row 3)", "y", "abc")},
        {"text_only_dependent.csv", "A ~ x",
         "mcreg: " + Messy("text_only_dependent.csv") +
             ", line 2 (data row 1): the dependent variable 'A' must be numeric, but the cell "
             "holds 'alpha'\n"},
        {"ragged.csv", "y ~ x", ragged("ragged.csv")},
        {"crlf.csv", "y ~ x", ragged("crlf.csv")},
        {"quoted_lines.csv", "y ~ x",
         StrayCell(Messy("quoted_lines.csv") + ", line 5 (data row 3)", "x", "oops")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        ExpectExit(Glm(c[0], c[1]), 3, c[2]);
    }
}

TEST_F(Cli, BytesThatAreNotUtf8AreReplacedNotFatal) {
    const std::string replaced = "caf\xEF\xBF\xBD";  // U+FFFD for the Latin-1 byte
    EXPECT_EQ(GlmJson("latin1.csv", "y ~ A")["parameters"][2]["label"], "[A=" + replaced + "]");
    const Result r = Glm("latin1.csv", "y ~ A");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LineStarting(r.out, "  [A=caf"), "  [A=" + replaced + "]        0 a");
    // Two categories that only such bytes tell apart look alike there: said.
    const std::string u = "s\xFC\x64", e = "s\xE8\x64";  // CP1252 "süd", "sèd"
    const TempFile twins("y,r\n1," + u + "\n2," + e + "\n3,n\n4," + u + "\n2," + e + "\n5,n\n");
    ExpectExit(Fit("glm", twins.path.string(), "y ~ r"), 0,
               "mcreg: warning: 'r' has the categories 's\\xE8d' and 's\\xFCd', which differ "
               "only in bytes that are not UTF-8: the report and the JSON show them alike (the "
               "PMML and results documents keep them apart)\n");
}

TEST_F(Cli, NumericMissingValueMarkersMatchEverySpellingOfTheirValue) {
    // Records 3, 5 and 6 carry a marker: -999 spelled three ways, and "."
    // (the list has blanks after its commas). The fit is that of the other
    // records, whose least-squares line is worked out here.
    const std::vector<double> x{1, 2, 4, 5, 7}, y{2.1, 3.9, 8.2, 9.8, 14.1};
    const TempFile data("y,x\n2.1,1\n3.9,2\n5,-999.0\n8.2,4\n6,-9.99e2\n.,3\n9.8,5\n14.1,7\n");
    const json j = RunJson(
        {"glm", "--data", data.path.string(), "--formula", "y ~ x", "--na-values", "NA, ., -999"});
    EXPECT_EQ(j["records"]["used"], 5);
    const Line want = Wls(x, y);
    ExpectJsonNumber(j["parameters"][1]["estimate"], want.slope, kR, "slope");
    ExpectJsonNumber(j["parameters"][0]["estimate"], want.intercept, kR, "intercept");
}

TEST_F(Cli, StarTermWithoutItsMarginsGetsANote) {
    const std::string note =
        "mcreg: note: 'A*x' is the interaction term alone, without A, x (unlike R, '*' does not "
        "add the terms it contains); the model with them is: y ~ A + x + A*x\n";
    ExpectExit(Glm("interaction.csv", "y ~ A*x"), 0, note);
    EXPECT_EQ(GlmJson("interaction.csv", "y ~ A*x")["warnings"],
              json::array({note.substr(7, note.size() - 8)}));  // without "mcreg: " and "\n"
    // With its margins, or written as A:x, the term needs no note.
    for (const char* formula : {"y ~ A + x + A*x", "y ~ x + A + x*A", "y ~ A:x"}) {
        SCOPED_TRACE(formula);
        ExpectExit(Glm("interaction.csv", formula), 0, "");
    }
}

TEST_F(Cli, WeightsAtAnyScaleFitAlikeAndOddWeightsAreReported) {
    const Line want = Wls({1, 2, 3, 4, 5, 6}, {1, 2.5, 2.9, 4.4, 4.8, 6.3}, {1, 2, 1, 3, 1, 2});
    json base;
    for (const char* w : {"w", "big", "small"}) {
        SCOPED_TRACE(w);
        const Result r = Glm("weights.csv", "y ~ x", {"--regr-weight", w, "--json"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const json j = json::parse(r.out);
        ExpectJsonNumber(j["parameters"][0]["estimate"], want.intercept, kR, "intercept");
        ExpectJsonNumber(j["parameters"][1]["estimate"], want.slope, kR, "slope");
        if (base.is_null()) base = j;
        for (const char* key : {"std_error", "t", "sig"})
            ExpectJsonNumber(j["parameters"][1][key], base["parameters"][1][key], kR, key);
        ExpectJsonNumber(j["fit"]["r_square"], base["fit"]["r_square"], kR, "r_square");
    }
    // Weights of 1e300 times w: the weighted root mean square error is
    // 1e150 times w's.
    const json big = GlmJson("weights.csv", "y ~ x", {"--regr-weight", "big"});
    ExpectJsonNumber(big["fit"]["rmse"], base["fit"]["rmse"].get<double>() * 1e150, kR, "rmse");

    Result r = Glm("negative_weights.csv", "y ~ x", {"--regr-weight", "w"});
    ExpectExit(r, 0,
               "mcreg: warning: 2 records are left out for a negative regression weight ('w'), as "
               "records with a missing value are\n");
    EXPECT_EQ(LineStarting(r.out, "  Records"), "  Records             7 read, 4 used");
    ExpectExit(Glm("weights.csv", "y ~ x", {"--freq-weight", "f"}), 0,
               "mcreg: warning: the frequency weight 'f' is not a whole number in " +
                   Messy("weights.csv") +
                   ", data row 3 (1.5); a frequency weight counts records\n");
    ExpectExit(Glm("infinite_weight.csv", "y ~ x", {"--regr-weight", "w"}), 3,
               StrayCell(Messy("infinite_weight.csv") + ", line 3 (data row 2)", "w", "inf"));
    ExpectExit(Glm("infinite_weight.bin", "y ~ x", {"--columns", "y,x,w", "--regr-weight", "w"}), 3,
               "mcreg: " + Messy("infinite_weight.bin") +
                   ", data row 2: weight 'w' is inf; a weight must be finite\n");
}

TEST_F(Cli, NoQuietFailures) {
    ExpectExit(Glm("saturated.csv", "y ~ A"), 0,
               "mcreg: warning: the model is saturated: its 3 parameters fit the records exactly "
               "(error df 0), so there are no standard errors, tests or intervals\n");
    ExpectExit(Glm("constant.csv", "y ~ x"), 0,
               "mcreg: warning: the dependent variable 'y' is constant in the records used, so "
               "R-square is undefined\n");
    ExpectExit(Glm("overflow.csv", "y ~ x + z"), 0,
               "mcreg: warning: covariate 'x' reaches 5e+200, too large for its sums of squares, "
               "which overflow; it is aliased for that reason: rescale it\n");
    ExpectExit(Glm("comma.csv", "y ~ x", {"--tolerance", "nan"}), 2,
               "mcreg: --tolerance must lie in (0, 1)\n");
    ExpectExit(RunProgram({"fit", "--data", Messy("comma.csv")}), 2,
               "mcreg: unknown subcommand 'fit': the subcommands are glm, logistic and predict "
               "(mcreg --help)\n");
    ExpectExit(RunProgram({"glm", "--data", Messy("comma.csv"), "--formula", "y ~ x"}, "/dev/null",
                          "/dev/full"),
               1, "mcreg: cannot write output: No space left on device\n");
    ExpectExit(Glm("truncated.csv.gz", "y ~ x"), 3,
               "mcreg: cannot read " + Messy("truncated.csv.gz") +
                   " (gzip-compressed): unexpected end of file\n");
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

TEST_F(Cli, DelimitersStandardInputAndGzipReadTheSameData) {
    const Result plain = Glm("comma.csv", "y ~ x", {"--json"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    const auto fitOf = [](const Result& r) { return json::parse(r.out)["parameters"]; };
    // Detected from the header, and said.
    for (const char* file : {"semicolon.csv", "tab.tsv"}) {
        SCOPED_TRACE(file);
        const Result r = Glm(file, "y ~ x", {"--json"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "mcreg: note: the header of " + Messy(file) + " splits only on " +
                             (std::string(file) == "tab.tsv" ? "tabs" : "semicolons") +
                             ", so they are read as the delimiter (--delimiter)\n");
        EXPECT_EQ(fitOf(r), fitOf(plain));
    }
    // Told, and then not said.
    Result r = Glm("pipe.txt", "y ~ x", {"--json", "--delimiter", "|"});
    ExpectExit(r, 0, "");
    EXPECT_EQ(fitOf(r), fitOf(plain));
    ExpectExit(Glm("semicolon.csv", "y ~ x", {"--delimiter", ";;"}), 2,
               "mcreg: --delimiter takes one character other than a quote, a blank or a line end, "
               "or 'tab', not ';;'\n");
    r = Glm("comma.csv.gz", "y ~ x", {"--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fitOf(r), fitOf(plain));
    // Standard input, a file or (through cat) a pipe, compressed or not.
    r = RunProgram({"glm", "--data", "-", "--formula", "y ~ x", "--json"}, Messy("comma.csv"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fitOf(r), fitOf(plain));
    for (const char* file : {"comma.csv", "comma.csv.gz"}) {
        r = support::RunCommand("(cat " + Quote(Messy(file)) + " | " + Quote(kProgram) +
                                " glm --data - --formula 'y ~ x' --json)");
        ASSERT_EQ(r.code, 0) << file << r.err;
        EXPECT_EQ(fitOf(r), fitOf(plain)) << file;
    }
    // A pipe named /dev/fd/N, compressed.
    EXPECT_EQ(ThroughBash("<(gzip -c " + Quote(Messy("comma.csv")) + ")", "y ~ x")["parameters"],
              fitOf(plain));
}

TEST_F(Cli, JsonIsCompleteAndReproducible) {
    const std::vector<std::string> args{"glm",   "--data", Messy("comma.csv"), "--formula",
                                        "y ~ x", "--json", "--covariance"};
    const Result r = RunProgram(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(RunProgram(args).out, r.out);  // two runs, the same bytes
    const json j = json::parse(r.out);
    EXPECT_EQ(Keys(j), (std::vector<std::string>{
                           "confidence", "covariance", "dependent", "fit", "formula", "model",
                           "parameters", "records", "total_frequency_weight",
                           "total_regression_weight", "variables", "vcov", "warnings"}));
    EXPECT_EQ(j["formula"], "y ~ x");
    EXPECT_EQ(j["confidence"], 0.95);
    EXPECT_EQ(j["variables"], json::parse(R"([{"name": "y", "role": "dependent"},
                                             {"name": "x", "role": "covariate"}])"));
    EXPECT_EQ(j["warnings"], json::array());
    EXPECT_EQ(j["fit"]["rank"], 2);
    EXPECT_EQ(j["fit"]["error_df"], 2);
    // Least squares in closed form: s^2 = RSS / (n - 2), var(slope) =
    // s^2 / Sxx, var(intercept) = s^2 (1/n + mean^2 / Sxx), their covariance
    // -s^2 mean / Sxx.
    const std::vector<double> x{2, 3.5, 4, 6.5}, y{1, 2, 3, 4};
    const Line fit = Wls(x, y);
    double rss = 0, sxx = 0;
    const double mean = (2 + 3.5 + 4 + 6.5) / 4;
    for (std::size_t i = 0; i < 4; ++i) {
        const double e = y[i] - fit.intercept - fit.slope * x[i];
        rss += e * e;
        sxx += (x[i] - mean) * (x[i] - mean);
    }
    const double s2 = rss / 2;
    ExpectJsonNumber(j["fit"]["residual_standard_error"], std::sqrt(s2), kR,
                     "residual standard error");
    EXPECT_EQ(j["covariance"]["parameters"], json::array({"P0000001", "P0000002"}));
    const json& m = j["covariance"]["matrix"];
    ExpectJsonNumber(m[0][0], s2 * (0.25 + mean * mean / sxx), kR, "var(intercept)");
    ExpectJsonNumber(m[1][1], s2 / sxx, kR, "var(slope)");
    ExpectJsonNumber(m[0][1], -s2 * mean / sxx, kR, "cov");
    ExpectJsonNumber(m[1][0], -s2 * mean / sxx, kR, "cov");

    // A factor's categories in code order; the data's warnings; timings
    // only when asked.
    const json k = GlmJson("negative_weights.csv", "y ~ x", {"--regr-weight", "w", "--timing"});
    EXPECT_EQ(k["warnings"],
              json::array({"warning: 2 records are left out for a negative regression weight "
                           "('w'), as records with a missing value are"}));
    EXPECT_TRUE(k["timing_seconds"]["read"].is_number());
    EXPECT_EQ(GlmJson("labels.csv", "y ~ A")["variables"][1],
              json::parse(R"({"name": "A", "role": "factor",
                              "categories": ["Zürich", "a\tb", "東京"]})"));
}

TEST_F(Cli, TablesLineUpInDisplayWidth) {
    // Group means 2 (Zürich), 8 (a<tab>b) and 5 (東京, the last in byte
    // order and so the reference); each group's residuals are -1 and 1, so
    // the residual variance is 6/3 = 2, a difference's standard error
    // sqrt(2) and the interval's half-width t(0.975, 3) sqrt(2) = 4.50066.
    const Result r = Glm("labels.csv", "y ~ A");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string table = r.out.substr(r.out.find("  Parameter"));
    EXPECT_EQ(table.substr(0, table.find("\n\nFit")),
              "  Parameter   Estimate  Std. error         t  df    Sig.  95% lower  95% upper\n"
              "  ----------------------------------------------------------------------------\n"
              "  Intercept          5           1         5   3  0.0154    1.81755    8.18245\n"
              "  [A=Zürich]        -3     1.41421  -2.12132   3  0.1240   -7.50066    1.50066\n"
              "  [A=a\\tb]           3     1.41421   2.12132   3  0.1240   -1.50066    7.50066\n"
              "  [A=東京]         0 a\n"
              "  ----------------------------------------------------------------------------\n"
              "  a. Redundant: aliased with the parameters before it, so set to 0.");
    EXPECT_EQ(LineStarting(r.out, "  Error df"), "  Error df                 3");
    // An escape sequence in a label cannot colour or move the terminal.
    const Result c = Glm("control.csv", "y ~ A");
    ASSERT_EQ(c.code, 0) << c.err;
    // Means 2.5 and 3.5, residuals of 1.5 each: s = sqrt(9 / 2), a
    // difference's standard error s, its interval t(0.975, 2) s = 9.1273 wide.
    EXPECT_EQ(
        LineStarting(c.out, "  [A=a]"),
        "  [A=a]                  -1     2.12132  -0.471405   2  0.6838   -10.1273     8.1273");
    EXPECT_EQ(LineStarting(c.out, "  [A=esc"), "  [A=esc\\x1b[31m]       0 a");
}

TEST_F(Cli, Utf16TextIsReadAsItsCharacters) {
    const json utf8 = GlmJson("region.csv", "y ~ x + région")["parameters"];
    // Little-endian with a mark, compressed or not, from a file or a pipe;
    // the names and categories (one outside the 16-bit plane) are the same.
    for (const char* file : {"utf16_bom.csv", "utf16_bom.csv.gz"}) {
        SCOPED_TRACE(file);
        const Result r = Glm(file, "y ~ x + région", {"--json"});
        ExpectExit(r, 0, "");
        EXPECT_EQ(json::parse(r.out)["parameters"], utf8);
    }
    EXPECT_EQ(
        ThroughBash("<(cat " + Quote(Messy("utf16_bom.csv")) + ")", "y ~ x + région")["parameters"],
        utf8);
    // Big-endian without a mark.
    EXPECT_EQ(GlmJson("utf16be.csv", "y ~ x")["parameters"],
              GlmJson("comma.csv", "y ~ x")["parameters"]);
    // The header is read as characters, not as bytes with zeros between.
    ExpectExit(Glm("utf16be.csv", "y ~ z"), 2,
               "mcreg: unknown column 'z'; the columns are: y, x\n  y ~ z\n      ^\n");
    // Messages name the encoding with the file.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("y,x\n1,2\n2,.\n")) utf16 += std::string{c, '\0'};
    const TempFile stray(utf16);
    ExpectExit(Fit("glm", stray.path.string(), "y ~ x"), 3,
               "mcreg: " + stray.path.string() +
                   " (UTF-16), line 3 (data row 2): column 'x' holds '.', which is neither a "
                   "number nor a missing value (mark it with --na-values, or name the column in "
                   "--factors if it is a factor)\n");
    // UTF-32 is refused, naming it.
    ExpectExit(Glm("utf32.csv", "y ~ x"), 3,
               "mcreg: '" + Messy("utf32.csv") +
                   "' is in UTF-32: save it as UTF-8 (iconv -f UTF-32 -t UTF-8)\n");
}

TEST_F(Cli, OtherCompressedFilesAndArchivesAreRefusedByName) {
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
        const Result r = Glm(file, "y ~ x");
        ExpectExit(r, 3, "mcreg: '" + Messy(file) + "' " + what + "\n");
        EXPECT_EQ(r.out, "");
    }
    // The same through the standard input.
    ExpectExit(RunProgram({"glm", "--data", "-", "--formula", "y ~ x"}, Messy("comma.csv.bz2")), 3,
               "mcreg: standard input " + refused[0].second + "\n");
}

TEST_F(Cli, AnInputWithoutLineEndsIsRefusedAtTheRecordCap) {
    ExpectExit(Fit("glm", "/dev/zero", "y ~ x"), 3,
               "mcreg: /dev/zero, line 1: no line end in 64 MiB, the most a header or record may "
               "take (is it a CSV file?)\n");
}

}  // namespace
