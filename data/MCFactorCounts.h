#pragma once
#include <limits>
#include <utility>
#include <vector>

#include "companion/MCExport.h"
#include "companion/Record.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// Category index of a factor or categorical-dependent value: (int)(v + 0.5)
// minus the first category code. Values that cannot be a category at all
// (NaN, the system-missing value, anything beyond the int range) give -1,
// which is out of range for every factor, instead of an undefined
// conversion.
inline int MCCategoryIndex(double v, int base) {
    const double t = v + 0.5;
    constexpr double kLowest = std::numeric_limits<int>::min();
    constexpr double kHighest = std::numeric_limits<int>::max();
    if (!(t > kLowest && t < kHighest)) return -1;
    return static_cast<int>(t) - base;
}

// Per-category counts of the factors (and of a categorical dependent) over
// the records of a data pass.
class MCREG_API MCFactorCounts {
public:
    // (sum of frequency weights, number of records) of one category.
    typedef std::pair<double, double> CountPair;
    typedef std::vector<CountPair> CountVector;

    MCFactorCounts() = default;
    // The dependent counts (and the offset sums that go with them) exist
    // only when depVar >= 0 and depNCategs >= 1.
    MCFactorCounts(const std::vector<int>& factors, const std::vector<int>& factorSizes,
                   int freqWeightVar, int depVar, int depNCategs, int categoryBase, int offsetVar,
                   double offsetValue, int offsetType);

    // Counts one record. False when some factor (or the counted dependent)
    // has a value outside its categories; the factors in range are counted
    // all the same, the dependent only when every factor was in range.
    bool Update(const MCCommon_850::Record& record);

    int GetNFactors() const { return fNFactors; }
    // Number of categories of factor i; -1 out of range.
    int GetNCategories(int i) const;
    // The pair vector of factor i; null out of range.
    const CountVector* GetCountsPtr(int i) const;
    // Null when the dependent is not counted.
    const CountVector* GetDependCountsPtr() const { return fbDepCounted ? &fvDepCounts : nullptr; }
    // Per dependent category (sum of weight x offset, sum of weight); null
    // when the dependent is not counted.
    const CountVector* GetOffsetCountsForDepCatPtr() const {
        return fbDepCounted ? &fvOffsetCounts : nullptr;
    }
    // Number of categories of factor i with positive weighted count; -1 out
    // of range.
    int GetNActiveCategories(int i) const;

    const std::vector<int>& GetFactors() const { return fvFactors; }
    const std::vector<int>& GetFactorSizes() const { return fvFactorSizes; }
    int GetFreqWeightVar() const { return fFreqWeightVar; }
    int GetDepVar() const { return fDepVar; }
    int GetDepNCategories() const { return fDepNCategs; }
    int GetCategoryBase() const { return fCategoryBase; }
    int GetOffsetVar() const { return fOffsetVar; }
    double GetOffsetValue() const { return fOffsetValue; }
    MCConst::MCOffsetType GetOffsetType() const { return fOffsetType; }

    void Display() const;

    // Always true: counts that cannot be allocated stop the operation that
    // makes them.
    bool IsValid() const { return true; }

private:
    friend class MCFactorTables;

    // Adds (w, 1) to the category of every factor and stores the indices in
    // categories; false when some factor is out of range. Inline: the data
    // pass calls it for every record.
    bool CountFactors(const double* values, double w, int* categories) {
        bool ok = true;
        for (int i = 0; i < fNFactors; ++i) {
            const int k =
                MCCategoryIndex(values[fvFactors[static_cast<std::size_t>(i)]], fCategoryBase);
            CountVector& counts = fvFactorCounts[static_cast<std::size_t>(i)];
            if (k >= 0 && k < static_cast<int>(counts.size())) {
                counts[static_cast<std::size_t>(k)].first += w;
                counts[static_cast<std::size_t>(k)].second += 1.0;
                if (categories != nullptr) categories[i] = k;
            } else {
                ok = false;
            }
        }
        return ok;
    }
    // Largest record position read by Update, -1 when none.
    int MaxPosition() const;

    std::vector<int> fvFactors;
    std::vector<int> fvFactorSizes;
    int fNFactors = 0;
    int fFreqWeightVar = -1;
    int fDepVar = -1;
    int fDepNCategs = 0;
    int fCategoryBase = 0;
    std::vector<CountVector> fvFactorCounts;
    bool fbDepCounted = false;
    CountVector fvDepCounts;
    CountVector fvOffsetCounts;
    int fOffsetVar = -1;
    double fOffsetValue = 0.0;
    MCConst::MCOffsetType fOffsetType = MCConst::OFFSET_NONE;
    int fMaxPosition = -1;
};

}  // namespace MCMath_850
