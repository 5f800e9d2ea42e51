#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "export/MCRegrDoreZADUtil.h"
#include "glm/glm_fixture.h"

using MCMath_850::MCModelEffect;
using MCMath_850::MCRegrDoreZADUtil;
using MCMath_850::MCRegrParameter;
using MCMath_850::MCRegrParameterStats;
using MCMath_850::MCRegSettings;
using MCXML_850::MCVarList;
using MCXML_850::XMLElement;
using Elem = std::unique_ptr<XMLElement>;

namespace {

enum { Y = 0, A = 1, B = 2, X = 3 };

// Category texts differ from the codes, so a code written as text shows.
MCVarList Vars() {
    MCVarList v;
    EXPECT_GE(v.AddCategoricalVar("Y", {"no", "yes"}), 0);
    EXPECT_GE(v.AddCategoricalVar("A", {"1", "2", "3"}), 0);
    EXPECT_GE(v.AddCategoricalVar("B", {"1", "2", "3"}), 0);
    EXPECT_GE(v.AddContinuousVar("x", 0.0, 10.0), 0);
    return v;
}

struct TermSpec {
    std::vector<int> factors, covariates, declared;
    bool nested = false, parens = false;
};

MCRegSettings Settings(const std::vector<TermSpec>& terms) {
    MCRegSettings s;
    EXPECT_TRUE(s.SetDependent(Y));
    EXPECT_GE(s.AddFactor(A, 3), 0);
    EXPECT_GE(s.AddFactor(B, 3), 0);
    EXPECT_GE(s.AddCovariate(X), 0);
    const std::vector<int> vars = {A, B, X};
    for (const TermSpec& t : terms) {
        MCModelEffect e(2, 1, &vars);
        for (std::size_t i = 0; i < t.factors.size(); ++i)
            EXPECT_TRUE(e.AddNewFactor(t.factors[i], t.nested && i));
        for (int c : t.covariates) EXPECT_GE(e.AddCovariate(c), 0);
        e.SetFactorsInParens(t.parens);
        e.SetVarsIndicesForTheEffectInSetting(t.declared);
        EXPECT_TRUE(s.AddModelEffect(e));
    }
    return s;
}

MCRegrParameter Param(const MCRegSettings& s, int effect, std::vector<int> cats) {
    MCRegrParameter p;
    EXPECT_TRUE(
        p.SetupFromEffect(s.GetModelEffects()[static_cast<std::size_t>(effect)], effect, 0));
    p.GetCategories() = cats;
    return p;
}

MCRegrParameterStats Stats(int index) {
    MCRegrParameterStats s;
    s.fParamIndex = index;
    return s;
}

}  // namespace

TEST(DoreZAD, DetailedAndCompactLabels) {
    const MCVarList vars = Vars();
    const MCRegSettings s = Settings({{{A, B}, {}, {A, B}},
                                      {{A, B}, {}, {B, A}},
                                      {{}, {X, X}, {X}},
                                      {{B, A}, {}, {B, A}, true},
                                      {{A}, {X}, {X, A}, false, true},
                                      {{A}, {X}, {X, A}},
                                      {{A}, {}, {A}}});
    const std::vector<MCRegrParameter> params = {
        MCRegrParameter(),   Param(s, 0, {0, 1}), Param(s, 1, {0, 1}), Param(s, 2, {}),
        Param(s, 3, {1, 0}), Param(s, 4, {0}),    Param(s, 5, {0}),    Param(s, 6, {1})};
    const std::vector<std::string> detailed = {
        "", "[A=1]*[B=2]", "[B=2]*[A=1]", "x*x", "[B=1]([A=2])", "x([A=1])", "x*[A=1]", "A=2"};
    const std::vector<std::string> compact = {"Intercept", "[A=1] * [B=2]", "[A=1] * [B=2]",
                                              "x * x",     "[B=1]([A=2])",  "x([A=1])",
                                              "[A=1] * x", "[A=2]"};
    std::vector<MCRegrParameterStats> stats;
    for (std::size_t i = 0; i < params.size(); ++i) {
        std::string label = "stale";
        Elem e(MCRegrDoreZADUtil::CreateRegrParam(s.GetModelEffects(), params[i], vars, label));
        ASSERT_TRUE(e);
        EXPECT_EQ(label, detailed[i]) << i;
        stats.push_back(Stats(static_cast<int>(i)));
    }
    std::vector<std::string> labels;
    std::vector<MCRegrParameterStats> kept;
    MCRegrDoreZADUtil::GetParamLables(stats, s, vars, params, labels, kept);
    EXPECT_EQ(labels, compact);
    EXPECT_EQ(kept.size(), params.size());

    // The element names the same variables, in label order, with the mark
    // where a nested group opens.
    std::string label;
    Elem nested(MCRegrDoreZADUtil::CreateRegrParam(s.GetModelEffects(), params[4], vars, label));
    EXPECT_EQ(nested->ToString(),
              "<RegressionParameter><Factor name=\"B\" value=\"1\"/>"
              "<Factor name=\"A\" value=\"2\" isNested=\"true\"/></RegressionParameter>");
    Elem power(MCRegrDoreZADUtil::CreateRegrParam(s.GetModelEffects(), params[3], vars, label));
    EXPECT_EQ(power->ToString(),
              "<RegressionParameter><Covariate name=\"x\" multiplicity=\"2\"/>"
              "</RegressionParameter>");
    Elem icpt(MCRegrDoreZADUtil::CreateRegrParam(s.GetModelEffects(), params[0], vars, label));
    EXPECT_EQ(icpt->ToString(), "<RegressionParameter isIntercept=\"true\"/>");
    // An effect index past the effect list: nothing to name the parameter by.
    MCRegrParameter lost = params[1];
    lost.SetEffectIndex(99);
    Elem empty(MCRegrDoreZADUtil::CreateRegrParam(s.GetModelEffects(), lost, vars, label));
    EXPECT_EQ(empty->ToString(), "<RegressionParameter/>");
    EXPECT_EQ(label, "");
}

