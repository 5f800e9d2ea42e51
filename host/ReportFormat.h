#pragma once
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace mchost {

// printf-style formatting of one number.
std::string Format(const char* fmt, double v);
// Six significant digits; empty for a missing (NaN) value.
std::string Number(double v);
// A significance: four decimals, or an exponent below 0.001; empty when
// missing.
std::string PValue(double p);
// A number for JSON: null when missing or infinite.
nlohmann::ordered_json JsonNumber(double v);
// A count such as degrees of freedom: a JSON integer when whole.
nlohmann::ordered_json JsonCount(double v);
// A count for people: no decimals; empty when missing.
std::string Whole(double v);

// Columns of text two blanks apart: the first left-aligned, the others
// right-aligned for numbers or left-aligned for label/value lists.
class TextTable {
public:
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
