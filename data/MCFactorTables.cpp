#include "data/MCFactorTables.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
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
    fvFactorPositions = fCounts.fvFactors;
    // One slot more than there are factors: it stays -1 and stands for
    // an effect variable that is not a factor, whose cells then all
    // share that one value instead of reading outside the list.
    fvCurrCategories.assign(fvFactorPositions.size() + 1, -1);
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
    fvSeenCombination.clear();
    fvCombinationFactors.clear();
    fvCombinationStrides.clear();
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
    fbBroken = false;
    try {
        BuildFactorEffects(effectFactors);
    } catch (...) {
        // Without its tables nothing can be counted or numbered: UpdateAll
        // and the lookups fail and CreateParameterIndices returns -1 until
        // the effects are set again.
        ClearEffects();
        fbBroken = true;
        throw;
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
    fvFactorMap.assign(Ix(maxPos + 1), -1);
    for (std::size_t i = 0; i < fvFactorPositions.size(); ++i) {
        const int p = fvFactorPositions[i];
        if (p >= 0) fvFactorMap[Ix(p)] = static_cast<int>(i);
    }

    for (std::size_t e = 0; e < effectFactors.size(); ++e) {
        const std::vector<int>& list = effectFactors[e];
        const int k = static_cast<int>(list.size());
        if (k < 1) continue;
        fvFESizes.push_back(k);
        fvFEStarts.push_back(fvFEStarts.back() + k);
        fvKeys.emplace_back(k);
        fvTables.push_back(std::make_unique<MCHashtable<int>>(kTableCapacity));
        fvCellLists.emplace_back();
        long cells = 1;
        for (int pos : list) {
            const bool known =
                pos >= 0 && Ix(pos) < fvFactorMap.size() && fvFactorMap[Ix(pos)] >= 0;
            fvFEFactors.push_back(known ? fvFactorMap[Ix(pos)] : nFactors);
            const int size = known ? fCounts.GetNCategories(fvFEFactors.back()) : 0;
            cells = (size > 0 && cells <= kDenseCellLimit) ? cells * size : kDenseCellLimit + 1L;
        }
        // Strides with the last factor fastest.
        fvFEStrides.resize(fvFEFactors.size(), 0);
        long stride = 1;
        for (std::size_t at = fvFEFactors.size(); at-- > fvFEFactors.size() - list.size();) {
            fvFEStrides[at] = static_cast<int>(stride);
            const int size =
                fvFEFactors[at] < nFactors ? fCounts.GetNCategories(fvFEFactors[at]) : 0;
            stride *= std::max(size, 1);
            if (stride > kDenseCellLimit) stride = kDenseCellLimit + 1L;
        }
        fvDenseCells.emplace_back();
        if (cells <= kDenseCellLimit)
            fvDenseCells.back().assign(static_cast<std::size_t>(cells), kUnseenCell);
        fvEffectToFE[e] = fNFactorEffects;
        fvFEToEffect.push_back(static_cast<int>(e));
        ++fNFactorEffects;
    }
    fvParamsPerFE.assign(Ix(fNFactorEffects), 0);
    fvLocalParamIndex.assign(Ix(fNFactorEffects), -1);

    // Records mostly repeat combinations of categories already counted:
    // one index over the factors in use then answers for all effects.
    long combinations = 1;
    for (std::size_t i = 0; i < fvFEFactors.size(); ++i) {
        const int f = fvFEFactors[i];
        if (f >= nFactors) {  // a variable that is no factor: no combination
            fvCombinationFactors.clear();
            return;
        }
        if (std::find(fvCombinationFactors.begin(), fvCombinationFactors.end(), f) !=
            fvCombinationFactors.end())
            continue;
        combinations *= std::max(fCounts.GetNCategories(f), 1);
        if (combinations > kDenseCellLimit) {
            fvCombinationFactors.clear();
            return;
        }
        fvCombinationFactors.push_back(f);
    }
    for (const std::vector<int>& dense : fvDenseCells)
        if (dense.empty()) {
            fvCombinationFactors.clear();
            return;
        }
    if (fvCombinationFactors.empty()) return;
    fvCombinationStrides.assign(fvCombinationFactors.size(), 1);
    for (std::size_t i = fvCombinationFactors.size(); i-- > 1;)
        fvCombinationStrides[i - 1] =
            fvCombinationStrides[i] * std::max(fCounts.GetNCategories(fvCombinationFactors[i]), 1);
    fvSeenCombination.assign(static_cast<std::size_t>(combinations), 0);
}

