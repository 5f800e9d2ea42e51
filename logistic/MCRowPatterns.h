#pragma once
#include <vector>

namespace MCMath_850 {

// The records of one covariate pattern: their analysis values one record
// after another, each in the record extractor's layout with the dependent
// replaced by its local category index.
class MCRowPatterns {
public:
    const std::vector<double>& GetAllRecords() const { return fRecordData; }
    // Appends one record of n values; returns where it starts.
    double* Append(std::size_t n) {
        const std::size_t at = fRecordData.size();
        fRecordData.resize(at + n);
        return fRecordData.data() + at;
    }

private:
    std::vector<double> fRecordData;
};

}  // namespace MCMath_850
