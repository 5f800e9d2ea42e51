#pragma once
#include <memory>
#include <string>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
#include "companion/MCSymMatrix.h"
#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "companion/RecordIterator.h"
#include "design/MCRegrParameter.h"
#include "glm/MCGLMOutputStats.h"
#include "settings/MCConst.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// Writes the model-specific parts of a PMML GeneralRegressionModel for a
// fitted general linear (model type 0), multinomial logistic (1) or ordinal
// multinomial (2) model: mining schema, parameter, factor and covariate
// lists, the predictor-to-parameter matrix, the estimates, their covariance
// and the model statistics. The host assembles the document around them.
//
// The settings, variable list (indexed by record position), parameter list,
// estimates and the set of estimated parameters are not owned and must
// outlive the exporter. Every Export operation returns a new element tree
// owned by the caller, or null when there is nothing to write or memory
// runs out. Nothing throws.
class MCREG_API MCPMMLRegrExporter {
public:
    struct FacAttr {
        std::string fName;
        std::string fCategory;
    };
    struct CovAttr {
        std::string fName;
        int fMult = 1;
    };
    struct ParamAttribute {
        std::string fName;
        std::string fLabel;
        std::vector<FacAttr> fvFactors;
        std::vector<CovAttr> fvCovariates;
    };

    // effects, when given, selects by number the model effects whose
    // variables are active; otherwise all effects count.
    MCPMMLRegrExporter(const MCRegSettings& settings, const MCXML_850::MCVarList& vars,
                       const std::vector<MCRegrParameter>& params,
                       const std::vector<double>& estimates, const MCBitSet& estimated,
                       const MCBitSet* effects);

    // Active factors, then covariates (importance from importance when its
    // size equals the number of active variables), the predicted dependent,
    // then extra2 and extra1 unless -1.
    MCXML_850::XMLElement* ExportMiningSchema(int extra1, int extra2,
                                              const std::vector<double>* importance) const;
    // importance is written only when within [0, 1].
    MCXML_850::XMLElement* ExportMiningField(int var, bool predicted, double importance) const;
    MCXML_850::XMLElement* ExportParameterList() const;
    // Null without active factors (covariates).
    MCXML_850::XMLElement* ExportFactorList() const;
    MCXML_850::XMLElement* ExportCovariateList() const;
    MCXML_850::XMLElement* ExportPPMatrix() const;
    // single: one target category, the text of dependent category
    // 1 - category, on every cell.
    MCXML_850::XMLElement* ExportParamMatrix(bool single, int category) const;
    // The lower triangle's non-zero cells of cov (n x n over the estimates).
    MCXML_850::XMLElement* ExportPCovMatrix(const MCSymMatrix& cov, MCConst::MCCovbType type,
                                            bool single, int category) const;
    // Writes the same element into the innermost open element of writer,
    // cell by cell as it goes: a matrix of p parameters has up to
    // p(p+1)/2 cells, which need not be held at once. cancel, when given,
    // is asked every few thousand cells. False when the writer failed,
    // memory ran out or cancel said stop (the writer then holds part of it).
    bool WritePCovMatrix(MCXML_850::XMLWriter& writer, const MCSymMatrix& cov,
                         MCConst::MCCovbType type, bool single, int category,
                         MCCommon_850::MCQueryCancel* cancel = nullptr) const;
    // covariateMeans is indexed like the settings' covariate list.
    MCXML_850::XMLElement* ExportModelStats(const std::vector<double>& covariateMeans,
                                            double totalWeight, const MCRegANOVA* anova) const;
    // Appends the Model, Error and Total rows to parent.
    void ExportModelAnova(const MCRegANOVA* anova, MCXML_850::XMLElement* parent) const;

    // Adds the numeric attribute unless e is null or value is missing.
    static void ExportAttributeValue(MCXML_850::XMLElement* e, const std::string& name,
                                     double value);
    static void ExportAttributeValue(MCXML_850::XMLElement* e, const std::string& name,
                                     double value, bool alt);

    const std::vector<int>& GetActiveFactors() const { return fvActiveFactors; }
    const std::vector<int>& GetActiveCovariates() const { return fvActiveCovariates; }
    const std::vector<ParamAttribute>& GetParamInfo() const { return fvParamInfo; }

private:
    void CreateParameters();
    std::string VarName(int var) const;
    std::string TargetText(int category) const;
    // The parameter attribute of estimate-relative parameter index j.
    const ParamAttribute* Param(int j) const;
    // The PCovMatrix element without cells, and its cells one by one to
    // take, which returns false to stop (then false).
    std::unique_ptr<MCXML_850::XMLElement> PCovMatrixHead(MCConst::MCCovbType type) const;
    template <class Take>
    bool PCovCells(const MCSymMatrix& cov, bool single, int category, Take take) const;

    const MCRegSettings& fSettings;
    const std::vector<MCModelEffect>& fvEffects;
    std::vector<int> fvActiveFactors;
    std::vector<int> fvActiveCovariates;
    const MCXML_850::MCVarList& fVars;
    const std::vector<MCRegrParameter>& fvParams;
    const std::vector<double>& fvEstimates;
    const MCBitSet& fEstimated;
    std::vector<ParamAttribute> fvParamInfo;
    int fNEstimates = 0;
    int fNPerCategory = 0;
    int fNThresholds = 0;
    int fModelType = 0;
    int fNCategories = 0;
    const MCXML_850::MCCategoryValues* fpDepValues = nullptr;
    bool fbValid = true;
};

}  // namespace MCMath_850
