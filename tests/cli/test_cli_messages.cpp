// End-to-end tests of the messages that point a user to what is wrong: the
// data's delimiter and decimal commas, empty option values, the marginal
// means' options. Each asserts the exit code and the exact message or the
// output that shows the option took effect.
#include <cmath>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

Result Mcreg(const std::string& model, const TempFile& data, const std::string& formula,
             const std::vector<std::string>& more = {}) {
    return Fit(model, data.path.string(), formula, more);
}

// The --json document of a general linear model that must fit.
json Json(const TempFile& data, const std::string& formula, const std::vector<std::string>& more) {
    return RunJson(Plus({"glm", "--data", data.path.string(), "--formula", formula}, more));
}

// y with two factors of three levels (A, C), a two-level factor with a
// blank in its name and a factor of one level.
std::string MeansData() {
    std::string csv = "y,A,C,odd name,g\n";
    int i = 0;
    for (const char* a : {"a", "b", "c"})
        for (const char* c : {"p", "q", "r"})
            for (int k = 0; k < 2; ++k, ++i) {
                const double y = 1 + (a[0] - 'a') * 0.7 + (c[0] - 'p') * 0.3 + (i * 37 % 11) / 10.0;
                csv += std::to_string(y) + "," + a + "," + c + "," + (i % 2 ? "u" : "v") + ",one\n";
            }
    return csv;
}

TEST_F(Cli, TheDelimiterIsFoundOrItsAbsenceSaid) {
    // A header that did not split names the delimiter it holds.
    const TempFile semicolons("y;x;A\n1;2;a\n2;3;b\n3;5;a\n");
    ExpectExit(Mcreg("glm", semicolons, "y ~ x", {"--delimiter", ","}), 2,
               "mcreg: unknown column 'y': the header was read as the one column 'y;x;A', whose "
               "text is split by ';': give that delimiter with --delimiter\n  y ~ x\n  ^\n");
    // A spreadsheet's "sep=;" first line gives the delimiter, and says no
    // note; a quoted header name loses its blanks as a cell does.
    const TempFile declared("sep=;\n\" y \";x \n1;2\n2;3\n3;5\n");
    const TempFile plain("y,x\n1,2\n2,3\n3,5\n");
    const Result r = Mcreg("glm", declared, "y ~ x", {"--json"});
    ExpectExit(r, 0, "");
    EXPECT_EQ(json::parse(r.out)["parameters"],
              RunJson({"glm", "--data", plain.path.string(), "--formula", "y ~ x"})["parameters"]);
    // Its line counts: a stray cell is on line 4.
    const TempFile stray("sep=;\ny;x\n1;2\n2;z\n3;5\n");
    ExpectExit(Mcreg("glm", stray, "y ~ x"), 3,
               "mcreg: " + stray.path.string() +
                   ", line 4 (data row 2): column 'x' holds 'z', which is neither a number "
                   "nor a missing value (mark it with --na-values, or name the column in "
                   "--factors if it is a factor)\n");
}

// Requests that would give a wrong table with exit 0 are refused.
TEST_F(Cli, TermsWithTheSameColumnsAndAnOverflowingDependentAreRefused) {
    // Nested and crossed, the same cells: both would test with 0 df.
    Result r =
        Fit("glm", kExamples + "warpbreaks.csv", "breaks ~ wool + tension(wool) + wool*tension");
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("this term has the same columns as the term 'tension(wool)' "
                                 "(nesting aside): name it once"));
    const TempFile big("y,x\n1e160,1\n2e160,2\n3.5e160,3\n");
    r = Mcreg("glm", big, "y ~ x");
    EXPECT_EQ(r.code, 3);
    EXPECT_THAT(r.err, HasSubstr("the dependent variable 'y' reaches 3.5e+160, too large for its "
                                 "sums of squares, which would overflow: rescale it"));
    // Just below the limit the fit is exact: y = 1e149 x.
    const TempFile large("y,x\n1e149,1\n2e149,2\n3e149,3\n");
    const json j = RunJson({"glm", "--data", large.path.string(), "--formula", "y ~ x"});
    EXPECT_NEAR(j["parameters"][1]["estimate"].get<double>(), 1e149, 1e137);
}

