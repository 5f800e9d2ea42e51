#include "host/fit/ParameterTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "companion/MCSymMatrix.h"
#include "companion/MCVarList.h"
#include "companion/Utf8.h"
#include "export/MCRegrDoreZADUtil.h"
#include "host/base/NumberText.h"
#include "settings/MCRegrParameterStats.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCMath_850::MCDistFun;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Host(double v) {
    return MCMV::IsMissing(v) ? kNaN : v;
}

}  // namespace

std::vector<std::string> ParameterLabels(const ModelSpec& spec,
                                         const MCMath_850::MCRegSettings& settings,
                                         const MCMath_850::IMCRegOutputStats& stats) {
    const bool categoricalDependent = stats.GetModelType() == 1;
    MCXML_850::MCVarList varList;
    for (const ModelVariable& v : spec.GetVariables()) {
        if (v.fRole == ModelVariable::kFactor ||
            (categoricalDependent && v.fRole == ModelVariable::kDependent))
            varList.AddCategoricalVar(v.fName, v.fvCategories);
        else
            varList.AddContinuousVar(v.fName, 0.0, 0.0);
    }
    std::vector<std::string> labels;
    std::vector<MCMath_850::MCRegrParameterStats> kept;
    MCMath_850::MCRegrDoreZADUtil::GetParamLables(stats.GetParamStats(), settings, varList,
                                                  stats.GetParameters(), labels, kept);
    // The labels come in the order of the records that name a parameter.
    std::vector<std::string> byParameter(stats.GetParameters().size());
    for (std::size_t j = 0; j < kept.size() && j < labels.size(); ++j) {
        const int k = kept[j].fParamIndex;
        if (k >= 0 && static_cast<std::size_t>(k) < byParameter.size())
            byParameter[static_cast<std::size_t>(k)] = labels[j];
    }
    return byParameter;
}

std::vector<ParameterFigures> ParameterTable(const ModelSpec& spec,
                                             const MCMath_850::MCRegSettings& settings,
                                             const MCMath_850::IMCRegOutputStats& stats,
                                             bool wald) {
    const std::vector<MCMath_850::MCRegrParameter>& params = stats.GetParameters();
    const std::vector<MCMath_850::MCRegrParameterStats>& records = stats.GetParamStats();
    const std::vector<double>& estimates = stats.GetParamEstimates();
    const std::vector<std::string> labels = ParameterLabels(spec, settings, stats);
    const std::vector<std::string>& effects = spec.GetEffectTexts();

    std::vector<ParameterFigures> table;
    table.reserve(params.size());
    for (std::size_t k = 0; k < params.size(); ++k) {
        const MCMath_850::MCRegrParameterStats* rec =
            k < records.size() && records[k].fParamIndex == static_cast<int>(k) ? &records[k]
                                                                                : nullptr;
        ParameterFigures f;
        f.fbRedundant = !stats.GetRedundancyIndicators().IsIn(static_cast<int>(k));
        f.fEstimate = f.fbRedundant ? 0.0 : rec != nullptr ? Host(rec->fEstimate) : estimates[k];
        f.fStdError = f.fStatistic = f.fSig = f.fCILower = f.fCIUpper = kNaN;
        f.fDF = wald ? 0.0 : kNaN;
        if (rec != nullptr && !f.fbRedundant) {
            f.fStdError = Host(rec->fStdError);
            f.fStatistic = Host(wald ? rec->fChiSquare : rec->fTTest);
            if (rec->fDF > 0.0) f.fDF = rec->fDF;
            f.fSig = Host(rec->fSig);
            f.fCILower = Host(wald ? rec->fExpCILower : rec->fCILower);
            f.fCIUpper = Host(wald ? rec->fExpCIUpper : rec->fCIUpper);
        }
        f.fLabel = labels[k];
        const int e = params[k].GetEffectIndex();
        f.fEffect = e >= 0 && static_cast<std::size_t>(e) < effects.size()
                        ? effects[static_cast<std::size_t>(e)]
                        : "Intercept";
        table.push_back(std::move(f));
    }
    return table;
}

