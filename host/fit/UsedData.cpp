#include "host/fit/UsedData.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/fit/RecordPass.h"

namespace mchost {

namespace {

// A sum that keeps the low-order digits its additions would drop.
class CompensatedSum {
public:
    void Add(double v) {
        const double t = fSum + v;
        fLow += std::fabs(fSum) >= std::fabs(v) ? (fSum - t) + v : (v - t) + fSum;
        fSum = t;
    }
    double Value() const { return fSum + fLow; }

private:
    double fSum = 0.0;
    double fLow = 0.0;
};

// A weighted mean and sum of squared deviations, updated one value at a
// time (West's algorithm), so no large sums cancel at the end.
class WeightedMoments {
public:
    void Add(double v, double w) {
        fWeight += w;
        const double d = v - fMean;
        const double r = d * w / fWeight;
        fMean += r;
        fSS += (fWeight - w) * d * r;
    }
    double Weight() const { return fWeight; }
    double Mean() const { return fWeight > 0.0 ? fMean : std::numeric_limits<double>::quiet_NaN(); }
    double SS() const { return fSS; }

private:
    double fWeight = 0.0;
    double fMean = 0.0;
    double fSS = 0.0;
};

}  // namespace

UsedData SummariseUsedData(const FittedModel& model, MCCommon_850::MultiPassRecordIter& records,
                           MCCommon_850::MCQueryCancel* cancel) {
    const MCMath_850::MCRegSettings& settings = *model.fpSettings;
    const MCMath_850::IMCRegOutputStats& stats = *model.fpStats;
    const std::vector<int>& covariates = settings.GetCovariates();
    const int fw = settings.GetFrequencyWeightVar();
    const int rw = settings.GetRegrWeightVar();
    const int dep = settings.GetDependent();
    const std::size_t nCov = covariates.size();

    UsedData u;
    u.fvMin.assign(nCov, std::numeric_limits<double>::infinity());
    u.fvMax.assign(nCov, -std::numeric_limits<double>::infinity());
    std::vector<WeightedMoments> covMoments(nCov);
    WeightedMoments depMoments;
    CompensatedSum rawSS;

    ForEachRecord(stats, records, cancel, [&](const MCCommon_850::Record& r, bool used) {
        if (!used) return;
        const double f = fw >= 0 ? r[fw] : 1.0;
        const double w = f * (rw >= 0 ? r[rw] : 1.0);
        for (std::size_t c = 0; c < nCov; ++c) {
            const double x = r[covariates[c]];
            u.fvMin[c] = std::min(u.fvMin[c], x);
            u.fvMax[c] = std::max(u.fvMax[c], x);
            covMoments[c].Add(x, f);
        }
        if (!model.fbLogistic) {
            const double y = r[dep];
            depMoments.Add(y, w);
            rawSS.Add(w * y * y);
        }
    });
    for (std::size_t c = 0; c < nCov; ++c) u.fvMean.push_back(covMoments[c].Mean());
    if (nCov > 0) u.fFreqWeight = covMoments.front().Weight();
    u.fWeight = depMoments.Weight();
    u.fMean = depMoments.Weight() > 0.0 ? depMoments.Mean() : 0.0;
    u.fRawSS = rawSS.Value();
    u.fCorrectedSS = depMoments.SS();
    return u;
}

}  // namespace mchost