TEST_F(Cli, DecimalCommasAreSaid) {
    // Among numbers, the first such cell stops the read.
    const TempFile some("y;x;A\n1;2,5;a\n2;3,75;b\n3;4;a\n4;5,25;b\n");
    ExpectExit(Mcreg("glm", some, "y ~ x + A"), 3,
               "mcreg: " + some.path.string() +
                   ", line 2 (data row 1): column 'x' holds '2,5': it looks like numbers with "
                   "decimal commas, which are read as text; write them with decimal points, or "
                   "name the column in --factors if it is a factor\n");
    // All of them: a factor of one level per record, unless asked for.
    const TempFile all("y;x;A\n1;2,5;a\n2;3,75;b\n3;4,0;a\n4;5,25;b\n");
    ExpectExit(Mcreg("glm", all, "y ~ x + A"), 3,
               "mcreg: " + all.path.string() +
                   ": column 'x' looks like numbers with decimal commas ('2,5'), which are "
                   "read as text: write them with decimal points, or name the column in "
                   "--factors if its cells are categories\n");
    // The intercept and four levels.
    EXPECT_EQ(RunJson({"glm", "--data", all.path.string(), "--formula", "y ~ x", "--factors",
                       "x"})["parameters"]
                  .size(),
              5u);
    // The dependent.
    const TempFile dependent("y;x\n1,5;2\n2,5;3\n");
    ExpectExit(Mcreg("glm", dependent, "y ~ x"), 3,
               "mcreg: " + dependent.path.string() +
                   ", line 2 (data row 1): the dependent variable 'y' must be numeric, but "
                   "the cell holds '1,5', a number with a decimal comma: write decimal "
                   "points\n");
}

TEST_F(Cli, OptionsWithoutAValueAreRefused) {
    const TempFile data("y,x\n1,2\n2,3\n3,5\n");
    for (const char* option : {"--pmml", "--tests", "--delimiter", "--memory-limit",
                               "--results-xml", "--emmeans", "--freq-weight"}) {
        SCOPED_TRACE(option);
        const Result r = Mcreg("glm", data, "y ~ x", {option, ""});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("mcreg: ") + option + " needs a value, not ''\n");
    }
    // No marker besides the empty cell is a value of its own.
    EXPECT_EQ(Mcreg("glm", data, "y ~ x", {"--na-values", ""}).code, 0);
    // Names given as one argument with blanks.
    ExpectExit(Fit("glm", "x.bin", "y ~ x", {"--columns", "y a x"}), 2,
               "mcreg: --columns takes the names separated by commas, such as y,a,x, not by "
               "blanks: 'y a x'\n");
}

