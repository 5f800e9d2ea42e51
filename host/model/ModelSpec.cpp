#include "host/model/ModelSpec.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/input/CsvScanner.h"
#include "host/model/ModelRecordIter.h"
#include "settings/MCModelEffect.h"

namespace mchost {

using MCMath_850::MCModelEffect;

namespace {

// More distinct numbers than this in a categorical dependent are warned of.
constexpr std::size_t kManyCategories = 50;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// -1: no such column, -2: several columns carry the name.
int ColumnIndex(const std::vector<std::string>& header, const std::string& name) {
    int found = -1;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] != name) continue;
        if (found >= 0) return -2;
        found = static_cast<int>(i);
    }
    return found;
}

std::string UnknownColumnHint(const std::vector<std::string>& header, const std::string& name) {
    // A header that did not split holds the names in one.
    if (header.size() == 1)
        for (const char d : {',', ';', '\t', '|'})
            if (header.front().find(d) != std::string::npos)
                return ": the header was read as the one column '" + header.front() +
                       "', whose text is split by " +
                       (d == '\t' ? std::string("tabs") : "'" + std::string(1, d) + "'") +
                       ": give that delimiter with --delimiter";
    const std::string want = Lower(name);
    for (const std::string& h : header)
        if (Lower(h) == want) return " (did you mean '" + h + "'?)";
    if (header.size() > 12) return "";
    std::string list;
    for (const std::string& h : header) list += (list.empty() ? "" : ", ") + h;
    return "; the columns are: " + list;
}

int ResolveFormulaName(const std::vector<std::string>& header, const FormulaName& n) {
    const int c = ColumnIndex(header, n.fName);
    if (c == -1)
        throw FormulaError("unknown column '" + n.fName + "'" + UnknownColumnHint(header, n.fName),
                           n.fPos, n.fLen);
    if (c == -2)
        throw FormulaError("column name '" + n.fName + "' appears more than once in the data",
                           n.fPos, n.fLen);
    return c;
}

int ResolveOptionName(const std::vector<std::string>& header, const std::string& name,
                      const std::string& option) {
    const int c = ColumnIndex(header, name);
    if (c == -1)
        throw HostError(HostError::kUsage, option + " names '" + name + "', which is not a column" +
                                               UnknownColumnHint(header, name));
    if (c == -2)
        throw HostError(HostError::kUsage,
                        option + " names '" + name + "', which appears more than once in the data");
    return c;
}

}  // namespace

int FindCategory(const ModelVariable& v, const std::string& text) {
    double value = 0.0;
    const bool number =
        v.fbNumericCategories && CsvScanner::ParseNumber(text.data(), text.size(), value);
    for (std::size_t c = 0; c < v.fvCategories.size(); ++c) {
        const std::string& label = v.fvCategories[c];
        double x = 0.0;
        if (label == text ||
            (number && CsvScanner::ParseNumber(label.data(), label.size(), x) && x == value))
            return static_cast<int>(c);
    }
    return -1;
}

const char* RoleName(ModelVariable::Role role) {
    switch (role) {
        case ModelVariable::kDependent:
            return "dependent";
        case ModelVariable::kFactor:
            return "factor";
        case ModelVariable::kCovariate:
            return "covariate";
        case ModelVariable::kFreqWeight:
            return "frequency_weight";
        case ModelVariable::kCluster:
            return "cluster";
        default:
            return "regression_weight";
    }
}

