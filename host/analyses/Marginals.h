#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/analyses/EmmeansRequest.h"
#include "host/fit/FittedModel.h"
#include "host/fit/GlmFit.h"
#include "host/fit/UsedData.h"

namespace mchost {

// (factor name, level text) of the factors held fixed, in the term's order.
using FixedLevels = std::vector<std::pair<std::string, std::string>>;

// One marginal mean: a cell of the term's factors.
class EmmeansCell {
public:
    std::vector<std::string> fvLevels;  // one per factor of the term, in its order
    double fMean = kMissing;
    double fStdError = kMissing;
    double fDF = kMissing;
    double fLower = kMissing;
    double fUpper = kMissing;
};

// Level a minus level b of the compare factor, within one combination of
// the other factors. fStat is t (general linear model) or the Wald
// chi-square on 1 df (logistic); p and the bounds are adjusted over the
// pairs of that combination, and the bounds are NaN for the step-down
// methods, which define no simultaneous intervals.
class EmmeansPair {
public:
    FixedLevels fvFixed;
    std::string fA, fB;
    double fEstimate = kMissing;
    double fStdError = kMissing;
    double fDF = kMissing;
    double fStat = kMissing;
    double fP = kMissing;
    double fLower = kMissing;
    double fUpper = kMissing;
};

// One row of a contrast: its coefficients over all levels of the compare
// factor (0 for a level missing from the combination).
class ContrastRow {
public:
    std::string fName;
    std::vector<double> fvCoefficients;
    double fEstimate = kMissing;
    double fStdError = kMissing;
    double fDF = kMissing;
    double fStat = kMissing;
    double fP = kMissing;
    double fPAdjusted = kMissing;
};

// The contrast within one combination of the other factors, with the test
// of all its rows together: F on df1 and df2, or a Wald chi-square on df1.
class ContrastTest {
public:
    FixedLevels fvFixed;
    std::vector<ContrastRow> fvRows;
    double fStat = kMissing;
    double fDF1 = kMissing;
    double fDF2 = kMissing;
    double fP = kMissing;
};

// The means, pairs and contrasts on one scale.
class EmmeansScale {
public:
    // "mean" for a general linear model; "logit" or "probability" for a
    // logistic model, of fCategory against the reference category.
    std::string fScale = "mean";
    std::string fCategory;
    std::vector<EmmeansCell> fvCells;
    std::vector<EmmeansPair> fvPairs;
    std::vector<ContrastTest> fvTests;
};

class EmmeansResult {
public:
    std::string fTerm;
    std::vector<std::string> fvFactors;
    std::string fCompare;  // empty: the means only
    std::vector<std::string> fvCompareLevels;
    // False when the pairwise comparisons were left out (fNPairs of them).
    bool fbPairs = true;
    double fNPairs = 0.0;
    std::string fAdjust;
    std::string fContrast;  // empty: none asked
    std::string fReference;
    std::vector<double> fvMetric;
    // The contrast's coefficients over all levels of the compare factor.
    std::vector<std::vector<double>> fvContrastCoefficients;
    std::vector<std::pair<std::string, double>> fvCovariatesAt;
    // A term of the model with empty cells ("A*B"; empty for a complete
    // design): each mean then averages only the cells observed in it, with
    // equal weights, so two means may average different numbers of cells
    // (modified population marginal means; other software may call a
    // mean with an unobserved cell not estimable).
    std::string fIncompleteTerm;
    // Some means, pairs or contrast rows are left empty: the data do not
    // determine them (the term is aliased with one that does not contain
    // it, or a covariate is constant within its categories).
    bool fbNotEstimable = false;
    // Some standard errors (with their intervals and tests) are left empty:
    // the covariance gives them only through the cancellation of terms far
    // larger than they are (a covariate far from zero).
    bool fbImprecise = false;
    bool fbChiSquare = false;  // logistic: Wald chi-square tests, normal intervals
    // General linear model: one. Logistic: one per non-reference category
    // on the logit scale, and for two categories also the probabilities.
    std::vector<EmmeansScale> fvScales;
};

// How far the estimation has come: the term (0-based) of fNTerms, and
// while it compares, the combination of the other factors (0-based) of
// fNTests with the share of that combination's comparisons done.
class EmmeansProgress {
public:
    std::size_t fTerm = 0, fNTerms = 0;
    std::string fTermName;
    int fTest = -1, fNTests = 0;  // -1: estimating the means
    double fShare = 0.0;

    // "marginal means: term 1 of 2 (A*B), comparisons 3 of 40 (25%)".
    std::string Text() const;
};

// What drives a long estimation from outside: a cancel query, asked between
// means and between comparisons, and a progress callback, called at the
// same points (often: it should be cheap).
class EmmeansControl {
public:
    MCCommon_850::MCQueryCancel* fpCancel = nullptr;
    std::function<void(const EmmeansProgress&)> fOnProgress;
};

// Estimates the requested marginal means: factors outside the term
// averaged with equal weights, covariates at their sample means (used).
// Throws LibraryError when the library fails, HostError (interrupted) on a
// cancel.
std::vector<EmmeansResult> EstimateMarginalMeans(const FittedModel& model, const UsedData& used,
                                                 const std::vector<EmmeansRequest>& requests,
                                                 const EmmeansControl& control = {});

// The warnings of the results that left means or comparisons empty as not
// estimable, one per term.
std::vector<std::string> NotEstimableWarnings(const std::vector<EmmeansResult>& results);

}  // namespace mchost
