// The row-level work of the multinomial logistic model: design rows for the
// accumulator and for the host, scoring, and the score residuals with the
// classification table.
#include <algorithm>
#include <cmath>
#include <limits>

#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorTables.h"
#include "logistic/MCLogModel.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;

const std::vector<int>* MCLogModel::RecordIndices(const double* row) const {
    if (fpTables == nullptr || row == nullptr) return nullptr;
    bool allFound = true;
    const std::vector<int>& indices = fpTables->GetRowParameterIndices(row, allFound);
    return allFound ? &indices : nullptr;
}

bool MCLogModel::ExpandAndCompressRow(const double* row, const std::vector<int>& indices,
                                      int& count, std::vector<int>& columns,
                                      std::vector<double>& values) const {
    columns.clear();
    values.clear();
    count = 0;
    if (!fbParamsCreated || row == nullptr || indices.size() < Ix(fNEffects)) return false;
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        const int j = indices[e];
        if (j < 0 || j >= fNBasic) return false;
        const int local = fvBasicLocal[Ix(j)];
        if (local < 0) continue;
        const double v = fPatternLayout.Fitted(row, e);
        if (v == 0.0) continue;
        columns.push_back(local);
        values.push_back(v);
    }
    count = static_cast<int>(columns.size());
    return true;
}

bool MCLogModel::ExpandAndCompressRow(const double* row, int& count, std::vector<int>& columns,
                                      std::vector<double>& values) const {
    const std::vector<int>* indices = RecordIndices(row);
    if (indices == nullptr) {
        columns.clear();
        values.clear();
        count = 0;
        return false;
    }
    return ExpandAndCompressRow(row, *indices, count, columns, values);
}

bool MCLogModel::GetCellLayout(const std::vector<int>& indices, std::vector<int>& columns,
                               std::vector<int>& sources, int& nSources) const {
    columns.clear();
    sources.clear();
    nSources = static_cast<int>(fvSourceEffect.size()) + 1;
    if (!fbParamsCreated || indices.size() < Ix(fNEffects)) return false;
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        const int j = indices[e];
        if (j < 0 || j >= fNBasic) return false;
        const int local = fvBasicLocal[Ix(j)];
        if (local < 0) continue;
        columns.push_back(local);
        sources.push_back(fvEffectSource[e]);
    }
    return true;
}

bool MCLogModel::GetSourceValues(const double* row, std::vector<double>& values) const {
    if (!fbParamsCreated || row == nullptr) return false;
    values.resize(fvSourceEffect.size() + 1);
    values[0] = 1.0;
    for (std::size_t s = 0; s < fvSourceEffect.size(); ++s)
        values[s + 1] = fPatternLayout.Centred(row, fvSourceEffect[s]) - fvSourceShift[s + 1];
    return true;
}

bool MCLogModel::ExpandRow(std::vector<double>& x, const double* row) const {
    return FillRow(x, row, false);
}

bool MCLogModel::ExpandCentredRow(std::vector<double>& x, const double* row) const {
    return FillRow(x, row, true);
}

bool MCLogModel::FillRow(std::vector<double>& x, const double* row, bool centred) const {
    if (!fbParamsCreated || row == nullptr) return false;
    if (x.size() < Ix(fNBasic)) x.resize(Ix(fNBasic));
    std::fill(x.begin(), x.begin() + fNBasic, 0.0);
    bool allFound = true;
    const std::vector<int>& indices = fpTables->GetRowParameterIndices(row, allFound);
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        const int j = indices[e];
        if (j < 0 || j >= fNBasic) continue;
        x[Ix(j)] = centred ? fRecordLayout.Fitted(row, e) : fRecordLayout.Value(row, e);
    }
    return allFound;
}

bool MCLogModel::ExpandRow(const double* row, std::vector<int>& indices,
                           std::vector<double>& values) const {
    indices.clear();
    values.clear();
    if (!fbParamsCreated || row == nullptr) return false;
    bool allFound = true;
    const std::vector<int>& found = fpTables->GetRowParameterIndices(row, allFound);
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        indices.push_back(found[e]);
        values.push_back(found[e] >= 0 ? fRecordLayout.Value(row, e) : 0.0);
    }
    return allFound;
}

bool MCLogModel::DesignRow(const double* row) const {
    return ExpandRow(fvDesignRow, row);
}

