#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/DataTable.h"

namespace mchost {

// Reads comma-separated values (RFC 4180: quoted fields with embedded
// commas, quotes and line breaks, CRLF or LF line ends, an optional UTF-8
// byte order mark) into a DataTable. The first record is the header.
// Unquoted fields lose surrounding blanks; blank lines are skipped. Empty
// cells and NA are missing; a cell is a number when the whole of it parses
// as a finite decimal number, otherwise it is text.
//
// A column with a text cell is a text column: ReadFile and ReadString make
// every cell of it text, also those that look like numbers ("007" stays
// "007"). They read the input a second time for such columns when numbers
// came first; the streaming interface cannot look back and leaves those
// numbers as they are unless SetTextColumns named the column beforehand.
//
// Malformed quoting and records whose field count differs from the header
// are data errors (HostError) naming the record.
class CsvReader {
public:
    // Given the header's names, says which columns to load (an empty mask
    // loads all). May throw; the exception reaches the caller of Feed.
    using ColumnSelector = std::function<std::vector<bool>(const std::vector<std::string>&)>;
    // Called now and then with the bytes consumed so far.
    using ProgressFn = std::function<void(std::size_t bytes)>;

    explicit CsvReader(ColumnSelector selector = nullptr);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Parses the next piece of the input; pieces may split anywhere.
    void Feed(const char* data, std::size_t size);
    // Ends the input and hands over the table; a file without a header
    // record is an error.
    DataTable Finish();
    // The expected input size in bytes, so that columns can be sized once.
    void SetSizeHint(std::size_t bytes);
    // Columns whose present cells are all read as text; call before Feed.
    void SetTextColumns(std::vector<bool> mask);

    // Whole inputs.
    static DataTable ReadFile(const std::string& path, ColumnSelector selector = nullptr,
                              ProgressFn progress = nullptr);
    static DataTable ReadString(const std::string& text, ColumnSelector selector = nullptr);

    // The number rule of the reader: true, with v set, when the whole of
    // [s, s + n) is a finite decimal number (sign, digits, point, exponent).
    static bool ParseNumber(const char* s, std::size_t n, double& v);

    class Impl;

private:
    std::unique_ptr<Impl> fpImpl;
};

}  // namespace mchost
