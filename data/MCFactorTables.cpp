#include "data/MCFactorTables.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"

namespace MCMath_850 {

namespace {

const int kTableCapacity = 89;
// Effects with at most this many possible cells also get a direct index
// from the mixed-radix cell code to the cell's value, which spares the
// per-record hashing; larger effects use the hash table alone.
const int kDenseCellLimit = 1 << 16;
const int kUnseenCell = -2;

// Running means drift by rounding when the data cancel exactly; a result
// smaller than two ulps of the previous mean is taken as that cancellation.
inline double CancelTiny(double updated, double previous) {
    return std::fabs(updated) < 2.0 * std::fabs(previous) * MCPower::gMachineEpsilon ? 0.0
                                                                                     : updated;
}

}  // namespace

MCFactorTables::MCFactorTables(const std::vector<int>& factors, const std::vector<int>& factorSizes,
                               int freqWeightVar, int depVar, int depNCategs, int categoryBase,
                               int offsetVar, double offsetValue, int offsetType)
    : fCounts(factors, factorSizes, freqWeightVar, depVar, depNCategs, categoryBase, offsetVar,
              offsetValue, offsetType),
      fDepMean(MCCommon_850::MCMV::Missing()) {
    try {
        fvFactorPositions = fCounts.fvFactors;
        // One slot more than there are factors: it stays -1 and stands for
        // an effect variable that is not a factor, whose cells then all
        // share that one value instead of reading outside the list.
        fvCurrCategories.assign(fvFactorPositions.size() + 1, -1);
    } catch (const std::bad_alloc&) {
        fvFactorPositions.clear();
        fCounts.fbAllocFailed = true;
    }
    SetModelEffectFactors({});
}

MCFactorTables::~MCFactorTables() = default;

void MCFactorTables::SetRegrWeightVar(int var) {
    fRegrWeightVar = var;
    UpdateMaxPosition();
}

void MCFactorTables::SetDepVar(int var) {
    fDepMeanVar = var;
    fDepMean = 0.0;
    UpdateMaxPosition();
}

void MCFactorTables::UpdateMaxPosition() {
    int m = std::max(fCounts.fMaxPosition, std::max(fRegrWeightVar, fDepMeanVar));
    for (int c : fvCovariates) m = std::max(m, c);
    for (const std::vector<int>& list : fvCovEffectVars)
        for (int v : list) m = std::max(m, v);
    fMaxPosition = m;
}

void MCFactorTables::SetCovariates(const std::vector<int>& covariates) {
    fvCovariates = covariates;
    fNCovariates = static_cast<int>(covariates.size());
    fvCovMeans.assign(covariates.size(), 0.0);
    fbMeansFinished = false;
    UpdateMaxPosition();
}

void MCFactorTables::ClearEffects() {
    fvTables.clear();
    fvKeys.clear();
    fvCellLists.clear();
    fvFEFactors.clear();
    fvFEStrides.clear();
    fvDenseCells.clear();
    fvFESizes.clear();
    fvFEStarts.assign(1, 0);
    fvFEToEffect.clear();
    fvParamsPerFE.clear();
    fvLocalParamIndex.clear();
    fNFactorEffects = 0;
    fvEffectFactors.clear();
    fNModelEffects = 0;
    fvEffectParamIndex.clear();
    fvEffectToFE.clear();
    fvLocalOffsets.clear();
}

void MCFactorTables::SetModelEffectFactors(const std::vector<std::vector<int>>& effectFactors) {
    ClearEffects();
    fbBroken = !fCounts.IsValid();
    if (fbBroken) return;
    try {
        BuildFactorEffects(effectFactors);
    } catch (const std::bad_alloc&) {
        // Without its tables nothing can be counted or numbered: UpdateAll
        // and the lookups fail and CreateParameterIndices returns -1 until
        // the effects are set again.
        ClearEffects();
        fbBroken = true;
    }
    UpdateMaxPosition();
}

void MCFactorTables::BuildFactorEffects(const std::vector<std::vector<int>>& effectFactors) {
    fvEffectFactors = effectFactors;
    fNModelEffects = static_cast<int>(effectFactors.size());
    fvEffectParamIndex.assign(effectFactors.size(), 0);
    fvEffectToFE.assign(effectFactors.size(), -1);
    fvLocalOffsets.assign(effectFactors.size(), 0);

    const int nFactors = static_cast<int>(fvFactorPositions.size());
    int maxPos = fCounts.fMaxPosition;
    for (int p : fvFactorPositions) maxPos = std::max(maxPos, p);
    fvFactorMap.assign(static_cast<std::size_t>(maxPos + 1), -1);
    for (int i = 0; i < nFactors; ++i) {
        const int p = fvFactorPositions[static_cast<std::size_t>(i)];
        if (p >= 0) fvFactorMap[static_cast<std::size_t>(p)] = i;
    }

    for (int e = 0; e < fNModelEffects; ++e) {
        const std::vector<int>& list = effectFactors[static_cast<std::size_t>(e)];
        const int k = static_cast<int>(list.size());
        if (k < 1) continue;
        fvFESizes.push_back(k);
        fvFEStarts.push_back(fvFEStarts.back() + k);
        fvKeys.emplace_back(k);
        fvTables.push_back(std::make_unique<MCHashtable<int>>(kTableCapacity));
        fvCellLists.emplace_back();
        long cells = 1;
        for (int pos : list) {
            const bool known = pos >= 0 && pos < static_cast<int>(fvFactorMap.size()) &&
                               fvFactorMap[static_cast<std::size_t>(pos)] >= 0;
            fvFEFactors.push_back(known ? fvFactorMap[static_cast<std::size_t>(pos)] : nFactors);
            const int size = known ? fCounts.GetNCategories(fvFEFactors.back()) : 0;
            cells = (size > 0 && cells <= kDenseCellLimit) ? cells * size : kDenseCellLimit + 1L;
        }
        // Strides with the last factor fastest.
        fvFEStrides.resize(fvFEFactors.size(), 0);
        long stride = 1;
        for (int i = k - 1; i >= 0; --i) {
            const std::size_t at = fvFEFactors.size() - static_cast<std::size_t>(k - i);
            fvFEStrides[at] = static_cast<int>(stride);
            const int size =
                fvFEFactors[at] < nFactors ? fCounts.GetNCategories(fvFEFactors[at]) : 0;
            stride *= std::max(size, 1);
            if (stride > kDenseCellLimit) stride = kDenseCellLimit + 1L;
        }
        fvDenseCells.emplace_back();
        if (cells <= kDenseCellLimit)
            fvDenseCells.back().assign(static_cast<std::size_t>(cells), kUnseenCell);
        fvEffectToFE[static_cast<std::size_t>(e)] = fNFactorEffects;
        fvFEToEffect.push_back(e);
        ++fNFactorEffects;
    }
    fvParamsPerFE.assign(static_cast<std::size_t>(fNFactorEffects), 0);
    fvLocalParamIndex.assign(static_cast<std::size_t>(fNFactorEffects), -1);
}

void MCFactorTables::SetCovarEffects(const std::vector<int>& statIndices,
                                     const std::vector<std::vector<int>>& covLists) {
    const std::size_t n = std::min(statIndices.size(), static_cast<std::size_t>(fNModelEffects));
    fvCovStatIndices.assign(statIndices.begin(), statIndices.begin() + static_cast<long>(n));
    fvCovEffectVars.clear();
    std::size_t next = 0;
    for (int s : fvCovStatIndices) {
        if (s < 0 || next >= covLists.size()) continue;
        fvCovEffectVars.push_back(covLists[next++]);
    }
    UpdateMaxPosition();
    fNCovEffects = static_cast<int>(fvCovEffectVars.size());
    fvCovEffectMeans.assign(fvCovEffectVars.size(), 0.0);
    fvCovEffectSS.assign(fvCovEffectVars.size(), 0.0);
    fvCovEffectStddev.assign(fvCovEffectVars.size(), 0.0);
}

const PairNode<int>* MCFactorTables::FindCell(int fe) const {
    MCHashKey& key = fvKeys[static_cast<std::size_t>(fe)];
    int* k = key.GetAll();
    const int* f = fvFEFactors.data() + fvFEStarts[static_cast<std::size_t>(fe)];
    const int n = fvFESizes[static_cast<std::size_t>(fe)];
    for (int i = 0; i < n; ++i) k[i] = fvCurrCategories[static_cast<std::size_t>(f[i])];
    key.ComputeHash();
    return fvTables[static_cast<std::size_t>(fe)]->Get(&key);
}

int MCFactorTables::DenseCode(int fe) const {
    const std::size_t start = static_cast<std::size_t>(fvFEStarts[static_cast<std::size_t>(fe)]);
    const int n = fvFESizes[static_cast<std::size_t>(fe)];
    const int nFactors = static_cast<int>(fvFactorPositions.size());
    int code = 0;
    for (int i = 0; i < n; ++i) {
        const int f = fvFEFactors[start + static_cast<std::size_t>(i)];
        const int c = fvCurrCategories[static_cast<std::size_t>(f)];
        if (f >= nFactors || c < 0 || c >= fCounts.GetNCategories(f)) return -1;
        code += c * fvFEStrides[start + static_cast<std::size_t>(i)];
    }
    return code;
}

void MCFactorTables::SyncDenseCells() {
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        std::vector<int>& dense = fvDenseCells[static_cast<std::size_t>(fe)];
        if (dense.empty()) continue;
        std::fill(dense.begin(), dense.end(), kUnseenCell);
        const std::size_t start =
            static_cast<std::size_t>(fvFEStarts[static_cast<std::size_t>(fe)]);
        for (const Cell* c : fvCellLists[static_cast<std::size_t>(fe)]) {
            long code = 0;
            for (int i = 0; i < c->fpKey->Size(); ++i)
                code += static_cast<long>((*c->fpKey)[i]) *
                        fvFEStrides[start + static_cast<std::size_t>(i)];
            if (code >= 0 && code < static_cast<long>(dense.size()))
                dense[static_cast<std::size_t>(code)] = *c->fpValue;
        }
    }
}

