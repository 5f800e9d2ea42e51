#include <memory>
#include <new>
#include <vector>

#include "companion/MCIndex.h"
#include "companion/MCSandwich.h"
#include "companion/MCStatusCodes.h"
#include "logistic/MCLogAlgorithm.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCStatus MCLogAlgorithm::RobustCovariance(MCCommon_850::MultiPassRecordIter& iter) {
    static_assert(static_cast<int>(MCSandwich::kCluster) == MCConst::ROBUST_CLUSTER,
                  "one numbering");
    const int type = fpSettings->GetSandwichType();
    // Leverages of a multinomial model are blocks, not numbers.
    if (type == MCSandwich::kHC2 || type == MCSandwich::kHC3)
        return ErrorStatus(StatusCode::kMissingInput);
    // Made in the centred parametrisation the fit works in, and carried to
    // the model's at the end: at a covariate far from zero the terms of
    // G M G in the model's are some 1e12 times its elements.
    const MCSymMatrix* centred = fModel.GetCentredHessianGI();
    const MCSymMatrix* information = centred != nullptr ? centred : fModel.GetHessianGI();
    const int all = fModel.GetNParameters();
    const int nBasic = fModel.GetNBasicParameters();
    const std::vector<int>& categories = fModel.GetDependCategories();
    const std::size_t nLogits = categories.size() - 1;
    const std::vector<int>& clusters = fpSettings->GetClusterVars();
    MCSandwich sandwich(type, static_cast<int>(clusters.size()));
    if (centred != nullptr) {
        std::vector<MCSandwich::Combination> units;
        std::vector<double> shifts;
        fModel.GetFitCentring(units, shifts);
        sandwich.SetCentring(units, shifts, true);
    }
    if (fClusterVar >= 0 && fClusterRuns.SingleRuns()) sandwich.SetSingleRuns(fClusterRuns.Runs());
    if (information == nullptr ||
        !sandwich.Start(*information, 1.0, fModel.GetRedundancyInfo(), all))
        return ErrorStatus(StatusCode::kAllocationFailed);
    const int dep = fpSettings->GetDependent();
    const int fwVar = fpSettings->GetFrequencyWeightVar();

    std::vector<double> x(Ix(nBasic), 0.0), probabilities;
    std::vector<int> idx, nonZero;
    std::vector<double> scores;
    iter.NewPass();
    MCStatus pass;
    long recordNo = 0;
    while (!pass.IsError() && iter.HasMore() && !Cancelled()) {
        const MCCommon_850::Record* record = iter.Next();
        if (record == nullptr) break;
        ++recordNo;
        if (!fValidator.IsValidFitRecord(*record, pass)) continue;
        const double* v = record->GetAll();
        int predicted = -1;
        if (centred != nullptr) {
            fModel.ExpandCentredRow(x, v);
            if (!fModel.CentredProbabilities(x, probabilities)) continue;
        } else {
            fModel.ExpandRow(x, v);
            if (fModel.Score(v, probabilities, predicted).IsError()) continue;
        }
        const int y = static_cast<int>(v[dep] + 0.5);
        // The row's non-zero columns once, not once per logit.
        nonZero.clear();
        for (int j = 0; j < nBasic; ++j)
            if (x[Ix(j)] != 0.0) nonZero.push_back(j);
        idx.clear();
        scores.clear();
        for (std::size_t k = 0; k < nLogits; ++k) {
            const double r = (y == categories[k] ? 1.0 : 0.0) - probabilities[k];
            for (int j : nonZero) {
                idx.push_back(static_cast<int>(k) * nBasic + j);
                scores.push_back(x[Ix(j)] * r);
            }
        }
        const double fw = fwVar >= 0 ? v[fwVar] : 1.0;
        double keys[2] = {0.0, 0.0};
        for (std::size_t c = 0; c < clusters.size() && c < 2; ++c) keys[c] = v[clusters[c]];
        if (!sandwich.Add(idx.data(), scores.data(), static_cast<int>(idx.size()), fw, 1.0, fw,
                          keys, recordNo, pass))
            break;
    }
    if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    if (MCCommon_850::PassReducer* reducer = fpSettings->GetPassReducer()) {
        if (!MCCommon_850::AgreeStatus(*reducer, pass) ||
            (!pass.IsError() && !sandwich.Merge(*reducer)))
            pass = ErrorStatus(StatusCode::kMissingInput);
    }
    if (pass.IsError()) return pass;
    fpRobustCov = std::make_unique<MCSymMatrix>(0);
    fvClusterCounts.clear();
    for (std::size_t c = 0; c < clusters.size(); ++c)
        fvClusterCounts.push_back(sandwich.GetNClusters(static_cast<int>(c)));
    return sandwich.Finish(fFactorTables.GetTotalWeight(), *fpRobustCov);
}

}  // namespace MCMath_850
