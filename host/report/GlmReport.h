#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "host/fit/GlmFit.h"
#include "host/report/ModelReport.h"
#include "host/report/ReportFormat.h"

namespace mchost {

// The report for people: the model, the records used, the parameter table
// with aligned columns and the fit figures.
std::string FormatGlmText(const GlmResult& result);

// The report for programs, one JSON document:
// {"model":"glm","formula":...,"dependent":...,
//  "variables":[{"name","role"[,"categories"]}...],"confidence":...,
//  "records":{"read":...,"used":...},
//  "total_frequency_weight":...,"total_regression_weight":...,
//  "vcov":{"type":"model"|"hc0"|...|"cluster"[,"columns":[...],"groups":[G]]},
//  "parameters":[{"name","label","effect","estimate","redundant","std_error",
//                 "t","df","sig","ci_lower","ci_upper"}...],
//  "fit":{"r_square","rmse","residual_standard_error","error_df","rank"},
//  ["covariance":{"parameters":[names],"matrix":[[...]...]},]
//  "warnings":[...][,"timing_seconds":{"read","fit"}]}
// Missing statistics are null. Without timings, two runs on the same data
// give the same bytes.
std::string FormatGlmJson(const GlmResult& result, const JsonOptions& options = JsonOptions());
// The same document as an object, for callers that add to it.
nlohmann::ordered_json GlmJson(const GlmResult& result, const JsonOptions& options = JsonOptions());

}  // namespace mchost