std::vector<ColumnPlan> PlanColumns(const Formula& formula, const ModelOptions& options,
                                    const std::vector<std::string>& header) {
    std::vector<ColumnPlan> plan(header.size());
    auto at = [&](int column) -> ColumnPlan& { return plan[static_cast<std::size_t>(column)]; };
    ColumnPlan& dep = at(ResolveFormulaName(header, formula.fDependent));
    dep.fbLoad = true;
    dep.fbCategorical = options.fbCategoricalDependent;
    for (const FormulaTerm& t : formula.fvTerms)
        for (const auto& group : t.fvGroups)
            for (const FormulaName& n : group) at(ResolveFormulaName(header, n)).fbLoad = true;
    // A --factors column outside the model is allowed (and ignored).
    for (const std::string& f : options.fvFactors) {
        ColumnPlan& c = at(ResolveOptionName(header, f, "--factors"));
        c.fbCategorical = c.fbLoad;
    }
    for (const auto& w : {std::make_pair(&options.fFreqWeight, "--freq-weight"),
                          std::make_pair(&options.fRegrWeight, "--regr-weight")}) {
        if (w.first->empty()) continue;
        ColumnPlan& c = at(ResolveOptionName(header, *w.first, w.second));
        c.fbLoad = c.fbWeight = true;
        c.fbFreqWeight = w.first == &options.fFreqWeight;
    }
    // Clusters are told apart by their values, numbers or texts alike.
    for (const std::string& cluster : options.fvCluster) {
        ColumnPlan& c = at(ResolveOptionName(header, cluster, "--cluster"));
        if (!c.fbLoad) c.fbCategorical = true;
        c.fbLoad = true;
    }
    // A stray text cell must not turn a numeric column into a factor: the
    // columns read as numbers may hold only numbers and missing values, or
    // only texts (a text factor).
    for (ColumnPlan& c : plan) c.fbNumeric = c.fbLoad && !c.fbCategorical;
    return plan;
}

int ModelSpec::AddVariable(const std::string& name, int column, ModelVariable::Role role) {
    ModelVariable v;
    v.fName = name;
    v.fColumn = column;
    v.fRole = role;
    fvVariables.push_back(std::move(v));
    return static_cast<int>(fvVariables.size()) - 1;
}

const CodedColumn& ModelSpec::Column(const ModelVariable& v) const {
    return *fpData->FindColumn(v.fColumn);
}

void ModelSpec::CheckNumeric(const ModelVariable& v) const {
    const CodedColumn& c = Column(v);
    if (!c.IsText()) return;
    const char* role = v.fRole == ModelVariable::kDependent    ? "the dependent variable"
                       : v.fRole == ModelVariable::kFreqWeight ? "the frequency weight"
                                                               : "the regression weight";
    throw HostError(HostError::kData,
                    CellPlace(fpData->fSource, c.fFirstTextLine, c.fFirstTextRow + 1) + ": " +
                        role + " '" + v.fName + "' must be numeric, but the cell holds '" +
                        c.FirstText() + "'" +
                        (fpData->fDelimiter != ',' && HasDecimalComma(c.FirstText())
                             ? ", a number with a decimal comma: write decimal points"
                             : ""));
}

void ModelSpec::CheckWeights(const ModelVariable& v) {
    const CodedColumn& c = Column(v);
    const char* role =
        v.fRole == ModelVariable::kFreqWeight ? "frequency weight" : "regression weight";
    if (c.fNNegative > 0)
        fvWarnings.push_back("warning: " + std::to_string(c.fNNegative) +
                             (c.fNNegative == 1 ? " record is" : " records are") +
                             " left out for a negative " + role + " ('" + v.fName +
                             "'), as records with a missing value are");
    if (c.fbFraction)
        fvWarnings.push_back("warning: the frequency weight '" + v.fName +
                             "' is not a whole number in " +
                             CellPlace(fpData->fSource, 0, c.fFirstFractionRow + 1) + " (" +
                             NumberText(c.fFirstFraction) + "); a frequency weight counts records");
    if (v.fRole == ModelVariable::kRegrWeight) fRegrWeightScale = WeightScale(c.fMaxWeight);
}

void ModelSpec::RefuseDecimalCommas(const ModelVariable& v) const {
    // A factor whose every category is a number, some with a decimal
    // comma, is a covariate whose numbers were not read as such: fitted as
    // a factor, it would have about one level per record.
    // Where a comma is the delimiter, "1,234" is more likely thousands.
    if (fpData->fDelimiter == ',') return;
    std::string example;
    for (const std::string& label : v.fvCategories) {
        double x;
        if (HasDecimalComma(label)) {
            if (example.empty()) example = label;
        } else if (!CsvScanner::ParseNumber(label.data(), label.size(), x)) {
            return;
        }
    }
    if (example.empty()) return;
    throw HostError(HostError::kData,
                    fpData->fSource + ": column '" + v.fName +
                        "' looks like numbers with decimal commas ('" + example +
                        "'), which are read as text: write them with decimal points, or name "
                        "the column in --factors if its cells are categories");
}

