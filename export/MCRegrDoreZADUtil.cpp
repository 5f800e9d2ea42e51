#include "export/MCRegrDoreZADUtil.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <numeric>

#include "companion/MCDoreZADUtil.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"
#include "companion/XMLBuilding.h"
#include "export/MCDoreZADTags.h"
#include "export/MCPMMLTags.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;
using MCXML_850::MCDoreZADUtil;
using MCXML_850::MCVarList;
using MCXML_850::XMLElement;
namespace Tags = MCDoreZADTags;

namespace {

using namespace MCXML_850::Building;

void AddStat(XMLElement& e, const std::string& name, double value) {
    if (!MCMV::IsMissing(value)) e.AddAttribute(name, value);
}

std::string ParamName(int number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "P%07d", number);
    return buf;
}

std::string VarName(const MCVarList& vars, int pos) {
    const MCXML_850::MCVariable* v = vars.GetVarAt(pos);
    return v != nullptr ? v->GetName() : "V" + std::to_string(pos);
}

std::string CategoryText(const MCVarList& vars, int pos, int category) {
    const MCXML_850::MCVariable* v = vars.GetVarAt(pos);
    return v != nullptr ? v->GetCategoryText(category) : std::to_string(category);
}

// Both forms end with the effect size and its limits when there is one.
void AddEffectSize(XMLElement& e, const MCRegrParameterStats& s) {
    if (MCMV::IsMissing(s.fEffectSize)) return;
    Adopt(e, Checked(MCDoreZADUtil::CreateElemStatistic(Tags::XML_VAL_EFFECTSIZE, s.fEffectSize)));
    Adopt(e, Checked(MCDoreZADUtil::CreateElemStatistic(Tags::XML_VAL_LOWERCIEFFECTSIZE,
                                                        s.fEffectSizeCILower)));
    Adopt(e, Checked(MCDoreZADUtil::CreateElemStatistic(Tags::XML_VAL_UPPERCIEFFECTSIZE,
                                                        s.fEffectSizeCIUpper)));
}

ElemPtr DetailedStats(const MCRegrParameterStats& s, const std::string& name, bool redundant) {
    ElemPtr e = Checked(XMLElement::Create(Tags::XML_ELE_PARAMSTATS));
    e->AddAttribute(Tags::XML_ATT_PARAMNAME, name);
    AddStat(*e, Tags::XML_ATT_ESTIMATE, s.fEstimate);
    double expEstimate = MCMV::Missing();
    if (s.fbExpCI && !MCMV::IsMissing(s.fEstimate) && MCPower::Exponent(s.fEstimate, expEstimate))
        AddStat(*e, Tags::XML_ATT_EXPESTIMATE, expEstimate);
    AddStat(*e, Tags::XML_ATT_STDERROR, s.fStdError);
    AddStat(*e, Tags::XML_ATT_SIG, s.fSig);
    // The detailed form reports the Wald chi-square under the test name.
    AddStat(*e, Tags::XML_ATT_TTEST, s.fChiSquare);
    AddStat(*e, Tags::XML_ATT_ZTEST, s.fZTest);
    AddStat(*e, Tags::XML_ATT_CONFINTERVALLOWER, s.fCILower);
    AddStat(*e, Tags::XML_ATT_CONFINTERVALUPPER, s.fCIUpper);
    if (redundant) e->AddAttribute(Tags::XML_ATT_ISREDUNDANT, "true");
    AddStat(*e, Tags::XML_ATT_EXPCILOWER, s.fExpCILower);
    AddStat(*e, Tags::XML_ATT_EXPCIUPPER, s.fExpCIUpper);
    AddEffectSize(*e, s);
    return e;
}