TEST_F(Cli, MarginalMeansOptionsDoWhatTheySay) {
    const TempFile data(MeansData());
    // A factor of one level has nothing to compare: left out, and said,
    // when --compare did not name it.
    const Result r =
        Mcreg("glm", data, "y ~ A + g", {"--emmeans", "g", "--emmeans", "A", "--json"});
    ExpectExit(r, 0,
               "mcreg: warning: --emmeans 'g' is left out: its factor 'g' has only one level "
               "among the records used, so there is nothing to compare\n");
    json j = json::parse(r.out);
    ASSERT_EQ(j["emmeans"].size(), 1u);
    EXPECT_EQ(j["emmeans"][0]["term"], "A");
    ExpectExit(Mcreg("glm", data, "y ~ A + g", {"--emmeans", "g", "--compare", "g"}), 2,
               "mcreg: --compare 'g' has only one level among the records used; there is nothing "
               "to compare\n");

    // The same table asked for twice is shown once.
    EXPECT_EQ(Json(data, "y ~ A + C", {"--emmeans", "A", "--emmeans", "A"})["emmeans"].size(), 1u);
    // --compare quotes a name as the formula does.
    EXPECT_EQ(
        Json(data, "y ~ A + `odd name` + A*`odd name`",
             {"--emmeans", "A*`odd name`", "--compare", "`odd name`"})["emmeans"][0]["compare"],
        "odd name");
    // A nested term compares the nested factor within each level of the
    // one it is nested in.
    EXPECT_EQ(Json(data, "y ~ C + A(C)", {"--emmeans", "A(C)"})["emmeans"][0]["compare"], "A");

    // A metric per term. The linear coefficients are the centred metric
    // scaled to length 1: (-4, -1, 5) / sqrt(42) for 1, 2, 4.
    j = Json(data, "y ~ A + C",
             {"--emmeans", "A", "--emmeans", "C", "--contrast", "polynomial", "--metric", "1,2,4",
              "--metric", "1,2,3"});
    const double s42 = std::sqrt(42.0), s2 = std::sqrt(2.0);
    const std::vector<std::vector<double>> linear = {{-4 / s42, -1 / s42, 5 / s42},
                                                     {-1 / s2, 0.0, 1 / s2}};
    for (std::size_t t = 0; t < 2; ++t)
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(j["emmeans"][t]["contrast"]["coefficients"][0][k].get<double>(),
                        linear[t][k], 1e-12)
                << t << "," << k;
    ExpectExit(Mcreg("glm", data, "y ~ A + C",
                     {"--emmeans", "A", "--emmeans", "C", "--contrast", "polynomial", "--metric",
                      "1,2,4", "--metric", "1,2,3", "--metric", "1,2,5"}),
               2,
               "mcreg: --metric is given 3 times for 2 --emmeans terms; give it once for all terms "
               "or once per term\n");
    ExpectExit(Mcreg("glm", data, "y ~ A",
                     {"--emmeans", "A", "--contrast", "polynomial", "--metric", "1,x"}),
               2, "mcreg: --metric takes numbers separated by commas, such as 1,2,4, not '1,x'\n");
}

