#pragma once
#include <string>
#include <vector>

#include "host/model/ModelSpec.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"

namespace mchost {

// One parameter as the reports show it, for either model. Statistics a
// parameter does not have (all of them for a redundant one) are NaN; the
// degrees of freedom are NaN (t) or 0 (Wald) then.
class ParameterFigures {
public:
    std::string fLabel;   // as the library labels it in its results documents
    std::string fEffect;  // the effect's formula text, "Intercept" for the intercept
    bool fbRedundant = false;
    double fEstimate = 0.0;
    double fStdError = 0.0;
    double fStatistic = 0.0;  // t, or Wald's chi-square
    double fDF = 0.0;
    double fSig = 0.0;
    // Of the estimate (t), of Exp(B) (Wald).
    double fCILower = 0.0;
    double fCIUpper = 0.0;
};

// The label of each parameter as the library writes it, for both models:
// the variable list is indexed by record position, as the parameters are.
std::vector<std::string> ParameterLabels(const ModelSpec& spec,
                                         const MCMath_850::MCRegSettings& settings,
                                         const MCMath_850::IMCRegOutputStats& stats);

// The parameter table of a fit as the library's per-parameter records give
// it: t on the error degrees of freedom with the estimate's interval (a
// general linear model), or Wald's chi-square with the interval of Exp(B)
// (wald, a logistic model). What a record leaves missing stays missing:
// the library alone decides what a zero variance or no degrees of freedom
// allow.
std::vector<ParameterFigures> ParameterTable(const ModelSpec& spec,
                                             const MCMath_850::MCRegSettings& settings,
                                             const MCMath_850::IMCRegOutputStats& stats, bool wald);

// A warning for each covariate, and each product of covariates, whose
// squares overflow and which is aliased for that reason alone; redundant
// tells which of params are aliased.
std::vector<std::string> OverflowWarnings(const ModelSpec& spec,
                                          const std::vector<MCMath_850::MCRegrParameter>& params,
                                          const std::vector<bool>& redundant);

// A warning for each factor (or categorical dependent) with categories, and
// for the model's variables with names, that differ only in bytes that are
// not UTF-8 (text in another encoding): the report and the JSON, which
// replace such bytes, would show them alike.
std::vector<std::string> LookAlikeWarnings(const ModelSpec& spec);

}  // namespace mchost