std::vector<std::string> OverflowWarnings(const ModelSpec& spec,
                                          const std::vector<MCMath_850::MCRegrParameter>& params,
                                          const std::vector<bool>& redundant) {
    std::vector<std::string> warnings;
    // A covariate whose products overflow is aliased for that reason alone,
    // and so is a product of covariates that reaches that far together.
    const std::vector<ModelVariable>& vars = spec.GetVariables();
    std::vector<bool> said(vars.size(), false);
    std::vector<bool> saidTerm(spec.GetEffectCovariates().size(), false);
    for (std::size_t k = 0; k < params.size() && k < redundant.size(); ++k) {
        const int e = params[k].GetEffectIndex();
        if (!redundant[k] || e < 0) continue;
        const auto effect = static_cast<std::size_t>(e);
        bool saidOne = false;
        for (int p : spec.GetEffectCovariates()[effect]) {
            const ModelVariable& v = vars[static_cast<std::size_t>(p)];
            if (v.fMaxAbs < ModelSpec::kLargestSquarable) continue;
            saidOne = true;
            if (said[static_cast<std::size_t>(p)]) continue;
            said[static_cast<std::size_t>(p)] = true;
            warnings.push_back("warning: covariate '" + v.fName + "' reaches " + Number(v.fMaxAbs) +
                               ", too large for its sums of squares, which overflow; it is "
                               "aliased for that reason: rescale it");
        }
        const double scale = spec.TermScale(effect);
        if (saidOne || saidTerm[effect] || scale < ModelSpec::kLargestSquarable) continue;
        saidTerm[effect] = true;
        warnings.push_back("warning: the term '" + spec.GetEffectTexts()[effect] + "' reaches " +
                           (std::isfinite(scale) ? Number(scale) : "more than 1e+308") +
                           ", the product of its covariates' largest magnitudes, too large "
                           "for its sums of squares, which overflow; it is aliased for that "
                           "reason: rescale its covariates");
    }
    return warnings;
}

namespace {

// The text as the report shows it: each sequence that is not UTF-8 one
// U+FFFD, as a U+FFFD of its own.
std::string Shown(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t from = i;
        const long cp = MCCommon_850::Utf8::NextCodePoint(text, i);
        if (cp < 0 || cp == 0xFFFD)
            out += "\xEF\xBF\xBD";
        else
            out.append(text, from, i - from);
        if (i == from) ++i;
    }
    return out;
}

// The text in printable ASCII, other bytes as \xNN, so that a warning
// shows what the report cannot.
std::string Bytes(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

bool HasNonUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t from = i;
        if (MCCommon_850::Utf8::NextCodePoint(text, i) < 0) return true;
        if (i == from) ++i;
    }
    return false;
}

// "'a' and 'b'" for the first two texts of texts that are shown alike.
std::string FirstLookAlikes(const std::vector<std::string>& texts) {
    // Texts that are all UTF-8 are shown each as it is.
    if (std::none_of(texts.begin(), texts.end(), HasNonUtf8)) return "";
    std::map<std::string, const std::string*> seen;
    for (const std::string& t : texts) {
        const auto [at, added] = seen.emplace(Shown(t), &t);
        if (!added && *at->second != t)
            return "'" + Bytes(*at->second) + "' and '" + Bytes(t) + "'";
    }
    return "";
}

}  // namespace

std::vector<std::string> LookAlikeWarnings(const ModelSpec& spec) {
    std::vector<std::string> warnings;
    const std::string why =
        ", which differ only in bytes that are not UTF-8: the report and the JSON show them "
        "alike (the PMML and results documents keep them apart)";
    std::vector<std::string> names;
    for (const ModelVariable& v : spec.GetVariables()) {
        names.push_back(v.fName);
        if (v.fRole != ModelVariable::kFactor && v.fRole != ModelVariable::kDependent) continue;
        const std::string pair = FirstLookAlikes(v.fvCategories);
        if (!pair.empty())
            warnings.push_back("warning: '" + Bytes(v.fName) + "' has the categories " + pair +
                               why);
    }
    const std::string pair = FirstLookAlikes(names);
    if (!pair.empty()) warnings.push_back("warning: the model has the columns " + pair + why);
    return warnings;
}

}  // namespace mchost
