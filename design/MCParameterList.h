#pragma once
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCExport.h"
#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

class MCFactorTables;

// The parameter list of a model whose observed cells the factor tables have
// numbered: the intercept when used, then effect by effect one parameter per
// observed cell (in the tables' cell order), or the single parameter of an
// effect without factors. The tables' effects are the model's, preceded by
// the intercept when it is used.
struct MCREG_API MCParameterList {
    std::vector<MCRegrParameter> fvParameters;
    // Per effect of the settings (the intercept not counted): its first
    // parameter and its number of parameters.
    std::vector<int> fvEffectFirst;
    std::vector<int> fvEffectCount;

    // The number of parameters the list will hold.
    static long Count(const MCFactorTables& tables, int nEffects, bool intercept);
    // Replaces the lists. False when a cancel, polled between effects, was
    // seen (the lists are then incomplete).
    bool Build(const MCFactorTables& tables, const std::vector<MCModelEffect>& effects,
               bool intercept, MCCancelInfo& cancel);
};

}  // namespace MCMath_850
