#include "host/fit/FitScorer.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>

#include "glm/MCGLMOutputStats.h"
#include "logistic/MCLogOutputStats.h"

namespace mchost {

namespace {

const ModelVariable& Var(const FittedModel& m, int position) {
    return m.fpSpec->GetVariables()[static_cast<std::size_t>(position)];
}

// The predictor of a record position, added on first use.
int PredictorAt(const FittedModel& m, int position, ScoringModel& s) {
    const auto at = std::find(s.fvPositions.begin(), s.fvPositions.end(), position);
    if (at != s.fvPositions.end()) return static_cast<int>(at - s.fvPositions.begin());
    const ModelVariable& v = Var(m, position);
    ModelPredictor p;
    p.fName = v.fName;
    p.fbFactor = v.fRole == ModelVariable::kFactor;
    if (p.fbFactor) p.fvCategories = v.fvCategories;
    s.fModel.fvPredictors.push_back(p);
    s.fvPositions.push_back(position);
    return static_cast<int>(s.fvPositions.size()) - 1;
}

// The categories of a multinomial model in code order, with their
// equations (logit k is fvModelCategories[k] against the last) and the
// precedence among tied logits.
void AddCategories(const FittedModel& m, ScoringModel& s) {
    const auto& stats = static_cast<const MCMath_850::MCLogOutputStats&>(*m.fpStats);
    const std::vector<std::string>& texts = Var(m, 0).fvCategories;
    const std::vector<int>& model = m.fvModelCategories;
    PmmlModel& p = s.fModel;
    for (std::size_t k = 0; k + 1 < model.size(); ++k)
        p.fvEquations.push_back(texts[static_cast<std::size_t>(model[k])]);
    p.fReference = texts[static_cast<std::size_t>(model.back())];
    // local: positions in the model's order, sorted by code.
    std::vector<std::size_t> local(model.size());
    std::iota(local.begin(), local.end(), std::size_t(0));
    std::sort(local.begin(), local.end(),
              [&](std::size_t a, std::size_t b) { return model[a] < model[b]; });
    for (std::size_t l : local) {
        p.fvCategories.push_back(texts[static_cast<std::size_t>(model[l])]);
        s.fvCodes.push_back(model[l]);
    }
    const std::vector<double>& weighted = stats.GetCategoryWeights();
    const std::vector<double>& counted = stats.GetCategoryCounts();
    std::vector<std::size_t> order = local;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (weighted[a] != weighted[b]) return weighted[a] > weighted[b];
        if (counted[a] != counted[b]) return counted[a] > counted[b];
        return model[a] < model[b];
    });
    p.fvTiePrecedence.assign(local.size(), 0);
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const std::size_t category = static_cast<std::size_t>(
            std::find(local.begin(), local.end(), order[rank]) - local.begin());
        p.fvTiePrecedence[category] = rank;
    }
}

}  // namespace

ScoringModel MakeScoringModel(const FittedModel& m) {
    ScoringModel s;
    PmmlModel& p = s.fModel;
    const MCMath_850::IMCRegOutputStats& stats = *m.fpStats;
    p.fKind = m.fbLogistic ? PmmlModel::kMultinomial : PmmlModel::kLinear;
    p.fModelType = m.fbLogistic ? "multinomialLogistic" : "generalLinear";
    p.fTarget = Var(m, 0).fName;
    const std::vector<MCMath_850::MCRegrParameter>& parameters = stats.GetParameters();
    const auto nBasic = static_cast<std::size_t>(m.fNBasic);
    for (std::size_t j = 0; j < nBasic; ++j) {
        const MCMath_850::MCRegrParameter& parameter = parameters[j];
        p.fvParameters.push_back("P" + std::to_string(j));
        std::vector<ParameterCell> cells;
        for (std::size_t f = 0; f < parameter.GetFactors().size(); ++f) {
            ParameterCell c;
            c.fPredictor = PredictorAt(m, parameter.GetFactors()[f], s);
            c.fCategory = parameter.GetCategories()[f];
            cells.push_back(c);
        }
        // In the parameter's order, the order the fit multiplies them in.
        for (std::size_t c = 0; c < parameter.GetCovariates().size(); ++c) {
            ParameterCell cell;
            cell.fPredictor = PredictorAt(m, parameter.GetCovariates()[c], s);
            cell.fPower = parameter.GetCovariateMultiplicities()[c];
            cells.push_back(cell);
        }
        p.fvCells.push_back(std::move(cells));
    }
    const std::vector<double>& estimates = stats.GetParamEstimates();
    const std::size_t equations = m.fbLogistic ? m.fvModelCategories.size() - 1 : 1;
    for (std::size_t k = 0; k < equations; ++k)
        p.fvBeta.emplace_back(estimates.begin() + static_cast<std::ptrdiff_t>(k * nBasic),
                              estimates.begin() + static_cast<std::ptrdiff_t>((k + 1) * nBasic));
    if (m.fbLogistic)
        AddCategories(m, s);
    else
        p.fvEquations.push_back(p.fTarget);
    return s;
}

