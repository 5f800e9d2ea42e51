#include "host/report/PmmlDocument.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <ostream>

#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "export/MCPMMLRegrExporter.h"
#include "export/MCPMMLTags.h"
#include "glm/MCGLMOutputStats.h"
#include "host/base/HostError.h"
#include "host/fit/FitScorer.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCXML_850::XMLElement;
namespace Tags = MCPMMLTags;

namespace {

using Elem = std::unique_ptr<XMLElement>;

// The newest PMML the library's vocabulary has no constants for.
const char* const kVersion = "4.4";
const char* const kNamespace = "http://www.dmg.org/PMML-4_4";

Elem Make(const std::string& tag) {
    Elem e(XMLElement::Create(tag));
    if (!e) throw std::bad_alloc();
    return e;
}

// Takes ownership of what the library made; a missing element means memory
// ran out (the exporter makes every element this document asks for).
Elem Own(XMLElement* made) {
    if (made == nullptr) throw std::bad_alloc();
    return Elem(made);
}

void Append(XMLElement& parent, Elem child) {
    if (child && !parent.AddChild(std::move(child))) throw std::bad_alloc();
}

// The order in which the fit gives a tie of logits to a category (the
// larger weight, then more records, then the first). PMML has no word for
// it, so it goes in an Extension, which the program's scorer reads, so
// that a document scores its own data as the fit did.
Elem TiePrecedence(const FittedModel& m) {
    const PmmlModel scoring = MakeScoringCategories(m).fModel;
    std::vector<const std::string*> ordered(scoring.fvCategories.size());
    for (std::size_t k = 0; k < ordered.size(); ++k)
        ordered[scoring.fvTiePrecedence[k]] = &scoring.fvCategories[k];
    Elem e = Make("Extension");
    e->AddAttribute("extender", "mcreg");
    e->AddAttribute("name", kTiePrecedence);
    for (const std::string* c : ordered) {
        Elem v = Make("Value");
        v->AddAttribute("value", *c);
        Append(*e, std::move(v));
    }
    return e;
}

// How each parameter the fit left aliased follows from the kept ones over
// the fit's data. PMML has no word for it either; the program's scorer
// leaves a record empty whose score the data do not determine (a
// combination of categories or a covariate's value that breaks the
// relation), rather than give it whatever the choice of kept parameters
// made of it. parameters: the ParameterList, for the names.
Elem AliasedColumnsExtension(const FittedModel& m, const XMLElement& parameters) {
    std::vector<AliasedColumn> aliased;
    if (!AliasedColumns(m, aliased)) return nullptr;
    const auto name = [&](std::size_t k) -> std::string {
        const XMLElement* p = k < static_cast<std::size_t>(parameters.GetNChildren())
                                  ? parameters.GetChild(static_cast<int>(k))
                                  : nullptr;
        const std::string* n = p != nullptr ? p->FindAttribute(Tags::XML_ATT_NAME) : nullptr;
        if (n == nullptr) throw std::bad_alloc();
        return *n;
    };
    Elem e = Make("Extension");
    e->AddAttribute("extender", "mcreg");
    e->AddAttribute("name", kAliasedColumns);
    for (const AliasedColumn& a : aliased) {
        Elem column = Make("Aliased");
        column->AddAttribute("parameter", name(a.fParameter));
        for (const auto& [k, b] : a.fvKept) {
            Elem kept = Make("Kept");
            kept->AddAttribute("parameter", name(k));
            kept->AddAttribute("coefficient", b);
            Append(*column, std::move(kept));
        }
        Append(*e, std::move(column));
    }
    return e;
}

const ModelVariable& Var(const FittedModel& m, int position) {
    return m.fpSpec->GetVariables()[static_cast<std::size_t>(position)];
}

// The variables by record position, as the exporter reads them: names,
// categories and the covariates' ranges. A multinomial model's dependent
// lists its categories in the model's order (the reference last), since
// the exporter names the target category of logit k by category k.
MCXML_850::MCVarList VarList(const FittedModel& m, const UsedData& used) {
    MCXML_850::MCVarList vars;
    const std::vector<int>& covariates = m.fpSettings->GetCovariates();
    const std::vector<ModelVariable>& all = m.fpSpec->GetVariables();
    for (std::size_t p = 0; p < all.size(); ++p) {
        const ModelVariable& v = all[p];
        if (p == 0 && m.fbLogistic) {
            std::vector<std::string> ordered;
            for (int code : m.fvModelCategories)
                ordered.push_back(v.fvCategories[static_cast<std::size_t>(code)]);
            vars.AddCategoricalVar(v.fName, ordered);
        } else if (v.fRole == ModelVariable::kFactor) {
            vars.AddCategoricalVar(v.fName, v.fvCategories);
        } else {
            double lo = 0.0, hi = 0.0;
            for (std::size_t c = 0; c < covariates.size(); ++c)
                if (covariates[c] == static_cast<int>(p)) {
                    lo = used.fvMin[c];
                    hi = used.fvMax[c];
                }
            vars.AddContinuousVar(v.fName, lo, hi);
        }
    }
    return vars;
}

Elem Header(const FittedModel& m, const std::string& application) {
    Elem header = Make(Tags::XML_ELE_HEADER);
    header->AddAttribute(
        Tags::XML_ATT_DESCRIPTION,
        std::string(m.fbLogistic ? "Multinomial logistic regression: " : "General linear model: ") +
            m.fpSpec->GetFormulaText());
    Elem app = Make(Tags::XML_ELE_APPLICATION);
    const std::size_t blank = application.find(' ');
    app->AddAttribute(Tags::XML_ATT_NAME, application.substr(0, blank));
    if (blank != std::string::npos)
        app->AddAttribute(Tags::XML_ATT_VERSION, application.substr(blank + 1));
    Append(*header, std::move(app));
    return header;
}

Elem DataDictionary(const FittedModel& m) {
    Elem dict = Make(Tags::XML_ELE_DATADICTIONARY);
    // A cluster column shapes the covariance, not a score: a scorer needs
    // no field of it, and one that is also a factor of the model would be
    // named twice, the second time as a number.
    std::vector<const ModelVariable*> fields;
    for (const ModelVariable& v : m.fpSpec->GetVariables())
        if (v.fRole != ModelVariable::kCluster) fields.push_back(&v);
    dict->AddAttribute(Tags::XML_ATT_NUMBEROFFIELDS, static_cast<double>(fields.size()));
    for (const ModelVariable* variable : fields) {
        const ModelVariable& v = *variable;
        Elem field = Make(Tags::XML_ELE_DATAFIELD);
        field->AddAttribute(Tags::XML_ATT_NAME, v.fName);
        const bool categorical = !v.fvCategories.empty() || v.fRole == ModelVariable::kFactor;
        field->AddAttribute(Tags::XML_ATT_OPTYPE,
                            categorical ? Tags::XML_VAL_CATEGORICAL : Tags::XML_VAL_CONTINUOUS);
        field->AddAttribute(Tags::XML_ATT_DATATYPE, categorical && !v.fbNumericCategories
                                                        ? Tags::XML_VAL_STRING
                                                        : std::string("double"));
        for (const std::string& c : v.fvCategories) {
            Elem value = Make(Tags::XML_ELE_VALUE);
            value->AddAttribute(Tags::XML_ATT_VALUE, c);
            Append(*field, std::move(value));
        }
        Append(*dict, std::move(field));
    }
    return dict;
}

// The exporter's fields, then the weights with their PMML uses.
Elem MiningSchema(const FittedModel& m, const MCMath_850::MCPMMLRegrExporter& exporter) {
    Elem schema = Own(exporter.ExportMiningSchema(-1, -1, nullptr));
    const std::pair<int, const char*> weights[] = {
        {m.fpSettings->GetFrequencyWeightVar(), "frequencyWeight"},
        {m.fpSettings->GetRegrWeightVar(), "analysisWeight"}};
    for (const auto& [position, use] : weights) {
        if (position < 0) continue;
        Elem field = Make(Tags::XML_ELE_MININGFIELD);
        field->AddAttribute(Tags::XML_ATT_NAME, Var(m, position).fName);
        field->AddAttribute(Tags::XML_ATT_MININGFIELDUSE, use);
        Append(*schema, std::move(field));
    }
    return schema;
}

double Lib(double v) {
    return std::isnan(v) ? MCMV::Missing() : v;
}

// The analysis of variance of a general linear model: the model about the
// mean (about zero without an intercept), the error and the total.
MCMath_850::MCRegANOVA Anova(const FittedModel& m, const MCMath_850::MCGLMOutputStats& glm,
                             const UsedData& used) {
    const bool intercept = m.fpSettings->GetInterceptUse();
    MCMath_850::MCRegANOVA a;
    const double W = glm.GetTotalFreqWeight();
    const double rmse = glm.GetModelFitStat(MCConst::FIT_RMSE);
    const double errorDF = glm.GetErrorDF();
    a.fErrorSS = MCMV::IsMissing(rmse) ? MCMV::Missing() : rmse * rmse * W;
    a.fErrorDF = errorDF;
    a.fErrorMS = glm.GetErrorMeanSquare();
    a.fTotalSS = intercept ? used.fCorrectedSS : used.fRawSS;
    a.fTotalDF = intercept ? W - 1.0 : W;
    a.fModelDF = glm.GetRank() - (intercept ? 1 : 0);
    if (!MCMV::IsMissing(a.fErrorSS)) a.fModelSS = std::max(0.0, a.fTotalSS - a.fErrorSS);
    if (a.fModelDF > 0 && !MCMV::IsMissing(a.fModelSS)) a.fModelMS = a.fModelSS / a.fModelDF;
    if (!MCMV::IsMissing(a.fModelMS) && !MCMV::IsMissing(a.fErrorMS) && a.fErrorMS > 0.0) {
        a.fF = a.fModelMS / a.fErrorMS;
        a.fSig = Lib(MCMath_850::MCDistFun::SigF(a.fF, a.fModelDF, errorDF));
    }
    return a;
}

// Whether the document holds the covariance; the warning when it leaves
// it out for its size.
bool WithCovariance(const MCMath_850::MCSymMatrix& cov, PmmlCovariance policy,
                    std::vector<std::string>& warnings) {
    if (policy != PmmlCovariance::kAuto) return policy == PmmlCovariance::kAlways;
    const int p = cov.GetNRows();
    if (p <= kPmmlCovarianceLimit) return true;
    warnings.push_back(
        "warning: the PMML document leaves out the covariance matrix of the "
        "estimates (PCovMatrix), so a scorer cannot compute standard errors: the "
        "model has " +
        std::to_string(p) + " parameters, more than " + std::to_string(kPmmlCovarianceLimit) +
        "; --pmml-covariance always writes it");
    return false;
}

}  // namespace

