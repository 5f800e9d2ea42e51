#pragma once
#include <memory>
#include <vector>

#include "companion/Record.h"
#include "host/fit/FittedModel.h"
#include "host/score/AliasingCheck.h"
#include "host/score/PmmlModel.h"
#include "host/score/RecordScorer.h"
#include "host/score/Scorer.h"

namespace mchost {

// A fitted model as a scorer sees it: the parameters, estimates and
// categories its PMML document holds (without the covariance), and the
// positions of its predictors in the fit's records, whose factors hold
// category codes. Multinomial: the categories in code order, those of the
// model alone, and the tie precedence of the fit: the larger weighted
// count, then the larger count, then the smaller code.
class ScoringModel {
public:
    PmmlModel fModel;
    std::vector<int> fvPositions;  // per predictor of fModel
    std::vector<int> fvCodes;      // multinomial: per category of fModel, its code
};

ScoringModel MakeScoringModel(const FittedModel& fitted);
// A multinomial model's categories alone, as MakeScoringModel gives them
// (equations, reference, categories, codes and tie precedence).
ScoringModel MakeScoringCategories(const FittedModel& fitted);

// The columns of the basic parameters the fit left aliased, each as the
// combination of kept ones the swept cross products give it (coefficients
// below the sweep's rounding against the columns' sizes dropped); false
// when the fit did not keep its cross products.
bool AliasedColumns(const FittedModel& fitted, std::vector<AliasedColumn>& aliased);

// Scores the fit's own records through the scorer of new data.
class FitScorer {
public:
    // The fitted model must outlive the scorer.
    explicit FitScorer(const FittedModel& fitted);
    FitScorer(const FitScorer&) = delete;
    FitScorer& operator=(const FitScorer&) = delete;

    // False for a record that cannot be scored. Otherwise value is the
    // predicted value (general linear) or the predicted category's code
    // (logistic), probabilities the probability of each category by code
    // (0 for a category the model does not have; empty for a general
    // linear model).
    bool Score(const MCCommon_850::Record& record, double& value,
               std::vector<double>& probabilities) const;
    // A logistic model's predicted category's code, as Score gives it,
    // without the probabilities; false for a record that cannot be scored.
    bool Predict(const MCCommon_850::Record& record, double& value) const;

private:
    FitScorer(ScoringModel model, std::size_t nCodes);

    std::vector<int> fvCodes;
    std::size_t fNCodes = 0;
    Scorer fScorer;
    RecordScorer fRecords;
    mutable std::vector<double> fvOut;
};

}  // namespace mchost
