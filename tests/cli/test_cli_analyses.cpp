// End-to-end tests of the analyses after a fit: --tests, --emmeans with
// pairs and contrasts, and --predictions, against R
// (tools/reference/cli_analyses.R: anova, car::Anova type 3, emmeans, lm);
// the text report's tables; and the bad requests, which end with exit code
// 2, a message naming the problem and no output file. Also models with many
// parameters against R (tools/reference/cli_analyses_large.R): a factor of
// 150 levels crossed with one of 2, and 60 covariates beside a factor, sizes
// at which a sweep or a projection that loses accuracy with the number of
// parameters shows.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

// The predictions file of a run against R's fitted values and residuals
// (null for a record the fit left out: an empty cell).
void ExpectPredictions(const std::vector<std::string>& args, const json& want) {
    const TempFile out("", ".csv");
    const Result r = RunProgram(Plus(args, {"--predictions", out.path.string()}));
    ASSERT_EQ(r.code, 0) << r.err;
    const golden::Csv csv = golden::ParseCsv(Slurp(out.path));
    ASSERT_EQ(csv.rows.size(), want.size());
    EXPECT_EQ(csv.header, (std::vector<std::string>{"predicted", "residual"}));
    for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(csv.rows[i].size(), 2u) << "row " << i;
        for (const char* column : {"predicted", "residual"}) {
            const std::string what = "row " + std::to_string(i) + " " + column;
            if (want[i][column].is_null())
                EXPECT_EQ(csv.Text(i, column), "") << what;
            else
                ExpectJsonNumber(json(csv.Value(i, column)), want[i][column], kR, what);
        }
    }
}

}  // namespace

TEST_F(Cli, TestsAndMarginalMeansAgreeWithR) {
    const json cases = json::parse(golden::Text("cli_analyses_cases.json"));
    ASSERT_GE(cases.size(), 10u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const std::vector<std::string> args =
            CaseArgs(c["args"][1] == "cli_logistic.csv" ? "logistic" : "glm", c);
        const json& want = c["expected"];
        if (want.contains("predictions")) {
            ExpectPredictions(args, want["predictions"]);
            continue;
        }
        const json got = RunJson(args);
        for (const char* key : {"tests", "emmeans"}) {
            EXPECT_EQ(got.contains(key), want.contains(key)) << key;
            if (want.contains(key) && got.contains(key))
                ExpectJsonNear(got[key], want[key], kR, key);
        }
    }
}

TEST_F(Cli, TypeIIIOfTheLastEffectOfAnIncompleteDesignIsItsTypeI) {
    // With an empty cell the Type III hypotheses of the main effects are
    // those of the design; the interaction, contained in no other effect and
    // entered last, is tested alike by both types.
    const json t = RunJson({"glm", "--data", kGolden + "cli_main.csv", "--formula",
                            "y ~ A + B + A*B", "--factors", "B", "--tests", "1,3"})["tests"];
    ASSERT_EQ(t["type1"].size(), 4u);
    ASSERT_EQ(t["type3"].size(), 4u);
    const json& one = t["type1"][3];
    const json& three = t["type3"][3];
    EXPECT_EQ(three["term"], "A*B");
    EXPECT_EQ(three["df"], one["df"]);
    for (const char* key : {"ss", "F", "sig"}) ExpectJsonNumber(three[key], one[key], kR, key);
    // The corrected model's sum of squares is the Type I sums' of the effects.
    double sum = 0;
    for (std::size_t e = 1; e < 4; ++e) sum += t["type1"][e]["ss"].get<double>();
    ExpectJsonNumber(t["corrected_model"]["ss"], json(sum), kR, "corrected model");
}

TEST_F(Cli, MeansOfAnIncompleteDesignNameTheTermWithEmptyCells) {
    // Each mean then averages only the cells observed in it, which a reader
    // must be told; a complete design's means say nothing of it.
    const std::vector<std::string> incomplete{
        "glm",       "--data",          kGolden + "cli_main.csv",
        "--formula", "y ~ A + B + A*B", "--factors",
        "B",         "--emmeans",       "A"};
    const std::vector<std::string> complete{"glm",
                                            "--data",
                                            kGolden + "cli_anova.csv",
                                            "--formula",
                                            "y ~ diet + dose + diet*dose",
                                            "--factors",
                                            "dose",
                                            "--emmeans",
                                            "diet"};
    EXPECT_EQ(RunJson(incomplete)["emmeans"][0]["incomplete_term"], "A*B");
    EXPECT_FALSE(RunJson(complete)["emmeans"][0].contains("incomplete_term"));
    EXPECT_THAT(RunProgram(incomplete).out,
                HasSubstr("  The model's term A*B has empty cells: each mean averages the cells "
                          "observed in it, with equal weights,\n  so two means may average "
                          "different numbers of cells.\n"));
    EXPECT_THAT(RunProgram(complete).out, Not(HasSubstr("empty cells")));
}

