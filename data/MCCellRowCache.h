#pragma once
#include <cstddef>
#include <vector>

namespace MCMath_850 {

// The rows of one pass over the records, as the accumulator's cell path
// takes them: per record its cell number, response category, weight and
// source values. The estimation makes the same pass again and again over
// records that do not change; replaying these rows spares each later pass
// the reading, checking and coding of every record, and gives the
// accumulator the same calls in the same order.
//
// Memory is bounded: a pass with more than kMaxDoubles of rows, or whose
// rows do not all take the cell path, is not kept, and every pass then
// reads the records.
class MCCellRowCache {
public:
    static const std::size_t kMaxDoubles = std::size_t{1} << 22;

    // Forgets the rows and starts filling them from the next pass.
    void Clear();
    // A new pass that reads the records: what was kept or half filled is
    // dropped, and the rows are filled again unless they were given up.
    void BeginFill();
    // Keeps a row of the pass being filled; gives the rows up when they
    // would take too much memory.
    void Add(int cell, int category, double weight, const std::vector<double>& values);
    // A row that does not take the cell path, or records that cannot be
    // restarted: no pass is kept from now on (until Clear).
    void GiveUp();
    // The pass that was being filled ended normally: its rows may be
    // replayed.
    void EndFill();
    bool IsComplete() const { return fbComplete; }

    std::size_t Size() const { return fvCells.size(); }
    int Cell(std::size_t row) const { return fvCells[row]; }
    int Category(std::size_t row) const { return fvCategories[row]; }
    double Weight(std::size_t row) const { return fvWeights[row]; }
    // The source values of a row into values (resized).
    void Values(std::size_t row, std::vector<double>& values) const;
    // The rows from row on, as the arrays IMCAccumStats::UpdateForCellRows
    // takes: NValues() source values a row.
    const int* Cells(std::size_t row) const { return fvCells.data() + row; }
    const int* Categories(std::size_t row) const { return fvCategories.data() + row; }
    const double* Weights(std::size_t row) const { return fvWeights.data() + row; }
    const double* AllValues(std::size_t row) const { return fvValues.data() + row * fNValues; }
    std::size_t NValues() const { return fNValues; }

private:
    // Frees the rows.
    void Drop();

    std::vector<int> fvCells;
    std::vector<int> fvCategories;
    std::vector<double> fvWeights;
    std::vector<double> fvValues;  // fNValues per row
    std::size_t fNValues = 0;
    bool fbFilling = false;
    bool fbComplete = false;
    bool fbGivenUp = false;
};

}  // namespace MCMath_850