bool MCFactorTables::AddCell(int fe) {
    MCHashtable<int>* table = fvTables[static_cast<std::size_t>(fe)].get();
    const MCHashKey& key = fvKeys[static_cast<std::size_t>(fe)];
    MCHashKey* stored = new (std::nothrow) MCHashKey(key);
    int* value = new (std::nothrow) int(0);
    if (stored == nullptr || value == nullptr) {
        delete stored;
        delete value;
        return false;
    }
    stored->SetHashCode(key.GetHashCode());
    if (!table->Put(stored, value)) {
        delete stored;
        delete value;
        return false;
    }
    PairNode<int>* node = table->Get(stored);
    try {
        fvCellLists[static_cast<std::size_t>(fe)].push_back(&node->GetPair());
    } catch (const std::bad_alloc&) {
        // The cell is in the table but would never be numbered; report the
        // record as not fully counted.
        return false;
    }
    return true;
}

bool MCFactorTables::UpdateAll(const MCCommon_850::Record& record) {
    if (fbBroken || record.Size() <= fMaxPosition) return false;
    const double* values = record.GetAll();
    const int fw = fCounts.fFreqWeightVar;
    const double w = fw >= 0 ? values[fw] : 1.0;

    if (!fCounts.CountFactors(values, w, fvCurrCategories.data())) return false;
    if (fCounts.fbDepCounted) {
        const int k = MCCategoryIndex(values[fCounts.fDepVar], fCounts.fCategoryBase);
        if (k < 0 || k >= fCounts.fDepNCategs) return false;
        fCounts.fvDepCounts[static_cast<std::size_t>(k)].first += w;
        fCounts.fvDepCounts[static_cast<std::size_t>(k)].second += 1.0;
    }

    bool ok = true;
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        std::vector<int>& dense = fvDenseCells[static_cast<std::size_t>(fe)];
        const int code = dense.empty() ? -1 : DenseCode(fe);
        if (code >= 0 && dense[static_cast<std::size_t>(code)] != kUnseenCell) continue;
        if (FindCell(fe) != nullptr) continue;
        if (!AddCell(fe)) {
            ok = false;
            continue;
        }
        if (code >= 0) dense[static_cast<std::size_t>(code)] = 0;  // the value a new cell holds
    }

    const double wOld = fTotalWeight;
    fTotalWeight += w;
    fSampleSize += 1.0;
    const double r = fRegrWeightVar >= 0 ? w * values[fRegrWeightVar] : w;
    fTotalRegrWeight += r;

    if (fTotalRegrWeight > 0.0 && !fbMeansFinished) {
        const double f = r / fTotalRegrWeight;
        for (int c = 0; c < fNCovariates; ++c) {
            double& m = fvCovMeans[static_cast<std::size_t>(c)];
            m = CancelTiny(m + (values[fvCovariates[static_cast<std::size_t>(c)]] - m) * f, m);
        }
    }

    const double W = fTotalWeight;
    if (w > 0.0) {
        for (int j = 0; j < fNCovEffects; ++j) {
            double p = 1.0;
            for (int v : fvCovEffectVars[static_cast<std::size_t>(j)]) p *= values[v];
            double& m = fvCovEffectMeans[static_cast<std::size_t>(j)];
            const double d = (w / W) * (p - m);
            m = CancelTiny(m + d, m);
            double& ss = fvCovEffectSS[static_cast<std::size_t>(j)];
            ss += (W / w) * d * wOld * d;
            if (W > 1.0) fvCovEffectStddev[static_cast<std::size_t>(j)] = std::sqrt(ss / (W - 1.0));
        }
    }

    if (fDepMeanVar >= 0 && W > 0.0)
        fDepMean = CancelTiny(fDepMean + (values[fDepMeanVar] - fDepMean) * w / W, fDepMean);
    return ok;
}