TEST_F(Cli, MeansThatTheDataDoNotDetermineAreLeftEmpty) {
    // Region is a function of state, but the formula does not say so: the
    // region parameters are all aliased, and a region mean (states averaged
    // over both regions) is not estimable, nor is a difference of states of
    // two regions (emmeans(..., nesting = NULL) calls them nonEst). Their
    // zero estimates once made both regions' means alike, with a difference
    // of 0 on a standard error of 0. Written as nested the same data give
    // every mean: a region's is the average of its states' cell means.
    const std::vector<std::vector<int>> ys{{3, 4}, {6, 7, 9}, {10, 12}, {15, 16, 20}};
    std::string csv = "y,st,reg\n";
    std::vector<double> cell;
    for (std::size_t s = 0; s < ys.size(); ++s) {
        double sum = 0;
        for (int y : ys[s]) {
            csv += std::to_string(y) + ",s" + std::to_string(s + 1) +
                   (s < 2 ? ",north\n" : ",south\n");
            sum += y;
        }
        cell.push_back(sum / static_cast<double>(ys[s].size()));
    }
    const TempFile data(csv);
    const auto run = [&](const std::string& formula, const std::string& term) {
        return RunJson(
            {"glm", "--data", data.path.string(), "--formula", formula, "--emmeans", term});
    };
    const json flat = run("y ~ st + reg", "reg");
    const json& reg = flat["emmeans"][0];
    EXPECT_EQ(reg["not_estimable"], true);
    for (const json& m : reg["means"]) EXPECT_TRUE(m["mean"].is_null()) << m;
    ASSERT_EQ(reg["pairwise"].size(), 2u);
    for (const json& p : reg["pairwise"]) EXPECT_TRUE(p["estimate"].is_null()) << p;
    ASSERT_EQ(flat["warnings"].size(), 1u);
    EXPECT_THAT(flat["warnings"][0].get<std::string>(),
                HasSubstr("marginal means of 'reg' that the data do not determine"));

    const json st = run("y ~ st + reg", "st")["emmeans"][0];
    ASSERT_EQ(st["pairwise"].size(), 12u);
    for (const json& p : st["pairwise"]) {
        const int a = std::stoi(p["a"].get<std::string>().substr(1)) - 1;
        const int b = std::stoi(p["b"].get<std::string>().substr(1)) - 1;
        if ((a < 2) == (b < 2))
            ExpectJsonNumber(p["estimate"], json(cell[a] - cell[b]), kR, p.dump());
        else
            EXPECT_TRUE(p["estimate"].is_null() && p["se"].is_null()) << p;
    }

    const json nested = run("y ~ reg + st(reg)", "reg");
    EXPECT_TRUE(nested["warnings"].empty());
    EXPECT_FALSE(nested["emmeans"][0].contains("not_estimable"));
    const json& means = nested["emmeans"][0]["means"];
    ASSERT_EQ(means.size(), 2u);
    ExpectJsonNumber(means[0]["mean"], json((cell[0] + cell[1]) / 2), kR, "north");
    ExpectJsonNumber(means[1]["mean"], json((cell[2] + cell[3]) / 2), kR, "south");

    // The same for the logistic model, whose sweep leaves the aliased
    // columns' coefficients with the other sign: flat, the region logits
    // are empty; nested, the model is saturated in the states and a region's
    // logit is the average of its states' log-odds.
    const std::vector<std::pair<int, int>> hiLo{{3, 1}, {1, 1}, {1, 2}, {4, 1}};
    std::string zcsv = "z,st,reg\n";
    for (std::size_t st = 0; st < hiLo.size(); ++st) {
        const std::string rest = ",s" + std::to_string(st + 1) + (st < 2 ? ",north\n" : ",south\n");
        for (int k = 0; k < hiLo[st].first; ++k) zcsv += "hi" + rest;
        for (int k = 0; k < hiLo[st].second; ++k) zcsv += "lo" + rest;
    }
    const TempFile zdata(zcsv);
    const auto logit = [&](const std::string& formula) {
        return RunJson({"logistic", "--data", zdata.path.string(), "--formula", formula,
                        "--emmeans", "reg"})["emmeans"][0];
    };
    const json flatLogits = logit("z ~ st + reg");
    EXPECT_EQ(flatLogits["not_estimable"], true);
    for (const json& m : flatLogits["logits"][0]["means"]) EXPECT_TRUE(m["mean"].is_null()) << m;
    const json nestedLogits = logit("z ~ reg + st(reg)");
    EXPECT_FALSE(nestedLogits.contains("not_estimable"));
    const json& logits = nestedLogits["logits"][0]["means"];
    ASSERT_EQ(logits.size(), 2u);
    EXPECT_NEAR(logits[0]["mean"].get<double>(), (std::log(3.0) + 0.0) / 2, 1e-9);
    EXPECT_NEAR(logits[1]["mean"].get<double>(), (std::log(0.5) + std::log(4.0)) / 2, 1e-9);
}

