#pragma once
#include <string>

#include "host/FittedModel.h"
#include "host/UsedData.h"

namespace mchost {

// A complete PMML 4.4 document of a fitted model, to score it elsewhere: the
// header, a data dictionary with every model variable (the dependent, the
// factors with their categories, the covariates and the weights), and one
// GeneralRegressionModel ("generalLinear" or "multinomialLogistic") whose
// mining schema lists each variable once with its use (the weights as
// frequencyWeight and analysisWeight), whose model statistics hold the
// analysis of variance of a general linear model and the covariates'
// ranges and means, and whose parameter, predictor and estimate elements
// come from the library. application names the program that writes it.
std::string PmmlDocument(const FittedModel& model, const UsedData& used,
                         const std::string& application);

}  // namespace mchost
