// The results-document and PMML elements of a fitted multinomial model: one
// ParameterStats per parameter of every logit, each logit's intercept named
// by its target category; and in PMML one ParamMatrix cell per
// parameter of every logit, named and targeted by block, and a scorer that
// knows only PMML's rules (per target category the sum of beta times the
// parameter's predictor terms; softmax with the reference at 0) reproduces
// the component's probabilities.
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "export/MCPMMLRegrExporter.h"
#include "export/MCRegrDoreZADUtil.h"
#include "logistic_fixture.h"
#include "support/pmml_reader.h"

using namespace logtest;
using MCXML_850::XMLElement;
using support::Att;
using support::Num;
using Elem = std::unique_ptr<XMLElement>;

TEST(MultinomialExport, ParamMatrixTargetsTheLogitsAndScoresMatch) {
    // y (c0, c1, c2; c2 the reference) on A (a0..a2) and x.
    std::vector<Record> data;
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> unif;
    for (int i = 0; i < 300; ++i) {
        const double a = i % 3, x = 4.0 * unif(gen) - 2.0;
        const double e0 = 0.3 * x + 0.4 * (a == 1), e1 = -0.5 * x + 0.2 * (a == 2);
        const double u = unif(gen) * (1.0 + std::exp(e0) + std::exp(e1));
        const double y = u < std::exp(e0) ? 0 : u < std::exp(e0) + std::exp(e1) ? 1 : 2;
        data.push_back(Record{y, a, x});
    }
    Model m;
    m.nCategories = 3;
    m.factors = {{1, 3}};
    m.covariates = {2};
    m.terms = {{{1}, {}}, {{}, {2}}};
    Fit f = FitModel(m, data);
    ASSERT_FALSE(f.status.IsError()) << f.status.GetMessage();
    ASSERT_EQ(f.NParams(), 10);  // 5 per logit

    MCXML_850::MCVarList vars;
    vars.AddCategoricalVar("y", {"c0", "c1", "c2"});
    vars.AddCategoricalVar("A", {"a0", "a1", "a2"});
    vars.AddContinuousVar("x", -2, 2);
    MCMath_850::MCPMMLRegrExporter exporter(f.component->GetCompSettings(), vars,
                                            f.stats->GetParameters(), f.stats->GetParamEstimates(),
                                            f.stats->GetRedundancyIndicators(), nullptr);
    Elem pm(exporter.ExportParamMatrix(false, 0)), pp(exporter.ExportPPMatrix());
    ASSERT_TRUE(pm && pp);
    ASSERT_EQ(pm->GetNChildren(), 10);
    for (int k = 0; k < 10; ++k) {
        const XMLElement* c = pm->GetChild(k);
        EXPECT_EQ(Att(c, "targetCategory"), k < 5 ? "c0" : "c1");
        EXPECT_EQ(Att(c, "parameterName"), "P000000" + std::to_string(k % 5 + 1));
        EXPECT_EQ(Num(c, "beta"), f.Estimate(k));
        EXPECT_EQ(Att(c, "df"), f.stats->GetRedundancyIndicators().IsIn(k) ? "1" : "0");
    }
    Elem pc(
        exporter.ExportPCovMatrix(*f.stats->GetCovarianceMatrix(), MCConst::COVB_MODEL, false, 0));
    ASSERT_TRUE(pc);
    // 8 estimated parameters: the lower triangle of their covariance.
    EXPECT_EQ(pc->GetNChildren(), 8 * 9 / 2);
    EXPECT_EQ(Att(pc->GetChild(pc->GetNChildren() - 1), "tRow"), "c1");

    for (const Record& r : {Record{0, 0, 1.3}, Record{0, 1, -0.4}, Record{0, 2, 0.05}}) {
        const std::string a = "a" + std::to_string(static_cast<int>(r[1]));
        std::map<std::string, double> eta =
            support::PmmlPredictors(*pm, *pp, {{"A", a}}, {{"x", r[2]}});
        const double sum = 1.0 + std::exp(eta["c0"]) + std::exp(eta["c1"]);
        double value = 0;
        std::vector<double> p;
        ASSERT_TRUE(f.component->Score(r, value, p).IsOK());
        ASSERT_EQ(p.size(), 3u);
        EXPECT_NEAR(p[0], std::exp(eta["c0"]) / sum, 1e-13);
        EXPECT_NEAR(p[1], std::exp(eta["c1"]) / sum, 1e-13);
        EXPECT_NEAR(p[2], 1.0 / sum, 1e-13);
    }

    // The results document: every parameter of both logits named by its
    // target category, which alone tells the logits' x apart.
    std::vector<XMLElement*> raw;
    MCMath_850::MCRegrDoreZADUtil::CreateAllElemParamStats(
        f.stats->GetParamStats(), f.component->GetCompSettings(), vars, f.stats->GetParameters(),
        raw, true, true);
    std::vector<Elem> elems(raw.begin(), raw.end());
    ASSERT_EQ(elems.size(), 10u);
    for (const char* target : {"c0", "c1"}) {
        const std::string intercept = elems[target[1] == '0' ? 0 : 5]->ToString();
        EXPECT_NE(intercept.find(std::string("paramLabel=\"y=") + target + "\""), std::string::npos)
            << intercept;
        EXPECT_NE(intercept.find(std::string("<Factor name=\"y\" value=\"") + target),
                  std::string::npos)
            << intercept;
    }
    for (const char* target : {"c0", "c1"}) {
        const std::string x = elems[target[1] == '0' ? 4 : 9]->ToString();
        EXPECT_NE(x.find(std::string("paramLabel=\"[y=") + target + "]*x\""), std::string::npos)
            << x;
        EXPECT_NE(x.find(std::string("<Factor name=\"y\" value=\"") + target), std::string::npos)
            << x;
    }
}
