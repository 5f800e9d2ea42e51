// From a table to a fitted model: roles, factor coding, records used,
// effects, labels, the per-parameter statistics and the JSON report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "coded_dump.h"
#include "companion/MCMV.h"
#include "host/fit/ModelFitter.h"
#include "host/input/BinaryReader.h"
#include "host/report/GlmReport.h"
#include "support/host_fixtures.h"

using namespace mchost;
using mchost_test::CsvModel;
using mchost_test::ThrownBy;

namespace {

// A general linear model's fit of a spec's records, as the program fits it.
GlmResult FitGlm(const ModelSpec& spec, MCCommon_850::MultiPassRecordIter& records,
                 double confidence, MCCommon_850::MCQueryCancel* cancel = nullptr) {
    FitOptions options;
    options.fConfidence = confidence;
    ModelFitter fitter(spec, options);
    fitter.Fit(records, cancel);
    return fitter.GetGlmResult();
}

GlmResult Fit(const std::string& csv, const std::string& formula, ModelOptions o = {},
              const ReadOptions& how = ReadOptions()) {
    const CsvModel m(csv, formula, o, how);
    return FitGlm(m.spec, *m.records, o.fConfidence);
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
    const CsvModel m(csv, "y ~ x + n*g + g", o);
    const ModelSpec& spec = m.spec;
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
    const auto* r = m.records->Next();
    EXPECT_EQ((*r)[1], 2.0);
    EXPECT_EQ((*r)[2], 2.0);
    EXPECT_EQ((*r)[3], 0.5);
}

TEST(ModelSpec, NestingLevelsAndLabels) {
    const std::string csv =
        "y,A,B,C,x\n1,a,p,u,1\n2,a,q,u,2\n3,b,p,v,4\n5,b,q,v,3\n4,a,p,v,5\n7,b,q,u,8\n";
    // Nested and crossed forms of one set of cells go in separate models:
    // one model refuses two terms with the same columns.
    const auto labels = [&](const std::string& formula,
                            std::vector<MCMath_850::MCModelEffect>& effects) {
        const CsvModel m(csv, formula);
        effects = m.spec.GetSettings().GetModelEffects();
        const GlmResult r = FitGlm(m.spec, *m.records, 0.95);
        EXPECT_EQ(r.fvParameters.front().fLabel, "Intercept");
        std::vector<std::string> out;
        for (const ParameterRow& p : r.fvParameters) out.push_back(p.fLabel + " | " + p.fEffect);
        return out;
    };
    const auto has = [](const std::vector<std::string>& all, const std::string& label) {
        for (const std::string& l : all)
            if (l.rfind(label + " | ", 0) == 0) return true;
        return false;
    };
    std::vector<MCMath_850::MCModelEffect> e;
    std::vector<std::string> l = labels("y ~ A(B(C)) + x(A) + x*x", e);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].ContainsFactor(1), 2);  // A innermost
    EXPECT_EQ(e[0].ContainsFactor(2), 1);
    EXPECT_EQ(e[0].ContainsFactor(3), 0);  // C outermost
    EXPECT_TRUE(e[1].GetFactorsInParens());
    EXPECT_EQ(e[2].GetCovariateMult(4), 2);
    EXPECT_TRUE(has(l, "[A=a]([B=p]([C=u]))"));
    EXPECT_TRUE(has(l, "x([A=b])"));
    EXPECT_TRUE(has(l, "x * x"));

    l = labels("y ~ A*B(C) + A*x", e);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].ContainsFactor(1), 1);
    EXPECT_EQ(e[0].ContainsFactor(2), 1);
    EXPECT_FALSE(e[1].GetFactorsInParens());
    EXPECT_TRUE(has(l, "[A=b] * [B=q]([C=v])"));
    EXPECT_TRUE(has(l, "[A=a] * x"));
    EXPECT_EQ(l.back().substr(l.back().find(" | ") + 3), "A*x");
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
    EXPECT_FALSE(j.contains("timing_seconds"));
    JsonOptions timed;
    timed.fbTiming = true;
    EXPECT_TRUE(nlohmann::json::parse(FormatGlmJson(r, timed))["timing_seconds"].contains("fit"));
    const std::string text = FormatGlmText(r);
    EXPECT_NE(text.find("7 read, 7 used"), std::string::npos);
    EXPECT_NE(text.find("Redundant"), std::string::npos);

    // A 90% interval uses the 0.95 quantile (qt(0.95, 4) = 2.131846786326649 in R).
    ModelOptions o;
    o.fConfidence = 0.90;
    const ParameterRow b = Fit(kOneWay, "y ~ A", o).fvParameters[2];
    EXPECT_NEAR(b.fCIUpper - b.fEstimate, 2.131846786326649 * b.fStdError, 1e-11);
}

