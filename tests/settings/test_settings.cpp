#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <tuple>

#include "companion/MCDisplay.h"
#include "settings/MCConst.h"
#include "settings/MCRegSettings.h"
#include "settings/ResizeChkInit.h"

using namespace MCMath_850;
using MCConst::MCVariableType;

namespace {
struct Listener : MCCommon_850::ProgressListener {};
struct Cancel : MCCommon_850::MCQueryCancel {
    bool IsCancel() override { return false; }
};
}  // namespace

TEST(RegSettings, DefaultsAndValidity) {
    MCRegSettings s;
    EXPECT_EQ(std::make_tuple(s.GetModelType(), s.GetDependent(), s.GetFrequencyWeightVar(),
                              s.GetRegrWeightVar(), s.GetInterceptUse(), s.GetTransformEffects(),
                              s.GetTolerance(), s.GetConfidenceLevel(), s.GetDF()),
              std::make_tuple(0, -1, -1, -1, true, false, 1e-12, 0.95, -1.0));
    EXPECT_EQ(std::make_tuple(s.GetTestType(), s.GetPAdjustment(), s.GetCovbType(),
                              s.GetMaxThreadNum(), s.GetMemCacheKB(), s.GetNModelEffects()),
              std::make_tuple(0, 0, 0, 1, 0, 0));
    EXPECT_TRUE(s.GetVariableTypes().empty());
    EXPECT_EQ(s.IsValidSettings(false).GetErrorCode(), 301);
    EXPECT_EQ(s.IsValidSettings(true).GetErrorCode(), 301);

    ASSERT_TRUE(s.SetDependent(3));
    EXPECT_TRUE(s.IsValidSettings(false).IsOK());  // intercept-only model
    s.SetInterceptUse(false);
    EXPECT_EQ(s.IsValidSettings(false).GetErrorCode(), 302);
    EXPECT_TRUE(s.IsValidSettings(true).IsOK());
    EXPECT_TRUE(s.AddModelEffect(MCModelEffect()));
    EXPECT_TRUE(s.IsValidSettings(false).IsOK());

    // Option setters ignore values out of range, NaN included.
    s.SetConfidenceLevel(1.0);
    s.SetConfidenceLevel(-0.1);
    s.SetConfidenceLevel(std::nan(""));
    EXPECT_EQ(s.GetConfidenceLevel(), 0.95);
    s.SetConfidenceLevel(0.0);
    EXPECT_EQ(s.GetConfidenceLevel(), 0.0);
    s.SetDF(-2.0);
    s.SetDF(std::nan(""));
    EXPECT_EQ(s.GetDF(), -1.0);
    s.SetDF(0.0);
    EXPECT_EQ(s.GetDF(), 0.0);
}

