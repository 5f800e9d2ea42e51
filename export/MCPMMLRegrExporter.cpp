#include "export/MCPMMLRegrExporter.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCPMMLExporter.h"
#include "companion/MCUniStats.h"
#include "companion/XMLBuilding.h"
#include "export/MCPMMLTags.h"
#include "export/MCRegrDoreZADUtil.h"
#include "settings/MCRegrParameterStats.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;
using MCXML_850::XMLElement;
namespace Tags = MCPMMLTags;

namespace {

using namespace MCXML_850::Building;

std::string ParamName(int number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "P%07d", number);
    return buf;
}

template <class F>
XMLElement* Guarded(F build) {
    try {
        return build().release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

MCPMMLRegrExporter::MCPMMLRegrExporter(const MCRegSettings& settings,
                                       const MCXML_850::MCVarList& vars,
                                       const std::vector<MCRegrParameter>& params,
                                       const std::vector<double>& estimates,
                                       const MCBitSet& estimated, const MCBitSet* effects)
    : fSettings(settings),
      fvEffects(settings.GetModelEffects()),
      fVars(vars),
      fvParams(params),
      fvEstimates(estimates),
      fEstimated(estimated) {
    try {
        fNEstimates = static_cast<int>(estimates.size());
        fModelType = settings.GetModelType();
        if (fModelType == 1 || fModelType == 2) {
            const MCXML_850::MCVariable* dep = vars.GetVarAt(settings.GetDependent());
            if (dep != nullptr) {
                fNCategories = dep->GetNCategories();
                fpDepValues = &dep->GetCategoryValues();
            }
        }
        fNPerCategory = fNEstimates;
        if (fModelType == 1 && fNCategories > 1)
            fNPerCategory = fNEstimates / (fNCategories - 1);
        else if (fModelType == 2 && fNCategories > 2) {
            fNThresholds = fNCategories - 2;
            fNPerCategory = fNEstimates - fNThresholds;
        }
        if (fNPerCategory < 0) fNPerCategory = 0;

        std::vector<MCModelEffect> chosen;
        for (std::size_t e = 0; e < fvEffects.size(); ++e)
            if (effects == nullptr || effects->IsIn(static_cast<int>(e)))
                chosen.push_back(fvEffects[e]);
        MCModelEffect::GetUsedVariables(chosen, fvActiveFactors, fvActiveCovariates);
        CreateParameters();
    } catch (const std::exception&) {
        // Out of memory: export nothing rather than a partial model.
        fbValid = false;
        fvActiveFactors.clear();
        fvActiveCovariates.clear();
        fvParamInfo.clear();
    }
}

std::string MCPMMLRegrExporter::VarName(int var) const {
    const MCXML_850::MCVariable* v = fVars.GetVarAt(var);
    return v != nullptr ? v->GetName() : "V" + std::to_string(var);
}

std::string MCPMMLRegrExporter::TargetText(int category) const {
    return fpDepValues != nullptr ? fpDepValues->GetText(category) : std::to_string(category);
}

void MCPMMLRegrExporter::CreateParameters() {
    const int t = fNThresholds;
    const int last = std::min(t + fNPerCategory, static_cast<int>(fvParams.size()));
    // The labels are the same texts the DoreZAD output shows.
    std::vector<MCRegrParameterStats> stats;
    for (int i = t; i < last; ++i) {
        MCRegrParameterStats s;
        s.fParamIndex = i;
        stats.push_back(s);
    }
    std::vector<std::string> labels;
    std::vector<MCRegrParameterStats> kept;
    MCRegrDoreZADUtil::GetParamLables(stats, fSettings, fVars, fvParams, labels, kept);
    if (labels.size() != stats.size()) throw std::bad_alloc();

    ParamAttribute threshold;
    threshold.fName = ParamName(1);
    threshold.fLabel = "Intercept";
    fvParamInfo.assign(static_cast<std::size_t>(t), threshold);
    for (int i = t; i < last; ++i) {
        const MCRegrParameter& p = fvParams[Ix(i)];
        ParamAttribute a;
        a.fName = ParamName(i + 1 - t);
        a.fLabel = labels[Ix(i - t)];
        for (int k = 0; k < p.GetNFactors(); ++k) {
            const int f = p.GetFactors()[Ix(k)];
            const MCXML_850::MCVariable* v = fVars.GetVarAt(f);
            const int cat = p.GetCategories()[Ix(k)];
            a.fvFactors.push_back(
                {VarName(f), v != nullptr ? v->GetCategoryText(cat) : std::to_string(cat)});
        }
        for (int k = 0; k < p.GetNCovariates(); ++k)
            a.fvCovariates.push_back(
                {VarName(p.GetCovariates()[Ix(k)]), p.GetCovariateMultiplicities()[Ix(k)]});
        fvParamInfo.push_back(std::move(a));
    }
}

const MCPMMLRegrExporter::ParamAttribute* MCPMMLRegrExporter::Param(int j) const {
    return j >= 0 && j < static_cast<int>(fvParamInfo.size()) ? &fvParamInfo[Ix(j)] : nullptr;
}

XMLElement* MCPMMLRegrExporter::ExportMiningField(int var, bool predicted,
                                                  double importance) const {
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_MININGFIELD);
        if (!MCMV::IsMissing(importance) && importance >= 0.0 && importance <= 1.0)
            e->AddAttribute(Tags::XML_ATT_IMPORTANCE, importance);
        e->AddAttribute(Tags::XML_ATT_NAME, VarName(var));
        if (predicted) e->AddAttribute(Tags::XML_ATT_MININGFIELDUSE, Tags::XML_VAL_MININGFIELDPRED);
        return e;
    });
}

