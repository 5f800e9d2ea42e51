#pragma once
#include <charconv>
#include <string>

namespace mchost {

// printf-style formatting of one number.
std::string Format(const char* fmt, double v);
// The text printf gives for "%.*g" (general), "%.*f" (fixed) or "%.*e"
// (scientific) with this precision, without printf's cost: a report of
// millions of comparisons formats tens of millions of numbers.
std::string FormatAs(double v, std::chars_format format, int precision);
// Six significant digits; empty for a missing (NaN) value.
std::string Number(double v);

// The shortest text that reads back as v ("4", "0.1", "1e+20").
std::string NumberText(double v);

// A level between 0 and 1 as a percentage with all its digits: 0.95 as
// "95", 0.9999999 as "99.99999" (six significant digits would say 100).
std::string PercentText(double level);

// "2,5" or "-0,25": a number written with a decimal comma, which the
// readers take for text.
bool HasDecimalComma(const std::string& s);

}  // namespace mchost
