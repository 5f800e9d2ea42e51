#pragma once
#include <utility>
#include <vector>

#include "companion/MCExport.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// One estimated-marginal-means request: the factors whose cells are
// estimated, covariates held at given values, and how the levels of the
// compare factor are contrasted or compared pairwise within each combination
// of the other factors. A plain value; the host fills a vector of them.
class MCREG_API MCEmmeansSpec {
public:
    MCEmmeansSpec() = default;

    // Appends a factor (record index) and returns the new number of factors;
    // -1 (unchanged) for a negative or already listed index. The second form
    // also records the factor's nesting level.
    int AddFactor(int factor);
    int AddFactor(int factor, int nestLevel);
    // Appends a covariate held at value (the missing value: at its mean) and
    // returns the new number of covariates; -1 for a negative or listed index.
    int AddCovariate(int covariate, double value);
    // Appends a compare factor; -1 for a negative or listed index.
    int AddCompareFactor(int factor);

    const std::vector<int>& GetFactors() const { return fvFactors; }
    std::vector<int>& GetFactors() { return fvFactors; }
    const std::vector<int>& GetFactorsNestLevel() const { return fvFactorsNestLevel; }
    std::vector<int>& GetFactorsNestLevel() { return fvFactorsNestLevel; }
    const std::vector<std::pair<int, double>>& GetCovariates() const { return fvCovariates; }
    std::vector<std::pair<int, double>>& GetCovariates() { return fvCovariates; }
    const std::vector<int>& GetCompareFactors() const { return fvCompareFactors; }
    std::vector<int>& GetCompareFactors() { return fvCompareFactors; }

    MCConst::MCContrastType GetContrastType() const { return fContrastType; }
    void SetContrastType(MCConst::MCContrastType t) { fContrastType = t; }

    // Level index of the simple contrast's reference (-1: the last level).
    // Accepted only under the simple contrast and for a non-negative level.
    int GetRefCateg() const { return fRefCateg; }
    void SetRefCateg(int level);

    // Level metrics of the polynomial contrast. Accepted only under the
    // polynomial contrast and for a non-empty, strictly increasing list;
    // a refused list leaves the old one.
    const std::vector<double>& GetMetricValueList() const { return fvMetricValues; }
    bool SetMetricValueList(const std::vector<double>& values);

    MCConst::MCPAdjustMethod GetPAdjust() const { return fPAdjust; }
    void SetPAdjust(MCConst::MCPAdjustMethod m) { fPAdjust = m; }
    MCConst::MCEmmScaleType GetEmmScaleType() const { return fScale; }
    void SetEmmScaleType(MCConst::MCEmmScaleType s) { fScale = s; }
    MCConst::MCReferenceType GetReferenceType() const { return fReferenceType; }
    void SetReferenceType(MCConst::MCReferenceType r) { fReferenceType = r; }

    // Empties all lists and restores the options, the simple contrast
    // included; the reference type is kept.
    void Reset();
    void Display() const;

private:
    std::vector<int> fvFactors;
    std::vector<int> fvFactorsNestLevel;
    std::vector<std::pair<int, double>> fvCovariates;
    std::vector<int> fvCompareFactors;
    MCConst::MCContrastType fContrastType = MCConst::CONTRAST_PAIRWISE;
    int fRefCateg = -1;
    std::vector<double> fvMetricValues;
    MCConst::MCPAdjustMethod fPAdjust = MCConst::PADJ_LSD;
    MCConst::MCEmmScaleType fScale = MCConst::EMM_SCALE_ORIGINAL;
    MCConst::MCReferenceType fReferenceType = MCConst::REFERENCE_DEFAULT;
};

}  // namespace MCMath_850
