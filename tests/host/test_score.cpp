// The PMML reader and the scorer on documents written here: a general
// linear model of one factor and one covariate (with a factor-by-covariate
// term and the covariate's square) and a multinomial logistic model, whose
// scores have closed forms; and the documents the reader must refuse,
// each named in its message.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "host/base/HostError.h"
#include "host/score/PmmlModel.h"
#include "host/score/Scorer.h"

namespace {

using namespace mchost;

const std::string kLinear = R"(<?xml version="1.0"?>
<PMML xmlns="http://www.dmg.org/PMML-4_4" version="4.4">
  <Header/>
  <DataDictionary numberOfFields="3">
    <DataField name="y" optype="continuous" dataType="double"/>
    <DataField name="g" optype="categorical" dataType="string">
      <Value value="a"/><Value value="b"/><Value value="c"/>
    </DataField>
    <DataField name="x" optype="continuous" dataType="double"/>
  </DataDictionary>
  <GeneralRegressionModel modelType="generalLinear" functionName="regression">
    <MiningSchema>
      <MiningField name="g"/><MiningField name="x"/>
      <MiningField name="y" usageType="predicted"/>
    </MiningSchema>
    <ModelStats>
      <UnivariateStats field="y"><Anova>
        <AnovaRow type="Model" sumOfSquares="9" degreesOfFreedom="5"/>
        <AnovaRow type="Error" sumOfSquares="20" degreesOfFreedom="10" meanOfSquares="2"/>
        <AnovaRow type="Total" sumOfSquares="29" degreesOfFreedom="15"/>
      </Anova></UnivariateStats>
    </ModelStats>
    <ParameterList>
      <Parameter name="p0"/><Parameter name="p1"/><Parameter name="p2"/>
      <Parameter name="p3"/><Parameter name="p4"/><Parameter name="p5"/>
      <Parameter name="p6"/>
    </ParameterList>
    <FactorList><Predictor name="g"/></FactorList>
    <CovariateList><Predictor name="x"/></CovariateList>
    <PPMatrix>
      <PPCell value="a" predictorName="g" parameterName="p1"/>
      <PPCell value="b" predictorName="g" parameterName="p2"/>
      <PPCell value="c" predictorName="g" parameterName="p6"/>
      <PPCell value="1" predictorName="x" parameterName="p3"/>
      <PPCell value="a" predictorName="g" parameterName="p4"/>
      <PPCell value="1" predictorName="x" parameterName="p4"/>
      <PPCell value="2" predictorName="x" parameterName="p5"/>
    </PPMatrix>
    <ParamMatrix>
      <PCell parameterName="p0" beta="1" df="1"/>
      <PCell parameterName="p1" beta="2" df="1"/>
      <PCell parameterName="p2" beta="-3" df="1"/>
      <PCell parameterName="p3" beta="0.5" df="1"/>
      <PCell parameterName="p4" beta="0.25" df="1"/>
      <PCell parameterName="p5" beta="0.125" df="1"/>
    </ParamMatrix>
    <PCovMatrix type="model">
      <PCovCell pRow="p0" pCol="p0" value="0.01"/>
      <PCovCell pRow="p1" pCol="p1" value="0.01"/>
      <PCovCell pRow="p2" pCol="p2" value="0.01"/>
      <PCovCell pRow="p3" pCol="p0" value="0.002"/>
      <PCovCell pRow="p3" pCol="p3" value="0.01"/>
      <PCovCell pRow="p4" pCol="p4" value="0.01"/>
      <PCovCell pRow="p5" pCol="p5" value="0.01"/>
    </PCovMatrix>
  </GeneralRegressionModel>
</PMML>
)";

