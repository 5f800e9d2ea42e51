// The parts the reports of both models share: the parameter table with
// its blocks, aliased rows and missing statistics, the head lines and the
// JSON layout. Expected texts follow from the table's rules by hand.
#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/report/ModelReport.h"
#include "host/report/ParameterReport.h"

using namespace mchost;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

ParameterRow Glm(const std::string& label, double estimate, double se, double t, double df) {
    ParameterRow p;
    p.fName = "P1";
    p.fLabel = label;
    p.fEffect = label;
    p.fEstimate = estimate;
    p.fStdError = se;
    p.fT = t;
    p.fDF = df;
    p.fSig = 0.5;
    p.fCILower = -1;
    p.fCIUpper = 2;
    return p;
}

}  // namespace

TEST(ParameterReport, TableShowsAliasedAndMissingFiguresAndShortensLabels) {
    // A t test's aliased parameter shows no df, a Wald test's 0; a missing
    // statistic is an empty cell, not "nan"; the footnote follows only an
    // aliased row.
    ParameterRow aliased;
    aliased.fLabel = "[A=b]";
    aliased.fbRedundant = true;
    ParameterTableText<ParameterRow> glm(0.975);
    glm.Heading("Parameter");
    glm.Add(Glm("x", 1.5, kNaN, kNaN, kNaN));
    glm.Add(aliased);
    const std::string glmRule = "  " + std::string(72, '-') + "\n";
    EXPECT_EQ(glm.Render("Parameter estimates"),
              "\nParameter estimates\n\n"
              "  Parameter  Estimate  Std. error  t  df    Sig.  97.5% lower  97.5% upper\n" +
                  glmRule + "  x               1.5" + std::string(21, ' ') +
                  "0.5000           -1            2\n  [A=b]           0 a\n" + glmRule +
                  "  a. Redundant: aliased with the parameters before it, so set to 0.\n");

    // The level keeps its digits: not "100%" for 99.99999%.
    ParameterTableText<ParameterRow> fine(0.9999999);
    fine.Heading("Parameter");
    fine.Add(Glm("x", 1.5, kNaN, kNaN, kNaN));
    EXPECT_NE(fine.Render("Parameter estimates").find("99.99999% lower  99.99999% upper"),
              std::string::npos);

    // Two logits: a rule between the blocks, the Exp(B) column, a Wald
    // test's aliased df as 0.
    LogisticParameterRow one;
    one.fTarget = "p";
    one.fLabel = "x";
    one.fEstimate = 2;
    one.fStdError = 1;
    one.fWald = 4;
    one.fDF = 1;
    one.fSig = 0.0455;
    one.fExpB = 7.5;
    one.fCILower = 1;
    one.fCIUpper = 50;
    LogisticParameterRow two;
    two.fTarget = "q";
    two.fLabel = "x";
    two.fbRedundant = true;
    ParameterTableText<LogisticParameterRow> logistic(0.95);
    logistic.Heading("y = p");
    logistic.Add(one);
    logistic.Heading("y = q");
    logistic.Add(two);
    const std::string rule = "  " + std::string(70, '-') + "\n";
    const std::string heading =
        "    B  Std. error  Wald  df    Sig.  Exp(B)  95% lower  95% upper\n";
    EXPECT_EQ(logistic.Render("T"),
              "\nT\n\n  y = p" + heading + rule +
                  "  x        2           1     4   1  0.0455     7.5          1         50\n" +
                  rule + "  y = q" + heading + rule + "  x      0 a" + std::string(21, ' ') +
                  "0\n" + rule +
                  "  a. Redundant: aliased with the parameters before it, so set to 0.\n");

    // No parameters at all: the heading alone, no footnote. A label of 300
    // columns is cut to the table's most.
    ParameterTableText<ParameterRow> empty(0.95);
    empty.Heading("Parameter");
    EXPECT_EQ(empty.Render("E").find("Redundant"), std::string::npos);
    ParameterTableText<ParameterRow> wide(0.95);
    wide.Heading("Parameter");
    wide.Add(Glm(std::string(300, 'w'), 1, 1, 1, 3));
    const std::string text = wide.Render("W");
    EXPECT_NE(text.find(std::string(TextTable::kMaxCellWidth - 1, 'w') + "\xE2\x80\xA6  "),
              std::string::npos);
    EXPECT_EQ(text.find(std::string(TextTable::kMaxCellWidth, 'w')), std::string::npos);
}

