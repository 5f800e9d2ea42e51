// End-to-end tests of the mcreg program: it is run as a separate process on
// small files and its --json output is compared with lm results computed in R
// (tools/reference/cli_golden.R). Error paths must end with the documented exit
// code and a message naming the problem, never with a signal.
#include <algorithm>
#include <memory>
#include <optional>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

void ExpectMatches(const json& got, const json& want) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Keys(got), (V{"confidence", "dependent", "fit", "formula", "model", "parameters",
                            "records", "total_frequency_weight", "total_regression_weight",
                            "variables", "vcov", "warnings"}));
    EXPECT_EQ(got["vcov"], json({{"type", "model"}}));
    EXPECT_EQ(Keys(got["fit"]),
              (V{"error_df", "r_square", "rank", "residual_standard_error", "rmse"}));
    for (const json& p : got["parameters"])
        EXPECT_EQ(Keys(p), (V{"ci_lower", "ci_upper", "df", "effect", "estimate", "label", "name",
                              "redundant", "sig", "std_error", "t"}));
    EXPECT_EQ(got.value("model", ""), "glm");
    for (const char* key :
         {"dependent", "records", "total_frequency_weight", "total_regression_weight"})
        ExpectJsonNear(got[key], want[key], kR, key);
    ExpectJsonNear(got["fit"], want["fit"], kR, "fit", Members::kWantedOnly);
    // R's parameters have no names: the program numbers them P0000001 on.
    ExpectJsonNear(got["parameters"], want["parameters"], kR, "parameters", Members::kWantedOnly);
    for (std::size_t k = 0; k < got["parameters"].size(); ++k) {
        const std::string n = std::to_string(k + 1);
        EXPECT_EQ(got["parameters"][k]["name"], "P" + std::string(7 - n.size(), '0') + n);
    }
}

TEST_F(Cli, FitsAgreeWithR) {
    const json cases = json::parse(golden::Text("cli_cases.json"));
    ASSERT_GE(cases.size(), 12u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        std::vector<std::string> args = CaseArgs("glm", c, {"--json"});
        std::vector<std::vector<std::string>> runs{args};
        for (const json& alt : c["alt_formulas"]) {
            for (size_t i = 0; i + 1 < args.size(); ++i)
                if (args[i] == "--formula") args[i + 1] = alt;
            runs.push_back(args);
        }
        for (const auto& run : runs) {
            const Result r = RunProgram(run);
            ExpectExit(r, 0, "");  // off a terminal: no progress
            json got;
            ASSERT_NO_THROW(got = json::parse(r.out)) << r.out;  // nothing else on stdout
            ExpectMatches(got, c["expected"]);
            ExpectSameStreamed(run, r.out);
        }
    }
}

