#include "host/report/ModelReport.h"

#include <utility>

#include "host/fit/LogisticFit.h"

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

template <class Result>
std::string HeadText(const std::string& title, const Result& r,
                     const std::vector<std::vector<std::string>>& rows,
                     const std::string& vcovNote) {
    TextTable head(false);
    head.Add({"Formula", r.fFormula});
    head.Add({"Dependent variable", r.fDependent});
    if (!r.fvTextFactors.empty()) head.Add({"Read as factors", TextFactorsLine(r.fvTextFactors)});
    for (const std::vector<std::string>& row : rows) head.Add(row);
    head.Add({"Records", std::to_string(r.fRecordsRead) + " read, " +
                             std::to_string(r.fRecordsUsed) + " used"});
    // Weights of 1 leave the records as the total: no line says it twice.
    if (r.fTotalFreqWeight != static_cast<double>(r.fRecordsUsed))
        head.Add({"Total frequency weight", Count(r.fTotalFreqWeight)});
    return title + "\n\n" + head.Render("  ") + "\nCovariance of the estimates: " +
           VcovText(r.fVcov, r.fvClusterColumns, r.fvClusterCounts) + vcovNote + "\n";
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

template <class Result>
json ModelJson(const std::string& model, const Result& r, json parameters, JsonAdditions additions,
               const JsonOptions& options) {
    json j;
    j["model"] = model;
    j["formula"] = r.fFormula;
    j["dependent"] = r.fDependent;
    j["variables"] = JsonVariables(r.fvVariables);
    j["confidence"] = r.fConfidence;
    Append(j, std::move(additions.fModel));
    j["records"] = {{"read", r.fRecordsRead}, {"used", r.fRecordsUsed}};
    j["total_frequency_weight"] = JsonNumber(r.fTotalFreqWeight);
    Append(j, std::move(additions.fRecords));
    j["vcov"] = VcovJson(r.fVcov, r.fvClusterColumns, r.fvClusterCounts);
    Append(j, std::move(additions.fVcov));
    j["parameters"] = std::move(parameters);
    j["fit"] = std::move(additions.fFit);
    Append(j, std::move(additions.fResults));
    j["warnings"] = r.fvWarnings;
    if (options.fbTiming) j["timing_seconds"] = {{"read", r.fReadSeconds}, {"fit", r.fFitSeconds}};
    return j;
}

template std::string HeadText(const std::string&, const GlmResult&,
                              const std::vector<std::vector<std::string>>&, const std::string&);
template std::string HeadText(const std::string&, const LogisticResult&,
                              const std::vector<std::vector<std::string>>&, const std::string&);
template json ModelJson(const std::string&, const GlmResult&, json, JsonAdditions,
                        const JsonOptions&);
template json ModelJson(const std::string&, const LogisticResult&, json, JsonAdditions,
                        const JsonOptions&);

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
