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

    // Per parameter, the column that its spread is measured about (see
    // MCSymMatrix::ComputeCentredScale): for a parameter with covariates,
    // the indicator of its own cell when the list has one (a factor-only
    // parameter of the same factors and categories), so that x within the
    // categories of A is judged by its spread within each category; else
    // the intercept (0) when used; -1 (about zero) for the intercept itself
    // and for everything in a model without one.
    static std::vector<int> CentringColumns(const std::vector<MCRegrParameter>& params,
                                            bool intercept);
    // Per parameter, whether it is a covariate within cells that no
    // indicator marks (x within A*B in a model without A*B), which
    // CentringColumns gives the intercept: its spread within its cell needs
    // the cell's weight, summed with the cross products. Empty when there
    // is none.
    static std::vector<unsigned char> CellsWithoutIndicator(
        const std::vector<MCRegrParameter>& params, const std::vector<int>& units);
};

}  // namespace MCMath_850
