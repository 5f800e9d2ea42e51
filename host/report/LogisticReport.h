#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "host/fit/LogisticFit.h"
#include "host/report/ReportFormat.h"

namespace mchost {

// The report for people: the model and records, the response categories,
// the iteration history, the model-fitting test, the pseudo R-squares, one
// parameter block per logit, the classification table and the warnings.
std::string FormatLogisticText(const LogisticResult& result);

// The report for programs, one JSON document:
// {"model":"multinomial logistic","formula","dependent",
//  "variables":[{"name","role"[,"categories"]}...],"confidence",
//  "categories","reference_category",
//  "records":{"read","used"},"total_frequency_weight","category_weights",
//  "parameters":[{"target","label","effect","estimate","redundant","std_error","wald",
//                 "df","sig","exp_b","ci_lower","ci_upper"}...],
//  "fit":{"loglik_initial","loglik_final","chi_square","df","sig","cox_snell",
//         "nagelkerke","mcfadden","iterations","converged"},
//  "warnings":[...][,"timing_seconds":{"read","fit"}]}
// Missing statistics are null. Without timings, two runs on the same data
// give the same bytes.
std::string FormatLogisticJson(const LogisticResult& result,
                               const JsonOptions& options = JsonOptions());
// The same document as an object, for callers that add to it.
nlohmann::ordered_json LogisticJson(const LogisticResult& result,
                                    const JsonOptions& options = JsonOptions());

}  // namespace mchost
