// Merging the first pass of a fit whose records are split over several
// processes: every process ends with the tables of all the records.
#include <cmath>

#include "companion/MCIndex.h"
#include "data/MCFactorTables.h"

namespace MCMath_850 {

namespace {

void Append(const MCFactorCounts::CountVector& counts, std::vector<double>& out) {
    for (const auto& [weight, n] : counts) {
        out.push_back(weight);
        out.push_back(n);
    }
}

void Take(const std::vector<double>& in, std::size_t& at, MCFactorCounts::CountVector& counts) {
    for (auto& [weight, n] : counts) {
        weight = in[at++];
        n = in[at++];
    }
}

}  // namespace

bool MCFactorTables::MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
    if (fbBroken) return false;

    // Counts and totals are sums; weighted means travel as weighted sums.
    // Second moments travel as sums of squares about zero, SS + W mean^2.
    std::vector<double> sums;
    for (const auto& counts : fCounts.fvFactorCounts) Append(counts, sums);
    Append(fCounts.fvDepCounts, sums);
    Append(fCounts.fvOffsetCounts, sums);
    const double w = fTotalWeight, rw = fTotalRegrWeight;
    sums.push_back(w);
    sums.push_back(rw);
    sums.push_back(fSampleSize);
    for (double m : fvCovMeans) sums.push_back(m * rw);
    for (std::size_t j = 0; j < fvCovEffectMeans.size(); ++j) {
        sums.push_back(fvCovEffectMeans[j] * w);
        sums.push_back(fvCovEffectSS[j] + w * fvCovEffectMeans[j] * fvCovEffectMeans[j]);
    }
    sums.push_back(fDepMeanVar >= 0 ? fDepMean * w : 0.0);
    if (!reducer.Sum(sums)) return false;

    std::size_t at = 0;
    for (auto& counts : fCounts.fvFactorCounts) Take(sums, at, counts);
    Take(sums, at, fCounts.fvDepCounts);
    Take(sums, at, fCounts.fvOffsetCounts);
    fTotalWeight = sums[at++];
    fTotalRegrWeight = sums[at++];
    fSampleSize = sums[at++];
    const double W = fTotalWeight, RW = fTotalRegrWeight;
    for (double& m : fvCovMeans) {
        m = RW > 0.0 ? sums[at] / RW : 0.0;
        ++at;
    }
    for (std::size_t j = 0; j < fvCovEffectMeans.size(); ++j) {
        const double mean = W > 0.0 ? sums[at] / W : 0.0;
        const double squares = sums[at + 1];
        at += 2;
        fvCovEffectMeans[j] = mean;
        fvCovEffectSS[j] = std::max(0.0, squares - W * mean * mean);
    }
    if (fDepMeanVar >= 0) fDepMean = W > 0.0 ? sums[at] / W : 0.0;

    // The observed cells: the union of every process's, each added where it
    // is missing. Cells are numbered by key, so the order of addition does
    // not matter.
    for (std::size_t fe = 0; fe < fvCellLists.size(); ++fe) {
        std::vector<int> keys;
        for (const Cell* c : fvCellLists[fe])
            keys.insert(keys.end(), c->fpKey->GetAll(), c->fpKey->GetAll() + c->fpKey->Size());
        std::vector<std::vector<int>> all;
        if (!reducer.Gather(keys, all)) return false;
        const std::size_t n = Ix(fvFESizes[fe]);
        MCHashKey& key = fvKeys[fe];
        for (const std::vector<int>& theirs : all)
            for (std::size_t k = 0; k + n <= theirs.size(); k += n) {
                for (std::size_t i = 0; i < n; ++i) key[static_cast<int>(i)] = theirs[k + i];
                key.ComputeHash();
                if (fvTables[fe]->Get(&key) == nullptr && !AddCell(fe)) return false;
            }
    }
    SyncDenseCells();
    return true;
}

}  // namespace MCMath_850
