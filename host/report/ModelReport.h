#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/fit/GlmFit.h"
#include "host/report/ReportFormat.h"

namespace mchost {

// What the results of both models hold alike, as their reports read it.
class FitSummary {
public:
    template <class Result>
    explicit FitSummary(const Result& r)
        : fFormula(r.fFormula),
          fDependent(r.fDependent),
          fTextFactors(r.fvTextFactors),
          fVariables(r.fvVariables),
          fRecordsRead(r.fRecordsRead),
          fRecordsUsed(r.fRecordsUsed),
          fTotalFreqWeight(r.fTotalFreqWeight),
          fConfidence(r.fConfidence),
          fVcov(r.fVcov),
          fClusterColumns(r.fvClusterColumns),
          fClusterCounts(r.fvClusterCounts),
          fWarnings(r.fvWarnings),
          fReadSeconds(r.fReadSeconds),
          fFitSeconds(r.fFitSeconds) {}

    const std::string& fFormula;
    const std::string& fDependent;
    const std::vector<std::string>& fTextFactors;
    const std::vector<ResultVariable>& fVariables;
    long long fRecordsRead;
    long long fRecordsUsed;
    double fTotalFreqWeight;
    double fConfidence;
    const std::string& fVcov;
    const std::vector<std::string>& fClusterColumns;
    const std::vector<long>& fClusterCounts;
    const std::vector<std::string>& fWarnings;
    double fReadSeconds;
    double fFitSeconds;
};

// The covariance as the text report names it: "model-based", "HC3
// (heteroskedasticity-consistent)", "cluster-robust by g, 12 clusters".
std::string VcovText(const std::string& vcov, const std::vector<std::string>& columns = {},
                     const std::vector<long>& clusters = {});
// The JSON's "vcov": {"type": ...[, "columns": [...], "groups": [G]]}.
nlohmann::ordered_json VcovJson(const std::string& vcov, const std::vector<std::string>& columns,
                                const std::vector<long>& clusters);

// The head of a text report: the title, the model and the records (rows
// are the model's own lines before the records'), then the covariance of
// the estimates with the note after its name.
std::string HeadText(const std::string& title, const FitSummary& fit,
                     const std::vector<std::vector<std::string>>& rows = {},
                     const std::string& vcovNote = "");
// The warnings as a section of a text report; empty without any.
std::string WarningsText(const std::vector<std::string>& warnings);

// What a model adds to the JSON document, member by member, each group
// at its place.
class JsonAdditions {
public:
    nlohmann::ordered_json fModel = nlohmann::ordered_json::object();    // after "confidence"
    nlohmann::ordered_json fRecords = nlohmann::ordered_json::object();  // after the weight
    nlohmann::ordered_json fVcov = nlohmann::ordered_json::object();     // after "vcov"
    nlohmann::ordered_json fFit = nlohmann::ordered_json::object();
    nlohmann::ordered_json fResults = nlohmann::ordered_json::object();  // after "fit"
};

// The report for programs, one JSON document of either model:
// {"model","formula","dependent","variables":[{"name","role"[,"categories"]}...],
//  "confidence",<model>,"records":{"read","used"},"total_frequency_weight",
//  <records>,"vcov":{"type"[,"columns","groups"]},<vcov>,"parameters":[...],
//  "fit":{...},<results>,"warnings":[...][,"timing_seconds":{"read","fit"}]}
nlohmann::ordered_json ModelJson(const std::string& model, const FitSummary& fit,
                                 nlohmann::ordered_json parameters, JsonAdditions additions,
                                 const JsonOptions& options);

// A covariance matrix of the estimates for JSON:
// {"parameters":[names],"matrix":[[...]...]}, row by row.
nlohmann::ordered_json CovarianceJson(const std::vector<std::string>& names,
                                      const std::vector<double>& matrix);

}  // namespace mchost
