#pragma once
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/base/NumberText.h"

namespace mchost {

// What a JSON report holds besides the results: run times make two runs'
// documents differ, and a covariance matrix can be large.
class JsonOptions {
public:
    bool fbTiming = false;
    bool fbCovariance = false;
};

// A count such as degrees of freedom: a whole number without a fraction
// or an exponent, fifteen significant digits otherwise; empty when missing.
std::string Count(double v);
// A significance: four decimals, or an exponent below 0.001; empty when
// missing.
std::string PValue(double p);
// A number for JSON: null when missing or infinite.
nlohmann::ordered_json JsonNumber(double v);
// The variables' names, roles and factor categories.
template <class Variables>
nlohmann::ordered_json JsonVariables(const Variables& variables) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& v : variables) {
        nlohmann::ordered_json o;
        o["name"] = v.fName;
        o["role"] = v.fRole;
        if (v.fRole == "factor" || !v.fvCategories.empty()) o["categories"] = v.fvCategories;
        list.push_back(std::move(o));
    }
    return list;
}
// A count such as degrees of freedom: a JSON integer when whole.
nlohmann::ordered_json JsonCount(double v);
// A count for people: no decimals; empty when missing.
std::string Whole(double v);
// The document as text: two-blank indents, bytes that are not UTF-8 (a
// Latin-1 data file) replaced by U+FFFD.
std::string JsonText(const nlohmann::ordered_json& j);

// A label as a table shows it: bytes that are not UTF-8 become U+FFFD, and
// control characters are escaped ("\t", "\n", "\r", "\x1b"), so that no
// cell can break a line or move the cursor.
std::string DisplayText(const std::string& text);
// The columns a UTF-8 text takes on a terminal: wide East Asian characters
// two, combining marks none, every other character one.
std::size_t DisplayWidth(const std::string& utf8);

// The text cut to maxWidth columns, its last an ellipsis, when it is wider.
std::string ShortenForDisplay(const std::string& text, std::size_t maxWidth);

// "A, B (none of their cells is a number)": the head line that says which
// columns were read as factors without --factors.
std::string TextFactorsLine(const std::vector<std::string>& names);

// Columns of text two blanks apart: the first left-aligned, the others
// right-aligned for numbers or left-aligned for label/value lists. A cell
// wider than the table's most is shortened with an ellipsis, so that one
// huge label cannot widen every line; JSON and files keep it whole.
class TextTable {
public:
    static constexpr std::size_t kMaxCellWidth = 100;
    static constexpr std::size_t kMaxListCellWidth = 1000;

    explicit TextTable(bool rightAlign = true) : fbRightAlign(rightAlign) {}
    // The first n columns hold texts: left-aligned (1 by default).
    void SetTextColumns(std::size_t n) { fNTextColumns = n; }
    void Add(std::vector<std::string> row) { fvRows.push_back(std::move(row)); }
    // A line of dashes before the next row.
    void Rule() { fvRules.push_back(fvRows.size()); }
    std::string Render(const std::string& indent) const;

private:
    std::vector<std::vector<std::string>> fvRows;
    std::vector<std::size_t> fvRules;
    bool fbRightAlign;
    std::size_t fNTextColumns = 1;
};

}  // namespace mchost
