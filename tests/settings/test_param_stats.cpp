#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "companion/MCMV.h"
#include "settings/MCRegrParameterStats.h"

using MCCommon_850::MCMV;
using MCMath_850::MCRegrParameterStats;

TEST(RegrParameterStats, FreshRecordAndDesignEffectRoot) {
    MCRegrParameterStats s;
    EXPECT_TRUE(s.fbRedundant);
    EXPECT_EQ(s.fDF, 0.0);
    EXPECT_EQ(s.fParamIndex, -1);
    EXPECT_EQ(s.fEffectIndex, -1);
    EXPECT_TRUE(MCMV::IsMissing(s.fEstimate) && MCMV::IsMissing(s.fStdError) &&
                MCMV::IsMissing(s.fSig) && MCMV::IsMissing(s.GetSqrtDeff()));
    s.fDeff = 4.0;
    EXPECT_EQ(s.GetSqrtDeff(), 2.0);
    s.fDeff = -1.0;
    EXPECT_TRUE(MCMV::IsMissing(s.GetSqrtDeff()));
    s.fDeff = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(MCMV::IsMissing(s.GetSqrtDeff()));
}
