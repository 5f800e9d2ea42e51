#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "companion/MCPMMLExporter.h"
#include "export/MCPMMLRegrExporter.h"
#include "glm/glm_fixture.h"
#include "settings/MCLogRegSettings.h"
#include "support/pmml_reader.h"

namespace {

using MCMath_850::MCPMMLRegrExporter;
using MCMath_850::MCRegrParameter;
using MCXML_850::XMLElement;
using Elem = std::unique_ptr<XMLElement>;
using support::Att;
using support::Num;

// The covariance written cell by cell, as a document of its own.
std::string Streamed(const MCPMMLRegrExporter& ex, const MCMath_850::MCSymMatrix& cov,
                     bool single) {
    std::ostringstream out;
    MCXML_850::XMLWriter writer(out, true);
    EXPECT_TRUE(ex.WritePCovMatrix(writer, cov, MCConst::COVB_MODEL, single, 0));
    EXPECT_TRUE(writer.Finish());
    return out.str();
}

// y on factor A (a1..a3), covariate x and A*x: the last category of A and
// of A*x are aliased with the intercept and with x.
struct GlmExport : ::testing::Test {
    glmtest::Model model;
    std::vector<glmtest::Record> records;
    glmtest::Fit fit;
    MCXML_850::MCVarList vars;
    std::unique_ptr<MCPMMLRegrExporter> exporter;

    void SetUp() override {
        model.dependent = 0;
        model.factors = {{1, 3}};
        model.covariates = {2};
        model.terms = {{{1}, {}}, {{}, {2}}, {{1}, {2}}};
        records = {{3.1, 0, 1},   {4.9, 0, 2}, {7.2, 0, 3},   {2.0, 1, 1},
                   {2.4, 1, 2.5}, {3.3, 1, 4}, {5.5, 2, 0.5}, {4.1, 2, 2},
                   {1.2, 2, 3.5}, {6.0, 0, 4}, {3.9, 1, 5},   {0.4, 2, 4.5}};
        fit = glmtest::FitModel(model, records);
        ASSERT_FALSE(fit.status.IsError());
        EXPECT_GE(vars.AddContinuousVar("y", 0.4, 7.2), 0);
        EXPECT_GE(vars.AddCategoricalVar("A", {"a1", "a2", "a3"}), 0);
        EXPECT_GE(vars.AddContinuousVar("x", 0.5, 5), 0);
        exporter = std::make_unique<MCPMMLRegrExporter>(
            fit.component->GetCompSettings(), vars, fit.stats->GetParameters(),
            fit.stats->GetParamEstimates(), fit.stats->GetRedundancyIndicators(), nullptr);
    }
};

TEST_F(GlmExport, ListsAndMatricesDescribeTheFit) {
    ASSERT_EQ(fit.NParams(), 8);
    Elem params(exporter->ExportParameterList());
    ASSERT_TRUE(params);
    const char* labels[] = {"Intercept", "[A=a1]",     "[A=a2]",     "[A=a3]",
                            "x",         "[A=a1] * x", "[A=a2] * x", "[A=a3] * x"};
    ASSERT_EQ(params->GetNChildren(), 8);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(Att(params->GetChild(k), "name"), "P000000" + std::to_string(k + 1));
        EXPECT_EQ(Att(params->GetChild(k), "label"), labels[k]);
    }
    Elem factors(exporter->ExportFactorList()), covs(exporter->ExportCovariateList());
    ASSERT_TRUE(factors && covs);
    EXPECT_EQ(factors->ToString(), "<FactorList><Predictor name=\"A\"/></FactorList>");
    EXPECT_EQ(covs->ToString(), "<CovariateList><Predictor name=\"x\"/></CovariateList>");

    // A parameters carry one cell, x one (value 1), A*x two; none for the intercept.
    Elem pp(exporter->ExportPPMatrix());
    ASSERT_TRUE(pp);
    EXPECT_EQ(pp->GetNChildren(), 3 + 1 + 6);
    EXPECT_EQ(pp->GetChild(0)->ToString(),
              "<PPCell value=\"a1\" predictorName=\"A\" parameterName=\"P0000002\"/>");
    EXPECT_EQ(pp->GetChild(3)->ToString(),
              "<PPCell value=\"1\" predictorName=\"x\" parameterName=\"P0000005\"/>");

