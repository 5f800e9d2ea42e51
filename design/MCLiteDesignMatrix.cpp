#include "design/MCLiteDesignMatrix.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorCounts.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

const int kTableCapacity = 89;
// Category value of a factor that was not given: matches no stored key.
const int kNoCategory = INT_MIN;

}  // namespace

MCLiteDesignMatrix::MCLiteDesignMatrix(const std::vector<int>& factors,
                                       const std::vector<int>& second,
                                       const std::vector<int>& covariates) {
    try {
        fvFactors = factors;
        fvSecond = second;
        fvCovariates = covariates;
        // Sized by the largest position, so that a list that is not in
        // ascending order still maps every factor.
        int maxPos = -1;
        for (int f : factors) maxPos = std::max(maxPos, f);
        fvLocalFactorIndex.assign(static_cast<std::size_t>(maxPos + 1), -1);
        for (std::size_t i = 0; i < factors.size(); ++i)
            if (factors[i] >= 0) fvLocalFactorIndex[Ix(factors[i])] = static_cast<int>(i);
        fvActiveCategories.assign(factors.size(), std::vector<int>());
        fvFactorValues.assign(factors.size(), kNoCategory);
        fvCumFactors.assign(1, 0);
        fbHasFactors = !factors.empty();
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
    }
}

MCLiteDesignMatrix::~MCLiteDesignMatrix() = default;

bool MCLiteDesignMatrix::CheckParamEffect(const MCRegrParameter& p, const MCModelEffect& e) const {
    if (p.GetNCovariates() != e.GetNCovariates() || p.GetNFactors() != e.GetNFactors())
        return false;
    const std::vector<int> covs = e.GetCovariates();
    const std::vector<int> mults = e.GetCovMultiplicities();
    if (p.GetCovariates() != covs || p.GetFactors() != e.GetFactors()) return false;
    for (std::size_t i = 0; i < covs.size(); ++i)
        if (p.GetCovariateMult(covs[i]) != mults[i]) return false;
    return true;
}

bool MCLiteDesignMatrix::MakeEffectFromParam(MCModelEffect& e, const MCRegrParameter& p) const {
    std::vector<int> vars(p.GetFactors());
    vars.insert(vars.end(), p.GetCovariates().begin(), p.GetCovariates().end());
    e = MCModelEffect(p.GetNFactors(), p.GetNCovariates(), &vars);
    bool ok = true;
    for (int f : p.GetFactors()) ok = e.AddNewFactor(f, false) && ok;
    const std::vector<int>& covs = p.GetCovariates();
    const std::vector<int>& mults = p.GetCovariateMultiplicities();
    for (std::size_t i = 0; i < covs.size(); ++i)
        for (int m = 0; m < mults[i]; ++m) ok = e.AddCovariate(covs[i]) > 0 && ok;
    return ok;
}

bool MCLiteDesignMatrix::CreateNewTable(const MCModelEffect& e) {
    const std::vector<int> factors = e.GetFactors();
    std::vector<int> locals;
    locals.reserve(factors.size());
    for (int f : factors) {
        const int local = f >= 0 && f < static_cast<int>(fvLocalFactorIndex.size())
                              ? fvLocalFactorIndex[Ix(f)]
                              : -1;
        // A term on a variable that is not one of the design's factors could
        // never be looked up from a record.
        if (local < 0) return false;
        locals.push_back(local);
    }
    const int k = static_cast<int>(factors.size());
    // Everything that allocates happens before the first list grows, so a
    // failure leaves the per-effect lists of equal length.
    MCHashKey key(k), workKey(k);
    std::unique_ptr<MCHashtable<int>> table;
    if (k > 0) table = std::make_unique<MCHashtable<int>>(kTableCapacity);
    const std::size_t n = fvEffectFirst.size() + 1;
    fvEffectNFactors.reserve(n);
    fvEffectFirst.reserve(n);
    fvEffectNParams.reserve(n);
    fvKeys.reserve(n);
    fvWorkKeys.reserve(n);
    fvCumFactors.reserve(n + 1);
    fvRowIndices.reserve(n);
    fvTables.reserve(n);
    fvEffectLocalFactors.reserve(fvEffectLocalFactors.size() + locals.size());

    fvEffectNFactors.push_back(k);
    fvEffectFirst.push_back(fNParameters);
    fvEffectNParams.push_back(k == 0 ? 1 : 0);
    fvKeys.push_back(std::move(key));
    fvWorkKeys.push_back(std::move(workKey));
    fvCumFactors.push_back(fvCumFactors.back() + k);
    fvRowIndices.push_back(fNParameters);
    fvTables.push_back(std::move(table));
    fvEffectLocalFactors.insert(fvEffectLocalFactors.end(), locals.begin(), locals.end());
    return true;
}

