#include "companion/Utf8.h"

namespace MCCommon_850 {
namespace Utf8 {

long NextCodePoint(const char* s, std::size_t size, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    std::size_t n = 0;
    long cp = 0, min = 0;
    if (b < 0x80) {
        ++i;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        n = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 3, cp = b & 0x07, min = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (i + n >= size) {
        ++i;
        return -1;
    }
    for (std::size_t k = 1; k <= n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += n + 1;
    return cp;
}

}  // namespace Utf8
}  // namespace MCCommon_850