TEST(DoreZAD, StatisticsAttributes) {
    MCRegrParameterStats s = Stats(11);
    s.fbRedundant = false;
    s.fEstimate = 0.0;  // e^0 = 1 exactly
    s.fStdError = 0.5;
    s.fSig = 0.25;
    s.fTTest = 3.0;
    s.fChiSquare = 9.0;
    s.fDF = 7.0;
    s.fCILower = -1.0;
    s.fCIUpper = 1.0;
    Elem d(MCRegrDoreZADUtil::CreateElemParamStats(s, "P0000012", false));
    EXPECT_EQ(d->ToString(),
              "<ParameterStats paramName=\"P0000012\" estimate=\"0\" stdError=\"0.5\" "
              "sig=\"0.25\" tTest=\"9\" confIntervalLower=\"-1\" confIntervalUpper=\"1\"/>");
    const std::string label = "[A=1]";
    Elem c(MCRegrDoreZADUtil::CreateElemParamStats(s, 3, &label));
    EXPECT_EQ(c->ToString(),
              "<ParameterStats paramName=\"P0000003\" paramLabel=\"[A=1]\" estimate=\"0\" "
              "stdError=\"0.5\" sig=\"0.25\" tTest=\"3\" chiSquare=\"9\" df=\"7\" "
              "confIntervalLower=\"-1\" confIntervalUpper=\"1\"/>");
    s.fbExpCI = true;
    s.fExpCILower = 0.5;
    s.fEffectSize = 0.75;
    s.fEffectSizeCIUpper = 1.5;
    d.reset(MCRegrDoreZADUtil::CreateElemParamStats(s, "P0000012", false));
    EXPECT_EQ(*d->FindAttribute("expEstimate"), "1");
    EXPECT_EQ(*d->FindAttribute("expCILower"), "0.5");
    EXPECT_EQ(d->FindAttribute("expCIUpper"), nullptr);
    ASSERT_EQ(d->GetNChildren(), 3);
    EXPECT_EQ(d->GetChild(0)->ToString(), "<Statistic name=\"effectSize\" value=\"0.75\"/>");
    EXPECT_EQ(d->GetChild(1)->ToString(), "<Statistic name=\"lowerCIEffectSize\"/>");

    // An aliased parameter has nothing but its name and flag; an estimate
    // without fbExpCI gets no exponent.
    MCRegrParameterStats r;
    Elem red(MCRegrDoreZADUtil::CreateElemParamStats(r, "P0000001", true));
    EXPECT_EQ(red->ToString(), "<ParameterStats paramName=\"P0000001\" isRedundant=\"true\"/>");
    r.fEstimate = 2.0;
    red.reset(MCRegrDoreZADUtil::CreateElemParamStats(r, "P0000001", true));
    EXPECT_EQ(red->FindAttribute("expEstimate"), nullptr);
}

