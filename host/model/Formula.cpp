#include "host/model/Formula.h"

#include <algorithm>
#include <set>

#include "host/base/HostError.h"

namespace mchost {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsSpecial(char c) {
    return c == '~' || c == '+' || c == '*' || c == ':' || c == '(' || c == ')' || c == '`';
}

enum class Tok { kName, kTilde, kPlus, kTimes, kOpen, kClose, kEnd };

struct Token {
    Tok fKind = Tok::kEnd;
    std::size_t fPos = 0;
    std::size_t fLen = 0;
    std::string fText;  // the name, backquotes removed
    bool fbQuoted = false;
};

class Parser {
public:
    explicit Parser(const std::string& text) : fText(text) { Advance(); }

    Formula Parse();

private:
    void Advance();
    [[noreturn]] void Fail(const std::string& message, std::size_t pos, std::size_t len) const {
        throw FormulaError(message, pos, len == 0 ? 1 : len);
    }
    [[noreturn]] void Unexpected(const std::string& wanted) const;
    FormulaName TakeName(const std::string& what);
    void ParseNested(FormulaTerm& term);

    const std::string& fText;
    std::size_t fAt = 0;
    Token fTok;
};

void Parser::Advance() {
    while (fAt < fText.size() && IsBlank(fText[fAt])) ++fAt;
    fTok = Token();
    fTok.fPos = fAt;
    if (fAt >= fText.size()) return;
    const char c = fText[fAt];
    switch (c) {
        case '~':
            fTok.fKind = Tok::kTilde;
            break;
        case '+':
            fTok.fKind = Tok::kPlus;
            break;
        case '*':
        case ':':
            fTok.fKind = Tok::kTimes;
            break;
        case '(':
            fTok.fKind = Tok::kOpen;
            break;
        case ')':
            fTok.fKind = Tok::kClose;
            break;
        case '`': {
            const std::size_t close = fText.find('`', fAt + 1);
            if (close == std::string::npos) Fail("unclosed backquote", fAt, 1);
            if (close == fAt + 1) Fail("empty name in backquotes", fAt, 2);
            fTok.fKind = Tok::kName;
            fTok.fbQuoted = true;
            fTok.fText = fText.substr(fAt + 1, close - fAt - 1);
            fTok.fLen = close + 1 - fAt;
            fAt = close + 1;
            return;
        }
        default: {
            std::size_t end = fAt;
            while (end < fText.size() && !IsBlank(fText[end]) && !IsSpecial(fText[end])) ++end;
            fTok.fKind = Tok::kName;
            fTok.fText = fText.substr(fAt, end - fAt);
            fTok.fLen = end - fAt;
            fAt = end;
            return;
        }
    }
    fTok.fLen = 1;
    ++fAt;
}

void Parser::Unexpected(const std::string& wanted) const {
    switch (fTok.fKind) {
        case Tok::kEnd:
            Fail("the formula ends where " + wanted + " is expected", fTok.fPos, 1);
        case Tok::kClose:
            Fail("unbalanced parenthesis: this ')' has no matching '('", fTok.fPos, 1);
        default:
            break;
    }
    Fail("expected " + wanted + " here", fTok.fPos, fTok.fLen);
}

FormulaName Parser::TakeName(const std::string& what) {
    if (fTok.fKind != Tok::kName) Unexpected(what);
    FormulaName n;
    n.fName = fTok.fText;
    n.fPos = fTok.fPos;
    n.fLen = fTok.fLen;
    Advance();
    return n;
}

// product [ '(' nested ')' ]
void Parser::ParseNested(FormulaTerm& term) {
    std::vector<FormulaName> group;
    group.push_back(TakeName("a variable name"));
    while (fTok.fKind == Tok::kTimes) {
        Advance();
        group.push_back(TakeName("a variable name after '*'"));
    }
    term.fvGroups.push_back(std::move(group));
    if (fTok.fKind != Tok::kOpen) return;
    const std::size_t open = fTok.fPos;
    Advance();
    ParseNested(term);
    if (fTok.fKind == Tok::kEnd) Fail("unbalanced parenthesis: this '(' is not closed", open, 1);
    if (fTok.fKind != Tok::kClose) Unexpected("')' or '*'");
    Advance();
}

Formula Parser::Parse() {
    Formula f;
    f.fText = fText;
    f.fDependent = TakeName("the dependent variable");
    if (fTok.fKind != Tok::kTilde) Unexpected("'~' after the dependent variable");
    Advance();
    for (;;) {
        const std::size_t start = fTok.fPos;
        if (fTok.fKind == Tok::kName && !fTok.fbQuoted &&
            (fTok.fText == "0" || fTok.fText == "1")) {
            (fTok.fText == "0" ? f.fbInterceptRemoved : f.fbInterceptAsked) = true;
            if (f.fbInterceptRemoved && f.fbInterceptAsked)
                Fail("the formula both asks for the intercept (1) and removes it (0)", fTok.fPos,
                     1);
            Advance();
        } else {
            FormulaTerm term;
            term.fPos = start;
            ParseNested(term);
            const std::size_t end = fTok.fKind == Tok::kEnd ? fText.size() : fTok.fPos;
            std::size_t last = end;
            while (last > start && IsBlank(fText[last - 1])) --last;
            term.fLen = last - start;
            f.fvTerms.push_back(std::move(term));
        }
        if (fTok.fKind == Tok::kEnd) break;
        if (fTok.fKind != Tok::kPlus) Unexpected("'+' or the end of the formula");
        Advance();
    }
    return f;
}

bool NeedsQuotes(const std::string& name) {
    if (name.empty() || name == "0" || name == "1") return true;
    for (char c : name)
        if (IsBlank(c) || IsSpecial(c)) return true;
    return false;
}

}  // namespace

