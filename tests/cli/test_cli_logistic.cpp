// End-to-end tests of `mcreg logistic`: --json results against R
// (tools/reference/cli_logistic_golden.R), the same document when the data
// stream through a file, the predictions file, the text report, separation
// and non-convergence told in words, and the error paths.
#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/golden.h"

namespace {

using namespace clitest;

class CliLogistic : public Cli {};

// The logistic fits are iterative: R's stop at its own convergence
// criterion, so they agree to 1e-8 rather than 1e-9.
constexpr support::Tolerance kIterated{1e-8, 1e-4};

void ExpectMatches(const json& got, const json& want) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Keys(got), (V{"categories", "category_weights", "confidence", "dependent", "fit",
                            "formula", "model", "parameters", "records", "reference_category",
                            "total_frequency_weight", "variables", "vcov", "warnings"}));
    EXPECT_EQ(got["vcov"], json({{"type", "model"}}));
    EXPECT_EQ(got["model"], "multinomial logistic");
    for (const char* key : {"dependent", "categories", "reference_category", "records"})
        EXPECT_EQ(got[key], want[key]) << key;
    ExpectJsonNumber(got["total_frequency_weight"], want["total_frequency_weight"], kIterated, "W");
    ASSERT_EQ(got["category_weights"].size(), want["category_weights"].size());
    for (std::size_t c = 0; c < want["category_weights"].size(); ++c)
        ExpectJsonNumber(got["category_weights"][c], want["category_weights"][c], kIterated,
                         "weight");
    EXPECT_EQ(got["warnings"], json::array());

    const json& gf = got["fit"];
    const json& wf = want["fit"];
    EXPECT_EQ(Keys(gf), (V{"chi_square", "converged", "cox_snell", "df", "iterations",
                           "loglik_final", "loglik_initial", "mcfadden", "nagelkerke", "sig"}));
    for (const char* key : {"loglik_initial", "loglik_final", "chi_square", "sig", "cox_snell",
                            "nagelkerke", "mcfadden"})
        ExpectJsonNumber(gf[key], wf[key], kIterated, key);
    EXPECT_EQ(gf["df"], wf["df"]);
    EXPECT_EQ(gf["converged"], true);

    const json& gp = got["parameters"];
    const json& wp = want["parameters"];
    ASSERT_EQ(gp.size(), wp.size());
    for (std::size_t k = 0; k < wp.size(); ++k) {
        SCOPED_TRACE(wp[k]["target"].get<std::string>() + " " + wp[k]["label"].get<std::string>());
        EXPECT_EQ(Keys(gp[k]), (V{"ci_lower", "ci_upper", "df", "effect", "estimate", "exp_b",
                                  "label", "redundant", "sig", "std_error", "target", "wald"}));
        for (const char* key : {"target", "label", "effect", "redundant", "df"})
            EXPECT_EQ(gp[k][key], wp[k][key]) << key;
        for (const char* key :
             {"estimate", "std_error", "wald", "sig", "exp_b", "ci_lower", "ci_upper"})
            ExpectJsonNumber(gp[k][key], wp[k][key], kIterated, key);
    }
}

std::vector<std::string> CaseArgs(const json& c) {
    std::vector<std::string> args{"logistic"};
    for (std::size_t i = 0; i < c["args"].size(); ++i) {
        std::string a = c["args"][i];
        args.push_back(i > 0 && c["args"][i - 1] == "--data" ? kGolden + a : a);
    }
    args.push_back("--json");
    return args;
}

// The cells of a CSV line (no quoting in the predictions of these tests but
// the category texts', which hold no comma).
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells{""};
    for (char c : line) {
        if (c == ',')
            cells.emplace_back();
        else if (c != '"')
            cells.back() += c;
    }
    return cells;
}

}  // namespace