TEST_F(Cli, TextReportShowsTheTablesInOrder) {
    const Result r = RunProgram({"glm", "--data", kGolden + "cli_anova.csv", "--formula",
                                 "y ~ diet + dose + diet*dose", "--factors", "dose", "--tests", "3",
                                 "--emmeans", "diet*dose", "--compare", "dose", "--adjust",
                                 "bonferroni", "--contrast", "polynomial", "--metric", "1,2,4"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string& out = r.out;
    std::size_t at = 0;
    for (const char* text :
         {"Tests of model effects (Type III sums of squares)", "Source", "Sum of squares",
          "Mean square", "Corrected model", "Intercept", "diet ", "dose ", "diet*dose", "Error",
          "Total", "Corrected total", "Estimated marginal means: diet*dose",
          "Pairwise comparisons of dose within diet (Bonferroni)",
          "Polynomial contrast of dose (metric 1, 2, 4) within diet (Bonferroni)", "linear",
          "quadratic", "Test of the contrast within diet"}) {
        const std::size_t found = out.find(text, at);
        ASSERT_NE(found, std::string::npos) << "'" << text << "' after position " << at << "\n"
                                            << out;
        at = found;
    }
    EXPECT_EQ(out.find("Type I sums"), std::string::npos);
}

TEST_F(Cli, BadRequestsExitWithUsageAndWriteNothing) {
    const std::string data = kGolden + "cli_anova.csv";
    const std::vector<std::string> base{
        "glm", "--data", data, "--formula", "y ~ diet + dose + x + diet*dose", "--factors", "dose"};
    struct Bad {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Bad> bad = {
        {{"--emmeans", "x"}, "'x' is not a term of factors only"},
        {{"--emmeans", "diet*x"}, "'diet*x' is not a term of the model"},
        {{"--emmeans", "diet", "--compare", "dose"}, "'dose' is not a factor of the --emmeans"},
        {{"--emmeans", "diet", "--adjust", "tukey"}, "--adjust 'tukey' is not known"},
        {{"--emmeans", "diet", "--contrast", "tukey"}, "--contrast 'tukey' is not known"},
        {{"--emmeans", "dose", "--contrast", "polynomial", "--metric", "1,2"},
         "--metric gives 2 values, but 'dose' has 3 levels"},
        {{"--emmeans", "dose", "--contrast", "polynomial", "--metric", "1,3,2"},
         "--metric values must increase"},
        {{"--emmeans", "dose", "--contrast", "simple", "--contrast-reference", "3"},
         "--contrast-reference '3' is not a level of 'dose'"},
        {{"--contrast", "simple"}, "--contrast needs --emmeans"},
        {{"--emmeans", "dose", "--compare", "none", "--contrast", "simple"},
         "--compare none asks for the means of 'dose' only"},
        {{"--tests", "2"}, "--tests takes 1 (Type I), 3 (Type III) or 1,3"},
        {{"--emmeans", "diet", "--emmeans", "dose", "--compare", "diet", "--compare", "dose",
          "--compare", "diet"},
         "--compare is given 3 times for 2 --emmeans terms"},
    };
    const TempFile pmml("", ".pmml");
    fs::remove(pmml.path);
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.message);
        const Result r = RunProgram(Plus(Plus(base, b.args), {"--pmml", pmml.path.string()}));
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_THAT(r.err, HasSubstr(b.message));
        EXPECT_FALSE(fs::exists(pmml.path));
        EXPECT_FALSE(fs::exists(pmml.path.string() + ".part"));
    }

    // A file that cannot be written fails before the fit.
    Result r = RunProgram(Plus(base, {"--results-xml", "/nonexistent-dir/results.xml"}));
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("cannot write '/nonexistent-dir/results.xml'"));

    // An intercept that the formula asks for and the option removes was
    // once dropped without a word.
    r = RunProgram({"glm", "--data", data, "--formula", "y ~ 1 + diet", "--no-intercept"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("the formula asks for the intercept (1)"));

    // A fit that fails (no record has every model value) leaves no file.
    const TempFile empty("y,A\n,a\n3,\n");
    r = Fit("glm", empty.path.string(), "y ~ A",
            {"--pmml", pmml.path.string(), "--predictions", pmml.path.string() + ".csv"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_FALSE(fs::exists(pmml.path));
    EXPECT_FALSE(fs::exists(pmml.path.string() + ".csv"));
    EXPECT_FALSE(fs::exists(pmml.path.string() + ".part"));
}

TEST_F(Cli, AnEffectWithOnlyAliasedColumnsHasNoTest) {
    // x2 = 2 x: once x is in, x2 adds nothing (Type I), and each of the two
    // adds nothing to a model that holds the other (Type III).
    const std::vector<double> y{1, 2.5, 2.9, 4.2, 5.1, 5.7}, x{1, 2, 3, 4, 5, 6};
    const TempFile data(
        "y,x,x2,A\n1,1,2,a\n2.5,2,4,b\n2.9,3,6,a\n4.2,4,8,b\n5.1,5,10,a\n5.7,6,12,b\n");
    const json t = RunJson({"glm", "--data", data.path.string(), "--formula", "y ~ x + x2 + A",
                            "--tests", "1,3"})["tests"];

    // Closed forms: the intercept's sequential sum of squares is n ybar^2,
    // the first covariate's Sxy^2 / Sxx.
    double sy = 0, sx = 0;
    for (std::size_t i = 0; i < y.size(); ++i) sy += y[i], sx += x[i];
    const double n = static_cast<double>(y.size()), ybar = sy / n, xbar = sx / n;
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        sxy += (x[i] - xbar) * (y[i] - ybar), sxx += (x[i] - xbar) * (x[i] - xbar);
    ExpectJsonNumber(t["type1"][0]["ss"], json(n * ybar * ybar), kR, "intercept");
    ExpectJsonNumber(t["type1"][1]["ss"], json(sxy * sxy / sxx), kR, "x");
    EXPECT_EQ(t["error"]["df"], 3);

    const auto expectEmpty = [](const json& row, const std::string& term) {
        EXPECT_EQ(row["term"], term);
        EXPECT_EQ(row["df"], 0) << term;
        EXPECT_EQ(row["ss"], 0.0) << term;
        EXPECT_TRUE(row["F"].is_null()) << term;
        EXPECT_TRUE(row["sig"].is_null()) << term;
    };
    expectEmpty(t["type1"][2], "x2");
    expectEmpty(t["type3"][1], "x");
    expectEmpty(t["type3"][2], "x2");
    EXPECT_EQ(t["type3"][3]["df"], 1);

    // A term after one that contains it is aliased by the order of the
    // terms alone (R, which puts it first, tests it): the reader is told.
    const auto run = [&](const std::string& formula) {
        return RunJson({"glm", "--data", data.path.string(), "--formula", formula, "--tests", "3"});
    };
    const json after = run("y ~ A + A*x + x");
    expectEmpty(after["tests"]["type3"][3], "x");
    ASSERT_EQ(after["warnings"].size(), 1u);
    EXPECT_THAT(after["warnings"][0].get<std::string>(),
                HasSubstr("note: 'x' comes after 'A*x', which contains it"));
    const json before = run("y ~ A + x + A*x");
    EXPECT_EQ(before["tests"]["type3"][2]["df"], 1);
    EXPECT_TRUE(before["warnings"].empty());
}

TEST_F(Cli, MeansComeWithoutPairsWhenAskedOrWhenTheyWouldBeMillions) {
    // 450 levels of two records each: 101,025 pairs, beyond what is compared
    // unasked. The means of a one-factor model are the level means, their
    // standard errors sqrt(MSE / 2).
    const int levels = 450;
    std::string csv = "y,G\n";
    std::vector<double> sums(levels, 0.0), y;
    for (int i = 0; i < 2 * levels; ++i) {
        const int g = i % levels;
        y.push_back(0.1 * g + ((i * 7919) % 13) / 10.0);
        sums[static_cast<std::size_t>(g)] += y.back();
        char cell[32];
        std::snprintf(cell, sizeof cell, "%.17g", y.back());
        csv += cell + (",g" + std::to_string(1000 + g)) + "\n";
    }
    double sse = 0;
    for (int i = 0; i < 2 * levels; ++i) {
        const double d =
            y[static_cast<std::size_t>(i)] - sums[static_cast<std::size_t>(i % levels)] / 2;
        sse += d * d;
    }
    const double se = std::sqrt(sse / levels / 2);
    const TempFile data(csv);
    Result r = Fit("glm", data.path.string(), "y ~ G", {"--emmeans", "G", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string note = "pairwise comparisons of 'G', which would be 101025 pairs";
    EXPECT_THAT(r.err, HasSubstr(note));
    json got = json::parse(r.out);
    ASSERT_EQ(got["warnings"].size(), 1u);
    EXPECT_THAT(got["warnings"][0].get<std::string>(), HasSubstr(note));
    const json emm = got["emmeans"][0];
    EXPECT_EQ(emm["compare"], "G");
    EXPECT_TRUE(emm["pairwise"].is_null());
    ASSERT_EQ(emm["means"].size(), static_cast<std::size_t>(levels));
    for (int g = 0; g < levels; g += 97) {
        const json& m = emm["means"][static_cast<std::size_t>(g)];
        EXPECT_EQ(m["levels"]["G"], "g" + std::to_string(1000 + g));
        ExpectJsonNumber(m["mean"], json(sums[static_cast<std::size_t>(g)] / 2), kR, "mean");
        ExpectJsonNumber(m["se"], json(se), kR, "se");
    }

    // The text report says what was left out and how to ask for it.
    r = Fit("glm", data.path.string(), "y ~ G", {"--emmeans", "G"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out,
                HasSubstr("Pairwise comparisons of G left out: 101025 pairs; --compare G asks for "
                          "them."));

    // --compare none: the same means, no compare factor and no note, also
    // for a factor of a few levels.
    const auto means = [](const std::vector<std::string>& more) {
        return RunJson(
            Plus({"glm", "--data", kGolden + "cli_anova.csv", "--formula",
                  "y ~ diet + dose + diet*dose", "--factors", "dose", "--emmeans", "diet*dose"},
                 more));
    };
    const json compared = means({});
    got = means({"--compare", "none"});
    EXPECT_EQ(got["warnings"], json::array());
    EXPECT_TRUE(got["emmeans"][0]["compare"].is_null());
    EXPECT_TRUE(got["emmeans"][0]["pairwise"].is_null());
    EXPECT_EQ(got["emmeans"][0]["means"], compared["emmeans"][0]["means"]);
    EXPECT_FALSE(compared["emmeans"][0]["pairwise"].empty());
}

TEST_F(Cli, AFailedRunLeavesAnExistingFileAsItWas) {
    const TempFile kept("an earlier result\n", ".pmml");
    const TempFile data("y,A\n,a\n3,\n");
    EXPECT_EQ(Fit("glm", data.path.string(), "y ~ A", {"--pmml", kept.path.string()}).code, 3);
    EXPECT_EQ(Slurp(kept.path), "an earlier result\n");

    // A bad request of the logistic model stops before its fit, too.
    Result r = Fit("logistic", kGolden + "cli_logistic.csv", "y ~ A + x",
                   {"--emmeans", "x", "--pmml", kept.path.string()});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("'x' is not a term of factors only"));
    EXPECT_EQ(Slurp(kept.path), "an earlier result\n");

    // Two options cannot write the same file.
    ExpectExit(Fit("glm", kGolden + "cli_anova.csv", "y ~ diet",
                   {"--pmml", kept.path.string(), "--predictions", kept.path.string()}),
               2,
               "mcreg: --predictions '" + kept.path.string() + "' is the same file as --pmml '" +
                   kept.path.string() + "'\n");
    EXPECT_EQ(Slurp(kept.path), "an earlier result\n");
}

TEST_F(Cli, TestsAndMarginalMeansOfManyParametersAgreeWithR) {
    const json cases = json::parse(golden::Text("cli_analyses_large_cases.json"));
    ASSERT_EQ(cases.size(), 2u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const json got = RunJson(CaseArgs("glm", c));
        const json& want = c["expected"];
        ASSERT_TRUE(got.contains("tests"));
        ExpectJsonNear(got["tests"], want["tests"], kR, "tests");

        ASSERT_TRUE(got.contains("emmeans"));
        ASSERT_EQ(got["emmeans"].size(), 1u);
        const json& emm = got["emmeans"][0];
        ExpectJsonNear(emm["covariates_at"], want["covariates_at"], kR, "covariates_at");
        const json& means = emm["means"];
        ASSERT_EQ(means.size(), want["means_count"].get<std::size_t>());
        // R's rows are of some levels only; the program's of every level,
        // found by their level texts.
        for (const json& w : want["means"]) {
            const auto hit = std::find_if(means.begin(), means.end(), [&](const json& m) {
                return m["levels"] == w["levels"];
            });
            ASSERT_NE(hit, means.end()) << w["levels"];
            ExpectJsonNear(*hit, w, kR, "means " + w["levels"].dump());
        }
    }
}
