#pragma once
#include <atomic>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "host/input/CodedData.h"
#include "host/score/Scorer.h"

namespace mchost {

// A category of a factor that the model does not know, and in how many
// records it was met.
class UnseenCategory {
public:
    std::string fColumn;
    std::string fText;
    std::size_t fCount = 0;
};

// How to read new data for a model: every predictor the model's parameters
// use (factors as text, covariates as numbers) and the columns kept in
// the output. Throws HostError (usage) naming a column the header lacks.
PlanFn ScorePlan(const PmmlModel& model, const std::vector<std::string>& keep);

// Writes the scores of every record of data, in its order, as CSV: the
// kept columns (as read: a text as it was, a number as the shortest text
// that reads back as it), then the scorer's outputs (empty for a record
// with a missing value or an unseen category). Returns the unseen
// categories, column by column in the model's order, each category in
// order of first appearance. interrupt is polled between records. Without
// header, the rows alone: the scores of a part that follows another.
std::vector<UnseenCategory> WriteScores(const Scorer& scorer, const CodedData& data,
                                        const std::vector<std::string>& keep, std::ostream& out,
                                        const std::atomic<bool>* interrupt = nullptr,
                                        bool header = true);

}  // namespace mchost
