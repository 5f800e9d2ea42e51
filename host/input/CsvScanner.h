#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/input/CellChunk.h"

namespace mchost {

// Splits delimited text into fields and cells (RFC 4180: quoted fields
// with embedded delimiters, quotes and line breaks; CR, LF or CRLF line
// ends). The delimiter is a comma unless told otherwise. Unquoted fields
// lose surrounding blanks, a quoted field may have blanks around its
// quotes; blank lines are skipped. Empty cells and the missing-value
// markers (quoted or not; NA unless told otherwise; blanks around a marker
// do not count) are missing: a marker that is a number matches every cell
// of its value (-999 matches -999.0 and -9.99e2), another marker a cell of
// exactly its text. A cell is a number when the whole of it parses as a
// finite decimal number (ParseNumber), otherwise it is text; in a column
// whose numbers are categories it must also have at most 15 significant
// digits (ParseCategoryNumber).
//
// A scanner holds a scratch buffer and serves one thread; several scanners
// may share one plan.
class CsvScanner {
public:
    explicit CsvScanner(const std::vector<ColumnPlan>& plan, char delimiter = ',',
                        std::vector<std::string> naValues = {"NA"});

    // Reads the header record from the start of [p, end): the field texts,
    // and p moved past the record. False on malformed quoting.
    static bool ScanHeader(const char*& p, const char* end, std::vector<std::string>& names,
                           char delimiter = ',');

    // Reads the whole records of [p, end), which starts at a record start,
    // into chunk (cleared first); the last record may lack its line end.
    // Stops at the first malformed record, described in chunk.fError.
    // Counts the line ends of a run read whole as CountLineEnds(p, end,
    // limit) does, in the same pass.
    void Scan(const char* p, const char* end, CellChunk& chunk, const char* limit = nullptr);

    // The number rule: true, with v set, when the whole of [s, s + n) is a
    // finite decimal number (sign, digits, point, exponent); -0 reads as 0.
    static bool ParseNumber(const char* s, std::size_t n, double& v);
    // The number rule of a category told by its value: a number of at most
    // 15 significant digits, and not below the smallest normal double, so
    // that no other such number shares a double with it. A factor's cell
    // that breaks it is text.
    static bool ParseCategoryNumber(const char* s, std::size_t n, double& v);

    // One past the line end of the last record that ends in [b, e), b when
    // none does; b must be a record start. A quote opens or closes a quoted
    // field, so a line end after an even number of quotes ends a record in
    // any well-formed input (and a malformed one fails its scan anyway).
    static const char* LastRecordEnd(const char* b, const char* e);
    // The start of the first record that begins at or after mid, e when
    // none does.
    static const char* NextRecordStart(const char* b, const char* mid, const char* e);

    // The line ends in [b, e): LF, CRLF or a lone CR each count once; a CR
    // at e - 1 does not count when an LF follows it before limit (it
    // counts with that LF).
    static std::size_t CountLineEnds(const char* b, const char* e, const char* limit = nullptr);

private:
    // Most cells are no marker: their length or first byte says so at once.
    bool IsNa(const char* s, std::size_t n) const {
        return ((fNaLengths >> (n < 63 ? n : 63)) & 1) != 0 &&
               ((fNaFirstBytes[static_cast<unsigned char>(s[0]) >> 6] >>
                 (static_cast<unsigned char>(s[0]) & 63)) &
                1) != 0 &&
               IsNaText(s, n);
    }
    bool IsNaText(const char* s, std::size_t n) const;
    // Only cells that read as numbers are asked, and only when a marker is
    // one.
    bool IsNaNumber(double v) const {
        for (double na : fvNaNumbers)
            if (v == na) return true;
        return false;
    }
    enum class Cell { kMissing, kNumber, kText };
    // What a cell of a column is; v is set for a number.
    Cell Classify(const char* s, std::size_t n, const ColumnPlan& plan, double& v) const;
    // Takes back the counts of the malformed record at p, so that a run's
    // counts are those of its whole records, however the input was split.
    void ForgetPartial(const char* p, const char* end, CellChunk& chunk);

    std::vector<ColumnPlan> fPlan;
    char fDelimiter;
    std::vector<std::string> fvNaValues;
    std::vector<double> fvNaNumbers;      // the markers that are numbers
    std::uint64_t fNaLengths = 0;         // bit n: a marker of n bytes (63: longer)
    std::uint64_t fNaFirstBytes[4] = {};  // bit b: a marker starts with byte b
    std::string fScratch;                 // an unescaped quoted field
    // Per column: the most digits of a plain decimal read where it stands,
    // 0 when its cells may not be (not loaded, text, or a delimiter that a
    // decimal may hold).
    std::vector<char> fvPlainDigits;
};

}  // namespace mchost
