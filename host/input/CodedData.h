#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/input/CellChunk.h"
#include "host/input/RecordStore.h"

namespace mchost {

// How a data file is read.
class ReadOptions {
public:
    // Bytes the records may take in memory; larger data go through a
    // temporary file. 0 streams always.
    std::size_t fMemoryLimit = DefaultMemoryLimit();
    std::string fTempDir = DefaultTempDir();
    // Read at a time; a CSV grows it for a record that is longer.
    std::size_t fBlockBytes = std::size_t(2) << 20;
    // CSV: a header or record longer than this is refused, so that an
    // input without line ends (a device, a binary file) cannot take all
    // the memory.
    std::size_t fMaxRecordBytes = kMaxRecordBytes;
    static constexpr std::size_t kMaxRecordBytes = std::size_t(64) << 20;
    // CSV: the threads that scan a block, in pieces of at least
    // fMinSplitBytes; with more than one, the calling thread codes the
    // block before while the others scan, then scans with them. 1 reads on
    // the calling thread alone.
    unsigned fThreads = DefaultThreads();
    std::size_t fMinSplitBytes = std::size_t(256) << 10;
    // Called after each block with the bytes read so far and the input size,
    // and which reading of the input it is (1, or 2 and more when a column
    // turned out to hold texts among numbers and the input is read again).
    std::function<void(std::size_t done, std::size_t total, int reading)> fProgress;
    // Set from a signal handler: the read stops with HostError kInterrupted.
    const std::atomic<bool>* fpInterrupt = nullptr;
    // CSV: the field delimiter, 0 to take a comma unless the header line
    // splits only on semicolons or only on tabs.
    char fDelimiter = 0;
    // CSV: the cells that mark a missing value besides the empty cell.
    std::vector<std::string> fvNaValues{"NA"};
    // A part of an input (PartSource): the data rows before its first one,
    // and how far its records' bytes lie from where the input has them, so
    // that messages place a record in the whole input.
    std::size_t fRowsBefore = 0;
    long long fByteShift = 0;

    // Half the memory the system has available.
    static std::size_t DefaultMemoryLimit();
    // The processors this process may run on.
    static unsigned DefaultThreads();
};

// Given the header's names, says how to read each column. May throw; the
// exception reaches the reader's caller.
using PlanFn = std::function<std::vector<ColumnPlan>(const std::vector<std::string>&)>;

// The plan for a header: planFn's, one entry per column; every column
// loaded as plain values when there is no planFn or it plans nothing.
std::vector<ColumnPlan> MakePlan(const PlanFn& planFn, const std::vector<std::string>& header);

// What a reader learned about one loaded column. A column is numeric (no
// text cell) or text (every present cell is text); the records hold, for
// a present cell, its text's code, its number's code (categorical numeric
// columns) or the number itself; codes number the distinct values in
// order of first appearance. Missing cells are NaN.
class CodedColumn {
public:
    std::string fName;
    int fHeaderIndex = -1;
    int fPosition = -1;  // in the coded records
    ColumnPlan fPlan;
    TextDict fTexts;
    NumberDict fNumbers;
    std::vector<char> fvInUsed;  // per code: met in a used record
    std::size_t fNNumbers = 0;   // number cells
    std::size_t fNTexts = 0;     // text cells
    // The first cell that is not a number, for messages: its data row
    // (0-based) and its line in the file (0 when the file has no lines).
    std::size_t fFirstTextRow = 0;
    std::size_t fFirstTextLine = 0;
    std::int32_t fFirstTextCode = -1;
    // Weights: the largest value of a used record, the records left out for
    // a negative value, and the first value that is not a whole number
    // (frequency weights; its data row is 0-based).
    double fMaxWeight = 0.0;
    // Numeric columns: the largest magnitude, the smallest and largest
    // values met.
    double fMaxAbs = 0.0;
    double fMin = std::numeric_limits<double>::infinity();
    double fMax = -std::numeric_limits<double>::infinity();
    std::size_t fNNegative = 0;
    bool fbFraction = false;
    // Text codes number the categories in an order their source declared
    // (an ordered categorical of a data frame), which the model keeps.
    bool fbDeclaredOrder = false;
    double fFirstFraction = 0.0;
    std::size_t fFirstFractionRow = 0;

