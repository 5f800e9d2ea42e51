#pragma once
#include <string>
#include <vector>

namespace MCXML_850 {

// Univariate statistics of one field for a PMML UnivariateStats element:
// the field's name, its total frequency, numeric summaries and, for a
// discrete field, its values with their frequencies. A missing statistic
// (MCMV::Missing()) is left out of the element.
class MCUniStats {
public:
    struct SummStats {
        SummStats();
        double fMin, fMax, fMean, fStdDev, fMedian, fIQR;
    };

    MCUniStats(const std::string& field, double totalFreq, const SummStats& summary,
               const std::vector<std::string>& values, const std::vector<double>& counts)
        : fField(field),
          fTotalFreq(totalFreq),
          fSummary(summary),
          fvValues(values),
          fvCounts(counts) {}

    const std::string& GetField() const { return fField; }
    double GetTotalFreq() const { return fTotalFreq; }
    const SummStats& GetSummary() const { return fSummary; }
    const std::vector<std::string>& GetValues() const { return fvValues; }
    const std::vector<double>& GetCounts() const { return fvCounts; }

private:
    std::string fField;
    double fTotalFreq;
    SummStats fSummary;
    std::vector<std::string> fvValues;
    std::vector<double> fvCounts;
};

}  // namespace MCXML_850
