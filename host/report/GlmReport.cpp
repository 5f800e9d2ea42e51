#include "host/report/GlmReport.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "host/report/ReportFormat.h"

namespace mchost {

std::string VcovText(const std::string& vcov, const std::vector<std::string>& columns,
                     const std::vector<long>& clusters) {
    if (vcov == "model") return "model-based";
    if (vcov == "cluster") {
        std::string out = "cluster-robust by " + (columns.empty() ? "" : columns.front());
        if (columns.size() > 1) out += " and " + columns[1];
        out += ", ";
        for (std::size_t c = 0; c < clusters.size(); ++c)
            out += (c > 0 ? " and " : "") + std::to_string(clusters[c]);
        return out + " clusters";
    }
    std::string upper;
    for (char c : vcov) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return upper + " (heteroskedasticity-consistent)";
}

std::string FormatGlmText(const GlmResult& r) {
    std::string out = "General linear model\n\n";
    TextTable head(false);
    head.Add({"Formula", r.fFormula});
    head.Add({"Dependent variable", r.fDependent});
    if (!r.fvTextFactors.empty()) head.Add({"Read as factors", TextFactorsLine(r.fvTextFactors)});
    head.Add({"Records", std::to_string(r.fRecordsRead) + " read, " +
                             std::to_string(r.fRecordsUsed) + " used"});
    if (r.fTotalFreqWeight != static_cast<double>(r.fRecordsUsed))
        head.Add({"Total frequency weight", Count(r.fTotalFreqWeight)});
    out += head.Render("  ");
    out += "\nCovariance of the estimates: " +
           VcovText(r.fVcov, r.fvClusterColumns, r.fvClusterCounts);
    if (r.fVcov == "cluster") out += " (tests on " + std::to_string(r.fNClusters - 1) + " df)";
    out += "\n";

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
        t.Add({p.fLabel, Number(p.fEstimate), Number(p.fStdError), Number(p.fT), Count(p.fDF),
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
    fit.Add({"Error df", Count(r.fErrorDF)});
    out += "\nFit\n\n" + fit.Render("  ");
    return out;
}

nlohmann::ordered_json VcovJson(const std::string& vcov, const std::vector<std::string>& columns,
                                const std::vector<long>& clusters) {
    nlohmann::ordered_json j = {{"type", vcov}};
    if (vcov == "cluster") {
        j["columns"] = columns;
        j["groups"] = clusters;
    }
    return j;
}

std::string FormatGlmJson(const GlmResult& r, const JsonOptions& options) {
    return JsonText(GlmJson(r, options));
}

nlohmann::ordered_json GlmJson(const GlmResult& r, const JsonOptions& options) {
    using json = nlohmann::ordered_json;
    json j;
    j["model"] = "glm";
    j["formula"] = r.fFormula;
    j["dependent"] = r.fDependent;
    j["variables"] = JsonVariables(r.fvVariables);
    j["confidence"] = r.fConfidence;
    j["records"] = {{"read", r.fRecordsRead}, {"used", r.fRecordsUsed}};
    j["total_frequency_weight"] = JsonNumber(r.fTotalFreqWeight);
    j["total_regression_weight"] = JsonNumber(r.fTotalRegrWeight);
    j["vcov"] = VcovJson(r.fVcov, r.fvClusterColumns, r.fvClusterCounts);
    json params = json::array();
    for (const ParameterRow& p : r.fvParameters) {
        json o;
        o["name"] = p.fName;
        o["label"] = p.fLabel;
        o["effect"] = p.fEffect;
        o["estimate"] = JsonNumber(p.fEstimate);
        o["redundant"] = p.fbRedundant;
        o["std_error"] = JsonNumber(p.fStdError);
        o["t"] = JsonNumber(p.fT);
        o["df"] = JsonCount(p.fDF);
        o["sig"] = JsonNumber(p.fSig);
        o["ci_lower"] = JsonNumber(p.fCILower);
        o["ci_upper"] = JsonNumber(p.fCIUpper);
        params.push_back(std::move(o));
    }
    j["parameters"] = std::move(params);
    j["fit"] = {{"r_square", JsonNumber(r.fRSquare)},
                {"rmse", JsonNumber(r.fRmse)},
                {"residual_standard_error", JsonNumber(r.fResidualSE)},
                {"error_df", JsonCount(r.fErrorDF)},
                {"rank", r.fRank}};
    if (options.fbCovariance) {
        const std::size_t n = r.fvCovarianceNames.size();
        json matrix = json::array();
        for (std::size_t a = 0; a < n; ++a) {
            json row = json::array();
            for (std::size_t b = 0; b < n; ++b)
                row.push_back(JsonNumber(r.fvCovariance[a * n + b]));
            matrix.push_back(std::move(row));
        }
        j["covariance"] = {{"parameters", r.fvCovarianceNames}, {"matrix", std::move(matrix)}};
    }
    j["warnings"] = r.fvWarnings;
    if (options.fbTiming) j["timing_seconds"] = {{"read", r.fReadSeconds}, {"fit", r.fFitSeconds}};
    return j;
}

}  // namespace mchost
