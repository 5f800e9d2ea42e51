#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <tuple>

#include "companion/MCDisplay.h"
#include "settings/MCLogRegSettings.h"

using namespace MCMath_850;

namespace {
auto Fields(const MCLogRegSettings& s) {
    return std::make_tuple(s.GetDependentNCategs(), s.GetDependentRefCateg(), s.GetLLConCriterion(),
                           s.GetParamEstConCriterion(), s.GetMaxIterations(),
                           s.GetMaxStepHalvingValue(), s.GetStartingIteration(),
                           s.GetLLFuncChange(), s.GetParamEstChange(), s.GetUsePatternTabulator(),
                           s.GetIterationFrequency());
}
}  // namespace

TEST(LogRegSettings, DefaultsValidityAndRefusals) {
    MCLogRegSettings s;
    const MCRegSettings& base = s;
    EXPECT_EQ(base.GetModelType(), 1);
    EXPECT_EQ(Fields(s), std::make_tuple(2, -1, 0.0, 1e-6, 100, 5, 20, false, false, false, 1));
    EXPECT_EQ(base.IsValidSettings(false).GetErrorCode(), 301);
    ASSERT_TRUE(s.SetDependent(0));
    s.SetInterceptUse(false);
    EXPECT_EQ(base.IsValidSettings(false).GetErrorCode(), 302);
    EXPECT_TRUE(base.IsValidSettings(true).IsOK());

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(s.SetDependentRefCat(2, 2));
    EXPECT_FALSE(s.SetDependentRefCat(-3, 4));
    EXPECT_FALSE(s.SetDependentRefCat(0, 1));
    EXPECT_FALSE(s.SetLLConCriterion(-1e-9));
    EXPECT_FALSE(s.SetParamEstConCriterion(nan));
    EXPECT_FALSE(s.SetMaxIterations(-1));
    EXPECT_FALSE(s.SetMaxStepHalvingValue(0));
    EXPECT_FALSE(s.SetStartingIteration(-1));
    EXPECT_FALSE(s.SetIterationFrequency(0));
    EXPECT_EQ(Fields(s), Fields(MCLogRegSettings()));

    EXPECT_TRUE(s.SetDependentRefCat(-2, 2));
    EXPECT_TRUE(s.SetDependentRefCat(1, 2));
    EXPECT_TRUE(s.SetMaxIterations(0));
    EXPECT_TRUE(s.SetLLConCriterion(0));
    EXPECT_TRUE(s.SetStartingIteration(0));
    EXPECT_TRUE(s.SetMaxStepHalvingValue(1));
    EXPECT_EQ(Fields(s), std::make_tuple(2, 1, 0.0, 1e-6, 0, 1, 0, false, false, false, 1));
}

TEST(LogRegSettings, CopyAndDisplay) {
    MCLogRegSettings s;
    ASSERT_TRUE(s.SetDependent(2));
    ASSERT_TRUE(s.SetDependentRefCat(3, 5) && s.SetLLConCriterion(1e-4) &&
                s.SetParamEstConCriterion(1e-8) && s.SetMaxIterations(7) &&
                s.SetMaxStepHalvingValue(9) && s.SetStartingIteration(3) &&
                s.SetIterationFrequency(4));
    s.SetLLFuncChange(true);
    s.SetParamEstChange(true);
    s.SetUsePatternTabulator(true);
    const MCLogRegSettings c(s);
    EXPECT_EQ(c.GetDependent(), 2);
    EXPECT_EQ(Fields(c), std::make_tuple(5, 3, 1e-4, 1e-8, 7, 9, 3, true, true, true, 4));

    std::ostringstream out;
    MCDisplay_850::SetDisplayStream(&out);
    static_cast<const MCRegSettings&>(c).Display();
    MCDisplay_850::SetDisplayStream(nullptr);
    const std::string text = out.str();
    const std::size_t start = text.find("MCLogRegSettings display start");
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(start, text.find("MCRegSettings display end"));
    EXPECT_LT(text.find("MCRegSettings display end"), text.find("MCLogRegSettings display end"));
    EXPECT_NE(text.find("N of Dependent Categories = 5"), std::string::npos);
    EXPECT_NE(text.find("Staring Iteration = 3"), std::string::npos);
}
