// mcreg predict: a model written with --pmml scores its own data as the
// fit's --predictions do, scores new records as R's predict() does (lm
// with standard errors and both intervals, a multinomial model's
// probabilities with delta-method standard errors; tools/reference/
// predict.R), and refuses what it cannot score with the file, column or
// category named.
#include <cmath>
#include <map>

#include "cli/cli_run.h"
#include "support/numeric.h"

namespace {

using namespace clitest;

// The model of a command written as PMML.
struct Model {
    TempFile pmml{"", ".pmml"};
    explicit Model(const std::vector<std::string>& fit) {
        const Result r = RunProgram(Plus(fit, {"--pmml", pmml.path.string()}));
        EXPECT_EQ(r.code, 0) << r.err;
    }
    Result Predict(const std::string& data, const TempFile& out,
                   const std::vector<std::string>& extra = {}) const {
        return RunProgram(Plus({"predict", "--model", pmml.path.string(), "--data", data,
                                "--output", out.path.string()},
                               extra));
    }
};

golden::Csv ReadCsv(const TempFile& file) {
    return golden::ParseCsv(Slurp(file.path));
}

// Fits with --pmml and --predictions, scores the same data with the
// document and compares every record the fit scored.
void RoundTrip(const std::string& command, const std::string& data,
               const std::vector<std::string>& extra) {
    SCOPED_TRACE(command + " " + data);
    const TempFile fitted("", ".csv"), scored("", ".csv");
    const Model model(
        Plus({command, "--data", data}, Plus(extra, {"--predictions", fitted.path.string()})));
    ExpectExit(model.Predict(data, scored), 0, "");
    const golden::Csv want = ReadCsv(fitted), got = ReadCsv(scored);
    ASSERT_EQ(got.rows.size(), want.rows.size());
    // The fit's column and predict's: p_<category> is P(<category>).
    std::vector<std::pair<std::string, std::string>> columns;
    if (command == "glm") {
        columns.push_back({"predicted", "predicted"});
    } else {
        for (std::size_t c = 0; c + 1 < want.header.size(); ++c)
            columns.push_back({want.header[c], "P(" + want.header[c].substr(2) + ")"});
    }
    std::size_t compared = 0;
    for (std::size_t i = 0; i < want.rows.size(); ++i) {
        if (want.rows[i][0].empty()) continue;  // a record the fit left out
        for (const auto& [w, g] : columns) {
            ASSERT_FALSE(got.Text(i, g).empty()) << "row " << i;
            EXPECT_TRUE(support::Near(got.Value(i, g), want.Value(i, w), 1e-14))
                << "row " << i << ": " << got.Text(i, g) << " vs " << want.Text(i, w);
        }
        if (command == "logistic") {
            EXPECT_EQ(got.Text(i, "predicted"), want.rows[i].back()) << "row " << i;
        }
        ++compared;
    }
    EXPECT_GE(compared, 10u);
}

}  // namespace

