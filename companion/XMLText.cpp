#include "companion/XMLText.h"

#include <array>

#include "companion/Utf8.h"

namespace MCXML_850 {
namespace XMLText {

namespace {

// What a byte asks for where it stands: copied as it is, a markup or
// control character with its own spelling, or the start of a multi-byte
// sequence that must be decoded first.
enum Kind : unsigned char { kPlain, kSpecial, kMultiByte };

constexpr std::array<unsigned char, 256> Kinds(bool attribute) {
    std::array<unsigned char, 256> k{};
    for (int b = 0; b < 256; ++b) k[b] = b < 0x20 ? kSpecial : b < 0x80 ? kPlain : kMultiByte;
    k['&'] = k['<'] = kSpecial;
    k[attribute ? '"' : '>'] = kSpecial;
    if (!attribute) k['\t'] = k['\n'] = kPlain;
    return k;
}

constexpr std::array<unsigned char, 256> kAttribute = Kinds(true);
constexpr std::array<unsigned char, 256> kContent = Kinds(false);

// U+FFFD and the byte's two hexadecimal digits.
void AppendByteEscape(std::string& out, unsigned char b) {
    const char* hex = "0123456789ABCDEF";
    out += "\xEF\xBF\xBD";
    out += hex[b >> 4];
    out += hex[b & 15];
}

void AppendSpecial(std::string& out, unsigned char b) {
    switch (b) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += "&quot;";
            return;
        // Two digits, as most writers spell them.
        case '\t':
            out += "&#09;";
            return;
        case '\n':
            out += "&#10;";
            return;
        case '\r':
            out += "&#13;";
            return;
        default:
            AppendByteEscape(out, b);
    }
}

void Append(std::string& out, const char* s, std::size_t n,
            const std::array<unsigned char, 256>& kinds) {
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = i;
        while (run < n && kinds[static_cast<unsigned char>(s[run])] == kPlain) ++run;
        out.append(s + i, run - i);
        i = run;
        if (i == n) break;
        const auto b = static_cast<unsigned char>(s[i]);
        if (kinds[b] == kSpecial) {
            AppendSpecial(out, b);
            ++i;
            continue;
        }
        const std::size_t from = i;
        const long cp = MCCommon_850::Utf8::NextCodePoint(s, n, i);
        if (cp >= 0 && cp != 0xFFFD && cp != 0xFFFE && cp != 0xFFFF) {
            out.append(s + from, i - from);
        } else {
            for (std::size_t k = from; k < i; ++k)
                AppendByteEscape(out, static_cast<unsigned char>(s[k]));
        }
    }
}

}  // namespace

void AppendAttribute(std::string& out, const char* s, std::size_t n) {
    Append(out, s, n, kAttribute);
}

void AppendContent(std::string& out, const char* s, std::size_t n) {
    Append(out, s, n, kContent);
}

}  // namespace XMLText
}  // namespace MCXML_850
