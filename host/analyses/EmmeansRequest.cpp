#include "host/analyses/EmmeansRequest.h"

#include <algorithm>
#include <optional>
#include <set>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/model/Formula.h"

namespace mchost {

namespace {

struct Named {
    const char* fText;
    int fValue;
};

const Named kAdjust[] = {{"none", MCConst::PADJ_LSD},
                         {"bonferroni", MCConst::PADJ_BONFERRONI},
                         {"sidak", MCConst::PADJ_SIDAK},
                         {"holm", MCConst::PADJ_SEQ_BONFERRONI},
                         {"stepdown-sidak", MCConst::PADJ_SEQ_SIDAK}};
const Named kContrast[] = {
    {"simple", MCConst::CONTRAST_SIMPLE},     {"deviation", MCConst::CONTRAST_DEVIATION},
    {"helmert", MCConst::CONTRAST_HELMERT},   {"difference", MCConst::CONTRAST_DIFFERENCE},
    {"repeated", MCConst::CONTRAST_REPEATED}, {"polynomial", MCConst::CONTRAST_POLYNOMIAL}};

template <std::size_t N>
int Lookup(const Named (&table)[N], const std::string& text, const std::string& option) {
    std::string names;
    for (const Named& n : table) {
        if (text == n.fText) return n.fValue;
        names += (names.empty() ? "" : ", ") + std::string(n.fText);
    }
    throw HostError(HostError::kUsage, option + " '" + text + "' is not known; it takes " + names);
}

[[noreturn]] void Usage(const std::string& message) {
    throw HostError(HostError::kUsage, message);
}

std::string List(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : ", ") + s;
    return out;
}

// A term's names group by group (the written product first, then each
// parenthesised group inward).
using Groups = std::vector<std::vector<std::string>>;

Groups ParseTerm(const std::string& text, const std::string& what) {
    Formula f;
    try {
        f = ParseFormula("y ~ " + text);
    } catch (const FormulaError& e) {
        Usage(what + " '" + text + "' is not a model term: " + e.what());
    }
    if (f.fvTerms.size() != 1 || f.fbInterceptAsked || f.fbInterceptRemoved)
        Usage(what + " '" + text + "' must be one term of the model, such as A or A*B");
    Groups g;
    for (const auto& group : f.fvTerms.front().fvGroups) {
        g.emplace_back();
        for (const FormulaName& n : group) g.back().push_back(n.fName);
    }
    return g;
}

// The same term: the same names in each group, in any order.
bool SameTerm(const Groups& a, const Groups& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::set<std::string>(a[i].begin(), a[i].end()) !=
                std::set<std::string>(b[i].begin(), b[i].end()) ||
            a[i].size() != b[i].size())
            return false;
    return true;
}

int PositionOf(const ModelSpec& spec, const std::string& name) {
    const std::vector<ModelVariable>& vars = spec.GetVariables();
    for (std::size_t p = 1; p < vars.size(); ++p)
        if (vars[p].fName == name &&
            (vars[p].fRole == ModelVariable::kFactor || vars[p].fRole == ModelVariable::kCovariate))
            return static_cast<int>(p);
    return -1;
}

std::vector<std::string> FactorTerms(const ModelSpec& spec) {
    std::vector<std::string> terms;
    for (const std::string& t : spec.GetEffectTexts()) {
        bool factors = true;
        for (const auto& group : ParseTerm(t, "term"))
            for (const std::string& n : group) {
                const int p = PositionOf(spec, n);
                factors = factors && p >= 0 &&
                          spec.GetVariables()[static_cast<std::size_t>(p)].fRole ==
                              ModelVariable::kFactor;
            }
        if (factors) terms.push_back(t);
    }
    return terms;
}

// A --compare name as it is written, or quoted with backticks as in a
// formula.
std::string CompareName(const std::string& text, const std::vector<std::string>& names) {
    if (std::find(names.begin(), names.end(), text) != names.end()) return text;
    try {
        const Formula f = ParseFormula("y ~ " + text);
        if (f.fvTerms.size() == 1 && f.fvTerms.front().fvGroups.size() == 1 &&
            f.fvTerms.front().fvGroups.front().size() == 1)
            return f.fvTerms.front().fvGroups.front().front().fName;
    } catch (const FormulaError&) {
    }
    return text;
}