std::vector<std::string> WritePmmlDocument(std::ostream& out, const FittedModel& m,
                                           const UsedData& used, const PmmlOptions& options) {
    std::vector<std::string> warnings;
    const MCXML_850::MCVarList vars = VarList(m, used);
    const MCMath_850::IMCRegOutputStats& stats = *m.fpStats;
    const MCMath_850::MCPMMLRegrExporter exporter(*m.fpSettings, vars, stats.GetParameters(),
                                                  stats.GetParamEstimates(),
                                                  stats.GetRedundancyIndicators(), nullptr);

    // Every part is written as soon as it is made, so that the largest, the
    // covariance with a cell per pair of parameters, is never held whole.
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    MCXML_850::XMLWriter writer(out, true);
    // A stream that failed is its owner's to report; anything else is memory.
    const auto check = [&](bool written) {
        if (!written && !out.fail()) throw std::bad_alloc();
    };
    const auto element = [&](const Elem& e) {
        if (e) check(writer.Element(*e));
    };
    Elem root = Make(Tags::XML_ELE_PMML);
    root->AddAttribute(Tags::XML_ATT_XMLNS, kNamespace);
    root->AddAttribute(Tags::XML_ATT_VERSION, kVersion);
    check(writer.Open(*root));
    element(Header(m, options.fApplication));
    element(DataDictionary(m));

    Elem model = Make(Tags::XML_ELE_GENERALREGRESSIONMODEL);
    model->AddAttribute("targetVariableName", Var(m, 0).fName);
    model->AddAttribute(Tags::XML_ATT_MODELTYPE, m.fbLogistic ? Tags::XML_VAL_MULTINOMIALLOGISTIC
                                                              : Tags::XML_VAL_GENERALLINEAR);
    model->AddAttribute(Tags::XML_ATT_FUNCTIONNAME,
                        m.fbLogistic ? Tags::XML_VAL_CLASSIFICATION : Tags::XML_VAL_REGRESSION);
    model->AddAttribute(Tags::XML_ATT_MODELNAME, m.fpSpec->GetFormulaText());
    model->AddAttribute(Tags::XML_ATT_ALGORITHMNAME,
                        m.fbLogistic ? "maximum likelihood (Fisher scoring)" : "least squares");
    if (m.fbLogistic)
        model->AddAttribute(
            Tags::XML_ATT_TARGETREFERENCECATEGORY,
            Var(m, 0).fvCategories[static_cast<std::size_t>(m.fvModelCategories.back())]);
    check(writer.Open(*model));
    if (m.fbLogistic) element(TiePrecedence(m));
    const Elem parameters = Own(exporter.ExportParameterList());
    element(AliasedColumnsExtension(m, *parameters));
    element(MiningSchema(m, exporter));

    const auto* glm = dynamic_cast<const MCMath_850::MCGLMOutputStats*>(&stats);
    MCMath_850::MCRegANOVA anova;
    if (glm != nullptr) anova = Anova(m, *glm, used);
    element(Own(exporter.ExportModelStats(used.fvMean, stats.GetTotalFreqWeight(),
                                          glm != nullptr ? &anova : nullptr)));
    element(parameters);
    element(Elem(exporter.ExportFactorList()));
    element(Elem(exporter.ExportCovariateList()));
    element(Own(exporter.ExportPPMatrix()));
    // Without error degrees of freedom the covariance is not known.
    const MCMath_850::MCSymMatrix& cov = *stats.GetCovarianceMatrix();
    const bool withCovariance = (glm == nullptr || glm->GetErrorDF() > 0.0) &&
                                WithCovariance(cov, options.fCovariance, warnings);
    if (withCovariance && !exporter.WritePCovMatrix(writer, cov, m.fpSettings->GetCovbType(), false,
                                                    0, options.fpCancel)) {
        if (options.fpCancel != nullptr && options.fpCancel->IsCancel())
            throw HostError(HostError::kInterrupted, "interrupted");
        check(false);
    }
    element(Own(exporter.ExportParamMatrix(false, 0)));
    check(writer.Finish());
    out << "\n";
    return warnings;
}

}  // namespace mchost
