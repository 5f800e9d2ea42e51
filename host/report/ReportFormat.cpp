#include "host/report/ReportFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "companion/Utf8.h"

namespace mchost {

using MCCommon_850::Utf8::NextCodePoint;

std::string Count(double v) {
    if (!std::isfinite(v)) return Number(v);
    if (v == std::floor(v) && std::fabs(v) < 1e15) return FormatAs(v, std::chars_format::fixed, 0);
    // Fractional frequency weights give fractional counts: to the digits
    // they have, not rounded to six.
    return FormatAs(v, std::chars_format::general, 15);
}

std::string PValue(double p) {
    if (std::isnan(p)) return "";
    if (p >= 0.001) return FormatAs(p, std::chars_format::fixed, 4);
    if (p == 0.0) return "<1e-300";
    return FormatAs(p, std::chars_format::scientific, 2);
}

nlohmann::ordered_json JsonNumber(double v) {
    if (std::isnan(v) || std::isinf(v)) return nullptr;
    return v;
}

nlohmann::ordered_json JsonCount(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 9e15)
        return static_cast<long long>(v);
    return JsonNumber(v);
}

std::string Whole(double v) {
    return std::isnan(v) ? "" : Format("%.0f", v);
}

std::string JsonText(const nlohmann::ordered_json& j) {
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

namespace {

bool InRanges(long cp, std::initializer_list<std::pair<long, long>> ranges) {
    for (const auto& r : ranges)
        if (cp >= r.first && cp <= r.second) return true;
    return false;
}

std::size_t CodePointWidth(long cp) {
    // Below the combining marks every character is one column wide: the
    // tables of numbers need no search.
    if (cp < 0x0300) return 1;
    if (InRanges(cp, {{0x0300, 0x036F},
                      {0x1AB0, 0x1AFF},
                      {0x1DC0, 0x1DFF},
                      {0x200B, 0x200F},
                      {0x20D0, 0x20FF},
                      {0xFE00, 0xFE0F},
                      {0xFE20, 0xFE2F}}))
        return 0;
    if (InRanges(cp, {{0x1100, 0x115F},
                      {0x2E80, 0x303E},
                      {0x3041, 0x33FF},
                      {0x3400, 0x4DBF},
                      {0x4E00, 0x9FFF},
                      {0xA000, 0xA4CF},
                      {0xAC00, 0xD7A3},
                      {0xF900, 0xFAFF},
                      {0xFE30, 0xFE4F},
                      {0xFF00, 0xFF60},
                      {0xFFE0, 0xFFE6},
                      {0x1F300, 0x1F64F},
                      {0x1F900, 0x1F9FF},
                      {0x20000, 0x3FFFD}}))
        return 2;
    return 1;
}

// Printable ASCII: shown as it is, a column a byte. Most cells of a report
// (numbers, codes) are nothing else and skip the decoding.
bool IsPlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

std::string DisplayText(const std::string& text) {
    if (IsPlainAscii(text)) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t from = i;
        const long cp = NextCodePoint(text, i);
        if (cp < 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
            const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[(cp >> 4) & 15];
            out += hex[cp & 15];
        } else {
            out.append(text, from, i - from);
        }
    }
    return out;
}

std::size_t DisplayWidth(const std::string& utf8) {
    if (IsPlainAscii(utf8)) return utf8.size();
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const long cp = NextCodePoint(utf8, i);
        width += cp < 0 ? 1 : CodePointWidth(cp);
    }
    return width;
}

std::string TextFactorsLine(const std::vector<std::string>& names) {
    std::string line;
    for (const std::string& n : names) line += (line.empty() ? "" : ", ") + n;
    return line + (names.size() == 1 ? " (none of its cells is a number)"
                                     : " (none of their cells is a number)");
}

std::string ShortenForDisplay(const std::string& text, std::size_t maxWidth) {
    if (maxWidth == 0 || DisplayWidth(text) <= maxWidth) return text;
    std::size_t width = 0, i = 0;
    while (i < text.size()) {
        std::size_t next = i;
        const long cp = NextCodePoint(text, next);
        const std::size_t w = cp < 0 ? 1 : CodePointWidth(cp);
        if (width + w > maxWidth - 1) break;
        width += w;
        i = next;
    }
    return text.substr(0, i) + "\xE2\x80\xA6";  // U+2026, the ellipsis
}

std::string TextTable::Render(const std::string& indent) const {
    // Cells are shown as they are unless they hold more than printable
    // ASCII or are too wide: only those are copied (a table of comparisons
    // has millions of cells).
    const std::size_t maxWidth = fbRightAlign ? kMaxCellWidth : kMaxListCellWidth;
    std::vector<std::vector<std::string>> changed(fvRows.size());
    std::vector<std::vector<std::size_t>> widths(fvRows.size());
    std::vector<std::size_t> width;
    for (std::size_t i = 0; i < fvRows.size(); ++i) {
        const auto& raw = fvRows[i];
        changed[i].resize(raw.size());
        widths[i].resize(raw.size());
        for (std::size_t j = 0; j < raw.size(); ++j) {
            const std::string& cell = raw[j];
            if (!IsPlainAscii(cell) || cell.size() > maxWidth) {
                changed[i][j] = ShortenForDisplay(DisplayText(cell), maxWidth);
                widths[i][j] = DisplayWidth(changed[i][j]);
            } else {
                widths[i][j] = cell.size();
            }
        }
        width.resize(std::max(width.size(), raw.size()), 0);
        for (std::size_t j = 0; j < raw.size(); ++j) width[j] = std::max(width[j], widths[i][j]);
    }
    std::size_t total = 0;
    for (std::size_t w : width) total += w + 2;
    std::string out;
    out.reserve((indent.size() + total + 1) * (fvRows.size() + fvRules.size()));
    std::string line;
    for (std::size_t i = 0; i <= fvRows.size(); ++i) {
        if (std::count(fvRules.begin(), fvRules.end(), i)) {
            out += indent;
            out.append(total > 2 ? total - 2 : 0, '-');
            out += '\n';
        }
        if (i == fvRows.size()) break;
        line = indent;
        const auto& row = fvRows[i];
        for (std::size_t j = 0; j < row.size(); ++j) {
            const std::string& cell = changed[i][j].empty() ? row[j] : changed[i][j];
            const std::size_t pad = width[j] - widths[i][j];
            if (j > 0) line += "  ";
            if (j < fNTextColumns || !fbRightAlign) {
                line += cell;
                line.append(pad, ' ');
            } else {
                line.append(pad, ' ');
                line += cell;
            }
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace mchost