TEST(BinaryReader, CodesMissingValuesAndPartialRecords) {
    const std::string path = ::testing::TempDir() + "mcreg_host_records.bin";
    const double missing = MCCommon_850::MCMV::Missing();
    const double values[] = {3, 0, 5, 0, 4, 1, 6, 1, 10, 2, 12, 2, 11, 2, missing, 1, 9, missing};
    auto write = [&](const double* records, std::size_t nBytes) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(records, 1, nBytes, f);
        std::fclose(f);
    };
    write(values, sizeof values);
    const Formula f = ParseFormula("y ~ A");
    ModelOptions o;
    o.fvFactors = {"A"};  // codes already
    const std::vector<std::string> names{"y", "A"};
    const auto plan = [&](const std::vector<std::string>& h) { return PlanColumns(f, o, h); };
    for (std::size_t limit : {std::size_t(1) << 30, std::size_t(0)}) {
        ReadOptions how;
        how.fMemoryLimit = limit;
        how.fBlockBytes = 40;  // records across reads
        const CodedData d = BinaryReader::ReadFile(path, names, plan, how);
        EXPECT_EQ(d.fNRecords, 9u);
        EXPECT_EQ(d.fNUsed, 7u);
        const ModelSpec spec(f, o, d);
        auto it = spec.MakeIterator();
        const GlmResult r = FitGlm(spec, *it, 0.95);
        EXPECT_EQ(r.fRecordsRead, 9);
        EXPECT_EQ(r.fvParameters[1].fLabel, "[A=0]");
        EXPECT_NEAR(r.fvParameters[1].fEstimate, 4.0 - 11.0, 1e-13);
    }
    // A code that is not a whole number or is negative, and a value that is
    // not finite, name their row: only the missing value is missing.
    const double inf = std::numeric_limits<double>::infinity();
    const std::string note =
        " (a missing value is written as the lowest double, -1.7976931348623157e308)";
    const std::string code = ", but a factor's values must be category codes 0, 1, 2, ...";
    const std::vector<std::pair<std::vector<double>, std::string>> bad = {
        {{1, 0, 2, 1.5}, "column 'A' holds 1.5 in data row 2" + code + note},
        {{1, 0, 2, -1}, "column 'A' holds -1 in data row 2" + code + note},
        {{1, 0, 2, std::nan("")}, "column 'A' holds nan in data row 2" + code + note},
        {{1, 0, -inf, 1},
         "column 'y' holds -inf in data row 2, but a value must be a finite number" + note},
    };
    for (const auto& [records, message] : bad) {
        write(records.data(), records.size() * sizeof(double));
        const mchost_test::Thrown e = ThrownBy([&] { BinaryReader::ReadFile(path, names, plan); });
        EXPECT_EQ(e.kind, HostError::kData);
        EXPECT_EQ(e.message, message);
    }
    write(values, sizeof values - 4);
    EXPECT_THROW(BinaryReader::ReadFile(path, names, plan), HostError);
    std::remove(path.c_str());
}

