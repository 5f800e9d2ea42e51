#pragma once
#include <vector>

#include "companion/MCSparseVector.h"
#include "companion/MCSymBlockMatrix.h"
#include "logistic/MCLogitCells.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// The multinomial-logit accumulator. With J response categories (the last,
// J - 1, the reference) and p parameters per logit, the estimates are J - 1
// consecutive blocks of p coefficients; the accumulator reads them through a
// reference to the optimizer's vector, so a new pass needs only Reset.
//
// Per row it adds the log-likelihood w ln pi_y, the score w (e_y - pi) (x)
// x and the information w (diag(pi) - pi pi') (x) x x' over the J - 1
// non-reference categories. For this model the observed and the expected
// information coincide, so the Hessian method is only recorded.
//
// The log-likelihood and the scores are compensated sums (a running sum and
// its rounding error): near the maximum the change that a Newton step makes
// to the log-likelihood is far below the rounding of a plain sum of many
// rows, which repeats the same terms row after row. What is left is the
// rounding of each row's own terms, which the accumulator bounds as it goes
// (GetLLRoundingBound, GetScoreRoundingBounds) from the size of the row's
// linear predictors, sum_j |x_j| max_k |beta_kj|.
class MCAccumStatsLogistic : public IMCAccumStats {
public:
    // Valid when p >= 0, J > 1 and (J - 1) p does not exceed the length of
    // estimates. The settings and the estimates must outlive the object.
    MCAccumStatsLogistic(const MCRegSettings& settings, int p, int J,
                         const std::vector<double>& estimates);
    ~MCAccumStatsLogistic() override = default;
    MCAccumStatsLogistic(const MCAccumStatsLogistic&) = delete;
    MCAccumStatsLogistic& operator=(const MCAccumStatsLogistic&) = delete;

    bool IsValid() const { return fbValid; }

    // Clears the sums, counts and probability extremes; false for an invalid
    // object.
    bool Reset(MCConst::MCHessianCompMethod method, bool checkSeparation) override;
    // The logistic parameters are unconstrained.
    bool CheckConstraints() override { return true; }
    // columns: strictly ascending indices 0..p-1 within one logit; category:
    // local index of the observed response, 0..J-1. Returns 0 when the row
    // was used; -1 (nothing changed, except the invalid-call count when the
    // probabilities could not be computed) for a malformed row, a category
    // out of range, a weight that is not positive and finite or an invalid
    // object.
    int UpdateForRow(const std::vector<int>& columns, const std::vector<double>& values,
                     int category, double weight, bool likelihoodOnly) override;
    double GetLL() const override { return fLL + fLLLo; }
    // The compensated sums, rounded to double.
    const std::vector<double>& GetScores() const override;
    // |GetLL() - the log-likelihood of the same estimates in exact
    // arithmetic| is at most this (see the .cpp).
    double GetLLRoundingBound() const override;
    double GetSmallestProbability() const override { return fSmallestProb; }
    // The same for every score.
    bool GetScoreRoundingBounds(std::vector<double>& bounds) const override;
    // hessian becomes the full matrix of order (J - 1) p, block row k covering
    // rows k p .. k p + p - 1.
    bool GetHessian(MCSymMatrix& hessian) const override;
    void GetCounts(int& validRows, int& invalidCalls, double& weight) const override;
    // Smallest and largest probability of the observed response and the
    // smallest probability of any category, over the rows since the last
    // Reset with separation checking; the initial extremes otherwise.
    void GetMinMaxProbabilities(double& minObserved, double& maxObserved,
                                double& minComputed) const override;
    double GetStepAdjustmentFactor() const override { return 1.0; }
    void Display(bool full) const override;
    // The cell path (see MCLogitCells).
    bool UseCell(int cell, const std::vector<int>& columns, const std::vector<int>& sources,
                 int nSources) override;
    bool HasCell(int cell) const override { return fCells.Has(cell); }
    int UpdateForCellRow(const std::vector<double>& sourceValues, int category, double weight,
                         bool likelihoodOnly) override;
    std::size_t UpdateForCellRows(std::size_t n, const int* cells, const int* categories,
                                  const double* weights, const double* values, std::size_t nValues,
                                  bool likelihoodOnly) override;
    void FlushCells() override { fCells.Flush(fvScores, fvScoresLo, fvScoreBounds, fHessian); }
    bool MergeAcrossProcesses(MCCommon_850::PassReducer& reducer) override;
    // Counts the classification table in every pass from now on, the
    // predictions being those of the host's scorer with the uncentred
    // estimates (see Classify); centres: per cell source, the centre the
    // model took from its values.
    void ClassifyWithCentres(const std::vector<double>& centres);
    // True when classifying and every row of the pass was a cell row whose
    // prediction is sure, of a whole weight, with a total weight that sums
    // exactly in any order.
    bool GetClassification(std::vector<double>& counts) const override;

