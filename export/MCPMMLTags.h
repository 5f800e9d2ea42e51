#pragma once
#include <string>

// Element, attribute and value names of PMML documents, initialised when the
// library is loaded.
namespace MCPMMLTags {

// Document skeleton.
extern const std::string XML_ELE_PMML;
extern const std::string XML_ATT_VERSION;
extern const std::string XML_VAL_PMMLVERSION32;
extern const std::string XML_VAL_PMMLVERSION40;
extern const std::string XML_VAL_PMMLVERSION41;
// Carries "4.3", the newest version written.
extern const std::string XML_VAL_PMMLVERSION42;
extern const std::string XML_ATT_XMLNS;
extern const std::string XML_VAL_XMLNS32;
extern const std::string XML_VAL_XMLNS40;
extern const std::string XML_VAL_XMLNS41;
extern const std::string XML_VAL_XMLNS43;
extern const std::string XML_ATT_XMLNSXSI;
extern const std::string XML_VAL_XMLNSXSI;
extern const std::string XML_ATT_SCHEMALOCATION;
extern const std::string XML_VAL_SCHEMALOCATION32;
extern const std::string XML_VAL_SCHEMALOCATION40;
extern const std::string XML_VAL_SCHEMALOCATION41;
extern const std::string XML_VAL_SCHEMALOCATION43;
extern const std::string XML_ELE_HEADER;
extern const std::string XML_ATT_COPYRIGHT;
extern const std::string XML_ATT_DESCRIPTION;
extern const std::string XML_ELE_APPLICATION;
extern const std::string XML_ELE_ANNOTATION;
extern const std::string XML_ELE_TIMESTAMP;
extern const std::string XML_ELE_DATADICTIONARY;
extern const std::string XML_ATT_NUMBEROFFIELDS;
extern const std::string XML_ELE_DATAFIELD;
extern const std::string XML_ATT_OPTYPE;
extern const std::string XML_VAL_CATEGORICAL;
extern const std::string XML_VAL_CONTINUOUS;
extern const std::string XML_VAL_ORDINAL;
extern const std::string XML_ATT_DATATYPE;
extern const std::string XML_ELE_VALUE;
extern const std::string XML_ATT_DISPLAYVALUE;
extern const std::string XML_ATT_PROPERTY;
extern const std::string XML_VAL_MISSING;
extern const std::string XML_VAL_VALID;
extern const std::string XML_VAL_INVALID;
extern const std::string XML_ELE_EXTENSION;
extern const std::string XML_ATT_EXTENDER;
extern const std::string XML_ELE_GENERALREGRESSIONMODEL;
extern const std::string XML_ATT_MODELTYPE;
extern const std::string XML_VAL_GENERALLINEAR;
extern const std::string XML_VAL_MULTINOMIALLOGISTIC;
extern const std::string XML_VAL_ORDINALMULTINOMIAL;
extern const std::string XML_VAL_GENERALIZEDLINEAR;
extern const std::string XML_VAL_COXREGRESSION;
extern const std::string XML_ATT_TARGETREFERENCECATEGORY;
extern const std::string XML_ATT_MODELDF;
extern const std::string XML_ATT_FUNCTIONNAME;
extern const std::string XML_VAL_CLASSIFICATION;
extern const std::string XML_VAL_REGRESSION;
extern const std::string XML_ATT_MODELNAME;
extern const std::string XML_ATT_ALGORITHMNAME;

// Mining schema.
extern const std::string XML_ELE_MININGSCHEMA;
extern const std::string XML_ELE_MININGFIELD;
extern const std::string XML_ATT_NAME;
extern const std::string XML_ATT_IMPORTANCE;
extern const std::string XML_ATT_MININGFIELDUSE;
extern const std::string XML_VAL_MININGFIELDPRED;

// Parameters and predictors.
extern const std::string XML_ELE_PARAMETERLIST;
extern const std::string XML_ELE_PARAMETER;
extern const std::string XML_ATT_LABEL;
extern const std::string XML_ELE_FACTORLIST;
extern const std::string XML_ELE_COVARIATELIST;
extern const std::string XML_ELE_PREDICTOR;
extern const std::string XML_ELE_PPMATRIX;
extern const std::string XML_ELE_PPCELL;
extern const std::string XML_ATT_VALUE;
extern const std::string XML_ATT_PREDICTORNAME;
extern const std::string XML_ATT_PARAMETERNAME;
extern const std::string XML_ELE_PARAMMATRIX;
extern const std::string XML_ELE_PCELL;
extern const std::string XML_ATT_TARGETCATEGORY;
extern const std::string XML_ATT_BETA;
// Degrees of freedom: written on PMML parameter cells and on the compact
// DoreZAD parameter statistics.
extern const std::string XML_ATT_DF;
extern const std::string XML_ELE_PCOVMATRIX;
extern const std::string XML_ELE_PCOVCELL;
extern const std::string XML_ATT_TYPE;
extern const std::string XML_VAL_MODEL;
extern const std::string XML_VAL_ROBUST;
extern const std::string XML_ATT_PROW;
extern const std::string XML_ATT_PCOL;
extern const std::string XML_ATT_TROW;
extern const std::string XML_ATT_TCOL;

// Model statistics.
extern const std::string XML_ELE_MODELSTATS;
extern const std::string XML_ELE_UNIVARIATESTATS;
extern const std::string XML_ATT_FIELD;
extern const std::string XML_ELE_MODELANOVA;
extern const std::string XML_ELE_MODELANOVAROW;
extern const std::string XML_ATT_SUMOFSQUARES;
extern const std::string XML_ATT_DEGREEESOFREEDOM;
extern const std::string XML_ATT_MEANSOFSQUARES;
extern const std::string XML_ATT_FVALUE;
extern const std::string XML_ATT_PVALUE;
extern const std::string XML_VAL_ANOVAMODEL;
extern const std::string XML_VAL_ANOVAERROR;
extern const std::string XML_VAL_ANOVATOTAL;
extern const std::string XML_ELE_COUNTS;
extern const std::string XML_ATT_TOTALFREQ;
extern const std::string XML_ATT_MISSINGFREQ;
extern const std::string XML_ATT_INVALIDFREQ;
extern const std::string XML_ELE_NUMERICINFO;
extern const std::string XML_ATT_MINIMUM;
extern const std::string XML_ATT_MAXIMUM;
extern const std::string XML_ATT_MEAN;
extern const std::string XML_ATT_STANDARDDEVIATION;
extern const std::string XML_ATT_MEDIAN;
extern const std::string XML_ATT_INTERQUARTILERANGE;
extern const std::string XML_ELE_DISCRSTATS;
extern const std::string XML_ELE_ARRAY;
extern const std::string XML_ATT_N;
extern const std::string XML_VAL_STRING;
extern const std::string XML_VAL_INT;
extern const std::string XML_VAL_REAL;

}  // namespace MCPMMLTags
