#pragma once
#include <iosfwd>

#include "host/fit/FittedModel.h"
#include "host/fit/GlmFit.h"
#include "host/fit/LogisticFit.h"

namespace mchost {

// The parameter estimates as an XML results document: a ParameterEstimates
// element (attribute model = "glm" or "multinomial logistic") with one
// ParameterStats element per parameter, named P0000001, ... in parameter
// order, carrying the statistics of the report's parameter table and a
// RegressionParameter child naming the parameter's factor categories and
// covariates (a logit's intercept by its target category). Written to out
// as it is made; a failure of out is left in out's state for its owner to
// report.
void WriteGlmResultsDocument(std::ostream& out, const FittedModel& model, const GlmResult& result);
void WriteLogisticResultsDocument(std::ostream& out, const FittedModel& model,
                                  const LogisticResult& result);

}  // namespace mchost
