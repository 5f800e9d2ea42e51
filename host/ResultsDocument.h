#pragma once
#include <string>

#include "host/FittedModel.h"
#include "host/GlmFit.h"
#include "host/LogisticFit.h"

namespace mchost {

// The parameter estimates as an XML results document: a ParameterEstimates
// element (attribute model = "glm" or "multinomial logistic") with one
// ParameterStats element per parameter, named P0000001, ... in parameter
// order, carrying the statistics of the report's parameter table and a
// RegressionParameter child naming the parameter's factor categories and
// covariates (a logit's intercept by its target category).
std::string GlmResultsDocument(const FittedModel& model, const GlmResult& result);
std::string LogisticResultsDocument(const FittedModel& model, const LogisticResult& result);

}  // namespace mchost
