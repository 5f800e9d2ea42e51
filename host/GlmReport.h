#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "host/GlmFit.h"

namespace mchost {

// The report for people: the model, the records used, the parameter table
// with aligned columns and the fit figures.
std::string FormatGlmText(const GlmResult& result);

// The report for programs, one JSON document:
// {"model":"glm","dependent":...,"records":{"read":...,"used":...},
//  "total_frequency_weight":...,"total_regression_weight":...,
//  "parameters":[{"name","label","effect","estimate","redundant","std_error",
//                 "t","df","sig","ci_lower","ci_upper"}...],
//  "fit":{"r_square","rmse","error_df"},"timing_seconds":{"read","fit"}}
// Missing statistics are null.
std::string FormatGlmJson(const GlmResult& result);
// The same document as an object, for callers that add to it.
nlohmann::ordered_json GlmJson(const GlmResult& result);

}  // namespace mchost
