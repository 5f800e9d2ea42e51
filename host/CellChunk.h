#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
};

// Distinct texts numbered in order of first appearance, looked up by their
// bytes so that finding a known text copies nothing.
class TextDict {
public:
    std::int32_t Intern(const char* s, std::size_t n);
    const std::vector<std::string>& GetTexts() const { return fvTexts; }
    std::size_t Size() const { return fvTexts.size(); }
    void Clear();

private:
    void Grow();

    std::vector<std::string> fvTexts;
    std::vector<std::int32_t> fvSlots;  // -1 empty, else a code
};

// Distinct numbers numbered in order of first appearance.
class NumberDict {
public:
    std::int32_t Intern(double v);
    const std::vector<double>& GetNumbers() const { return fvNumbers; }
    std::size_t Size() const { return fvNumbers.size(); }
    void Clear();

private:
    void Grow();

    std::vector<double> fvNumbers;
    std::vector<std::int32_t> fvSlots;
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
};

// What went wrong in a run of records, located within the run.
class ScanError {
public:
    enum Kind { kNone, kFieldCount, kQuoting, kOpenQuote };

    Kind fKind = kNone;
    std::size_t fRecord = 0;   // 0-based within the run
    std::size_t fByte = 0;     // offset within the run
    std::size_t fNFields = 0;  // kFieldCount: the record's fields
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
    void Reset(std::size_t nLoaded);

    std::vector<double> fvCells;
    std::vector<ChunkColumn> fvColumns;
    std::size_t fNLoaded = 0;
    std::size_t fNRecords = 0;
    ScanError fError;
};

}  // namespace mchost
