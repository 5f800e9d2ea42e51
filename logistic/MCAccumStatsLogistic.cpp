#include "logistic/MCAccumStatsLogistic.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <stdexcept>

#include "companion/MCDisplay.h"

namespace MCMath_850 {

MCAccumStatsLogistic::MCAccumStatsLogistic(const MCRegSettings& settings, int p, int J,
                                           const std::vector<double>& estimates)
    : fSettings(settings), fNParams(p), fNCategs(J), fvEstimates(estimates) {
    ResetExtremes();
    if (p < 0 || J <= 1) return;
    const std::size_t n = static_cast<std::size_t>(J - 1) * static_cast<std::size_t>(p);
    if (n > estimates.size()) return;
    try {
        fvScores.assign(n, 0.0);
        fvProbs.reserve(static_cast<std::size_t>(J));
    } catch (const std::bad_alloc&) {
        return;
    } catch (const std::length_error&) {
        return;
    }
    fbValid = fHessian.Resize(J - 1, p);
}

void MCAccumStatsLogistic::ResetExtremes() {
    fMinObservedProb = DBL_MAX;
    fMaxObservedProb = -DBL_MAX;
    fMinComputedProb = DBL_MAX;
}

bool MCAccumStatsLogistic::Reset(MCConst::MCHessianCompMethod method, bool checkSeparation) {
    fLL = 0.0;
    std::fill(fvScores.begin(), fvScores.end(), 0.0);
    fHessian.Zero();
    fNValidRows = 0;
    fNInvalidCalls = 0;
    fWeight = 0.0;
    fHessianMethod = method;
    fbCheckSeparation = checkSeparation;
    ResetExtremes();
    return fbValid;
}

int MCAccumStatsLogistic::UpdateForRow(const std::vector<int>& columns,
                                       const std::vector<double>& values, int category,
                                       double weight, bool likelihoodOnly) {
    if (!fbValid) return -1;
    const int p = fNParams;
    const int J = fNCategs;
    if (p > 0 && !fRow.Assign(columns, values, p)) return -1;
    // An infinite weight would turn every sum into inf or NaN.
    if (category < 0 || category >= J || !(weight > 0.0) || !std::isfinite(weight)) return -1;

    double logReference = 0.0;
    if (p != 0) {
        if (!fRow.ComputeProbabilities(fvEstimates, J, p, fvProbs, logReference)) {
            ++fNInvalidCalls;
            return -1;
        }
    } else {
        fvProbs.assign(static_cast<std::size_t>(J), 1.0 / J);
        logReference = std::log(1.0 / J);
    }

    ++fNValidRows;
    fWeight += weight;

    const double piY = fvProbs[category];
    if (fbCheckSeparation) {
        const double smallest = std::min(1.0, *std::min_element(fvProbs.begin(), fvProbs.end()));
        fMinObservedProb = std::min(fMinObservedProb, piY);
        fMaxObservedProb = std::max(fMaxObservedProb, piY);
        fMinComputedProb = std::min(fMinComputedProb, smallest);
    }

    // ln pi_y = ln pi_ref + eta_y: finite even where pi_y underflows to 0.
    fLL += weight * logReference;
    if (category != J - 1 && p > 0) fLL += weight * fRow.Dot(fvEstimates, category * p);

    if (likelihoodOnly || p < 1) return 0;
    for (int k = 0; k < J - 1; ++k) {
        const double c = k == category ? weight * (1.0 - piY) : -weight * fvProbs[k];
        fRow.IncrementPart(fvScores, k * p, c);
    }
    for (int j = 0; j < J - 1; ++j) {
        const double pj = fvProbs[j];
        fHessian.QuadraticOuterProductIncr(j, j, fRow, weight * pj * (1.0 - pj));
        for (int l = 0; l < j; ++l)
            fHessian.QuadraticOuterProductIncr(j, l, fRow, -weight * pj * fvProbs[l]);
    }
    return 0;
}

bool MCAccumStatsLogistic::GetHessian(MCSymMatrix& hessian) const {
    return fbValid && fHessian.CopyTo(hessian);
}

void MCAccumStatsLogistic::GetCounts(int& validRows, int& invalidCalls, double& weight) const {
    validRows = fNValidRows;
    invalidCalls = fNInvalidCalls;
    weight = fWeight;
}

void MCAccumStatsLogistic::GetMinMaxProbabilities(double& minObserved, double& maxObserved,
                                                  double& minComputed) const {
    minObserved = fMinObservedProb;
    maxObserved = fMaxObservedProb;
    minComputed = fMinComputedProb;
}

void MCAccumStatsLogistic::Display(bool full) const {
    using namespace MCDisplay_850;
    DisplayText("MCAccumStatsLogistic display start");
    DisplayB("Valid", fbValid);
    DisplayI("Model type of the settings", fSettings.GetModelType());
    DisplayI("Number of parameters per logit", fNParams);
    DisplayI("Number of categories", fNCategs);
    DisplayI("Number of estimates", static_cast<long long>(fvEstimates.size()));
    DisplayD("Log-likelihood", fLL);
    DisplayI("Valid rows", fNValidRows);
    DisplayI("Invalid calls", fNInvalidCalls);
    DisplayD("Accumulated weight", fWeight);
    DisplayC("Hessian method", fHessianMethod);
    DisplayB("Separation check", fbCheckSeparation);
    DisplayD("Minimum probability of the observed response", fMinObservedProb);
    DisplayD("Maximum probability of the observed response", fMaxObservedProb);
    DisplayD("Minimum computed probability", fMinComputedProb);
    if (full) {
        DisplayDV("Estimates", fvEstimates);
        DisplayDV("Scores", fvScores);
        fHessian.Display(true);
    }
    DisplayText("MCAccumStatsLogistic display end");
}

}  // namespace MCMath_850
