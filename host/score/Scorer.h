#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "host/score/PmmlModel.h"

namespace mchost {

// What a scorer adds to each prediction.
class ScoreOptions {
public:
    enum Interval { kNoInterval, kConfidence, kPrediction };

    bool fbStandardErrors = false;
    Interval fInterval = kNoInterval;
    double fLevel = 0.95;
};

// Scores records with a model read from PMML. A record holds one value per
// predictor of the model: a factor's category index (Category) or a
// covariate's value; NaN is a missing value, kUnseen a category the model
// does not know. Either gives empty (NaN) outputs.
//
// A linear model gives the prediction, with its standard error
// sqrt(x'Vx) and, asked for, the confidence interval (t on the error df)
// or the prediction interval (sqrt(MSE + x'Vx)). The prediction is summed
// in double-double from design values formed so (whole powers as repeated
// products): a residual small against the prediction keeps its digits, and
// the prediction is the one the fit's own residuals were taken from. A
// multinomial model gives each category's probability (the reference's
// logit being 0), the index of the most probable category and, asked for,
// each probability's standard error by the delta method. Logits within
// rounding (machine epsilon) of the largest tie, and the model's tie
// precedence decides among them. Score works in scratch space of the
// scorer's own: one scorer per thread.
class Scorer {
public:
    static constexpr double kUnseen = -1.0;

    // Throws HostError (data) when the model lacks what the options need
    // (the covariance, the error mean square or df), and (usage) for an
    // interval of a multinomial model or a level outside (0, 1).
    Scorer(PmmlModel model, const ScoreOptions& options);

    const PmmlModel& Model() const { return fModel; }
    // A factor's category of a text, kUnseen when the model has none; a
    // factor of numbers matches by value.
    double Category(std::size_t predictor, const std::string& text) const;

    // The outputs' names, as the columns of a scores file.
    std::vector<std::string> OutputNames() const;
    std::size_t NOutputs() const { return fNOutputs; }
    // Fills out[NOutputs()]; false (and every output NaN) when the record
    // cannot be scored. Multinomial outputs: the probabilities (in the
    // order of the model's categories), the predicted category's index,
    // then the standard errors.
    bool Score(const double* record, double* out) const;
    // A multinomial model's predicted category, the index Score gives,
    // without the probabilities; false when the record cannot be scored
    // (or the model is linear).
    bool Predict(const double* record, std::size_t& category) const;
    // How many records had a standard error (a linear model's with its
    // interval, a multinomial's of a probability) left empty because
    // rounding took its digits: x'Vx summed from terms far larger than it,
    // as with a covariate far from zero.
    std::size_t ImpreciseErrors() const { return fNImprecise; }
    // A model whose document names every combination of categories its fit
    // met (PmmlModel::fbEveryObservedCell): per term of factors, its factors'
    // names joined by '*' and how many records had a combination of them
    // that the fit did not meet, whose scores were left empty (0 or more;
    // the same terms for the same model).
    std::vector<std::pair<std::string, std::size_t>> UnobservedCells() const;
    // A model whose document says how its aliased parameters follow from
    // the kept ones (PmmlModel::fvAliased): how many records the fit's data
    // do not determine a score for, which were left empty.
    std::size_t UndeterminedRecords() const { return fNUndetermined; }

private:
    // Whether the record has every predictor.
    bool Scorable(const double* record) const;
    // A multinomial model's logits of the terms into fvEta.
    void Logits() const;
    // The predicted category from fvEta, every logit finite.
    std::size_t Leader() const;
    // The record's design values into fvTerm (and fvTermLow, the
    // double-double remainder of a linear model's).
    void Terms(const double* record) const;
    double LinearPredictor() const;
    // Fills out with a multinomial model's outputs from fvEta.
    bool Probabilities(double* out) const;
    bool Precedes(std::size_t a, std::size_t b) const;
    // sum over the record's terms of x_a x_b V[(k, a), (l, b)]; size, when
    // given, receives the same sum of the terms' absolute values.
    double Quadratic(std::size_t k, std::size_t l, double* size = nullptr) const;

    const PmmlModel fModel;
    ScoreOptions fOptions;
    std::size_t fNOutputs = 0;
    double fQuantile = 0.0;  // of t on the error df, for intervals
    // Per model category: its equation, or -1 for the reference; per
    // equation its category; the reference's category.
    std::vector<int> fvEquationOf;
    std::vector<std::size_t> fvCategoryOfEquation;
    std::size_t fReferenceCategory = 0;
    // The parameters a record may have a term of: those without a factor
    // cell always, the others by the category of their first factor cell
    // (per predictor, per category), ascending.
    void IndexParameters();
    std::vector<std::size_t> fvAlways;
    // Per parameter its term of factors (those with the same factors and
    // covariate powers), -1 for a parameter without a factor; per term its
    // name, and for the record scored whether one of its parameters has
    // the record's categories.
    void IndexTerms();
    bool InObservedCells() const;
    // Whether the record's design row (fvTerm at fvNonZero) is a function
    // of the parameters the data determine; counts those that are not.
    bool Determined() const;
    AliasingCheck fAliasing;
    mutable AliasingCheck::Sparse fvRow;
    mutable std::size_t fNUndetermined = 0;
    std::vector<int> fvTermOf;
    std::vector<std::string> fvTermNames;
    mutable std::vector<char> fvTermMet;
    mutable std::vector<std::size_t> fvUnobserved;
    std::vector<std::vector<std::vector<std::size_t>>> fvByFirstCategory;
    // Scratch of one record: the non-zero terms and their indices.
    mutable std::vector<double> fvTerm, fvTermLow;
    mutable std::vector<std::size_t> fvCandidates, fvNonZero;
    mutable std::vector<double> fvEta, fvProbability, fvQuadratic, fvQuadraticSize;
    mutable std::size_t fNImprecise = 0;
    mutable std::vector<double> fvEquationProbability, fvGradient;
};

}  // namespace mchost