TEST(RegSettings, RolesAndRefusals) {
    MCRegSettings s;
    ASSERT_TRUE(s.SetDependent(3));
    EXPECT_EQ(s.GetVariableTypes(),
              (std::vector<MCVariableType>{MCConst::VAR_UNSPECIFIED, MCConst::VAR_UNSPECIFIED,
                                           MCConst::VAR_UNSPECIFIED, MCConst::VAR_DEPENDENT}));
    EXPECT_FALSE(s.SetDependent(4));  // one dependent, never replaced
    EXPECT_EQ(s.GetDependent(), 3);
    EXPECT_EQ(s.AddCovariate(3), -1);
    EXPECT_EQ(s.AddCovariate(-1), -1);
    // An absurd position is refused instead of growing the role map to it.
    EXPECT_EQ(s.AddCovariate(std::numeric_limits<int>::max()), -1);
    EXPECT_EQ(s.GetVariableTypes().size(), 4u);

    EXPECT_EQ(s.AddFactor(2, 0), -1);
    EXPECT_EQ(s.AddFactor(2, 3), 1);
    EXPECT_EQ(s.GetFactorSizes(), std::vector<int>{3});
    EXPECT_FALSE(s.SetFactorNCategs({2, 4}));
    EXPECT_FALSE(s.SetFactorNCategs({0}));
    EXPECT_TRUE(s.SetFactorNCategs({5}));
    EXPECT_EQ(s.GetFactorSizes(), std::vector<int>{5});

    // Partial failure: the first 5 stays, the repeat is refused.
    EXPECT_FALSE(s.SetFactors({5, 5}));
    EXPECT_EQ(s.GetFactors(), (std::vector<int>{2, 5}));
    EXPECT_EQ(s.GetFactorSizes(), (std::vector<int>{5, 1}));
    EXPECT_TRUE(s.SetFactors({}));

    EXPECT_EQ(s.AddCovariate(9), 1);  // grows the map, new entries 0
    ASSERT_EQ(s.GetVariableTypes().size(), 10u);
    EXPECT_EQ(s.GetVariableTypes()[7], MCConst::VAR_UNSPECIFIED);
    EXPECT_EQ(s.GetVariableTypes()[9], MCConst::VAR_COVARIATE);

    // A replaced weight position keeps its mark.
    EXPECT_TRUE(s.SetFrequencyWeightVar(0));
    EXPECT_TRUE(s.SetFrequencyWeightVar(1));
    EXPECT_EQ(s.GetFrequencyWeightVar(), 1);
    EXPECT_EQ(s.GetVariableTypes()[0], MCConst::VAR_FREQ_WEIGHT);
    EXPECT_FALSE(s.SetRegrWeightVar(0));
    EXPECT_TRUE(s.SetRegrWeightVar(12));
    EXPECT_EQ(s.GetVariableTypes()[12], MCConst::VAR_REGR_WEIGHT);
    EXPECT_EQ(s.GetVariableTypes().size(), 13u);
}

