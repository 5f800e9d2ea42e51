// From a formula and a table to the model the library is given: the errors
// that name the column, option or place that is wrong, the weights'
// warnings and scale, categories and covariates without spread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/host_fixtures.h"

using namespace mchost;
using mchost_test::CsvModel;
using testing::_;
using testing::AllOf;
using testing::HasSubstr;

namespace {

// The error a model gives: its kind, message and, for a formula error,
// the text it points at.
struct Failure {
    int kind = 0;  // 0: the model builds
    std::string message;
    std::string span;
};

Failure FailureOf(const std::string& csv, const std::string& formula, const ModelOptions& o = {},
                  const ReadOptions& how = ReadOptions()) {
    Failure f;
    try {
        CsvModel(csv, formula, o, how);
    } catch (const FormulaError& e) {
        f = {e.GetKind(), e.what(), formula.substr(e.GetPos(), e.GetLen())};
    } catch (const HostError& e) {
        f = {e.GetKind(), e.what(), ""};
    }
    return f;
}

// Options that name columns: factors and the two weights.
ModelOptions Naming(const std::vector<std::string>& factors, const std::string& freq = "",
                    const std::string& regr = "") {
    ModelOptions o;
    o.fvFactors = factors;
    o.fFreqWeight = freq;
    o.fRegrWeight = regr;
    return o;
}

const char* kData = "y,A,B,x,w\n1,a,p,0.5,1\n2,a,q,1.5,2\n3,b,p,2,1\n5,b,q,3,1\n4,a,p,1,1\n";

struct FailureCase {
    const char* csv;
    const char* formula;
    ModelOptions options;
    int kind;
    testing::Matcher<const std::string&> message;
    const char* span = nullptr;  // what a formula error points at, when checked
};

}  // namespace