TEST(ModelSpec, StreamedAndInMemoryFitsAgreeExactly) {
    // Text and numeric factors, missing cells of every role, weights that
    // leave records out, categories met only in records not used, CRLF,
    // quotes and a byte order mark.
    std::string csv = "\xEF\xBB\xBFy,g,n,x,w,rw\r\n";
    std::mt19937_64 gen(11);
    for (int i = 0; i < 3000; ++i) {
        const int g = static_cast<int>(gen() % 5), n = static_cast<int>(gen() % 4);
        const double x = static_cast<double>(gen() % 1000) / 37.0;
        const double y = 2 * g - n + 0.3 * x + static_cast<double>(gen() % 100) / 50.0;
        const int drop = static_cast<int>(gen() % 40);
        csv += (drop == 0 ? std::string("NA") : std::to_string(y)) + "," +
               (drop == 1 ? std::string("") : "\"g" + std::to_string(g) + "\"") + "," +
               (drop == 2 ? std::string("NA") : std::to_string(n * 5)) + "," +
               (drop == 3 ? std::string("") : std::to_string(x)) + "," +
               std::to_string(drop == 4 ? 0 : 1 + static_cast<int>(gen() % 3)) + "," +
               (drop == 5 ? std::string("-1") : std::to_string(0.5 + (gen() % 4))) + "\r\n";
    }
    csv += "1,only-here,5,1,0,1\r\n";  // a category of a record not used
    ModelOptions o;
    o.fvFactors = {"n"};
    o.fFreqWeight = "w";
    o.fRegrWeight = "rw";
    const std::string formula = "y ~ g + n + x + g*n + g*x";
    const GlmResult base = Fit(csv, formula, o);
    EXPECT_EQ(base.fRecordsRead, 3001);
    EXPECT_GT(base.fRecordsUsed, 2500);
    EXPECT_LT(base.fRecordsUsed, 3000);
    // Every figure of the report, to the last bit.
    for (const ReadOptions& how : mchost_test::AllPaths(100))
        EXPECT_EQ(FormatGlmJson(Fit(csv, formula, o, how)), FormatGlmJson(base));
    for (const ParameterRow& p : base.fvParameters)
        EXPECT_EQ(p.fLabel.find("only-here"), std::string::npos) << p.fLabel;
}

TEST(ModelSpec, CategoricalDependentIsCodedInBothPaths) {
    ModelOptions o;
    o.fbCategoricalDependent = true;
    for (const ReadOptions& how : mchost_test::AllPaths()) {
        const CsvModel m("y,x\nlow,1\nhigh,2\nmid,3\nhigh,4\nNA,5\n", "y ~ x", o, how);
        EXPECT_EQ(m.spec.GetVariables()[0].fvCategories,
                  (std::vector<std::string>{"high", "low", "mid"}));
        std::vector<double> codes;
        for (m.records->NewPass(); const auto* r = m.records->Next();) codes.push_back((*r)[0]);
        EXPECT_EQ(codes, (std::vector<double>{1, 0, 2, 0, MCCommon_850::MCMV::Missing()}));
    }
    // Numbers are categories in numeric order.
    EXPECT_EQ(CsvModel("y,x\n10,1\n9,2\n10,3\n", "y ~ x", o).spec.GetVariables()[0].fvCategories,
              (std::vector<std::string>{"9", "10"}));
}

TEST(GlmFit, CancelStopsTheFitAsAnInterruption) {
    std::string csv = "y,A\n";
    for (int i = 0; i < 500; ++i)
        csv += std::to_string(i % 7) + ",a" + std::to_string(i % 3) + "\n";
    for (const ReadOptions& how : mchost_test::AllPaths()) {
        const CsvModel m(csv, "y ~ A", {}, how);
        mchost_test::CancelAfter cancel(50);
        EXPECT_EQ(ThrownBy([&] { FitGlm(m.spec, *m.records, 0.95, &cancel); }).kind,
                  HostError::kInterrupted);
        EXPECT_GT(cancel.fAsked.load(), 50);
    }
}

TEST(Predictions, ACancelWhileWritingIsAnInterruptionNotEmptyRows) {
    std::string csv = "y,A,x\n";
    for (int i = 0; i < 300; ++i)
        csv += std::string(i % 3 == 0 ? "u" : "v") + ",a" + std::to_string(i % 4) + "," +
               std::to_string(0.25 * (i % 11) + (i % 3 == 0 ? 1.0 : 0.0)) + "\n";
    // A general linear model of x and a logistic one of y; every record is
    // used.
    for (const bool logistic : {false, true}) {
        SCOPED_TRACE(logistic);
        ModelOptions o;
        o.fbCategoricalDependent = logistic;
        const CsvModel m(csv, logistic ? "y ~ A + x" : "x ~ A", o);
        FitOptions options;
        options.fbLogistic = logistic;
        ModelFitter fitter(m.spec, options);
        mchost_test::CancelAfter cancel;
        fitter.Fit(*m.records, &cancel);
        std::ostringstream whole, cut;
        fitter.WritePredictions(*m.records, whole);
        EXPECT_EQ(whole.str().find("\n,\n"), std::string::npos);
        cancel.fAfter = 0;
        EXPECT_EQ(ThrownBy([&] { fitter.WritePredictions(*m.records, cut); }).kind,
                  HostError::kInterrupted);
    }
}