ElemPtr CompactStats(const MCRegrParameterStats& s, int number, const std::string* label) {
    ElemPtr e = Checked(XMLElement::Create(Tags::XML_ELE_PARAMSTATS));
    e->AddAttribute(Tags::XML_ATT_PARAMNAME, ParamName(number));
    if (label != nullptr && !label->empty()) e->AddAttribute(Tags::XML_ATT_PARAMLABEL, *label);
    AddStat(*e, Tags::XML_ATT_ESTIMATE, s.fEstimate);
    AddStat(*e, Tags::XML_ATT_STDERROR, s.fStdError);
    AddStat(*e, Tags::XML_ATT_SIG, s.fSig);
    AddStat(*e, Tags::XML_ATT_TTEST, s.fTTest);
    AddStat(*e, Tags::XML_ATT_CHISQUARE, s.fChiSquare);
    AddStat(*e, MCPMMLTags::XML_ATT_DF, s.fDF);
    AddStat(*e, Tags::XML_ATT_CONFINTERVALLOWER, s.fCILower);
    AddStat(*e, Tags::XML_ATT_CONFINTERVALUPPER, s.fCIUpper);
    AddEffectSize(*e, s);
    return e;
}

template <class T>
void Permute(const std::vector<int>& order, std::vector<T>& v) {
    std::vector<T> out;
    out.reserve(v.size());
    for (int k : order) out.push_back(v[Ix(k)]);
    v.swap(out);
}

// The stable order of vars by their place in declared, undeclared last.
std::vector<int> DeclaredOrder(const std::vector<int>& declared, const std::vector<int>& vars) {
    std::vector<int> order(vars.size());
    std::iota(order.begin(), order.end(), 0);
    if (vars.size() < 2) return order;
    std::vector<std::size_t> place(vars.size());
    for (std::size_t i = 0; i < vars.size(); ++i)
        place[i] = static_cast<std::size_t>(std::find(declared.begin(), declared.end(), vars[i]) -
                                            declared.begin());
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return place[Ix(a)] < place[Ix(b)]; });
    return order;
}

void NestMarks(const std::vector<int>& levels, bool factorsInParens, std::vector<bool>& marks) {
    marks.assign(levels.size(), false);
    if (levels.empty()) return;
    const int top = *std::max_element(levels.begin(), levels.end());
    const int extra = factorsInParens ? 1 : 0;
    int previous = 0;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        const int depth = top - levels[k] + extra;
        marks[k] = k == 0 ? depth > 0 : depth != previous;
        previous = depth;
    }
}

// dependent >= 0 names a logit's parameter by its target category too:
// the parameters of every logit share their predictors, and only the
// target tells them apart (a model without an intercept has nothing else).
ElemPtr RegrParam(const std::vector<MCModelEffect>& effects, const MCRegrParameter& p,
                  const MCVarList& vars, std::string& label, int dependent = -1) {
    ElemPtr e = Checked(XMLElement::Create(Tags::XML_ELE_REGRESSIONPARAM));
    if (p.IsIntercept()) {
        e->AddAttribute(Tags::XML_ATT_ISINTERCEPT, "true");
        return e;
    }
    const int index = p.GetEffectIndex();
    if (index < 0 || index >= static_cast<int>(effects.size())) return e;
    const MCModelEffect& effect = effects[Ix(index)];

    std::vector<int> covs = p.GetCovariates();
    std::vector<int> mults = p.GetCovariateMultiplicities();
    std::vector<int> factors = p.GetFactors();
    std::vector<int> cats = p.GetCategories();
    std::vector<int> levels = p.GetFactorNestLevels();
    std::vector<int> order;
    if (!MCRegrDoreZADUtil::SortCovAndFactor(effect.GetVarsIndicesForTheEffectInSetting(), covs,
                                             mults, factors, order) ||
        !MCRegrDoreZADUtil::SortFactorCatAndNestLevel(order, cats, levels))
        throw std::bad_alloc();  // the parameter's own lists always agree in size
    std::vector<bool> marks;
    NestMarks(levels, effect.GetFactorsInParens(), marks);

    std::string text;
    for (std::size_t c = 0; c < covs.size(); ++c)
        for (int m = 0; m < mults[c]; ++m) text += VarName(vars, covs[c]) + "*";
    if (!text.empty()) text.pop_back();
    if (covs.empty() && factors.size() == 1) {
        text = VarName(vars, factors[0]) + "=" + CategoryText(vars, factors[0], cats[0]);
    } else {
        std::size_t open = 0;
        for (std::size_t k = 0; k < factors.size(); ++k) {
            if (marks[k]) {
                text += "(";
                ++open;
            } else if (!text.empty()) {
                text += "*";
            }
            text += "[" + VarName(vars, factors[k]) + "=" +
                    CategoryText(vars, factors[k], cats[k]) + "]";
        }
        text.append(open, ')');
    }

    const int target = dependent >= 0 ? p.GetTargetCategory() : -1;
    if (target >= 0) {
        const std::string name = VarName(vars, dependent);
        const std::string value = CategoryText(vars, dependent, target);
        Adopt(*e, Checked(MCDoreZADUtil::CreateElemFactor(name, value, false)));
        if (covs.empty() && factors.size() == 1) text = "[" + text + "]";
        text = "[" + name + "=" + value + "]*" + text;
    }
    for (std::size_t c = 0; c < covs.size(); ++c)
        Adopt(*e, Checked(MCDoreZADUtil::CreateElemCovariate(VarName(vars, covs[c]), mults[c])));
    for (std::size_t k = 0; k < factors.size(); ++k)
        Adopt(*e,
              Checked(MCDoreZADUtil::CreateElemFactor(
                  VarName(vars, factors[k]), CategoryText(vars, factors[k], cats[k]), marks[k])));
    label = std::move(text);
    return e;
}