std::string FormulaTerm::Text() const {
    std::string out;
    for (std::size_t g = 0; g < fvGroups.size(); ++g) {
        if (g > 0) out += '(';
        for (std::size_t i = 0; i < fvGroups[g].size(); ++i) {
            if (i > 0) out += '*';
            const std::string& n = fvGroups[g][i].fName;
            out += NeedsQuotes(n) ? "`" + n + "`" : n;
        }
    }
    out.append(fvGroups.empty() ? 0 : fvGroups.size() - 1, ')');
    return out;
}

namespace {

// A term of one group as its sorted names, "" for a nested term.
std::vector<std::string> SortedNames(const FormulaTerm& t) {
    std::vector<std::string> names;
    if (t.fvGroups.size() != 1) return names;
    for (const FormulaName& n : t.fvGroups.front()) names.push_back(n.fName);
    std::sort(names.begin(), names.end());
    return names;
}

// How many proper sub-products a product of two or more sorted names has
// (x*x*z has four), or more than `most` when there are more than that.
std::size_t CountSubProducts(const std::vector<std::string>& names, std::size_t most) {
    std::size_t all = 1;  // the empty and the whole product counted
    for (std::size_t i = 0; i < names.size();) {
        std::size_t m = 1;
        while (i + m < names.size() && names[i + m] == names[i]) ++m;
        all *= m + 1;
        if (all > most + 2) return most + 1;
        i += m;
    }
    return all - 2;
}

// The proper sub-products of a product of sorted names, smaller first,
// each once (x*x*z has x, z, x*x, x*z), in the order of the first subset
// of the names' places that makes each, places counted as binary digits.
// Made as counts of each distinct name, so that the work is the number of
// sub-products, not of subsets: x*x*...*x has one of each power.
std::vector<std::vector<std::string>> SubProducts(const std::vector<std::string>& names) {
    std::vector<std::size_t> starts, counts;  // per distinct name
    for (std::size_t i = 0; i < names.size(); i += counts.back()) {
        starts.push_back(i);
        counts.push_back(1);
        while (i + counts.back() < names.size() && names[i + counts.back()] == names[i])
            ++counts.back();
    }
    // A sub-product's first subset takes the first places of each name;
    // subsets compare by their highest places first.
    struct Sub {
        std::vector<std::size_t> places;  // highest first
        std::vector<std::string> names;
    };
    std::vector<Sub> subs;
    std::vector<std::size_t> take(counts.size(), 0);
    for (;;) {
        std::size_t i = 0;
        while (i < take.size() && take[i] == counts[i]) take[i++] = 0;
        if (i == take.size()) break;
        ++take[i];
        if (take == counts) break;
        Sub sub;
        for (std::size_t d = 0; d < take.size(); ++d)
            for (std::size_t t = 0; t < take[d]; ++t) {
                sub.places.push_back(starts[d] + t);
                sub.names.push_back(names[starts[d]]);
            }
        std::sort(sub.places.rbegin(), sub.places.rend());
        subs.push_back(std::move(sub));
    }
    std::sort(subs.begin(), subs.end(), [](const Sub& a, const Sub& b) {
        if (a.places.size() != b.places.size()) return a.places.size() < b.places.size();
        return a.places < b.places;
    });
    std::vector<std::vector<std::string>> out;
    for (Sub& sub : subs) out.push_back(std::move(sub.names));
    return out;
}

std::string ProductText(const std::vector<std::string>& names) {
    FormulaTerm t;
    t.fvGroups.emplace_back();
    for (const std::string& n : names) {
        FormulaName fn;
        fn.fName = n;
        t.fvGroups.back().push_back(fn);
    }
    return t.Text();
}

}  // namespace