    bool IsText() const { return fNTexts > 0; }
    bool IsMixed() const { return fNTexts > 0 && fNNumbers > 0; }
    // The records hold codes, not numbers.
    bool IsCoded() const { return IsText() || fPlan.fbCategorical; }
    const std::string& FirstText() const {
        return fTexts.GetTexts()[static_cast<std::size_t>(fFirstTextCode)];
    }
};

// The categories of a coded column met in used records, sorted (numbers
// numerically, texts by their bytes, or by code when their order is declared), and the sorted index
// of every code
// (-1 for a code met only in records that are not used).
class Categories {
public:
    std::vector<std::string> fvLabels;
    std::vector<std::int32_t> fvIndexOfCode;
};
Categories SortedCategories(const CodedColumn& column);

// A data file read and coded: the header, the loaded columns, and their
// records (one value per loaded column, in header order). A record is used
// when every loaded cell is present and every weight cell is positive.
class CodedData {
public:
    std::string fSource;               // the input's name, for messages
    char fDelimiter = 0;               // a CSV's field delimiter
    bool fbDelimiterDeclared = false;  // by a first line "sep=;"
    std::vector<std::string> fvHeader;
    std::vector<CodedColumn> fvColumns;
    std::unique_ptr<RecordStore> fpStore;
    std::size_t fNRecords = 0;
    std::size_t fNUsed = 0;

    // The loaded column of a header index, null when it is not loaded.
    const CodedColumn* FindColumn(int headerIndex) const;
    bool IsStreaming() const { return fpStore && fpStore->IsStreaming(); }
};

// Where a cell is, for messages: "FILE, line 7 (data row 5)"; without a
// line, "FILE, data row 5". Rows and lines count from 1.
std::string CellPlace(const std::string& source, std::size_t line, std::size_t row);

// Maps a byte offset within a run to its line in the input (from 1).
using LineOfFn = std::function<std::size_t(std::size_t runByte)>;

// Turns runs of scanned cells into coded records, in order: merges each
// run's dictionaries into the columns', counts the used records and the
// categories they meet, and appends the records to a store chosen from the
// input's size at the first run.
class DataCoder {
public:
    DataCoder(std::string source, std::vector<std::string> header,
              const std::vector<ColumnPlan>& plan, const ReadOptions& options,
              std::size_t inputBytes);

    // Adds a run read from runBytes bytes of input; lineOf, when given,
    // locates the run's records in the input for messages. False when a
    // column has turned out to hold both numbers and texts: the input must
    // be read again with that column as text (MixedColumns says which). A
    // column planned as numeric that holds both is a data error (HostError)
    // naming its first text cell, and so is a weight that is not finite.
    bool Add(const CellChunk& chunk, std::size_t runBytes, const LineOfFn& lineOf = nullptr);
    // Before the first Add: the records go to store rather than to one
    // chosen from the input's size.
    void UseStore(std::unique_ptr<RecordStore> store) { fData.fpStore = std::move(store); }
    // The memory that about `ahead` records after the next `coming` will
    // take, when the store holds it already and adding the coming records
    // will neither move nor replace it; else empty. Another thread may
    // fault it in while they are added.
    std::pair<char*, char*> RoomAhead(std::size_t coming, std::size_t ahead);
    // Header indices of the columns to read as text on the next reading.
    std::vector<int> MixedColumns() const;

    CodedData Finish();
    void SetDelimiter(char delimiter, bool declared = false) {
        fData.fDelimiter = delimiter;
        fData.fbDelimiterDeclared = declared;
    }

private:
    void ChooseStore(std::size_t recordsSeen, std::size_t bytesSeen);
    // Moves the records to a file store when more would pass the limit.
    void SpillIfOverLimit(std::size_t more);
    // False when a column has become mixed.
    bool MergeDictionaries(const CellChunk& chunk, const LineOfFn& lineOf);
    void CodeRecords(const CellChunk& chunk);
    [[noreturn]] void FailMixed(const CodedColumn& col) const;
    // Counts what a weight cell tells; true when it lets the record in.
    static bool CheckWeight(CodedColumn& col, double w, std::size_t row);

    const ReadOptions& fOptions;
    std::size_t fInputBytes;
    CodedData fData;
    std::vector<std::vector<std::int32_t>> fvRemap;  // per column: run code -> column code
};

}  // namespace mchost
