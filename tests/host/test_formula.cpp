// The formula parser: term structure, canonical text, the note for R users
// and errors that point at the offending place.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/base/HostError.h"
#include "host/model/Formula.h"

using mchost::Formula;
using mchost::FormulaError;
using mchost::ParseFormula;
using testing::AllOf;
using testing::HasSubstr;
using testing::Not;
using Strings = std::vector<std::string>;

namespace {

// The groups of each term as "A*B|C", and each term's canonical text.
Strings Shapes(const Formula& f) {
    Strings out;
    for (const mchost::FormulaTerm& t : f.fvTerms) {
        std::string s;
        for (std::size_t g = 0; g < t.fvGroups.size(); ++g) {
            if (g) s += '|';
            for (std::size_t i = 0; i < t.fvGroups[g].size(); ++i)
                s += (i ? "*" : "") + t.fvGroups[g][i].fName;
        }
        out.push_back(s);
    }
    return out;
}

Strings Texts(const Formula& f) {
    Strings out;
    for (const mchost::FormulaTerm& t : f.fvTerms) out.push_back(t.Text());
    return out;
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
    // ":" and "*" both write a product; blanks and tabs between names go;
    // nesting reads inward and the canonical text keeps every parenthesis.
    Formula f = ParseFormula(
        " y~A + B:C*x + A*B(C) + A(B(C)) + x(A) + `odd name`*x +\tx * z(A*B) + `x+1` + 1");
    EXPECT_EQ(f.fDependent.fName, "y");
    EXPECT_EQ(f.fDependent.fPos, 1u);
    EXPECT_EQ(Shapes(f),
              (Strings{"A", "B*C*x", "A*B|C", "A|B|C", "x|A", "odd name*x", "x*z|A*B", "x+1"}));
    EXPECT_EQ(Texts(f), (Strings{"A", "B*C*x", "A*B(C)", "A(B(C))", "x(A)", "`odd name`*x",
                                 "x*z(A*B)", "`x+1`"}));
    EXPECT_TRUE(f.fbInterceptAsked);
    EXPECT_FALSE(f.fbInterceptRemoved);
    // A term's span covers its text without trailing blanks.
    EXPECT_EQ(f.fText.substr(f.fvTerms[2].fPos, f.fvTerms[2].fLen), "A*B(C)");
    // Canonical text reads back to the same structure.
    for (std::size_t k = 0; k < f.fvTerms.size(); ++k)
        EXPECT_EQ(Shapes(ParseFormula("y ~ " + Texts(f)[k])), Strings{Shapes(f)[k]});

    // A name written back needs its quotes only when it would not read as
    // one name: dots and underscores are part of a name.
    f = ParseFormula("log.y ~ a_1 + b.2*c3");
    EXPECT_EQ(f.fDependent.fName, "log.y");
    EXPECT_EQ(Texts(f), (Strings{"a_1", "b.2*c3"}));
    f = ParseFormula("`my y` ~ `(x)`");
    EXPECT_EQ(f.fDependent.fName, "my y");
    EXPECT_EQ(Texts(f), Strings{"`(x)`"});
    EXPECT_EQ(Shapes(ParseFormula("y ~ " + Texts(f)[0])), Strings{"(x)"});

    // "1" only asks for the intercept, "0" removes it; neither is a term.
    f = ParseFormula("y ~ 1");
    EXPECT_TRUE(f.fvTerms.empty());
    EXPECT_TRUE(f.fbInterceptAsked);
    f = ParseFormula("y ~ x + 0");
    EXPECT_EQ(Texts(f), Strings{"x"});
    EXPECT_TRUE(f.fbInterceptRemoved);
    EXPECT_FALSE(f.fbInterceptAsked);
}

TEST(Formula, MissingMarginsNoteForRUsers) {
    const auto note = [](const std::string& text) {
        return MissingMarginsNote(ParseFormula(text));
    };
    // Every term an interaction contains is there, or no "*" is written.
    for (const char* complete :
         {"y ~ A + B + A*B", "y ~ A + x + x*A", "y ~ A:B", "y ~ A(B) + x(A)", "y ~ x"})
        EXPECT_EQ(note(complete), "") << complete;

    EXPECT_EQ(note("y ~ A*B"),
              "note: 'A*B' is the interaction term alone, without A, B (unlike R, '*' does not "
              "add the terms it contains); the model with them is: y ~ A + B + A*B");
    // Only the missing ones are added, before the term that lacks them.
    EXPECT_THAT(note("y ~ A + x*A"),
                AllOf(HasSubstr("'x*A' is the interaction term alone, without x ("),
                      HasSubstr("the model with them is: y ~ A + x + x*A")));
    // A three-way product lacks its two-way products too; a later term
    // that was missing is not added twice.
    EXPECT_THAT(note("y ~ A*B*C + B"), AllOf(HasSubstr("without A, C, A*B, A*C, B*C ("),
                                             HasSubstr("y ~ A + C + A*B + A*C + B*C + A*B*C + B")));
    // The intercept stays removed; a dependent that needs quotes has them.
    EXPECT_THAT(note("`my y` ~ 0 + A*x"), HasSubstr("is: `my y` ~ A + x + A*x + 0"));
    // A power has one term of each lower power.
    EXPECT_THAT(note("y ~ x*x*x*x"), HasSubstr("without x, x*x, x*x*x ("));
    // A product of many names has more terms than a note lists, and more
    // subsets of its places than could ever be counted: it is named alone.
    std::string many = "y ~ x0", power = "y ~ x";
    for (int i = 1; i < 40; ++i) many += "*x" + std::to_string(i);
    for (int i = 1; i < 70; ++i) power += "*x";
    for (const std::string& f : {many, power})
        EXPECT_THAT(note(f), AllOf(HasSubstr("without the terms it contains"),
                                   HasSubstr("too many to list"), Not(HasSubstr("model with"))));
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
