#pragma once
#include <memory>
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCHashKey.h"
#include "companion/MCStatus.h"
#include "data/MCHashtable.h"
#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

// A design rebuilt from an explicit parameter list, such as a fitted model
// hands to the host. Consecutive parameters of the same term form one
// effect; each factor effect maps its category combinations to parameter
// indices through a hash table, and a parameter's index is its position in
// the order given.
//
// GetRowParameterIndices and the ExpandRowX / ExpandRowXY forms write
// scratch members (one thread at a time); ExpandRow works only on buffers
// of the caller's and only reads the object, so several threads may expand
// rows with one object at once.
class MCREG_API MCLiteDesignMatrix {
public:
    // factors are record positions in ascending order; second is kept for
    // the host and not used here.
    MCLiteDesignMatrix(const std::vector<int>& factors, const std::vector<int>& second,
                       const std::vector<int>& covariates);
    MCLiteDesignMatrix(const MCLiteDesignMatrix&) = delete;
    MCLiteDesignMatrix& operator=(const MCLiteDesignMatrix&) = delete;
    virtual ~MCLiteDesignMatrix();

    // Appends the effect with its parameters (only the first one for an
    // effect without factors). Returns the number of parameters so far.
    int AddModelEffect(const MCModelEffect& effect, const std::vector<MCRegrParameter>& params);
    // Adds p to the last effect when it belongs to it, else starts a new
    // effect made from p. False, with an error status that stays, when p
    // cannot be added (memory, or a parameter that fits no effect).
    bool AddRegrParameter(const MCRegrParameter& p);

    void SetDepVar(int var) { fDepVar = var; }
    int GetDepVar() const { return fDepVar; }
    const std::vector<MCRegrParameter>& GetParameters() const { return fvParameters; }
    int GetNParameters() const { return fNParameters; }
    const std::vector<MCModelEffect>& GetModelEffects() const { return fvEffects; }
    int GetNEffects() const { return fNEffects; }
    bool GetParamsForEffect(int effect, int& first, int& count) const;
    // One work key per effect, of the effect's length: the buffers ExpandRow
    // expects.
    const std::vector<MCHashKey>& GetEffectsKeys() const { return fvKeys; }
    // Per factor, the category values met in the parameters, in order of
    // first occurrence.
    const std::vector<std::vector<int>>& GetActiveFactorCategories() const {
        return fvActiveCategories;
    }
    const std::vector<int>& GetFactors() const { return fvFactors; }
    const std::vector<int>& GetSecondList() const { return fvSecond; }
    const std::vector<int>& GetCovariates() const { return fvCovariates; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

    // Per effect the parameter of the row's combination (-1 and ok false
    // when it has none); effects without factors give their fixed index.
    const std::vector<int>& GetRowParameterIndices(const double* row, bool& ok) const;
    // The same from category values given per factor (local factor order).
    const std::vector<int>& GetParameterIndices(const std::vector<int>& factorValues,
                                                bool& ok) const;
    // One effect's parameter for category values per factor; -1 when absent
    // or for an effect out of range.
    int GetEffectParameterIndex(int effect, const std::vector<int>& factorValues) const;
    // Rehashes key and returns its value in table; -1 for a missing table or
    // key.
    int GetParameterIndex(MCHashtable<int>* table, MCHashKey& key) const;

    // x must hold the parameters (it is enlarged when shorter).
    bool ExpandRowX(const double* row, std::vector<double>& x) const;
    bool ExpandRowX(const double* row, std::vector<int>& indices,
                    std::vector<double>& values) const;
    bool ExpandRowXY(const double* row, std::vector<double>& xy) const;
    bool ExpandRowXY(const double* row, std::vector<int>& indices,
                     std::vector<double>& values) const;
    // Dense row using only the caller's buffers: keys as from
    // GetEffectsKeys(), factorValues any vector. xy is sized to the
    // parameters (+1 with the dependent) when too short; its leading
    // entries are zeroed otherwise. False at the first combination without
    // parameter.
    bool ExpandRow(const double* row, std::vector<double>& xy, std::vector<MCHashKey>& keys,
                   std::vector<int>& factorValues, bool withDependent) const;

    // Product of p's covariates raised to their powers (1 without).
    double ComputeDesignRowValue(const double* row, const MCRegrParameter& p) const;
    // 0 when a factor of the row is not in p's category, else the value.
    double ComputeDesignRowValueCheck(const double* row, const MCRegrParameter& p) const;

    // The factor effect with the smallest share of its possible cells
    // (product of its factors' active categories) that has parameters, when
    // that share is below 1; -1 when every factor effect is complete.
    int GetIncompleteEffectIndex() const;

    // True when p has e's factors and covariates in the same order and the
    // same covariate powers.
    bool CheckParamEffect(const MCRegrParameter& p, const MCModelEffect& e) const;
    // e becomes the crossed term of p's factors and covariates.
    bool MakeEffectFromParam(MCModelEffect& e, const MCRegrParameter& p) const;
    // Sets up the lookup structures of a new last effect.
    bool CreateNewTable(const MCModelEffect& e);
    // Enters p as the next parameter of effect (only the last one).
    bool AddParamToTable(const MCRegrParameter& p, int effect);
    // Stores key with the current parameter count; false when present.
    bool UpdateHashtable(MCHashtable<int>* table, MCHashKey& key);

    void Display() const;

private:
    bool AddOneParameter(const MCRegrParameter& p);
    bool HasTable(int e) const { return fvTables[static_cast<std::size_t>(e)] != nullptr; }
    // Fills keys[e] from the factor values and looks it up; -1 when absent.
    int LookUp(int e, MCHashKey& key, const std::vector<int>& values) const;
    bool ExpandCheckedRow(const double* row, std::vector<int>& indices,
                          std::vector<double>& values) const;

    std::vector<int> fvFactors;
    std::vector<int> fvSecond;
    std::vector<int> fvCovariates;
    std::vector<int> fvLocalFactorIndex;
    int fDepVar = -1;
    std::vector<MCModelEffect> fvEffects;
    int fNEffects = 0;
    std::vector<MCRegrParameter> fvParameters;
    int fNParameters = 0;
    std::vector<int> fvEffectFirst;
    std::vector<int> fvEffectNParams;
    std::vector<int> fvEffectNFactors;
    std::vector<int> fvCumFactors;
    std::vector<MCHashKey> fvKeys;
    std::vector<std::unique_ptr<MCHashtable<int>>> fvTables;
    mutable std::vector<int> fvRowIndices;
    std::vector<int> fvEffectLocalFactors;
    mutable std::vector<int> fvFactorValues;
    std::vector<std::vector<int>> fvActiveCategories;
    bool fbHasFactors = false;
    mutable std::vector<int> fvScratchIndices;
    mutable std::vector<double> fvScratchValues;
    // Keys of the scratch lookups, kept apart from fvKeys, which callers
    // copy as ExpandRow buffers.
    mutable std::vector<MCHashKey> fvWorkKeys;
    MCCommon_850::MCStatus fStatus;
};

}  // namespace MCMath_850