void MCFactorTables::SetCovarEffects(const std::vector<int>& statIndices,
                                     const std::vector<std::vector<int>>& covLists) {
    const std::size_t n = std::min(statIndices.size(), Ix(fNModelEffects));
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
}

const PairNode<int>* MCFactorTables::FindCell(std::size_t fe) const {
    MCHashKey& key = fvKeys[fe];
    int* k = key.GetAll();
    const int* f = fvFEFactors.data() + fvFEStarts[fe];
    const int n = fvFESizes[fe];
    for (int i = 0; i < n; ++i) k[i] = fvCurrCategories[Ix(f[i])];
    key.ComputeHash();
    return fvTables[fe]->Get(&key);
}

int MCFactorTables::DenseCode(std::size_t fe) const {
    const std::size_t start = Ix(fvFEStarts[fe]);
    const std::size_t end = start + Ix(fvFESizes[fe]);
    const int nFactors = static_cast<int>(fvFactorPositions.size());
    int code = 0;
    for (std::size_t i = start; i < end; ++i) {
        const int f = fvFEFactors[i];
        const int c = fvCurrCategories[Ix(f)];
        // The sizes read directly: this runs for every effect of every record.
        if (f >= nFactors || c < 0 || c >= fCounts.fvFactorSizes[Ix(f)]) return -1;
        code += c * fvFEStrides[i];
    }
    return code;
}

int MCFactorTables::DenseCodeCounted(std::size_t fe) const {
    const std::size_t start = Ix(fvFEStarts[fe]);
    const std::size_t end = start + Ix(fvFESizes[fe]);
    const int* categories = fvCurrCategories.data();
    int code = 0;
    for (std::size_t i = start; i < end; ++i) {
        // Every factor's category was counted in range; only the slot of a
        // variable that is no factor holds -1.
        const int c = categories[fvFEFactors[i]];
        if (c < 0) return -1;
        code += c * fvFEStrides[i];
    }
    return code;
}

void MCFactorTables::SyncDenseCells() {
    for (std::size_t fe = 0; fe < fvDenseCells.size(); ++fe) {
        std::vector<int>& dense = fvDenseCells[fe];
        if (dense.empty()) continue;
        std::fill(dense.begin(), dense.end(), kUnseenCell);
        const int* strides = fvFEStrides.data() + fvFEStarts[fe];
        for (const Cell* c : fvCellLists[fe]) {
            long code = 0;
            for (int i = 0; i < c->fpKey->Size(); ++i)
                code += static_cast<long>((*c->fpKey)[i]) * strides[i];
            if (code >= 0 && code < static_cast<long>(dense.size())) dense[Ix(code)] = *c->fpValue;
        }
    }
}

