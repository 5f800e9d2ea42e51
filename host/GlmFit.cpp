#include "host/GlmFit.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "companion/MCVarList.h"
#include "export/MCRegrDoreZADUtil.h"
#include "glm/MCGLMOutputStats.h"
#include "settings/MCGLMComponent.h"
#include "settings/MCRegFactory.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCMath_850::MCDistFun;

double HostValue(double v) {
    return MCMV::IsMissing(v) ? kMissing : v;
}

void ThrowLibraryError(const MCStatus& s) {
    throw LibraryError(s.GetErrorCode(), s.GetMessage());
}

FittedModel GlmFitted::View(const ModelSpec& spec, double confidence) const {
    FittedModel m;
    m.fpSpec = &spec;
    m.fpSettings = &fpComponent->GetCompSettings();
    m.fpComponent = fpComponent.get();
    m.fpStats = fpStats;
    m.fConfidence = confidence;
    m.fNBasic = static_cast<int>(fpStats->GetParameters().size());
    return m;
}

GlmResult FitGlm(const ModelSpec& spec, MCCommon_850::MultiPassRecordIter& records,
                 double confidence, MCCommon_850::MCQueryCancel* cancel,
                 const std::function<void(std::size_t)>& parameters, GlmFitted* keep) {
    MCMath_850::MCRegSettings settings = spec.GetSettings();
    settings.SetCancelPointer(cancel);
    MCMath_850::MCRegFactory factory;
    std::unique_ptr<MCMath_850::IMCRegComponent> component(factory.CreateRegAlgorithm(settings));
    if (!component) ThrowLibraryError(factory.GetStatus());
    MCStatus status;
    if (parameters) {
        std::vector<MCMath_850::MCRegrParameter> created;
        status = component->CreateParameters(records, created);
        if (status.IsError()) ThrowLibraryError(status);
        parameters(created.size());
    }
    status = component->BuildModel(records);
    if (status.IsError()) ThrowLibraryError(status);
    MCMath_850::IMCRegOutputStats* out = nullptr;
    status = component->GetOutputStats(out);
    if (status.IsError()) ThrowLibraryError(status);
    const auto& glm = dynamic_cast<const MCMath_850::MCGLMOutputStats&>(*out);

    GlmResult r;
    r.fFormula = spec.GetFormulaText();
    r.fDependent = spec.GetDependentName();
    r.fConfidence = confidence;
    if (const auto* c = dynamic_cast<const MCMath_850::MCGLMComponent*>(component.get())) {
        r.fRecordsRead = c->GetNRecordsRead();
        r.fRecordsUsed = c->GetNRecordsUsed();
    }
    r.fTotalFreqWeight = glm.GetTotalFreqWeight();
    r.fTotalRegrWeight = glm.GetTotalRegrWeight();
    r.fErrorDF = HostValue(glm.GetErrorDF());
    r.fRank = glm.GetRank();
    r.fRmse = HostValue(glm.GetModelFitStat(MCConst::FIT_RMSE));
    const double ms = HostValue(glm.GetErrorMeanSquare());
    r.fResidualSE = ms >= 0.0 ? std::sqrt(ms) : kMissing;
    r.fRSquare = HostValue(glm.GetModelFitStat(MCConst::FIT_RSQUARE));
    for (const MCStatus& w : component->GetWarnings()) r.fvWarnings.push_back(w.GetMessage());

    const double df = r.fErrorDF;
    const double q = df > 0.0 ? HostValue(MCDistFun::IdfT((1.0 + confidence) / 2.0, df)) : kMissing;
    const std::vector<double>& estimates = glm.GetParamEstimates();
    const std::vector<MCMath_850::MCRegrParameter>& params = glm.GetParameters();
    const MCMath_850::MCSymMatrix* cov = glm.GetCovarianceMatrix();
    // Labels as the library writes them into its results documents; the
    // variable list is indexed by record position, as the parameters are.
    MCXML_850::MCVarList varList;
    for (const ModelVariable& v : spec.GetVariables()) {
        if (v.fRole == ModelVariable::kFactor)
            varList.AddCategoricalVar(v.fName, v.fvCategories);
        else
            varList.AddContinuousVar(v.fName, 0.0, 0.0);
    }
    std::vector<std::string> labels;
    std::vector<MCMath_850::MCRegrParameterStats> labelled;
    MCMath_850::MCRegrDoreZADUtil::GetParamLables(glm.GetParamStats(), settings, varList, params,
                                                  labels, labelled);
    for (std::size_t k = 0; k < params.size(); ++k) {
        const MCMath_850::MCRegrParameter& p = params[k];
        ParameterRow row;
        char name[32];
        std::snprintf(name, sizeof name, "P%07zu", k + 1);
        row.fName = name;
        const int e = p.GetEffectIndex();
        row.fLabel = k < labels.size() ? labels[k] : std::string();
        row.fEffect = e >= 0 && static_cast<std::size_t>(e) < spec.GetEffectTexts().size()
                          ? spec.GetEffectTexts()[static_cast<std::size_t>(e)]
                          : "Intercept";
        row.fbRedundant = !glm.GetRedundancyIndicators().IsIn(static_cast<int>(k));
        row.fEstimate = row.fbRedundant ? 0.0 : estimates[k];
        row.fStdError = row.fT = row.fDF = row.fSig = row.fCILower = row.fCIUpper = kMissing;
        if (!row.fbRedundant && df > 0.0 && cov != nullptr) {
            const double var = cov->GetElem(static_cast<int>(k), static_cast<int>(k));
            if (var >= 0.0 && std::isfinite(var)) {
                const double se = std::sqrt(var);
                row.fStdError = se;
                row.fDF = df;
                if (se > 0.0) {
                    row.fT = row.fEstimate / se;
                    const double tail = HostValue(MCDistFun::SigT(std::fabs(row.fT), df));
                    row.fSig = std::isnan(tail) ? kMissing : std::min(1.0, 2.0 * tail);
                }
                if (!std::isnan(q)) {
                    row.fCILower = row.fEstimate - q * se;
                    row.fCIUpper = row.fEstimate + q * se;
                }
            }
        }
        r.fvParameters.push_back(std::move(row));
    }
    if (keep != nullptr) {
        keep->fpStats = &glm;
        keep->fpComponent = std::move(component);
    }
    return r;
}

}  // namespace mchost