TEST_F(Cli, ANumericDependentWithManyValuesIsWarnedOfInLogistic) {
    // y takes each of its values twice.
    const auto data = [](int values, int xs) {
        std::string csv = "y,x\n";
        for (int i = 0; i < 2 * values; ++i)
            csv += std::to_string(i % values) + "," + std::to_string(i % xs) + "\n";
        return csv;
    };
    const TempFile sixty(data(60, 5));
    const Result r = Mcreg("logistic", sixty, "y ~ x", {"--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "mcreg: warning: the dependent variable 'y' has 60 distinct numbers, each fitted as "
              "a category of its own; a logistic model is for a few categories\n");
    // Fifty are still categories.
    const TempFile fifty(data(50, 7));
    EXPECT_THAT(Mcreg("logistic", fifty, "y ~ x", {"--json"}).err,
                Not(HasSubstr("distinct numbers")));
}

TEST_F(Cli, ReportsAndMessagesSayCountsAndWordsPlainly) {
    // One parameter, in words; the library's status numbers are not shown.
    const TempFile one("y,x\n1,2\n");
    ExpectExit(Mcreg("glm", one, "y ~ 1"), 0,
               "mcreg: warning: the model is saturated: its one parameter fits the records exactly "
               "(error df 0), so there are no standard errors, tests or intervals\n"
               "mcreg: warning: the dependent variable 'y' is constant in the records used, so "
               "R-square is undefined\n");
    ExpectExit(Mcreg("glm", one, "y ~ 0"), 3,
               "mcreg: The model is empty: it has neither an intercept nor any model effect.\n");
    // The logistic model's warnings read as the linear model's.
    const TempFile separated("y,x\n0,1\n0,2\n1,3\n1,4\n0,1.5\n1,5\n");
    ExpectExit(Mcreg("logistic", separated, "y ~ x"), 0,
               "mcreg: warning: complete separation of the data was found at iteration 20: the "
               "predictors determine the response exactly, maximum likelihood estimates do not "
               "exist, and the estimates and standard errors shown are not meaningful\n");
    // A numeric category is named by its value.
    const TempFile numbers("y,x\n1,1\n2,2\n3,3\n4,5\n1,6\n2,1\n");
    for (const char* reference : {"2", "2.0", "2e0"})
        EXPECT_EQ(RunJson({"logistic", "--data", numbers.path.string(), "--formula", "y ~ x",
                           "--reference", reference})["reference_category"],
                  "2")
            << reference;
    ExpectExit(Mcreg("logistic", numbers, "y ~ x", {"--reference", "2.5"}), 3,
               "mcreg: --reference names '2.5', which is not a category of 'y'; its categories "
               "are '1', '2', '3', '4'\n");

    // Degrees of freedom are whole numbers however large, and fractional
    // ones (fractional weights) are shown to their digits: the error df is
    // the total weight less the two parameters.
    const TempFile large("y,x,f\n1,1,2000000\n2,2,1999999\n4,3,1000000\n3,5,1000000\n");
    Result r = Mcreg("glm", large, "y ~ x", {"--freq-weight", "f", "--tests", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LineStarting(r.out, "  Total frequency weight"), "  Total frequency weight  5999999");
    EXPECT_EQ(LineStarting(r.out, "  Error df"), "  Error df                 5999997");
    EXPECT_THAT(LineStarting(r.out, "  Error    "), HasSubstr("  5999997  "));
    EXPECT_THAT(LineStarting(r.out, "  Total  "), HasSubstr("  5999999"));
    const TempFile fractional("y,x,f\n1,1,1.5\n2,2,2.25\n4,3,1\n3,5,1\n");
    r = Mcreg("glm", fractional, "y ~ x", {"--freq-weight", "f", "--tests", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(LineStarting(r.out, "  Error    "), HasSubstr("  3.75  "));

    // A huge label is shortened in the tables, not in the JSON.
    const std::string label(20000, 'a');
    std::string csv = "y,A\n";
    for (int i = 0; i < 6; ++i)
        csv += std::to_string(i * 1.5 + i % 2) + "," + (i % 2 ? label : "b") + "\n";
    const TempFile longLabel(csv);
    r = Mcreg("glm", longLabel, "y ~ A");
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 300u);
    const std::string row = LineStarting(r.out, "  [A=a");
    EXPECT_EQ(row.substr(0, 2 + 99 + 3), "  [A=" + std::string(96, 'a') + "\xE2\x80\xA6");
    EXPECT_EQ(Json(longLabel, "y ~ A", {})["parameters"][1]["label"], "[A=" + label + "]");
}

// R's verdicts on these data are in tools/reference/exact_fit.R: summary.lm
// calls the exact line and the replicated records an essentially perfect
// fit and the line with a residual of 1e-6 not; vcovHC(type = "HC0") gives
// the mean of the one record of category b a variance of 0.
TEST_F(Cli, ExactFitsSayTheirStandardErrorsAreRounding) {
    const std::string exact = "warning: the model fits the records exactly, up to rounding";
    const TempFile line("y,x\n3,1\n5,2\n7,3\n9,4\n11,5\n");
    EXPECT_THAT(Mcreg("glm", line, "y ~ x").err, HasSubstr(exact));
    // At any scale of the regression weights.
    const TempFile tinyWeights(
        "y,x,w\n3,1,1e-200\n5,2,2e-200\n7,3,1e-200\n9,4,3e-200\n11,5,1e-200\n");
    EXPECT_THAT(Mcreg("glm", tinyWeights, "y ~ x", {"--regr-weight", "w"}).err, HasSubstr(exact));
    const TempFile nearLine("y,x\n3,1\n5,2\n7,3\n9,4\n11.000001,5\n");
    EXPECT_THAT(Mcreg("glm", nearLine, "y ~ x").err, Not(HasSubstr(exact)));
    const TempFile replicated("y,x,f\n2.5,1,1\n4,3,3\n");
    EXPECT_THAT(Mcreg("glm", replicated, "y ~ x", {"--freq-weight", "f"}).err,
                HasSubstr(exact + " (as many parameters as records"));
    const TempFile single("y,A\n1,a\n2,a\n4,a\n7,b\n");
    const Result r = Mcreg("glm", single, "y ~ A", {"--vcov", "hc0"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("warning: the robust standard error of 'Intercept' is 0 up to "
                                 "rounding"));
    EXPECT_THAT(r.err, Not(HasSubstr("'[A=a]'")));
}

}  // namespace
