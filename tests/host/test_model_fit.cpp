// From a table to a fitted model: roles, factor coding, records used,
// effects, labels, the per-parameter statistics and the JSON report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "companion/MCMV.h"
#include "host/BinaryTable.h"
#include "host/CsvReader.h"
#include "host/GlmFit.h"
#include "host/GlmReport.h"
#include "host/HostError.h"
#include "host/ModelSpec.h"

using namespace mchost;

namespace {

GlmResult Fit(const std::string& csv, const std::string& formula, ModelOptions o = {}) {
    const DataTable t = CsvReader::ReadString(csv);
    const ModelSpec spec(ParseFormula(formula), o, t);
    auto it = spec.MakeIterator();
    return FitGlm(spec, *it, o.fConfidence);
}

// The kind of error a model gives, 0 when it builds.
int ErrorKind(const std::string& csv, const std::string& formula, ModelOptions o = {}) {
    const DataTable t = CsvReader::ReadString(csv);
    try {
        ModelSpec spec(ParseFormula(formula), o, t);
    } catch (const HostError& e) {
        return e.GetKind();
    }
    return 0;
}

const char* kOneWay = "y,A\n3,a\n5,a\n4,b\n6,b\n10,c\n12,c\n11,c\n";

}  // namespace

TEST(ModelSpec, RolesOrderCodingAndRecordsUsed) {
    const std::string csv =
        "y,g,n,x,w\n"
        "1,b,10,0.5,1\n"
        "2,a,2,1.5,2\n"
        "3,B,2.5,2,1\n"
        "4,b,2,NA,1\n"  // missing covariate
        "5,z,2,1,0\n"   // weight not positive: z never becomes a category
        ",a,10,1,1\n"   // missing dependent
        "6,a,,1,1\n"    // missing factor
        "7,a,10,3,1\n";
    ModelOptions o;
    o.fvFactors = {"n"};
    o.fFreqWeight = "w";
    const DataTable t = CsvReader::ReadString(csv);
    const ModelSpec spec(ParseFormula("y ~ x + n*g + g"), o, t);
    const auto& v = spec.GetVariables();
    ASSERT_EQ(v.size(), 5u);  // y, n, g (factors by first appearance), x, w
    EXPECT_EQ(v[1].fName, "n");
    EXPECT_EQ(v[2].fName, "g");
    EXPECT_EQ(v[3].fName, "x");
    EXPECT_EQ(v[3].fRole, ModelVariable::kCovariate);
    EXPECT_EQ(v[4].fRole, ModelVariable::kFreqWeight);
    EXPECT_EQ(v[1].fvCategories, (std::vector<std::string>{"2", "2.5", "10"}));
    EXPECT_EQ(v[2].fvCategories, (std::vector<std::string>{"B", "a", "b"}));
    EXPECT_EQ(spec.GetNRecords(), 8u);
    EXPECT_EQ(spec.GetNUsed(), 4u);
    EXPECT_EQ(spec.GetSettings().GetFactorSizes(), (std::vector<int>{3, 3}));
    EXPECT_EQ(spec.GetEffectTexts(), (std::vector<std::string>{"x", "n*g", "g"}));
    // The records carry the codes: row 0 is g = b (2), n = 10 (2).
    auto it = spec.MakeIterator();
    const auto* r = it->Next();
    EXPECT_EQ((*r)[1], 2.0);
    EXPECT_EQ((*r)[2], 2.0);
    EXPECT_EQ((*r)[3], 0.5);

    ModelOptions fw;
    fw.fFreqWeight = "g";
    EXPECT_EQ(ErrorKind(csv, "y ~ x", fw), HostError::kData);       // text weight
    EXPECT_EQ(ErrorKind(csv, "g ~ x"), HostError::kData);           // text dependent
    EXPECT_EQ(ErrorKind(csv, "y ~ g(x)"), HostError::kUsage);       // covariate in parentheses
    EXPECT_EQ(ErrorKind(csv, "y ~ x + y"), HostError::kUsage);      // dependent on the right
    EXPECT_EQ(ErrorKind(csv, "y ~ n*g + g*n"), HostError::kUsage);  // the same term twice
    ModelOptions unknown;
    unknown.fvFactors = {"nope"};
    EXPECT_EQ(ErrorKind(csv, "y ~ x", unknown), HostError::kUsage);
}

