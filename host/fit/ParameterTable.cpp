#include "host/fit/ParameterTable.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "companion/MCSymMatrix.h"
#include "companion/MCVarList.h"
#include "export/MCRegrDoreZADUtil.h"
#include "settings/MCRegrParameterStats.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCMath_850::MCDistFun;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Host(double v) {
    return MCMV::IsMissing(v) ? kNaN : v;
}

// The library's figure when its record has one, else the host's.
double Pick(double library, double host) {
    return MCMV::IsMissing(library) || std::isnan(library) ? host : library;
}

// The figures computed from the estimate and its variance, for what the
// library's record leaves missing.
ParameterFigures Computed(double estimate, double var, const ParameterTest& test, double quantile) {
    ParameterFigures f;
    f.fEstimate = estimate;
    f.fStdError = f.fStatistic = f.fSig = f.fCILower = f.fCIUpper = kNaN;
    f.fDF = test.fbWald ? 0.0 : kNaN;
    if (test.fbWald) {
        f.fDF = 1.0;
        if (!(var > 0.0 && std::isfinite(var))) return f;
        const double se = std::sqrt(var);
        f.fStdError = se;
        f.fStatistic = estimate * estimate / var;
        f.fSig = Host(MCDistFun::SigChi(f.fStatistic, 1.0));
        if (!std::isnan(quantile)) {
            f.fCILower = std::exp(estimate - quantile * se);
            f.fCIUpper = std::exp(estimate + quantile * se);
        }
        return f;
    }
    if (!(test.fDF > 0.0) || !(var >= 0.0 && std::isfinite(var))) return f;
    const double se = std::sqrt(var);
    f.fStdError = se;
    f.fDF = test.fDF;
    if (se > 0.0) {
        f.fStatistic = estimate / se;
        const double tail = Host(MCDistFun::SigT(std::fabs(f.fStatistic), test.fDF));
        f.fSig = std::isnan(tail) ? kNaN : std::min(1.0, 2.0 * tail);
    }
    if (!std::isnan(quantile)) {
        f.fCILower = estimate - quantile * se;
        f.fCIUpper = estimate + quantile * se;
    }
    return f;
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
                                             const ParameterTest& test) {
    const std::vector<MCMath_850::MCRegrParameter>& params = stats.GetParameters();
    const std::vector<MCMath_850::MCRegrParameterStats>& records = stats.GetParamStats();
    const std::vector<double>& estimates = stats.GetParamEstimates();
    const MCMath_850::MCSymMatrix* cov = stats.GetCovarianceMatrix();
    const std::vector<std::string> labels = ParameterLabels(spec, settings, stats);
    const std::vector<std::string>& effects = spec.GetEffectTexts();
    const double level = (1.0 + test.fConfidence) / 2.0;
    double quantile = kNaN;
    if (test.fbWald)
        quantile = Host(MCDistFun::IdfStdNorm(level));
    else if (test.fDF > 0.0)
        quantile = Host(MCDistFun::IdfT(level, test.fDF));

    std::vector<ParameterFigures> table;
    table.reserve(params.size());
    for (std::size_t k = 0; k < params.size(); ++k) {
        const MCMath_850::MCRegrParameterStats* rec =
            k < records.size() && records[k].fParamIndex == static_cast<int>(k) ? &records[k]
                                                                                : nullptr;
        const bool redundant = !stats.GetRedundancyIndicators().IsIn(static_cast<int>(k));
        ParameterFigures f;
        if (redundant || cov == nullptr) {
            // Untested: an estimate, if any, and no statistics.
            f = Computed(redundant ? 0.0 : estimates[k], kNaN, test, kNaN);
            f.fDF = test.fbWald ? 0.0 : kNaN;
        } else {
            const double estimate =
                rec != nullptr ? Pick(rec->fEstimate, estimates[k]) : estimates[k];
            const int i = static_cast<int>(k);
            f = Computed(estimate, cov->GetElem(i, i), test, quantile);
            if (rec != nullptr) {
                f.fStdError = Pick(rec->fStdError, f.fStdError);
                f.fStatistic = Pick(test.fbWald ? rec->fChiSquare : rec->fTTest, f.fStatistic);
                f.fDF = rec->fDF > 0.0 ? rec->fDF : f.fDF;
                f.fSig = Pick(rec->fSig, f.fSig);
                f.fCILower = Pick(test.fbWald ? rec->fExpCILower : rec->fCILower, f.fCILower);
                f.fCIUpper = Pick(test.fbWald ? rec->fExpCIUpper : rec->fCIUpper, f.fCIUpper);
            }
        }
        f.fbRedundant = redundant;
        f.fLabel = labels[k];
        const int e = params[k].GetEffectIndex();
        f.fEffect = e >= 0 && static_cast<std::size_t>(e) < effects.size()
                        ? effects[static_cast<std::size_t>(e)]
                        : "Intercept";
        table.push_back(std::move(f));
    }
    return table;
}

}  // namespace mchost
