#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace mchost {

// A variable name as written in a formula, with its place in the text.
class FormulaName {
public:
    std::string fName;
    std::size_t fPos = 0;
    std::size_t fLen = 0;
};

// One model term. The written product comes first, then the content of
// each pair of parentheses, inward: A*B(C) is {{A, B}, {C}}, A(B(C)) is
// {{A}, {B}, {C}}, x(A) is {{x}, {A}}. Each later group encloses the
// earlier ones.
class FormulaTerm {
public:
    std::vector<std::vector<FormulaName>> fvGroups;
    std::size_t fPos = 0;
    std::size_t fLen = 0;

    // The term written back canonically: names joined by "*", groups by
    // parentheses ("A*B(C)"); names that would not read back as one name
    // are put in backquotes.
    std::string Text() const;
};

// dep ~ term + term + ...; "1" asks for the intercept and "0" removes it.
// A name is a run of characters other than blanks and ~ + * : ( ) `, or
// any text in backquotes.
class Formula {
public:
    std::string fText;
    FormulaName fDependent;
    std::vector<FormulaTerm> fvTerms;
    bool fbInterceptRemoved = false;  // a "0" term
    bool fbInterceptAsked = false;    // a "1" term
};

// Throws FormulaError, with the offending span, for text that is not a
// formula.
Formula ParseFormula(const std::string& text);

// A note for an R user, or "" when none is due: a term written with "*"
// is the interaction alone here, while R adds the terms it contains. The
// note names the first such term and shows the formula that adds the
// missing ones ("y ~ A + x + A*x").
std::string MissingMarginsNote(const Formula& formula);

// The text under a message: the formula on one line and carets under
// [pos, pos + len) on the next, both indented by two blanks.
std::string PointAt(const std::string& text, std::size_t pos, std::size_t len);

}  // namespace mchost