    Elem pm(exporter->ExportParamMatrix(false, 0));
    ASSERT_TRUE(pm);
    ASSERT_EQ(pm->GetNChildren(), 8);
    for (int k = 0; k < 8; ++k) {
        const XMLElement* c = pm->GetChild(k);
        EXPECT_EQ(Att(c, "targetCategory"), "<absent>");
        EXPECT_EQ(Num(c, "beta"), fit.Estimate(k)) << k;  // shortest text reads back exactly
        EXPECT_EQ(Att(c, "df"), fit.Redundant(k) ? "0" : "1");
    }
    EXPECT_EQ(Att(pm->GetChild(3), "df"), "0");
    EXPECT_EQ(Att(pm->GetChild(7), "df"), "0");

    // Aliased rows and columns are zero and stay out of the lower triangle.
    Elem pc(exporter->ExportPCovMatrix(*fit.stats->GetCovarianceMatrix(), MCConst::COVB_MODEL,
                                       false, 0));
    ASSERT_TRUE(pc);
    EXPECT_EQ(Att(pc.get(), "type"), "model");
    EXPECT_EQ(pc->GetNChildren(), 6 * 7 / 2);
    for (int k = 0; k < pc->GetNChildren(); ++k) {
        const XMLElement* c = pc->GetChild(k);
        const int i = std::atoi(Att(c, "pRow").c_str() + 1) - 1;
        const int j = std::atoi(Att(c, "pCol").c_str() + 1) - 1;
        EXPECT_LE(j, i);
        EXPECT_EQ(Num(c, "value"), fit.Cov(i, j));
    }
}

TEST_F(GlmExport, ExportedMatricesReproduceScores) {
    Elem pp(exporter->ExportPPMatrix()), pm(exporter->ExportParamMatrix(false, 0));
    ASSERT_TRUE(pp && pm);
    const std::vector<std::string> cats = {"a1", "a2", "a3"};
    for (const auto& [a, x] : std::vector<std::pair<int, double>>{{0, 1.7}, {1, 3.0}, {2, 0.2}}) {
        const std::map<std::string, double> eta = support::PmmlPredictors(
            *pm, *pp, {{"A", cats[static_cast<std::size_t>(a)]}}, {{"x", x}});
        ASSERT_EQ(eta.size(), 1u);
        double score = 0.0;
        std::vector<double> probs;
        ASSERT_FALSE(
            fit.component->Score(glmtest::Record{0, double(a), x}, score, probs).IsError());
        EXPECT_NEAR(eta.at(""), score, 1e-12 * (1 + std::fabs(score))) << a << " " << x;
    }
}