int MCLogModel::BreakTie(const std::vector<int>& tied) const {
    // tied holds local category indices.
    int best = tied.front();
    for (int k : tied) {
        const std::size_t a = Ix(k), b = Ix(best);
        if (fvWeightedCounts[a] != fvWeightedCounts[b]) {
            if (fvWeightedCounts[a] > fvWeightedCounts[b]) best = k;
        } else if (fvUnweightedCounts[a] != fvUnweightedCounts[b]) {
            if (fvUnweightedCounts[a] > fvUnweightedCounts[b]) best = k;
        } else if (fvDepCategories[a] < fvDepCategories[b]) {
            best = k;
        }
    }
    return best;
}

bool MCLogModel::Probabilities(const double* x, const std::vector<double>& estimates,
                               std::vector<double>& probabilities) const {
    // The logits, the reference's being 0; probabilities relative to the
    // largest so that no exponential overflows.
    const std::size_t J = fvDepCategories.size();
    const std::size_t nLogits = J - 1;
    double etaMax = 0.0;
    for (std::size_t k = 0; k < nLogits; ++k) {
        fvEta[k] = MCMathFun::DDot(fNBasic, x, 1, estimates.data() + k * Ix(fNBasic), 1);
        etaMax = std::max(etaMax, fvEta[k]);
    }
    fvEta[nLogits] = 0.0;
    if (!std::isfinite(etaMax)) return false;
    probabilities.resize(J);
    double sum = 0.0;
    for (std::size_t k = 0; k < J; ++k) sum += probabilities[k] = std::exp(fvEta[k] - etaMax);
    for (std::size_t k = 0; k < J; ++k) probabilities[k] /= sum;
    return true;
}

bool MCLogModel::CentredProbabilities(const std::vector<double>& x,
                                      std::vector<double>& probabilities) const {
    return fvCentredEstimates.size() == Ix(fNAll) && x.size() >= Ix(fNBasic) &&
           Probabilities(x.data(), fvCentredEstimates, probabilities);
}

MCStatus MCLogModel::Score(const double* row, std::vector<double>& probabilities,
                           int& category) const {
    const std::size_t J = fvDepCategories.size();
    probabilities.assign(J, MCMV::Missing());
    category = -1;
    if (!fbParamsCreated || row == nullptr) return MCStatus();
    if (!DesignRow(row) || !Probabilities(fvDesignRow.data(), fvEstimates, probabilities))
        return MCStatus();

    const std::size_t nLogits = J - 1;
    // The reference starts as the maximum; a logit clearly above the current
    // maximum replaces it, one within rounding of it joins a tie.
    const double eps = std::numeric_limits<double>::epsilon();
    std::vector<int> tied{static_cast<int>(nLogits)};
    double current = 0.0;
    for (std::size_t k = 0; k < nLogits; ++k) {
        if (fvEta[k] > current + eps) {
            current = fvEta[k];
            tied.assign(1, static_cast<int>(k));
        } else if (fvEta[k] > current - eps) {
            tied.push_back(static_cast<int>(k));
        }
    }
    const int winner = tied.size() == 1 ? tied.front() : BreakTie(tied);
    category = fvDepCategories[Ix(winner)];
    return MCStatus();
}

void MCLogModel::GetDResiduals(std::vector<double>& residuals, const double* row) {
    const std::size_t J = fvDepCategories.size();
    const std::size_t nBasic = Ix(fNBasic);
    residuals.assign((J > 0 ? J - 1 : 0) * nBasic, 0.0);
    if (!fbParamsCreated || row == nullptr || J < 2) return;
    int predicted = -1;
    Score(row, fvProbabilities, predicted);
    if (predicted < 0) return;
    const double w = fRecordLayout.fFreqWeight >= 0 ? row[fRecordLayout.fFreqWeight] : 1.0;
    const int y = MCCategoryIndex(row[fRecordLayout.fDependent], 0);
    for (std::size_t k = 0; k + 1 < J; ++k) {
        const double delta = fvDepCategories[k] == y ? 1.0 : 0.0;
        const double c = (delta - fvProbabilities[k]) * w;
        for (std::size_t j = 0; j < nBasic; ++j) residuals[k * nBasic + j] = c * fvDesignRow[j];
    }
    // A record whose response is not one of the model's categories has no
    // row in the table.
    const int observed = y >= 0 && Ix(y) < fvDepLocal.size() ? fvDepLocal[Ix(y)] : -1;
    if (w == 0.0 || observed < 0) return;
    ++fNClassified;
    const int col = fvDepLocal[Ix(predicted)];
    fClassification.SetElem(observed, col, fClassification.GetElem(observed, col) + w);
}

}  // namespace MCMath_850
