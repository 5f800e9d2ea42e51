// End-to-end tests of robust covariances (--vcov): the parameter table, the
// covariance matrix, the Type III tests and the marginal means against R
// (tools/reference/cli_robust.R: sandwich::vcovHC, car::Anova with vcov.,
// emmeans), streamed and in memory; and what is refused.
#include <algorithm>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

std::vector<std::string> Args(const std::string& model, const json& c) {
    return CaseArgs(model, c,
                    model == "glm" ? std::vector<std::string>{"--json", "--covariance"}
                                   : std::vector<std::string>{"--json"});
}

// Each parameter's estimate and standard error against the reference's.
void ExpectEstimates(const json& got, const json& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k)
        for (const char* key : {"estimate", "std_error"})
            ExpectJsonNumber(got[k][key], want[k][key], kR,
                             "parameter " + std::to_string(k) + " " + key);
}

TEST_F(Cli, RobustCovariancesAgreeWithR) {
    const json cases = json::parse(golden::Text("cli_robust_cases.json"));
    ASSERT_GE(cases.size(), 12u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const std::vector<std::string> args = Args("glm", c);
        const Result r = RunProgram(args);
        ASSERT_EQ(r.code, 0) << r.err;
        const json got = json::parse(r.out);
        const json& want = c["expected"];
        ExpectJsonNear(got["vcov"], want["vcov"], kR, "vcov", Members::kWantedOnly);
        EXPECT_EQ(got["vcov"].size(), want["vcov"].size());
        ExpectJsonNear(got["parameters"], want["parameters"], kR, "parameters",
                       Members::kWantedOnly);
        ExpectJsonNear(got["covariance"]["matrix"], want["covariance"], kR, "covariance",
                       Members::kWantedOnly);
        for (const char* key : {"tests", "emmeans"}) {
            EXPECT_EQ(got.contains(key), want.contains(key)) << key;
            if (want.contains(key) && got.contains(key))
                ExpectJsonNear(got[key], want[key], kR, key, Members::kWantedOnly);
        }
        ExpectSameStreamed(args, r.out);
    }
}

TEST_F(Cli, LogisticRobustCovariancesAgreeWithStatsmodels) {
    const json cases = json::parse(golden::Text("logistic_robust_cases.json"));
    ASSERT_EQ(cases.size(), 6u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const std::vector<std::string> args = Args("logistic", c);
        const Result r = RunProgram(args);
        ASSERT_EQ(r.code, 0) << r.err;
        const json got = json::parse(r.out);
        const json& want = c["expected"]["parameters"];
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == "--vcov") {
                EXPECT_EQ(got["vcov"]["type"], args[i + 1]);
            }
            if (args[i] == "--cluster") {
                // One column or two; two ways come with their clusters.
                json columns = json::array();
                for (std::size_t j = i + 1; j < args.size() && args[j].rfind("--", 0) != 0; ++j)
                    columns.push_back(args[j]);
                const json groups =
                    c["expected"].contains("groups") ? c["expected"]["groups"] : json({3});
                EXPECT_EQ(got["vcov"],
                          json({{"type", "cluster"}, {"columns", columns}, {"groups", groups}}));
            }
        }
        ExpectEstimates(got["parameters"], want);
        for (std::size_t k = 0; k < want.size() && k < got["parameters"].size(); ++k)
            EXPECT_EQ(got["parameters"][k]["redundant"], want[k]["redundant"]) << k;
        ExpectSameStreamed(args, r.out);
    }
    const Result r = Fit("logistic", kGolden + "cli_logistic.csv", "y ~ A + x", {"--vcov", "hc3"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("hc0 or hc1"));
}

namespace {

// The records of a file sorted by column (stably), so that each cluster's
// records come together.
std::string SortedBy(const std::string& file, const std::string& column) {
    const std::string text = Slurp(file);
    const golden::Csv csv = golden::ParseCsv(text);
    const int at = csv.Column(column);
    std::istringstream in(text);
    std::string header, line;
    std::getline(in, header);
    std::vector<std::pair<std::string, std::string>> rows;
    for (std::size_t i = 0; std::getline(in, line); ++i)
        rows.emplace_back(at < 0 || i >= csv.rows.size() ? "" : csv.rows[i][std::size_t(at)], line);
    EXPECT_EQ(rows.size(), csv.rows.size());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out = header + "\n";
    for (const auto& row : rows) out += row.second + "\n";
    return out;
}

}  // namespace

