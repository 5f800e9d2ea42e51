// End-to-end tests of values at the ends of the doubles' range: a model
// whose squares would underflow is refused instead of fitted as constant
// or aliased, and a product of covariates that overflows is said.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_run.h"

namespace {

using namespace clitest;
using json = nlohmann::json;

std::string Rows(const std::string& header, const std::vector<std::string>& rows) {
    std::string csv = header + "\n";
    for (const std::string& r : rows) csv += r + "\n";
    return csv;
}

TEST_F(Cli, SquaresThatUnderflowAreRefusedAndProductsThatOverflowSaid) {
    const auto run = [](const std::string& model, const TempFile& data,
                        const std::string& formula) {
        return RunProgram({model, "--data", data.path.string(), "--formula", formula, "--json"});
    };
    const auto expectRefused = [](const Result& r, const std::string& message) {
        EXPECT_EQ(r.code, 3) << r.out;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    };
    // y = 2 + 3 x exactly, z unrelated; each case writes a power of ten
    // after the cells of y or of x.
    const std::vector<std::string> plain = {"5,1,0.5,u",   "8,2,-1,v", "11,3,2,u",
                                            "14,4,0.25,v", "17,5,1,u", "20,6,-3,v"};
    const auto scaled = [&](const std::string& yUnit, const std::string& xUnit) {
        std::vector<std::string> rows;
        for (const std::string& r : plain) {
            const std::size_t a = r.find(','), b = r.find(',', a + 1);
            rows.push_back(r.substr(0, a) + yUnit + "," + r.substr(a + 1, b - a - 1) + xUnit +
                           r.substr(b));
        }
        return TempFile(Rows("y,x,z,c", rows));
    };

    // The dependent, a covariate and a product of covariates too small to
    // be squared: refused, by the model that would have fitted them.
    expectRefused(run("glm", scaled("e-200", ""), "y ~ x + z"),
                  "mcreg: the dependent variable 'y' is at most 2e-199 in magnitude, too small "
                  "for its sums of squares, which would underflow: rescale it");
    expectRefused(run("glm", scaled("", "e-160"), "y ~ x + z"),
                  "mcreg: covariate 'x' is at most 6e-160 in magnitude, too small for its sums "
                  "of squares, which would underflow: rescale it");
    expectRefused(run("logistic", scaled("", "e-160"), "c ~ x"),
                  "mcreg: covariate 'x' is at most 6e-160 in magnitude");
    expectRefused(run("glm", scaled("", "e-60"), "y ~ z + x*x"),
                  "mcreg: the term 'x*x' (a product of covariates) is at most 3.6e-119 in "
                  "magnitude, too small for its sums of squares, which would underflow: "
                  "rescale them");

    // Within the limit the fit is exact: y = 2 + 3e90 x, and the same for
    // a dependent at that scale.
    Result r = run("glm", scaled("", "e-90"), "y ~ x + z");
    ASSERT_EQ(r.code, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_NEAR(j["parameters"][0]["estimate"].get<double>(), 2.0, 1e-12);
    EXPECT_NEAR(j["parameters"][1]["estimate"].get<double>() / 3e90, 1.0, 1e-12);
    EXPECT_NEAR(j["parameters"][2]["estimate"].get<double>(), 0.0, 1e-12);
    r = run("glm", scaled("e-90", ""), "y ~ x + z");
    ASSERT_EQ(r.code, 0) << r.err;
    j = json::parse(r.out);
    EXPECT_NEAR(j["parameters"][1]["estimate"].get<double>() / 3e-90, 1.0, 1e-12);

    // A covariate that is zero wherever it is met is aliased, whatever its
    // scale: nothing to rescale.
    r = run("glm", TempFile(Rows("y,x,z", {"1,0,1", "2,0,3", "4,0,2", "3,0,5"})), "y ~ z + x");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(json::parse(r.out)["parameters"][2]["redundant"].get<bool>()) << r.out;

    // x alone squares within the doubles, x*x does not: it is aliased, and
    // the warning says why, while x keeps its fit (y = 2 + 3 x, x ~ 1e100).
    r = run("glm", scaled("", "e100"), "y ~ x + x*x");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("mcreg: warning: the term 'x*x' reaches 3.6e+201, the product of its "
                         "covariates' largest magnitudes, too large for its sums of squares, "
                         "which overflow; it is aliased for that reason: rescale its covariates"),
              std::string::npos)
        << r.err;
    j = json::parse(r.out);
    EXPECT_NEAR(j["parameters"][1]["estimate"].get<double>() / 3e-100, 1.0, 1e-12);
    EXPECT_TRUE(j["parameters"][2]["redundant"].get<bool>()) << r.out;
    // The logistic model's information overflows alike.
    r = run("logistic", scaled("", "e200"), "c ~ x");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("mcreg: warning: covariate 'x' reaches 6e+200, too large for its sums of "
                         "squares, which overflow; it is aliased for that reason: rescale it"),
              std::string::npos)
        << r.err;
}

}  // namespace
