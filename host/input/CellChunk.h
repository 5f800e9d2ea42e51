#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/base/LargeAllocator.h"

namespace mchost {

// How a reader treats one column of its input.
class ColumnPlan {
public:
    bool fbLoad = false;
    // Numbers are coded as categories too (factors, a categorical dependent).
    bool fbCategorical = false;
    // A record is used only when this cell is a positive number.
    bool fbWeight = false;
    // Every present cell is text, numbers too ("007" stays "007").
    bool fbText = false;
    // Numbers and texts may not mix: a column holding both is a data error
    // naming its first text cell, not a column read again as text.
    bool fbNumeric = false;
    // A frequency weight, whose values should be whole numbers.
    bool fbFreqWeight = false;
};

// The slots of an open-addressing hash table over codes 0, 1, 2, ... of
// entries that its owner keeps; at most half full.
class CodeTable {
public:
    // The code whose entry `same` accepts, or -1 with slot set where a new
    // code for it goes.
    template <class Same>
    std::int32_t Find(std::uint64_t hash, Same same, std::size_t& slot) const {
        const std::size_t mask = fvSlots.size() - 1;
        for (slot = hash & mask;; slot = (slot + 1) & mask) {
            const std::int32_t code = fvSlots[slot];
            if (code < 0 || same(code)) return code;
        }
    }
    void Insert(std::size_t slot, std::int32_t code) { fvSlots[slot] = code; }
    // Whether nCodes + 1 entries fit without growing (Reserve does nothing).
    bool HasRoomFor(std::size_t nCodes) const { return fvSlots.size() >= 2 * (nCodes + 1); }
    // Sized for nCodes + 1 entries, hashOf(code) giving each old code's hash.
    template <class HashOf>
    void Reserve(std::size_t nCodes, HashOf hashOf) {
        if (HasRoomFor(nCodes)) return;
        // A category column has a few codes, looked up once per cell: in a
        // table of a kilobyte they seldom share a slot, so the lookup's
        // branch seldom goes the wrong way.
        std::size_t size = 256;
        while (size < 4 * (nCodes + 1)) size *= 2;
        fvSlots.assign(size, -1);
        for (std::size_t k = 0; k < nCodes; ++k) {
            std::size_t i = hashOf(k) & (size - 1);
            while (fvSlots[i] >= 0) i = (i + 1) & (size - 1);
            fvSlots[i] = static_cast<std::int32_t>(k);
        }
    }
    void Clear() { fvSlots.clear(); }

private:
    std::vector<std::int32_t> fvSlots;  // -1 empty, else a code
};

// Distinct texts numbered in order of first appearance, looked up by their
// bytes so that finding a known text copies nothing. Texts of at most eight
// bytes, as most categories are, are looked up by a word that holds all of
// their bytes, without a look at the text itself.
class TextDict {
public:
    // A known short text is found inline: a run of records asks for one
    // per text cell.
    std::int32_t Intern(const char* s, std::size_t n) {
        if (n > 8) return InternLong(s, n);
        const std::uint64_t word = ShortWord(s, n);
        if (fTable.HasRoomFor(fvTexts.size())) {
            std::size_t slot;
            const std::int32_t code = FindShort(word, n, slot);
            if (code >= 0) return code;
        }
        return InternShort(s, n, word);
    }
    const std::vector<std::string>& GetTexts() const { return fvTexts; }
    std::size_t Size() const { return fvTexts.size(); }
    void Clear() {
        fvTexts.clear();
        fvWords.clear();
        fvLengths.clear();
        fTable.Clear();
    }

private:
    // The code of a short text's word, or -1 with the slot it would take.
    std::int32_t FindShort(std::uint64_t word, std::size_t n, std::size_t& slot) const {
        return fTable.Find(
            HashWord(word, n),
            [&](std::int32_t c) {
                const auto k = static_cast<std::size_t>(c);
                return fvWords[k] == word && fvLengths[k] == n;
            },
            slot);
    }
    // A text of at most eight bytes as one word: two loads that overlap
    // where the text is shorter than their sum cover every byte, so with
    // the length the word tells texts apart.
    static std::uint64_t ShortWord(const char* s, std::size_t n) {
        if (n >= 4) {
            std::uint32_t a, b;
            std::memcpy(&a, s, 4);
            std::memcpy(&b, s + n - 4, 4);
            return a | (std::uint64_t(b) << 32);
        }
        if (n >= 2) {
            std::uint16_t a, b;
            std::memcpy(&a, s, 2);
            std::memcpy(&b, s + n - 2, 2);
            return a | (std::uint64_t(b) << 16);
        }
        return n == 1 ? static_cast<unsigned char>(s[0]) : 0;
    }
    static std::uint64_t HashWord(std::uint64_t w, std::size_t n) {
        w = (w ^ (n << 59)) * 0x9E3779B97F4A7C15ull;
        return w ^ (w >> 32);
    }
    // A short text not yet known, or a table to grow first.
    std::int32_t InternShort(const char* s, std::size_t n, std::uint64_t word);
    std::int32_t InternLong(const char* s, std::size_t n);