bool MCLiteDesignMatrix::UpdateHashtable(MCHashtable<int>* table, MCHashKey& key) {
    if (table == nullptr) return false;
    key.ComputeHash();
    // Out of memory the parameter is not added (AddRegrParameter says so);
    // a repeated combination is refused by the table.
    auto stored = std::make_unique<MCHashKey>(key);
    auto value = std::make_unique<int>(fNParameters);
    stored->SetHashCode(key.GetHashCode());
    if (!table->Put(stored.get(), value.get())) return false;
    stored.release();
    value.release();
    return true;
}

bool MCLiteDesignMatrix::AddParamToTable(const MCRegrParameter& p, int effect) {
    if (effect < 0 || effect != fNEffects - 1 || !HasTable(effect)) return false;
    const std::size_t e = static_cast<std::size_t>(effect);
    const int k = fvEffectNFactors[e];
    if (p.GetNFactors() != k) return false;
    // The key follows the effect's factor order; the parameter may list
    // the same factors in another (nesting) order.
    MCHashKey& key = fvKeys[e];
    const int* locals = fvEffectLocalFactors.data() + fvCumFactors[e];
    for (int j = 0; j < k; ++j) {
        const int c = p.ContainsFactor(fvFactors[Ix(locals[j])], kNoCategory);
        if (c == kNoCategory) return false;
        key[j] = c;
    }
    for (int j = 0; j < k; ++j) {
        std::vector<int>& active = fvActiveCategories[Ix(locals[j])];
        if (std::find(active.begin(), active.end(), key[j]) == active.end())
            active.push_back(key[j]);
    }
    fvParameters.push_back(p);
    // A repeated combination is refused by the table, but the parameter
    // keeps its place so that every index still equals its position.
    const bool stored = UpdateHashtable(fvTables[e].get(), key);
    ++fNParameters;
    ++fvEffectNParams[e];
    return stored;
}

bool MCLiteDesignMatrix::AddRegrParameter(const MCRegrParameter& p) {
    // A parameter left out makes every later column of the design wrong, so
    // the refusal stays in the status for whoever computes with the design.
    const bool added = AddOneParameter(p);
    if (!added && !fStatus.IsError()) fStatus = ErrorStatus(StatusCode::kSettingsDesignDisagree);
    return added;
}

bool MCLiteDesignMatrix::AddOneParameter(const MCRegrParameter& p) {
    try {
        if (fNEffects > 0 && CheckParamEffect(p, fvEffects.back())) {
            if (p.GetNFactors() == 0) return true;
            return AddParamToTable(p, fNEffects - 1);
        }
        MCModelEffect e;
        if (!MakeEffectFromParam(e, p)) return false;
        fvEffects.reserve(fvEffects.size() + 1);
        fvParameters.reserve(fvParameters.size() + 1);
        if (!CreateNewTable(e)) return false;
        fvEffects.push_back(std::move(e));
        ++fNEffects;
        if (p.GetNFactors() > 0) return AddParamToTable(p, fNEffects - 1);
        fvParameters.push_back(p);
        ++fNParameters;
        return true;
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        return false;
    }
}

int MCLiteDesignMatrix::AddModelEffect(const MCModelEffect& effect,
                                       const std::vector<MCRegrParameter>& params) {
    try {
        const bool factors = effect.GetNFactors() > 0;
        // An effect without factors stands for exactly one column.
        if (!factors && params.empty()) return fNParameters;
        fvEffects.reserve(fvEffects.size() + 1);
        fvParameters.reserve(fvParameters.size() + (factors ? params.size() : 1));
        if (!CreateNewTable(effect)) return fNParameters;
        fvEffects.push_back(effect);
        ++fNEffects;
        if (!factors) {
            fvParameters.push_back(params[0]);
            ++fNParameters;
        } else {
            for (const MCRegrParameter& p : params) AddParamToTable(p, fNEffects - 1);
        }
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
    }
    return fNParameters;
}

bool MCLiteDesignMatrix::GetParamsForEffect(int effect, int& first, int& count) const {
    if (effect < 0 || effect >= fNEffects) return false;
    first = fvEffectFirst[Ix(effect)];
    count = fvEffectNParams[Ix(effect)];
    return true;
}