template <class T>
const T* ForTerm(const std::vector<T>& perTerm, std::size_t index) {
    if (perTerm.empty()) return nullptr;
    return perTerm.size() == 1 ? &perTerm.front() : &perTerm[index];
}

std::optional<EmmeansRequest> Resolve(const ModelSpec& spec, const EmmeansOptions& o,
                                      std::size_t index, std::vector<std::string>* warnings) {
    const std::string& text = o.fvTerms[index];
    const Groups g = ParseTerm(text, "--emmeans");
    std::string model;
    for (const std::string& t : spec.GetEffectTexts())
        if (SameTerm(ParseTerm(t, "term"), g)) model = t;
    const std::vector<std::string> factorTerms = FactorTerms(spec);
    const std::string choices = factorTerms.empty()
                                    ? "the model has none"
                                    : "the model's factor terms are " + List(factorTerms);
    if (model.empty()) Usage("--emmeans '" + text + "' is not a term of the model; " + choices);
    if (std::find(factorTerms.begin(), factorTerms.end(), model) == factorTerms.end())
        Usage("--emmeans '" + text + "' is not a term of factors only (covariates are held at " +
              "their means); " + choices);

    EmmeansRequest r;
    r.fTerm = model;
    std::vector<std::string> names;
    for (const auto& group : g)
        for (const std::string& n : group) {
            names.push_back(n);
            r.fvFactors.push_back(PositionOf(spec, n));
        }
    // By default the last factor written; in a nested term B(C) the levels
    // of B are compared within each level of C, as those of C mean nothing
    // apart from B.
    const std::string* asked = ForTerm(o.fvCompare, index);
    if (asked != nullptr && *asked == "none" &&
        std::find(names.begin(), names.end(), *asked) == names.end()) {
        if (!o.fContrast.empty())
            Usage(
                "--contrast compares the levels of a factor, but --compare none asks for "
                "the means of '" +
                text + "' only");
        r.fbPairs = false;
        r.fAdjust = o.AdjustMethod();
        return r;
    }
    const std::string compare = asked != nullptr ? CompareName(*asked, names) : g.front().back();
    const auto at = std::find(names.begin(), names.end(), compare);
    if (at == names.end())
        Usage("--compare '" + *asked + "' is not a factor of the --emmeans term '" + text +
              "'; its factors are " + List(names));
    r.fCompare = r.fvFactors[static_cast<std::size_t>(at - names.begin())];
    const std::vector<std::string>& levels =
        spec.GetVariables()[static_cast<std::size_t>(r.fCompare)].fvCategories;
    if (levels.size() < 2 && asked != nullptr)
        Usage("--compare '" + compare + "' has only one level among the records used; there is " +
              "nothing to compare");
    if (levels.size() < 2) {
        if (warnings != nullptr)
            warnings->push_back("warning: --emmeans '" + text + "' is left out: its factor '" +
                                compare +
                                "' has only one level among the records used, so there is "
                                "nothing to compare");
        return std::nullopt;
    }

    r.fNPairs = static_cast<double>(levels.size()) * static_cast<double>(levels.size() - 1) / 2;
    for (int f : r.fvFactors)
        if (f != r.fCompare)
            r.fNPairs *= static_cast<double>(
                spec.GetVariables()[static_cast<std::size_t>(f)].fvCategories.size());
    if (asked == nullptr && r.fNPairs > kDefaultPairLimit) {
        r.fbPairs = false;
        if (warnings != nullptr)
            warnings->push_back("note: --emmeans '" + text + "' gives the means without the " +
                                "pairwise comparisons of '" + compare + "', which would be " +
                                Format("%.0f", r.fNPairs) + " pairs; --compare '" + compare +
                                "' asks for them");
    }
    r.fContrast = o.ContrastType();
    r.fAdjust = o.AdjustMethod();
    if (r.fContrast == MCConst::CONTRAST_SIMPLE) {
        const std::string& ref = o.fContrastReference;
        if (ref.empty() || ref == "last") {
            r.fReference = static_cast<int>(levels.size()) - 1;
        } else if (ref == "first") {
            r.fReference = 0;
        } else {
            r.fReference =
                FindCategory(spec.GetVariables()[static_cast<std::size_t>(r.fCompare)], ref);
            if (r.fReference < 0)
                Usage("--contrast-reference '" + ref + "' is not a level of '" + compare +
                      "'; its levels are " + List(levels));
        }
    }
    if (r.fContrast == MCConst::CONTRAST_POLYNOMIAL) {
        if (const std::vector<double>* metric = ForTerm(o.fvMetric, index)) r.fvMetric = *metric;
        if (r.fvMetric.empty())
            for (std::size_t k = 1; k <= levels.size(); ++k)
                r.fvMetric.push_back(static_cast<double>(k));
        if (r.fvMetric.size() != levels.size())
            Usage("--metric gives " + std::to_string(r.fvMetric.size()) + " values, but '" +
                  compare + "' has " + std::to_string(levels.size()) + " levels (" + List(levels) +
                  "); give one value per level");
    }
    return r;
}

}  // namespace

