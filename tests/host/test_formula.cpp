// The formula parser: term structure, canonical text and errors that point
// at the offending place.
#include <gtest/gtest.h>

#include "host/base/HostError.h"
#include "host/model/Formula.h"

using mchost::Formula;
using mchost::FormulaError;
using mchost::ParseFormula;

namespace {

// The groups of a term as "A*B|C" for compact comparison.
std::string Shape(const mchost::FormulaTerm& t) {
    std::string s;
    for (std::size_t g = 0; g < t.fvGroups.size(); ++g) {
        if (g) s += '|';
        for (std::size_t i = 0; i < t.fvGroups[g].size(); ++i)
            s += (i ? "*" : "") + t.fvGroups[g][i].fName;
    }
    return s;
}

// The span an error points at, as the text under the carets.
std::string ErrorSpan(const std::string& text) {
    try {
        ParseFormula(text);
    } catch (const FormulaError& e) {
        EXPECT_EQ(e.GetKind(), mchost::HostError::kUsage);
        return e.GetPos() >= text.size() ? "<end>" : text.substr(e.GetPos(), e.GetLen());
    }
    return "<no error>";
}

}  // namespace

TEST(Formula, TermsNestingAndCanonicalText) {
    const Formula f = ParseFormula(" y~A + B:C*x + A*B(C) + A(B(C)) + x(A) + `odd name`*x + 1");
    EXPECT_EQ(f.fDependent.fName, "y");
    EXPECT_EQ(f.fDependent.fPos, 1u);
    ASSERT_EQ(f.fvTerms.size(), 6u);
    EXPECT_EQ(Shape(f.fvTerms[0]), "A");
    EXPECT_EQ(Shape(f.fvTerms[1]), "B*C*x");
    EXPECT_EQ(Shape(f.fvTerms[2]), "A*B|C");
    EXPECT_EQ(Shape(f.fvTerms[3]), "A|B|C");
    EXPECT_EQ(Shape(f.fvTerms[4]), "x|A");
    EXPECT_EQ(Shape(f.fvTerms[5]), "odd name*x");
    EXPECT_TRUE(f.fbInterceptAsked);
    EXPECT_FALSE(f.fbInterceptRemoved);
    EXPECT_EQ(f.fvTerms[1].Text(), "B*C*x");
    EXPECT_EQ(f.fvTerms[3].Text(), "A(B(C))");
    EXPECT_EQ(f.fvTerms[5].Text(), "`odd name`*x");
    // A term's span covers its text without trailing blanks.
    EXPECT_EQ(f.fText.substr(f.fvTerms[2].fPos, f.fvTerms[2].fLen), "A*B(C)");
    // Canonical text reads back to the same structure.
    for (const auto& t : f.fvTerms)
        EXPECT_EQ(Shape(ParseFormula("y ~ " + t.Text()).fvTerms.at(0)), Shape(t));
    EXPECT_TRUE(ParseFormula("y ~ 0 + x").fbInterceptRemoved);
}

TEST(Formula, ErrorsPointAtTheProblem) {
    EXPECT_EQ(ErrorSpan("y ~ A(B"), "(");  // unclosed parenthesis
    EXPECT_EQ(ErrorSpan("y ~ A(B(C)"), "(");
    EXPECT_EQ(ErrorSpan("y ~ A + B)"), ")");  // no matching '('
    EXPECT_EQ(ErrorSpan("y ~ A * + B"), "+");
    EXPECT_EQ(ErrorSpan("y ~ A + "), "<end>");
    EXPECT_EQ(ErrorSpan("y A"), "A");  // no tilde
    EXPECT_EQ(ErrorSpan("~ A"), "~");
    EXPECT_EQ(ErrorSpan("y ~ A(B)*C"), "*");
    EXPECT_EQ(ErrorSpan("y ~ `A"), "`");
    EXPECT_EQ(ErrorSpan("y ~ 0 + 1"), "1");
    EXPECT_EQ(ErrorSpan("y ~ A ~ B"), "~");
    // The carets stand under the span, counted in characters.
    EXPECT_EQ(mchost::PointAt("y ~ \xC3\xA9t\xC3\xA9 + wol", 12, 3),
              "  y ~ \xC3\xA9t\xC3\xA9 + wol\n" + std::string(12, ' ') + "^^^");
    EXPECT_EQ(mchost::PointAt("y ~", 3, 1), "  y ~\n     ^");
}
