#include "host/input/CellChunk.h"

#include <cstring>

namespace mchost {

// The dictionaries: open addressing, at most half full.

namespace {

std::uint64_t HashBytes(const char* s, std::size_t n) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
    return h ^ (h >> 29);
}

// Category texts are short: a loop beats a call.
bool Equal(const char* a, const char* b, std::size_t n) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

std::uint64_t HashNumber(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits *= 0x9E3779B97F4A7C15ull;
    return bits ^ (bits >> 31);
}

}  // namespace

std::int32_t TextDict::InternShort(const char* s, std::size_t n, std::uint64_t word) {
    fTable.Reserve(fvTexts.size(), [&](std::size_t k) {
        return fvLengths[k] <= 8 ? HashWord(fvWords[k], fvLengths[k])
                                 : HashBytes(fvTexts[k].data(), fvTexts[k].size());
    });
    std::size_t slot;
    const std::int32_t code = FindShort(word, n, slot);
    if (code >= 0) return code;
    fvTexts.emplace_back(s, n);
    fvWords.push_back(word);
    fvLengths.push_back(static_cast<std::uint8_t>(n));
    fTable.Insert(slot, static_cast<std::int32_t>(fvTexts.size() - 1));
    return static_cast<std::int32_t>(fvTexts.size() - 1);
}

std::int32_t TextDict::InternLong(const char* s, std::size_t n) {
    fTable.Reserve(fvTexts.size(), [&](std::size_t k) {
        return fvLengths[k] <= 8 ? HashWord(fvWords[k], fvLengths[k])
                                 : HashBytes(fvTexts[k].data(), fvTexts[k].size());
    });
    std::size_t slot;
    const std::int32_t code = fTable.Find(
        HashBytes(s, n),
        [&](std::int32_t c) {
            const std::string& t = fvTexts[static_cast<std::size_t>(c)];
            return t.size() == n && Equal(t.data(), s, n);
        },
        slot);
    if (code >= 0) return code;
    fvTexts.emplace_back(s, n);
    fvWords.push_back(0);
    fvLengths.push_back(9);
    fTable.Insert(slot, static_cast<std::int32_t>(fvTexts.size() - 1));
    return static_cast<std::int32_t>(fvTexts.size() - 1);
}

std::int32_t NumberDict::Intern(double v) {
    fTable.Reserve(fvNumbers.size(), [&](std::size_t k) { return HashNumber(fvNumbers[k]); });
    std::size_t slot;
    const std::int32_t code = fTable.Find(
        HashNumber(v), [&](std::int32_t c) { return fvNumbers[static_cast<std::size_t>(c)] == v; },
        slot);
    if (code >= 0) return code;
    fvNumbers.push_back(v);
    fTable.Insert(slot, static_cast<std::int32_t>(fvNumbers.size() - 1));
    return static_cast<std::int32_t>(fvNumbers.size() - 1);
}

void ChunkColumn::Clear() {
    fTexts.Clear();
    fNumbers.Clear();
    fNNumbers = fNTexts = 0;
    fbHasWord = false;
    fFirstWordRecord = fFirstWordByte = 0;
}

void CellChunk::Reset(std::size_t nLoaded, std::size_t maxRecords) {
    fNLoaded = nLoaded;
    // The cells before are done with: a new buffer is not filled from the
    // old one, and it has room to spare for the runs of like size after.
    const std::size_t cells = maxRecords * nLoaded;
    if (fvCells.size() < cells) {
        fvCells.clear();
        fvCells.resize(cells + cells / 4);
    }
    fvColumns.resize(nLoaded);
    for (ChunkColumn& c : fvColumns) c.Clear();
    fNRecords = fNLineEnds = 0;
    fError = ScanError();
}

}  // namespace mchost
