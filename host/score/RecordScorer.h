#pragma once
#include <cstddef>
#include <vector>

#include "companion/Record.h"
#include "host/score/Scorer.h"

namespace mchost {

// Scores records that hold a model's predictors at positions of their own:
// a covariate's value, and a factor's code, which a table per factor turns
// into the model's category (Scorer::kUnseen for a code the model lacks).
// A factor without a table holds the model's category indices themselves.
// Every scoring of records goes through here, those of new data and those
// a fit writes its predictions of. One per thread, like the scorer.
class RecordScorer {
public:
    // positions: per predictor of the scorer's model, its place in a
    // record, -1 for a predictor no parameter uses. categoryOf: per
    // predictor, empty or a factor's table. The scorer must outlive this.
    RecordScorer(const Scorer& scorer, std::vector<int> positions,
                 std::vector<std::vector<double>> categoryOf);

    const Scorer& GetScorer() const { return fScorer; }
    // Fills out[GetScorer().NOutputs()]; false (and every output NaN) when
    // the record cannot be scored.
    bool Score(const MCCommon_850::Record& record, double* out) const;
    // A multinomial model's predicted category (Scorer::Predict).
    bool Predict(const MCCommon_850::Record& record, std::size_t& category) const;
    // Per predictor with a table, per code: the records scored whose code
    // the model lacks.
    const std::vector<std::vector<std::size_t>>& Unseen() const { return fvUnseen; }

private:
    // The record's predictors as the scorer takes them.
    const double* Input(const MCCommon_850::Record& record) const;

    const Scorer& fScorer;
    std::vector<int> fvPosition;
    std::vector<std::vector<double>> fvCategoryOf;
    mutable std::vector<std::vector<std::size_t>> fvUnseen;
    mutable std::vector<double> fvInput;
};

}  // namespace mchost