// The terms must name the settings' factors and covariates in those roles,
// each term once, and the tolerance must be a fraction: otherwise a fit
// would read past its records or positions no record rule checked (a
// crash, or estimates of a model nobody asked for), repeat a term's
// parameters, or invert a singular design.
TEST(RegSettings, TermsAndToleranceAreCheckedAgainstTheRoles) {
    const auto status = [](const MCRegSettings& s) {
        const MCCommon_850::MCStatus st = s.IsValidSettings(false);
        long d1 = -1, d2 = -1;
        st.GetDiscreteDatum(1, d1);
        st.GetDiscreteDatum(2, d2);
        return std::make_tuple(st.GetErrorCode(), d1, d2);
    };
    // 0 dependent, 1 and 4 factors, 2 covariate, 3 weight, 5 no role.
    MCRegSettings base;
    ASSERT_TRUE(base.SetDependent(0));
    ASSERT_EQ(base.AddFactor(1, 3), 1);
    ASSERT_EQ(base.AddFactor(4, 2), 2);
    ASSERT_EQ(base.AddCovariate(2), 1);
    ASSERT_TRUE(base.SetFrequencyWeightVar(3));
    const std::vector<int> vars = {1, 4, 2, 0, 3, 5};
    const auto term = [&](std::vector<int> factors, std::vector<int> covariates) {
        MCModelEffect e(2, 4, &vars);
        for (int f : factors) e.AddNewFactor(f, false);
        for (int c : covariates) e.AddCovariate(c);
        return e;
    };
    const auto with = [&](std::vector<MCModelEffect> terms) {
        MCRegSettings s = base;
        for (const MCModelEffect& e : terms) s.AddModelEffect(e);
        return s;
    };
    EXPECT_EQ(status(with({term({1}, {}), term({4}, {}), term({1, 4}, {2}), term({}, {2, 2})})),
              std::make_tuple(0L, -1L, -1L));
    // The effect's index and the position it misuses.
    EXPECT_EQ(status(with({term({1}, {}), term({}, {5})})), std::make_tuple(339L, 1L, 5L));
    EXPECT_EQ(status(with({term({}, {0})})), std::make_tuple(339L, 0L, 0L));
    EXPECT_EQ(status(with({term({1}, {3})})), std::make_tuple(339L, 0L, 3L));
    const std::vector<int> swapped = {2, 4, 1};
    MCModelEffect asFactor(2, 1, &swapped);
    ASSERT_TRUE(asFactor.AddNewFactor(2, false));
    EXPECT_EQ(status(with({asFactor})), std::make_tuple(339L, 0L, 2L));

    // A term given twice, in whatever order; a different nesting or power
    // is another term.
    EXPECT_EQ(status(with({term({1, 4}, {2}), term({}, {2}), term({4, 1}, {2})})),
              std::make_tuple(340L, 0L, 2L));
    MCModelEffect nested(2, 4, &vars);
    ASSERT_TRUE(nested.AddNewFactor(1, false) && nested.AddNewFactor(4, true));
    EXPECT_TRUE(status(with({term({1, 4}, {}), nested, term({}, {2}), term({}, {2, 2})})) ==
                std::make_tuple(0L, -1L, -1L));
    EXPECT_EQ(status(with({term({1}, {}), MCModelEffect()})), std::make_tuple(340L, 1L, -1L));
    MCRegSettings noIntercept = with({MCModelEffect(), term({1}, {})});
    noIntercept.SetInterceptUse(false);
    EXPECT_TRUE(noIntercept.IsValidSettings(false).IsOK());

    for (double tol : {-1e-12, 1.0, std::nan("")}) {
        MCRegSettings s = base;
        s.SetTolerance(tol);
        const MCCommon_850::MCStatus st = s.IsValidSettings(false);
        double datum = 0.0;
        EXPECT_EQ(st.GetErrorCode(), 341) << tol;
        EXPECT_TRUE(st.GetScaleDatum(1, datum) && (datum == tol || std::isnan(tol)));
    }
    MCRegSettings exact = base;
    exact.SetTolerance(0.0);
    EXPECT_TRUE(exact.IsValidSettings(false).IsOK());

    // An option outside its codes, named with its value, rather than a
    // fit labelled with an estimator or adjustment it did not use.
    MCRegSettings robust = base;
    robust.SetCovbType(MCConst::COVB_ROBUST);
    robust.SetRobustType(static_cast<MCConst::MCRobustType>(99));
    EXPECT_EQ(status(robust), std::make_tuple(343L, 4L, 99L));
    robust.SetCovbType(static_cast<MCConst::MCCovbType>(-1));
    EXPECT_EQ(status(robust), std::make_tuple(343L, 3L, -1L));
    MCRegSettings tests = base;
    tests.SetPAdjustment(static_cast<MCConst::MCPAdjustMethod>(5));
    EXPECT_EQ(status(tests), std::make_tuple(343L, 2L, 5L));
    tests.SetPAdjustment(MCConst::PADJ_SEQ_SIDAK);
    tests.SetTestType(static_cast<MCConst::MCTestType>(4));
    EXPECT_EQ(status(tests), std::make_tuple(343L, 1L, 4L));
}

TEST(RegSettings, CopyIsDeepForEffectsAndSharesHostObjects) {
    Listener listener;
    Cancel cancel;
    auto src = std::make_unique<MCRegSettings>();
    src->SetProgressListener(&listener);
    src->SetCancelPointer(&cancel);
    EXPECT_GE(src->AddFactor(0, 2), 0);
    src->AddCovariate(1);
    const std::vector<int> vars = {0, 1};
    MCModelEffect e(1, 1, &vars);
    EXPECT_TRUE(e.AddNewFactor(0, false));
    EXPECT_GE(e.AddCovariate(1), 0);
    src->AddModelEffect(e);

    MCRegSettings copy(*src);
    src.reset();
    ASSERT_EQ(copy.GetNModelEffects(), 1);
    EXPECT_EQ(copy.GetModelEffects()[0], e);
    EXPECT_EQ(copy.GetProgressListener(), &listener);
    EXPECT_EQ(copy.GetCancelPointer(), &cancel);
    EXPECT_EQ(copy.GetFactors(), std::vector<int>{0});
}

