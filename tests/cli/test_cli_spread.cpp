// Covariates whose spread is small beside their magnitude (a millisecond
// timestamp, calendar years and their square) are fitted as R fits them,
// in both models, while columns that really are collinear with them stay
// aliased. Reference values: tools/reference/spread.R.
#include <cmath>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

const std::string kData = kGolden + "spread/";

// The estimates and standard errors of the parameters that are not
// redundant, in the order the program lists them, agree with the
// reference to tol relative.
void ExpectReference(const json& got, const golden::Case& want, double tol = 1e-8) {
    std::vector<double> est, se;
    for (const json& p : got["parameters"]) {
        if (p["redundant"].get<bool>()) continue;
        est.push_back(p["estimate"].get<double>());
        se.push_back(p["std_error"].get<double>());
    }
    const std::vector<double>& we = want.At("estimate");
    const std::vector<double>& ws = want.At("se");
    ASSERT_EQ(est.size(), we.size()) << want.name;
    for (std::size_t k = 0; k < we.size(); ++k) {
        EXPECT_TRUE(support::Near(est[k], we[k], tol)) << want.name << " estimate " << k;
        EXPECT_TRUE(support::Near(se[k], ws[k], tol)) << want.name << " se " << k;
    }
}

TEST_F(Cli, CovariatesFarFromZeroFitAsRFitsThem) {
    const golden::Entries cases = golden::ReadEntries("spread.txt");
    ASSERT_EQ(cases.cases.size(), 22u);  // twenty-one and the unnamed case
    const std::string ts = kData + "timestamp.csv", years = kData + "years.csv";

    json j = RunJson({"glm", "--data", ts, "--formula", "y ~ t"});
    ExpectReference(j, cases.Get("glm_timestamp"));
    EXPECT_NEAR(j["fit"]["r_square"].get<double>(), cases.Get("glm_timestamp").Scalar("rsquare"),
                1e-10);
    EXPECT_TRUE(j["warnings"].empty()) << j["warnings"];

    j = RunJson({"glm", "--data", years, "--formula", "y ~ year + year*year"});
    ExpectReference(j, cases.Get("glm_years"));
    EXPECT_NEAR(j["fit"]["r_square"].get<double>(), cases.Get("glm_years").Scalar("rsquare"),
                1e-10);

    // Within the categories of a factor a timestamp's spread is judged
    // within each category: the slopes of two of the three are kept.
    // The Type III hypotheses of the intercept and of A (the intercepts at
    // t = 0) are built from the aliased slope's coefficients, where the
    // sweep's rounding of t must not pass for a relation with A.
    j = RunJson(
        {"glm", "--data", kData + "cells.csv", "--formula", "y ~ A + t + A*t", "--tests", "3"});
    const golden::Case& cells = cases.Get("glm_cells");
    EXPECT_NEAR(j["fit"]["r_square"].get<double>(), cells.Scalar("rsquare"), 1e-10);
    EXPECT_NEAR(j["fit"]["residual_standard_error"].get<double>(), cells.Scalar("sigma"), 1e-9);
    EXPECT_EQ(j["fit"]["rank"].get<double>(), cells.Scalar("rank"));
    const json& type3 = j["tests"]["type3"];
    ASSERT_EQ(type3.size(), 4u);
    for (std::size_t e = 0; e < 2; ++e) {
        EXPECT_EQ(type3[e]["df"].get<double>(), cells.At("type3_df")[e]) << type3[e]["term"];
        ASSERT_TRUE(type3[e]["F"].is_number()) << type3[e]["term"];
        EXPECT_TRUE(support::Near(type3[e]["F"].get<double>(), cells.At("type3_f")[e], 1e-9))
            << type3[e]["term"];
    }

    // Without A*B no indicator marks x's cells in A*B*x: each slope is
    // still judged by x's spread within its cell, not about x's overall
    // mean, beside which the slopes' differences look like rounding.
    // The Type III hypotheses of A and B have variances near 1e16 (their
    // estimates are intercepts at x = 0) and that of A*B*x mixes the
    // slopes' spread with a b x, known to 1e-20: neither the small inverse
    // nor its rank may be judged on an absolute scale.
    j = RunJson({"glm", "--data", kData + "cellsnoindicator.csv", "--formula",
                 "y ~ A + B + x + A*B*x", "--tests", "1,3"});
    const golden::Case& free = cases.Get("glm_cells_no_indicator");
    EXPECT_EQ(j["fit"]["rank"].get<double>(), free.Scalar("rank"));
    EXPECT_NEAR(j["fit"]["r_square"].get<double>(), free.Scalar("rsquare"), 1e-10);
    EXPECT_NEAR(j["fit"]["residual_standard_error"].get<double>(), free.Scalar("sigma"), 1e-9);
    EXPECT_TRUE(
        support::Near(j["tests"]["type1"][4]["F"].get<double>(), free.Scalar("type1_f"), 1e-9));
    const std::vector<double>& dropSS = free.At("type3_ss");
    const std::size_t uncontained[] = {1, 2, 4};  // A, B, A*B*x
    for (std::size_t k = 0; k < 3; ++k) {
        const json& row = j["tests"]["type3"][uncontained[k]];
        EXPECT_EQ(row["df"].get<double>(), k == 2 ? 3.0 : 1.0) << row["term"];
        ASSERT_TRUE(row["ss"].is_number()) << row["term"];
        EXPECT_TRUE(support::Near(row["ss"].get<double>(), dropSS[k], 1e-8)) << row["term"];
    }

    // A robust covariance G M G at a timestamp sums terms some 1e12 times
    // its elements: the sandwich is made on the columns centred within the
    // categories (the last one's on what its indicator is aliased with).
    ExpectReference(RunJson({"glm", "--data", kData + "cells.csv", "--formula", "y ~ A + t(A)",
                             "--vcov", "hc3"}),
                    cases.Get("glm_cells_hc3"));
    // Without A*B no indicator marks x's cells: the sandwich cannot centre
    // x there (its centre would move the records outside the cell too), so
    // it is made of the raw columns, which keep their digits near zero and
    // none at 1.7e9, where the program stops rather than guess.
    const golden::Csv noIndicator = golden::ParseCsv(Slurp(kData + "cellsnoindicator.csv"));
    std::string nearZero = "y,A,B,x\n";
    for (std::size_t i = 0; i < noIndicator.rows.size(); ++i)
        nearZero +=
            noIndicator.Text(i, "y") + "," + noIndicator.Text(i, "A") + "," +
            noIndicator.Text(i, "B") + "," +
            std::to_string(std::llround(std::stod(noIndicator.Text(i, "x"))) - 1699998300LL) + "\n";
    const TempFile near(nearZero);
    ExpectReference(RunJson({"glm", "--data", near.path.string(), "--formula",
                             "y ~ A + B + x + A*B*x", "--vcov", "hc1"}),
                    cases.Get("glm_cells_no_indicator_hc1"));
    const Result far =
        Fit("glm", kData + "cellsnoindicator.csv", "y ~ A + B + x + A*B*x", {"--vcov", "hc1"});
    EXPECT_EQ(far.code, 3) << far.err;
    EXPECT_NE(far.err.find("cannot be made precisely"), std::string::npos) << far.err;

    ExpectReference(RunJson({"logistic", "--data", ts, "--formula", "yb ~ t"}),
                    cases.Get("binary_timestamp"));
    // The logistic model's sandwich is made on the centred column it is
    // fitted on.
    ExpectReference(RunJson({"logistic", "--data", ts, "--formula", "yb ~ t", "--vcov", "hc1"}),
                    cases.Get("binary_timestamp_hc1"));
    // The sequential test of t sweeps X'X in model order; swept back from
    // the fit's sweep it kept the rounding of both.
    const json sequential =
        RunJson({"logistic", "--data", ts, "--formula", "yc ~ t + y", "--tests", "1"});
    EXPECT_TRUE(support::Near(sequential["tests"]["type1"][1]["chi_square"].get<double>(),
                              cases.Get("multinomial_timestamp_type1").Scalar("chi_square"), 1e-9));
    ExpectReference(RunJson({"logistic", "--data", ts, "--formula", "yc ~ t"}),
                    cases.Get("multinomial_timestamp"));
    ExpectReference(RunJson({"logistic", "--data", years, "--formula", "yc ~ year + year*year"}),
                    cases.Get("multinomial_years"));

    // The logistic model judges x within the cells of A*B (no A*B in the
    // model) by its spread within each cell too, and keeps the slopes glm
    // keeps. Its estimates are then glm's, or a warning says they are not.
    j = RunJson(
        {"logistic", "--data", kData + "cellsbinary.csv", "--formula", "yb ~ A + B + x + A*B*x"});
    const golden::Case& binary = cases.Get("binary_cells_no_indicator");
    int kept = 0;
    for (const json& p : j["parameters"]) kept += p["redundant"].get<bool>() ? 0 : 1;
    EXPECT_EQ(kept, binary.Scalar("rank"));
    bool unreliable = false;
    for (const json& w : j["warnings"])
        unreliable = unreliable || w.get<std::string>().find("unreliable") != std::string::npos;
    if (!unreliable) ExpectReference(j, binary);

    // The logistic fit works on the covariates less their means, products
    // and slopes within cells included, carried back by the exact map: far
    // from zero they keep the reference's digits, which raw they kept to
    // some 1e-6, and nothing is said. Without an indicator of its cells
    // (above) a slope cannot be centred, and a warning says so.
    int centreCovariate = 0;
    for (const json& w : j["warnings"])
        centreCovariate += w.get<std::string>().find("Centre the covariate") != std::string::npos;
    EXPECT_EQ(centreCovariate, 1) << j["warnings"];
    const golden::Csv binaryCells = golden::ParseCsv(Slurp(kData + "cellsbinary.csv"));
    std::string csv = "yb,A,x\n";
    for (std::size_t i = 0; i < binaryCells.rows.size(); ++i)
        csv += binaryCells.Text(i, "yb") + "," + binaryCells.Text(i, "A") + "," +
               std::to_string(std::llround(std::stod(binaryCells.Text(i, "x"))) - 1698300000LL) +
               "\n";
    const TempFile slopes(csv);
    const std::pair<std::string, std::vector<std::string>> centred[] = {
        {"binary_square", {"--data", kData + "squarebinary.csv", "--formula", "yb ~ A + x + x*x"}},
        {"multinomial_product",
         {"--data", kData + "productmultinomial.csv", "--formula", "yc ~ x + z + x*z"}},
        {"binary_slopes_in_cells", {"--data", slopes.path.string(), "--formula", "yb ~ A + x(A)"}},
        // The sandwich's scores and probabilities are the centred fit's.
        {"binary_square_hc1",
         {"--data", kData + "squarebinary.csv", "--formula", "yb ~ A + x + x*x", "--vcov", "hc1"}},
        {"binary_slopes_in_cells_hc1",
         {"--data", slopes.path.string(), "--formula", "yb ~ A + x(A)", "--vcov", "hc1"}}};
    for (const auto& [name, args] : centred) {
        std::vector<std::string> all{"logistic"};
        all.insert(all.end(), args.begin(), args.end());
        j = RunJson(all);
        ExpectReference(j, cases.Get(name), 1e-12);
        EXPECT_TRUE(j["warnings"].empty()) << name << j["warnings"];
    }
}

