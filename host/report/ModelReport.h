#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/report/ReportFormat.h"

namespace mchost {

// The frame both models' reports share; Result is a GlmResult or a
// LogisticResult, whose common members it reads.

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
template <class Result>
std::string HeadText(const std::string& title, const Result& result,
                     const std::vector<std::vector<std::string>>& rows = {},
                     const std::string& vcovNote = "");
// The warnings as a section of a text report; empty without any.
std::string WarningsText(const std::vector<std::string>& warnings);

// What a model adds to the JSON document, each group of members at its
// place.
class JsonAdditions {
public:
    nlohmann::ordered_json fModel = nlohmann::ordered_json::object();    // after "confidence"
    nlohmann::ordered_json fRecords = nlohmann::ordered_json::object();  // after the weight
    nlohmann::ordered_json fVcov = nlohmann::ordered_json::object();     // after "vcov"
    nlohmann::ordered_json fFit = nlohmann::ordered_json::object();      // "fit"
    nlohmann::ordered_json fResults = nlohmann::ordered_json::object();  // after "fit"
};

// The report for programs, one JSON document:
// {"model","formula","dependent","variables":[{"name","role"[,"categories"]}...],
//  "confidence",<model>,"records":{"read","used"},"total_frequency_weight",
//  <records>,"vcov",<vcov>,"parameters","fit",<results>,"warnings":[...]
//  [,"timing_seconds":{"read","fit"}]}
template <class Result>
nlohmann::ordered_json ModelJson(const std::string& model, const Result& result,
                                 nlohmann::ordered_json parameters, JsonAdditions additions,
                                 const JsonOptions& options);

// A covariance matrix of the estimates, row by row:
// {"parameters":[names],"matrix":[[...]...]}.
nlohmann::ordered_json CovarianceJson(const std::vector<std::string>& names,
                                      const std::vector<double>& matrix);

}  // namespace mchost
