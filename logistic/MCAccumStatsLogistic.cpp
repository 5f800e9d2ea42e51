#include "logistic/MCAccumStatsLogistic.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <stdexcept>

#include "companion/DoubleDouble.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

// The rounding bounds. u = DBL_EPSILON / 2 is the unit roundoff; M =
// sum_j |x_j| max_k |beta_kj| bounds every |eta_k| of a row, and m is the
// number of products and sums that make an eta (the row's columns; for a
// cell its columns and sources). Then, against exact arithmetic on the same
// estimates and design values:
//
//  - each computed eta_k is off by at most m u M (a sum of m products);
//  - ln pi_y moves by at most 2 max_k |d eta_k| when the etas do (its
//    gradient e_y - pi has absolute sum 2(1 - pi_y)), and its own
//    evaluation, ln pi_y = eta_y - largest - ln sum_k exp(eta_k - largest),
//    adds a few u times |eta_y|, |largest| <= M, the exponents'
//    arguments (<= 2M) and J for the sum and its logarithm;
//  - pi_k moves by at most 2 max |d eta_k| and is evaluated to (J + 2) u
//    plus the rounding of its exponent; w (e_y - pi_k) x_j adds 3 u.
//
// So a row adds w (|ln pi_ref| + |eta_y| + (2 m + 8) M + J + 2) u to the
// log-likelihood's bound and w (2 (m + 2) M + J + 5) u |x_j| to the bound of
// every score of column j. The compensated sums add only u |sum| and a term
// of order n u^2 to that. The bounds below are twice these sums (2u =
// DBL_EPSILON), a margin for the approximations above.
namespace {

void AddCompensated(double& sum, double& error, double term) {
    double s, e;
    DoubleDouble::TwoSum(sum, term, s, e);
    sum = s;
    error += e;
}

}  // namespace