TEST(ModelSpec, NestingLevelsAndLabels) {
    const std::string csv =
        "y,A,B,C,x\n1,a,p,u,1\n2,a,q,u,2\n3,b,p,v,4\n5,b,q,v,3\n4,a,p,v,5\n7,b,q,u,8\n";
    const DataTable t = CsvReader::ReadString(csv);
    const ModelSpec spec(ParseFormula("y ~ A(B(C)) + A*B(C) + x(A) + x*x + A*x"), {}, t);
    const auto& e = spec.GetSettings().GetModelEffects();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].ContainsFactor(1), 2);  // A innermost
    EXPECT_EQ(e[0].ContainsFactor(2), 1);
    EXPECT_EQ(e[0].ContainsFactor(3), 0);  // C outermost
    EXPECT_EQ(e[1].ContainsFactor(1), 1);
    EXPECT_EQ(e[1].ContainsFactor(2), 1);
    EXPECT_TRUE(e[2].GetFactorsInParens());
    EXPECT_FALSE(e[4].GetFactorsInParens());
    EXPECT_EQ(e[3].GetCovariateMult(4), 2);

    auto it = spec.MakeIterator();
    const GlmResult r = FitGlm(spec, *it, 0.95);
    auto has = [&](const std::string& label) {
        for (const ParameterRow& p : r.fvParameters)
            if (p.fLabel == label) return true;
        return false;
    };
    EXPECT_TRUE(has("[A=a]([B=p]([C=u]))"));
    EXPECT_TRUE(has("[A=b] * [B=q]([C=v])"));
    EXPECT_TRUE(has("x([A=b])"));
    EXPECT_TRUE(has("x * x"));
    EXPECT_TRUE(has("[A=a] * x"));
    EXPECT_EQ(r.fvParameters.front().fLabel, "Intercept");
    EXPECT_EQ(r.fvParameters.back().fEffect, "A*x");
}

