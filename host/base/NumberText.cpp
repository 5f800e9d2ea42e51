#include "host/base/NumberText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace mchost {

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string FormatAs(double v, std::chars_format format, int precision) {
    char buf[512];  // room for the widest fixed text of a double
    const auto res = std::to_chars(buf, buf + sizeof buf, v, format, precision);
    return std::string(buf, res.ptr);
}

std::string Number(double v) {
    return std::isnan(v) ? "" : FormatAs(v, std::chars_format::general, 6);
}

std::string NumberText(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string PercentText(double level) {
    // The decimal point of the level's shortest text moved by two places,
    // so that no digit is lost or made up by a multiplication.
    const std::string text = NumberText(level);
    if (!(level > 0.0 && level < 1.0) || text.compare(0, 2, "0.") != 0)
        return Format("%g", level * 100.0);
    std::string digits = text.substr(2);
    while (digits.size() < 2) digits += '0';
    std::string whole = digits.substr(0, 2);
    if (whole[0] == '0') whole.erase(0, 1);
    const std::string fraction = digits.substr(2);
    return fraction.empty() ? whole : whole + "." + fraction;
}

bool HasDecimalComma(const std::string& s) {
    std::size_t i = s.find_first_not_of("+-") == 1 ? 1 : 0;
    const std::size_t comma = s.find(',', i);
    if (comma == std::string::npos || comma == i || comma + 1 == s.size()) return false;
    for (; i < s.size(); ++i)
        if (i != comma && !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

}  // namespace mchost
