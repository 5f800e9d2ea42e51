#pragma once
#include <string>

namespace mchost {

// printf-style formatting of one number.
std::string Format(const char* fmt, double v);
// Six significant digits; empty for a missing (NaN) value.
std::string Number(double v);

// The shortest text that reads back as v ("4", "0.1", "1e+20").
std::string NumberText(double v);

// "2,5" or "-0,25": a number written with a decimal comma, which the
// readers take for text.
bool HasDecimalComma(const std::string& s);

}  // namespace mchost