ElemPtr RegrParamForTarget(int dependent, const MCRegrParameter& p, const MCVarList& vars,
                           std::string& label) {
    const int target = p.GetTargetCategory();
    if (p.GetEffectIndex() >= 0 || target < 0) return nullptr;
    ElemPtr e = Checked(XMLElement::Create(Tags::XML_ELE_REGRESSIONPARAM));
    const std::string name = VarName(vars, dependent);
    const std::string value = CategoryText(vars, dependent, target);
    Adopt(*e, Checked(MCDoreZADUtil::CreateElemFactor(name, value, false)));
    label = name + "=" + value;
    return e;
}

std::string CompactLabel(const std::vector<MCModelEffect>& effects, const MCRegrParameter& p,
                         const MCVarList& vars) {
    if (p.IsIntercept()) return "Intercept";
    const std::vector<int>& factors = p.GetFactors();
    const std::vector<int>& levels = p.GetFactorNestLevels();
    std::string factorPart;
    if (!factors.empty()) {
        const int top = *std::max_element(levels.begin(), levels.end());
        for (int level = top; level >= 0; --level) {
            if (level != top) factorPart += "(";
            bool first = true;
            for (std::size_t k = 0; k < factors.size(); ++k) {
                if (levels[k] != level) continue;
                if (!first) factorPart += " * ";
                first = false;
                factorPart += "[" + VarName(vars, factors[k]) + "=" +
                              CategoryText(vars, factors[k], p.GetCategories()[k]) + "]";
            }
        }
        factorPart.append(static_cast<std::size_t>(top), ')');
    }
    std::string covPart;
    const std::vector<int>& covs = p.GetCovariates();
    for (std::size_t c = 0; c < covs.size(); ++c)
        for (int m = 0; m < p.GetCovariateMultiplicities()[c]; ++m)
            covPart += (covPart.empty() ? "" : " * ") + VarName(vars, covs[c]);
    if (factorPart.empty()) return covPart;
    if (covPart.empty()) return factorPart;
    const int index = p.GetEffectIndex();
    const bool parens = index >= 0 && index < static_cast<int>(effects.size()) &&
                        effects[Ix(index)].GetFactorsInParens();
    return parens ? covPart + "(" + factorPart + ")" : factorPart + " * " + covPart;
}

