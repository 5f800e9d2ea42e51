// From a formula and a table to the model the library is given: how terms
// are written and read back, the note for R users, and the errors that
// name the column, option or place that is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/base/HostError.h"
#include "host/input/CsvReader.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"

using namespace mchost;

namespace {

// A model read as the program reads it; the data outlive its ModelSpec.
struct Built {
    std::unique_ptr<CodedData> data;
    std::unique_ptr<ModelSpec> spec;
};

Built Build(const std::string& csv, const std::string& formula, const ModelOptions& o = {},
            const ReadOptions& how = ReadOptions()) {
    const Formula f = ParseFormula(formula);
    Built b;
    b.data = std::make_unique<CodedData>(CsvReader::ReadString(
        csv, [&](const std::vector<std::string>& h) { return PlanColumns(f, o, h); }, how));
    b.spec = std::make_unique<ModelSpec>(f, o, *b.data);
    return b;
}

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
        Build(csv, formula, o, how);
    } catch (const FormulaError& e) {
        f.kind = e.GetKind();
        f.message = e.what();
        f.span = formula.substr(e.GetPos(), e.GetLen());
    } catch (const HostError& e) {
        f.kind = e.GetKind();
        f.message = e.what();
    }
    return f;
}

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

std::vector<std::string> Texts(const Formula& f) {
    std::vector<std::string> out;
    for (const FormulaTerm& t : f.fvTerms) out.push_back(t.Text());
    return out;
}

const char* kData = "y,A,B,x,w\n1,a,p,0.5,1\n2,a,q,1.5,2\n3,b,p,2,1\n5,b,q,3,1\n4,a,p,1,1\n";

}  // namespace

TEST(Formula, InteractionsBackquotesAndIntercepts) {
    // ":" and "*" both write a product; blanks and tabs between names go.
    Formula f = ParseFormula("y ~ A:B +\tA * x+`a b`:x+ `x+1`");
    EXPECT_EQ(Texts(f), (std::vector<std::string>{"A*B", "A*x", "`a b`*x", "`x+1`"}));
    EXPECT_EQ(f.fvTerms[3].fvGroups[0][0].fName, "x+1");
    // A name written back needs its quotes only when it would not read as
    // one name: dots and underscores are part of a name.
    f = ParseFormula("log.y ~ a_1 + b.2*c3");
    EXPECT_EQ(f.fDependent.fName, "log.y");
    EXPECT_EQ(Texts(f), (std::vector<std::string>{"a_1", "b.2*c3"}));
    f = ParseFormula("`my y` ~ `(x)`");
    EXPECT_EQ(f.fDependent.fName, "my y");
    EXPECT_EQ(Texts(f), (std::vector<std::string>{"`(x)`"}));
    EXPECT_EQ(ParseFormula("y ~ " + Texts(f)[0]).fvTerms[0].fvGroups[0][0].fName, "(x)");

    // "1" only asks for the intercept, "0" removes it; neither is a term.
    f = ParseFormula("y ~ 1");
    EXPECT_TRUE(f.fvTerms.empty());
    EXPECT_TRUE(f.fbInterceptAsked);
    f = ParseFormula("y ~ x + 0");
    EXPECT_EQ(Texts(f), (std::vector<std::string>{"x"}));
    EXPECT_TRUE(f.fbInterceptRemoved);
    EXPECT_FALSE(f.fbInterceptAsked);

    // Nesting reads inward; the canonical text keeps every parenthesis.
    f = ParseFormula("y ~ A*B(C(D)) + x*z(A*B)");
    EXPECT_EQ(Texts(f), (std::vector<std::string>{"A*B(C(D))", "x*z(A*B)"}));
    ASSERT_EQ(f.fvTerms[1].fvGroups.size(), 2u);
    EXPECT_EQ(f.fvTerms[1].fvGroups[1].size(), 2u);
}