void EmmeansOptions::Check() const {
    AdjustMethod();
    ContrastType();
    if (fvTerms.empty()) {
        const char* orphan = !fvCompare.empty()            ? "--compare"
                             : fAdjust != "none"           ? "--adjust"
                             : !fContrast.empty()          ? "--contrast"
                             : !fContrastReference.empty() ? "--contrast-reference"
                             : !fvMetric.empty()           ? "--metric"
                                                           : nullptr;
        if (orphan != nullptr) Usage(std::string(orphan) + " needs --emmeans TERM");
        return;
    }
    if (fvCompare.size() > 1 && fvCompare.size() != fvTerms.size())
        Usage("--compare is given " + std::to_string(fvCompare.size()) + " times for " +
              std::to_string(fvTerms.size()) +
              " --emmeans terms; give it once for all terms or once per term");
    if (!fContrastReference.empty() && fContrast != "simple")
        Usage("--contrast-reference applies to --contrast simple");
    if (!fvMetric.empty() && fContrast != "polynomial")
        Usage("--metric applies to --contrast polynomial");
    if (fvMetric.size() > 1 && fvMetric.size() != fvTerms.size())
        Usage("--metric is given " + std::to_string(fvMetric.size()) + " times for " +
              std::to_string(fvTerms.size()) +
              " --emmeans terms; give it once for all terms or once per term");
    for (const std::vector<double>& metric : fvMetric)
        for (std::size_t k = 1; k < metric.size(); ++k)
            if (!(metric[k] > metric[k - 1]))
                Usage("--metric values must increase from level to level");
}

MCConst::MCPAdjustMethod EmmeansOptions::AdjustMethod() const {
    return static_cast<MCConst::MCPAdjustMethod>(Lookup(kAdjust, fAdjust, "--adjust"));
}

MCConst::MCContrastType EmmeansOptions::ContrastType() const {
    if (fContrast.empty()) return MCConst::CONTRAST_PAIRWISE;
    return static_cast<MCConst::MCContrastType>(Lookup(kContrast, fContrast, "--contrast"));
}

std::vector<EmmeansRequest> ResolveEmmeans(const ModelSpec& spec, const EmmeansOptions& options,
                                           std::vector<std::string>* warnings) {
    std::vector<EmmeansRequest> requests;
    for (std::size_t i = 0; i < options.fvTerms.size(); ++i) {
        std::optional<EmmeansRequest> r = Resolve(spec, options, i, warnings);
        if (!r) continue;
        // The same table asked for again is shown once.
        const bool again = std::any_of(requests.begin(), requests.end(), [&](const auto& q) {
            return q.fTerm == r->fTerm && q.fCompare == r->fCompare && q.fvMetric == r->fvMetric;
        });
        if (!again) requests.push_back(std::move(*r));
    }
    return requests;
}

}  // namespace mchost
