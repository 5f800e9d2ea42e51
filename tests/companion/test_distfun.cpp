#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "support/golden.h"

using MCCommon_850::MCMV;
using MCMath_850::MCDistFun;

namespace {

double Eval(const std::string& fn, double a, double b, double c) {
    if (fn == "CdfStdNorm") return MCDistFun::CdfStdNorm(a);
    if (fn == "SigStdNorm") return MCDistFun::SigStdNorm(a);
    if (fn == "IdfStdNorm") return MCDistFun::IdfStdNorm(a);
    if (fn == "CdfT") return MCDistFun::CdfT(a, b);
    if (fn == "SigT") return MCDistFun::SigT(a, b);
    if (fn == "IdfT") return MCDistFun::IdfT(a, b);
    if (fn == "CdfChi") return MCDistFun::CdfChi(a, b);
    if (fn == "SigChi") return MCDistFun::SigChi(a, b);
    if (fn == "IdfChi") return MCDistFun::IdfChi(a, b);
    if (fn == "CdfF") return MCDistFun::CdfF(a, b, c);
    if (fn == "SigF") return MCDistFun::SigF(a, b, c);
    if (fn == "IdfF") return MCDistFun::IdfF(a, b, c);
    ADD_FAILURE() << "unknown function " << fn;
    return 0.0;
}

}  // namespace

// Golden values from R (tools/reference/distfun.R), including far tails,
// fractional and huge degrees of freedom.
TEST(DistFun, MatchesRToTwelveDigits) {
    const golden::Csv csv = golden::ReadCsv("distfun.csv");
    ASSERT_FALSE(csv.rows.empty());
    std::map<std::string, int> seen;
    for (std::size_t r = 0; r < csv.rows.size(); ++r) {
        const std::string& fn = csv.Text(r, "fn");
        // Arguments a function does not take are NA; they are not read.
        const double expected = csv.Value(r, "value");
        const double got = Eval(fn, csv.Value(r, "a"), csv.Value(r, "b"), csv.Value(r, "c"));
        const double tolerance = 1e-12 * std::fabs(expected) + 1e-300;
        EXPECT_NEAR(got, expected, tolerance) << fn << " row " << r;
        ++seen[fn];
    }
    EXPECT_EQ(seen.size(), 12u);
}

TEST(DistFun, NotComputableGivesMissingAndLimitsHold) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::CdfT(1.0, 0.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::CdfT(nan, 3.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::IdfT(0.0, 3.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::IdfT(1.0, 3.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::IdfStdNorm(-0.1)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::CdfChi(2.0, -1.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::CdfF(2.0, 3.0, 0.0)));
    EXPECT_TRUE(MCMV::IsMissing(MCDistFun::SigF(nan, 3.0, 4.0)));
    // Infinite df: Student's t is the normal; F with df2 = inf is chi2/df1.
    EXPECT_EQ(MCDistFun::CdfT(1.3, inf), MCDistFun::CdfStdNorm(1.3));
    EXPECT_EQ(MCDistFun::IdfT(0.9, inf), MCDistFun::IdfStdNorm(0.9));
    EXPECT_NEAR(MCDistFun::CdfF(1.2, 3.0, inf), MCDistFun::CdfChi(3.6, 3.0), 1e-15);
    // Boundaries of the positive distributions and infinite arguments.
    EXPECT_EQ(MCDistFun::CdfChi(0.0, 2.0), 0.0);
    EXPECT_EQ(MCDistFun::SigChi(-1.0, 2.0), 1.0);
    EXPECT_EQ(MCDistFun::CdfF(inf, 2.0, 5.0), 1.0);
    EXPECT_EQ(MCDistFun::CdfT(-inf, 4.0), 0.0);
    EXPECT_EQ(MCDistFun::SigT(-inf, 4.0), 1.0);
    // F(2, d) has the closed-form quantile (d/2)((1 - p)^(-2/d) - 1); R's qf
    // is not accurate enough in the far lower tail to serve here.
    for (double p : {1e-6, 0.3, 0.999}) {
        const double exact = 3.5 * std::expm1(-std::log1p(-p) / 3.5);
        EXPECT_NEAR(MCDistFun::IdfF(p, 2.0, 7.0), exact, 1e-13 * exact) << p;
    }
}
