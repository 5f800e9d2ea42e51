#pragma once
#include <string>
#include <vector>

#include "host/model/ModelSpec.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"

namespace mchost {

// How a parameter is tested: by t on the error degrees of freedom (a
// general linear model) or by Wald's chi-square on one degree of freedom,
// with the interval of Exp(B) (a logistic model).
class ParameterTest {
public:
    bool fbWald = false;
    double fDF = 0.0;  // of t; NaN when there is none
    double fConfidence = 0.95;
};

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

// The parameter table of a fit, read from the library's per-parameter
// records; a figure a record leaves missing is computed here from the
// estimate and its variance.
std::vector<ParameterFigures> ParameterTable(const ModelSpec& spec,
                                             const MCMath_850::MCRegSettings& settings,
                                             const MCMath_850::IMCRegOutputStats& stats,
                                             const ParameterTest& test);

}  // namespace mchost
