#include "host/report/MarginalsReport.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/report/ReportFormat.h"

namespace mchost {

namespace {

using json = nlohmann::ordered_json;

std::string AdjustWords(const std::string& adjust) {
    if (adjust == "bonferroni") return "Bonferroni";
    if (adjust == "sidak") return "Sidak";
    if (adjust == "holm") return "Holm";
    if (adjust == "stepdown-sidak") return "step-down Sidak";
    return "no adjustment";
}

std::string Join(const std::vector<std::string>& items, const std::string& sep) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? sep : "") + items[i];
    return out;
}

// The factors held fixed in pairs and contrasts: the term's factors but the
// compared one.
std::vector<std::string> FixedNames(const EmmeansResult& r) {
    std::vector<std::string> names;
    for (const std::string& f : r.fvFactors)
        if (f != r.fCompare) names.push_back(f);
    return names;
}

std::vector<std::string> FixedCells(const FixedLevels& fixed) {
    std::vector<std::string> cells;
    for (const auto& f : fixed) cells.push_back(f.second);
    return cells;
}

std::string ScaleTitle(const EmmeansScale& s, const std::string& dep) {
    if (s.fScale == "logit") return "Estimated marginal logits of " + dep + "=" + s.fCategory;
    if (s.fScale == "probability")
        return "Estimated marginal probabilities of " + dep + "=" + s.fCategory;
    return "Estimated marginal means";
}