TEST(ModelSpec, ErrorsNameTheColumnTheOptionAndTheCell) {
    ModelOptions clusters;
    clusters.fvCluster = {"A", "B", "x"};
    const FailureCase cases[] = {
        // An unknown name, with the columns listed when there are few, or
        // the name that differs in case only; a name two columns carry.
        {kData,
         "y ~ A + z",
         {},
         HostError::kUsage,
         "unknown column 'z'; the columns are: y, A, B, x, w",
         "z"},
        {kData, "y ~ a", {}, HostError::kUsage, "unknown column 'a' (did you mean 'A'?)"},
        {"y,x,x\n1,2,3\n",
         "y ~ x",
         {},
         HostError::kUsage,
         HasSubstr("'x' appears more than once"),
         "x"},
        // Terms that cannot be built, each pointing at its name or term.
        {kData,
         "y ~ A + y",
         {},
         HostError::kUsage,
         "the dependent variable 'y' cannot also be a predictor",
         "y"},
        {kData,
         "y ~ A(x)",
         {},
         HostError::kUsage,
         HasSubstr("'x' is a covariate, but a factor is needed"),
         "x"},
        {kData, "y ~ A*B*A", {}, HostError::kUsage, "factor 'A' appears twice in this term"},
        {kData,
         "y ~ A*B + x + B:A",
         {},
         HostError::kUsage,
         "this term repeats the term 'A*B'",
         "B:A"},
        {kData,
         "y ~ A*B + B(A)",
         {},
         HostError::kUsage,
         HasSubstr("the same columns as the term 'A*B' (nesting aside)"),
         "B(A)"},
        // A covariate may be crossed with itself (a power), nested in factors.
        {kData, "y ~ x*x + x(A) + A*B(x)", {}, HostError::kUsage, _},
        {kData, "y ~ x*x + x(A) + x*x*x", {}, 0, ""},
        // Options that name no column or a column in two roles.
        {kData, "y ~ A", Naming({"q"}), HostError::kUsage,
         "--factors names 'q', which is not a column; the columns are: y, A, B, x, w"},
        {kData, "y ~ A", Naming({}, "", "W"), HostError::kUsage,
         "--regr-weight names 'W', which is not a column (did you mean 'w'?)"},
        {kData, "y ~ A + x", Naming({}, "x"), HostError::kUsage,
         "--freq-weight 'x' is already used as a predictor"},
        {kData, "y ~ A", Naming({"y"}), HostError::kUsage,
         "the dependent variable 'y' cannot be a factor (--factors)"},
        {kData, "y ~ x", clusters, HostError::kUsage, "--cluster takes at most two columns"},
        // Text where a number must be: the cell and its place.
        {"y,x\na,1\nb,2\n",
         "y ~ x",
         {},
         HostError::kData,
         "<text>, line 2 (data row 1): the dependent variable 'y' must be numeric, but the cell "
         "holds 'a'"},
        {"y,x,w\n1,1,heavy\n2,2,light\n", "y ~ x", Naming({}, "", "w"), HostError::kData,
         AllOf(HasSubstr("the regression weight 'w' must be numeric"), HasSubstr("'heavy'"))},
        {"y,x,g\n1,1,a\n2,2,b\n", "y ~ x", Naming({}, "g"), HostError::kData, _},
        // A dependent too large to square.
        {"y,x\n1e200,1\n2,2\n",
         "y ~ x",
         {},
         HostError::kData,
         HasSubstr("the dependent variable 'y' reaches 1e+200")},
        // Semicolons delimit: "2,5" is a number with a decimal comma, read
        // as text, which as a text factor would have a level per value. The
        // example is the first category in byte order.
        {"y;x\n1;2,5\n2;3,25\n3;-0,5\n4;2,5\n",
         "y ~ x",
         {},
         HostError::kData,
         HasSubstr("column 'x' looks like numbers with decimal commas ('-0,5')")},
        // In a numeric role, the message says what to do.
        {"y;x\n1,5;1\n2,5;2\n",
         "y ~ x",
         {},
         HostError::kData,
         HasSubstr("a number with a decimal comma: write decimal points")},
        // A text that is no number among them: a text factor like any other.
        {"y;g\n1;2,5\n2;low\n", "y ~ g", {}, 0, ""},
        // Where a comma delimits, a quoted "1,5" is text (thousands,
        // perhaps), not refused.
        {"y,g\n1,\"1,5\"\n2,\"2,5\"\n", "y ~ g", {}, 0, ""},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.csv) + c.formula);
        const Failure e = FailureOf(c.csv, c.formula, c.options);
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_THAT(e.message, c.message);
        if (c.span) {
            EXPECT_EQ(e.span, c.span);
        }
    }
    // A header that did not split on the delimiter it was read with.
    ReadOptions comma;
    comma.fDelimiter = ',';
    const Failure e = FailureOf("y;A\n1;a\n", "y ~ A", {}, comma);
    EXPECT_EQ(e.span, "y");
    EXPECT_THAT(e.message, AllOf(HasSubstr("the header was read as the one column 'y;A'"),
                                 HasSubstr("split by ';'")));
    // Decimal commas in a column named a factor are its categories.
    const CsvModel m("y;x\n1;2,5\n2;3,25\n3;-0,5\n4;2,5\n", "y ~ x", Naming({"x"}));
    EXPECT_EQ(m.spec.GetVariables()[1].fvCategories.size(), 3u);
}