XMLElement* MCPMMLRegrExporter::ExportMiningSchema(int extra1, int extra2,
                                                   const std::vector<double>* importance) const {
    // Without its variables (memory ran out making them) a schema would be
    // a wrong one.
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_MININGSCHEMA);
        const std::size_t nf = fvActiveFactors.size();
        const bool useImp =
            importance != nullptr && importance->size() == nf + fvActiveCovariates.size();
        auto field = [&](int var, bool predicted, double imp) {
            ElemPtr f(ExportMiningField(var, predicted, imp));
            if (!f) throw std::bad_alloc();
            Adopt(*e, std::move(f));
        };
        for (std::size_t k = 0; k < nf; ++k)
            field(fvActiveFactors[k], false, useImp ? (*importance)[k] : MCMV::Missing());
        for (std::size_t k = 0; k < fvActiveCovariates.size(); ++k)
            field(fvActiveCovariates[k], false, useImp ? (*importance)[nf + k] : MCMV::Missing());
        field(fSettings.GetDependent(), true, MCMV::Missing());
        if (extra2 != -1) field(extra2, false, MCMV::Missing());
        if (extra1 != -1) field(extra1, false, MCMV::Missing());
        return e;
    });
}

XMLElement* MCPMMLRegrExporter::ExportParameterList() const {
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_PARAMETERLIST);
        for (std::size_t j = static_cast<std::size_t>(fNThresholds); j < fvParamInfo.size(); ++j) {
            ElemPtr p = Make(Tags::XML_ELE_PARAMETER);
            p->AddAttribute(Tags::XML_ATT_NAME, fvParamInfo[j].fName);
            p->AddAttribute(Tags::XML_ATT_LABEL, fvParamInfo[j].fLabel);
            Adopt(*e, std::move(p));
        }
        return e;
    });
}

namespace {

ElemPtr PredictorList(const std::string& tag, const std::vector<std::string>& names) {
    ElemPtr e = Make(tag);
    for (const std::string& n : names) {
        ElemPtr p = Make(Tags::XML_ELE_PREDICTOR);
        p->AddAttribute(Tags::XML_ATT_NAME, n);
        Adopt(*e, std::move(p));
    }
    return e;
}

}  // namespace