TEST(ParameterReport, JsonMembersInOrderWithNulls) {
    const nlohmann::ordered_json glm =
        ParametersJson(std::vector<ParameterRow>{Glm("x", 1, kInf, kNaN, 12.5)});
    EXPECT_EQ(glm.dump(),
              R"([{"name":"P1","label":"x","effect":"x","estimate":1.0,"redundant":false,)"
              R"("std_error":null,"t":null,"df":12.5,"sig":0.5,"ci_lower":-1.0,"ci_upper":2.0}])");
    LogisticParameterRow p;
    p.fTarget = "apple";
    p.fLabel = "Intercept";
    p.fEffect = "Intercept";
    p.fbRedundant = true;
    EXPECT_EQ(ParametersJson(std::vector<LogisticParameterRow>{p}).dump(),
              R"([{"target":"apple","label":"Intercept","effect":"Intercept","estimate":0.0,)"
              R"("redundant":true,"std_error":null,"wald":null,"df":0,"sig":null,"exp_b":null,)"
              R"("ci_lower":null,"ci_upper":null}])");
}

TEST(ModelReport, HeadLinesAndJsonLayout) {
    GlmResult r;
    r.fFormula = "y ~ A";
    r.fDependent = "y";
    r.fRecordsRead = 10;
    r.fRecordsUsed = 8;
    r.fTotalFreqWeight = 8.5;
    r.fVcov = "cluster";
    r.fvClusterColumns = {"g", "h"};
    r.fvClusterCounts = {4, 3};
    EXPECT_EQ(
        HeadText("Title", r, {{"Extra", "line"}}, " (note)"),
        "Title\n\n"
        "  Formula                 y ~ A\n"
        "  Dependent variable      y\n"
        "  Extra                   line\n"
        "  Records                 10 read, 8 used\n"
        "  Total frequency weight  8.5\n"
        "\nCovariance of the estimates: cluster-robust by g and h, 4 and 3 clusters (note)\n");
    // Frequency weights that add up to the records say nothing more.
    r.fTotalFreqWeight = 8;
    r.fVcov = "hc2";
    EXPECT_EQ(HeadText("T", r).find("Total frequency"), std::string::npos);
    EXPECT_NE(HeadText("T", r).find("HC2 (heteroskedasticity-consistent)\n"), std::string::npos);
    EXPECT_EQ(WarningsText({}), "");
    EXPECT_EQ(WarningsText({"warning: a", "warning: b"}),
              "\nWarnings\n\n  warning: a\n  warning: b\n");

    // Each model's members at their places; the covariance row by row.
    JsonAdditions add;
    add.fModel["m"] = 1;
    add.fRecords["r"] = 2;
    add.fVcov["v"] = 3;
    add.fFit = {{"f", 4}};
    add.fResults["covariance"] = CovarianceJson({"P1", "P2"}, {1, 2, 3, kNaN});
    r.fvWarnings = {"warning: w"};
    std::vector<std::string> keys;
    JsonOptions timed;
    timed.fbTiming = true;
    const nlohmann::ordered_json j = ModelJson("glm", r, {}, add, timed);
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "model", "formula", "dependent", "variables", "confidence", "m", "records",
                        "total_frequency_weight", "r", "vcov", "v", "parameters", "fit",
                        "covariance", "warnings", "timing_seconds"}));
    EXPECT_EQ(j["covariance"].dump(),
              R"({"parameters":["P1","P2"],"matrix":[[1.0,2.0],[3.0,null]]})");
    EXPECT_EQ(j["vcov"].dump(), R"({"type":"hc2"})");
    EXPECT_FALSE(
        ModelJson("glm", r, {}, JsonAdditions(), JsonOptions()).contains("timing_seconds"));
}