double ModelSpec::WeightScale(double maxWeight) {
    if (!(maxWeight > 0.0)) return 1.0;
    // An even power of two brings the largest weight into [1, 4): exact, and
    // its square root exact too.
    int e = 0;
    std::frexp(maxWeight, &e);
    const int even = 2 * static_cast<int>(std::floor((e - 1) / 2.0));
    return std::abs(even) >= 64 ? std::ldexp(1.0, -even) : 1.0;
}

ModelSpec::ModelSpec(const Formula& formula, const ModelOptions& options, const CodedData& data)
    : fpData(&data), fFormulaText(formula.fText), fNRows(data.fNRecords), fNUsed(data.fNUsed) {
    const std::vector<std::string>& header = data.fvHeader;
    PlanColumns(formula, options, header);  // every name resolves
    auto loaded = [&](int c) -> const CodedColumn& {
        const CodedColumn* col = data.FindColumn(c);
        if (col == nullptr)
            throw HostError(HostError::kUsage,
                            "column '" + header[static_cast<std::size_t>(c)] + "' was not read");
        return *col;
    };

    std::vector<bool> asFactor(header.size(), false);
    for (const std::string& f : options.fvFactors)
        asFactor[static_cast<std::size_t>(ColumnIndex(header, f))] = true;

    const int depCol = ResolveFormulaName(header, formula.fDependent);
    if (asFactor[static_cast<std::size_t>(depCol)] && !options.fbCategoricalDependent)
        throw HostError(HostError::kUsage, "the dependent variable '" + formula.fDependent.fName +
                                               "' cannot be a factor (--factors)");
    AddVariable(formula.fDependent.fName, depCol, ModelVariable::kDependent);

    // Factors and covariates in order of first appearance.
    std::vector<int> factorCols, covariateCols;
    for (const FormulaTerm& t : formula.fvTerms)
        for (const auto& group : t.fvGroups)
            for (const FormulaName& n : group) {
                const int c = ResolveFormulaName(header, n);
                if (c == depCol)
                    throw FormulaError(
                        "the dependent variable '" + n.fName + "' cannot also be a predictor",
                        n.fPos, n.fLen);
                if (asFactor[static_cast<std::size_t>(c)] && !loaded(c).IsCoded())
                    throw std::logic_error("column '" + n.fName +
                                           "' was not read as categories: plan the reading "
                                           "with PlanColumns");
                std::vector<int>& list = loaded(c).IsCoded() ? factorCols : covariateCols;
                if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
            }
    for (int c : factorCols) {
        fvFactorPositions.push_back(
            AddVariable(header[static_cast<std::size_t>(c)], c, ModelVariable::kFactor));
        if (!asFactor[static_cast<std::size_t>(c)])
            fvTextFactors.push_back(header[static_cast<std::size_t>(c)]);
    }
    for (int c : covariateCols) {
        fvCovariatePositions.push_back(
            AddVariable(header[static_cast<std::size_t>(c)], c, ModelVariable::kCovariate));
    }
    auto addWeight = [&](const std::string& name, ModelVariable::Role role, const char* option) {
        if (name.empty()) return -1;
        const int c = ColumnIndex(header, name);
        for (const ModelVariable& v : fvVariables)
            if (v.fColumn == c)
                throw HostError(
                    HostError::kUsage,
                    std::string(option) + " '" + name + "' is already used as " +
                        (v.fRole == ModelVariable::kDependent    ? "the dependent variable"
                         : v.fRole == ModelVariable::kFreqWeight ? "the frequency weight"
                                                                 : "a predictor"));
        return AddVariable(name, c, role);
    };
    const int fwPos = addWeight(options.fFreqWeight, ModelVariable::kFreqWeight, "--freq-weight");
    const int rwPos = addWeight(options.fRegrWeight, ModelVariable::kRegrWeight, "--regr-weight");
    // The cluster column may also be a model variable: it has a record
    // position of its own.
    std::vector<int> clusterPositions;
    for (const std::string& cluster : options.fvCluster)
        clusterPositions.push_back(
            AddVariable(cluster, ColumnIndex(header, cluster), ModelVariable::kCluster));
    for (ModelVariable& v : fvVariables) {
        const CodedColumn& c = loaded(v.fColumn);
        // Its values only group records: a text's code of first appearance
        // serves, no sorted categories needed.
        if (v.fRole == ModelVariable::kCluster) continue;
        if (v.fRole == ModelVariable::kFactor ||
            (v.fRole == ModelVariable::kDependent && options.fbCategoricalDependent)) {
            Categories cats = SortedCategories(c);
            v.fvCategories = std::move(cats.fvLabels);
            v.fbNumericCategories = !c.IsText();
            v.fvIndexOfCode = std::move(cats.fvIndexOfCode);
            if (v.fRole == ModelVariable::kFactor && !asFactor[static_cast<std::size_t>(v.fColumn)])
                RefuseDecimalCommas(v);
            // Numbers with many values are more likely a measurement than
            // categories; each value would be a category of its own.
            if (v.fRole == ModelVariable::kDependent && v.fbNumericCategories &&
                v.fvCategories.size() > kManyCategories)
                fvWarnings.push_back("warning: the dependent variable '" + v.fName + "' has " +
                                     std::to_string(v.fvCategories.size()) +
                                     " distinct numbers, each fitted as a category of its own; "
                                     "a logistic model is for a few categories");
        } else if (v.fRole != ModelVariable::kCovariate) {
            CheckNumeric(v);
            if (v.fRole != ModelVariable::kDependent) CheckWeights(v);
            // Its squares would overflow the sums of squares, and every
            // figure of the fit with them.
            if (v.fRole == ModelVariable::kDependent && c.fMaxAbs >= kLargestSquarable)
                throw HostError(HostError::kData,
                                "the dependent variable '" + v.fName + "' reaches " +
                                    Number(c.fMaxAbs) +
                                    ", too large for its sums of squares, which would overflow: "
                                    "rescale it");
            v.fMaxAbs = c.fMaxAbs;
        } else {
            v.fMaxAbs = c.fMaxAbs;
            v.fMin = c.fMin;
            v.fMax = c.fMax;
        }
    }

    fSettings.SetDependent(0);
    for (int p : fvFactorPositions) {
        const auto k = fvVariables[static_cast<std::size_t>(p)].fvCategories.size();
        fSettings.AddFactor(p, std::max(1, static_cast<int>(k)));
    }
    for (int p : fvCovariatePositions) fSettings.AddCovariate(p);
    if (fwPos >= 0) fSettings.SetFrequencyWeightVar(fwPos);
    if (rwPos >= 0) fSettings.SetRegrWeightVar(rwPos);
    fSettings.SetInterceptUse(options.fbIntercept && !formula.fbInterceptRemoved);
    if (options.fTolerance > 0.0) fSettings.SetTolerance(options.fTolerance);
    fSettings.SetConfidenceLevel(options.fConfidence);
    fSettings.SetKeepCrossProducts(options.fbKeepCrossProducts);
    if (options.fSandwich >= 0) {
        fSettings.SetCovbType(MCConst::COVB_ROBUST);
        fSettings.SetRobustType(static_cast<MCConst::MCRobustType>(options.fSandwich));
    }
    if (!clusterPositions.empty()) {
        for (int p : clusterPositions)
            if (fSettings.AddClusterVar(p) < 0)
                throw HostError(HostError::kUsage, "--cluster takes at most two columns");
        fSettings.SetCovbType(MCConst::COVB_ROBUST);
        fSettings.SetRobustType(MCConst::ROBUST_CLUSTER);
    }
    BuildEffects(formula);
}

