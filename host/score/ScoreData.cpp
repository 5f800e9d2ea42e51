#include "host/score/ScoreData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/score/RecordScorer.h"

namespace mchost {

namespace {

// Quoted when it holds a delimiter, a quote or a line end, or has blanks at
// an end, which a reader (the program's own) trims from a field unquoted.
std::string CsvField(const std::string& s) {
    const bool blankEnd = !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' ||
                                         s.back() == '\t');
    if (!blankEnd && s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

int HeaderIndex(const std::vector<std::string>& header, const std::string& name) {
    const auto at = std::find(header.begin(), header.end(), name);
    return at == header.end() ? -1 : static_cast<int>(at - header.begin());
}

// A name the scores read from the data names one column: of two of that
// name, which holds the predictor is anyone's guess, as it is for a fit.
void RefuseTwice(const std::vector<std::string>& header, const std::string& name,
                 const std::string& what) {
    if (std::count(header.begin(), header.end(), name) > 1)
        throw HostError(HostError::kUsage,
                        what + " '" + name + "' appears more than once in the data's columns");
}

// The predictors the parameters use: a model field no parameter multiplies
// need not be in the data.
std::vector<char> UsedPredictors(const PmmlModel& model) {
    std::vector<char> used(model.fvPredictors.size(), 0);
    for (const auto& cells : model.fvCells)
        for (const ParameterCell& c : cells) used[static_cast<std::size_t>(c.fPredictor)] = 1;
    return used;
}

const CodedColumn& Column(const CodedData& data, const std::string& name) {
    const CodedColumn* c = data.FindColumn(HeaderIndex(data.fvHeader, name));
    if (c == nullptr) throw HostError(HostError::kUsage, "no column '" + name + "' was read");
    return *c;
}

}  // namespace

PlanFn ScorePlan(const PmmlModel& model, const std::vector<std::string>& keep) {
    const std::vector<char> used = UsedPredictors(model);
    return [&model, keep, used](const std::vector<std::string>& header) {
        std::vector<ColumnPlan> plan(header.size());
        for (std::size_t i = 0; i < model.fvPredictors.size(); ++i) {
            if (!used[i]) continue;
            const ModelPredictor& p = model.fvPredictors[i];
            const int at = HeaderIndex(header, p.fName);
            if (at < 0)
                throw HostError(HostError::kUsage,
                                "the model's " + std::string(p.fbFactor ? "factor" : "covariate") +
                                    " '" + p.fName + "' is not a column of the data");
            RefuseTwice(header, p.fName,
                        std::string("the model's ") + (p.fbFactor ? "factor" : "covariate"));
            ColumnPlan& c = plan[static_cast<std::size_t>(at)];
            c.fbLoad = true;
            (p.fbFactor ? c.fbText : c.fbNumeric) = true;
        }
        for (const std::string& k : keep) {
            const int at = HeaderIndex(header, k);
            if (at < 0)
                throw HostError(HostError::kUsage,
                                "--keep names '" + k + "', which is not a column of the data");
            RefuseTwice(header, k, "--keep's column");
            ColumnPlan& c = plan[static_cast<std::size_t>(at)];
            if (!c.fbLoad) c.fbText = true;
            c.fbLoad = true;
        }
        // A reader given no column to load would load them all.
        if (std::none_of(plan.begin(), plan.end(), [](const ColumnPlan& c) { return c.fbLoad; }) &&
            !header.empty()) {
            plan[0].fbLoad = true;
            plan[0].fbText = true;
        }
        return plan;
    };
}

std::vector<UnseenCategory> WriteScores(const Scorer& scorer, const CodedData& data,
                                        const std::vector<std::string>& keep, std::ostream& out,
                                        const std::atomic<bool>* interrupt, bool header) {
    const PmmlModel& model = scorer.Model();
    const std::vector<char> used = UsedPredictors(model);
    const std::size_t np = model.fvPredictors.size();
    // Per predictor: its position in the records, and a factor's category
    // of each text code, found once per distinct text.
    std::vector<int> position(np, -1);
    std::vector<std::vector<double>> categoryOf(np);
    for (std::size_t i = 0; i < np; ++i) {
        if (!used[i]) continue;
        const CodedColumn& c = Column(data, model.fvPredictors[i].fName);
        position[i] = c.fPosition;
        if (!model.fvPredictors[i].fbFactor) continue;
        for (const std::string& text : c.fTexts.GetTexts())
            categoryOf[i].push_back(scorer.Category(i, text));
    }
    const RecordScorer records(scorer, std::move(position), std::move(categoryOf));
    std::vector<const CodedColumn*> kept;
    for (const std::string& k : keep) kept.push_back(&Column(data, k));

    bool first = true;
    if (header) {
        for (const std::string& k : keep) {
            out << (first ? "" : ",") << CsvField(k);
            first = false;
        }
        for (const std::string& n : scorer.OutputNames()) {
            out << (first ? "" : ",") << CsvField(n);
            first = false;
        }
        out << "\n";
    }

    const bool multinomial = model.fKind == PmmlModel::kMultinomial;
    const std::size_t nc = model.fvCategories.size();
    std::vector<double> scores(scorer.NOutputs());
    std::string line;
    char number[32];
    const auto stored = data.fpStore->MakeIterator();
    stored->NewPass();
    std::size_t row = 0;
    while (stored->HasMore()) {
        if (interrupt != nullptr && (++row & 4095) == 0 && interrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
        const MCCommon_850::Record* r = stored->Next();
        if (r == nullptr)
            throw HostError(HostError::kData, "the records could not be read back (failure " +
                                                  std::to_string(stored->GetFailReason()) + ")");
        line.clear();
        first = true;
        for (const CodedColumn* c : kept) {
            if (!first) line += ',';
            first = false;
            const double v = (*r)[c->fPosition];
            if (std::isnan(v)) continue;
            line += c->IsText() || c->fPlan.fbText
                        ? CsvField(c->fTexts.GetTexts()[static_cast<std::size_t>(v)])
                        : NumberText(v);
        }
        const bool scored = records.Score(*r, scores.data());
        for (std::size_t k = 0; k < scores.size(); ++k) {
            if (!first) line += ',';
            first = false;
            if (!scored) continue;
            if (multinomial && k == nc) {
                line += CsvField(model.fvCategories[static_cast<std::size_t>(scores[k])]);
                continue;
            }
            if (std::isnan(scores[k])) continue;
            // The text of %.17g, which the fits' predictions write, at a
            // fraction of printf's cost.
            const std::to_chars_result text = std::to_chars(
                number, number + sizeof number, scores[k], std::chars_format::general, 17);
            line.append(number, text.ptr);
        }
        line += '\n';
        out << line;
    }
    std::vector<UnseenCategory> said;
    for (std::size_t i = 0; i < np; ++i)
        for (std::size_t code = 0; code < records.Unseen()[i].size(); ++code)
            if (records.Unseen()[i][code] > 0)
                said.push_back({model.fvPredictors[i].fName,
                                Column(data, model.fvPredictors[i].fName).fTexts.GetTexts()[code],
                                records.Unseen()[i][code]});
    return said;
}

}  // namespace mchost