TEST(Formula, MissingMarginsNoteForRUsers) {
    const auto note = [](const std::string& text) {
        return MissingMarginsNote(ParseFormula(text));
    };
    // Every term an interaction contains is there, or no "*" is written.
    EXPECT_EQ(note("y ~ A + B + A*B"), "");
    EXPECT_EQ(note("y ~ A + x + x*A"), "");
    EXPECT_EQ(note("y ~ A:B"), "");
    EXPECT_EQ(note("y ~ A(B) + x(A)"), "");
    EXPECT_EQ(note("y ~ x"), "");

    EXPECT_EQ(note("y ~ A*B"),
              "note: 'A*B' is the interaction term alone, without A, B (unlike R, '*' does not "
              "add the terms it contains); the model with them is: y ~ A + B + A*B");
    // Only the missing ones are added, before the term that lacks them.
    const std::string one = note("y ~ A + x*A");
    EXPECT_TRUE(Contains(one, "'x*A' is the interaction term alone, without x (")) << one;
    EXPECT_TRUE(Contains(one, "the model with them is: y ~ A + x + x*A")) << one;
    // A three-way product lacks its two-way products too; a later term
    // that was missing is not added twice.
    const std::string three = note("y ~ A*B*C + B");
    EXPECT_TRUE(Contains(three, "without A, C, A*B, A*C, B*C (")) << three;
    EXPECT_TRUE(Contains(three, "y ~ A + C + A*B + A*C + B*C + A*B*C + B")) << three;
    // The intercept stays removed; a dependent that needs quotes has them.
    const std::string quoted = note("`my y` ~ 0 + A*x");
    EXPECT_TRUE(Contains(quoted, "is: `my y` ~ A + x + A*x + 0")) << quoted;
}

TEST(ModelSpec, FormulaErrorsNameTheColumnAndPointAtIt) {
    // An unknown name, with the columns listed when there are few.
    Failure e = FailureOf(kData, "y ~ A + z");
    EXPECT_EQ(e.kind, HostError::kUsage);
    EXPECT_EQ(e.span, "z");
    EXPECT_EQ(e.message, "unknown column 'z'; the columns are: y, A, B, x, w");
    // A name that differs in case only.
    e = FailureOf(kData, "y ~ a");
    EXPECT_EQ(e.message, "unknown column 'a' (did you mean 'A'?)");
    // A header that did not split on the delimiter it was read with.
    ReadOptions comma;
    comma.fDelimiter = ',';
    e = FailureOf("y;A\n1;a\n", "y ~ A", {}, comma);
    EXPECT_EQ(e.span, "y");
    EXPECT_TRUE(Contains(e.message, "the header was read as the one column 'y;A'")) << e.message;
    EXPECT_TRUE(Contains(e.message, "split by ';'")) << e.message;
    // A name two columns carry.
    e = FailureOf("y,x,x\n1,2,3\n", "y ~ x");
    EXPECT_EQ(e.span, "x");
    EXPECT_TRUE(Contains(e.message, "'x' appears more than once")) << e.message;

    // Terms that cannot be built, each pointing at its name or term.
    e = FailureOf(kData, "y ~ A + y");
    EXPECT_EQ(e.span, "y");
    EXPECT_EQ(e.message, "the dependent variable 'y' cannot also be a predictor");
    e = FailureOf(kData, "y ~ A(x)");
    EXPECT_EQ(e.span, "x");
    EXPECT_TRUE(Contains(e.message, "'x' is a covariate, but a factor is needed")) << e.message;
    e = FailureOf(kData, "y ~ A*B*A");
    EXPECT_EQ(e.message, "factor 'A' appears twice in this term");
    e = FailureOf(kData, "y ~ A*B + x + B:A");
    EXPECT_EQ(e.span, "B:A");
    EXPECT_EQ(e.message, "this term repeats the term 'A*B'");
    e = FailureOf(kData, "y ~ A*B + B(A)");
    EXPECT_EQ(e.span, "B(A)");
    EXPECT_TRUE(Contains(e.message, "the same columns as the term 'A*B' (nesting aside)"))
        << e.message;
    // A covariate may be crossed with itself (a power), nested in factors.
    EXPECT_EQ(FailureOf(kData, "y ~ x*x + x(A) + A*B(x)").kind, HostError::kUsage);
    EXPECT_EQ(FailureOf(kData, "y ~ x*x + x(A) + x*x*x").kind, 0);
}

