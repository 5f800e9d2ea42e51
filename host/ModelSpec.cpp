#include "host/ModelSpec.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "companion/MCMV.h"
#include "host/ColumnRecordIter.h"
#include "host/HostError.h"
#include "settings/MCModelEffect.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCMath_850::MCModelEffect;

namespace {

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

std::vector<std::string> HeaderOf(const DataTable& table) {
    std::vector<std::string> h;
    for (const DataColumn& c : table.GetColumns()) h.push_back(c.GetName());
    return h;
}

}  // namespace

std::vector<bool> SelectColumns(const Formula& formula, const ModelOptions& options,
                                const std::vector<std::string>& header) {
    std::vector<bool> keep(header.size(), false);
    keep[static_cast<std::size_t>(ResolveFormulaName(header, formula.fDependent))] = true;
    for (const FormulaTerm& t : formula.fvTerms)
        for (const auto& group : t.fvGroups)
            for (const FormulaName& n : group)
                keep[static_cast<std::size_t>(ResolveFormulaName(header, n))] = true;
    // A --factors column outside the model is allowed (and ignored).
    for (const std::string& f : options.fvFactors) ResolveOptionName(header, f, "--factors");
    if (!options.fFreqWeight.empty())
        keep[static_cast<std::size_t>(
            ResolveOptionName(header, options.fFreqWeight, "--freq-weight"))] = true;
    if (!options.fRegrWeight.empty())
        keep[static_cast<std::size_t>(
            ResolveOptionName(header, options.fRegrWeight, "--regr-weight"))] = true;
    return keep;
}

int ModelSpec::AddVariable(const std::string& name, int column, ModelVariable::Role role) {
    ModelVariable v;
    v.fName = name;
    v.fColumn = column;
    v.fRole = role;
    fvVariables.push_back(std::move(v));
    return static_cast<int>(fvVariables.size()) - 1;
}

void ModelSpec::CheckNumeric(const ModelVariable& v, const DataTable& table) const {
    const DataColumn& c = table.GetColumn(v.fColumn);
    if (c.IsNumeric()) return;
    std::size_t row = 0;
    while (row < c.GetNRows() && c.GetTextCode(row) < 0) ++row;
    const char* role = v.fRole == ModelVariable::kDependent    ? "the dependent variable"
                       : v.fRole == ModelVariable::kFreqWeight ? "the frequency weight"
                                                               : "the regression weight";
    throw HostError(HostError::kData,
                    std::string(role) + " '" + v.fName + "' must be numeric, but data row " +
                        std::to_string(row + 1) + " holds '" +
                        c.GetTexts()[static_cast<std::size_t>(c.GetTextCode(row))] + "'");
}

