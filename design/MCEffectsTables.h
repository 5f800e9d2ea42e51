#pragma once
#include <memory>
#include <vector>

#include "companion/MCHashKey.h"
#include "companion/Record.h"
#include "data/MCHashtable.h"

namespace MCMath_850 {

// The observed category combinations of every model effect that contains
// factors, one hash table per effect, and the parameter numbering built on
// them: effect by effect in model order, within an effect in ascending key
// order; an effect without factors holds one fixed parameter.
//
// Keys hold the rounded factor values minus the value base. A pass costs one
// key fill and one lookup per factor effect and record; keys and tables are
// allocated once per effect. The row lookups are const but write scratch
// members, so one object serves one thread at a time.
class MCEffectsTables {
public:
    typedef std::vector<const MCHashPair<int>*> PairList;

    MCEffectsTables() = default;
    MCEffectsTables(const std::vector<int>& factorIndices, const std::vector<int>& categoryCounts,
                    int valueBase);
    MCEffectsTables(const MCEffectsTables&) = delete;
    MCEffectsTables& operator=(const MCEffectsTables&) = delete;
    virtual ~MCEffectsTables();

    // Only on an object without factors and model effects; false otherwise.
    bool SetInfo(const std::vector<int>& factorIndices, const std::vector<int>& categoryCounts,
                 int valueBase);
    // Per model effect the record positions of its factors (empty for the
    // intercept and covariate-only effects). Discards every table. False when
    // memory ran out; the object then has no effects and refuses records.
    bool SetModelEffectFactors(const std::vector<std::vector<int>>& effectFactors);

    // Adds the record's combinations; false when a table is missing or a new
    // cell could not be stored. The record must be valid already.
    virtual bool UpdateAll(const MCCommon_850::Record& record);
    // Numbers the parameters; returns their total.
    virtual int CreateParameterIndices();
    // Numbers the cells of each effect within groups of equal leading
    // entries (only the length of leadingFactors is used); see the .cpp.
    int CreateParamIndicesSS(const std::vector<int>& leadingFactors,
                             std::vector<int>& nParamsPerEffect);

    int GetNModelEffects() const { return fNModelEffects; }
    int GetNEffects() const { return fNEffects; }
    int GetNFactors() const { return fNFactors; }
    int GetValueBase() const { return fValueBase; }
    const std::vector<int>& GetFactorIndices() const { return fvFactorIndices; }
    const std::vector<int>& GetFactorNCategories() const { return fvFactorNCategs; }
    const std::vector<std::vector<int>>& GetModelEffectFactors() const { return fvEffectFactors; }
    const std::vector<int>& GetParameterOffsets() const { return fvParamOffsets; }
    // The model effect number of every local (factor) effect.
    const std::vector<int>& GetModelEffectIndices() const { return fvModelEffectNums; }
    // Per model effect its local number, -1 for an effect without factors.
    const std::vector<int>& GetLocalEffectIndices() const { return fvLocalEffectIdx; }
    // Per local effect its number of parameters (after numbering).
    const std::vector<int>& GetNParamsPerEffect() const { return fvNParamsPerEffect; }
    // The table and the stored pairs of a local effect (null out of range).
    const MCHashtable<int>* GetTable(int localEffect) const;
    const PairList* GetPairList(int localEffect) const;

    // 0 out of range, 1 without factors, else the effect's parameter count.
    int GetNEffectParameters(int effect) const;
    // Category values of the effect's parameter-th cell in the effect's
    // factor order (key entry + base).
    bool GetParameterFactorValues(std::vector<int>& values, int effect, int parameter) const;

    // Parameter index of every model effect for a record (-1 and ok = false
    // for an unobserved combination).
    const std::vector<int>& GetRowParameterIndices(const double* row, bool& ok) const;
    // Position of the row's parameter within its effect, per model effect.
    const std::vector<int>& GetRowEffectParamIndices(const double* row, bool& ok) const;
    // Per local effect, parameter index minus the effect's offset.
    const std::vector<int>& GetRowLocalParamIndices(const double* row, bool& ok) const;
    // The same from factor values given per local factor position in key form
    // (value minus base).
    const std::vector<int>& GetParameterIndices(const std::vector<int>& factorValues,
                                                bool& ok) const;
    int GetEffectParameterIndex(int effect, const std::vector<int>& factorValues) const;
    // effectValues: key entries in the effect's own factor order.
    int GetEffectLocalParameterIndex(int effect, const std::vector<int>& effectValues) const;
    const MCHashPair<int>* GetEffectHashPairPtr(int effect,
                                                const std::vector<int>& effectValues) const;
    // Rehashes key and returns the stored index, -1 when absent or no table.
    static int GetParameterIndex(const MCHashtable<int>* table, MCHashKey& key);

    void Display() const;

    // Key form of a record value: (int)(x + 0.5) - base; values that are no
    // category at all (NaN, beyond the int range) map to a key entry that no
    // valid category can have.
    static int KeyValue(double x, int base);

private:
    void ClearTables();
    bool BuildEffects();
    // Fills fvFactorValues from a row.
    void ReadFactorValues(const double* row) const;
    // Fills local effect l's key from fvFactorValues and looks it up.
    int LookupLocal(int l, const std::vector<int>& factorValues) const;
    void LookupAll(const std::vector<int>& factorValues, bool& ok) const;
    int SortPairs(int l);

    std::vector<int> fvFactorIndices;
    std::vector<int> fvFactorNCategs;
    int fNFactors = 0;
    int fValueBase = 0;
    std::vector<std::vector<int>> fvEffectFactors;
    int fNModelEffects = 0;
    int fNEffects = 0;
    std::vector<int> fvConcatFactors;
    std::vector<int> fvNFactorsPerEffect;
    std::vector<int> fvCumFactors;
    mutable std::vector<MCHashKey> fvKeys;
    std::vector<std::unique_ptr<MCHashtable<int>>> fvTables;
    std::vector<std::unique_ptr<PairList>> fvPairLists;
    std::vector<int> fvLocalFactorIdx;
    mutable std::vector<int> fvFactorValues;
    mutable std::vector<int> fvParamIndices;
    mutable std::vector<int> fvEffectParamPos;
    mutable std::vector<int> fvLocalParamIndices;
    std::vector<int> fvLocalEffectIdx;
    std::vector<int> fvModelEffectNums;
    std::vector<int> fvNParamsPerEffect;
    std::vector<int> fvParamOffsets;
    // One past the largest factor position: the shortest record UpdateAll
    // can read.
    int fMinRecordSize = 0;
    bool fbSetupFailed = false;
};

}  // namespace MCMath_850