void ModelSpec::BuildEffects(const Formula& formula) {
    std::vector<int> vars = fvFactorPositions;
    vars.insert(vars.end(), fvCovariatePositions.begin(), fvCovariatePositions.end());
    const int nf = static_cast<int>(fvFactorPositions.size());
    const int nc = static_cast<int>(fvCovariatePositions.size());
    auto positionOf = [&](const std::string& name) {
        for (std::size_t p = 1; p < fvVariables.size(); ++p)
            if (fvVariables[p].fName == name) return static_cast<int>(p);
        return -1;
    };
    std::vector<MCModelEffect> effects;
    // Per term its factors and covariates, sorted, nesting aside: B(A) and
    // A*B have the same cells, and so the same columns.
    std::vector<std::vector<int>> columnsOf;
    for (const FormulaTerm& t : formula.fvTerms) {
        std::vector<int> key;
        for (const auto& group : t.fvGroups)
            for (const FormulaName& n : group) key.push_back(positionOf(n.fName));
        std::sort(key.begin(), key.end());
        MCModelEffect e(nf, nc, &vars);
        bool onlyCovariates = true;
        for (const FormulaName& n : t.fvGroups.front())
            if (fvVariables[static_cast<std::size_t>(positionOf(n.fName))].fRole ==
                ModelVariable::kFactor)
                onlyCovariates = false;
        e.SetFactorsInParens(onlyCovariates && t.fvGroups.size() > 1);
        int nFactors = 0;
        for (std::size_t g = 0; g < t.fvGroups.size(); ++g) {
            for (std::size_t i = 0; i < t.fvGroups[g].size(); ++i) {
                const FormulaName& n = t.fvGroups[g][i];
                const int p = positionOf(n.fName);
                if (fvVariables[static_cast<std::size_t>(p)].fRole == ModelVariable::kCovariate) {
                    if (g > 0)
                        throw FormulaError("'" + n.fName +
                                               "' is a covariate, but a factor is needed inside "
                                               "parentheses",
                                           n.fPos, n.fLen);
                    e.AddCovariate(p);
                    continue;
                }
                // The first factor of each parenthesised group encloses all
                // factors before it.
                if (!e.AddNewFactor(p, g > 0 && i == 0 && nFactors > 0))
                    throw FormulaError("factor '" + n.fName + "' appears twice in this term",
                                       n.fPos, n.fLen);
                ++nFactors;
            }
        }
        for (std::size_t k = 0; k < effects.size(); ++k)
            if (effects[k] == e)
                throw FormulaError("this term repeats the term '" + fvEffectTexts[k] + "'", t.fPos,
                                   t.fLen);
        for (std::size_t k = 0; k < columnsOf.size(); ++k)
            if (columnsOf[k] == key)
                throw FormulaError("this term has the same columns as the term '" +
                                       fvEffectTexts[k] + "' (nesting aside): name it once",
                                   t.fPos, t.fLen);
        // Parameters are aliased in the order of the terms, so a term after
        // one that contains it has every parameter aliased: its tests come
        // out empty, where R, which puts lower-order terms first, tests it.
        for (std::size_t k = 0; k < effects.size(); ++k)
            if (e.IsContainedIn(effects[k])) {
                fvWarnings.push_back("note: '" + t.Text() + "' comes after '" + fvEffectTexts[k] +
                                     "', which contains it, so all its parameters are aliased "
                                     "and its Type I and Type III tests are empty; write it "
                                     "before '" +
                                     fvEffectTexts[k] + "' to test it");
                break;
            }
        columnsOf.push_back(key);
        effects.push_back(e);
        fvEffectTexts.push_back(t.Text());
        std::vector<int> covariates;
        for (const FormulaName& n : t.fvGroups.front())
            if (fvVariables[static_cast<std::size_t>(positionOf(n.fName))].fRole ==
                ModelVariable::kCovariate)
                covariates.push_back(positionOf(n.fName));
        fvEffectCovariates.push_back(std::move(covariates));
        fSettings.AddModelEffect(e);
    }
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> ModelSpec::MakeIterator() const {
    if (fpData->fpStore->Contiguous() != nullptr)
        return MakeRangeIterator(0, fpData->fpStore->GetNRecords());
    return std::make_unique<ModelRecordIter>(fpData->fpStore->MakeIterator(), Slots());
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> ModelSpec::MakeRangeIterator(
    std::size_t begin, std::size_t end) const {
    const RecordStore& store = *fpData->fpStore;
    if (const double* values = store.Contiguous())
        return std::make_unique<ModelRecordIter>(
            values, static_cast<std::size_t>(store.GetNValues()), begin, end, Slots());
    return std::make_unique<ModelRecordIter>(store.MakeRangeIterator(begin, end), Slots());
}

std::vector<ModelRecordIter::Slot> ModelSpec::Slots() const {
    std::vector<ModelRecordIter::Slot> slots;
    for (const ModelVariable& v : fvVariables) {
        ModelRecordIter::Slot s;
        s.fSource = static_cast<std::size_t>(Column(v).fPosition);
        if (Column(v).IsCoded() && (v.fRole != ModelVariable::kCluster || fbClusterCodes))
            s.fpIndexOfCode = &v.fvIndexOfCode;
        if (v.fRole == ModelVariable::kRegrWeight) s.fScale = fRegrWeightScale;
        slots.push_back(s);
    }
    return slots;
}

double ModelSpec::TermScale(std::size_t effect) const {
    double scale = 1.0;
    for (int p : fvEffectCovariates[effect])
        scale *= fvVariables[static_cast<std::size_t>(p)].fMaxAbs;
    return scale;
}

void ModelSpec::CheckScales() const {
    const auto tooSmall = [](const std::string& what, double scale, const char* rescale) {
        return HostError(HostError::kData,
                         what + " is at most " + (scale > 0.0 ? Number(scale) : "1e-308") +
                             " in magnitude, too small for its sums of squares, which would "
                             "underflow: rescale " +
                             rescale);
    };
    const ModelVariable& dep = fvVariables.front();
    if (dep.fMaxAbs > 0.0 && dep.fMaxAbs < kSmallestSquarable)
        throw tooSmall("the dependent variable '" + dep.fName + "'", dep.fMaxAbs, "it");
    for (std::size_t k = 0; k < fvEffectCovariates.size(); ++k) {
        const std::vector<int>& covariates = fvEffectCovariates[k];
        // A covariate that is zero wherever it is met is aliased for that
        // reason, whatever its scale.
        bool zero = covariates.empty();
        for (int p : covariates)
            zero = zero || fvVariables[static_cast<std::size_t>(p)].fMaxAbs == 0.0;
        const double scale = TermScale(k);
        if (zero || scale >= kSmallestSquarable) continue;
        if (covariates.size() == 1)
            throw tooSmall(
                "covariate '" + fvVariables[static_cast<std::size_t>(covariates[0])].fName + "'",
                scale, "it");
        throw tooSmall("the term '" + fvEffectTexts[k] + "' (a product of covariates)", scale,
                       "them");
    }
}

std::vector<std::string> ModelSpec::SpreadWarnings() const {
    // A spread below this fraction of the magnitude leaves fewer than
    // seven of a double's sixteen digits to the variation that is fitted.
    constexpr double kRelativeSpread = 1e-9;
    std::vector<std::string> warnings;
    for (const ModelVariable& v : fvVariables) {
        if (v.fRole != ModelVariable::kCovariate || !(v.fMax > v.fMin)) continue;
        if (v.fMax - v.fMin >= kRelativeSpread * v.fMaxAbs) continue;
        warnings.push_back("warning: covariate '" + v.fName + "' varies only from " +
                           Number(v.fMin) + " to " + Number(v.fMax) +
                           ", beyond its ninth significant digit: the digits the data carry, "
                           "not the fit, limit its estimate (and one constant to twelve digits "
                           "is aliased)");
    }
    return warnings;
}

}  // namespace mchost
