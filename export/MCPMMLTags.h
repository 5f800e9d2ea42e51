#pragma once
#include <string>

#include "companion/MCExport.h"

// Element, attribute and value names of PMML documents, initialised when the
// library is loaded.
namespace MCPMMLTags {

// Document skeleton.
extern MCREG_API const std::string XML_ELE_PMML;
extern MCREG_API const std::string XML_ATT_VERSION;
extern MCREG_API const std::string XML_VAL_PMMLVERSION32;
extern MCREG_API const std::string XML_VAL_PMMLVERSION40;
extern MCREG_API const std::string XML_VAL_PMMLVERSION41;
// Carries "4.3", the newest version written.
extern MCREG_API const std::string XML_VAL_PMMLVERSION42;
extern MCREG_API const std::string XML_ATT_XMLNS;
extern MCREG_API const std::string XML_VAL_XMLNS32;
extern MCREG_API const std::string XML_VAL_XMLNS40;
extern MCREG_API const std::string XML_VAL_XMLNS41;
extern MCREG_API const std::string XML_VAL_XMLNS43;
extern MCREG_API const std::string XML_ATT_XMLNSXSI;
extern MCREG_API const std::string XML_VAL_XMLNSXSI;
extern MCREG_API const std::string XML_ATT_SCHEMALOCATION;
extern MCREG_API const std::string XML_VAL_SCHEMALOCATION32;
extern MCREG_API const std::string XML_VAL_SCHEMALOCATION40;
extern MCREG_API const std::string XML_VAL_SCHEMALOCATION41;
extern MCREG_API const std::string XML_VAL_SCHEMALOCATION43;
extern MCREG_API const std::string XML_ELE_HEADER;
extern MCREG_API const std::string XML_ATT_COPYRIGHT;
extern MCREG_API const std::string XML_ATT_DESCRIPTION;
extern MCREG_API const std::string XML_ELE_APPLICATION;
extern MCREG_API const std::string XML_ELE_ANNOTATION;
extern MCREG_API const std::string XML_ELE_TIMESTAMP;
extern MCREG_API const std::string XML_ELE_DATADICTIONARY;
extern MCREG_API const std::string XML_ATT_NUMBEROFFIELDS;
extern MCREG_API const std::string XML_ELE_DATAFIELD;
extern MCREG_API const std::string XML_ATT_OPTYPE;
extern MCREG_API const std::string XML_VAL_CATEGORICAL;
extern MCREG_API const std::string XML_VAL_CONTINUOUS;
extern MCREG_API const std::string XML_VAL_ORDINAL;
extern MCREG_API const std::string XML_ATT_DATATYPE;
extern MCREG_API const std::string XML_ELE_VALUE;
extern MCREG_API const std::string XML_ATT_DISPLAYVALUE;
extern MCREG_API const std::string XML_ATT_PROPERTY;
extern MCREG_API const std::string XML_VAL_MISSING;
extern MCREG_API const std::string XML_VAL_VALID;
extern MCREG_API const std::string XML_VAL_INVALID;
extern MCREG_API const std::string XML_ELE_EXTENSION;
extern MCREG_API const std::string XML_ATT_EXTENDER;
extern MCREG_API const std::string XML_ELE_GENERALREGRESSIONMODEL;
extern MCREG_API const std::string XML_ATT_MODELTYPE;
extern MCREG_API const std::string XML_VAL_GENERALLINEAR;
extern MCREG_API const std::string XML_VAL_MULTINOMIALLOGISTIC;
extern MCREG_API const std::string XML_VAL_ORDINALMULTINOMIAL;
extern MCREG_API const std::string XML_VAL_GENERALIZEDLINEAR;
extern MCREG_API const std::string XML_VAL_COXREGRESSION;
extern MCREG_API const std::string XML_ATT_TARGETREFERENCECATEGORY;
extern MCREG_API const std::string XML_ATT_MODELDF;
extern MCREG_API const std::string XML_ATT_FUNCTIONNAME;
extern MCREG_API const std::string XML_VAL_CLASSIFICATION;
extern MCREG_API const std::string XML_VAL_REGRESSION;
extern MCREG_API const std::string XML_ATT_MODELNAME;
extern MCREG_API const std::string XML_ATT_ALGORITHMNAME;

// Mining schema.
extern MCREG_API const std::string XML_ELE_MININGSCHEMA;
extern MCREG_API const std::string XML_ELE_MININGFIELD;
extern MCREG_API const std::string XML_ATT_NAME;
extern MCREG_API const std::string XML_ATT_IMPORTANCE;
extern MCREG_API const std::string XML_ATT_MININGFIELDUSE;
extern MCREG_API const std::string XML_VAL_MININGFIELDPRED;

// Parameters and predictors.
extern MCREG_API const std::string XML_ELE_PARAMETERLIST;
extern MCREG_API const std::string XML_ELE_PARAMETER;
extern MCREG_API const std::string XML_ATT_LABEL;
extern MCREG_API const std::string XML_ELE_FACTORLIST;
extern MCREG_API const std::string XML_ELE_COVARIATELIST;
extern MCREG_API const std::string XML_ELE_PREDICTOR;
extern MCREG_API const std::string XML_ELE_PPMATRIX;
extern MCREG_API const std::string XML_ELE_PPCELL;
extern MCREG_API const std::string XML_ATT_VALUE;
extern MCREG_API const std::string XML_ATT_PREDICTORNAME;
extern MCREG_API const std::string XML_ATT_PARAMETERNAME;
extern MCREG_API const std::string XML_ELE_PARAMMATRIX;
extern MCREG_API const std::string XML_ELE_PCELL;
extern MCREG_API const std::string XML_ATT_TARGETCATEGORY;
extern MCREG_API const std::string XML_ATT_BETA;
// Degrees of freedom: written on PMML parameter cells and on the compact
// DoreZAD parameter statistics.
extern MCREG_API const std::string XML_ATT_DF;
extern MCREG_API const std::string XML_ELE_PCOVMATRIX;
extern MCREG_API const std::string XML_ELE_PCOVCELL;
extern MCREG_API const std::string XML_ATT_TYPE;
extern MCREG_API const std::string XML_VAL_MODEL;
extern MCREG_API const std::string XML_VAL_ROBUST;
extern MCREG_API const std::string XML_ATT_PROW;
extern MCREG_API const std::string XML_ATT_PCOL;
extern MCREG_API const std::string XML_ATT_TROW;
extern MCREG_API const std::string XML_ATT_TCOL;

// Model statistics.
extern MCREG_API const std::string XML_ELE_MODELSTATS;
extern MCREG_API const std::string XML_ELE_UNIVARIATESTATS;
extern MCREG_API const std::string XML_ATT_FIELD;
extern MCREG_API const std::string XML_ELE_MODELANOVA;
extern MCREG_API const std::string XML_ELE_MODELANOVAROW;
extern MCREG_API const std::string XML_ATT_SUMOFSQUARES;
extern MCREG_API const std::string XML_ATT_DEGREEESOFREEDOM;
extern MCREG_API const std::string XML_ATT_MEANSOFSQUARES;
extern MCREG_API const std::string XML_ATT_FVALUE;
extern MCREG_API const std::string XML_ATT_PVALUE;
extern MCREG_API const std::string XML_VAL_ANOVAMODEL;
extern MCREG_API const std::string XML_VAL_ANOVAERROR;
extern MCREG_API const std::string XML_VAL_ANOVATOTAL;
extern MCREG_API const std::string XML_ELE_COUNTS;
extern MCREG_API const std::string XML_ATT_TOTALFREQ;
extern MCREG_API const std::string XML_ATT_MISSINGFREQ;
extern MCREG_API const std::string XML_ATT_INVALIDFREQ;
extern MCREG_API const std::string XML_ELE_NUMERICINFO;
extern MCREG_API const std::string XML_ATT_MINIMUM;
extern MCREG_API const std::string XML_ATT_MAXIMUM;
extern MCREG_API const std::string XML_ATT_MEAN;
extern MCREG_API const std::string XML_ATT_STANDARDDEVIATION;
extern MCREG_API const std::string XML_ATT_MEDIAN;
extern MCREG_API const std::string XML_ATT_INTERQUARTILERANGE;
extern MCREG_API const std::string XML_ELE_DISCRSTATS;
extern MCREG_API const std::string XML_ELE_ARRAY;
extern MCREG_API const std::string XML_ATT_N;
extern MCREG_API const std::string XML_VAL_STRING;
extern MCREG_API const std::string XML_VAL_INT;
extern MCREG_API const std::string XML_VAL_REAL;

}  // namespace MCPMMLTags
