#include "data/MCFactorCounts.h"

#include <algorithm>
#include <new>
#include <string>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

MCFactorCounts::MCFactorCounts(const std::vector<int>& factors, const std::vector<int>& factorSizes,
                               int freqWeightVar, int depVar, int depNCategs, int categoryBase,
                               int offsetVar, double offsetValue, int offsetType)
    : fFreqWeightVar(freqWeightVar),
      fDepVar(depVar),
      fDepNCategs(depNCategs),
      fCategoryBase(categoryBase),
      fOffsetVar(offsetVar),
      fOffsetValue(offsetValue),
      fOffsetType(static_cast<MCConst::MCOffsetType>(offsetType)) {
    fvFactors = factors;
    // A factor without a size cannot count anything; give it no
    // category rather than reading past the size list.
    fvFactorSizes = factorSizes;
    fvFactorSizes.resize(fvFactors.size(), 0);
    fvFactorCounts.resize(fvFactors.size());
    for (std::size_t i = 0; i < fvFactors.size(); ++i)
        fvFactorCounts[i].assign(static_cast<std::size_t>(std::max(fvFactorSizes[i], 0)),
                                 CountPair(0.0, 0.0));
    if (depVar >= 0 && depNCategs >= 1) {
        fvDepCounts.assign(static_cast<std::size_t>(depNCategs), CountPair(0.0, 0.0));
        fvOffsetCounts.assign(static_cast<std::size_t>(depNCategs), CountPair(0.0, 0.0));
        fbDepCounted = true;
    }
    fNFactors = static_cast<int>(fvFactors.size());
    fMaxPosition = MaxPosition();
}

int MCFactorCounts::MaxPosition() const {
    int m = std::max(fFreqWeightVar, -1);
    for (int f : fvFactors) m = std::max(m, f);
    if (fbDepCounted) m = std::max(m, fDepVar);
    if (fOffsetType == MCConst::OFFSET_VARIABLE) m = std::max(m, fOffsetVar);
    return m;
}

bool MCFactorCounts::Update(const MCCommon_850::Record& record) {
    if (record.Size() <= fMaxPosition) return false;
    const double* values = record.GetAll();
    const double w = fFreqWeightVar >= 0 ? values[fFreqWeightVar] : 1.0;
    double offset = 0.0;
    if (fOffsetType == MCConst::OFFSET_VALUE)
        offset = fOffsetValue;
    else if (fOffsetType == MCConst::OFFSET_VARIABLE && fOffsetVar >= 0)
        offset = values[fOffsetVar];

    if (!CountFactors(values, w, nullptr)) return false;
    if (!fbDepCounted) return true;
    const int k = MCCategoryIndex(values[fDepVar], fCategoryBase);
    if (k < 0 || k >= fDepNCategs) return false;
    fvDepCounts[Ix(k)].first += w;
    fvDepCounts[Ix(k)].second += 1.0;
    fvOffsetCounts[Ix(k)].first += w * offset;
    fvOffsetCounts[Ix(k)].second += w;
    return true;
}

int MCFactorCounts::GetNCategories(int i) const {
    if (i < 0 || i >= fNFactors) return -1;
    return fvFactorSizes[Ix(i)];
}

const MCFactorCounts::CountVector* MCFactorCounts::GetCountsPtr(int i) const {
    if (i < 0 || i >= fNFactors) return nullptr;
    return &fvFactorCounts[Ix(i)];
}

int MCFactorCounts::GetNActiveCategories(int i) const {
    if (i < 0 || i >= fNFactors) return -1;
    int n = 0;
    for (const CountPair& c : fvFactorCounts[Ix(i)])
        if (c.first > 0.0) ++n;
    return n;
}

void MCFactorCounts::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCFactorCounts display start");
    DisplayIV("Factors", fvFactors);
    DisplayIV("Factor sizes", fvFactorSizes);
    DisplayI("Number of factors", fNFactors);
    DisplayI("Frequency weight variable", fFreqWeightVar);
    DisplayI("Dependent variable", fDepVar);
    DisplayI("Dependent categories", fDepNCategs);
    DisplayI("Category base", fCategoryBase);
    for (int i = 0; i < fNFactors; ++i) {
        const CountVector& c = fvFactorCounts[Ix(i)];
        std::vector<double> weighted(c.size()), unweighted(c.size());
        for (std::size_t k = 0; k < c.size(); ++k) {
            weighted[k] = c[k].first;
            unweighted[k] = c[k].second;
        }
        DisplayDV("Factor " + std::to_string(i) + " weighted counts", weighted);
        DisplayDV("Factor " + std::to_string(i) + " unweighted counts", unweighted);
    }
    if (fbDepCounted) {
        std::vector<double> weighted, unweighted, offsetSums;
        for (const CountPair& c : fvDepCounts) {
            weighted.push_back(c.first);
            unweighted.push_back(c.second);
        }
        for (const CountPair& c : fvOffsetCounts) offsetSums.push_back(c.first);
        DisplayDV("Dependent weighted counts", weighted);
        DisplayDV("Dependent unweighted counts", unweighted);
        DisplayDV("Weighted offset sums per dependent category", offsetSums);
    }
    DisplayI("Offset variable", fOffsetVar);
    DisplayD("Offset value", fOffsetValue);
    DisplayC("Offset type", fOffsetType);
    DisplayText("MCFactorCounts display end");
}

}  // namespace MCMath_850