XMLElement* MCPMMLRegrExporter::ExportFactorList() const {
    if (!fbValid || fvActiveFactors.empty()) return nullptr;
    return Guarded([&] {
        std::vector<std::string> names;
        for (int f : fvActiveFactors) names.push_back(VarName(f));
        return PredictorList(Tags::XML_ELE_FACTORLIST, names);
    });
}

XMLElement* MCPMMLRegrExporter::ExportCovariateList() const {
    if (!fbValid || fvActiveCovariates.empty()) return nullptr;
    return Guarded([&] {
        std::vector<std::string> names;
        for (int c : fvActiveCovariates) names.push_back(VarName(c));
        return PredictorList(Tags::XML_ELE_COVARIATELIST, names);
    });
}

XMLElement* MCPMMLRegrExporter::ExportPPMatrix() const {
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_PPMATRIX);
        for (std::size_t j = static_cast<std::size_t>(fNThresholds); j < fvParamInfo.size(); ++j) {
            const ParamAttribute& a = fvParamInfo[j];
            for (const FacAttr& f : a.fvFactors) {
                ElemPtr c = Make(Tags::XML_ELE_PPCELL);
                c->AddAttribute(Tags::XML_ATT_VALUE, f.fCategory);
                c->AddAttribute(Tags::XML_ATT_PREDICTORNAME, f.fName);
                c->AddAttribute(Tags::XML_ATT_PARAMETERNAME, a.fName);
                Adopt(*e, std::move(c));
            }
            for (const CovAttr& v : a.fvCovariates) {
                ElemPtr c = Make(Tags::XML_ELE_PPCELL);
                c->AddAttribute(Tags::XML_ATT_VALUE, static_cast<double>(v.fMult));
                c->AddAttribute(Tags::XML_ATT_PREDICTORNAME, v.fName);
                c->AddAttribute(Tags::XML_ATT_PARAMETERNAME, a.fName);
                Adopt(*e, std::move(c));
            }
        }
        return e;
    });
}

XMLElement* MCPMMLRegrExporter::ExportParamMatrix(bool single, int category) const {
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_PARAMMATRIX);
        for (int i = 0; i < fNEstimates; ++i) {
            ElemPtr c = Make(Tags::XML_ELE_PCELL);
            int j = i;
            if (single) {
                c->AddAttribute(Tags::XML_ATT_TARGETCATEGORY, TargetText(1 - category));
            } else if (fModelType == 1 && fNPerCategory > 0) {
                c->AddAttribute(Tags::XML_ATT_TARGETCATEGORY, TargetText(i / fNPerCategory));
                j = i % fNPerCategory;
            } else if (fModelType == 2 && i + 1 < fNCategories) {
                c->AddAttribute(Tags::XML_ATT_TARGETCATEGORY, TargetText(i));
            }
            const ParamAttribute* p = Param(j);
            if (p != nullptr) c->AddAttribute(Tags::XML_ATT_PARAMETERNAME, p->fName);
            c->AddAttribute(Tags::XML_ATT_BETA, fvEstimates[Ix(i)]);
            c->AddAttribute(Tags::XML_ATT_DF, fEstimated.IsIn(i) ? 1.0 : 0.0);
            Adopt(*e, std::move(c));
        }
        return e;
    });
}

ElemPtr MCPMMLRegrExporter::PCovMatrixHead(MCConst::MCCovbType type) const {
    ElemPtr e = Make(Tags::XML_ELE_PCOVMATRIX);
    e->AddAttribute(Tags::XML_ATT_TYPE,
                    type == MCConst::COVB_ROBUST ? Tags::XML_VAL_ROBUST : Tags::XML_VAL_MODEL);
    return e;
}

