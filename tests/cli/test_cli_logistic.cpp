// End-to-end tests of `mcreg logistic`: --json results against R
// (tools/reference/cli_logistic_golden.R), the same document when the data
// stream through a file, the predictions file, the text report, separation
// and non-convergence told in words, and the error paths.
#include <algorithm>

#include "cli/cli_run.h"

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
    EXPECT_EQ(got["warnings"], json::array());
    EXPECT_EQ(Keys(got["fit"]),
              (V{"chi_square", "converged", "cox_snell", "df", "iterations", "loglik_final",
                 "loglik_initial", "mcfadden", "nagelkerke", "sig"}));
    for (const char* key : {"dependent", "categories", "reference_category", "records",
                            "total_frequency_weight", "category_weights"})
        ExpectJsonNear(got[key], want[key], kIterated, key);
    // R tells no iterations; each parameter has exactly R's members.
    ExpectJsonNear(got["fit"], want["fit"], kIterated, "fit", Members::kWantedOnly);
    ExpectJsonNear(got["parameters"], want["parameters"], kIterated, "parameters");
}

}  // namespace

TEST_F(CliLogistic, FitsAgreeWithRInMemoryAndStreamed) {
    const json cases = json::parse(golden::Text("cli_logistic_cases.json"));
    ASSERT_EQ(cases.size(), 5u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const std::vector<std::string> args = CaseArgs("logistic", c, {"--json"});
        const Result r = RunProgram(args);
        ExpectExit(r, 0, "");
        json got;
        ASSERT_NO_THROW(got = json::parse(r.out)) << r.out;
        ExpectMatches(got, c["expected"]);
        ExpectSameStreamed(args, r.out);
    }
}

