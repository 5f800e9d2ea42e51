#include "host/score/RecordScorer.h"

#include <cmath>
#include <utility>

namespace mchost {

RecordScorer::RecordScorer(const Scorer& scorer, std::vector<int> positions,
                           std::vector<std::vector<double>> categoryOf)
    : fScorer(scorer),
      fvPosition(std::move(positions)),
      fvCategoryOf(std::move(categoryOf)),
      fvUnseen(fvCategoryOf.size()),
      fvInput(fvPosition.size(), 0.0) {
    fvCategoryOf.resize(fvPosition.size());
    fvUnseen.resize(fvPosition.size());
    for (std::size_t i = 0; i < fvCategoryOf.size(); ++i)
        fvUnseen[i].assign(fvCategoryOf[i].size(), 0);
}

bool RecordScorer::Score(const MCCommon_850::Record& record, double* out) const {
    return fScorer.Score(Input(record), out);
}

bool RecordScorer::Predict(const MCCommon_850::Record& record, std::size_t& category) const {
    return fScorer.Predict(Input(record), category);
}

const double* RecordScorer::Input(const MCCommon_850::Record& record) const {
    for (std::size_t i = 0; i < fvPosition.size(); ++i) {
        // A predictor no parameter uses holds 0, which the scorer never reads.
        if (fvPosition[i] < 0) continue;
        const double v = record[fvPosition[i]];
        if (fvCategoryOf[i].empty() || std::isnan(v)) {
            fvInput[i] = v;
            continue;
        }
        const auto code = static_cast<std::size_t>(v);
        fvInput[i] = code < fvCategoryOf[i].size() ? fvCategoryOf[i][code] : Scorer::kUnseen;
        if (fvInput[i] < 0.0 && code < fvUnseen[i].size()) ++fvUnseen[i][code];
    }
    return fvInput.data();
}

}  // namespace mchost