template <class Take>
bool MCPMMLRegrExporter::PCovCells(const MCSymMatrix& cov, bool single, int category,
                                   Take take) const {
    const int n = std::min(fNEstimates, cov.GetNRows());
    const std::string singleText = single ? TargetText(1 - category) : std::string();
    auto name = [&](int j) {
        const ParamAttribute* p = Param(j);
        return p != nullptr ? p->fName : ParamName(j + 1);
    };
    bool any = false;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            const double v = cov.GetElem(i, j);
            if (v == 0.0) continue;
            ElemPtr c = Make(Tags::XML_ELE_PCOVCELL);
            int pi = i, pj = j;
            if (single) {
                c->AddAttribute(Tags::XML_ATT_TROW, singleText);
                c->AddAttribute(Tags::XML_ATT_TCOL, singleText);
            } else if (fModelType == 1 && fNPerCategory > 0) {
                c->AddAttribute(Tags::XML_ATT_TROW, TargetText(i / fNPerCategory));
                c->AddAttribute(Tags::XML_ATT_TCOL, TargetText(j / fNPerCategory));
                pi = i % fNPerCategory;
                pj = j % fNPerCategory;
            } else if (fModelType == 2) {
                if (i <= fNCategories - 2) c->AddAttribute(Tags::XML_ATT_TROW, TargetText(i));
                if (j <= fNCategories - 2) c->AddAttribute(Tags::XML_ATT_TCOL, TargetText(j));
            }
            c->AddAttribute(Tags::XML_ATT_PROW, name(pi));
            c->AddAttribute(Tags::XML_ATT_PCOL, name(pj));
            c->AddAttribute(Tags::XML_ATT_VALUE, v);
            if (!take(std::move(c))) return false;
            any = true;
        }
    }
    if (any) return true;
    ElemPtr c = Make(Tags::XML_ELE_PCOVCELL);
    if (single) {
        c->AddAttribute(Tags::XML_ATT_TROW, singleText);
        c->AddAttribute(Tags::XML_ATT_TCOL, singleText);
    } else if (fModelType == 1 || fModelType == 2) {
        c->AddAttribute(Tags::XML_ATT_TROW, TargetText(0));
        c->AddAttribute(Tags::XML_ATT_TCOL, TargetText(0));
    }
    c->AddAttribute(Tags::XML_ATT_PROW, name(0));
    c->AddAttribute(Tags::XML_ATT_PCOL, name(0));
    c->AddAttribute(Tags::XML_ATT_VALUE, "0.0");
    return take(std::move(c));
}

XMLElement* MCPMMLRegrExporter::ExportPCovMatrix(const MCSymMatrix& cov, MCConst::MCCovbType type,
                                                 bool single, int category) const {
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = PCovMatrixHead(type);
        PCovCells(cov, single, category, [&](ElemPtr c) {
            Adopt(*e, std::move(c));
            return true;
        });
        return e;
    });
}

bool MCPMMLRegrExporter::WritePCovMatrix(MCXML_850::XMLWriter& writer, const MCSymMatrix& cov,
                                         MCConst::MCCovbType type, bool single, int category,
                                         MCCommon_850::MCQueryCancel* cancel) const {
    if (!fbValid) return false;
    try {
        std::size_t cells = 0;
        const auto write = [&](ElemPtr c) {
            if ((++cells & 4095) == 0 && cancel != nullptr && cancel->IsCancel()) return false;
            return writer.Element(*c);
        };
        return writer.Open(*PCovMatrixHead(type)) && PCovCells(cov, single, category, write) &&
               writer.Close();
    } catch (const std::exception&) {
        return false;
    }
}