std::string MissingMarginsNote(const Formula& formula) {
    // Six names have 62.
    constexpr std::size_t kMostSubProductsListed = 62;
    std::set<std::vector<std::string>> present;
    for (const FormulaTerm& t : formula.fvTerms) present.insert(SortedNames(t));
    // A product of many names contains more terms than the formula holds
    // and than a note can list: it is named alone, and no model offered.
    const std::size_t most = std::max(kMostSubProductsListed, present.size());
    for (const FormulaTerm& t : formula.fvTerms) {
        const std::string written = formula.fText.substr(t.fPos, t.fLen);
        const std::vector<std::string> names = SortedNames(t);
        if (names.size() > 1 && written.find('*') != std::string::npos &&
            CountSubProducts(names, most) > most)
            return "note: '" + written +
                   "' is the interaction term alone, without the terms it contains (unlike R, "
                   "'*' does not add them), which are too many to list here";
    }
    std::string note, rewritten, missingList;
    std::set<std::vector<std::string>> added;
    for (const FormulaTerm& t : formula.fvTerms) {
        const std::string written = formula.fText.substr(t.fPos, t.fLen);
        const std::vector<std::string> names = SortedNames(t);
        if (names.size() > 1 && written.find('*') != std::string::npos) {
            for (const std::vector<std::string>& sub : SubProducts(names)) {
                if (present.count(sub) || !added.insert(sub).second) continue;
                rewritten += (rewritten.empty() ? "" : " + ") + ProductText(sub);
                if (note.empty())
                    missingList += (missingList.empty() ? "" : ", ") + ProductText(sub);
            }
            if (note.empty() && !added.empty()) note = written;
        }
        rewritten += (rewritten.empty() ? "" : " + ") + written;
    }
    if (note.empty()) return "";
    const std::string& dep = formula.fDependent.fName;
    return "note: '" + note + "' is the interaction term alone, without " + missingList +
           " (unlike R, '*' does not add the terms it contains); the model with them is: " +
           (NeedsQuotes(dep) ? "`" + dep + "`" : dep) + " ~ " + rewritten +
           (formula.fbInterceptRemoved ? " + 0" : "");
}

Formula ParseFormula(const std::string& text) {
    return Parser(text).Parse();
}

std::string PointAt(const std::string& text, std::size_t pos, std::size_t len) {
    // Columns are counted in characters, not bytes, so the carets stay
    // under a name that follows non-ASCII text.
    std::string line, marks;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool continuation = (c & 0xC0) == 0x80;
        line += IsBlank(text[i]) ? ' ' : text[i];
        if (continuation) continue;
        if (i < pos)
            marks += ' ';
        else if (i < pos + len)
            marks += '^';
    }
    if (pos >= text.size()) marks += '^';
    return "  " + line + "\n  " + marks;
}

}  // namespace mchost