TEST_F(GlmExport, SchemaStatsAndAnova) {
    const std::vector<double> importance = {0.25, 1.5};
    Elem ms(exporter->ExportMiningSchema(-1, 1, &importance));
    ASSERT_TRUE(ms);
    EXPECT_EQ(ms->ToString(),
              "<MiningSchema><MiningField importance=\"0.25\" name=\"A\"/>"
              "<MiningField name=\"x\"/><MiningField name=\"y\" usageType=\"predicted\"/>"
              "<MiningField name=\"A\"/></MiningSchema>");

    MCMath_850::MCRegANOVA anova;
    anova.fModelSS = 30;
    anova.fModelDF = 5;
    anova.fModelMS = 6;
    anova.fF = 2.5;
    anova.fSig = 0.25;
    anova.fErrorSS = 14.4;
    anova.fErrorDF = 6;
    anova.fErrorMS = 2.4;
    anova.fTotalSS = 44.4;  // total df left missing: not written
    Elem stats(exporter->ExportModelStats({2.75}, 12, &anova));
    ASSERT_TRUE(stats);
    ASSERT_EQ(stats->GetNChildren(), 2);
    const XMLElement* av = stats->GetChild(0)->FindChild("Anova");
    EXPECT_EQ(Att(stats->GetChild(0), "field"), "y");
    ASSERT_TRUE(av);
    EXPECT_EQ(av->ToString(),
              "<Anova><AnovaRow type=\"Model\" sumOfSquares=\"30\" degreesOfFreedom=\"5\" "
              "meanOfSquares=\"6\" fValue=\"2.5\" pValue=\"2.5e-01\"/>"
              "<AnovaRow type=\"Error\" sumOfSquares=\"14.4\" degreesOfFreedom=\"6\" "
              "meanOfSquares=\"2.4\"/><AnovaRow type=\"Total\" sumOfSquares=\"44.4\"/></Anova>");
    const XMLElement* x = stats->GetChild(1);
    EXPECT_EQ(Att(x, "field"), "x");
    EXPECT_EQ(Att(x->FindChild("Counts"), "totalFreq"), "12");
    const XMLElement* info = x->FindChild("NumericInfo");
    EXPECT_EQ(Att(info, "minimum"), "0.5");
    EXPECT_EQ(Att(info, "maximum"), "5");
    EXPECT_EQ(Att(info, "mean"), "2.75");
    EXPECT_EQ(Att(info, "standardDeviation"), "<absent>");
}

TEST_F(GlmExport, AssembledModelIsWellFormed) {
    Elem grm(XMLElement::Create("GeneralRegressionModel"));
    ASSERT_TRUE(grm);
    grm->AddAttribute("modelType", "generalLinear");
    const std::vector<double> means = {2.75};
    for (XMLElement* part :
         {exporter->ExportMiningSchema(-1, -1, nullptr),
          exporter->ExportModelStats(means, 12, nullptr), exporter->ExportParameterList(),
          exporter->ExportFactorList(), exporter->ExportCovariateList(), exporter->ExportPPMatrix(),
          exporter->ExportParamMatrix(false, 0),
          exporter->ExportPCovMatrix(*fit.stats->GetCovarianceMatrix(), MCConst::COVB_MODEL, false,
                                     0)})
        ASSERT_TRUE(grm->AddChild(part));
    // The parts nest properly: every start tag is closed in order, attribute
    // values are quoted, and the document has one root.
    const std::string text = grm->ToString(true);
    std::vector<std::string> open;
    int roots = 0;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const std::size_t close = text.find('>', at);
        ASSERT_NE(close, std::string::npos);
        std::string tag = text.substr(at + 1, close - at - 1);
        ASSERT_EQ(std::count(tag.begin(), tag.end(), '"') % 2, 0) << tag;
        if (tag[0] == '/') {
            ASSERT_FALSE(open.empty());
            EXPECT_EQ(tag.substr(1), open.back());
            open.pop_back();
        } else {
            if (open.empty()) ++roots;
            if (tag.back() != '/') open.push_back(tag.substr(0, tag.find(' ')));
        }
    }
    EXPECT_TRUE(open.empty());
    EXPECT_EQ(roots, 1);
    EXPECT_EQ(grm->GetNChildren(), 8);
    const MCMath_850::MCSymMatrix& cov = *fit.stats->GetCovarianceMatrix();
    EXPECT_EQ(Streamed(*exporter, cov, false), grm->FindChild("PCovMatrix")->ToString(true));
    EXPECT_EQ(grm->FindChild("ParamMatrix")->GetNChildren(), 8);
    EXPECT_EQ(Att(grm->FindChild("ModelStats")->GetChild(0), "field"), "x");
}

