#include "host/input/Utf16Source.h"

#include <algorithm>
#include <cstring>

namespace mchost {

Utf16Source::Utf16Source(std::unique_ptr<ByteSource> input, bool bigEndian)
    : fpInput(std::move(input)), fbBigEndian(bigEndian), fName(fpInput->Name() + " (UTF-16)") {}

std::size_t Utf16Source::Read(char* buf, std::size_t n) {
    while (fOutPos == fOut.size()) {
        fOut.clear();
        fOutPos = 0;
        if (!Decode()) return 0;
    }
    const std::size_t take = std::min(n, fOut.size() - fOutPos);
    std::memcpy(buf, fOut.data() + fOutPos, take);
    fOutPos += take;
    return take;
}

bool Utf16Source::Rewind() {
    if (!fpInput->Rewind()) return false;
    fIn.clear();
    fOut.clear();
    fOutPos = 0;
    fbStarted = fbEof = false;
    return true;
}

void Utf16Source::Put(unsigned c) {
    if (c < 0x80) {
        fOut.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        fOut.push_back(static_cast<char>(0xC0 | (c >> 6)));
        fOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        fOut.push_back(static_cast<char>(0xE0 | (c >> 12)));
        fOut.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        fOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        fOut.push_back(static_cast<char>(0xF0 | (c >> 18)));
        fOut.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        fOut.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        fOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool Utf16Source::Decode() {
    if (fbEof) return false;
    const std::size_t kBlock = std::size_t(1) << 16;
    const std::size_t kept = fIn.size();
    fIn.resize(kept + kBlock);
    const std::size_t got = fpInput->Read(&fIn[kept], kBlock);
    fIn.resize(kept + got);
    if (got == 0) {
        fbEof = true;
        if (fIn.empty()) return false;
        // Half a character or a surrogate without its pair.
        Put(0xFFFD);
        fIn.clear();
        return true;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(fIn.data());
    const std::size_t n = fIn.size();
    const auto unit = [&](std::size_t at) -> unsigned {
        return fbBigEndian ? (b[at] << 8) | b[at + 1] : b[at] | (b[at + 1] << 8);
    };
    std::size_t at = 0;
    if (!fbStarted) {
        if (n < 2) return true;  // the mark is not yet whole
        fbStarted = true;
        if (unit(0) == 0xFEFF) at = 2;
    }
    for (; at + 2 <= n; at += 2) {
        const unsigned u = unit(at);
        if (u >= 0xD800 && u < 0xDC00) {
            if (at + 4 > n) break;  // its pair is in the next block
            const unsigned low = unit(at + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                Put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                at += 2;
            } else {
                Put(0xFFFD);
            }
        } else if (u >= 0xDC00 && u < 0xE000) {
            Put(0xFFFD);
        } else {
            Put(u);
        }
    }
    fIn.erase(0, at);
    return true;
}

}  // namespace mchost