TEST(ModelSpec, OptionAndDataErrorsNameTheOptionAndTheCell) {
    ModelOptions o;
    o.fvFactors = {"q"};
    Failure e = FailureOf(kData, "y ~ A", o);
    EXPECT_EQ(e.kind, HostError::kUsage);
    EXPECT_EQ(e.message,
              "--factors names 'q', which is not a column; the columns are: y, A, B, x, w");
    o = {};
    o.fRegrWeight = "W";
    e = FailureOf(kData, "y ~ A", o);
    EXPECT_EQ(e.message, "--regr-weight names 'W', which is not a column (did you mean 'w'?)");
    o = {};
    o.fFreqWeight = "x";
    e = FailureOf(kData, "y ~ A + x", o);
    EXPECT_EQ(e.message, "--freq-weight 'x' is already used as a predictor");
    o = {};
    o.fvFactors = {"y"};
    EXPECT_EQ(FailureOf(kData, "y ~ A", o).message,
              "the dependent variable 'y' cannot be a factor (--factors)");
    o = {};
    o.fvCluster = {"A", "B", "x"};
    EXPECT_EQ(FailureOf(kData, "y ~ x", o).message, "--cluster takes at most two columns");

    // Text where a number must be: the cell and its place.
    e = FailureOf("y,x\na,1\nb,2\n", "y ~ x");
    EXPECT_EQ(e.kind, HostError::kData);
    EXPECT_EQ(e.message,
              "<text>, line 2 (data row 1): the dependent variable 'y' must be numeric, but the "
              "cell holds 'a'");
    o = {};
    o.fRegrWeight = "w";
    e = FailureOf("y,x,w\n1,1,heavy\n2,2,light\n", "y ~ x", o);
    EXPECT_EQ(e.kind, HostError::kData);
    EXPECT_TRUE(Contains(e.message, "the regression weight 'w' must be numeric")) << e.message;
    EXPECT_TRUE(Contains(e.message, "'heavy'")) << e.message;
    // A dependent too large to square.
    e = FailureOf("y,x\n1e200,1\n2,2\n", "y ~ x");
    EXPECT_EQ(e.kind, HostError::kData);
    EXPECT_TRUE(Contains(e.message, "the dependent variable 'y' reaches 1e+200")) << e.message;
}

TEST(ModelSpec, DecimalCommasAreRefusedUnlessTheColumnIsAFactor) {
    // Semicolons delimit: "2,5" is a number with a decimal comma, which is
    // read as text. As a text factor it would have a level per value.
    const std::string csv = "y;x\n1;2,5\n2;3,25\n3;-0,5\n4;2,5\n";
    Failure e = FailureOf(csv, "y ~ x");
    EXPECT_EQ(e.kind, HostError::kData);
    // The example is the first category in byte order.
    EXPECT_TRUE(Contains(e.message, "column 'x' looks like numbers with decimal commas ('-0,5')"))
        << e.message;
    // Named a factor, its cells are categories.
    ModelOptions o;
    o.fvFactors = {"x"};
    const Built b = Build(csv, "y ~ x", o);
    EXPECT_EQ(b.spec->GetVariables()[1].fvCategories.size(), 3u);
    // A text that is no number among them: a text factor like any other.
    EXPECT_EQ(FailureOf("y;g\n1;2,5\n2;low\n", "y ~ g").kind, 0);
    // Where a comma delimits, a quoted "1,5" is text (thousands, perhaps),
    // not refused.
    EXPECT_EQ(FailureOf("y,g\n1,\"1,5\"\n2,\"2,5\"\n", "y ~ g").kind, 0);
    // In a numeric role, the message says what to do.
    e = FailureOf("y;x\n1,5;1\n2,5;2\n", "y ~ x");
    EXPECT_EQ(e.kind, HostError::kData);
    EXPECT_TRUE(Contains(e.message, "a number with a decimal comma: write decimal points"))
        << e.message;
}