// The one-column cluster cases again with the records sorted by cluster:
// each cluster in one run, whose sums are dropped as the run closes, must
// give R's covariance all the same.
TEST_F(Cli, ClustersInRunsGiveTheCovarianceOfClustersInterleaved) {
    int checked = 0;
    for (const char* model : {"glm", "logistic"}) {
        const std::string name =
            std::string(model) == "glm" ? "cli_robust_cases.json" : "logistic_robust_cases.json";
        for (const json& c : json::parse(golden::Text(name))) {
            std::vector<std::string> args = Args(model, c);
            const auto cluster = std::find(args.begin(), args.end(), "--cluster");
            if (cluster == args.end() || cluster + 2 == args.end() ||
                (cluster + 2)->rfind("--", 0) != 0)
                continue;
            SCOPED_TRACE(std::string(model) + " " + c["case"].get<std::string>());
            const auto data = std::find(args.begin(), args.end(), "--data") + 1;
            const TempFile sorted(SortedBy(*data, *(cluster + 1)));
            *data = sorted.path.string();
            const Result r = RunProgram(args);
            ASSERT_EQ(r.code, 0) << r.err;
            const json got = json::parse(r.out);
            const json& want = c["expected"];
            ExpectEstimates(got["parameters"],
                            want.contains("parameters") ? want["parameters"] : want);
            if (args[0] == "glm")
                ExpectJsonNear(got["covariance"]["matrix"], want["covariance"], kR, "covariance",
                               Members::kWantedOnly);
            // Streamed: the runs are checked again on the passes re-read.
            ExpectSameStreamed(args, r.out);
            ++checked;
        }
    }
    EXPECT_GE(checked, 4);
}

TEST_F(Cli, RobustCovarianceIsNamedAndItsLimitsRefused) {
    const std::string main = kGolden + "cli_main.csv";
    Result r = Fit("glm", main, "y ~ A + x", {"--vcov", "hc2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out,
                HasSubstr("Covariance of the estimates: HC2 (heteroskedasticity-consistent)"));
    r = Fit("glm", main, "y ~ A + x");
    EXPECT_THAT(r.out, HasSubstr("Covariance of the estimates: model-based"));
    // The PMML covariance says which it is.
    for (const char* vcov : {"model", "hc1"}) {
        const TempFile pmml("", ".pmml");
        r = Fit("glm", main, "y ~ A + x", {"--vcov", vcov, "--pmml", pmml.path.string()});
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string type = std::string("<PCovMatrix type=\"") +
                                 (std::string(vcov) == "model" ? "model" : "robust") + "\"";
        EXPECT_THAT(Slurp(pmml.path), HasSubstr(type));
    }

    // Sequential sums of squares have no robust form.
    r = Fit("glm", main, "y ~ A + x", {"--vcov", "hc3", "--tests", "1,3"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("--tests 1"));
    r = Fit("glm", main, "y ~ A + x", {"--vcov", "hc4"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("'hc4'"));

    // The only record of category c is fitted exactly: HC2 and HC3 divide
    // by 1 - h = 0, HC0 and HC1 are defined.
    const TempFile data("y,A,x\n1,a,1\n2,a,2\n4,a,3\n3,b,1\n5,b,2\n4,b,4\n7,c,2\n");
    for (const char* type : {"hc2", "hc3"}) {
        r = Fit("glm", data.path.string(), "y ~ A + x", {"--vcov", type});
        EXPECT_EQ(r.code, 3) << type;
        EXPECT_THAT(r.err, HasSubstr("Record 7 has leverage 1"));
        EXPECT_TRUE(r.out.empty());
    }
    r = Fit("glm", data.path.string(), "y ~ A + x", {"--vcov", "hc1"});
    EXPECT_EQ(r.code, 0) << r.err;

    // Clusters: named in the report; records without one left out; one
    // cluster, three columns or a second covariance choice refused.
    const std::string clustered = kGolden + "cli_cluster.csv";
    r = Fit("glm", clustered, "y ~ A + x", {"--cluster", "g"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out,
                HasSubstr("Covariance of the estimates: cluster-robust by g, 9 clusters (tests on "
                          "8 df)"));
    EXPECT_THAT(r.out, HasSubstr("64 read, 61 used"));
    r = Fit("glm", clustered, "y ~ A + x", {"--cluster", "g", "h"});
    EXPECT_THAT(r.out, HasSubstr("cluster-robust by g and h, 9 and 6 clusters (tests on 5 df)"));
    const TempFile one("y,x,g\n1,1,a\n2,3,a\n4,2,a\n3,5,\n");
    r = Fit("glm", one.path.string(), "y ~ x", {"--cluster", "g"});
    EXPECT_EQ(r.code, 3);
    EXPECT_THAT(r.err, HasSubstr("1 cluster"));
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--cluster", "g", "h", "A"},
          std::vector<std::string>{"--cluster", "g", "--vcov", "hc3"}}) {
        r = Fit("glm", clustered, "y ~ x", extra);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_THAT(r.err, HasSubstr("--cluster"));
    }
}

}  // namespace