// Two logits of the categories A and B against C; the DataField lists C
// first, which is the order of the scores.
const std::string kMultinomial = R"(<PMML version="4.3">
  <DataDictionary>
    <DataField name="y" optype="categorical" dataType="string">
      <Value value="C"/><Value value="A"/><Value value="B"/>
    </DataField>
    <DataField name="x" optype="continuous" dataType="double"/>
  </DataDictionary>
  <GeneralRegressionModel modelType="multinomialLogistic" functionName="classification"
                          targetReferenceCategory="C">
    <MiningSchema><MiningField name="y" usageType="target"/><MiningField name="x"/></MiningSchema>
    <ParameterList><Parameter name="b0"/><Parameter name="b1"/></ParameterList>
    <CovariateList><Predictor name="x"/></CovariateList>
    <PPMatrix><PPCell value="1" predictorName="x" parameterName="b1"/></PPMatrix>
    <ParamMatrix>
      <PCell targetCategory="A" parameterName="b0" beta="0.5"/>
      <PCell targetCategory="A" parameterName="b1" beta="1"/>
      <PCell targetCategory="B" parameterName="b0" beta="-0.5"/>
      <PCell targetCategory="B" parameterName="b1" beta="2"/>
    </ParamMatrix>
    <PCovMatrix>
      <PCovCell tRow="A" tCol="A" pRow="b0" pCol="b0" value="0.01"/>
      <PCovCell tRow="A" tCol="A" pRow="b1" pCol="b1" value="0.01"/>
      <PCovCell tRow="B" tCol="B" pRow="b0" pCol="b0" value="0.01"/>
      <PCovCell tRow="B" tCol="B" pRow="b1" pCol="b1" value="0.01"/>
      <PCovCell tRow="B" tCol="A" pRow="b1" pCol="b1" value="0.004"/>
    </PCovMatrix>
  </GeneralRegressionModel>
</PMML>
)";

const double kNaN = std::nan("");
// The 0.975 quantile of t on 10 df (mpmath, 30 digits).
const double kT10 = 2.2281388519862747;

std::string Refusal(const std::string& text) {
    try {
        ReadPmmlModel(text, "m.pmml");
    } catch (const HostError& e) {
        EXPECT_EQ(e.GetKind(), HostError::kData);
        return e.what();
    }
    return "(read)";
}

// The category a multinomial model predicts at x, -1 for none: Predict's,
// which must be the one Score gives with the probabilities.
int Predicted(const PmmlModel& model, double x) {
    const Scorer scorer(model, ScoreOptions());
    double out[4];
    const bool scored = scorer.Score(&x, out);
    std::size_t predicted = 9;
    if (!scorer.Predict(&x, predicted)) {
        EXPECT_FALSE(scored);
        EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[3]));
        return -1;
    }
    EXPECT_TRUE(scored);
    EXPECT_EQ(out[3], static_cast<double>(predicted));
    return static_cast<int>(predicted);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(Score, LinearModelOfAFactorAndACovariateHasClosedFormScores) {
    const PmmlModel model = ReadPmmlModel(kLinear, "m.pmml");
    ScoreOptions options;
    options.fbStandardErrors = true;
    options.fInterval = ScoreOptions::kConfidence;
    const Scorer confidence(model, options);
    options.fInterval = ScoreOptions::kPrediction;
    const Scorer prediction(model, options);
    EXPECT_EQ(confidence.OutputNames(),
              (std::vector<std::string>{"predicted", "se", "lower", "upper"}));

    // g = a, x = 2: terms 1, 1, 0, 2, 2, 4, 0 (p6 has no PCell: beta 0).
    double out[4];
    double record[2] = {confidence.Category(0, "a"), 2.0};
    ASSERT_TRUE(confidence.Score(record, out));
    const double q = 0.01 * (1 + 1 + 4 + 4 + 16) + 2 * 0.002 * 2;
    EXPECT_NEAR(out[0], 1 + 2 + 0.5 * 2 + 0.25 * 2 + 0.125 * 4, 1e-15);
    EXPECT_NEAR(out[1], std::sqrt(q), 1e-15);
    EXPECT_NEAR(out[2], 5.0 - kT10 * std::sqrt(q), 1e-14);
    EXPECT_NEAR(out[3], 5.0 + kT10 * std::sqrt(q), 1e-14);
    ASSERT_TRUE(prediction.Score(record, out));
    EXPECT_NEAR(out[2], 5.0 - kT10 * std::sqrt(2 + q), 1e-14);
    EXPECT_NEAR(out[3], 5.0 + kT10 * std::sqrt(2 + q), 1e-14);

    // g = c: its indicator's parameter has no beta; x = -1 squared is 1.
    record[0] = confidence.Category(0, "c");
    record[1] = -1.0;
    ASSERT_TRUE(confidence.Score(record, out));
    EXPECT_NEAR(out[0], 1 - 0.5 + 0.125, 1e-15);
    EXPECT_NEAR(out[1], std::sqrt(0.01 * 3 - 2 * 0.002), 1e-15);

    // The same model as a generalized linear one with the identity link.
    const Scorer generalized(
        ReadPmmlModel(Replace(kLinear, "modelType=\"generalLinear\"",
                              "modelType=\"generalizedLinear\" linkFunction=\"identity\""),
                      "m"),
        ScoreOptions());
    ASSERT_TRUE(generalized.Score(record, out));
    EXPECT_NEAR(out[0], 0.625, 1e-15);

    // An unseen category and a missing value give no scores.
    EXPECT_EQ(confidence.Category(0, "d"), Scorer::kUnseen);
    EXPECT_EQ(confidence.Category(0, "A"), Scorer::kUnseen);
    record[0] = Scorer::kUnseen;
    EXPECT_FALSE(confidence.Score(record, out));
    EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[3]));
    record[0] = 1.0;
    record[1] = kNaN;
    EXPECT_FALSE(confidence.Score(record, out));

    // Without the Error row there is no interval; without the covariance
    // no standard error.
    const std::string noError = Replace(
        kLinear,
        R"(<AnovaRow type="Error" sumOfSquares="20" degreesOfFreedom="10" meanOfSquares="2"/>)",
        "");
    EXPECT_THROW(Scorer(ReadPmmlModel(noError, "m"), options), HostError);
    ScoreOptions se;
    se.fbStandardErrors = true;
    const std::size_t from = kLinear.find("<PCovMatrix"), to = kLinear.find("</PCovMatrix>") + 13;
    const std::string noCovariance = std::string(kLinear).erase(from, to - from);
    EXPECT_THROW(Scorer(ReadPmmlModel(noCovariance, "m"), se), HostError);
    EXPECT_EQ(Scorer(ReadPmmlModel(noCovariance, "m"), ScoreOptions()).NOutputs(), 1u);
}