bool MCFactorTables::AddCell(std::size_t fe) {
    MCHashtable<int>* table = fvTables[fe].get();
    const MCHashKey& key = fvKeys[fe];
    // A cell that cannot be stored would leave the record counted short:
    // running out of memory here ends the operation.
    MCHashKey* stored = new (std::nothrow) MCHashKey(key);
    int* value = new (std::nothrow) int(0);
    if (stored == nullptr || value == nullptr) {
        delete stored;
        delete value;
        throw std::bad_alloc();
    }
    stored->SetHashCode(key.GetHashCode());
    if (!table->Put(stored, value)) {
        delete stored;
        delete value;
        throw std::bad_alloc();  // the key was not there: only memory refuses it
    }
    PairNode<int>* node = table->Get(stored);
    try {
        fvCellLists[fe].push_back(&node->GetPair());
    } catch (...) {
        // The cell is in the table but would never be numbered.
        fbBroken = true;
        throw;
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
        fCounts.fvDepCounts[Ix(k)].first += w;
        fCounts.fvDepCounts[Ix(k)].second += 1.0;
    }

    bool ok = true;
    unsigned char* seen = nullptr;
    if (!fvSeenCombination.empty()) {
        // Every factor's category was counted in range.
        std::size_t code = 0;
        for (std::size_t i = 0; i < fvCombinationFactors.size(); ++i)
            code += Ix(fvCurrCategories[Ix(fvCombinationFactors[i])] * fvCombinationStrides[i]);
        seen = &fvSeenCombination[code];
    }
    const std::size_t nEffects = seen != nullptr && *seen ? 0 : fvDenseCells.size();
    for (std::size_t fe = 0; fe < nEffects; ++fe) {
        std::vector<int>& dense = fvDenseCells[fe];
        const int code = dense.empty() ? -1 : DenseCodeCounted(fe);
        if (code >= 0 && dense[Ix(code)] != kUnseenCell) continue;
        if (FindCell(fe) != nullptr) continue;
        if (!AddCell(fe)) {
            ok = false;
            continue;
        }
        if (code >= 0) dense[Ix(code)] = 0;  // the value a new cell holds
    }
    if (seen != nullptr && ok) *seen = 1;

    const double wOld = fTotalWeight;
    fTotalWeight += w;
    fSampleSize += 1.0;
    const double r = fRegrWeightVar >= 0 ? w * values[fRegrWeightVar] : w;
    fTotalRegrWeight += r;

    if (fTotalRegrWeight > 0.0 && !fbMeansFinished) {
        const double f = r / fTotalRegrWeight;
        for (std::size_t c = 0; c < fvCovMeans.size(); ++c) {
            double& m = fvCovMeans[c];
            m = CancelTiny(m + (values[fvCovariates[c]] - m) * f, m);
        }
    }

    const double W = fTotalWeight;
    if (w > 0.0) {
        for (std::size_t j = 0; j < fvCovEffectVars.size(); ++j) {
            double p = 1.0;
            for (int v : fvCovEffectVars[j]) p *= values[v];
            double& m = fvCovEffectMeans[j];
            const double d = (w / W) * (p - m);
            m = CancelTiny(m + d, m);
            double& ss = fvCovEffectSS[j];
            ss += (W / w) * d * wOld * d;
        }
    }

    if (fDepMeanVar >= 0 && W > 0.0)
        fDepMean = CancelTiny(fDepMean + (values[fDepMeanVar] - fDepMean) * w / W, fDepMean);
    return ok;
}