int MCLiteDesignMatrix::LookUp(int e, MCHashKey& key, const std::vector<int>& values) const {
    const std::size_t i = static_cast<std::size_t>(e);
    const int k = fvEffectNFactors[i];
    if (key.Size() != k) key.Resize(k);
    const int* locals = fvEffectLocalFactors.data() + fvCumFactors[i];
    for (int j = 0; j < k; ++j) key[j] = values[Ix(locals[j])];
    key.ComputeHash();
    const PairNode<int>* node = static_cast<const MCHashtable<int>*>(fvTables[i].get())->Get(&key);
    return node != nullptr ? *node->GetPair().fpValue : -1;
}

const std::vector<int>& MCLiteDesignMatrix::GetParameterIndices(
    const std::vector<int>& factorValues, bool& ok) const {
    for (std::size_t f = 0; f < fvFactorValues.size(); ++f)
        fvFactorValues[f] = f < factorValues.size() ? factorValues[f] : kNoCategory;
    ok = true;
    for (int e = 0; e < fNEffects; ++e) {
        if (!HasTable(e)) continue;
        const int idx = LookUp(e, fvWorkKeys[Ix(e)], fvFactorValues);
        fvRowIndices[Ix(e)] = idx;
        if (idx < 0) ok = false;
    }
    return fvRowIndices;
}

const std::vector<int>& MCLiteDesignMatrix::GetRowParameterIndices(const double* row,
                                                                   bool& ok) const {
    for (std::size_t f = 0; f < fvFactors.size(); ++f)
        fvFactorValues[f] = MCCategoryIndex(row[fvFactors[f]], 0);
    ok = true;
    for (int e = 0; e < fNEffects; ++e) {
        if (!HasTable(e)) continue;
        const int idx = LookUp(e, fvWorkKeys[Ix(e)], fvFactorValues);
        fvRowIndices[Ix(e)] = idx;
        if (idx < 0) ok = false;
    }
    return fvRowIndices;
}

int MCLiteDesignMatrix::GetEffectParameterIndex(int effect,
                                                const std::vector<int>& factorValues) const {
    if (effect < 0 || effect >= fNEffects) return -1;
    if (!HasTable(effect)) return fvEffectFirst[Ix(effect)];
    for (std::size_t f = 0; f < fvFactorValues.size(); ++f)
        fvFactorValues[f] = f < factorValues.size() ? factorValues[f] : kNoCategory;
    return LookUp(effect, fvWorkKeys[Ix(effect)], fvFactorValues);
}

int MCLiteDesignMatrix::GetParameterIndex(MCHashtable<int>* table, MCHashKey& key) const {
    if (table == nullptr) return -1;
    key.ComputeHash();
    const int* value = table->GetValue(&key);
    return value != nullptr ? *value : -1;
}

double MCLiteDesignMatrix::ComputeDesignRowValue(const double* row,
                                                 const MCRegrParameter& p) const {
    return p.CovariateProduct(row);
}

double MCLiteDesignMatrix::ComputeDesignRowValueCheck(const double* row,
                                                      const MCRegrParameter& p) const {
    const std::vector<int>& factors = p.GetFactors();
    const std::vector<int>& cats = p.GetCategories();
    for (std::size_t i = 0; i < factors.size(); ++i)
        if (MCCategoryIndex(row[factors[i]], 0) != cats[i]) return 0.0;
    return ComputeDesignRowValue(row, p);
}

bool MCLiteDesignMatrix::ExpandCheckedRow(const double* row, std::vector<int>& indices,
                                          std::vector<double>& values) const {
    if (row == nullptr) return false;
    if (!fbHasFactors) {
        indices.resize(static_cast<std::size_t>(fNParameters));
        values.resize(static_cast<std::size_t>(fNParameters));
        for (int j = 0; j < fNParameters; ++j) {
            indices[Ix(j)] = j;
            values[Ix(j)] = ComputeDesignRowValue(row, fvParameters[Ix(j)]);
        }
        return true;
    }
    bool ok = false;
    const std::vector<int>& idx = GetRowParameterIndices(row, ok);
    if (!ok) return false;
    indices.assign(idx.begin(), idx.end());
    values.resize(idx.size());
    for (std::size_t e = 0; e < idx.size(); ++e)
        values[e] = ComputeDesignRowValue(row, fvParameters[Ix(idx[e])]);
    return true;
}