ModelSpec::ModelSpec(const Formula& formula, const ModelOptions& options, const DataTable& table)
    : fFormulaText(formula.fText), fNRows(table.GetNRows()) {
    const std::vector<std::string> header = HeaderOf(table);
    SelectColumns(formula, options, header);  // every name resolves

    std::vector<bool> asFactor(header.size(), false);
    for (const std::string& f : options.fvFactors)
        asFactor[static_cast<std::size_t>(ColumnIndex(header, f))] = true;

    const int depCol = ResolveFormulaName(header, formula.fDependent);
    if (asFactor[static_cast<std::size_t>(depCol)])
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
                const bool factor =
                    asFactor[static_cast<std::size_t>(c)] || !table.GetColumn(c).IsNumeric();
                std::vector<int>& list = factor ? factorCols : covariateCols;
                if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
            }
    for (int c : factorCols) {
        fvFactorPositions.push_back(
            AddVariable(header[static_cast<std::size_t>(c)], c, ModelVariable::kFactor));
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
    for (const ModelVariable& v : fvVariables)
        if (v.fRole != ModelVariable::kFactor && v.fRole != ModelVariable::kCovariate)
            CheckNumeric(v, table);

    // Listwise: a record takes part when every model value is present.
    const std::size_t n = fNRows;
    const bool codes = options.fbFactorsAreCodes;
    std::vector<char> used(n, 1);
    for (const ModelVariable& v : fvVariables) {
        const DataColumn& c = table.GetColumn(v.fColumn);
        for (std::size_t i = 0; i < n; ++i) {
            bool ok;
            switch (v.fRole) {
                case ModelVariable::kFactor:
                    ok = !c.IsMissing(i) && !(codes && c.GetNumber(i) < -0.5);
                    if (ok && codes && c.GetNumber(i) != std::floor(c.GetNumber(i)))
                        throw HostError(HostError::kData,
                                        "factor '" + v.fName + "' holds " +
                                            NumberText(c.GetNumber(i)) + " in data row " +
                                            std::to_string(i + 1) +
                                            ", but its values must be category codes 0, 1, 2, ...");
                    break;
                case ModelVariable::kFreqWeight:
                case ModelVariable::kRegrWeight:
                    ok = c.GetNumber(i) > 0.0;
                    break;
                default:
                    ok = c.IsNumber(i);
                    break;
            }
            if (!ok) used[i] = 0;
        }
    }
    fNUsed = static_cast<std::size_t>(std::count(used.begin(), used.end(), 1));
    CodeFactors(table, used);

    fvRecordColumns.resize(fvVariables.size());
    std::size_t f = 0;
    for (std::size_t p = 0; p < fvVariables.size(); ++p) {
        const ModelVariable& v = fvVariables[p];
        if (v.fRole == ModelVariable::kFactor)
            fvRecordColumns[p] = fvCodedFactors[f++].data();
        else
            fvRecordColumns[p] = table.GetColumn(v.fColumn).GetValues().data();
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
    BuildEffects(formula);
}

void ModelSpec::CodeFactors(const DataTable& table, const std::vector<char>& used) {
    const std::size_t n = fNRows;
    for (int p : fvFactorPositions) {
        ModelVariable& v = fvVariables[static_cast<std::size_t>(p)];
        const DataColumn& c = table.GetColumn(v.fColumn);
        std::vector<double> numbers;
        std::vector<char> textSeen(c.GetTexts().size(), 0);
        for (std::size_t i = 0; i < n; ++i) {
            if (!used[i]) continue;
            if (c.IsNumber(i))
                numbers.push_back(c.GetNumber(i));
            else
                textSeen[static_cast<std::size_t>(c.GetTextCode(i))] = 1;
        }
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
        std::vector<std::int32_t> texts;
        for (std::size_t t = 0; t < textSeen.size(); ++t)
            if (textSeen[t]) texts.push_back(static_cast<std::int32_t>(t));
        const std::vector<std::string>& all = c.GetTexts();
        std::sort(texts.begin(), texts.end(), [&](std::int32_t a, std::int32_t b) {
            return all[static_cast<std::size_t>(a)] < all[static_cast<std::size_t>(b)];
        });
        std::vector<double> textCode(all.size(), MCMV::Missing());
        for (std::size_t k = 0; k < texts.size(); ++k)
            textCode[static_cast<std::size_t>(texts[k])] = static_cast<double>(numbers.size() + k);
        for (double x : numbers) v.fvCategories.push_back(NumberText(x));
        for (std::int32_t t : texts) v.fvCategories.push_back(all[static_cast<std::size_t>(t)]);

        ColumnVector<double> coded(n, MCMV::Missing());
        for (std::size_t i = 0; i < n; ++i) {
            if (!used[i]) continue;
            if (c.IsNumber(i)) {
                const auto it = std::lower_bound(numbers.begin(), numbers.end(), c.GetNumber(i));
                coded[i] = static_cast<double>(it - numbers.begin());
            } else {
                coded[i] = textCode[static_cast<std::size_t>(c.GetTextCode(i))];
            }
        }
        fvCodedFactors.push_back(std::move(coded));
    }
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
    for (const FormulaTerm& t : formula.fvTerms) {
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
        effects.push_back(e);
        fvEffectTexts.push_back(t.Text());
        fSettings.AddModelEffect(e);
    }
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> ModelSpec::MakeIterator() const {
    return std::make_unique<ColumnRecordIter>(fvRecordColumns, fNRows);
}

}  // namespace mchost