TEST(Score, NumericFactorsMatchByValue) {
    std::string text = Replace(kLinear, R"(dataType="string">)", R"(dataType="integer">)");
    text = Replace(text, R"(<Value value="a"/><Value value="b"/><Value value="c"/>)",
                   R"(<Value value="4"/><Value value="6"/><Value value="8"/>)");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"\"a\" predictorName=\"g\" parameterName=\"p1\"",
              "\"4\" predictorName=\"g\" parameterName=\"p1\""},
             {"\"b\" predictorName=\"g\" parameterName=\"p2\"",
              "\"6\" predictorName=\"g\" parameterName=\"p2\""},
             {"\"c\" predictorName=\"g\" parameterName=\"p6\"",
              "\"8\" predictorName=\"g\" parameterName=\"p6\""},
             {"\"a\" predictorName=\"g\" parameterName=\"p4\"",
              "\"4.0\" predictorName=\"g\" parameterName=\"p4\""}})
        text = Replace(text, from, to);
    const Scorer scorer(ReadPmmlModel(text, "m"), ScoreOptions());
    EXPECT_EQ(scorer.Category(0, "4.0"), 0.0);
    EXPECT_EQ(scorer.Category(0, "6e0"), 1.0);
    EXPECT_EQ(scorer.Category(0, "8"), 2.0);
    EXPECT_EQ(scorer.Category(0, "5"), Scorer::kUnseen);
    EXPECT_EQ(scorer.Category(0, "four"), Scorer::kUnseen);
    double out[1];
    const double record[2] = {scorer.Category(0, "4.0"), 2.0};
    ASSERT_TRUE(scorer.Score(record, out));
    EXPECT_NEAR(out[0], 5.0, 1e-15);
}