bool MCFactorTables::FillTables4MainEffects() {
    bool ok = true;
    const int nFactors = static_cast<int>(fvFactorPositions.size());
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        if (fvFESizes[static_cast<std::size_t>(fe)] != 1 ||
            fvTables[static_cast<std::size_t>(fe)]->GetCount() != 0)
            continue;
        const int f =
            fvFEFactors[static_cast<std::size_t>(fvFEStarts[static_cast<std::size_t>(fe)])];
        if (f >= nFactors) continue;
        MCHashKey& key = fvKeys[static_cast<std::size_t>(fe)];
        const int size = fCounts.GetNCategories(f);
        for (int k = 0; k < size; ++k) {
            key[0] = k;
            key.ComputeHash();
            if (!AddCell(fe)) ok = false;
        }
    }
    SyncDenseCells();
    return ok;
}

int MCFactorTables::CreateParameterIndices(int first) {
    if (fbBroken) return -1;
    std::fill(fvEffectParamIndex.begin(), fvEffectParamIndex.end(), 0);
    int idx = first;
    int local = 0;
    fFirstIndex = first;
    for (int e = 0; e < fNModelEffects; ++e) {
        const int fe = fvEffectToFE[static_cast<std::size_t>(e)];
        fvLocalOffsets[static_cast<std::size_t>(e)] = local;
        if (fe < 0) {
            fvEffectParamIndex[static_cast<std::size_t>(e)] = idx++;
            ++local;
            continue;
        }
        std::vector<Cell*>& cells = fvCellLists[static_cast<std::size_t>(fe)];
        std::sort(cells.begin(), cells.end(), MCHashPairPointerLess<int>());
        for (Cell* c : cells) *c->fpValue = idx++;
        const int n = static_cast<int>(cells.size());
        fvParamsPerFE[static_cast<std::size_t>(fe)] = n;
        local += n;
    }
    SyncDenseCells();
    return idx;
}

