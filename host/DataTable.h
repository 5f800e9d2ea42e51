#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/LargeAllocator.h"

namespace mchost {

template <class T>
using ColumnVector = std::vector<T, LargeAllocator<T>>;

// One column of a data set held in memory. Every cell is a number, a text
// or missing: numbers live in the value vector; a text cell has a NaN value
// and a code into the column's texts (the code vector exists only once a
// column has met a text cell); a missing cell has a NaN value and code -1.
class DataColumn {
public:
    explicit DataColumn(std::string name = std::string()) : fName(std::move(name)) {}

    const std::string& GetName() const { return fName; }
    // False for a column the reader was told to skip: it has no cells.
    bool IsLoaded() const { return fbLoaded; }
    // True when no loaded cell is text (an empty or all-missing column too).
    bool IsNumeric() const { return fvTexts.empty(); }
    // True when the column has both number and text cells.
    bool IsMixed() const { return !fvTexts.empty() && fNNumbers > 0; }

    bool IsMissing(std::size_t row) const {
        return std::isnan(fvValues[row]) && (fvTextCodes.empty() || fvTextCodes[row] < 0);
    }
    bool IsNumber(std::size_t row) const { return !std::isnan(fvValues[row]); }
    double GetNumber(std::size_t row) const { return fvValues[row]; }
    // NaN for a missing or text cell.
    const ColumnVector<double>& GetValues() const { return fvValues; }
    // The text code of row, -1 for a number or a missing cell.
    std::int32_t GetTextCode(std::size_t row) const {
        return fvTextCodes.empty() ? -1 : fvTextCodes[row];
    }
    const std::vector<std::string>& GetTexts() const { return fvTexts; }
    std::size_t GetNRows() const { return fvValues.size(); }

    // Appenders used by the readers; text codes come from the reader's
    // dictionary, in order of first appearance.
    void SetLoaded(bool on) { fbLoaded = on; }
    void Reserve(std::size_t n) { fvValues.reserve(n); }
    void AppendMissing() {
        fvValues.push_back(std::nan(""));
        if (!fvTextCodes.empty()) fvTextCodes.push_back(-1);
    }
    void AppendNumber(double v) {
        ++fNNumbers;
        fvValues.push_back(v);
        if (!fvTextCodes.empty()) fvTextCodes.push_back(-1);
    }
    void AppendText(std::int32_t code) {
        if (fvTextCodes.empty()) fvTextCodes.assign(fvValues.size(), -1);
        fvValues.push_back(std::nan(""));
        fvTextCodes.push_back(code);
    }
    // Returns the code of a new text.
    std::int32_t AddText(std::string text) {
        fvTexts.push_back(std::move(text));
        return static_cast<std::int32_t>(fvTexts.size() - 1);
    }

private:
    std::string fName;
    bool fbLoaded = true;
    std::size_t fNNumbers = 0;
    ColumnVector<double> fvValues;
    ColumnVector<std::int32_t> fvTextCodes;
    std::vector<std::string> fvTexts;
};

// A data set: named columns of equal length.
class DataTable {
public:
    std::vector<DataColumn>& GetColumns() { return fvColumns; }
    const std::vector<DataColumn>& GetColumns() const { return fvColumns; }
    const DataColumn& GetColumn(int i) const { return fvColumns[static_cast<std::size_t>(i)]; }
    int GetNColumns() const { return static_cast<int>(fvColumns.size()); }
    std::size_t GetNRows() const { return fNRows; }
    void SetNRows(std::size_t n) { fNRows = n; }

    // Index of the column with this exact name; -1 when there is none, -2
    // when several columns carry it.
    int Find(const std::string& name) const;
    // A column whose name differs only in letter case, for "did you mean";
    // -1 when none.
    int FindIgnoringCase(const std::string& name) const;

private:
    std::vector<DataColumn> fvColumns;
    std::size_t fNRows = 0;
};

// The shortest text that reads back as v ("4", "0.1", "1e+20").
std::string NumberText(double v);

}  // namespace mchost
