#pragma once
#include <string>

#include "companion/MCExport.h"

// The enumerations shared by the settings, the models and their outputs.
// Each is a distinct type stored as int, so a host may pass any int value
// (an unlisted one is reported as unrecognized by DisplayC).
namespace MCConst {

// Role of a record position in the settings' role map.
enum MCVariableType : int {
    VAR_UNSPECIFIED = 0,
    VAR_FREQ_WEIGHT = 1,
    VAR_REGR_WEIGHT = 2,
    VAR_FACTOR = 3,
    VAR_COVARIATE = 4,
    VAR_DEPENDENT = 5,
    VAR_OFFSET = 6,
    VAR_TRIALS = 7,
    VAR_SUBJECT = 8,
    VAR_SPATIAL = 9
};

enum LinkType : int {
    LINK_CLOGLOG = 0,
    LINK_IDENTITY = 1,
    LINK_LOG = 2,
    LINK_LOGC = 3,
    LINK_LOGIT = 4,
    LINK_NEGBIN = 5,
    LINK_NLOGLOG = 6,
    LINK_OPOWER = 7,
    LINK_POWER = 8,
    LINK_PROBIT = 9,
    LINK_CUM_CAUCHIT = 10,
    LINK_CUM_CLOGLOG = 11,
    LINK_CUM_LOGIT = 12,
    LINK_CUM_NLOGLOG = 13,
    LINK_CUM_PROBIT = 14
};

// Distribution of the dependent variable. 8, the nominal multinomial, has
// no display text of its own.
enum DistType : int {
    DIST_NORMAL = 0,
    DIST_BINOMIAL = 1,
    DIST_GAMMA = 2,
    DIST_IGAUSS = 3,
    DIST_NEGBIN = 4,
    DIST_POISSON = 5,
    DIST_ORD_MULTINOMIAL = 6,
    DIST_TWEEDIE = 7,
    DIST_NOM_MULTINOMIAL = 8
};

// Wald F and chi-square test an L matrix as a whole and row by row; the t
// test (error or Satterthwaite df) and the one-df chi-square test single rows
// only.
enum MCTestType : int { TEST_WALD_F = 0, TEST_T = 1, TEST_CHISQUARE = 2, TEST_CHISQUARE_1DF = 3 };

enum MCPAdjustMethod : int {
    PADJ_LSD = 0,
    PADJ_BONFERRONI = 1,
    PADJ_SEQ_BONFERRONI = 2,
    PADJ_SIDAK = 3,
    PADJ_SEQ_SIDAK = 4
};

enum MCContrastType : int {
    CONTRAST_SIMPLE = 0,
    CONTRAST_DEVIATION = 1,
    CONTRAST_HELMERT = 2,
    CONTRAST_DIFFERENCE = 3,
    CONTRAST_REPEATED = 4,
    CONTRAST_POLYNOMIAL = 5,
    CONTRAST_PAIRWISE = 6
};

enum MCEffectAnalysisType : int {
    ANALYSIS_TYPE_I = 0,
    ANALYSIS_TYPE_III = 1,
    ANALYSIS_TYPE_I_AND_III = 2,
    ANALYSIS_NONE = 3
};

enum MCEmmScaleType : int { EMM_SCALE_ORIGINAL = 0, EMM_SCALE_TRANSFORMED = 1 };

enum MCCovbType : int { COVB_MODEL = 0, COVB_ROBUST = 1 };

// The estimator of a robust covariance: heteroskedasticity-consistent
// HC0 to HC3, or summed within the clusters of one or two columns.
enum MCRobustType : int {
    ROBUST_HC0 = 0,
    ROBUST_HC1 = 1,
    ROBUST_HC2 = 2,
    ROBUST_HC3 = 3,
    ROBUST_CLUSTER = 4
};

enum MCHessianCompMethod : int { HESSIAN_FISHER = 1, HESSIAN_NEWTON = 2, HESSIAN_HYBRID = 3 };

enum MCConvType : int { CONV_ABSOLUTE = 1, CONV_RELATIVE = 2 };

// How an iterative estimation ended.
enum MCConvergence : int {
    CONVERGENCE_NONE = 0,           // not converged: iterate again
    CONVERGENCE_LOGLIKELIHOOD = 1,  // the log-likelihood criterion was met
    CONVERGENCE_PARAMETERS = 2,     // the parameter criterion was met
    CONVERGENCE_BOTH = 3,
    CONVERGENCE_SINGULAR = 4,           // information singular or ill-conditioned
    CONVERGENCE_HALVING_EXHAUSTED = 5,  // no step-halving raised the log-likelihood
    CONVERGENCE_MAX_ITERATIONS = 6,
    CONVERGENCE_COMPLETE_SEPARATION = 7,
    CONVERGENCE_QUASI_SEPARATION = 8,
    CONVERGENCE_NOTHING_TO_ITERATE = 9
};

enum MCCategRef : int { CATEG_REF_HIGH = 0, CATEG_REF_LOW = 1, CATEG_REF_VALUE = 2 };

enum MCCategOrder : int {
    CATEG_ORDER_ASCENDING = 0,
    CATEG_ORDER_DESCENDING = 1,
    CATEG_ORDER_DATA = 2
};

enum MCOffsetType : int { OFFSET_NONE = 0, OFFSET_VARIABLE = 1, OFFSET_VALUE = 2 };

enum MCClassMissing : int { CLASS_MISSING_EXCLUDE = 0, CLASS_MISSING_INCLUDE = 1 };

enum MCDependentType : int {
    DEP_UNKNOWN = 0,
    DEP_SINGLE = 1,
    DEP_EVENTS_TRIALS = 2,
    DEP_EVENTS_CONST_TRIALS = 3
};

// Argument of GetModelFitStat: 0 and 1 are served by the general linear
// model, 2 to 4 by the multinomial logistic model.
enum MCModelFitStat : int {
    FIT_RMSE = 0,
    FIT_RSQUARE = 1,
    FIT_COX_SNELL = 2,
    FIT_NAGELKERKE = 3,
    FIT_MCFADDEN = 4
};

// Kept for the host with a marginal-means specification; the library reads
// no value of it, so only the default is named.
enum MCReferenceType : int { REFERENCE_DEFAULT = 0 };

// The text DisplayC appends to a label, e.g. " = Logit" for LINK_LOGIT, or
// the enumeration's fallback text for an unlisted value.
MCREG_API const char* GetText(MCVariableType v);
MCREG_API const char* GetText(LinkType v);
MCREG_API const char* GetText(DistType v);
MCREG_API const char* GetText(MCTestType v);
MCREG_API const char* GetText(MCPAdjustMethod v);
MCREG_API const char* GetText(MCContrastType v);
MCREG_API const char* GetText(MCEffectAnalysisType v);
MCREG_API const char* GetText(MCEmmScaleType v);
MCREG_API const char* GetText(MCCovbType v);
MCREG_API const char* GetText(MCRobustType v);
MCREG_API const char* GetText(MCHessianCompMethod v);
MCREG_API const char* GetText(MCConvType v);
MCREG_API const char* GetText(MCCategRef v);
MCREG_API const char* GetText(MCCategOrder v);
MCREG_API const char* GetText(MCOffsetType v);
MCREG_API const char* GetText(MCClassMissing v);
MCREG_API const char* GetText(MCDependentType v);

}  // namespace MCConst

namespace MCDisplay_850 {

// Prints the label followed by the value's text, e.g.
// DisplayC("Test type", MCConst::TEST_WALD_F) prints "Test type = Wald F test".
MCREG_API void DisplayC(const std::string& label, MCConst::MCVariableType v);
MCREG_API void DisplayC(const std::string& label, MCConst::LinkType v);
MCREG_API void DisplayC(const std::string& label, MCConst::DistType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCTestType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCPAdjustMethod v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCContrastType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCEffectAnalysisType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCEmmScaleType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCCovbType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCRobustType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCHessianCompMethod v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCConvType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCCategRef v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCCategOrder v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCOffsetType v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCClassMissing v);
MCREG_API void DisplayC(const std::string& label, MCConst::MCDependentType v);

}  // namespace MCDisplay_850