ScoringModel MakeScoringCategories(const FittedModel& m) {
    ScoringModel s;
    AddCategories(m, s);
    return s;
}

bool AliasedColumns(const FittedModel& m, std::vector<AliasedColumn>& aliased) {
    using namespace MCMath_850;
    aliased.clear();
    // The model's columns (for the logistic model, one logit's) and their
    // X'X swept on the kept ones; the sizes of the columns.
    const MCSymMatrix* swept = nullptr;
    const MCBitSet* kept = nullptr;
    std::vector<double> diagonal;
    int q = m.fNBasic;
    // The sweep of the linear model leaves the generalised inverse as it is
    // and the coefficients negated; the logistic model's the other way round.
    double sign = -1.0;
    if (const auto* glm = dynamic_cast<const MCGLMOutputStats*>(m.fpStats)) {
        swept = glm->GetSweptCrossProducts();
        kept = &m.fpStats->GetRedundancyIndicators();
        if (const MCSymMatrix* sums = glm->GetCrossProducts())
            for (int k = 0; k < q && k < sums->GetNRows(); ++k)
                diagonal.push_back(sums->GetElem(k, k));
    } else if (const auto* log = dynamic_cast<const MCLogOutputStats*>(m.fpStats)) {
        swept = log->GetSweptCrossProduct();
        kept = &log->GetBasicRedundancy();
        diagonal = log->GetBasicCrossProductDiagonal();
        q = std::min(q, log->GetNBasicParameters());
        sign = 1.0;
    }
    if (swept == nullptr || kept == nullptr || swept->GetNRows() < q ||
        diagonal.size() < static_cast<std::size_t>(q))
        return false;
    for (int j = 0; j < q; ++j) {
        if (kept->IsIn(j)) continue;
        AliasedColumn a;
        a.fParameter = static_cast<std::size_t>(j);
        for (const auto& [k, b] : swept->KeptCombination(*kept, diagonal, j, q, sign))
            a.fvKept.emplace_back(static_cast<std::size_t>(k), b);
        aliased.push_back(std::move(a));
    }
    return true;
}

FitScorer::FitScorer(const FittedModel& fitted)
    : FitScorer(MakeScoringModel(fitted),
                fitted.fbLogistic ? Var(fitted, 0).fvCategories.size() : 0) {}

FitScorer::FitScorer(ScoringModel model, std::size_t nCodes)
    : fvCodes(std::move(model.fvCodes)),
      fNCodes(nCodes),
      fScorer(std::move(model.fModel), ScoreOptions()),
      fRecords(fScorer, std::move(model.fvPositions), {}),
      fvOut(fScorer.NOutputs()) {}

bool FitScorer::Score(const MCCommon_850::Record& record, double& value,
                      std::vector<double>& probabilities) const {
    probabilities.clear();
    if (!fRecords.Score(record, fvOut.data())) return false;
    if (fvCodes.empty()) {
        value = fvOut[0];
        return true;
    }
    const std::size_t nc = fvCodes.size();
    probabilities.assign(fNCodes, 0.0);
    for (std::size_t m = 0; m < nc; ++m)
        probabilities[static_cast<std::size_t>(fvCodes[m])] = fvOut[m];
    value = fvCodes[static_cast<std::size_t>(fvOut[nc])];
    return true;
}

bool FitScorer::Predict(const MCCommon_850::Record& record, double& value) const {
    std::size_t category = 0;
    if (fvCodes.empty() || !fRecords.Predict(record, category)) return false;
    value = fvCodes[category];
    return true;
}

}  // namespace mchost