TEST(Score, MultinomialModelGivesSoftmaxAndDeltaMethodErrors) {
    const PmmlModel model = ReadPmmlModel(kMultinomial, "m.pmml");
    EXPECT_EQ(model.fvCategories, (std::vector<std::string>{"C", "A", "B"}));
    ScoreOptions options;
    options.fbStandardErrors = true;
    const Scorer scorer(model, options);
    EXPECT_EQ(scorer.OutputNames(), (std::vector<std::string>{"P(C)", "P(A)", "P(B)", "predicted",
                                                              "se P(C)", "se P(A)", "se P(B)"}));
    double out[7];
    // x = 1: both logits are 1.5, a tie that goes to the first listed (A).
    const double one = 1.0;
    ASSERT_TRUE(scorer.Score(&one, out));
    const double e = std::exp(1.5), pA = e / (2 * e + 1), pC = 1 / (2 * e + 1);
    EXPECT_NEAR(out[0], pC, 1e-15);
    EXPECT_NEAR(out[1], pA, 1e-15);
    EXPECT_NEAR(out[2], pA, 1e-15);
    EXPECT_EQ(out[3], 1.0);
    // Var of p_m: c' A c with c_k = p_m (delta_mk - p_k) and
    // A = x'V_kl x = [[0.02, 0.004], [0.004, 0.02]] for x = (1, 1).
    const auto variance = [](double cA, double cB) {
        return 0.02 * cA * cA + 0.02 * cB * cB + 2 * 0.004 * cA * cB;
    };
    EXPECT_NEAR(out[4], std::sqrt(variance(-pC * pA, -pC * pA)), 1e-15);
    EXPECT_NEAR(out[5], std::sqrt(variance(pA * (1 - pA), -pA * pA)), 1e-15);
    EXPECT_NEAR(out[6], std::sqrt(variance(-pA * pA, pA * (1 - pA))), 1e-15);

    // Far out the logits would overflow exp: B takes all.
    const double far = 800.0;
    ASSERT_TRUE(scorer.Score(&far, out));
    EXPECT_EQ(out[2], 1.0);
    EXPECT_EQ(out[3], 2.0);
    EXPECT_EQ(out[0], 0.0);

    options.fInterval = ScoreOptions::kConfidence;
    EXPECT_THROW(Scorer(model, options), HostError);
    // A logit link: one equation, A against C, the DataField's B unused
    // as a category of the scores.
    std::string binary = Replace(kMultinomial, "modelType=\"multinomialLogistic\"",
                                 "modelType=\"generalizedLinear\" linkFunction=\"logit\"");
    EXPECT_EQ(Refusal(binary),
              "m.pmml: a generalizedLinear model with the logit link has one equation, not 2 "
              "(target categories in its ParamMatrix)");
    for (const char* cell : {R"(<PCell targetCategory="B" parameterName="b0" beta="-0.5"/>)",
                             R"(<PCell targetCategory="B" parameterName="b1" beta="2"/>)",
                             R"(<PCovCell tRow="B" tCol="B" pRow="b0" pCol="b0" value="0.01"/>)",
                             R"(<PCovCell tRow="B" tCol="B" pRow="b1" pCol="b1" value="0.01"/>)",
                             R"(<PCovCell tRow="B" tCol="A" pRow="b1" pCol="b1" value="0.004"/>)"})
        binary = Replace(binary, cell, "");
    const Scorer logit(ReadPmmlModel(binary, "m"), ScoreOptions());
    EXPECT_EQ(logit.OutputNames(), (std::vector<std::string>{"P(C)", "P(A)", "predicted"}));
    ASSERT_TRUE(logit.Score(&one, out));
    EXPECT_NEAR(out[1], 1 / (1 + std::exp(-1.5)), 1e-15);
    EXPECT_EQ(out[2], 1.0);
}

TEST(Score, LinearPredictionsKeepTheDigitsThatDoublesWouldLose) {
    // Parameters: p0 intercept, p1 g=a, p2 g=b, p3 x, p4 g=a by x, p5 x^2.
    PmmlModel model = ReadPmmlModel(kLinear, "m.pmml");
    // 1 + 1e16 - 1e16 x at x = 1 is 1; summed in doubles it is 0.
    model.fvBeta[0] = {1.0, 1e16, 0.0, -1e16, 0.0, 0.0, 0.0};
    const Scorer cancelling(model, ScoreOptions());
    double out[1];
    const double a[2] = {0.0, 1.0};
    ASSERT_TRUE(cancelling.Score(a, out));
    EXPECT_EQ(out[0], 1.0);
    // x^2 - 2x + 1 = (x - 1)^2 = 2^-60 at x = 1 + 2^-30: a square rounded
    // to a double would leave 0.
    model.fvBeta[0] = {1.0, 0.0, 0.0, -2.0, 0.0, 1.0, 0.0};
    const Scorer square(model, ScoreOptions());
    const double b[2] = {1.0, 1.0 + std::ldexp(1.0, -30)};
    ASSERT_TRUE(square.Score(b, out));
    EXPECT_EQ(out[0], std::ldexp(1.0, -60));
}

TEST(Score, LogitsWithinRoundingTieAndTheModelsPrecedenceDecides) {
    PmmlModel model = ReadPmmlModel(kMultinomial, "m.pmml");
    // At x = 0 the logit of B lies one unit in the last place above A's:
    // P(B) > P(A) in the last digit, yet the two tie.
    model.fvBeta[0] = {0.5, 1.0};
    model.fvBeta[1] = {std::nextafter(0.5, 1.0), 2.0};
    const double zero = 0.0;
    double out[4];
    ASSERT_TRUE(Scorer(model, ScoreOptions()).Score(&zero, out));
    EXPECT_GT(out[2], out[1]);
    EXPECT_EQ(Predicted(model, 0.0), 1);  // A, listed before B
    // Nor has a record without its predictor a prediction.
    EXPECT_EQ(Predicted(model, kNaN), -1);
    // C before B before A.
    model.fvTiePrecedence = {0, 2, 1};
    EXPECT_EQ(Predicted(model, 0.0), 2);
    // A logit clearly above the other is predicted whatever the precedence.
    model.fvBeta[1][0] = 0.5 + 1e-9;
    model.fvTiePrecedence = {0, 1, 2};
    EXPECT_EQ(Predicted(model, 0.0), 2);
    // Both logits far below the reference's 0: C.
    model.fvBeta[0] = {0.0, 1.0};
    model.fvBeta[1] = {0.0, 1.0};
    EXPECT_EQ(Predicted(model, -40.0), 0);
    // A logit that is not finite has no probabilities and no prediction.
    model.fvBeta[1] = {0.0, 1e308};
    EXPECT_EQ(Predicted(model, 1e308), -1);
    // Nor has a linear model.
    std::size_t predicted = 9;
    const double row[2] = {0.0, 1.0};
    EXPECT_FALSE(Scorer(ReadPmmlModel(kLinear, "m.pmml"), ScoreOptions()).Predict(row, predicted));
}

