#include "host/report/ModelReport.h"

#include <utility>

namespace mchost {

using json = nlohmann::ordered_json;

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

json VcovJson(const std::string& vcov, const std::vector<std::string>& columns,
              const std::vector<long>& clusters) {
    json j = {{"type", vcov}};
    if (vcov == "cluster") {
        j["columns"] = columns;
        j["groups"] = clusters;
    }
    return j;
}

std::string HeadText(const std::string& title, const FitSummary& fit,
                     const std::vector<std::vector<std::string>>& rows,
                     const std::string& vcovNote) {
    TextTable head(false);
    head.Add({"Formula", fit.fFormula});
    head.Add({"Dependent variable", fit.fDependent});
    if (!fit.fTextFactors.empty()) head.Add({"Read as factors", TextFactorsLine(fit.fTextFactors)});
    for (const std::vector<std::string>& row : rows) head.Add(row);
    head.Add({"Records", std::to_string(fit.fRecordsRead) + " read, " +
                             std::to_string(fit.fRecordsUsed) + " used"});
    // Weights of 1 leave the records as the total: no line says it twice.
    if (fit.fTotalFreqWeight != static_cast<double>(fit.fRecordsUsed))
        head.Add({"Total frequency weight", Count(fit.fTotalFreqWeight)});
    return title + "\n\n" + head.Render("  ") + "\nCovariance of the estimates: " +
           VcovText(fit.fVcov, fit.fClusterColumns, fit.fClusterCounts) + vcovNote + "\n";
}

std::string WarningsText(const std::vector<std::string>& warnings) {
    if (warnings.empty()) return "";
    std::string out = "\nWarnings\n\n";
    for (const std::string& w : warnings) out += "  " + w + "\n";
    return out;
}

namespace {

void Append(json& j, json&& members) {
    for (auto& [key, value] : members.items()) j[key] = std::move(value);
}

}  // namespace

json ModelJson(const std::string& model, const FitSummary& fit, json parameters,
               JsonAdditions additions, const JsonOptions& options) {
    json j;
    j["model"] = model;
    j["formula"] = fit.fFormula;
    j["dependent"] = fit.fDependent;
    j["variables"] = JsonVariables(fit.fVariables);
    j["confidence"] = fit.fConfidence;
    Append(j, std::move(additions.fModel));
    j["records"] = {{"read", fit.fRecordsRead}, {"used", fit.fRecordsUsed}};
    j["total_frequency_weight"] = JsonNumber(fit.fTotalFreqWeight);
    Append(j, std::move(additions.fRecords));
    j["vcov"] = VcovJson(fit.fVcov, fit.fClusterColumns, fit.fClusterCounts);
    Append(j, std::move(additions.fVcov));
    j["parameters"] = std::move(parameters);
    j["fit"] = std::move(additions.fFit);
    Append(j, std::move(additions.fResults));
    j["warnings"] = fit.fWarnings;
    if (options.fbTiming)
        j["timing_seconds"] = {{"read", fit.fReadSeconds}, {"fit", fit.fFitSeconds}};
    return j;
}

json CovarianceJson(const std::vector<std::string>& names, const std::vector<double>& matrix) {
    const std::size_t n = names.size();
    json rows = json::array();
    for (std::size_t a = 0; a < n; ++a) {
        json row = json::array();
        for (std::size_t b = 0; b < n; ++b) row.push_back(JsonNumber(matrix[a * n + b]));
        rows.push_back(std::move(row));
    }
    return {{"parameters", names}, {"matrix", std::move(rows)}};
}

}  // namespace mchost