bool MCLiteDesignMatrix::ExpandRowX(const double* row, std::vector<int>& indices,
                                    std::vector<double>& values) const {
    return ExpandCheckedRow(row, indices, values);
}

bool MCLiteDesignMatrix::ExpandRowX(const double* row, std::vector<double>& x) const {
    if (!ExpandCheckedRow(row, fvScratchIndices, fvScratchValues)) return false;
    if (x.size() < static_cast<std::size_t>(fNParameters))
        x.resize(static_cast<std::size_t>(fNParameters));
    std::fill(x.begin(), x.begin() + fNParameters, 0.0);
    for (std::size_t i = 0; i < fvScratchIndices.size(); ++i)
        x[Ix(fvScratchIndices[i])] = fvScratchValues[i];
    return true;
}

bool MCLiteDesignMatrix::ExpandRowXY(const double* row, std::vector<double>& xy) const {
    if (fDepVar < 0 || !ExpandRowX(row, xy)) return false;
    if (xy.size() < static_cast<std::size_t>(fNParameters + 1))
        xy.resize(static_cast<std::size_t>(fNParameters + 1));
    xy[Ix(fNParameters)] = row[fDepVar];
    return true;
}

bool MCLiteDesignMatrix::ExpandRowXY(const double* row, std::vector<int>& indices,
                                     std::vector<double>& values) const {
    if (fDepVar < 0 || !ExpandCheckedRow(row, indices, values)) return false;
    indices.push_back(fNParameters);
    values.push_back(row[fDepVar]);
    return true;
}

bool MCLiteDesignMatrix::ExpandRow(const double* row, std::vector<double>& xy,
                                   std::vector<MCHashKey>& keys, std::vector<int>& factorValues,
                                   bool withDependent) const {
    if (row == nullptr || (withDependent && fDepVar < 0)) return false;
    if (keys.size() < static_cast<std::size_t>(fNEffects)) return false;
    const std::size_t need = static_cast<std::size_t>(fNParameters + (withDependent ? 1 : 0));
    if (xy.size() < need) xy.resize(need);
    std::fill(xy.begin(), xy.begin() + fNParameters, 0.0);
    if (factorValues.size() < fvFactors.size()) factorValues.resize(fvFactors.size());
    for (std::size_t f = 0; f < fvFactors.size(); ++f)
        factorValues[f] = MCCategoryIndex(row[fvFactors[f]], 0);
    for (int e = 0; e < fNEffects; ++e) {
        int idx = fvEffectFirst[Ix(e)];
        if (HasTable(e)) {
            idx = LookUp(e, keys[Ix(e)], factorValues);
            if (idx < 0) return false;
        }
        xy[Ix(idx)] = ComputeDesignRowValue(row, fvParameters[Ix(idx)]);
    }
    if (withDependent) xy[Ix(fNParameters)] = row[fDepVar];
    return true;
}

int MCLiteDesignMatrix::GetIncompleteEffectIndex() const {
    int best = -1;
    double bestRatio = 1.0;
    for (int e = 0; e < fNEffects; ++e) {
        if (!HasTable(e)) continue;
        const std::size_t i = static_cast<std::size_t>(e);
        double cells = 1.0;
        const int* locals = fvEffectLocalFactors.data() + fvCumFactors[i];
        for (int j = 0; j < fvEffectNFactors[i]; ++j)
            cells *= static_cast<double>(fvActiveCategories[Ix(locals[j])].size());
        if (cells <= 0.0) continue;
        const double ratio = fvEffectNParams[i] / cells;
        if (ratio < bestRatio) {
            bestRatio = ratio;
            best = e;
        }
    }
    return best;
}

void MCLiteDesignMatrix::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCLiteDesignMatrix display start");
    DisplayI("Dependent variable", fDepVar);
    DisplayIV("Factors", fvFactors);
    DisplayIV("Covariates", fvCovariates);
    DisplayI("Number of fixed parameters", fNParameters);
    DisplayI("Number of model effects", fNEffects);
    DisplayIV("First parameter of each effect", fvEffectFirst);
    DisplayIV("Parameters per effect", fvEffectNParams);
    DisplayIV("Factors per effect", fvEffectNFactors);
    DisplayIV("Concatenated local factor indices", fvEffectLocalFactors);
    for (std::size_t f = 0; f < fvActiveCategories.size(); ++f)
        DisplayIV("Active categories of factor " + std::to_string(f), fvActiveCategories[f]);
    DisplayText("MCLiteDesignMatrix display end");
}

}  // namespace MCMath_850