// A record at 0 of a covariate the sandwich centres enters as minus the
// centre, not as the zero its sparse row holds: skipped, it left the
// standard errors 60 times too small under HC0.
TEST_F(Cli, ARecordAtZeroOfACentredCovariateEntersTheSandwichCentred) {
    std::string csv = "y,x\n";
    for (long i = 0; i < 20000; ++i) {
        const long u = i * 7919 % 100003;
        csv += i == 5 ? std::string("50,0\n")
                      : std::to_string(i * 37 % 101 + u / 20000) + "," +
                            std::to_string(1700000000 + u) + "\n";
    }
    const TempFile data(csv);
    ExpectReference(
        RunJson({"glm", "--data", data.path.string(), "--formula", "y ~ x", "--vcov", "hc3"}),
        golden::ReadEntries("spread.txt").Get("glm_zero_in_timestamp_hc3"));
}

// A square or a product of covariates near 100 or 1000, beside its
// lower-order terms, is nearly collinear with them however each is
// centred alone: the sandwich lost a quarter of its digits, and HC3 then
// divides by (1 - h)^2 at a record of leverage 0.9995.
TEST_F(Cli, PowersAndProductsFarFromZeroKeepTheirRobustDigits) {
    const golden::Entries cases = golden::ReadEntries("spread.txt");
    ExpectReference(RunJson({"glm", "--data", kData + "square.csv", "--formula", "y ~ x + x*x",
                             "--vcov", "hc3"}),
                    cases.Get("glm_square_hc3"));
    const std::string product = kData + "product.csv";
    json j = RunJson({"glm", "--data", product, "--formula", "y ~ x + z + x*z", "--vcov", "hc3"});
    ExpectReference(j, cases.Get("glm_product_hc3"));
    EXPECT_TRUE(j["warnings"].empty()) << j["warnings"];
    ExpectReference(
        RunJson({"glm", "--data", product, "--formula", "y ~ x + z + x*z", "--cluster", "g"}),
        cases.Get("glm_product_cluster"));

    // Without x the product cannot be centred on it: with x near 1e5 its
    // robust standard errors keep some six digits, and the fit says so.
    std::string far = "y,x,z\n";
    for (const auto& r : golden::ParseCsv(Slurp(product)).rows)
        far += r[0] + "," + std::to_string(std::stod(r[1]) + 99000.0) + "," + r[2] + "\n";
    const TempFile data(far);
    j = RunJson({"glm", "--data", data.path.string(), "--formula", "y ~ z + x*z", "--vcov", "hc3"});
    bool warned = false;
    for (const json& w : j["warnings"])
        warned = warned || w.get<std::string>().find("product of covariates") != std::string::npos;
    EXPECT_TRUE(warned) << j["warnings"];
}