// A multinomial model's outputs made by hand: dependent with three
// categories, four parameters per logit (intercept, [A=a1], [A=a2], x*x).
TEST(PmmlLogistic, TargetCategoriesAndZeroCovariance) {
    MCMath_850::MCLogRegSettings s;
    EXPECT_TRUE(s.SetDependent(0));
    EXPECT_GE(s.AddFactor(1, 3), 0);
    EXPECT_GE(s.AddCovariate(2), 0);
    MCXML_850::MCVarList vars;
    EXPECT_GE(vars.AddCategoricalVar("Y", {"lo", "mid", "hi"}), 0);
    EXPECT_GE(vars.AddCategoricalVar("A", {"a1", "a2", "a3"}), 0);
    EXPECT_GE(vars.AddContinuousVar("x", 0, 1), 0);
    std::vector<MCRegrParameter> params(4);
    EXPECT_TRUE(params[1].AddFactor(1, 0, 0));
    EXPECT_TRUE(params[2].AddFactor(1, 1, 0));
    EXPECT_GE(params[3].AddCovariate(2, 2), 0);
    const std::vector<double> est = {1, 2, 3, 4, 5, 6, 7, 8};
    MCMath_850::MCBitSet estimated(8);
    estimated.Set(0);
    MCPMMLRegrExporter ex(s, vars, params, est, estimated, nullptr);
    Elem pl(ex.ExportParameterList());
    ASSERT_TRUE(pl);
    EXPECT_EQ(Att(pl->GetChild(3), "label"), "x * x");
    Elem pp(ex.ExportPPMatrix());
    ASSERT_TRUE(pp);
    EXPECT_EQ(Att(pp->GetChild(2), "value"), "2");
    Elem pm(ex.ExportParamMatrix(false, 0));
    ASSERT_TRUE(pm);
    ASSERT_EQ(pm->GetNChildren(), 8);
    for (int i = 0; i < 8; ++i) {
        const XMLElement* c = pm->GetChild(i);
        EXPECT_EQ(Att(c, "targetCategory"), i < 4 ? "lo" : "mid");
        EXPECT_EQ(Att(c, "parameterName"), "P000000" + std::to_string(i % 4 + 1));
        EXPECT_EQ(Num(c, "beta"), i + 1);
        EXPECT_EQ(Att(c, "df"), i == 0 ? "1" : "0");
    }
    Elem single(ex.ExportParamMatrix(true, 0));
    EXPECT_EQ(Att(single->GetChild(7), "targetCategory"), "mid");

    MCMath_850::MCSymMatrix zero(8);
    Elem pc(ex.ExportPCovMatrix(zero, MCConst::COVB_ROBUST, false, 0));
    ASSERT_TRUE(pc);
    EXPECT_EQ(pc->ToString(),
              "<PCovMatrix type=\"robust\"><PCovCell tRow=\"lo\" tCol=\"lo\" pRow=\"P0000001\" "
              "pCol=\"P0000001\" value=\"0.0\"/></PCovMatrix>");
    MCMath_850::MCSymMatrix one(8);
    one.SetElem(6, 1, 0.5);
    pc.reset(ex.ExportPCovMatrix(one, MCConst::COVB_MODEL, false, 0));
    EXPECT_EQ(pc->GetChild(0)->ToString(),
              "<PCovCell tRow=\"mid\" tCol=\"lo\" pRow=\"P0000003\" pCol=\"P0000002\" "
              "value=\"0.5\"/>");
    EXPECT_EQ(ex.ExportFactorList() == nullptr, true);  // no effects: nothing active

    // Written cell by cell, the covariance reads as the element does.
    for (const MCMath_850::MCSymMatrix* m : {&zero, &one}) {
        for (bool single : {false, true}) {
            Elem tree(ex.ExportPCovMatrix(*m, MCConst::COVB_MODEL, single, 0));
            ASSERT_TRUE(tree);
            EXPECT_EQ(Streamed(ex, *m, single), tree->ToString(true));
        }
    }
}