TEST(ModelSpec, WeightsWarnAndScaleByPowersOfTwo) {
    ModelOptions fw;
    fw.fFreqWeight = "w";
    Built b = Build("y,x,w\n1,1,-1\n2,2,1\n3,3,-2\n4,5,0.5\n5,4,2\n", "y ~ x", fw);
    EXPECT_EQ(b.spec->GetNRecords(), 5u);
    EXPECT_EQ(b.spec->GetNUsed(), 3u);
    ASSERT_EQ(b.spec->GetWarnings().size(), 2u);
    EXPECT_EQ(b.spec->GetWarnings()[0],
              "warning: 2 records are left out for a negative frequency weight ('w'), as records "
              "with a missing value are");
    EXPECT_TRUE(
        Contains(b.spec->GetWarnings()[1], "the frequency weight 'w' is not a whole number"))
        << b.spec->GetWarnings()[1];
    EXPECT_TRUE(Contains(b.spec->GetWarnings()[1], "data row 4 (0.5)")) << b.spec->GetWarnings()[1];
    // Far into a block of records, the row named is still the weight's.
    std::string many = "y,x,w\n";
    for (int i = 0; i < 600; ++i) many += i == 290 ? "1,2,0.5\n" : "2,1,1\n";
    const Built far = Build(many, "y ~ x", fw);
    ASSERT_FALSE(far.spec->GetWarnings().empty());
    EXPECT_TRUE(Contains(far.spec->GetWarnings().back(), "data row 291 (0.5)"))
        << far.spec->GetWarnings().back();
    EXPECT_EQ(b.spec->GetRegrWeightScale(), 1.0);

    // Regression weights far from 1 are brought by an even power of two
    // into [1, 4): 1e30 lies in [2^99, 2^100), so 2^-98; 1e-30 in
    // [2^-100, 2^-99), so 2^100. Weights near 1 keep their scale.
    const auto scaleOf = [](const std::string& weights) {
        ModelOptions rw;
        rw.fRegrWeight = "w";
        std::string csv = "y,x,w\n";
        std::size_t start = 0;
        for (int i = 1; start < weights.size(); ++i) {
            const std::size_t end = std::min(weights.find(' ', start), weights.size());
            csv += std::to_string(i) + "," + std::to_string(i % 3) + "," +
                   weights.substr(start, end - start) + "\n";
            start = end + 1;
        }
        const Built built = Build(csv, "y ~ x", rw);
        // The records carry the scaled weight, exactly.
        auto it = built.spec->MakeIterator();
        const double first = std::strtod(weights.substr(0, weights.find(' ')).c_str(), nullptr);
        const double got = (*it->Next())[2];
        EXPECT_EQ(got, first * built.spec->GetRegrWeightScale()) << weights;
        return built.spec->GetRegrWeightScale();
    };
    EXPECT_EQ(scaleOf("1e30 2e29 3e29"), std::ldexp(1.0, -98));
    EXPECT_EQ(scaleOf("1e-30 2e-31 1e-31"), std::ldexp(1.0, 100));
    EXPECT_EQ(scaleOf("0.5 2 3"), 1.0);
    EXPECT_EQ(scaleOf("1e10 1 2"), 1.0);  // within 2^64 of 1
}

TEST(ModelSpec, CategoriesAreFoundByValueOrText) {
    ModelOptions o;
    o.fvFactors = {"n"};
    const Built b = Build("y,n,g\n1,10,b\n2,2,a\n3,2.5,B\n4,-1,a\n", "y ~ n + g", o);
    const ModelVariable& n = b.spec->GetVariables()[1];
    const ModelVariable& g = b.spec->GetVariables()[2];
    EXPECT_EQ(n.fvCategories, (std::vector<std::string>{"-1", "2", "2.5", "10"}));
    EXPECT_TRUE(n.fbNumericCategories);
    EXPECT_FALSE(g.fbNumericCategories);
    // Numbers by value, whatever their spelling.
    EXPECT_EQ(FindCategory(n, "2"), 1);
    EXPECT_EQ(FindCategory(n, "2.0"), 1);
    EXPECT_EQ(FindCategory(n, "1e1"), 3);
    EXPECT_EQ(FindCategory(n, "-1.000"), 0);
    EXPECT_EQ(FindCategory(n, "3"), -1);
    EXPECT_EQ(FindCategory(n, "ten"), -1);
    // Texts exactly.
    EXPECT_EQ(FindCategory(g, "B"), 0);
    EXPECT_EQ(FindCategory(g, "a"), 1);
    EXPECT_EQ(FindCategory(g, "A"), -1);
    EXPECT_EQ(FindCategory(g, "a "), -1);
    EXPECT_EQ(b.spec->GetTextFactors(), (std::vector<std::string>{"g"}));

    // The names a JSON report gives the roles.
    EXPECT_STREQ(RoleName(ModelVariable::kDependent), "dependent");
    EXPECT_STREQ(RoleName(ModelVariable::kFreqWeight), "frequency_weight");
    EXPECT_STREQ(RoleName(ModelVariable::kRegrWeight), "regression_weight");
}

TEST(ModelSpec, CovariatesWithoutSpreadAreNamed) {
    // 1e12 + k/1000: a spread of 0.003 against a magnitude of 1e12, far
    // below a billionth of it; t's spread of 3 is plenty.
    const Built b = Build(
        "y,x,t\n1,1000000000000.001,1\n2,1000000000000.002,2\n3,1000000000000.004,4\n"
        "5,1000000000000.003,3\n",
        "y ~ x + t");
    const std::vector<std::string> w = b.spec->SpreadWarnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(Contains(w[0], "warning: covariate 'x' varies only from 1e+12 to 1e+12")) << w[0];
    // A constant is no spread problem of this kind, and neither is a
    // covariate near zero.
    EXPECT_TRUE(Build("y,x,t\n1,5,1e-20\n2,5,3e-20\n3,5,2e-20\n", "y ~ x + t")
                    .spec->SpreadWarnings()
                    .empty());
}