bool MCFactorTables::FillTables4MainEffects() {
    bool ok = true;
    const int nFactors = static_cast<int>(fvFactorPositions.size());
    for (std::size_t fe = 0; fe < fvTables.size(); ++fe) {
        if (fvFESizes[fe] != 1 || fvTables[fe]->GetCount() != 0) continue;
        const int f = fvFEFactors[Ix(fvFEStarts[fe])];
        if (f >= nFactors) continue;
        MCHashKey& key = fvKeys[fe];
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
    for (std::size_t e = 0; e < fvEffectToFE.size(); ++e) {
        const int fe = fvEffectToFE[e];
        fvLocalOffsets[e] = local;
        if (fe < 0) {
            fvEffectParamIndex[e] = idx++;
            ++local;
            continue;
        }
        std::vector<Cell*>& cells = fvCellLists[Ix(fe)];
        std::sort(cells.begin(), cells.end(), MCHashPairPointerLess<int>());
        for (Cell* c : cells) *c->fpValue = idx++;
        const int n = static_cast<int>(cells.size());
        fvParamsPerFE[Ix(fe)] = n;
        local += n;
    }
    SyncDenseCells();
    return idx;
}

const std::vector<int>& MCFactorTables::LookUpCurrent(bool& allFound) const {
    allFound = !fbBroken;
    for (std::size_t fe = 0; fe < fvDenseCells.size(); ++fe) {
        const std::vector<int>& dense = fvDenseCells[fe];
        int idx;
        if (!dense.empty()) {
            const int code = DenseCode(fe);
            idx = code < 0 ? -1 : std::max(dense[Ix(code)], -1);
        } else {
            const PairNode<int>* node = FindCell(fe);
            idx = node != nullptr ? *node->GetPair().fpValue : -1;
        }
        if (idx < 0) allFound = false;
        fvEffectParamIndex[Ix(fvFEToEffect[fe])] = idx;
    }
    return fvEffectParamIndex;
}

const std::vector<int>& MCFactorTables::GetRowParameterIndices(const double* values,
                                                               bool& allFound) const {
    const int base = fCounts.fCategoryBase;
    for (std::size_t i = 0; i < fvFactorPositions.size(); ++i)
        fvCurrCategories[i] = MCCategoryIndex(values[fvFactorPositions[i]], base);
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
    const int fe = fvEffectToFE[Ix(effect)];
    if (fe < 0) return fvEffectParamIndex[Ix(effect)];
    MCHashKey& key = fvKeys[Ix(fe)];
    const int* factors = fvFEFactors.data() + fvFEStarts[Ix(fe)];
    for (int i = 0; i < key.Size(); ++i) {
        const std::size_t f = Ix(factors[i]);
        key[i] = f < categories.size() && f < fvFactorPositions.size() ? categories[f] : -1;
    }
    key.ComputeHash();
    const PairNode<int>* node = fvTables[Ix(fe)]->Get(&key);
    return node != nullptr ? *node->GetPair().fpValue : -1;
}

const std::vector<int>& MCFactorTables::GetRowLocalParamIndices(const double* values,
                                                                bool& allFound) const {
    const std::vector<int>& idx = GetRowParameterIndices(values, allFound);
    for (std::size_t fe = 0; fe < fvLocalParamIndex.size(); ++fe) {
        const std::size_t e = Ix(fvFEToEffect[fe]);
        fvLocalParamIndex[fe] = idx[e] < 0 ? -1 : idx[e] - fFirstIndex - fvLocalOffsets[e];
    }
    return fvLocalParamIndex;
}

bool MCFactorTables::GetParameterFactorValues(std::vector<int>& codes, int effect,
                                              int localParam) const {
    if (effect < 0 || effect >= fNModelEffects) return false;
    const int fe = fvEffectToFE[Ix(effect)];
    if (fe < 0) {
        codes.clear();
        return true;
    }
    const std::vector<Cell*>& cells = fvCellLists[Ix(fe)];
    if (localParam < 0 || Ix(localParam) >= cells.size()) return false;
    const MCHashKey& key = *cells[Ix(localParam)]->fpKey;
    codes.resize(Ix(key.Size()));
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = key[static_cast<int>(i)] + fCounts.fCategoryBase;
    return true;
}

int MCFactorTables::GetNEffectParameters(int effect) const {
    if (effect < 0 || effect >= fNModelEffects) return 0;
    const int fe = fvEffectToFE[Ix(effect)];
    if (fe < 0) return 1;
    return static_cast<int>(fvCellLists[Ix(fe)].size());
}

std::vector<double> MCFactorTables::GetCovEffectStddev() const {
    std::vector<double> sd(fvCovEffectSS.size(), 0.0);
    if (fTotalWeight > 1.0)
        for (std::size_t j = 0; j < sd.size(); ++j)
            sd[j] = std::sqrt(fvCovEffectSS[j] / (fTotalWeight - 1.0));
    return sd;
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
    for (std::size_t e = 0; e < fvEffectFactors.size(); ++e)
        DisplayIV("Factors of model effect " + std::to_string(e), fvEffectFactors[e]);
    DisplayI("Number of factor effects", fNFactorEffects);
    DisplayIV("Concatenated factor indices of the factor effects", fvFEFactors);
    DisplayIV("Number of factors of each factor effect", fvFESizes);
    DisplayIV("Start of each factor effect", fvFEStarts);
    for (std::size_t fe = 0; fe < fvCellLists.size(); ++fe) {
        const std::vector<Cell*>& cells = fvCellLists[fe];
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
    DisplayDV("Covariate effect standard deviations", GetCovEffectStddev());
    DisplayText("MCFactorTables display end");
}

}  // namespace MCMath_850
