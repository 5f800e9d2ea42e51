#include "design/MCEffectsTables.h"

#include <algorithm>
#include <climits>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"

namespace MCMath_850 {

namespace {

const int kInitialCapacity = 89;

// Key entry of a factor position that is not among the factors: a constant,
// so such an effect degenerates to its other factors instead of reading
// outside the factor values.
const int kNoFactorEntry = 0;

std::size_t Z(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

int MCEffectsTables::KeyValue(double x, int base) {
    const double t = x + 0.5;
    if (!(t > -2147483648.0 && t < 2147483648.0)) return INT_MIN;
    const long long k = static_cast<long long>(static_cast<int>(t)) - base;
    if (k < INT_MIN || k > INT_MAX) return INT_MIN;
    return static_cast<int>(k);
}

MCEffectsTables::MCEffectsTables(const std::vector<int>& factorIndices,
                                 const std::vector<int>& categoryCounts, int valueBase)
    : fvFactorIndices(factorIndices),
      fvFactorNCategs(categoryCounts),
      fNFactors(static_cast<int>(factorIndices.size())),
      fValueBase(valueBase),
      fvFactorValues(factorIndices.size(), 0) {}

MCEffectsTables::~MCEffectsTables() = default;

bool MCEffectsTables::SetInfo(const std::vector<int>& factorIndices,
                              const std::vector<int>& categoryCounts, int valueBase) {
    if (fNFactors != 0 || fNModelEffects != 0) return false;
    std::vector<int> indices(factorIndices), counts(categoryCounts);
    std::vector<int> values(factorIndices.size(), valueBase);
    fvFactorIndices.swap(indices);
    fvFactorNCategs.swap(counts);
    fvFactorValues.swap(values);
    fNFactors = static_cast<int>(fvFactorIndices.size());
    fValueBase = valueBase;
    return true;
}

void MCEffectsTables::ClearTables() {
    fvTables.clear();
    fvPairLists.clear();
    fvKeys.clear();
    fvConcatFactors.clear();
    fvNFactorsPerEffect.clear();
    fvCumFactors.clear();
    fvLocalFactorIdx.clear();
    fvLocalEffectIdx.clear();
    fvModelEffectNums.clear();
    fvNParamsPerEffect.clear();
    fvLocalParamIndices.clear();
    fvParamIndices.clear();
    fvEffectParamPos.clear();
    fvParamOffsets.clear();
    fNEffects = 0;
    fMinRecordSize = 0;
}

bool MCEffectsTables::SetModelEffectFactors(const std::vector<std::vector<int>>& effectFactors) {
    ClearTables();
    fbSetupFailed = false;
    try {
        fvEffectFactors = effectFactors;
        fNModelEffects = static_cast<int>(effectFactors.size());
        if (BuildEffects()) return true;
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
    }
    ClearTables();
    fvEffectFactors.clear();
    fNModelEffects = 0;
    fbSetupFailed = true;
    return false;
}

bool MCEffectsTables::BuildEffects() {
    // Record position -> local factor position; -1 for positions that are no
    // factor (an effect naming one gets a constant key entry).
    int maxPos = -1;
    for (int pos : fvFactorIndices) maxPos = std::max(maxPos, pos);
    fvLocalFactorIdx.assign(Z(maxPos + 1), -1);
    for (int f = 0; f < fNFactors; ++f)
        if (fvFactorIndices[Z(f)] >= 0) fvLocalFactorIdx[Z(fvFactorIndices[Z(f)])] = f;
    fMinRecordSize = maxPos + 1;
    if (static_cast<int>(fvFactorValues.size()) != fNFactors)
        fvFactorValues.assign(Z(fNFactors), fValueBase);

    fvParamIndices.assign(Z(fNModelEffects), 0);
    fvEffectParamPos.assign(Z(fNModelEffects), 0);
    fvParamOffsets.assign(Z(fNModelEffects), 0);
    fvLocalEffectIdx.assign(Z(fNModelEffects), -1);
    fvCumFactors.push_back(0);
    for (int e = 0; e < fNModelEffects; ++e) {
        const std::vector<int>& factors = fvEffectFactors[Z(e)];
        const int n = static_cast<int>(factors.size());
        if (n == 0) continue;
        fvNFactorsPerEffect.push_back(n);
        fvCumFactors.push_back(fvCumFactors.back() + n);
        fvKeys.emplace_back(n);
        fvTables.emplace_back(new MCHashtable<int>(kInitialCapacity));
        fvPairLists.emplace_back(new PairList());
        for (int pos : factors) {
            const bool known = pos >= 0 && pos <= maxPos;
            fvConcatFactors.push_back(known ? fvLocalFactorIdx[Z(pos)] : -1);
        }
        fvLocalEffectIdx[Z(e)] = fNEffects;
        fvModelEffectNums.push_back(e);
        ++fNEffects;
    }
    fvLocalParamIndices.assign(Z(fNEffects), 0);
    fvNParamsPerEffect.assign(Z(fNEffects), 0);
    return true;
}

void MCEffectsTables::ReadFactorValues(const double* row) const {
    for (int f = 0; f < fNFactors; ++f) {
        const int pos = fvFactorIndices[Z(f)];
        fvFactorValues[Z(f)] = pos >= 0 ? KeyValue(row[pos], fValueBase) : kNoFactorEntry;
    }
}

bool MCEffectsTables::UpdateAll(const MCCommon_850::Record& record) {
    if (fbSetupFailed || record.Size() < fMinRecordSize) return false;
    ReadFactorValues(record.GetAll());
    bool ok = true;
    for (int l = 0; l < fNEffects; ++l) {
        MCHashtable<int>* table = fvTables[Z(l)].get();
        PairList* list = fvPairLists[Z(l)].get();
        if (table == nullptr || list == nullptr) {
            ok = false;
            continue;
        }
        MCHashKey& key = fvKeys[Z(l)];
        const int first = fvCumFactors[Z(l)];
        for (int j = 0; j < fvNFactorsPerEffect[Z(l)]; ++j) {
            const int f = fvConcatFactors[Z(first + j)];
            key[j] = f >= 0 ? fvFactorValues[Z(f)] : kNoFactorEntry;
        }
        key.ComputeHash();
        if (table->Get(&key) != nullptr) continue;

        // A new cell: the only place a pass allocates.
        MCHashKey* stored = nullptr;
        int* value = nullptr;
        try {
            list->reserve(list->size() + 1);
            stored = new MCHashKey(key);
            value = new int(0);
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            delete stored;
            ok = false;
            continue;
        }
        if (!table->Put(stored, value)) {
            delete stored;
            delete value;
            ok = false;
            continue;
        }
        list->push_back(&table->Get(&key)->GetPair());
    }
    return ok;
}

// Sorts the pair list of local effect l by key; returns the number of pairs
// before the first null entry.
int MCEffectsTables::SortPairs(int l) {
    PairList* list = fvPairLists[Z(l)].get();
    if (list == nullptr) return 0;
    std::sort(list->begin(), list->end(), MCHashPairPointerLess<int>());
    int n = 0;
    while (Z(n) < list->size() && (*list)[Z(n)] != nullptr) ++n;
    return n;
}

int MCEffectsTables::CreateParameterIndices() {
    if (fNModelEffects == 0) return 0;
    std::fill(fvParamIndices.begin(), fvParamIndices.end(), 0);
    std::fill(fvEffectParamPos.begin(), fvEffectParamPos.end(), 0);
    int p = 0;
    int offset = 0;
    for (int e = 0; e < fNModelEffects; ++e) {
        const int l = fvLocalEffectIdx[Z(e)];
        if (l >= 0) {
            const int n = SortPairs(l);
            const PairList& list = *fvPairLists[Z(l)];
            for (int i = 0; i < n; ++i) *list[Z(i)]->fpValue = p++;
            fvNParamsPerEffect[Z(l)] = n;
            fvParamOffsets[Z(e)] = offset;
            offset += n;
        } else {
            fvParamIndices[Z(e)] = p;
            fvEffectParamPos[Z(e)] = 0;
            fvParamOffsets[Z(e)] = offset;
            ++p;
            ++offset;
        }
    }
    return p;
}

// Numbers the cells of every effect inside groups: cells whose first m key
// entries agree form a group and are numbered 0, 1, ... in key order, m being
// the number of leading factors. An effect made of exactly the leading
// factors has one parameter (every cell 0) and, like an effect without
// factors when m = 0, is counted in the result, one per cell.
int MCEffectsTables::CreateParamIndicesSS(const std::vector<int>& leadingFactors,
                                          std::vector<int>& nParamsPerEffect) {
    const int m = static_cast<int>(leadingFactors.size());
    std::fill(fvParamIndices.begin(), fvParamIndices.end(), 0);
    nParamsPerEffect.resize(Z(fNModelEffects), 1);
    int counted = 0;
    for (int e = 0; e < fNModelEffects; ++e) {
        const int nf = static_cast<int>(fvEffectFactors[Z(e)].size());
        const int l = fvLocalEffectIdx[Z(e)];
        fvParamOffsets[Z(e)] = 0;
        if (l < 0) {
            // No factors: one parameter, the same in every group.
            nParamsPerEffect[Z(e)] = 1;
            if (m == 0) ++counted;
            continue;
        }
        const int n = SortPairs(l);
        const PairList& list = *fvPairLists[Z(l)];
        if (nf == m) {
            for (int i = 0; i < n; ++i) *list[Z(i)]->fpValue = 0;
            fvNParamsPerEffect[Z(l)] = 1;
            nParamsPerEffect[Z(e)] = 1;
            counted += n;
            continue;
        }
        const int lead = std::min(m, nf);
        int largest = 0;
        int inGroup = 0;
        for (int i = 0; i < n; ++i) {
            bool same = i > 0;
            for (int j = 0; same && j < lead; ++j)
                same = (*list[Z(i)]->fpKey)[j] == (*list[Z(i - 1)]->fpKey)[j];
            inGroup = same ? inGroup + 1 : 0;
            *list[Z(i)]->fpValue = inGroup;
            largest = std::max(largest, inGroup + 1);
        }
        fvNParamsPerEffect[Z(l)] = largest;
        nParamsPerEffect[Z(e)] = largest;
    }
    return counted;
}

const MCHashtable<int>* MCEffectsTables::GetTable(int localEffect) const {
    if (localEffect < 0 || localEffect >= fNEffects) return nullptr;
    return fvTables[Z(localEffect)].get();
}

const MCEffectsTables::PairList* MCEffectsTables::GetPairList(int localEffect) const {
    if (localEffect < 0 || localEffect >= fNEffects) return nullptr;
    return fvPairLists[Z(localEffect)].get();
}

int MCEffectsTables::GetNEffectParameters(int effect) const {
    if (effect < 0 || effect >= fNModelEffects) return 0;
    const int l = fvLocalEffectIdx[Z(effect)];
    return l < 0 ? 1 : fvNParamsPerEffect[Z(l)];
}

bool MCEffectsTables::GetParameterFactorValues(std::vector<int>& values, int effect,
                                               int parameter) const {
    if (effect < 0 || effect >= fNModelEffects) return false;
    const int l = fvLocalEffectIdx[Z(effect)];
    if (l < 0) {
        values.clear();
        return true;
    }
    const PairList* list = fvPairLists[Z(l)].get();
    if (list == nullptr || parameter < 0 || Z(parameter) >= list->size()) return false;
    const MCHashPair<int>* pair = (*list)[Z(parameter)];
    if (pair == nullptr || pair->fpKey == nullptr) return false;
    const MCHashKey& key = *pair->fpKey;
    values.resize(Z(key.Size()));
    for (int j = 0; j < key.Size(); ++j) values[Z(j)] = key[j] + fValueBase;
    return true;
}

int MCEffectsTables::GetParameterIndex(const MCHashtable<int>* table, MCHashKey& key) {
    if (table == nullptr) return -1;
    key.ComputeHash();
    const PairNode<int>* node = table->Get(&key);
    if (node == nullptr || node->fPair.fpValue == nullptr) return -1;
    return *node->fPair.fpValue;
}

int MCEffectsTables::LookupLocal(int l, const std::vector<int>& factorValues) const {
    MCHashKey& key = fvKeys[Z(l)];
    const int first = fvCumFactors[Z(l)];
    for (int j = 0; j < fvNFactorsPerEffect[Z(l)]; ++j) {
        const int f = fvConcatFactors[Z(first + j)];
        key[j] = f >= 0 ? factorValues[Z(f)] : kNoFactorEntry;
    }
    return GetParameterIndex(fvTables[Z(l)].get(), key);
}

void MCEffectsTables::LookupAll(const std::vector<int>& factorValues, bool& ok) const {
    ok = true;
    for (int l = 0; l < fNEffects; ++l) {
        const int idx = LookupLocal(l, factorValues);
        fvParamIndices[Z(fvModelEffectNums[Z(l)])] = idx;
        if (idx == -1) ok = false;
    }
}

const std::vector<int>& MCEffectsTables::GetRowParameterIndices(const double* row, bool& ok) const {
    ReadFactorValues(row);
    LookupAll(fvFactorValues, ok);
    return fvParamIndices;
}

const std::vector<int>& MCEffectsTables::GetRowEffectParamIndices(const double* row,
                                                                  bool& ok) const {
    ReadFactorValues(row);
    ok = true;
    for (int l = 0; l < fNEffects; ++l) {
        const int e = fvModelEffectNums[Z(l)];
        const int idx = LookupLocal(l, fvFactorValues);
        fvEffectParamPos[Z(e)] = idx == -1 ? -1 : idx - fvParamOffsets[Z(e)];
        if (idx == -1) ok = false;
    }
    return fvEffectParamPos;
}

const std::vector<int>& MCEffectsTables::GetRowLocalParamIndices(const double* row,
                                                                 bool& ok) const {
    GetRowParameterIndices(row, ok);
    if (ok) {
        for (int l = 0; l < fNEffects; ++l) {
            const int e = fvModelEffectNums[Z(l)];
            fvLocalParamIndices[Z(l)] = fvParamIndices[Z(e)] - fvParamOffsets[Z(e)];
        }
    }
    return fvLocalParamIndices;
}

const std::vector<int>& MCEffectsTables::GetParameterIndices(const std::vector<int>& factorValues,
                                                             bool& ok) const {
    if (static_cast<int>(factorValues.size()) < fNFactors) {
        ok = false;
        for (int l = 0; l < fNEffects; ++l) fvParamIndices[Z(fvModelEffectNums[Z(l)])] = -1;
        return fvParamIndices;
    }
    LookupAll(factorValues, ok);
    return fvParamIndices;
}

int MCEffectsTables::GetEffectParameterIndex(int effect,
                                             const std::vector<int>& factorValues) const {
    if (effect < 0 || effect >= fNModelEffects) return -1;
    const int l = fvLocalEffectIdx[Z(effect)];
    if (l < 0) return fvParamIndices[Z(effect)];
    if (static_cast<int>(factorValues.size()) < fNFactors) return -1;
    return LookupLocal(l, factorValues);
}

const MCHashPair<int>* MCEffectsTables::GetEffectHashPairPtr(
    int effect, const std::vector<int>& effectValues) const {
    if (effect < 0 || effect >= fNModelEffects) return nullptr;
    const int l = fvLocalEffectIdx[Z(effect)];
    if (l < 0 || static_cast<int>(effectValues.size()) != fvNFactorsPerEffect[Z(l)]) return nullptr;
    MCHashKey& key = fvKeys[Z(l)];
    for (int j = 0; j < key.Size(); ++j) key[j] = effectValues[Z(j)];
    key.ComputeHash();
    const MCHashtable<int>* table = fvTables[Z(l)].get();
    const PairNode<int>* node = table != nullptr ? table->Get(&key) : nullptr;
    return node != nullptr ? &node->fPair : nullptr;
}

int MCEffectsTables::GetEffectLocalParameterIndex(int effect,
                                                  const std::vector<int>& effectValues) const {
    if (effect < 0 || effect >= fNModelEffects) return -1;
    if (fvLocalEffectIdx[Z(effect)] < 0) return 0;
    const MCHashPair<int>* pair = GetEffectHashPairPtr(effect, effectValues);
    if (pair == nullptr || pair->fpValue == nullptr) return -1;
    return *pair->fpValue - fvParamOffsets[Z(effect)];
}

void MCEffectsTables::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCEffectsTables display start");
    DisplayIV("Vector of factor indices", fvFactorIndices);
    DisplayIV("Vector of factor numbers of categories", fvFactorNCategs);
    DisplayI("The number of factors", fNFactors);
    DisplayI("Value base", fValueBase);
    for (std::size_t e = 0; e < fvEffectFactors.size(); ++e)
        DisplayIV("Factors of model effect " + std::to_string(e), fvEffectFactors[e]);
    DisplayI("Total number of model effects", fNModelEffects);
    DisplayI("Number of model effects containing factors", fNEffects);
    DisplayIV("Concatenated list of factors for fNEffects effects", fvConcatFactors);
    DisplayIV("Number of factors in effects ( fNEffects )", fvNFactorsPerEffect);
    DisplayIV("Cumulative number of factors up to effect ( fNEffects+1 )", fvCumFactors);
    DisplayIV("Vector of local factor indices ( max factor index + 1 )", fvLocalFactorIdx);
    DisplayIV("Factor values ( fNFactors )", fvFactorValues);
    DisplayIV("Vector of parameter indices ( fNModelEffects )", fvParamIndices);
    DisplayIV("Vector of effect parameter positions ( fNModelEffects )", fvEffectParamPos);
    DisplayIV("Vector of local parameter indices ( fNEffects )", fvLocalParamIndices);
    DisplayIV("Vector of local effect indices ( fNModelEffects )", fvLocalEffectIdx);
    DisplayIV("Vector of original model effect indices ( fNEffects )", fvModelEffectNums);
    DisplayIV("Vector of number of parameters for each effect ( fNEffects )", fvNParamsPerEffect);
    DisplayIV("Vector of parameter offsets for each effect ( fNModelEffects )", fvParamOffsets);
    for (int l = 0; l < fNEffects; ++l) {
        DisplayI("Cells of local effect", l);
        const PairList* list = fvPairLists[Z(l)].get();
        if (list == nullptr) continue;
        for (const MCHashPair<int>* pair : *list)
            if (pair != nullptr && pair->fpKey != nullptr && pair->fpValue != nullptr)
                DisplayIV("  key (parameter " + std::to_string(*pair->fpValue) + ")",
                          pair->fpKey->GetValues());
    }
    DisplayText("MCEffectsTables display end");
}

}  // namespace MCMath_850
