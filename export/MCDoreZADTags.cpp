#include "export/MCDoreZADTags.h"

namespace MCDoreZADTags {

const std::string XML_ELE_PARAMESTIMATES = "ParameterEstimates";
const std::string XML_ELE_PARAMSTATS = "ParameterStats";
const std::string XML_ELE_REGRESSIONPARAM = "RegressionParameter";
const std::string XML_ATT_PARAMNAME = "paramName";
const std::string XML_ATT_PARAMLABEL = "paramLabel";
const std::string XML_ATT_ESTIMATE = "estimate";
const std::string XML_ATT_EXPESTIMATE = "expEstimate";
const std::string XML_ATT_STDERROR = "stdError";
const std::string XML_ATT_SIG = "sig";
const std::string XML_ATT_TTEST = "tTest";
const std::string XML_ATT_ZTEST = "zTest";
const std::string XML_ATT_CHISQUARE = "chiSquare";
const std::string XML_ATT_CONFINTERVALLOWER = "confIntervalLower";
const std::string XML_ATT_CONFINTERVALUPPER = "confIntervalUpper";
const std::string XML_ATT_EXPCILOWER = "expCILower";
const std::string XML_ATT_EXPCIUPPER = "expCIUpper";
const std::string XML_ATT_ISREDUNDANT = "isRedundant";
const std::string XML_ATT_ISINTERCEPT = "isIntercept";
const std::string XML_VAL_EFFECTSIZE = "effectSize";
const std::string XML_VAL_LOWERCIEFFECTSIZE = "lowerCIEffectSize";
const std::string XML_VAL_UPPERCIEFFECTSIZE = "upperCIEffectSize";
const std::string XML_VAL_FIXEDEFFECTINDEX = "fixedEffectIndex";

}  // namespace MCDoreZADTags
