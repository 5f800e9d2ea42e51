#include "host/GlmReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

namespace mchost {

namespace {

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string Number(double v) {
    return std::isnan(v) ? "" : Format("%.6g", v);
}

std::string PValue(double p) {
    if (std::isnan(p)) return "";
    if (p >= 0.001) return Format("%.4f", p);
    if (p == 0.0) return "<1e-300";
    return Format("%.2e", p);
}

// Columns of text two blanks apart: the first left-aligned, the others
// right-aligned for numbers or left-aligned for label/value lists.
class TextTable {
public:
    explicit TextTable(bool rightAlign = true) : fbRightAlign(rightAlign) {}
    void Add(std::vector<std::string> row) { fvRows.push_back(std::move(row)); }
    void Rule() { fvRules.push_back(fvRows.size()); }

    std::string Render(const std::string& indent) const {
        std::vector<std::size_t> width;
        for (const auto& row : fvRows) {
            width.resize(std::max(width.size(), row.size()), 0);
            for (std::size_t j = 0; j < row.size(); ++j)
                width[j] = std::max(width[j], row[j].size());
        }
        std::size_t total = 0;
        for (std::size_t w : width) total += w + 2;
        std::string out;
        for (std::size_t i = 0; i <= fvRows.size(); ++i) {
            if (std::count(fvRules.begin(), fvRules.end(), i))
                out += indent + std::string(total > 2 ? total - 2 : 0, '-') + "\n";
            if (i == fvRows.size()) break;
            std::string line = indent;
            const auto& row = fvRows[i];
            for (std::size_t j = 0; j < row.size(); ++j) {
                const std::string pad(width[j] - row[j].size(), ' ');
                if (j > 0) line += "  ";
                line += j == 0 || !fbRightAlign ? row[j] + pad : pad + row[j];
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out += line + "\n";
        }
        return out;
    }

private:
    std::vector<std::vector<std::string>> fvRows;
    std::vector<std::size_t> fvRules;
    bool fbRightAlign;
};

nlohmann::ordered_json Value(double v) {
    if (std::isnan(v) || std::isinf(v)) return nullptr;
    return v;
}

}  // namespace

std::string FormatGlmText(const GlmResult& r) {
    std::string out = "General linear model\n\n";
    TextTable head(false);
    head.Add({"Formula", r.fFormula});
    head.Add({"Dependent variable", r.fDependent});
    head.Add({"Records", std::to_string(r.fRecordsRead) + " read, " +
                             std::to_string(r.fRecordsUsed) + " used"});
    if (r.fTotalFreqWeight != static_cast<double>(r.fRecordsUsed))
        head.Add({"Total frequency weight", Number(r.fTotalFreqWeight)});
    out += head.Render("  ");

    const std::string level = Format("%g", r.fConfidence * 100.0) + "%";
    TextTable t;
    t.Add({"Parameter", "Estimate", "Std. error", "t", "df", "Sig.", level + " lower",
           level + " upper"});
    t.Rule();
    bool anyRedundant = false;
    for (const ParameterRow& p : r.fvParameters) {
        if (p.fbRedundant) {
            anyRedundant = true;
            t.Add({p.fLabel, "0 a", "", "", "", "", "", ""});
            continue;
        }
        t.Add({p.fLabel, Number(p.fEstimate), Number(p.fStdError), Number(p.fT), Number(p.fDF),
               PValue(p.fSig), Number(p.fCILower), Number(p.fCIUpper)});
    }
    t.Rule();
    out += "\nParameter estimates\n\n" + t.Render("  ");
    if (anyRedundant)
        out += "  a. Redundant: aliased with the parameters before it, so set to 0.\n";

    TextTable fit(false);
    fit.Add({"R-square", Number(r.fRSquare)});
    fit.Add({"Root mean square error", Number(r.fRmse)});
    fit.Add({"Residual standard error", Number(r.fResidualSE)});
    fit.Add({"Error df", Number(r.fErrorDF)});
    out += "\nFit\n\n" + fit.Render("  ");
    return out;
}

std::string FormatGlmJson(const GlmResult& r) {
    using json = nlohmann::ordered_json;
    json j;
    j["model"] = "glm";
    j["dependent"] = r.fDependent;
    j["records"] = {{"read", r.fRecordsRead}, {"used", r.fRecordsUsed}};
    j["total_frequency_weight"] = Value(r.fTotalFreqWeight);
    j["total_regression_weight"] = Value(r.fTotalRegrWeight);
    json params = json::array();
    for (const ParameterRow& p : r.fvParameters) {
        json o;
        o["name"] = p.fName;
        o["label"] = p.fLabel;
        o["effect"] = p.fEffect;
        o["estimate"] = Value(p.fEstimate);
        o["redundant"] = p.fbRedundant;
        o["std_error"] = Value(p.fStdError);
        o["t"] = Value(p.fT);
        o["df"] = Value(p.fDF);
        o["sig"] = Value(p.fSig);
        o["ci_lower"] = Value(p.fCILower);
        o["ci_upper"] = Value(p.fCIUpper);
        params.push_back(std::move(o));
    }
    j["parameters"] = std::move(params);
    j["fit"] = {
        {"r_square", Value(r.fRSquare)}, {"rmse", Value(r.fRmse)}, {"error_df", Value(r.fErrorDF)}};
    j["timing_seconds"] = {{"read", r.fReadSeconds}, {"fit", r.fFitSeconds}};
    return j.dump(2) + "\n";
}

}  // namespace mchost
