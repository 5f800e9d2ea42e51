#pragma once
#include <string>

// Element, attribute and value names of the regression parameter elements of
// DoreZAD statistics documents. The "df" attribute is shared with PMML and
// lives in MCPMMLTags.
namespace MCDoreZADTags {

extern const std::string XML_ELE_PARAMESTIMATES;
extern const std::string XML_ELE_PARAMSTATS;
extern const std::string XML_ELE_REGRESSIONPARAM;
extern const std::string XML_ATT_PARAMNAME;
extern const std::string XML_ATT_PARAMLABEL;
extern const std::string XML_ATT_ESTIMATE;
extern const std::string XML_ATT_EXPESTIMATE;
extern const std::string XML_ATT_STDERROR;
extern const std::string XML_ATT_SIG;
extern const std::string XML_ATT_TTEST;
extern const std::string XML_ATT_ZTEST;
extern const std::string XML_ATT_CHISQUARE;
extern const std::string XML_ATT_CONFINTERVALLOWER;
extern const std::string XML_ATT_CONFINTERVALUPPER;
extern const std::string XML_ATT_EXPCILOWER;
extern const std::string XML_ATT_EXPCIUPPER;
extern const std::string XML_ATT_ISREDUNDANT;
extern const std::string XML_ATT_ISINTERCEPT;
extern const std::string XML_VAL_EFFECTSIZE;
extern const std::string XML_VAL_LOWERCIEFFECTSIZE;
extern const std::string XML_VAL_UPPERCIEFFECTSIZE;
extern const std::string XML_VAL_FIXEDEFFECTINDEX;

}  // namespace MCDoreZADTags