TEST(RegSettings, DisplayTexts) {
    std::ostringstream out;
    MCDisplay_850::SetDisplayStream(&out);
    MCDisplay_850::DisplayC("Link", MCConst::LINK_CUM_CLOGLOG);
    MCDisplay_850::DisplayC("Test", static_cast<MCConst::MCTestType>(1));
    MCDisplay_850::DisplayC("Hessian", static_cast<MCConst::MCHessianCompMethod>(0));
    MCDisplay_850::DisplayC("Ref", static_cast<MCConst::MCCategRef>(7));
    MCDisplay_850::DisplayC("Role", MCConst::VAR_TRIALS);
    MCDisplay_850::DisplayC("Dist", MCConst::DIST_NOM_MULTINOMIAL);
    MCRegSettings s;
    s.SetThreadIterFactory(reinterpret_cast<MCThread_850::MCThreadIterFactory*>(&s));
    s.Display();
    MCDisplay_850::SetDisplayStream(nullptr);
    const std::string t = out.str();
    EXPECT_EQ(t.rfind("Link = Cumulative complementary log-log\nTest = unrecognized\n"
                      "Hessian = Type unrecognized\nRef = Category unrecognized\n"
                      "Role = Trials variable in GZLM or GLMM\nDist = Type unrecognized\n"
                      "MCRegSettings display start\n",
                      0),
              0u)
        << t;
    EXPECT_NE(t.find("Multithreading is used = false\n"), std::string::npos);
    EXPECT_NE(t.find("Multithreaded iterators are used = true\n"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 26), "MCRegSettings display end\n");
}

TEST(ResizeChkInit, GrowShrinkAndRefuse) {
    std::vector<int> v = {1, 2};
    EXPECT_TRUE(ResizeChkInit(v, 4, 7));
    EXPECT_EQ(v, (std::vector<int>{1, 2, 7, 7}));
    EXPECT_TRUE(ResizeChkInit(v, 1, 0));
    EXPECT_EQ(v, std::vector<int>{1});
    EXPECT_TRUE(ResizeChkInit(v, 0, 0));
    EXPECT_TRUE(v.empty());
    v = {1};
    EXPECT_FALSE(ResizeChkInit(v, std::numeric_limits<std::size_t>::max(), 0));
    EXPECT_TRUE(v.empty());
    v = {1};
    EXPECT_FALSE(ResizeChkInit(v, -1, 0));
    EXPECT_TRUE(v.empty());
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Below max_size() but far beyond memory: the allocation fails. (The
    // sanitizers' allocators abort on such a request instead of throwing.)
    std::vector<double> d = {1.0};
    EXPECT_FALSE(ResizeChkInit(d, d.max_size() - 1, 0.0));
    EXPECT_TRUE(d.empty());
#endif
}

TEST(RegSettings, RobustCovarianceChoices) {
    MCRegSettings s;
    // Model-based unless asked: every earlier result stays as it was.
    EXPECT_EQ(s.GetSandwichType(), -1);
    s.SetRobustType(MCConst::ROBUST_HC3);
    EXPECT_EQ(s.GetSandwichType(), -1);
    s.SetCovbType(MCConst::COVB_ROBUST);
    EXPECT_EQ(s.GetSandwichType(), MCConst::ROBUST_HC3);

    ASSERT_TRUE(s.SetDependent(0));
    EXPECT_EQ(s.GetClusterVar(), -1);
    EXPECT_EQ(s.AddClusterVar(0), -1);  // the dependent's position
    EXPECT_EQ(s.AddClusterVar(-1), -1);
    EXPECT_EQ(s.AddClusterVar(3), 1);
    EXPECT_EQ(s.GetVariableTypes()[3], MCConst::VAR_SUBJECT);
    EXPECT_EQ(s.AddClusterVar(4), 2);
    EXPECT_EQ(s.AddClusterVar(5), -1);  // two columns at most
    EXPECT_EQ(s.GetClusterVars(), (std::vector<int>{3, 4}));
    EXPECT_EQ(s.GetClusterVar(), 3);
}