MCAccumStatsLogistic::MCAccumStatsLogistic(const MCRegSettings& settings, int p, int J,
                                           const std::vector<double>& estimates)
    : fSettings(settings), fNParams(p), fNCategs(J), fvEstimates(estimates) {
    ResetExtremes();
    if (p < 0 || J <= 1) return;
    const std::size_t n = Ix(J - 1) * Ix(p);
    if (n > estimates.size()) return;
    try {
        fvScores.assign(n, 0.0);
        fvScoresLo.assign(n, 0.0);
        fvScoreSums.assign(n, 0.0);
        fvScoreBounds.assign(Ix(p), 0.0);
        fvAbsMax.assign(Ix(p), 0.0);
        fvProbs.reserve(Ix(J));
        fvCoefficients.assign(Ix(J - 1) * Ix(J) / 2, 0.0);
        fvEta.assign(Ix(J - 1), 0.0);
        fvScoreCoef.assign(Ix(J - 1), 0.0);
        fvBlockProbs.assign(kCellBlock * Ix(J), 0.0);
        fvBlockBounds.assign(kCellBlock, 0.0);
        fvBlockCells.assign(kCellBlock, -1);
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
    fLL = fLLLo = fLLMagnitude = 0.0;
    fSmallestProb = 1.0;
    std::fill(fvScores.begin(), fvScores.end(), 0.0);
    std::fill(fvScoresLo.begin(), fvScoresLo.end(), 0.0);
    std::fill(fvScoreBounds.begin(), fvScoreBounds.end(), 0.0);
    // The estimates have moved since the last pass.
    const std::size_t p = Ix(std::max(fNParams, 0));
    if (fbValid)
        for (std::size_t j = 0; j < p; ++j) {
            double largest = 0.0;
            for (std::size_t k = 0; k + 1 < Ix(fNCategs); ++k)
                largest = std::max(largest, std::fabs(fvEstimates[k * p + j]));
            fvAbsMax[j] = largest;
        }
    fHessian.Zero();
    fNValidRows = 0;
    fNInvalidCalls = 0;
    fWeight = 0.0;
    fHessianMethod = method;
    fbCheckSeparation = checkSeparation;
    fCells.NewPass();
    ResetExtremes();
    std::fill(fvClassification.begin(), fvClassification.end(), 0.0);
    fUnclassified = 0.0;
    return fbValid;
}

int MCAccumStatsLogistic::UpdateForRow(const std::vector<int>& columns,
                                       const std::vector<double>& values, int category,
                                       double weight, bool likelihoodOnly) {
    if (!fbValid) return -1;
    // fvProbs will no longer be those of the last cell row.
    fbProbsOfLastEta = false;
    // Only a cell row has the logits that Classify needs.
    fUnclassified += 1.0;
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
    // Without parameters the row holds nothing (and fRow is not its own).
    static const std::vector<int> kNoColumns;
    static const std::vector<double> kNoValues;
    const std::vector<int>& at = p > 0 ? fRow.GetIndices() : kNoColumns;
    const std::vector<double>& x = p > 0 ? fRow.GetValues() : kNoValues;
    double magnitude = 0.0;
    for (std::size_t e = 0; e < at.size(); ++e) magnitude += std::fabs(x[e]) * fvAbsMax[Ix(at[e])];
    const int terms = static_cast<int>(at.size());
    AddRowLikelihood(category, weight, logReference, etaY, magnitude, terms);

    if (likelihoodOnly || p < 1) return 0;
    const double piY = fvProbs[Ix(category)];
    for (int k = 0; k < J - 1; ++k) {
        const double c = k == category ? weight * (1.0 - piY) : -weight * fvProbs[k];
        double* sums = fvScores.data() + Ix(k * p);
        double* errors = fvScoresLo.data() + Ix(k * p);
        for (std::size_t e = 0; e < at.size(); ++e)
            AddCompensated(sums[Ix(at[e])], errors[Ix(at[e])], c * x[e]);
    }
    const double bound = ScoreBoundFactor(weight, magnitude, terms);
    for (std::size_t e = 0; e < at.size(); ++e) fvScoreBounds[Ix(at[e])] += bound * std::fabs(x[e]);
    InformationWeights(weight, fvProbs.data());
    fHessian.KroneckerOuterProductIncr(fvCoefficients.data(), fRow);
    return 0;
}

void MCAccumStatsLogistic::AddRowLikelihood(int category, double weight, double logReference,
                                            double etaY, double magnitude, int terms) {
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
    AddCompensated(fLL, fLLLo, weight * logReference);
    if (category != fNCategs - 1) AddCompensated(fLL, fLLLo, weight * etaY);
    fLLMagnitude += weight * (std::fabs(logReference) + std::fabs(etaY) +
                              (2.0 * terms + 8.0) * magnitude + fNCategs + 2.0);
    for (double pk : fvProbs) fSmallestProb = std::min(fSmallestProb, pk);
}

double MCAccumStatsLogistic::ScoreBoundFactor(double weight, double magnitude, int terms) const {
    return weight * (2.0 * (terms + 2.0) * magnitude + fNCategs + 5.0);
}

double MCAccumStatsLogistic::GetLLRoundingBound() const {
    return DBL_EPSILON * (fLLMagnitude + std::fabs(fLL));
}

const std::vector<double>& MCAccumStatsLogistic::GetScores() const {
    for (std::size_t i = 0; i < fvScores.size(); ++i) fvScoreSums[i] = fvScores[i] + fvScoresLo[i];
    return fvScoreSums;
}

bool MCAccumStatsLogistic::GetScoreRoundingBounds(std::vector<double>& bounds) const {
    if (!fbValid) return false;
    const std::size_t p = fvScoreBounds.size();
    bounds.resize(fvScores.size());
    for (std::size_t i = 0; i < bounds.size(); ++i)
        bounds[i] = DBL_EPSILON * (fvScoreBounds[i % p] + std::fabs(fvScores[i]));
    return true;
}

void MCAccumStatsLogistic::InformationWeights(double weight, const double* probs) {
    std::size_t at = 0;
    for (int j = 0; j < fNCategs - 1; ++j) {
        const double wpj = weight * probs[Ix(j)];
        for (int l = 0; l < j; ++l) fvCoefficients[at++] = -wpj * probs[Ix(l)];
        fvCoefficients[at++] = wpj * (1.0 - probs[Ix(j)]);
    }
}

bool MCAccumStatsLogistic::UseCell(int cell, const std::vector<int>& columns,
                                   const std::vector<int>& sources, int nSources) {
    return fbValid && fNParams > 0 && fCells.Use(cell, columns, sources, nSources, fvEstimates);
}

int MCAccumStatsLogistic::UpdateForCellRow(const std::vector<double>& z, int category,
                                           double weight, bool likelihoodOnly) {
    if (!fbValid || z.size() < Ix(fCells.GetNSources())) return -1;
    double boundFactor = 0.0;
    if (CellRowLikelihood(z.data(), category, weight, boundFactor) != 0) return -1;
    if (!likelihoodOnly) CellRowSums(z.data(), Ix(category), weight, fvProbs.data(), boundFactor);
    return 0;
}

std::size_t MCAccumStatsLogistic::UpdateForCellRows(std::size_t n, const int* cells,
                                                    const int* categories, const double* weights,
                                                    const double* values, std::size_t nValues,
                                                    bool likelihoodOnly) {
    static const std::vector<int> kNone;
    if (!fbValid || fNParams < 1) return 0;
    const std::size_t J = Ix(fNCategs);
    // The rows of a block first get their probabilities and the
    // log-likelihood's terms, then add their scores and information: the
    // exponentials of one row then need not wait for the sums of the row
    // before. The two kinds of sums are apart, and each is added in the
    // rows' order, so the sums are those of the rows one by one.
    std::size_t done = 0;
    while (done < n) {
        const std::size_t count = std::min(n - done, kCellBlock);
        std::size_t taken = 0;
        for (; taken < count; ++taken) {
            const std::size_t r = done + taken;
            if (!fCells.Use(cells[r], kNone, kNone, 0, fvEstimates) ||
                nValues < Ix(fCells.GetNSources()) ||
                CellRowLikelihood(values + r * nValues, categories[r], weights[r],
                                  fvBlockBounds[taken]) != 0)
                break;
            fvBlockCells[taken] = fCells.GetCurrent();
            // A few values: copied one by one rather than through memmove.
            double* probs = fvBlockProbs.data() + taken * J;
            for (std::size_t k = 0; k < J; ++k) probs[k] = fvProbs[k];
        }
        if (!likelihoodOnly)
            for (std::size_t i = 0; i < taken; ++i) {
                const std::size_t r = done + i;
                fCells.Select(fvBlockCells[i]);
                CellRowSums(values + r * nValues, Ix(categories[r]), weights[r],
                            fvBlockProbs.data() + i * J, fvBlockBounds[i]);
            }
        done += taken;
        if (taken < count) break;
    }
    return done;
}

// The probabilities of fvEta's L logits (L known to the compiler when Lc
// is not 0, which then unrolls the loops; the operations and their order
// are the same either way).
template <std::size_t Lc>
void MCAccumStatsLogistic::RowProbabilities(std::size_t L) {
    if (Lc != 0) L = Lc;
    // The probabilities are a function of the logits alone: rows in a run
    // with the same logits (the start, where only the intercepts are not
    // 0, or rows of one covariate pattern) keep those of the row before.
    // (The vectors are short: copied and compared element by element.)
    bool same = fbProbsOfLastEta;
    for (std::size_t k = 0; k < L && same; ++k) same = fvEta[k] == fvLastEta[k];
    if (!same) {
        fbProbsOfLastEta = false;
        // Relative to the largest logit (the reference's is 0), whose own
        // exponential is 1; the runner-up tells Classify by how much it leads.
        std::size_t top = L;
        double largest = 0.0, second = -HUGE_VAL;
        for (std::size_t k = 0; k < L; ++k) {
            if (fvEta[k] > largest) {
                second = largest;
                largest = fvEta[k];
                top = k;
            } else if (fvEta[k] > second) {
                second = fvEta[k];
            }
        }
        fLastTop = top;
        fLastLead = largest - second;
        fvProbs.resize(L + 1);
        double sum = 0.0;
        for (std::size_t k = 0; k < L; ++k)
            sum += fvProbs[k] = k == top ? 1.0 : std::exp(fvEta[k] - largest);
        sum += fvProbs[L] = top == L ? 1.0 : std::exp(-largest);
        const double inverse = 1.0 / sum;
        for (double& pk : fvProbs) pk *= inverse;
        fLastLogReference = -largest - std::log(sum);
        fvLastEta.resize(L);
        for (std::size_t k = 0; k < L; ++k) fvLastEta[k] = fvEta[k];
        fbProbsOfLastEta = true;
    }
}

int MCAccumStatsLogistic::CellRowLikelihood(const double* z, int category, double weight,
                                            double& boundFactor) {
    const int J = fNCategs;
    if (category < 0 || category >= J || !(weight > 0.0) || !std::isfinite(weight)) return -1;
    double magnitude = 0.0;
    int terms = 0;
    if (!fCells.Eta(z, fvEta.data(), magnitude, terms)) {
        ++fNInvalidCalls;
        return -1;
    }
    const std::size_t L = Ix(J - 1);
    switch (L) {
        case 1:
            RowProbabilities<1>(L);
            break;
        case 2:
            RowProbabilities<2>(L);
            break;
        case 3:
            RowProbabilities<3>(L);
            break;
        default:
            RowProbabilities<0>(L);
    }
    const std::size_t y = Ix(category);
    AddRowLikelihood(category, weight, fLastLogReference, y < L ? fvEta[y] : 0.0, magnitude, terms);
    if (fbClassifying) Classify(y, weight, magnitude + 2.0 * fCells.GetCentreMagnitude(), terms);
    boundFactor = ScoreBoundFactor(weight, magnitude, terms);
    return 0;
}

void MCAccumStatsLogistic::CellRowSums(const double* z, std::size_t category, double weight,
                                       const double* probs, double boundFactor) {
    const std::size_t L = Ix(fNCategs - 1);
    switch (L) {
        case 1:
            RowCoefficients<1>(L, category, weight, probs);
            break;
        case 2:
            RowCoefficients<2>(L, category, weight, probs);
            break;
        case 3:
            RowCoefficients<3>(L, category, weight, probs);
            break;
        default:
            RowCoefficients<0>(L, category, weight, probs);
    }
    fCells.Add(z, fvScoreCoef.data(), fvCoefficients.data(), fvCoefficients.size(), boundFactor);
}

// As InformationWeights, with the scores' w (e_y - pi) before; Lc as in
// RowProbabilities.
template <std::size_t Lc>
void MCAccumStatsLogistic::RowCoefficients(std::size_t L, std::size_t category, double weight,
                                           const double* probs) {
    if (Lc != 0) L = Lc;
    double* score = fvScoreCoef.data();
    for (std::size_t k = 0; k < L; ++k)
        score[k] = weight * ((k == category ? 1.0 : 0.0) - probs[k]);
    double* info = fvCoefficients.data();
    std::size_t at = 0;
    for (std::size_t j = 0; j < L; ++j) {
        const double wpj = weight * probs[j];
        for (std::size_t l = 0; l < j; ++l) info[at++] = -wpj * probs[l];
        info[at++] = wpj * (1.0 - probs[j]);
    }
}

void MCAccumStatsLogistic::ClassifyWithCentres(const std::vector<double>& centres) {
    if (!fbValid) return;
    fCells.SetSourceCentres(centres);
    fvClassification.assign(Ix(fNCategs) * Ix(fNCategs), 0.0);
    fUnclassified = 0.0;
    fbClassifying = true;
}

// The host predicts a row's category from its own sums of the uncentred
// estimates, and breaks ties within rounding by its precedence. Its choice
// is known here only when the largest logit (the reference's is 0) leads
// every other by more than both computations' rounding and that tie band:
// each eta is off by at most about terms u size, size bounding the row's
// terms in either parametrisation (the uncentring adds twice the centres'
// share, see MCLogitCells), and the factor 16 covers the host's products
// of covariates and the uncentring's own rounding. A row within that
// margin, as an exact tie, leaves the table to the host's own pass, and so
// does a weight that is not whole, whose sums would depend on their order.
void MCAccumStatsLogistic::Classify(std::size_t category, double weight, double size, int terms) {
    const double margin = 16.0 * (terms + 8.0) * DBL_EPSILON * size + 4.0 * DBL_EPSILON;
    if (!(fLastLead > margin) || weight != std::floor(weight)) {
        fUnclassified += 1.0;
        return;
    }
    fvClassification[category * Ix(fNCategs) + fLastTop] += weight;
}

bool MCAccumStatsLogistic::GetClassification(std::vector<double>& counts) const {
    // Beyond 2^53 a sum of whole weights is no longer exact.
    if (!fbClassifying || fUnclassified != 0.0 || fNInvalidCalls != 0 ||
        !(fWeight < 9007199254740992.0))
        return false;
    counts = fvClassification;
    return true;
}

bool MCAccumStatsLogistic::MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) {
    if (!fbValid) return false;
    std::vector<double> sums{fWeight, static_cast<double>(fNValidRows),
                             static_cast<double>(fNInvalidCalls), fLLMagnitude, fUnclassified};
    sums.insert(sums.end(), fvScoreBounds.begin(), fvScoreBounds.end());
    sums.insert(sums.end(), fvClassification.begin(), fvClassification.end());
    // The compensated sums as (high, low) pairs, merged in extended
    // precision.
    std::vector<double> pairs;
    pairs.reserve(2 * (fvScores.size() + 1));
    auto pair = [&pairs](double sum, double error) {
        double hi, lo;
        DoubleDouble::TwoSum(sum, error, hi, lo);
        pairs.push_back(hi);
        pairs.push_back(lo);
    };
    pair(fLL, fLLLo);
    for (std::size_t i = 0; i < fvScores.size(); ++i) pair(fvScores[i], fvScoresLo[i]);
    std::vector<double> lows{fMinObservedProb, fMinComputedProb, fSmallestProb},
        highs{fMaxObservedProb};
    if (!reducer.Sum(sums) || !reducer.SumExtended(pairs) || !reducer.Min(lows) ||
        !reducer.Max(highs) || !fHessian.MergeAcrossProcesses(reducer))
        return false;
    fWeight = sums[0];
    fNValidRows = static_cast<int>(sums[1]);
    fNInvalidCalls = static_cast<int>(sums[2]);
    fLLMagnitude = sums[3];
    fUnclassified = sums[4];
    auto at = sums.begin() + 5;
    std::copy(at, at + static_cast<long>(fvScoreBounds.size()), fvScoreBounds.begin());
    at += static_cast<long>(fvScoreBounds.size());
    std::copy(at, at + static_cast<long>(fvClassification.size()), fvClassification.begin());
    fLL = pairs[0];
    fLLLo = pairs[1];
    for (std::size_t i = 0; i < fvScores.size(); ++i) {
        fvScores[i] = pairs[2 * i + 2];
        fvScoresLo[i] = pairs[2 * i + 3];
    }
    fMinObservedProb = lows[0];
    fMinComputedProb = lows[1];
    fMaxObservedProb = highs[0];
    fSmallestProb = lows[2];
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
    DisplayD("Log-likelihood", GetLL());
    DisplayD("Log-likelihood rounding bound", GetLLRoundingBound());
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
        DisplayDV("Scores", GetScores());
        fHessian.Display(true);
    }
    DisplayText("MCAccumStatsLogistic display end");
}

}  // namespace MCMath_850
