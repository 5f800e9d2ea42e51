#include "logistic/MCAccumStatsLogistic.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <stdexcept>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

MCAccumStatsLogistic::MCAccumStatsLogistic(const MCRegSettings& settings, int p, int J,
                                           const std::vector<double>& estimates)
    : fSettings(settings), fNParams(p), fNCategs(J), fvEstimates(estimates) {
    ResetExtremes();
    if (p < 0 || J <= 1) return;
    const std::size_t n = Ix(J - 1) * Ix(p);
    if (n > estimates.size()) return;
    try {
        fvScores.assign(n, 0.0);
        fvProbs.reserve(Ix(J));
        fvCoefficients.assign(Ix(J - 1) * Ix(J) / 2, 0.0);
    } catch (const std::bad_alloc&) {
        return;
    } catch (const std::length_error&) {
        return;
    }
    fbValid = fHessian.Resize(J - 1, p);
    fCells.Setup(J - 1, p);
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
    fCells.NewPass();
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
        fvProbs.assign(Ix(J), 1.0 / J);
        logReference = std::log(1.0 / J);
    }

    const double etaY = category != J - 1 && p > 0 ? fRow.Dot(fvEstimates, category * p) : 0.0;
    AddRowLikelihood(category, weight, logReference, etaY);

    if (likelihoodOnly || p < 1) return 0;
    const double piY = fvProbs[Ix(category)];
    for (int k = 0; k < J - 1; ++k) {
        const double c = k == category ? weight * (1.0 - piY) : -weight * fvProbs[k];
        fRow.IncrementPart(fvScores, k * p, c);
    }
    InformationWeights(weight);
    fHessian.KroneckerOuterProductIncr(fvCoefficients.data(), fRow);
    return 0;
}

void MCAccumStatsLogistic::AddRowLikelihood(int category, double weight, double logReference,
                                            double etaY) {
    ++fNValidRows;
    fWeight += weight;
    if (fbCheckSeparation) {
        const double piY = fvProbs[Ix(category)];
        const double smallest = std::min(1.0, *std::min_element(fvProbs.begin(), fvProbs.end()));
        fMinObservedProb = std::min(fMinObservedProb, piY);
        fMaxObservedProb = std::max(fMaxObservedProb, piY);
        fMinComputedProb = std::min(fMinComputedProb, smallest);
    }
    // ln pi_y = ln pi_ref + eta_y: finite even where pi_y underflows to 0.
    fLL += weight * logReference;
    if (category != fNCategs - 1) fLL += weight * etaY;
}

void MCAccumStatsLogistic::InformationWeights(double weight) {
    std::size_t at = 0;
    for (int j = 0; j < fNCategs - 1; ++j) {
        const double wpj = weight * fvProbs[Ix(j)];
        for (int l = 0; l < j; ++l) fvCoefficients[at++] = -wpj * fvProbs[Ix(l)];
        fvCoefficients[at++] = wpj * (1.0 - fvProbs[Ix(j)]);
    }
}

bool MCAccumStatsLogistic::UseCell(int cell, const std::vector<int>& columns,
                                   const std::vector<int>& sources, int nSources) {
    return fbValid && fNParams > 0 && fCells.Use(cell, columns, sources, nSources, fvEstimates);
}

int MCAccumStatsLogistic::UpdateForCellRow(const std::vector<double>& z, int category,
                                           double weight, bool likelihoodOnly) {
    if (!fbValid || z.size() < Ix(fCells.GetNSources())) return -1;
    const int J = fNCategs;
    if (category < 0 || category >= J || !(weight > 0.0) || !std::isfinite(weight)) return -1;
    if (!fCells.Eta(z, fvEta)) {
        ++fNInvalidCalls;
        return -1;
    }
    const std::size_t L = Ix(J - 1);
    // Relative to the largest logit (the reference's is 0), whose own
    // exponential is 1.
    std::size_t top = L;
    double largest = 0.0;
    for (std::size_t k = 0; k < L; ++k)
        if (fvEta[k] > largest) largest = fvEta[k], top = k;
    fvProbs.resize(Ix(J));
    double sum = 0.0;
    for (std::size_t k = 0; k < L; ++k)
        sum += fvProbs[k] = k == top ? 1.0 : std::exp(fvEta[k] - largest);
    sum += fvProbs[L] = top == L ? 1.0 : std::exp(-largest);
    const double inverse = 1.0 / sum;
    for (double& pk : fvProbs) pk *= inverse;
    const std::size_t y = Ix(category);
    AddRowLikelihood(category, weight, -largest - std::log(sum), y < L ? fvEta[y] : 0.0);
    if (likelihoodOnly) return 0;

    fvScoreCoef.resize(L);
    for (std::size_t k = 0; k < L; ++k)
        fvScoreCoef[k] = weight * ((k == y ? 1.0 : 0.0) - fvProbs[k]);
    InformationWeights(weight);
    fCells.Add(z, fvScoreCoef, fvCoefficients);
    return 0;
}

bool MCAccumStatsLogistic::MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
    if (!fbValid) return false;
    std::vector<double>& information = fHessian.AsVector();
    std::vector<double> sums{fLL, fWeight, static_cast<double>(fNValidRows),
                             static_cast<double>(fNInvalidCalls)};
    sums.insert(sums.end(), fvScores.begin(), fvScores.end());
    sums.insert(sums.end(), information.begin(), information.end());
    std::vector<double> lows{fMinObservedProb, fMinComputedProb}, highs{fMaxObservedProb};
    if (!reducer.Sum(sums) || !reducer.Min(lows) || !reducer.Max(highs)) return false;
    fLL = sums[0];
    fWeight = sums[1];
    fNValidRows = static_cast<int>(sums[2]);
    fNInvalidCalls = static_cast<int>(sums[3]);
    auto at = sums.begin() + 4;
    std::copy(at, at + static_cast<long>(fvScores.size()), fvScores.begin());
    at += static_cast<long>(fvScores.size());
    std::copy(at, at + static_cast<long>(information.size()), information.begin());
    fMinObservedProb = lows[0];
    fMinComputedProb = lows[1];
    fMaxObservedProb = highs[0];
    return true;
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
