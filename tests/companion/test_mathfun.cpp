#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "companion/MCMV.h"
#include "companion/MCMathFun.h"

using MCCommon_850::MCMV;
using MCMath_850::MCMathFun;
using MCMath_850::MCPower;

TEST(MathFun, StridedKernelsAndVectorMeasures) {
    const double x[6] = {1, 9, 2, 9, 3, 9};
    const double y[3] = {4, 5, 6};
    EXPECT_EQ(MCMathFun::DDot(3, x, 2, y, 1), 32.0);
    double z[4] = {1, 1, 1, 1};
    MCMathFun::Daxpy(2, 2.0, y, 1, z, 2);
    EXPECT_EQ(z[0], 9.0);
    EXPECT_EQ(z[1], 1.0);
    EXPECT_EQ(z[2], 11.0);
    MCMathFun::DScal(2, -1.0, z + 1, 2);
    EXPECT_EQ(z[3], -1.0);
    // No overflow or underflow in the norm.
    const double big[2] = {3e200, 4e200};
    EXPECT_DOUBLE_EQ(MCMathFun::DNrm2(2, big, 1), 5e200);
    const double tiny[2] = {3e-200, 4e-200};
    EXPECT_DOUBLE_EQ(MCMathFun::DNrm2(2, tiny, 1), 5e-200);
    EXPECT_EQ(MCMathFun::DNrm2(0, big, 1), 0.0);

    const std::vector<double> a = {1.0, 2.5, 0.0}, b = {1.5, 2.0, 1e-9};
    EXPECT_DOUBLE_EQ(MCMathFun::VNrm1Diff(a, b), 1.0 + 1e-9);
    // |1 - 1.5|/1.5, |2.5 - 2|/2, |0 - 1e-9| / max(1e-9, 1e-6)
    EXPECT_DOUBLE_EQ(MCMathFun::VMaxRelDiff(a, b, 1e-6), 1.0 / 3.0);
    EXPECT_TRUE(MCMathFun::QLReps(1e-17, 2.0));
    EXPECT_FALSE(MCMathFun::QLReps(1e-15, 2.0));
    EXPECT_FALSE(MCMathFun::QLReps(std::nan(""), 2.0));
}

TEST(MathFun, PowerAndExponentGuards) {
    double out = 0.0;
    EXPECT_TRUE(MCPower::Power(-2.0, 3.0, out));
    EXPECT_EQ(out, -8.0);
    EXPECT_TRUE(MCPower::Power(2.0, -1100.0, out));  // underflow is 0
    EXPECT_EQ(out, 0.0);
    EXPECT_TRUE(MCPower::Power(0.0, 0.0, out));
    EXPECT_EQ(out, 1.0);
    EXPECT_FALSE(MCPower::Power(-8.0, 1.0 / 3.0, out));  // not real
    EXPECT_TRUE(MCMV::IsMissing(out));
    EXPECT_FALSE(MCPower::Power(10.0, 400.0, out));  // overflow
    EXPECT_TRUE(MCMV::IsMissing(out));
    EXPECT_FALSE(MCPower::Power(0.0, -1.0, out));
    EXPECT_FALSE(MCPower::Power(std::nan(""), 2.0, out));

    EXPECT_TRUE(MCPower::Exponent(MCPower::gMachineMaxExp, out));
    EXPECT_TRUE(std::isfinite(out));
    EXPECT_GT(out, 0.99 * DBL_MAX);
    EXPECT_FALSE(MCPower::Exponent(709.79, out));
    EXPECT_TRUE(MCMV::IsMissing(out));
    EXPECT_TRUE(MCPower::Exponent(-1000.0, out));
    EXPECT_EQ(out, 0.0);
    EXPECT_FALSE(MCPower::Exponent(std::numeric_limits<double>::quiet_NaN(), out));
    EXPECT_EQ(MCPower::gMachineEpsilon, DBL_EPSILON);
    EXPECT_EQ(MCPower::gMachineMaxInt, 2147483647);
}