XMLElement* MCPMMLRegrExporter::ExportModelStats(const std::vector<double>& covariateMeans,
                                                 double totalWeight,
                                                 const MCRegANOVA* anova) const {
    if (!fbValid) return nullptr;
    return Guarded([&] {
        ElemPtr e = Make(Tags::XML_ELE_MODELSTATS);
        if (anova != nullptr) {
            ElemPtr u = Make(Tags::XML_ELE_UNIVARIATESTATS);
            u->AddAttribute(Tags::XML_ATT_FIELD, VarName(fSettings.GetDependent()));
            ElemPtr a = Make(Tags::XML_ELE_MODELANOVA);
            ExportModelAnova(anova, a.get());
            if (a->GetNChildren() != 3) throw std::bad_alloc();
            Adopt(*u, std::move(a));
            Adopt(*e, std::move(u));
        }
        const std::vector<int>& declared = fSettings.GetCovariates();
        for (int c : fvActiveCovariates) {
            MCXML_850::MCUniStats::SummStats s;
            if (const MCXML_850::MCVariable* v = fVars.GetVarAt(c)) {
                if (const MCXML_850::MCContVar* cv = v->AsContinuous()) {
                    s.fMin = cv->GetMin();
                    s.fMax = cv->GetMax();
                }
            }
            for (std::size_t k = 0; k < declared.size(); ++k)
                if (declared[k] == c && k < covariateMeans.size()) s.fMean = covariateMeans[k];
            MCXML_850::MCUniStats uni(VarName(c), totalWeight, s, {}, {});
            XMLElement* made = nullptr;
            if (MCCommon_850::MCPMMLExporter::ExportUniStats(uni, made) && made != nullptr)
                Adopt(*e, ElemPtr(made));
        }
        return e;
    });
}

void MCPMMLRegrExporter::ExportModelAnova(const MCRegANOVA* anova, XMLElement* parent) const {
    if (anova == nullptr || parent == nullptr) return;
    try {
        ElemPtr model = Make(Tags::XML_ELE_MODELANOVAROW);
        ElemPtr error = Make(Tags::XML_ELE_MODELANOVAROW);
        ElemPtr total = Make(Tags::XML_ELE_MODELANOVAROW);
        model->AddAttribute(Tags::XML_ATT_TYPE, Tags::XML_VAL_ANOVAMODEL);
        ExportAttributeValue(model.get(), Tags::XML_ATT_SUMOFSQUARES, anova->fModelSS);
        ExportAttributeValue(model.get(), Tags::XML_ATT_DEGREEESOFREEDOM, anova->fModelDF);
        ExportAttributeValue(model.get(), Tags::XML_ATT_MEANSOFSQUARES, anova->fModelMS);
        ExportAttributeValue(model.get(), Tags::XML_ATT_FVALUE, anova->fF);
        ExportAttributeValue(model.get(), Tags::XML_ATT_PVALUE, anova->fSig, true);
        error->AddAttribute(Tags::XML_ATT_TYPE, Tags::XML_VAL_ANOVAERROR);
        ExportAttributeValue(error.get(), Tags::XML_ATT_SUMOFSQUARES, anova->fErrorSS);
        ExportAttributeValue(error.get(), Tags::XML_ATT_DEGREEESOFREEDOM, anova->fErrorDF);
        ExportAttributeValue(error.get(), Tags::XML_ATT_MEANSOFSQUARES, anova->fErrorMS);
        total->AddAttribute(Tags::XML_ATT_TYPE, Tags::XML_VAL_ANOVATOTAL);
        ExportAttributeValue(total.get(), Tags::XML_ATT_SUMOFSQUARES, anova->fTotalSS);
        ExportAttributeValue(total.get(), Tags::XML_ATT_DEGREEESOFREEDOM, anova->fTotalDF);
        // The rows are appended only once all three were made.
        if (!parent->AddChild(model.get())) return;
        model.release();
        if (parent->AddChild(error.get())) error.release();
        if (parent->AddChild(total.get())) total.release();
    } catch (const std::exception&) {
    }
}

void MCPMMLRegrExporter::ExportAttributeValue(XMLElement* e, const std::string& name,
                                              double value) {
    if (e != nullptr && !MCMV::IsMissing(value)) e->AddAttribute(name, value);
}

void MCPMMLRegrExporter::ExportAttributeValue(XMLElement* e, const std::string& name, double value,
                                              bool alt) {
    if (e != nullptr && !MCMV::IsMissing(value)) e->AddAttribute(name, value, alt);
}

}  // namespace MCMath_850