TEST_F(Cli, MarginalMeansAtATimestampLeaveOutTheStandardErrorsRoundingTakes) {
    // A mean at a timestamp's mean is c'b with c holding 1.7e12: c'Vc sums
    // terms some 1e20 times the variance, which rounding left at 0, a
    // standard error of 0 and an interval of no width. The same data with
    // the timestamp shifted near zero give the means with their errors;
    // the far means keep the digits of the near ones that a sum of terms of
    // 1e12 leaves, and the differences, in which t cancels, keep them all.
    const std::string cells = kData + "cells.csv";
    const json far = RunJson({"glm", "--data", cells, "--formula", "y ~ A + t", "--emmeans", "A"});
    const golden::Csv csv = golden::ParseCsv(Slurp(cells));
    std::string shifted = "y,A,t\n";
    for (std::size_t i = 0; i < csv.rows.size(); ++i)
        shifted += csv.Text(i, "y") + "," + csv.Text(i, "A") + "," +
                   std::to_string(std::stoll(csv.Text(i, "t")) - 1733001000000LL) + "\n";
    const TempFile near(shifted);
    const json close =
        RunJson({"glm", "--data", near.path.string(), "--formula", "y ~ A + t", "--emmeans", "A"});

    const json& f = far["emmeans"][0];
    const json& c = close["emmeans"][0];
    EXPECT_EQ(f["imprecise"], true);
    EXPECT_FALSE(c.contains("imprecise"));
    ASSERT_EQ(far["warnings"].size(), 1u);
    EXPECT_THAT(far["warnings"][0].get<std::string>(),
                HasSubstr("standard errors of marginal means of 'A'"));
    EXPECT_TRUE(close["warnings"].empty());
    ASSERT_EQ(f["means"].size(), c["means"].size());
    for (std::size_t i = 0; i < f["means"].size(); ++i) {
        EXPECT_TRUE(f["means"][i]["se"].is_null() && f["means"][i]["lower"].is_null());
        EXPECT_GT(c["means"][i]["se"].get<double>(), 0.0);
        EXPECT_TRUE(support::Near(f["means"][i]["mean"].get<double>(),
                                  c["means"][i]["mean"].get<double>(), 1e-6));
    }
    ASSERT_EQ(f["pairwise"].size(), c["pairwise"].size());
    for (std::size_t i = 0; i < f["pairwise"].size(); ++i)
        for (const char* key : {"estimate", "se", "p"})
            EXPECT_TRUE(support::Near(f["pairwise"][i][key].get<double>(),
                                      c["pairwise"][i][key].get<double>(), 1e-8))
                << i << " " << key;

    // A binary model's means as probabilities take their variance from the
    // same c'Vc (times p (1 - p) squared): theirs are left empty too. Their
    // differences, where the means' p (1 - p) are alike, keep their digits.
    std::string binary = "yb,A,t\n", binaryNear = binary;
    for (std::size_t i = 0; i < csv.rows.size(); ++i) {
        const long long t = std::stoll(csv.Text(i, "t"));
        const std::string head = std::string(t % 2 == 0 ? "hi" : "lo") + "," + csv.Text(i, "A");
        binary += head + "," + csv.Text(i, "t") + "\n";
        binaryNear += head + "," + std::to_string(t - 1733001000000LL) + "\n";
    }
    const TempFile binaryFar(binary), binaryClose(binaryNear);
    const auto probabilities = [](const TempFile& data) {
        return RunJson({"logistic", "--data", data.path.string(), "--formula", "yb ~ A + t",
                        "--emmeans", "A"})["emmeans"][0]["probabilities"];
    };
    const json pf = probabilities(binaryFar), pc = probabilities(binaryClose);
    ASSERT_EQ(pf["means"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(pf["means"][i]["se"].is_null() && pf["means"][i]["lower"].is_null()) << i;
        EXPECT_GT(pc["means"][i]["se"].get<double>(), 0.0);
    }
    ASSERT_EQ(pf["pairwise"].size(), pc["pairwise"].size());
    for (std::size_t i = 0; i < pf["pairwise"].size(); ++i)
        EXPECT_TRUE(support::Near(pf["pairwise"][i]["se"].get<double>(),
                                  pc["pairwise"][i]["se"].get<double>(), 1e-8))
            << i;
}

TEST_F(Cli, ColumnsCollinearNearOneE12StayAliased) {
    const golden::Entries cases = golden::ReadEntries("spread.txt");
    const std::string ts = kData + "timestamp.csv";
    // An exact copy, twice the column and the column plus a constant (a
    // combination of it and the intercept), all near 1.7e12 and beyond.
    for (const char* model : {"glm", "logistic"}) {
        const std::string formula =
            std::string(model == std::string("glm") ? "y" : "yb") + " ~ t + copy + twice + shifted";
        const json j = RunJson({model, "--data", ts, "--formula", formula});
        std::vector<std::string> aliased;
        for (const json& p : j["parameters"])
            if (p["redundant"].get<bool>()) aliased.push_back(p["label"].get<std::string>());
        EXPECT_EQ(aliased, (std::vector<std::string>{"copy", "twice", "shifted"})) << model;
        ExpectReference(
            j, cases.Get(model == std::string("glm") ? "glm_timestamp" : "binary_timestamp"));
    }
    // A covariate constant where it is used is aliased with the intercept,
    // however large its value.
    TempFile constant("y,c\n1,1733000000000\n2,1733000000000\n4,1733000000000\n");
    const json j = RunJson({"glm", "--data", constant.path.string(), "--formula", "y ~ c"});
    EXPECT_TRUE(j["parameters"][1]["redundant"].get<bool>());
}

TEST_F(Cli, ACovariateThatVariesOnlyInItsLastDigitsIsNamed) {
    // Values 1e12 + k: a spread of 2e-11 of the magnitude. Exact data: the
    // slope is still recovered, and the user is told its limits.
    std::string csv = "y,x\n";
    for (int k = 0; k < 20; ++k)
        csv += std::to_string(0.5 * k + (k % 3)) + "," + std::to_string(1000000000000LL + k) + "\n";
    const TempFile f(csv);
    const Result r = Fit("glm", f.path.string(), "y ~ x", {"--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("warning: covariate 'x' varies only from 1e+12 to 1e+12"));
    const json j = json::parse(r.out);
    // Least squares on k = x - 1e12 by hand: slope of (0.5k + k mod 3) on k.
    double sk = 0, sy = 0, skk = 0, sky = 0;
    for (int k = 0; k < 20; ++k) {
        const double y = 0.5 * k + (k % 3);
        sk += k, sy += y, skk += double(k) * k, sky += k * y;
    }
    const double slope = (sky - sk * sy / 20) / (skk - sk * sk / 20);
    EXPECT_NEAR(j["parameters"][1]["estimate"].get<double>(), slope, 1e-9);
    ASSERT_EQ(j["warnings"].size(), 1u);
}

}  // namespace