TEST_F(CliLogistic, FitsAgreeWithRInMemoryAndStreamed) {
    const json cases = json::parse(golden::Text("cli_logistic_cases.json"));
    ASSERT_EQ(cases.size(), 5u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        std::vector<std::string> args = CaseArgs(c);
        const Result r = RunProgram(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        json got;
        ASSERT_NO_THROW(got = json::parse(r.out)) << r.out;
        ExpectMatches(got, c["expected"]);

        args.insert(args.end(), {"--memory-limit", "0"});
        const Result s = RunProgram(args);
        ASSERT_EQ(s.code, 0) << s.err;
        EXPECT_EQ(s.out, r.out);  // the same bytes
    }
}

TEST_F(CliLogistic, PredictionsAndTextReport) {
    TempFile predictions("", ".csv");
    const Result r = RunProgram({"logistic", "--data", kGolden + "cli_logistic.csv", "--formula",
                                 "y ~ A + x", "--predictions", predictions.path.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* s : {"Multinomial logistic regression", "Reference category  cherry pie",
                          "Iteration history", "Model fitting", "Cox and Snell", "y = apple",
                          "y = banana", "[A=south, east]", "Classification", "Overall"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    EXPECT_EQ(r.out.find("y = cherry pie"), std::string::npos);

    std::ifstream in(predictions.path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "p_apple,p_banana,p_cherry pie,predicted");
    int rows = 0, empty = 0;
    while (std::getline(in, line)) {
        ++rows;
        const std::vector<std::string> cells = Cells(line);
        ASSERT_EQ(cells.size(), 4u) << line;
        if (cells[0].empty()) {
            ++empty;
            EXPECT_EQ(line, ",,,");
            continue;
        }
        const double p[3] = {std::stod(cells[0]), std::stod(cells[1]), std::stod(cells[2])};
        EXPECT_NEAR(p[0] + p[1] + p[2], 1.0, 1e-14);
        const char* names[3] = {"apple", "banana", "cherry pie"};
        EXPECT_EQ(cells[3], names[std::max_element(p, p + 3) - p]);
    }
    // Rows with a missing y, x or A are not used; the weight 0 row is (no
    // weight in this model).
    EXPECT_EQ(rows, 240);
    EXPECT_EQ(empty, 5);
}

TEST_F(CliLogistic, SeparationAndTheIterationLimitAreToldInWords) {
    TempFile separated("y,x\na,1\na,2\na,3\nb,4\nb,5\nb,6\n");
    Result r =
        RunProgram({"logistic", "--data", separated.path.string(), "--formula", "y ~ x", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    json got = json::parse(r.out);
    EXPECT_EQ(got["fit"]["converged"], false);
    ASSERT_EQ(got["warnings"].size(), 1u);
    EXPECT_NE(got["warnings"][0].get<std::string>().find("warning: complete separation"),
              std::string::npos);
    EXPECT_NE(r.err.find("warning: complete separation"), std::string::npos) << r.err;

    r = RunProgram({"logistic", "--data", kGolden + "cli_logistic.csv", "--formula", "y ~ A + x",
                    "--max-iterations", "1", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    got = json::parse(r.out);
    EXPECT_EQ(got["fit"]["converged"], false);
    EXPECT_EQ(got["fit"]["iterations"], 1);
    ASSERT_EQ(got["warnings"].size(), 1u);
    EXPECT_NE(got["warnings"][0].get<std::string>().find("did not converge within 1 iteration;"),
              std::string::npos);
}

TEST_F(CliLogistic, ErrorsGiveExitCodeAndMessage) {
    TempFile oneCategory("y,x\na,1\na,2\na,3\n");
    TempFile noneUsed("y,x\na,\nb,NA\n");
    TempFile predictions("", ".csv");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const std::string data = kGolden + "cli_logistic.csv";
    const Case cases[] = {
        {{"--data", oneCategory.path.string(), "--formula", "y ~ x"},
         3,
         "has only one category, 'a', among the records used"},
        {{"--data", data, "--formula", "y ~ A", "--reference", "plum"},
         3,
         "--reference names 'plum', which is not a category of 'y'"},
        {{"--data", noneUsed.path.string(), "--formula", "y ~ x"}, 3, "none of the 2 records"},
        {{"--data", data, "--formula", "y ~ A", "--max-iterations", "-1"}, 2, "--max-iterations"},
        {{"--data", data, "--formula", "y ~ A", "--max-iterations", "0"},
         2,
         "--max-iterations must be at least 1, not 0"},
        {{"--data", data, "--formula", "y ~ A", "--predictions", "/nonexistent/p.csv"},
         2,
         "cannot write '/nonexistent/p.csv'"},
        {{"--data", data, "--formula", "y ~ plum"}, 2, "unknown column 'plum'"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"logistic"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunProgram(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// A user's y ~ A with 1,493 records, 5 categories and 3 levels of A once
// ended with "No step-halving increased the log-likelihood" and converged
// false, one step from the maximum. The records and the 40-digit maximum are
// the case halving_y_A of tests/golden/logistic_newton.txt (A's codes 0, 1,
// 2 written as a, b, c).
TEST_F(CliLogistic, HalvingOnRoundingCaseConvergesAtTheMaximum) {
    const golden::Entries cases = golden::ReadEntries("logistic_newton.txt");
    const golden::Case& c = cases.Get("halving_y_A");
    ASSERT_EQ(c.data.size(), 1493u);
    std::string csv = "y,A\n";
    for (const std::vector<double>& row : c.data)
        csv += std::to_string(static_cast<int>(row[0])) + "," +
               std::string(1, static_cast<char>('a' + static_cast<int>(row[1]))) + "\n";
    TempFile data(csv);
    const Result r =
        RunProgram({"logistic", "--data", data.path.string(), "--formula", "y ~ A", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const json got = json::parse(r.out);
    EXPECT_EQ(got["fit"]["converged"], true);
    EXPECT_EQ(got["warnings"], json::array());
    EXPECT_NEAR(got["fit"]["loglik_final"].get<double>(), c.Scalar("loglik"),
                1e-12 * std::fabs(c.Scalar("loglik")));

    // Parameters in the reference's order: per category 0..3 against 4, the
    // intercept and A = a, b, c.
    const std::vector<double>& b = c.At("estimate");
    const std::vector<double>& se = c.At("se");
    const json& params = got["parameters"];
    ASSERT_EQ(params.size(), b.size());
    for (std::size_t k = 0; k < b.size(); ++k) {
        SCOPED_TRACE(params[k]["target"].get<std::string>() + " " +
                     params[k]["label"].get<std::string>());
        EXPECT_EQ(params[k]["redundant"], c.At("aliased")[k] == 1);
        if (c.At("aliased")[k] == 1) continue;
        EXPECT_LE(std::fabs(params[k]["estimate"].get<double>() - b[k]), 1e-9 * se[k]);
        EXPECT_NEAR(params[k]["std_error"].get<double>(), se[k], 1e-8 * se[k]);
    }
}
