#pragma once
#include <vector>

#include "components/IMCRegComponent.h"
#include "host/model/ModelSpec.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"

namespace mchost {

// What the analyses after a fit read, for either model: the model's
// variables, the settings the component was built with, the component and
// its statistics. Nothing is owned; the fit keeps them.
class FittedModel {
public:
    const ModelSpec* fpSpec = nullptr;
    const MCMath_850::MCRegSettings* fpSettings = nullptr;
    const MCMath_850::IMCRegComponent* fpComponent = nullptr;
    const MCMath_850::IMCRegOutputStats* fpStats = nullptr;
    bool fbLogistic = false;
    double fConfidence = 0.95;
    // Logistic: the dependent's category codes in the model's order, the
    // non-reference categories ascending and the reference last; logit k
    // compares fvModelCategories[k] with the reference.
    std::vector<int> fvModelCategories;
    // The parameters of one logit (all of them for a general linear model).
    int fNBasic = 0;
};

}  // namespace mchost