TEST_F(Cli, HelpVersionAndTextReport) {
    Result r = RunProgram({"glm", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("--formula"));
    r = RunProgram({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("mcreg 0."));

    r = Fit("glm", kGolden + "cli_main.csv", "y ~ A + B + A*B", {"--factors", "B"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* s : {"Intercept", "[A=alpha] * [B=2]", "[A=beta, \"q\"]"})
        EXPECT_THAT(r.out, HasSubstr(s));
}

struct ErrorCase {
    const char* what;
    std::vector<std::string> args;    // "@" stands for the scratch data file
    std::optional<std::string> data;  // content of the scratch file
    int code;
    std::vector<std::string> words;  // each must appear in the message (case-sensitive)
};

TEST_F(Cli, ErrorsGiveExitCodeAndMessage) {
    const std::string main = kGolden + "cli_main.csv";
    // clang-format off
    const std::vector<ErrorCase> cases = {
        {"no arguments", {}, {}, 2, {}},
        {"unknown option", {"glm", "--data", main, "--formula", "y ~ A", "--bogus"}, {}, 2, {"--bogus"}},
        {"no formula", {"glm", "--data", main}, {}, 2, {"--formula"}},
        {"confidence out of range", {"glm", "--data", main, "--formula", "y ~ A", "--confidence", "1.5"},
         {}, 2, {"confidence"}},
        // Its quantile, at 1 - 5.5e-17, is that of 1: intervals of no bounds.
        {"confidence within rounding of 1", {"glm", "--data", main, "--formula", "y ~ A",
         "--confidence", "0.9999999999999999"}, {}, 2, {"--confidence", "1e-16"}},
        {"unknown column", {"glm", "--data", main, "--formula", "y ~ A + nosuch"}, {}, 2, {"nosuch"}},
        {"dangling plus", {"glm", "--data", main, "--formula", "y ~ A +"}, {}, 2, {"formula"}},
        {"no tilde", {"glm", "--data", main, "--formula", "y A"}, {}, 2, {"'~'"}},
        {"unclosed nesting", {"glm", "--data", main, "--formula", "y ~ C(A"}, {}, 2, {"parenthes"}},
        {"text factor squared", {"glm", "--data", main, "--formula", "y ~ C*C"}, {}, 2, {"'C'"}},
        {"missing file", {"glm", "--data", "/nonexistent/x.csv", "--formula", "y ~ A"}, {}, 3,
         {"/nonexistent/x.csv"}},
        {"text dependent", {"glm", "--data", main, "--formula", "A ~ x"}, {}, 3, {"'A'", "numeric"}},
        {"text weight", {"glm", "--data", main, "--formula", "y ~ x", "--freq-weight", "A"}, {}, 3,
         {"'A'", "numeric"}},
        {"ragged line", {"glm", "--data", "@", "--formula", "y ~ x"}, "y,x\n1,2\n3,4,5\n6,7\n", 3, {"3"}},
        {"unterminated quote", {"glm", "--data", "@", "--formula", "y ~ A"}, "y,A\n1,\"a\n2,b\n", 3,
         {"quote"}},
        {"empty file", {"glm", "--data", "@", "--formula", "y ~ x"}, "", 3, {"empty"}},
        {"header only", {"glm", "--data", "@", "--formula", "y ~ x"}, "y,x\n", 3, {"no data records"}},
        {"all records missing", {"glm", "--data", "@", "--formula", "y ~ x"}, "y,x\nNA,1\n,2\n3,NA\n", 3,
         {"none of the 3 records"}},
        {"partial binary record", {"glm", "--data", "@", "--columns", "y,x", "--formula", "y ~ x"},
         std::string(20, 'x'), 3, {"partial"}},
        {"memory limit not a size", {"glm", "--data", main, "--formula", "y ~ A", "--memory-limit", "lots"},
         {}, 2, {"--memory-limit", "'lots'"}},
        {"text dependent, streamed", {"glm", "--data", "@", "--formula", "y ~ x", "--memory-limit", "0"},
         "y,x\n1,2\n3,4\nabc,5\n", 3, {"column 'y'", "number", "data row 3", "'abc'"}},
        {"malformed quote late in the file", {"glm", "--data", "@", "--formula", "y ~ x"},
         "y,x\n" + [] { std::string s; for (int i = 0; i < 100000; ++i) s += "1,2\n"; return s; }() +
         "3,\"4\"x\n", 3, {"line 100002 (data row 100001)"}},
    };
    // clang-format on
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<TempFile> file;
        std::vector<std::string> args = c.args;
        if (c.data) {
            const bool binary = std::find(args.begin(), args.end(), "--columns") != args.end();
            file = std::make_unique<TempFile>(*c.data, binary ? ".bin" : ".csv");
            for (auto& a : args)
                if (a == "@") a = file->path.string();
        }
        const Result r = RunProgram(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_TRUE(r.out.empty() || c.code == 2) << r.out;
        EXPECT_FALSE(r.err.empty());
        for (const auto& w : c.words) EXPECT_THAT(r.err, HasSubstr(w));
    }
}

}  // namespace
