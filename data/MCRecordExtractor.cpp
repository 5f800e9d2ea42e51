#include "data/MCRecordExtractor.h"

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

MCRecordExtractor::MCRecordExtractor(int dependent, const std::vector<int>& factors,
                                     const std::vector<int>& covariates, int freqWeight,
                                     int regrWeight) {
    SetRecordIndices(dependent, factors, covariates, freqWeight, regrWeight);
}

void MCRecordExtractor::SetRecordIndices(int dependent, const std::vector<int>& factors,
                                         const std::vector<int>& covariates, int freqWeight,
                                         int regrWeight) {
    fvRecordIndices.clear();
    fvFactorOffsets.clear();
    fvCovariateOffsets.clear();
    fDependentOffset = 0;
    fvRecordIndices.push_back(dependent);
    for (int f : factors) {
        fvFactorOffsets.push_back(static_cast<int>(fvRecordIndices.size()));
        fvRecordIndices.push_back(f);
    }
    for (int c : covariates) {
        fvCovariateOffsets.push_back(static_cast<int>(fvRecordIndices.size()));
        fvRecordIndices.push_back(c);
    }
    fFreqWeightOffset = -1;
    if (freqWeight >= 0) {
        fFreqWeightOffset = static_cast<int>(fvRecordIndices.size());
        fvRecordIndices.push_back(freqWeight);
    }
    fRegrWeightOffset = -1;
    if (regrWeight >= 0) {
        fRegrWeightOffset = static_cast<int>(fvRecordIndices.size());
        fvRecordIndices.push_back(regrWeight);
    }
    fNPositions = static_cast<int>(fvRecordIndices.size());
}

void MCRecordExtractor::Extract(const double* record, double* compact) const {
    for (int i = 0; i < fNPositions; ++i) compact[i] = record[fvRecordIndices[Ix(i)]];
}

void MCRecordExtractor::Display() const {
    MCDisplay_850::DisplayText("MCRecordExtractor display start");
    MCDisplay_850::DisplayI("Number of compact positions", fNPositions);
    MCDisplay_850::DisplayIV("Record positions", fvRecordIndices);
    MCDisplay_850::DisplayI("Dependent offset", fDependentOffset);
    MCDisplay_850::DisplayIV("Factor offsets", fvFactorOffsets);
    MCDisplay_850::DisplayIV("Covariate offsets", fvCovariateOffsets);
    MCDisplay_850::DisplayI("Frequency weight offset", fFreqWeightOffset);
    MCDisplay_850::DisplayI("Regression weight offset", fRegrWeightOffset);
    MCDisplay_850::DisplayText("MCRecordExtractor display end");
}

}  // namespace MCMath_850