TEST(ModelSpec, WeightsWarnAndScaleByPowersOfTwo) {
    const CsvModel m("y,x,w\n1,1,-1\n2,2,1\n3,3,-2\n4,5,0.5\n5,4,2\n", "y ~ x", Naming({}, "w"));
    EXPECT_EQ(m.spec.GetNRecords(), 5u);
    EXPECT_EQ(m.spec.GetNUsed(), 3u);
    ASSERT_EQ(m.spec.GetWarnings().size(), 2u);
    EXPECT_EQ(m.spec.GetWarnings()[0],
              "warning: 2 records are left out for a negative frequency weight ('w'), as records "
              "with a missing value are");
    EXPECT_THAT(m.spec.GetWarnings()[1],
                AllOf(HasSubstr("the frequency weight 'w' is not a whole number"),
                      HasSubstr("data row 4 (0.5)")));
    EXPECT_EQ(m.spec.GetRegrWeightScale(), 1.0);
    // Far into a block of records, the row named is still the weight's.
    std::string many = "y,x,w\n";
    for (int i = 0; i < 600; ++i) many += i == 290 ? "1,2,0.5\n" : "2,1,1\n";
    const CsvModel far(many, "y ~ x", Naming({}, "w"));
    ASSERT_FALSE(far.spec.GetWarnings().empty());
    EXPECT_THAT(far.spec.GetWarnings().back(), HasSubstr("data row 291 (0.5)"));

    // Regression weights far from 1 are brought by an even power of two
    // into [1, 4): 1e30 lies in [2^99, 2^100), so 2^-98; 1e-30 in
    // [2^-100, 2^-99), so 2^100. Weights near 1 keep their scale.
    const auto scaleOf = [](const std::vector<const char*>& weights) {
        std::string csv = "y,x,w\n";
        for (std::size_t i = 0; i < weights.size(); ++i)
            csv +=
                std::to_string(i + 1) + "," + std::to_string((i + 1) % 3) + "," + weights[i] + "\n";
        const CsvModel built(csv, "y ~ x", Naming({}, "", "w"));
        // The records carry the scaled weight, exactly.
        const double scale = built.spec.GetRegrWeightScale();
        EXPECT_EQ((*built.records->Next())[2], std::strtod(weights[0], nullptr) * scale);
        return scale;
    };
    EXPECT_EQ(scaleOf({"1e30", "2e29", "3e29"}), std::ldexp(1.0, -98));
    EXPECT_EQ(scaleOf({"1e-30", "2e-31", "1e-31"}), std::ldexp(1.0, 100));
    EXPECT_EQ(scaleOf({"0.5", "2", "3"}), 1.0);
    EXPECT_EQ(scaleOf({"1e10", "1", "2"}), 1.0);  // within 2^64 of 1
}

TEST(ModelSpec, CategoriesAreFoundByValueOrText) {
    const CsvModel m("y,n,g\n1,10,b\n2,2,a\n3,2.5,B\n4,-1,a\n", "y ~ n + g", Naming({"n"}));
    const ModelVariable& n = m.spec.GetVariables()[1];
    const ModelVariable& g = m.spec.GetVariables()[2];
    EXPECT_EQ(n.fvCategories, (std::vector<std::string>{"-1", "2", "2.5", "10"}));
    EXPECT_TRUE(n.fbNumericCategories);
    EXPECT_FALSE(g.fbNumericCategories);
    // Numbers by value, whatever their spelling; texts exactly.
    const std::vector<std::pair<const char*, int>> numbers = {
        {"2", 1}, {"2.0", 1}, {"1e1", 3}, {"-1.000", 0}, {"3", -1}, {"ten", -1}};
    for (const auto& [text, code] : numbers) EXPECT_EQ(FindCategory(n, text), code) << text;
    const std::vector<std::pair<const char*, int>> texts = {
        {"B", 0}, {"a", 1}, {"A", -1}, {"a ", -1}};
    for (const auto& [text, code] : texts) EXPECT_EQ(FindCategory(g, text), code) << text;
    EXPECT_EQ(m.spec.GetTextFactors(), (std::vector<std::string>{"g"}));

    // The names a JSON report gives the roles.
    EXPECT_STREQ(RoleName(ModelVariable::kDependent), "dependent");
    EXPECT_STREQ(RoleName(ModelVariable::kFreqWeight), "frequency_weight");
    EXPECT_STREQ(RoleName(ModelVariable::kRegrWeight), "regression_weight");
}

TEST(ModelSpec, CovariatesWithoutSpreadAreNamed) {
    // 1e12 + k/1000: a spread of 0.003 against a magnitude of 1e12, far
    // below a billionth of it; t's spread of 3 is plenty.
    const CsvModel m(
        "y,x,t\n1,1000000000000.001,1\n2,1000000000000.002,2\n3,1000000000000.004,4\n"
        "5,1000000000000.003,3\n",
        "y ~ x + t");
    EXPECT_THAT(
        m.spec.SpreadWarnings(),
        testing::ElementsAre(HasSubstr("warning: covariate 'x' varies only from 1e+12 to 1e+12")));
    // A constant is no spread problem of this kind, and neither is a
    // covariate near zero.
    EXPECT_TRUE(CsvModel("y,x,t\n1,5,1e-20\n2,5,3e-20\n3,5,2e-20\n", "y ~ x + t")
                    .spec.SpreadWarnings()
                    .empty());
}