void ParamLabels(const std::vector<MCRegrParameterStats>& stats,
                 const std::vector<MCModelEffect>& effects, const MCVarList& vars,
                 const std::vector<MCRegrParameter>& params, std::vector<std::string>& labels,
                 std::vector<MCRegrParameterStats>& kept) {
    for (const MCRegrParameterStats& s : stats) {
        if (s.fParamIndex == -1) continue;
        kept.push_back(s);
        const bool named = s.fParamIndex >= 0 && s.fParamIndex < static_cast<int>(params.size());
        labels.push_back(named ? CompactLabel(effects, params[Ix(s.fParamIndex)], vars)
                               : std::string());
    }
}

std::vector<ElemPtr> AllParamStats(const std::vector<MCRegrParameterStats>& stats,
                                   const MCRegSettings& settings, const MCVarList& vars,
                                   const std::vector<MCRegrParameter>& params, bool detailed,
                                   bool forTarget) {
    const std::vector<MCModelEffect>& effects = settings.GetModelEffects();
    std::vector<ElemPtr> out;
    if (!detailed) {
        std::vector<std::string> labels;
        std::vector<MCRegrParameterStats> kept;
        ParamLabels(stats, effects, vars, params, labels, kept);
        for (std::size_t k = 0; k < kept.size(); ++k)
            out.push_back(CompactStats(kept[k], static_cast<int>(k) + 1, &labels[k]));
        return out;
    }
    const std::size_t n = std::min(stats.size(), params.size());
    for (std::size_t i = 0; i < n; ++i) {
        const MCRegrParameterStats& s = stats[i];
        const MCRegrParameter& p = params[i];
        ElemPtr e = DetailedStats(s, ParamName(static_cast<int>(i) + 1), s.fbRedundant);
        std::string label;
        ElemPtr rp;
        if (p.GetEffectIndex() < 0) {
            rp = forTarget ? RegrParamForTarget(settings.GetDependent(), p, vars, label)
                           : RegrParam(effects, p, vars, label);
        } else {
            Adopt(*e, Checked(MCDoreZADUtil::CreateElemStatistic(
                          Tags::XML_VAL_FIXEDEFFECTINDEX, std::to_string(p.GetEffectIndex()))));
            rp = RegrParam(effects, p, vars, label, forTarget ? settings.GetDependent() : -1);
        }
        if (!label.empty()) e->AddAttribute(Tags::XML_ATT_PARAMLABEL, label);
        if (rp) Adopt(*e, std::move(rp));
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace

XMLElement* MCRegrDoreZADUtil::CreateParameterEstimates(
    const std::vector<MCRegrParameterStats>& stats, const MCRegSettings& settings,
    const MCVarList& vars, const std::vector<MCRegrParameter>& params, const std::string& attName,
    const std::string& attValue, XMLElement* extra, bool forTarget) {
    // An extra element that already belongs to a tree is not ours to take.
    ElemPtr first(extra != nullptr && extra->GetParent() == nullptr ? extra : nullptr);
    try {
        ElemPtr e = Checked(XMLElement::Create(Tags::XML_ELE_PARAMESTIMATES));
        e->AddAttribute(attName, attValue);
        if (first) Adopt(*e, std::move(first));
        for (ElemPtr& c : AllParamStats(stats, settings, vars, params, true, forTarget))
            Adopt(*e, std::move(c));
        return e.release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void MCRegrDoreZADUtil::AddAllElemParamStats(const std::vector<MCRegrParameterStats>& stats,
                                             const MCRegSettings& settings, const MCVarList& vars,
                                             const std::vector<MCRegrParameter>& params,
                                             XMLElement& parent, bool detailed, bool forTarget) {
    std::vector<XMLElement*> elems;
    CreateAllElemParamStats(stats, settings, vars, params, elems, detailed, forTarget);
    std::size_t taken = 0;
    while (taken < elems.size() && parent.AddChild(elems[taken])) ++taken;
    for (std::size_t i = taken; i < elems.size(); ++i) delete elems[i];
}

void MCRegrDoreZADUtil::CreateAllElemParamStats(const std::vector<MCRegrParameterStats>& stats,
                                                const MCRegSettings& settings,
                                                const MCVarList& vars,
                                                const std::vector<MCRegrParameter>& params,
                                                std::vector<XMLElement*>& elems, bool detailed,
                                                bool forTarget) {
    elems.clear();
    try {
        std::vector<ElemPtr> made =
            AllParamStats(stats, settings, vars, params, detailed, forTarget);
        elems.reserve(made.size());
        for (ElemPtr& e : made) elems.push_back(e.release());
    } catch (const std::exception&) {
        for (XMLElement* e : elems) delete e;
        elems.clear();
    }
}

XMLElement* MCRegrDoreZADUtil::CreateElemParamStats(const MCRegrParameterStats& stats,
                                                    const std::string& name, bool redundant) {
    try {
        return DetailedStats(stats, name, redundant).release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

XMLElement* MCRegrDoreZADUtil::CreateElemParamStats(const MCRegrParameterStats& stats, int number,
                                                    const std::string* label) {
    try {
        return CompactStats(stats, number, label).release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

XMLElement* MCRegrDoreZADUtil::CreateRegrParam(const std::vector<MCModelEffect>& effects,
                                               const MCRegrParameter& p, const MCVarList& vars,
                                               std::string& label) {
    label.clear();
    try {
        return RegrParam(effects, p, vars, label).release();
    } catch (const std::exception&) {
        label.clear();
        return nullptr;
    }
}

XMLElement* MCRegrDoreZADUtil::CreateRegrParamForTarget(int dependent, const MCRegrParameter& p,
                                                        const MCVarList& vars, std::string& label) {
    label.clear();
    try {
        return RegrParamForTarget(dependent, p, vars, label).release();
    } catch (const std::exception&) {
        label.clear();
        return nullptr;
    }
}

void MCRegrDoreZADUtil::GetParamLables(const std::vector<MCRegrParameterStats>& stats,
                                       const MCRegSettings& settings, const MCVarList& vars,
                                       const std::vector<MCRegrParameter>& params,
                                       std::vector<std::string>& labels,
                                       std::vector<MCRegrParameterStats>& kept) {
    labels.clear();
    kept.clear();
    try {
        ParamLabels(stats, settings.GetModelEffects(), vars, params, labels, kept);
    } catch (const std::exception&) {
        labels.clear();
        kept.clear();
    }
}

bool MCRegrDoreZADUtil::SortCovAndFactor(const std::vector<int>& declared,
                                         std::vector<int>& covariates, std::vector<int>& covMults,
                                         std::vector<int>& factors, std::vector<int>& factorOrder) {
    if (covMults.size() != covariates.size()) return false;
    try {
        const std::vector<int> covOrder = DeclaredOrder(declared, covariates);
        std::vector<int> order = DeclaredOrder(declared, factors);
        std::vector<int> c = covariates, m = covMults, f = factors;
        Permute(covOrder, c);
        Permute(covOrder, m);
        Permute(order, f);
        covariates.swap(c);
        covMults.swap(m);
        factors.swap(f);
        factorOrder.swap(order);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool MCRegrDoreZADUtil::SortFactorCatAndNestLevel(const std::vector<int>& factorOrder,
                                                  std::vector<int>& categories,
                                                  std::vector<int>& levels) {
    const std::size_t n = factorOrder.size();
    if (categories.size() != n || levels.size() != n) return false;
    for (int k : factorOrder)
        if (k < 0 || static_cast<std::size_t>(k) >= n) return false;
    try {
        std::vector<int> c = categories, l = levels;
        Permute(factorOrder, c);
        Permute(factorOrder, l);
        categories.swap(c);
        levels.swap(l);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void MCRegrDoreZADUtil::TransferNest(const std::vector<int>& levels, bool factorsInParens,
                                     std::vector<bool>& marks) {
    try {
        NestMarks(levels, factorsInParens, marks);
    } catch (const std::exception&) {
        marks.clear();
    }
}

}  // namespace MCMath_850
