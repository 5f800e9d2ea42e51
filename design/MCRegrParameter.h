#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

// One column of a design: the factor categories that select it (factors
// ordered by nesting level, outermost first), the covariates that multiply
// it (with their powers), its effect and, for a multinomial model, the
// target category of the dependent.
//
// In a record the column is 0 unless every factor has the parameter's
// category; then it is the product of the covariates raised to their
// multiplicities (1 without covariates). Without factors and covariates the
// parameter is the intercept.
class MCREG_API MCRegrParameter {
public:
    MCRegrParameter() = default;

    // Inserts the factor after every factor whose level is not greater, so
    // that the lists stay sorted by level and equal levels keep the order
    // of addition. False for var < 0, level < 0 or a factor already present.
    bool AddFactor(int var, int category, int level);
    // Appends the covariate, or raises its power when present. Returns the
    // multiplicity after the call; 0 (nothing done) for var < 0 or mult < 1.
    int AddCovariate(int var, int mult);
    // Takes the effect's factors (every one with the given category) and
    // covariates and the effect index; the target category stays. False,
    // with nothing changed, for the intercept effect or effectIndex < 0.
    bool SetupFromEffect(const MCModelEffect& effect, int effectIndex, int category);
    void Reset();

    const std::vector<int>& GetFactors() const { return fvFactors; }
    const std::vector<int>& GetCategories() const { return fvCategories; }
    // Callers write the categories of a cell in place.
    std::vector<int>& GetCategories() { return fvCategories; }
    const std::vector<int>& GetFactorNestLevels() const { return fvLevels; }
    const std::vector<int>& GetCovariates() const { return fvCovariates; }
    const std::vector<int>& GetCovariateMultiplicities() const { return fvCovMults; }
    int GetNFactors() const { return static_cast<int>(fvFactors.size()); }
    int GetNCovariates() const { return static_cast<int>(fvCovariates.size()); }
    int GetEffectIndex() const { return fEffectIndex; }
    int GetTargetCategory() const { return fTargetCategory; }
    void SetTargetCategory(int category) { fTargetCategory = category; }
    // Negative indices are ignored.
    void SetEffectIndex(int index) {
        if (index >= 0) fEffectIndex = index;
    }

    // The category of factor var, or notFound when var is not a factor here.
    int ContainsFactor(int var, int notFound) const;
    // The multiplicity of covariate var, 0 when absent.
    int GetCovariateMult(int var) const;
    // Sum of the multiplicities.
    int GetNCovariateMult() const;
    // The product of the covariates' values in row (indexed by record
    // position) raised to their multiplicities, by repeated multiplication;
    // 1 without covariates.
    double CovariateProduct(const double* row) const {
        double v = 1.0;
        for (std::size_t i = 0; i < fvCovariates.size(); ++i)
            for (int m = 0; m < fvCovMults[i]; ++m) v *= row[fvCovariates[i]];
        return v;
    }
    bool IsIntercept() const { return fvFactors.empty() && fvCovariates.empty(); }

    bool operator==(const MCRegrParameter& o) const;
    bool operator!=(const MCRegrParameter& o) const { return !(*this == o); }

    void Display() const;

private:
    std::vector<int> fvFactors;
    std::vector<int> fvCategories;
    std::vector<int> fvLevels;
    std::vector<int> fvCovariates;
    std::vector<int> fvCovMults;
    int fEffectIndex = -1;
    int fTargetCategory = -1;
};

}  // namespace MCMath_850