// Written cell by cell, the covariance asks the host's cancel query every
// 4,096 cells and stops when told to.
TEST(PmmlCovariance, CancelStopsTheCells) {
    MCMath_850::MCRegSettings s;
    EXPECT_TRUE(s.SetDependent(0));
    MCXML_850::MCVarList vars;
    EXPECT_GE(vars.AddContinuousVar("y", 0, 1), 0);
    const int p = 100;  // 5,050 cells
    const std::vector<MCRegrParameter> params(p);
    const std::vector<double> est(p, 1.0);
    MCMath_850::MCBitSet estimated(p);
    MCPMMLRegrExporter ex(s, vars, params, est, estimated, nullptr);
    MCMath_850::MCSymMatrix cov(p);
    for (int i = 0; i < p; ++i)
        for (int j = 0; j <= i; ++j) cov.SetElem(i, j, 1.0);
    struct Stop : MCCommon_850::MCQueryCancel {
        int fAsked = 0;
        bool IsCancel() override { return ++fAsked > 0; }
    } stop;
    std::ostringstream out;
    MCXML_850::XMLWriter writer(out, false);
    EXPECT_FALSE(ex.WritePCovMatrix(writer, cov, MCConst::COVB_MODEL, false, 0, &stop));
    EXPECT_EQ(stop.fAsked, 1);
    EXPECT_TRUE(writer.Finish());
    const std::string text = out.str();
    std::size_t cells = 0;
    for (std::size_t at = text.find("<PCovCell"); at != std::string::npos;
         at = text.find("<PCovCell", at + 1))
        ++cells;
    EXPECT_EQ(cells, 4095u);
}

TEST(PmmlUniStats, DiscreteValuesAndRefusals) {
    MCXML_850::MCUniStats::SummStats sum;
    sum.fMean = 1.5;
    XMLElement* e = nullptr;
    ASSERT_TRUE(MCCommon_850::MCPMMLExporter::ExportUniStats(
        MCXML_850::MCUniStats("g", 5, sum, {"a b", "c"}, {2, 3}), e));
    Elem owned(e);
    EXPECT_EQ(owned->ToString(),
              "<UnivariateStats field=\"g\"><Counts totalFreq=\"5\"/><NumericInfo mean=\"1.5\"/>"
              "<DiscrStats><Array n=\"2\" type=\"string\">\"a b\" \"c\"</Array>"
              "<Array n=\"2\" type=\"real\">2 3</Array></DiscrStats></UnivariateStats>");
    EXPECT_FALSE(MCCommon_850::MCPMMLExporter::ExportUniStats(
        MCXML_850::MCUniStats("g", 5, sum, {"a"}, {}), e));
    EXPECT_EQ(e, nullptr);
}

// An ordinal model over three categories: one threshold leads the estimates;
// cells while i + 1 < K name their category.
struct OrdinalSettings : MCMath_850::MCRegSettings {
    int GetModelType() const override { return 2; }
};

TEST(PmmlOrdinal, ThresholdLeadsTheEstimates) {
    OrdinalSettings s;
    EXPECT_TRUE(s.SetDependent(0));
    MCXML_850::MCVarList vars;
    EXPECT_GE(vars.AddCategoricalVar("Y", {"lo", "mid", "hi"}), 0);
    EXPECT_GE(vars.AddContinuousVar("x", 0, 1), 0);
    std::vector<MCRegrParameter> params(2);
    EXPECT_GE(params[1].AddCovariate(1, 1), 0);
    const std::vector<double> est = {-1, 0.5};
    MCMath_850::MCBitSet estimated(2);
    estimated.Set(0);
    estimated.Set(1);
    MCPMMLRegrExporter ex(s, vars, params, est, estimated, nullptr);
    ASSERT_EQ(ex.GetParamInfo().size(), 2u);
    EXPECT_EQ(ex.GetParamInfo()[0].fLabel, "Intercept");
    EXPECT_EQ(ex.GetParamInfo()[1].fLabel, "x");
    Elem pl(ex.ExportParameterList());
    ASSERT_TRUE(pl);
    EXPECT_EQ(pl->ToString(),
              "<ParameterList><Parameter name=\"P0000001\" label=\"x\"/></ParameterList>");
    Elem pm(ex.ExportParamMatrix(false, 0));
    ASSERT_TRUE(pm);
    EXPECT_EQ(pm->ToString(),
              "<ParamMatrix><PCell targetCategory=\"lo\" parameterName=\"P0000001\" beta=\"-1\" "
              "df=\"1\"/><PCell targetCategory=\"mid\" parameterName=\"P0000001\" beta=\"0.5\" "
              "df=\"1\"/></ParamMatrix>");
}

}  // namespace