const std::vector<int>& MCFactorTables::LookUpCurrent(bool& allFound) const {
    allFound = !fbBroken;
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        const std::vector<int>& dense = fvDenseCells[static_cast<std::size_t>(fe)];
        int idx;
        if (!dense.empty()) {
            const int code = DenseCode(fe);
            idx = code < 0 ? -1 : std::max(dense[static_cast<std::size_t>(code)], -1);
        } else {
            const PairNode<int>* node = FindCell(fe);
            idx = node != nullptr ? *node->GetPair().fpValue : -1;
        }
        if (idx < 0) allFound = false;
        fvEffectParamIndex[static_cast<std::size_t>(fvFEToEffect[static_cast<std::size_t>(fe)])] =
            idx;
    }
    return fvEffectParamIndex;
}

const std::vector<int>& MCFactorTables::GetRowParameterIndices(const double* values,
                                                               bool& allFound) const {
    const int nFactors = static_cast<int>(fvFactorPositions.size());
    const int base = fCounts.fCategoryBase;
    for (int i = 0; i < nFactors; ++i)
        fvCurrCategories[static_cast<std::size_t>(i)] =
            MCCategoryIndex(values[fvFactorPositions[static_cast<std::size_t>(i)]], base);
    return LookUpCurrent(allFound);
}

const std::vector<int>& MCFactorTables::GetParameterIndices(const std::vector<int>& categories,
                                                            bool& allFound) const {
    const std::size_t nFactors = fvFactorPositions.size();
    for (std::size_t i = 0; i < nFactors; ++i)
        fvCurrCategories[i] = i < categories.size() ? categories[i] : -1;
    return LookUpCurrent(allFound);
}

int MCFactorTables::GetEffectParameterIndex(int effect, const std::vector<int>& categories) const {
    if (effect < 0 || effect >= fNModelEffects) return -1;
    const int fe = fvEffectToFE[static_cast<std::size_t>(effect)];
    if (fe < 0) return fvEffectParamIndex[static_cast<std::size_t>(effect)];
    MCHashKey& key = fvKeys[static_cast<std::size_t>(fe)];
    const int start = fvFEStarts[static_cast<std::size_t>(fe)];
    for (int i = 0; i < key.Size(); ++i) {
        const std::size_t f =
            static_cast<std::size_t>(fvFEFactors[static_cast<std::size_t>(start + i)]);
        key[i] = f < categories.size() && f < fvFactorPositions.size() ? categories[f] : -1;
    }
    key.ComputeHash();
    const PairNode<int>* node = fvTables[static_cast<std::size_t>(fe)]->Get(&key);
    return node != nullptr ? *node->GetPair().fpValue : -1;
}