    int GetNParameters() const { return fNParams; }
    int GetNCategories() const { return fNCategs; }
    MCConst::MCHessianCompMethod GetHessianMethod() const { return fHessianMethod; }
    bool GetSeparationCheck() const { return fbCheckSeparation; }

private:
    void ResetExtremes();
    // After fvProbs holds the row's probabilities: counts, weight, the
    // separation extremes and the log-likelihood w ln pi_y, given eta_y, and
    // its rounding bound, given the row's magnitude sum_j |x_j| max_k
    // |beta_kj| and the number of terms that make an eta.
    void AddRowLikelihood(int category, double weight, double logReference, double etaY,
                          double magnitude, int terms);
    // The factor of |x_j| in the rounding bound of the row's scores.
    double ScoreBoundFactor(double weight, double magnitude, int terms) const;
    // Adds the weight of the row of fvEta (whose probabilities were just
    // worked out) to the table, or counts the row as unsure.
    void Classify(std::size_t category, double weight, double size, int terms);
    // w (diag(pi) - pi pi') over the non-reference categories, packed lower,
    // into fvCoefficients.
    void InformationWeights(double weight, const double* probs);
    // A row of the current cell, in two halves: its probabilities (into
    // fvProbs), log-likelihood, counts and table, and the factor of its
    // score bound (-1 for a refused row, as UpdateForCellRow); then its
    // scores and information, given those probabilities.
    int CellRowLikelihood(const double* z, int category, double weight, double& boundFactor);
    void CellRowSums(const double* z, std::size_t category, double weight, const double* probs,
                     double boundFactor);
    // The parts of the two halves that run over the L = J - 1 logits, for
    // a given L or (Lc = 0) any: fvProbs, fLastTop, fLastLead and
    // fLastLogReference from fvEta; fvScoreCoef and fvCoefficients.
    template <std::size_t Lc>
    void RowProbabilities(std::size_t L);
    template <std::size_t Lc>
    void RowCoefficients(std::size_t L, std::size_t category, double weight, const double* probs);

    const MCRegSettings& fSettings;
    int fNParams;
    int fNCategs;
    const std::vector<double>& fvEstimates;
    // The log-likelihood and the scores: running sums and their rounding
    // errors.
    double fLL = 0.0;
    double fLLLo = 0.0;
    std::vector<double> fvScores;
    std::vector<double> fvScoresLo;
    mutable std::vector<double> fvScoreSums;
    // Sums of magnitudes from which the rounding bounds are made: of the
    // log-likelihood, and of the scores per basic column.
    double fLLMagnitude = 0.0;
    std::vector<double> fvScoreBounds;
    double fSmallestProb = 1.0;
    // max_k |beta_kj| per basic column j, at the pass's estimates.
    std::vector<double> fvAbsMax;
    MCSymBlockMatrix fHessian;
    int fNValidRows = 0;
    int fNInvalidCalls = 0;
    double fWeight = 0.0;
    MCConst::MCHessianCompMethod fHessianMethod = MCConst::HESSIAN_FISHER;
    bool fbCheckSeparation = false;
    double fMinObservedProb;
    double fMaxObservedProb;
    double fMinComputedProb;
    bool fbValid = false;
    // Scratch of one row, kept so that a pass allocates only for its first
    // (or longest) row.
    MCSparseVector fRow;
    std::vector<double> fvProbs;
    std::vector<double> fvCoefficients;
    MCLogitCells fCells;
    std::vector<double> fvEta;
    std::vector<double> fvScoreCoef;
    // A block of cell rows between the two halves: per row its
    // probabilities, score bound factor and cell.
    static constexpr std::size_t kCellBlock = 64;
    std::vector<double> fvBlockProbs;
    std::vector<double> fvBlockBounds;
    std::vector<int> fvBlockCells;
    // The logits of the last cell row and its ln pi_ref; fvProbs holds its
    // probabilities while fbProbsOfLastEta.
    std::vector<double> fvLastEta;
    double fLastLogReference = 0.0;
    bool fbProbsOfLastEta = false;
    // Of the same logits: the largest one's category (J - 1 for the
    // reference) and its lead over the runner-up.
    std::size_t fLastTop = 0;
    double fLastLead = 0.0;
    // The classification table of the pass (J by J, observed by predicted)
    // and the rows it could not take.
    bool fbClassifying = false;
    std::vector<double> fvClassification;
    double fUnclassified = 0.0;
};

}  // namespace MCMath_850