TEST(DoreZAD, ElementListsAndNumbering) {
    const MCVarList vars = Vars();
    const MCRegSettings s = Settings({{{A}, {}, {A}}});
    MCRegrParameter icpt;
    icpt.SetTargetCategory(1);
    const std::vector<MCRegrParameter> params = {icpt, Param(s, 0, {0}), Param(s, 0, {2})};
    std::vector<MCRegrParameterStats> stats = {Stats(0), Stats(1), Stats(2)};

    Elem est(MCRegrDoreZADUtil::CreateParameterEstimates(stats, s, vars, params, "type", "fixed",
                                                         XMLElement::Create("Note"), false));
    ASSERT_TRUE(est);
    EXPECT_EQ(*est->FindAttribute("type"), "fixed");
    ASSERT_EQ(est->GetNChildren(), 4);
    EXPECT_EQ(est->GetChild(0)->GetTag(), "Note");
    EXPECT_EQ(est->GetChild(3)->ToString(),
              "<ParameterStats paramName=\"P0000003\" isRedundant=\"true\" paramLabel=\"A=3\">"
              "<Statistic name=\"fixedEffectIndex\" value=\"0\"/><RegressionParameter>"
              "<Factor name=\"A\" value=\"3\"/></RegressionParameter></ParameterStats>");

    // For a logit the intercept is named by its target category.
    std::vector<XMLElement*> raw;
    MCRegrDoreZADUtil::CreateAllElemParamStats(stats, s, vars, params, raw, true, true);
    std::vector<Elem> made(raw.begin(), raw.end());
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(made[0]->ToString(),
              "<ParameterStats paramName=\"P0000001\" isRedundant=\"true\" paramLabel=\"Y=yes\">"
              "<RegressionParameter><Factor name=\"Y\" value=\"yes\"/></RegressionParameter>"
              "</ParameterStats>");

    // A record naming no parameter takes no number in the compact list.
    stats[1].fParamIndex = -1;
    Elem root(XMLElement::Create("Root"));
    MCRegrDoreZADUtil::AddAllElemParamStats(stats, s, vars, params, *root, false, false);
    ASSERT_EQ(root->GetNChildren(), 2);
    EXPECT_EQ(*root->GetChild(0)->FindAttribute("paramLabel"), "Intercept");
    EXPECT_EQ(*root->GetChild(1)->FindAttribute("paramName"), "P0000002");
    EXPECT_EQ(*root->GetChild(1)->FindAttribute("paramLabel"), "[A=3]");
}

TEST(DoreZAD, LabelsOfFittedModel) {
    // y on A (3 levels), x and A*x: intercept and the A and A*x columns alias.
    glmtest::Model m;
    m.dependent = 0;
    m.factors = {{1, 3}};
    m.covariates = {2};
    m.terms = {{{1}, {}}, {{}, {2}}, {{1}, {2}}};
    const std::vector<MCCommon_850::Record> recs = {{1.0, 0, 1}, {2.1, 0, 2}, {2.9, 0, 3},
                                                    {2.0, 1, 1}, {4.2, 1, 2}, {5.9, 1, 3},
                                                    {0.5, 2, 1}, {0.4, 2, 2}, {0.7, 2, 4}};
    glmtest::Fit f = glmtest::FitModel(m, recs);
    ASSERT_FALSE(f.status.IsError());
    MCVarList vars;
    EXPECT_GE(vars.AddContinuousVar("yield", 0, 6), 0);
    EXPECT_GE(vars.AddCategoricalVar("dose", {"low", "mid", "high"}), 0);
    EXPECT_GE(vars.AddContinuousVar("temp", 1, 4), 0);

    std::vector<std::string> labels;
    std::vector<MCRegrParameterStats> kept;
    const MCRegSettings s = m.Settings();
    MCRegrDoreZADUtil::GetParamLables(f.stats->GetParamStats(), s, vars, f.stats->GetParameters(),
                                      labels, kept);
    EXPECT_EQ(labels, (std::vector<std::string>{"Intercept", "[dose=low]", "[dose=mid]",
                                                "[dose=high]", "temp", "[dose=low] * temp",
                                                "[dose=mid] * temp", "[dose=high] * temp"}));

    Elem est(MCRegrDoreZADUtil::CreateParameterEstimates(
        f.stats->GetParamStats(), s, vars, f.stats->GetParameters(), "a", "b", nullptr, false));
    ASSERT_EQ(est->GetNChildren(), f.NParams());
    int aliased = 0;
    for (int k = 0; k < f.NParams(); ++k) {
        aliased += f.Redundant(k);
        EXPECT_EQ(est->GetChild(k)->FindAttribute("isRedundant") != nullptr, f.Redundant(k)) << k;
    }
    EXPECT_EQ(aliased, 2);
    EXPECT_EQ(*est->GetChild(6)->FindAttribute("paramLabel"), "temp*[dose=mid]");
}