std::string ContrastTitle(const EmmeansResult& r) {
    std::string t = r.fContrast;
    t[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    t += " contrast of " + r.fCompare;
    if (r.fContrast == "simple") t += " (reference " + r.fReference + ")";
    if (r.fContrast == "polynomial") {
        std::vector<std::string> m;
        for (double v : r.fvMetric) m.push_back(Format("%g", v));
        t += " (metric " + Join(m, ", ") + ")";
    }
    return t;
}

std::string ScaleText(const EmmeansResult& r, const EmmeansScale& s, double confidence,
                      const std::string& dep) {
    const std::string level = PercentText(confidence) + "%";
    const bool chi = r.fbChiSquare;
    std::string out = "\n" + ScaleTitle(s, dep) + ": " + r.fTerm + "\n";
    if (!r.fvCovariatesAt.empty()) {
        std::vector<std::string> at;
        for (const auto& [name, value] : r.fvCovariatesAt)
            at.push_back(name + " = " + Number(value));
        out += "Covariates at their means: " + Join(at, ", ") + "\n";
    }
    TextTable means;
    std::vector<std::string> head = r.fvFactors;
    for (const char* h : {"Mean", "Std. error"}) head.push_back(h);
    if (!chi) head.push_back("df");
    head.push_back(level + " lower");
    head.push_back(level + " upper");
    means.SetTextColumns(r.fvFactors.size());
    means.Add(head);
    means.Rule();
    for (const EmmeansCell& c : s.fvCells) {
        std::vector<std::string> row = c.fvLevels;
        row.push_back(Number(c.fMean));
        row.push_back(Number(c.fStdError));
        if (!chi) row.push_back(Count(c.fDF));
        row.push_back(Number(c.fLower));
        row.push_back(Number(c.fUpper));
        means.Add(row);
    }
    means.Rule();
    out += "\n" + means.Render("  ");
    if (!r.fIncompleteTerm.empty())
        out += "  The model's term " + r.fIncompleteTerm +
               " has empty cells: each mean averages the cells observed in it, with equal "
               "weights,\n  so two means may average different numbers of cells.\n";
    if (r.fbNotEstimable)
        out +=
            "  Empty: not estimable, the data do not determine it (a term aliased with one "
            "that does\n  not contain it, such as a factor that another factor determines).\n";
    if (r.fCompare.empty()) return out;

    const std::vector<std::string> fixed = FixedNames(r);
    const std::string within = fixed.empty() ? "" : " within " + Join(fixed, "*");
    const std::string stat = chi ? "Wald" : "t";
    TextTable pairs;
    head = fixed;
    for (const std::string& h : {r.fCompare + " (I)", r.fCompare + " (J)",
                                 std::string("Difference (I-J)"), std::string("Std. error")})
        head.push_back(h);
    if (!chi) head.push_back("df");
    for (const std::string& h : {stat, std::string("Sig."), level + " lower", level + " upper"})
        head.push_back(h);
    pairs.SetTextColumns(fixed.size() + 2);
    pairs.Add(head);
    pairs.Rule();
    for (const EmmeansPair& p : s.fvPairs) {
        std::vector<std::string> row = FixedCells(p.fvFixed);
        for (const std::string& c : {p.fA, p.fB, Number(p.fEstimate), Number(p.fStdError)})
            row.push_back(c);
        if (!chi) row.push_back(Count(p.fDF));
        for (const std::string& c :
             {Number(p.fStat), PValue(p.fP), Number(p.fLower), Number(p.fUpper)})
            row.push_back(c);
        pairs.Add(row);
    }
    pairs.Rule();
    if (!r.fbPairs) {
        out += "\nPairwise comparisons of " + r.fCompare + within +
               " left out: " + Format("%.0f", r.fNPairs) + " pairs; --compare " + r.fCompare +
               " asks for them.\n";
    } else {
        out += "\nPairwise comparisons of " + r.fCompare + within + " (" + AdjustWords(r.fAdjust) +
               ")\n\n" + pairs.Render("  ");
        if (r.fAdjust == "holm" || r.fAdjust == "stepdown-sidak")
            out += "  A step-down adjustment has no simultaneous confidence intervals.\n";
    }

    if (r.fContrast.empty()) return out;
    TextTable rows, overall;
    head = fixed;
    for (const char* h : {"Contrast", "Estimate", "Std. error"}) head.push_back(h);
    if (!chi) head.push_back("df");
    for (const std::string& h : {stat, std::string("Sig."), std::string("Adj. sig.")})
        head.push_back(h);
    rows.SetTextColumns(fixed.size() + 1);
    rows.Add(head);
    rows.Rule();
    head = fixed;
    if (chi) {
        for (const char* h : {"Wald chi-square", "df", "Sig."}) head.push_back(h);
    } else {
        for (const char* h : {"F", "df1", "df2", "Sig."}) head.push_back(h);
    }
    overall.SetTextColumns(fixed.size());
    overall.Add(head);
    overall.Rule();
    for (const ContrastTest& t : s.fvTests) {
        for (const ContrastRow& c : t.fvRows) {
            std::vector<std::string> row = FixedCells(t.fvFixed);
            for (const std::string& v : {c.fName, Number(c.fEstimate), Number(c.fStdError)})
                row.push_back(v);
            if (!chi) row.push_back(Count(c.fDF));
            for (const std::string& v : {Number(c.fStat), PValue(c.fP), PValue(c.fPAdjusted)})
                row.push_back(v);
            rows.Add(row);
        }
        std::vector<std::string> row = FixedCells(t.fvFixed);
        row.push_back(Number(t.fStat));
        row.push_back(Count(t.fDF1));
        if (!chi) row.push_back(Count(t.fDF2));
        row.push_back(PValue(t.fP));
        overall.Add(row);
    }
    rows.Rule();
    overall.Rule();
    out += "\n" + ContrastTitle(r) + within + " (" + AdjustWords(r.fAdjust) + ")\n\n" +
           rows.Render("  ") + "\nTest of the contrast" + within + "\n\n" + overall.Render("  ");
    return out;
}

json Levels(const std::vector<std::string>& factors, const std::vector<std::string>& levels) {
    json o = json::object();
    for (std::size_t i = 0; i < factors.size() && i < levels.size(); ++i) o[factors[i]] = levels[i];
    return o;
}

json Fixed(const FixedLevels& fixed) {
    json o = json::object();
    for (const auto& [name, level] : fixed) o[name] = level;
    return o;
}

json Coefficients(const std::vector<double>& c) {
    json a = json::array();
    for (double v : c) a.push_back(JsonNumber(v));
    return a;
}

// The means, pairs and contrast of one scale, under the given keys.
void ScaleJson(const EmmeansResult& r, const EmmeansScale& s, json& o) {
    const bool chi = r.fbChiSquare;
    const char* stat = chi ? "chi_square" : "t";
    json means = json::array();
    for (const EmmeansCell& c : s.fvCells) {
        json m;
        m["levels"] = Levels(r.fvFactors, c.fvLevels);
        m["mean"] = JsonNumber(c.fMean);
        m["se"] = JsonNumber(c.fStdError);
        if (!chi) m["df"] = JsonCount(c.fDF);
        m["lower"] = JsonNumber(c.fLower);
        m["upper"] = JsonNumber(c.fUpper);
        means.push_back(std::move(m));
    }
    o["means"] = std::move(means);
    json pairs = json::array();
    for (const EmmeansPair& p : s.fvPairs) {
        json q;
        q["levels_fixed"] = Fixed(p.fvFixed);
        q["a"] = p.fA;
        q["b"] = p.fB;
        q["estimate"] = JsonNumber(p.fEstimate);
        q["se"] = JsonNumber(p.fStdError);
        if (!chi) q["df"] = JsonCount(p.fDF);
        q[stat] = JsonNumber(p.fStat);
        q["p"] = JsonNumber(p.fP);
        q["lower"] = JsonNumber(p.fLower);
        q["upper"] = JsonNumber(p.fUpper);
        pairs.push_back(std::move(q));
    }
    if (r.fbPairs)
        o["pairwise"] = std::move(pairs);
    else
        o["pairwise"] = nullptr;
    if (r.fContrast.empty()) {
        o["contrast"] = nullptr;
        return;
    }
    json contrast;
    contrast["type"] = r.fContrast;
    json coefficients = json::array();
    for (const std::vector<double>& row : r.fvContrastCoefficients)
        coefficients.push_back(Coefficients(row));
    contrast["coefficients"] = std::move(coefficients);
    json tests = json::array();
    for (const ContrastTest& t : s.fvTests) {
        json test;
        test["levels_fixed"] = Fixed(t.fvFixed);
        json rows = json::array();
        for (const ContrastRow& c : t.fvRows) {
            json row;
            row["name"] = c.fName;
            row["coefficients"] = Coefficients(c.fvCoefficients);
            row["estimate"] = JsonNumber(c.fEstimate);
            row["se"] = JsonNumber(c.fStdError);
            if (!chi) row["df"] = JsonCount(c.fDF);
            row[stat] = JsonNumber(c.fStat);
            row["p"] = JsonNumber(c.fP);
            row["p_adjusted"] = JsonNumber(c.fPAdjusted);
            rows.push_back(std::move(row));
        }
        test["rows"] = std::move(rows);
        if (chi)
            test["overall"] = {{"chi_square", JsonNumber(t.fStat)},
                               {"df", JsonCount(t.fDF1)},
                               {"p", JsonNumber(t.fP)}};
        else
            test["overall"] = {{"F", JsonNumber(t.fStat)},
                               {"df1", JsonCount(t.fDF1)},
                               {"df2", JsonCount(t.fDF2)},
                               {"p", JsonNumber(t.fP)}};
        tests.push_back(std::move(test));
    }
    contrast["tests"] = std::move(tests);
    o["contrast"] = std::move(contrast);
}

}  // namespace