TEST_F(Cli, PredictScoresTheFitsOwnDataAsTheFitDoes) {
    const std::string main = kGolden + "cli_main.csv", logistic = kGolden + "cli_logistic.csv";
    RoundTrip("glm", kExamples + "warpbreaks.csv",
              {"--formula", "breaks ~ wool + tension + wool*tension"});
    RoundTrip("glm", kExamples + "mtcars.csv",
              {"--formula", "mpg ~ cyl + wt + cyl*wt + wt*wt", "--factors", "cyl"});
    RoundTrip("glm", kExamples + "plantgrowth.csv",
              {"--formula", "weight ~ group", "--no-intercept"});
    RoundTrip("glm", main,
              {"--formula", "y ~ A + B + A*B", "--factors", "B", "--freq-weight", "f",
               "--regr-weight", "w"});
    RoundTrip("glm", main, {"--formula", "y ~ A + C(A) + x + A*x + x*x + z"});
    RoundTrip("glm", main, {"--formula", "y ~ A + x", "--vcov", "hc3"});
    // The cluster column is a factor of the model too: one field of it.
    RoundTrip("glm", kExamples + "warpbreaks.csv",
              {"--formula", "breaks ~ wool + tension", "--cluster", "tension"});
    // x2 is 2 x + 1: aliased, its beta 0.
    std::string csv = "y,g,x,x2\n";
    for (int k = 0; k < 24; ++k)
        csv += std::to_string((k * 7) % 13 + 0.5 * (k % 3)) + "," + "pqr"[k % 3] + "," +
               std::to_string(k % 5) + "," + std::to_string(2 * (k % 5) + 1) + "\n";
    const TempFile aliased(csv);
    RoundTrip("glm", aliased.path.string(), {"--formula", "y ~ g + x + x2 + g*x"});
    RoundTrip("logistic", logistic,
              {"--formula", "y ~ A + B + x", "--factors", "B", "--reference", "first",
               "--freq-weight", "f"});
    RoundTrip("logistic", logistic, {"--formula", "y ~ A*x", "--reference", "last"});
    RoundTrip("logistic", logistic, {"--formula", "z ~ A + x"});
    // a and b weigh 6 each, b in more records: their logits tie, and the
    // fit gives every record to b, as its document must.
    const TempFile tied("y,w\na,3\na,3\nb,1\nb,1\nb,1\nb,1\nb,1\nb,1\nc,1\nc,1\n");
    RoundTrip("logistic", tied.path.string(), {"--formula", "y ~ 1", "--freq-weight", "w"});
}

TEST_F(Cli, PredictAgreesWithRsPredict) {
    const golden::Csv lm = golden::ReadCsv("predict_lm.csv");
    const std::map<std::string, std::vector<std::string>> fits = {
        {"warpbreaks",
         {"glm", "--data", kExamples + "warpbreaks.csv", "--formula",
          "breaks ~ wool + tension + wool*tension"}},
        {"mtcars",
         {"glm", "--data", kExamples + "mtcars.csv", "--formula", "mpg ~ cyl + wt + cyl*wt + wt*wt",
          "--factors", "cyl"}},
        {"weighted",
         {"glm", "--data", kExamples + "mtcars.csv", "--formula", "mpg ~ hp + wt", "--no-intercept",
          "--regr-weight", "qsec"}}};
    std::size_t checked = 0;
    for (const auto& [name, fit] : fits) {
        SCOPED_TRACE(name);
        const Model model(fit);
        const std::string data = kGolden + "predict_" + name + "_new.csv";
        std::vector<std::size_t> rows;
        for (std::size_t i = 0; i < lm.rows.size(); ++i)
            if (lm.Text(i, "case") == name) rows.push_back(i);
        const std::string level = lm.Text(rows.front(), "level");
        for (const std::string interval : {"confidence", "prediction"}) {
            const TempFile out("", ".csv");
            const Result r =
                model.Predict(data, out, {"--se", "--interval", interval, "--level", level});
            ASSERT_EQ(r.code, 0) << r.err;
            const golden::Csv got = ReadCsv(out);
            ASSERT_EQ(got.rows.size(), rows.size());
            ASSERT_EQ(got.header, (std::vector<std::string>{"predicted", "se", "lower", "upper"}));
            // R's columns in the order of the program's.
            const std::string prefix = interval == "confidence" ? "conf_" : "pred_";
            const std::vector<std::string> columns{"fit", "se", prefix + "lower", prefix + "upper"};
            for (std::size_t k = 0; k < rows.size(); ++k)
                for (std::size_t c = 0; c < 4; ++c, ++checked)
                    EXPECT_TRUE(support::Near(std::stod(got.rows[k][c]),
                                              lm.Value(rows[k], columns[c]), 1e-9))
                        << interval << " row " << k << " " << columns[c] << ": " << got.rows[k][c]
                        << " vs " << lm.Value(rows[k], columns[c]);
        }
    }
    EXPECT_EQ(checked, 2 * 4 * lm.rows.size());

    const golden::Csv mn = golden::ReadCsv("predict_multinom.csv");
    const Model model({"logistic", "--data", kGolden + "cli_logistic.csv", "--formula",
                       "y ~ A + B + x", "--factors", "B", "--freq-weight", "f"});
    const TempFile out("", ".csv");
    const Result r = model.Predict(kGolden + "predict_logistic_new.csv", out, {"--se"});
    ASSERT_EQ(r.code, 0) << r.err;
    const golden::Csv got = ReadCsv(out);
    ASSERT_EQ(got.rows.size(), mn.rows.size());
    for (const std::string category : {"apple", "banana", "cherry pie"})
        for (std::size_t k = 0; k < mn.rows.size(); ++k) {
            const double p = got.Value(k, "P(" + category + ")");
            const double se = got.Value(k, "se P(" + category + ")");
            EXPECT_TRUE(support::Near(p, mn.Value(k, "p_" + category), 1e-9))
                << category << " row " << k << ": " << p;
            EXPECT_TRUE(support::Near(se, mn.Value(k, "se_" + category), 1e-9))
                << category << " row " << k << ": " << se;
        }
}