TEST_F(CliLogistic, PredictionsAndTextReport) {
    const TempFile predictions("", ".csv");
    const Result r = Fit("logistic", kGolden + "cli_logistic.csv", "y ~ A + x",
                         {"--predictions", predictions.path.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* s : {"Multinomial logistic regression", "Reference category  cherry pie",
                          "Iteration history", "Model fitting", "Cox and Snell", "y = apple",
                          "y = banana", "[A=south, east]", "Classification", "Overall"})
        EXPECT_THAT(r.out, HasSubstr(s));
    EXPECT_THAT(r.out, Not(HasSubstr("y = cherry pie")));
    EXPECT_THAT(r.out, HasSubstr("Intercept only"));
    // Without an intercept the fit is tested against every parameter 0,
    // not against the intercepts.
    const Result none = Fit("logistic", kGolden + "cli_logistic.csv", "z ~ x", {"--no-intercept"});
    ASSERT_EQ(none.code, 0) << none.err;
    EXPECT_THAT(none.out, HasSubstr("All parameters 0"));
    EXPECT_THAT(none.out, Not(HasSubstr("Intercept only")));

    const std::string text = Slurp(predictions.path);
    EXPECT_EQ(text.substr(0, text.find('\n')), "p_apple,p_banana,p_cherry pie,predicted");
    const golden::Csv csv = golden::ParseCsv(text);
    int empty = 0;
    for (const std::vector<std::string>& cells : csv.rows) {
        ASSERT_EQ(cells.size(), 4u);
        if (cells[0].empty()) {
            ++empty;
            EXPECT_EQ(cells, std::vector<std::string>(4));
            continue;
        }
        const double p[3] = {std::stod(cells[0]), std::stod(cells[1]), std::stod(cells[2])};
        EXPECT_NEAR(p[0] + p[1] + p[2], 1.0, 1e-14);
        const char* names[3] = {"apple", "banana", "cherry pie"};
        EXPECT_EQ(cells[3], names[std::max_element(p, p + 3) - p]);
    }
    // Rows with a missing y, x or A are not used; the weight 0 row is (no
    // weight in this model).
    EXPECT_EQ(csv.rows.size(), 240u);
    EXPECT_EQ(empty, 5);
}

TEST_F(CliLogistic, SeparationAndTheIterationLimitAreToldInWords) {
    const TempFile separated("y,x\na,1\na,2\na,3\nb,4\nb,5\nb,6\n");
    const Result r = Fit("logistic", separated.path.string(), "y ~ x", {"--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    json got = json::parse(r.out);
    EXPECT_EQ(got["fit"]["converged"], false);
    ASSERT_EQ(got["warnings"].size(), 1u);
    EXPECT_THAT(got["warnings"][0].get<std::string>(), HasSubstr("warning: complete separation"));
    EXPECT_THAT(r.err, HasSubstr("warning: complete separation"));

    got = RunJson({"logistic", "--data", kGolden + "cli_logistic.csv", "--formula", "y ~ A + x",
                   "--max-iterations", "1"});
    EXPECT_EQ(got["fit"]["converged"], false);
    EXPECT_EQ(got["fit"]["iterations"], 1);
    ASSERT_EQ(got["warnings"].size(), 1u);
    EXPECT_THAT(got["warnings"][0].get<std::string>(),
                HasSubstr("did not converge within 1 iteration;"));
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
        const Result r = RunProgram(Plus({"logistic"}, c.args));
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.message));
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
    const TempFile data(csv);
    const Result r = Fit("logistic", data.path.string(), "y ~ A", {"--json"});
    ExpectExit(r, 0, "");
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

// Saturated models whose fit from the intercepts' start goes far into the
// tails. In the first, g2's category a holds 3 of 60 and the step asks for
// about a million: five halvings left it far too long, and the fit ended at
// -2LL 5280.8 instead of 4839.8, a logit 19 from its maximum. In the second
// the first step gains but takes g1's logit to -218 (the maximum is -14.8),
// where the next one is of the order of 1e90 and no halving helps: the step
// is shortened instead. A saturated fit has a closed form: each cell's logits
// are the logs of its weights over the reference category's.
TEST_F(CliLogistic, StepsFarIntoTheTailsAreShortenedToTheMaximum) {
    using Weights = std::vector<std::vector<double>>;  // per level of g, per category
    for (const Weights& w :
         {Weights{{1000, 1000, 1}, {3, 7, 50}, {700, 700, 3}}, Weights{{1, 1250}, {300000, 135}}}) {
        const std::size_t nLevels = w.size(), nCategories = w[0].size();
        SCOPED_TRACE(std::to_string(nLevels) + " levels");
        std::string csv = "y,g,w\n";
        for (std::size_t g = 0; g < nLevels; ++g)
            for (std::size_t k = 0; k < nCategories; ++k)
                csv += std::string(1, static_cast<char>('a' + k)) + ",g" + std::to_string(g + 1) +
                       "," + std::to_string(w[g][k]) + "\n";
        const TempFile data(csv);
        const Result r =
            Fit("logistic", data.path.string(), "y ~ g", {"--freq-weight", "w", "--json"});
        ExpectExit(r, 0, "");
        const json got = json::parse(r.out);
        EXPECT_EQ(got["fit"]["converged"], true);
        EXPECT_EQ(got["warnings"], json::array());
        double loglik = 0.0;
        for (const auto& cell : w) {
            double total = 0.0;
            for (double x : cell) total += x;
            for (double x : cell) loglik += x * std::log(x / total);
        }
        EXPECT_NEAR(got["fit"]["loglik_final"].get<double>(), loglik, 1e-10 * std::fabs(loglik));
        // Per category but the last: the intercept (the last level's logit)
        // and each other level's logit against it; the last level aliased.
        const json& params = got["parameters"];
        ASSERT_EQ(params.size(), (nCategories - 1) * (nLevels + 1));
        const std::size_t ref = nCategories - 1, last = nLevels - 1;
        for (std::size_t k = 0; k < ref; ++k) {
            const auto at = [&](std::size_t j) { return params[k * (nLevels + 1) + j]; };
            const double intercept = std::log(w[last][k] / w[last][ref]);
            EXPECT_NEAR(at(0)["estimate"].get<double>(), intercept, 1e-7) << "category " << k;
            for (std::size_t g = 0; g < last; ++g)
                EXPECT_NEAR(at(g + 1)["estimate"].get<double>(),
                            std::log(w[g][k] / w[g][ref]) - intercept, 1e-7)
                    << "category " << k << ", level " << g;
            EXPECT_EQ(at(nLevels)["redundant"], true);
        }
    }
}

// Every level of g holds the categories in the same proportions, so the fit
// is the intercepts' and the model-fitting chi-square is 0 with Sig. 1.
// Summed record by record, the final likelihood came out a few ulps below
// the start's: chi-square -7e-15 with no Sig., pseudo R-squares -2e-16.
TEST_F(CliLogistic, AFitNoBetterThanTheInterceptsTestsAtZero) {
    for (const std::vector<int>& counts : {std::vector<int>{5, 4}, std::vector<int>{2, 7, 7, 9}}) {
        std::string csv = "y,g\n";
        for (int g = 0; g < 3; ++g)
            for (std::size_t k = 0; k < counts.size(); ++k)
                for (int i = 0; i < counts[k]; ++i)
                    csv += "c" + std::to_string(k) + ",g" + std::to_string(g) + "\n";
        const TempFile data(csv);
        const Result r = Fit("logistic", data.path.string(), "y ~ g", {"--json"});
        ExpectExit(r, 0, "");
        const json fit = json::parse(r.out)["fit"];
        SCOPED_TRACE(fit.dump());
        EXPECT_EQ(fit["chi_square"].get<double>(), 0.0);
        EXPECT_EQ(fit["sig"].get<double>(), 1.0);
        for (const char* r2 : {"cox_snell", "nagelkerke", "mcfadden"})
            EXPECT_EQ(fit[r2].get<double>(), 0.0) << r2;
    }
}
