#pragma once
#include <string>
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"
#include "settings/MCRegrParameterStats.h"

namespace MCMath_850 {

// Builds the regression parameter elements of DoreZAD documents: a
// ParameterEstimates element with one ParameterStats element per parameter,
// each naming its parameter through a RegressionParameter child, and the
// text labels of the parameters.
//
// Two forms exist. The detailed form names every parameter P0000001,
// P0000002, ... in parameter order and describes its covariates and factor
// categories structurally; its labels are written tight (x*[A=1]*[B=2]). The
// compact form lists only the statistics records that name a parameter,
// numbered in that order, with spaced labels ([A=1] * [B=2]).
//
// Variables are record positions; names and category texts come from the
// variable list, indexed by record position (a position the list does not
// describe is named "V" and its number). Statistics records, parameters and
// effects are parallel by position. New elements are owned by the caller.
// Nothing throws: when memory runs out, element builders return null and
// list builders return what they had made up to then, or nothing.
class MCREG_API MCRegrDoreZADUtil {
public:
    MCRegrDoreZADUtil() = default;
    virtual ~MCRegrDoreZADUtil() = default;

    // A ParameterEstimates element with the attribute attName = attValue, the
    // extra element (when not null; ownership passes to the result) as first
    // child and then the detailed ParameterStats elements.
    static MCXML_850::XMLElement* CreateParameterEstimates(
        const std::vector<MCRegrParameterStats>& stats, const MCRegSettings& settings,
        const MCXML_850::MCVarList& vars, const std::vector<MCRegrParameter>& params,
        const std::string& attName, const std::string& attValue, MCXML_850::XMLElement* extra,
        bool forTarget);

    // Appends the ParameterStats elements to parent, in order (when memory
    // runs out, none or only a leading part of them).
    static void AddAllElemParamStats(const std::vector<MCRegrParameterStats>& stats,
                                     const MCRegSettings& settings,
                                     const MCXML_850::MCVarList& vars,
                                     const std::vector<MCRegrParameter>& params,
                                     MCXML_850::XMLElement& parent, bool detailed, bool forTarget);

    // elems receives the new ParameterStats elements (cleared first; empty
    // when memory ran out). The detailed form covers the positions that have
    // both a record and a parameter. With forTarget, parameters outside every
    // effect (the intercept of each logit) are named by the target category
    // of the dependent variable.
    static void CreateAllElemParamStats(const std::vector<MCRegrParameterStats>& stats,
                                        const MCRegSettings& settings,
                                        const MCXML_850::MCVarList& vars,
                                        const std::vector<MCRegrParameter>& params,
                                        std::vector<MCXML_850::XMLElement*>& elems, bool detailed,
                                        bool forTarget);

    // The detailed element named name; isRedundant="true" when redundant.
    static MCXML_850::XMLElement* CreateElemParamStats(const MCRegrParameterStats& stats,
                                                       const std::string& name, bool redundant);
    // The compact element named after number (1-based); paramLabel when
    // label is neither null nor empty.
    static MCXML_850::XMLElement* CreateElemParamStats(const MCRegrParameterStats& stats,
                                                       int number, const std::string* label);

    // The RegressionParameter element of p and its detailed label (empty for
    // the intercept and for an effect index outside effects).
    static MCXML_850::XMLElement* CreateRegrParam(const std::vector<MCModelEffect>& effects,
                                                  const MCRegrParameter& p,
                                                  const MCXML_850::MCVarList& vars,
                                                  std::string& label);
    // For a parameter outside every effect with a target category: the
    // element naming dependent = target category, and that label. Null with
    // an empty label otherwise.
    static MCXML_850::XMLElement* CreateRegrParamForTarget(int dependent, const MCRegrParameter& p,
                                                           const MCXML_850::MCVarList& vars,
                                                           std::string& label);

    // The compact labels: for every record whose fParamIndex is not -1, the
    // record goes to kept and its parameter's label to labels (empty when
    // fParamIndex names no parameter).
    static void GetParamLables(const std::vector<MCRegrParameterStats>& stats,
                               const MCRegSettings& settings, const MCXML_850::MCVarList& vars,
                               const std::vector<MCRegrParameter>& params,
                               std::vector<std::string>& labels,
                               std::vector<MCRegrParameterStats>& kept);

    // Orders the covariates (with their multiplicities) and the factors by
    // where each variable stands in declared (stable; variables not declared
    // go last). factorOrder receives, for every new factor position, its old
    // position. Lists of fewer than two are left as they are. False (nothing
    // changed) when the multiplicities do not match the covariates or memory
    // runs out.
    static bool SortCovAndFactor(const std::vector<int>& declared, std::vector<int>& covariates,
                                 std::vector<int>& covMults, std::vector<int>& factors,
                                 std::vector<int>& factorOrder);
    // Reorders categories and levels by factorOrder; false (nothing changed)
    // when the sizes disagree.
    static bool SortFactorCatAndNestLevel(const std::vector<int>& factorOrder,
                                          std::vector<int>& categories, std::vector<int>& levels);
    // The nesting marks of factors with these levels, in label order: a factor
    // is marked when it opens a parenthesis.
    static void TransferNest(const std::vector<int>& levels, bool factorsInParens,
                             std::vector<bool>& marks);
};

}  // namespace MCMath_850