TEST_F(Cli, PredictKeepsColumnsAndSaysWhatItCannotScore) {
    const Model model({"glm", "--data", kExamples + "warpbreaks.csv", "--formula",
                       "breaks ~ wool + tension + wool*tension"});
    const TempFile data(
        "id,tension,wool,note\n1,L,A,\"a, b\"\n2,X,B,c\n3,M,,d\n4,X,A,\" e \"\n5,Z,B,f\n");
    {
        const TempFile out("", ".csv");
        const Result r = model.Predict(data.path.string(), out, {"--keep", "note,id"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err,
                  "mcreg: warning: column 'tension' has category 'X', which the model does not "
                  "know, in 2 records: their scores are left empty\n"
                  "mcreg: warning: column 'tension' has category 'Z', which the model does not "
                  "know, in 1 record: their scores are left empty\n");
        const golden::Csv got = ReadCsv(out);
        ASSERT_EQ(got.rows.size(), 5u);
        EXPECT_EQ(got.header, (std::vector<std::string>{"note", "id", "predicted"}));
        // Wool A at tension L: the mean of its nine records in the data.
        EXPECT_NEAR(std::stod(got.rows[0][2]), 44.555555555555557, 1e-12);
        EXPECT_EQ(got.rows[0][0], "a, b");
        for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(got.rows[i][2], "") << i;
        EXPECT_EQ(got.rows[3][1], "4");
    }
    {
        // The output read back as data has the cells kept: one with blanks
        // at its ends among them, which a reader trims unless quoted.
        const TempFile out("", ".csv"), again("", ".csv");
        ASSERT_EQ(model.Predict(data.path.string(), out, {"--keep", "note,tension,wool"}).code, 0);
        ASSERT_EQ(model.Predict(out.path.string(), again, {"--keep", "note"}).code, 0);
        EXPECT_EQ(ReadCsv(again).rows[3][0], " e ");
    }
    {
        const TempFile out("previous", ".csv");
        ExpectExit(model.Predict(data.path.string(), out, {"--strict"}), 3,
                   "mcreg: column 'tension' has category 'X', which the model does not know, in 2 "
                   "records; column 'tension' has category 'Z', which the model does not know, "
                   "in 1 record (--strict)\n");
        EXPECT_EQ(Slurp(out.path), "previous");
    }
    {
        // Wool B at tension H is a combination the fit never met: its score
        // would be whatever the redundant parameters' choice made it (here
        // the additive 8), so it is left empty, as an unknown category is.
        const TempFile cells("breaks,wool,tension\n1,A,L\n2,A,L\n3,A,H\n4,A,H\n5,B,L\n7,B,L\n");
        const Model partial({"glm", "--data", cells.path.string(), "--formula",
                             "breaks ~ wool + tension + wool*tension"});
        const TempFile fresh("wool,tension\nB,H\nA,L\nB,H\n"), out("", ".csv");
        ExpectExit(partial.Predict(fresh.path.string(), out, {"--se"}), 0,
                   "mcreg: warning: 2 records have a combination of categories of wool*tension "
                   "that the fit did not meet: their scores are left empty\n");
        EXPECT_EQ(Slurp(out.path), "predicted,se\n,\n1.5,0.70710678118654757\n,\n");
        ExpectExit(partial.Predict(fresh.path.string(), out, {"--strict"}), 3,
                   "mcreg: 2 records have a combination of categories of wool*tension that the "
                   "fit did not meet (--strict)\n");
    }
    {
        // Every record at wool A has tension L, every one at B has H: the fit
        // keeps the intercept and wool A, and tension's columns are aliased
        // with them. (A, L) and (B, H) are determined (R's lm gives 1.5 and
        // 5.5); (A, H) and (B, L) were scored 1.5 and 5.5 too, with exit 0,
        // by the zeros the aliased parameters were given. The same for a
        // covariate tied to the categories (x = 1 at A, 2 at B) and for the
        // multinomial model.
        const TempFile tied(
            "breaks,wool,tension,x,yb\n1,A,L,1,0\n2,A,L,1,1\n5,B,H,2,0\n"
            "6,B,H,2,1\n");
        const TempFile fresh("wool,tension,x\nA,L,1\nA,H,3\nB,H,2\nB,L,1\n"), out("", ".csv");
        const std::string said =
            "mcreg: warning: 2 records have values the fit's data do not determine a score for "
            "(a parameter the data left aliased would decide it): their scores are left empty\n";
        for (const char* formula : {"breaks ~ wool + tension", "breaks ~ wool + x"}) {
            const Model m({"glm", "--data", tied.path.string(), "--formula", formula});
            ExpectExit(m.Predict(fresh.path.string(), out, {"--se"}), 0, said);
            EXPECT_EQ(Slurp(out.path), "predicted,se\n1.5,0.5\n,\n5.5,0.5\n,\n") << formula;
        }
        const Model logistic(
            {"logistic", "--data", tied.path.string(), "--formula", "yb ~ wool + tension"});
        ExpectExit(logistic.Predict(fresh.path.string(), out, {}), 0, said);
        EXPECT_EQ(Slurp(out.path), "P(0),P(1),predicted\n0.5,0.5,0\n,,\n0.5,0.5,0\n,,\n");
        ExpectExit(logistic.Predict(fresh.path.string(), out, {"--strict"}), 3,
                   "mcreg: 2 records have values the fit's data do not determine a score for (a "
                   "parameter the data left aliased would decide it) (--strict)\n");
    }
    const TempFile out("", ".csv");
    const TempFile noWool("breaks,tension\n1,L\n");
    ExpectExit(model.Predict(noWool.path.string(), out), 2,
               "mcreg: the model's factor 'wool' is not a column of the data\n");
    ExpectExit(model.Predict(data.path.string(), out, {"--keep", "nothing"}), 2,
               "mcreg: --keep names 'nothing', which is not a column of the data\n");
    // Two columns of one name: which holds the factor is not for the
    // program to guess.
    const TempFile twoWools("wool,tension,wool\nA,L,B\n");
    ExpectExit(model.Predict(twoWools.path.string(), out), 2,
               "mcreg: the model's factor 'wool' appears more than once in the data's columns\n");
    const Result r = model.Predict(data.path.string(), data);
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("--data"));
    ExpectExit(model.Predict(data.path.string(), out, {"--interval", "prediction", "--level", "1"}),
               2,
               "mcreg: --level must lie strictly between 0 and 1, short of 1 by more than 1e-16\n");
}