std::string FormatMarginalsText(const std::vector<EmmeansResult>& results, double confidence,
                                const std::string& dependent) {
    std::string out;
    for (const EmmeansResult& r : results)
        for (const EmmeansScale& s : r.fvScales) out += ScaleText(r, s, confidence, dependent);
    return out;
}

json MarginalsJson(const std::vector<EmmeansResult>& results) {
    json all = json::array();
    for (const EmmeansResult& r : results) {
        json o;
        o["term"] = r.fTerm;
        if (r.fCompare.empty())
            o["compare"] = nullptr;
        else
            o["compare"] = r.fCompare;
        o["adjust"] = r.fAdjust;
        json at = json::object();
        for (const auto& [name, value] : r.fvCovariatesAt) at[name] = JsonNumber(value);
        o["covariates_at"] = std::move(at);
        if (!r.fIncompleteTerm.empty()) o["incomplete_term"] = r.fIncompleteTerm;
        if (r.fbNotEstimable) o["not_estimable"] = true;
        if (r.fbImprecise) o["imprecise"] = true;
        if (!r.fbChiSquare) {
            if (!r.fvScales.empty()) ScaleJson(r, r.fvScales.front(), o);
        } else {
            json logits = json::array();
            json probabilities = nullptr;
            for (const EmmeansScale& s : r.fvScales) {
                json one;
                one["category"] = s.fCategory;
                ScaleJson(r, s, one);
                if (s.fScale == "probability")
                    probabilities = std::move(one);
                else
                    logits.push_back(std::move(one));
            }
            o["logits"] = std::move(logits);
            o["probabilities"] = std::move(probabilities);
        }
        all.push_back(std::move(o));
    }
    return all;
}

}  // namespace mchost
