#pragma once
#include <vector>

namespace MCMath_850 {

// The compact layout of the analysis values of a record: position 0 the
// dependent, then the factors and the covariates in settings order, then the
// frequency weight and the regression weight when present.
class MCRecordExtractor {
public:
    MCRecordExtractor() = default;
    // Record positions; a weight below 0 is absent.
    MCRecordExtractor(int dependent, const std::vector<int>& factors,
                      const std::vector<int>& covariates, int freqWeight, int regrWeight);
    void SetRecordIndices(int dependent, const std::vector<int>& factors,
                          const std::vector<int>& covariates, int freqWeight, int regrWeight);

    int GetNPositions() const { return fNPositions; }
    int GetDependentOffset() const { return fDependentOffset; }
    const std::vector<int>& GetFactorOffsets() const { return fvFactorOffsets; }
    const std::vector<int>& GetCovariateOffsets() const { return fvCovariateOffsets; }
    // -1 when the weight is absent.
    int GetFreqWeightOffset() const { return fFreqWeightOffset; }
    int GetRegrWeightOffset() const { return fRegrWeightOffset; }
    // The record position of every compact position.
    const std::vector<int>& GetAllRecordIndices() const { return fvRecordIndices; }

    // Copies the record's analysis values into compact[0 .. GetNPositions()-1].
    void Extract(const double* record, double* compact) const;

    void Display() const;

private:
    int fNPositions = 0;
    std::vector<int> fvRecordIndices;
    int fDependentOffset = 0;
    std::vector<int> fvFactorOffsets;
    std::vector<int> fvCovariateOffsets;
    int fFreqWeightOffset = -1;
    int fRegrWeightOffset = -1;
};

}  // namespace MCMath_850