const std::vector<int>& MCFactorTables::GetRowLocalParamIndices(const double* values,
                                                                bool& allFound) const {
    const std::vector<int>& idx = GetRowParameterIndices(values, allFound);
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        const std::size_t e = static_cast<std::size_t>(fvFEToEffect[static_cast<std::size_t>(fe)]);
        fvLocalParamIndex[static_cast<std::size_t>(fe)] =
            idx[e] < 0 ? -1 : idx[e] - fFirstIndex - fvLocalOffsets[e];
    }
    return fvLocalParamIndex;
}

bool MCFactorTables::GetParameterFactorValues(std::vector<int>& codes, int effect,
                                              int localParam) const {
    if (effect < 0 || effect >= fNModelEffects) return false;
    const int fe = fvEffectToFE[static_cast<std::size_t>(effect)];
    if (fe < 0) {
        codes.clear();
        return true;
    }
    const std::vector<Cell*>& cells = fvCellLists[static_cast<std::size_t>(fe)];
    if (localParam < 0 || localParam >= static_cast<int>(cells.size())) return false;
    const MCHashKey& key = *cells[static_cast<std::size_t>(localParam)]->fpKey;
    codes.resize(static_cast<std::size_t>(key.Size()));
    for (int i = 0; i < key.Size(); ++i)
        codes[static_cast<std::size_t>(i)] = key[i] + fCounts.fCategoryBase;
    return true;
}

int MCFactorTables::GetNEffectParameters(int effect) const {
    if (effect < 0 || effect >= fNModelEffects) return 0;
    const int fe = fvEffectToFE[static_cast<std::size_t>(effect)];
    if (fe < 0) return 1;
    return static_cast<int>(fvCellLists[static_cast<std::size_t>(fe)].size());
}

const std::vector<double>& MCFactorTables::GetCovariateMeans() {
    if (!fbMeansFinished) {
        if (!(fTotalWeight > 0.0))
            std::fill(fvCovMeans.begin(), fvCovMeans.end(), MCCommon_850::MCMV::Missing());
        fbMeansFinished = true;
    }
    return fvCovMeans;
}

void MCFactorTables::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCFactorTables display start");
    fCounts.Display();
    DisplayI("Number of model effects", fNModelEffects);
    for (int e = 0; e < fNModelEffects; ++e)
        DisplayIV("Factors of model effect " + std::to_string(e),
                  fvEffectFactors[static_cast<std::size_t>(e)]);
    DisplayI("Number of factor effects", fNFactorEffects);
    DisplayIV("Concatenated factor indices of the factor effects", fvFEFactors);
    DisplayIV("Number of factors of each factor effect", fvFESizes);
    DisplayIV("Start of each factor effect", fvFEStarts);
    for (int fe = 0; fe < fNFactorEffects; ++fe) {
        const std::vector<Cell*>& cells = fvCellLists[static_cast<std::size_t>(fe)];
        DisplayI("Cells of factor effect " + std::to_string(fe),
                 static_cast<long long>(cells.size()));
        for (const Cell* c : cells)
            DisplayIV("  cell (parameter " + std::to_string(*c->fpValue) + ")",
                      c->fpKey->GetValues());
    }
    DisplayIV("Factor map", fvFactorMap);
    DisplayIV("Effect parameter indices", fvEffectParamIndex);
    DisplayIV("Local effect indices", fvEffectToFE);
    DisplayIV("Model effect indices", fvFEToEffect);
    DisplayIV("Parameters per factor effect", fvParamsPerFE);
    DisplayIV("Parameter offsets", fvLocalOffsets);
    DisplayIV("Covariates", fvCovariates);
    DisplayI("Regression weight variable", fRegrWeightVar);
    DisplayI("Dependent mean variable", fDepMeanVar);
    DisplayD("Dependent mean", fDepMean);
    DisplayDV("Covariate means", fvCovMeans);
    DisplayB("Means finished", fbMeansFinished);
    DisplayD("Total frequency weight", fTotalWeight);
    DisplayD("Total regression weight", fTotalRegrWeight);
    DisplayD("Sample size", fSampleSize);
    DisplayIV("Covariate effect stat indices", fvCovStatIndices);
    DisplayDV("Covariate effect means", fvCovEffectMeans);
    DisplayDV("Covariate effect standard deviations", fvCovEffectStddev);
    DisplayText("MCFactorTables display end");
}

}  // namespace MCMath_850