TEST(GlmFit, OneWayStatisticsFollowFromTheCellMeans) {
    const GlmResult r = Fit(kOneWay, "y ~ A");
    ASSERT_EQ(r.fvParameters.size(), 4u);
    EXPECT_EQ(r.fRecordsRead, 7);
    EXPECT_EQ(r.fRecordsUsed, 7);
    // Residual SS 6 on 7 - 3 df; the last category is aliased.
    const double s2 = 6.0 / 4, df = 4;
    EXPECT_EQ(r.fErrorDF, df);
    EXPECT_NEAR(r.fRmse, std::sqrt(6.0 / 7), 1e-13);
    EXPECT_NEAR(r.fResidualSE, std::sqrt(s2), 1e-13);
    const ParameterRow& a = r.fvParameters[1];
    EXPECT_EQ(a.fName, "P0000002");
    EXPECT_EQ(a.fLabel, "[A=a]");
    EXPECT_EQ(a.fEffect, "A");
    EXPECT_NEAR(a.fEstimate, 4.0 - 11.0, 1e-13);
    const double se = std::sqrt(s2 * (0.5 + 1.0 / 3));
    EXPECT_NEAR(a.fStdError, se, 1e-13);
    EXPECT_NEAR(a.fT, -7.0 / se, 1e-12);
    EXPECT_EQ(a.fDF, df);
    // Student's t with 4 df in closed form: F(t) = 1/2 + 3/8 u (1 - u^2/12), u = t / sqrt(1 +
    // t^2/4) written with s = t^2 / (1 + t^2 / 4).
    const double t = std::fabs(a.fT), s = t * t / (1 + t * t / 4);
    const double cdf = 0.5 + 0.375 * (t / std::sqrt(1 + t * t / 4)) * (1 - s / 12);
    EXPECT_NEAR(a.fSig, 2 * (1 - cdf), 1e-12);
    const double q = 2.7764451051977934;  // qt(0.975, 4) in R
    EXPECT_NEAR(a.fCILower, -7.0 - q * se, 1e-11);
    EXPECT_NEAR(a.fCIUpper, -7.0 + q * se, 1e-11);
    const ParameterRow& c = r.fvParameters[3];
    EXPECT_TRUE(c.fbRedundant);
    EXPECT_EQ(c.fEstimate, 0.0);
    EXPECT_TRUE(std::isnan(c.fStdError) && std::isnan(c.fSig) && std::isnan(c.fDF));

    const nlohmann::json j = nlohmann::json::parse(FormatGlmJson(r));
    EXPECT_EQ(j["model"], "glm");
    EXPECT_EQ(j["dependent"], "y");
    EXPECT_EQ(j["records"]["used"], 7);
    EXPECT_EQ(j["total_frequency_weight"], 7.0);
    EXPECT_EQ(j["parameters"].size(), 4u);
    EXPECT_EQ(j["parameters"][3]["redundant"], true);
    for (const char* k : {"std_error", "t", "df", "sig", "ci_lower", "ci_upper"})
        EXPECT_TRUE(j["parameters"][3][k].is_null()) << k;
    EXPECT_EQ(j["parameters"][0]["effect"], "Intercept");
    EXPECT_EQ(j["fit"]["error_df"], 4.0);
    EXPECT_TRUE(j["timing_seconds"].contains("fit"));
    const std::string text = FormatGlmText(r);
    EXPECT_NE(text.find("7 read, 7 used"), std::string::npos);
    EXPECT_NE(text.find("Redundant"), std::string::npos);

    // A 90% interval uses the 0.95 quantile (qt(0.95, 4) = 2.131846786326649 in R).
    ModelOptions o;
    o.fConfidence = 0.90;
    const ParameterRow b = Fit(kOneWay, "y ~ A", o).fvParameters[2];
    EXPECT_NEAR(b.fCIUpper - b.fEstimate, 2.131846786326649 * b.fStdError, 1e-11);
}

TEST(BinaryTable, CodesMissingValuesAndPartialRecords) {
    const std::string path = ::testing::TempDir() + "mcreg_host_records.bin";
    const double missing = MCCommon_850::MCMV::Missing();
    const double values[] = {3, 0, 5, 0, 4, 1, 6, 1, 10, 2, 12, 2, 11, 2, missing, 1, 9, -1};
    auto write = [&](std::size_t nBytes) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(values, 1, nBytes, f);
        std::fclose(f);
    };
    write(sizeof values);
    const DataTable t = BinaryTableReader::ReadFile(path, {"y", "A"});
    ASSERT_EQ(t.GetNRows(), 9u);
    EXPECT_TRUE(t.GetColumn(0).IsMissing(7));
    ModelOptions o;
    o.fvFactors = {"A"};
    o.fbFactorsAreCodes = true;  // -1 is a missing code
    const ModelSpec spec(ParseFormula("y ~ A"), o, t);
    EXPECT_EQ(spec.GetNUsed(), 7u);
    auto it = spec.MakeIterator();
    const GlmResult r = FitGlm(spec, *it, 0.95);
    EXPECT_EQ(r.fRecordsRead, 9);
    EXPECT_EQ(r.fvParameters[1].fLabel, "[A=0]");
    EXPECT_NEAR(r.fvParameters[1].fEstimate, 4.0 - 11.0, 1e-13);

    write(sizeof values - 4);
    EXPECT_THROW(BinaryTableReader::ReadFile(path, {"y", "A"}), HostError);
    std::remove(path.c_str());
}