TEST(Score, DocumentsThatCannotBeScoredAreRefusedByName) {
    EXPECT_EQ(Refusal("<PMML version=\"4.4\">\n  <DataDictionary>\n  <Oops>\n</PMML>\n"),
              "m.pmml: not well-formed XML at line 4, column 3: Start-end tags mismatch");
    EXPECT_EQ(Refusal("<html/>"), "m.pmml: not a PMML document (its root element is html)");
    EXPECT_EQ(Refusal("<PMML version=\"4.4\"><DataDictionary/><TreeModel/></PMML>"),
              "m.pmml: the document's model is a TreeModel; only a GeneralRegressionModel can be "
              "scored");
    // Changes of the linear model's document and what their refusals say.
    const std::vector<std::array<std::string, 3>> changes = {
        {R"(<DataField name="x" optype="continuous" dataType="double"/>)", "",
         "the MiningSchema's field 'x' has no DataField in the DataDictionary"},
        {R"(modelType="generalLinear")", R"(modelType="ordinalMultinomial")",
         R"(GeneralRegressionModel of modelType="ordinalMultinomial" cannot be scored; )"
         "generalLinear, regression, multinomialLogistic and generalizedLinear (identity or "
         "logit link) can"},
        {R"(modelType="generalLinear")", R"(modelType="generalizedLinear" linkFunction="log")",
         "GeneralRegressionModel: a generalizedLinear model with linkFunction=\"log\" cannot be "
         "scored; identity and logit can"},
        {"<Header/>",
         R"(<TransformationDictionary><DerivedField name="z"/></TransformationDictionary>)",
         "TransformationDictionary is not supported"},
        {"<ParameterList>",
         R"(<LocalTransformations><DerivedField name="z"/></LocalTransformations><ParameterList>)",
         "GeneralRegressionModel: LocalTransformations is not supported"},
        {R"(<MiningField name="x"/>)", R"(<MiningField name="x" missingValueReplacement="0"/>)",
         "MiningField 'x': missingValueReplacement is not supported"},
        {"</MiningSchema>",
         R"(</MiningSchema><Targets><Target field="y" rescaleFactor="2"/></Targets>)",
         "Target rescaleFactor is not supported"},
        {R"(parameterName="p5"/>)", R"(parameterName="p9"/>)",
         "PPCell names parameter 'p9', which the ParameterList lacks"},
        {R"(<PPCell value="2" predictorName="x")", R"(<PPCell value="2" predictorName="w")",
         "PPCell names predictor 'w', which is in neither the FactorList nor the CovariateList"},
        {R"(beta="0.125")", R"(beta="1/8")", R"(PCell beta="1/8" is not a number)"},
    };
    for (const auto& [from, to, message] : changes)
        EXPECT_EQ(Refusal(Replace(kLinear, from, to)), "m.pmml: " + message) << to;
    EXPECT_NE(Refusal(Replace(kLinear, "modelType=\"generalLinear\"",
                              "modelType=\"generalLinear\" cumulativeLink=\"logit\""))
                  .find("cumulativeLink"),
              std::string::npos);
    // Without its name the reference is the one category without an
    // equation, when the target's DataField tells it.
    const std::string unnamed = Replace(kMultinomial, " targetReferenceCategory=\"C\"", "");
    EXPECT_EQ(ReadPmmlModel(unnamed, "m").fReference, "C");
    EXPECT_EQ(Refusal(Replace(unnamed, "<Value value=\"B\"/>",
                              "<Value value=\"B\"/><Value value=\"D\"/>")),
              "m.pmml: GeneralRegressionModel names no targetReferenceCategory, and the target's "
              "DataField does not tell it");
}