TEST_F(Cli, PredictLeavesOutStandardErrorsThatRoundingTakes) {
    // At a millisecond timestamp x'Vx sums terms some 1e20 times its value,
    // and its standard error kept a few digits at best: 0.0941834 for the
    // first record here, where R's predict with the timestamp shifted near
    // zero gives 0.0941806 (and in other data three times the true value).
    // They are left empty and said; the predictions stay.
    const std::string cells = kGolden + "spread/cells.csv";
    const Model model({"glm", "--data", cells, "--formula", "y ~ A + t"});
    const TempFile data("A,t\nb,1733001205239\na,1733001008594\nc,1733001100000\n");
    const TempFile out("", ".csv");
    const Result r = model.Predict(data.path.string(), out, {"--se", "--interval", "confidence"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("the standard errors and intervals of 3 records are left empty"));
    const golden::Csv got = ReadCsv(out);
    ASSERT_EQ(got.rows.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(got.Text(i, "predicted").empty()) << i;
        for (const char* c : {"se", "lower", "upper"}) EXPECT_EQ(got.Text(i, c), "") << i << c;
    }

    // The multinomial model's probabilities by the delta method sum the
    // same x'V x, block by block: at x = 1.7e9 (spread 300) they were off
    // in the third digit.
    const Model logit(
        {"logistic", "--data", kGolden + "spread/timestamp.csv", "--formula", "yc ~ t"});
    const TempFile stamps("t\n1733000900000\n1733001500000\n");
    const Result rl = logit.Predict(stamps.path.string(), out, {"--se"});
    ASSERT_EQ(rl.code, 0) << rl.err;
    EXPECT_THAT(rl.err, HasSubstr("the standard errors and intervals of 2 records are left empty"));
    const golden::Csv probabilities = ReadCsv(out);
    ASSERT_EQ(probabilities.rows.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        for (const char* c : {"1", "2", "3"}) {
            EXPECT_FALSE(probabilities.Text(i, std::string("P(") + c + ")").empty()) << i << c;
            EXPECT_EQ(probabilities.Text(i, std::string("se P(") + c + ")"), "") << i << c;
        }
}

TEST_F(Cli, PredictRefusesDocumentsItCannotScore) {
    const TempFile data("x,g\n1,a\n");
    const TempFile out("", ".csv");
    const auto run = [&](const std::string& document) {
        const TempFile model(document, ".pmml");
        Result r = RunProgram({"predict", "--model", model.path.string(), "--data",
                               data.path.string(), "--output", out.path.string()});
        // The message names the document; the tests compare what follows.
        const std::string name = model.path.string() + ": ";
        const std::size_t at = r.err.find(name);
        if (at != std::string::npos) r.err.erase(at, name.size());
        return r;
    };
    ExpectExit(run("x,g\n1,a\n"), 3,
               "mcreg: not well-formed XML at line 3, column 1: No document element found\n");
    ExpectExit(run("<PMML version=\"4.4\">\n<DataDictionary>\n</PMML>"), 3,
               "mcreg: not well-formed XML at line 3, column 3: Start-end tags mismatch\n");
    ExpectExit(run("<PMML version=\"4.4\"><DataDictionary/><TreeModel "
                   "functionName=\"regression\"/></PMML>"),
               3,
               "mcreg: the document's model is a TreeModel; only a GeneralRegressionModel can be "
               "scored\n");
    ExpectExit(run(R"(<PMML version="4.4"><DataDictionary/>
<GeneralRegressionModel modelType="generalLinear"><MiningSchema><MiningField name="x"/>
</MiningSchema></GeneralRegressionModel></PMML>)"),
               3, "mcreg: the MiningSchema's field 'x' has no DataField in the DataDictionary\n");
    ExpectExit(RunProgram({"predict", "--model", "/nonexistent.pmml", "--data", data.path.string(),
                           "--output", out.path.string()}),
               2, "mcreg: cannot open the model /nonexistent.pmml\n");
}