    std::vector<std::string> fvTexts;
    // Per code: the word of a short text, and its length (9 for a long one).
    std::vector<std::uint64_t> fvWords;
    std::vector<std::uint8_t> fvLengths;
    CodeTable fTable;
};

// Distinct numbers numbered in order of first appearance.
class NumberDict {
public:
    std::int32_t Intern(double v);
    const std::vector<double>& GetNumbers() const { return fvNumbers; }
    std::size_t Size() const { return fvNumbers.size(); }
    void Clear() {
        fvNumbers.clear();
        fTable.Clear();
    }

private:
    std::vector<double> fvNumbers;
    CodeTable fTable;
};

// What a run of records holds in one loaded column: its dictionaries of
// texts and (categorical columns) numbers, each numbered in order of first
// appearance within the run, and how many cells of each kind it met.
class ChunkColumn {
public:
    void Clear();

    TextDict fTexts;
    NumberDict fNumbers;
    std::size_t fNNumbers = 0;
    std::size_t fNTexts = 0;
    // The first cell that does not read as a number (in a column read as
    // text, its numbers are texts too), for messages.
    bool fbHasWord = false;
    std::size_t fFirstWordRecord = 0;
    std::size_t fFirstWordByte = 0;  // where its record starts in the run
};

// What went wrong in a run of records, located within the run.
class ScanError {
public:
    enum Kind { kNone, kFieldCount, kQuoting, kOpenQuote };

    Kind fKind = kNone;
    std::size_t fRecord = 0;      // 0-based within the run
    std::size_t fRecordByte = 0;  // where the record starts in the run
    std::size_t fByte = 0;        // the fault's offset within the run
    std::size_t fNFields = 0;     // kFieldCount: the record's fields
};

// The loaded cells of a run of whole records, record after record, one
// double per loaded column (in header order): NaN for a missing cell, else
// the code of a text when the column's run has text cells, the code of a
// number in a categorical column, or the number itself. A column whose run
// has both numbers and texts is mixed, and the reader reads it again as
// text.
class CellChunk {
public:
    // Room for one more record; the cells of the records before stay.
    double* NextRecord() {
        const std::size_t at = fNRecords * fNLoaded;
        if (at + fNLoaded > fvCells.size()) fvCells.resize(2 * fvCells.size() + 64 * fNLoaded);
        return fvCells.data() + at;
    }
    // Empties the chunk for a run of at most maxRecords records (a
    // bound, not a promise: more are given room as they come).
    void Reset(std::size_t nLoaded, std::size_t maxRecords = 0);

    // Room for the bound at once, its pages untouched until a record
    // fills them: growing by halves would fault in and copy each size
    // before the last on the scanning threads, once per run of the first
    // blocks.
    std::vector<double, LargeAllocator<double>> fvCells;
    std::vector<ChunkColumn> fvColumns;
    std::size_t fNLoaded = 0;
    std::size_t fNRecords = 0;
    std::size_t fNLineEnds = 0;  // of a run read whole
    ScanError fError;
};

}  // namespace mchost
