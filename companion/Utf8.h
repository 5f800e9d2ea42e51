#pragma once
#include "companion/MCExport.h"
// Reading UTF-8 text that may hold bytes of other encodings. Internal to the
// library; the host's reports use it too.
#include <cstddef>
#include <string>

namespace MCCommon_850 {
namespace Utf8 {

// The code point of the well-formed UTF-8 sequence at s[i] (no overlong
// form, no surrogate, nothing above U+10FFFF), with i moved past it; -1,
// with i moved by one byte, for a byte that does not start such a sequence.
// i must be below n.
MCREG_API long NextCodePoint(const char* s, std::size_t n, std::size_t& i);

inline long NextCodePoint(const std::string& s, std::size_t& i) {
    return NextCodePoint(s.data(), s.size(), i);
}

}  // namespace Utf8
}  // namespace MCCommon_850
