#pragma once
// Reading the PMML elements of a fitted model back the way a PMML consumer
// would, shared by the general linear and the multinomial export tests.
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "companion/MCXMLElement.h"

namespace support {

using MCXML_850::XMLElement;

// An attribute's text, "<absent>" when the element or the attribute is missing.
inline std::string Att(const XMLElement* e, const std::string& name) {
    const std::string* v = e != nullptr ? e->FindAttribute(name) : nullptr;
    return v != nullptr ? *v : "<absent>";
}

inline double Num(const XMLElement* e, const std::string& name) {
    return std::strtod(Att(e, name).c_str(), nullptr);
}

// The linear predictor of each target category ("" when the cells name
// none) from PMML's rules alone: a parameter's column is the product of its
// PPMatrix cells (a factor cell is 1 on its value and 0 otherwise, a
// covariate cell the value raised to the cell's power; no cell, as for the
// intercept, is 1), and the predictor sums the ParamMatrix betas times the
// columns. factors gives each factor predictor's category text, covariates
// each covariate's value.
inline std::map<std::string, double> PmmlPredictors(
    const XMLElement& paramMatrix, const XMLElement& ppMatrix,
    const std::map<std::string, std::string>& factors,
    const std::map<std::string, double>& covariates) {
    std::map<std::string, double> column;
    for (int k = 0; k < ppMatrix.GetNChildren(); ++k) {
        const XMLElement* cell = ppMatrix.GetChild(k);
        const std::string predictor = Att(cell, "predictorName");
        double& c = column.emplace(Att(cell, "parameterName"), 1.0).first->second;
        if (factors.count(predictor) != 0)
            c *= factors.at(predictor) == Att(cell, "value") ? 1.0 : 0.0;
        else
            c *= std::pow(covariates.at(predictor), Num(cell, "value"));
    }
    std::map<std::string, double> eta;
    for (int k = 0; k < paramMatrix.GetNChildren(); ++k) {
        const XMLElement* cell = paramMatrix.GetChild(k);
        const std::string* target = cell->FindAttribute("targetCategory");
        const auto c = column.find(Att(cell, "parameterName"));
        eta[target != nullptr ? *target : ""] +=
            Num(cell, "beta") * (c != column.end() ? c->second : 1.0);
    }
    return eta;
}

}  // namespace support
