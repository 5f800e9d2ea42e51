// Data of more than 64 Ki records are fitted in parts on threads: the
// parts, and so every bit of the output, depend on the data alone, not on
// --threads nor on whether the records stream through a temporary file.
#include <cmath>
#include <cstdio>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

// 200,000 records (four parts): a text factor, a numeric one, two
// covariates, frequency and regression weights, a three-category response
// and missing cells here and there.
std::string ManyRecords() {
    std::string csv = "y,g,A,B,x1,x2,f,w\n";
    const char* levels[] = {"north", "south", "east", "west"};
    const char* groups[] = {"lo", "mid", "hi"};
    char line[256];
    for (int i = 0; i < 200000; ++i) {
        const double u = std::fmod(i * 0.6180339887498949, 1.0);
        const double x1 = std::sin(0.013 * i) * 3 + 0.00001 * i;
        const double x2 = std::cos(0.7 * i) + u;
        const int a = (i * 7) % 4, b = (i / 5) % 3 + 1;
        const double y = 2 + 0.5 * a - 0.25 * b + 0.1 * a * b + 1.3 * x1 - 0.4 * x2 + u;
        const int g = u < 0.3 + 0.1 * std::tanh(x1) ? 0 : u < 0.7 ? 1 : 2;
        const std::string x1Cell = i % 97 == 5 ? "NA" : std::to_string(x1);
        std::snprintf(line, sizeof line, "%.17g,%s,%s,%d,%s,%.17g,%d,%.17g\n", y, groups[g],
                      i % 131 == 3 ? "" : levels[a], b, x1Cell.c_str(), x2, 1 + i % 3,
                      0.5 + (i % 5) * 0.25);
        csv += line;
    }
    return csv;
}

// The program's standard output for each of --threads 1 to 4, and with the
// records streamed on two threads; all must be the same bytes.
void ExpectSameBits(const std::vector<std::string>& args) {
    std::vector<std::string> outputs;
    for (const char* threads : {"1", "2", "3", "4"}) {
        const Result r = RunProgram(Plus(args, {"--threads", threads}));
        ASSERT_EQ(r.code, 0) << r.err;
        outputs.push_back(r.out);
    }
    const Result r = RunProgram(Plus(args, {"--threads", "2", "--memory-limit", "0"}));
    ASSERT_EQ(r.code, 0) << r.err;
    outputs.push_back(r.out);
    for (std::size_t k = 1; k < outputs.size(); ++k)
        EXPECT_TRUE(outputs[k] == outputs[0]) << "run " << k << " differs";
    // A fit and its analyses, not an empty document.
    const json doc = json::parse(outputs[0]);
    EXPECT_TRUE(doc.contains("tests") && doc.contains("emmeans"));
}

TEST_F(Cli, ThreadsGiveTheSameBitsForAnyNumberOfThem) {
    const TempFile data(ManyRecords());
    const std::string file = data.path.string();
    ExpectSameBits({"glm", "--data", file, "--formula", "y ~ A + B + A*B + x1 + x2 + A*x1",
                    "--factors", "B", "--freq-weight", "f", "--regr-weight", "w", "--tests", "1,3",
                    "--emmeans", "A*B", "--compare", "B", "--covariance", "--json"});
    ExpectSameBits({"glm", "--data", file, "--formula", "y ~ A + x1 + x2", "--vcov", "hc3",
                    "--tests", "3", "--emmeans", "A", "--json"});
    ExpectSameBits({"logistic", "--data", file, "--formula", "g ~ A + B + x1 + A*x1", "--factors",
                    "B", "--freq-weight", "f", "--reference", "mid", "--tests", "1,3", "--emmeans",
                    "A", "--json"});
}

TEST_F(Cli, ThreadsMustBePositive) {
    const Result r = Fit("glm", kExamples + "warpbreaks.csv", "breaks ~ wool", {"--threads", "0"});
    EXPECT_EQ(r.code, 2) << r.err;
}

}  // namespace
