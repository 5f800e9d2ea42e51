#pragma once
#include <string>

#include "design/MCRegrParameter.h"
#include "host/ModelSpec.h"

namespace mchost {

// The compact label of a parameter: "Intercept", "[wool=A] * [tension=H]",
// "[A=a]([B=b])", "x * x", "[cyl=4] * wt", "x([A=a])".
//
// Factors are grouped by nesting level from the deepest down to the
// outermost, each group "[name=category]" joined by " * ", consecutive
// groups separated by "(" and closed at the end. Covariates are joined by
// " * ", each repeated by its power. With both, the covariates come first
// with the factors in parentheses when the effect is written that way
// (factorsInParens), otherwise the factors come first, then " * " and the
// covariates.
std::string ParameterLabel(const MCMath_850::MCRegrParameter& parameter, const ModelSpec& spec,
                           bool factorsInParens);

}  // namespace mchost
