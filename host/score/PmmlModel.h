#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "host/score/AliasingCheck.h"

namespace mchost {

// One input field of a model: a factor, matched by its categories, or a
// covariate, raised to the powers its parameters ask.
class ModelPredictor {
public:
    std::string fName;
    bool fbFactor = false;
    // A factor whose DataField holds numbers: its categories match by value
    // ("4" and "4.0" are one category).
    bool fbNumeric = false;
    // A factor's categories: the DataField's valid values, then those only
    // the PPMatrix names.
    std::vector<std::string> fvCategories;
    std::vector<double> fvCategoryNumbers;  // fbNumeric: each category's value
};

// What one parameter multiplies: the product of its cells, each a factor's
// indicator of one category or a covariate raised to a power. A parameter
// without cells (the intercept) is 1.
class ParameterCell {
public:
    int fPredictor = -1;
    int fCategory = -1;   // a factor's category
    double fPower = 0.0;  // a covariate's exponent
};

// The name of the GeneralRegressionModel's Extension (extender "mcreg")
// whose Values list the target categories in their tie precedence.
inline constexpr const char* kTiePrecedence = "tiePrecedence";
// The name of its Extension whose Aliased elements (a parameter) give the
// kept parameters (Kept: parameter and coefficient) each aliased one's
// column equals over the fit's data.
inline constexpr const char* kAliasedColumns = "aliasedColumns";

// A GeneralRegressionModel read from a PMML document: a linear model (one
// equation, identity link) or a multinomial logistic one (an equation per
// target category but the reference, whose logit is 0).
class PmmlModel {
public:
    enum Kind { kLinear, kMultinomial };

    Kind fKind = kLinear;
    std::string fModelType;  // as the document says
    std::string fTarget;
    std::vector<ModelPredictor> fvPredictors;
    std::vector<std::string> fvParameters;
    std::vector<std::vector<ParameterCell>> fvCells;  // per parameter
    // Multinomial: the categories with an equation, in ParamMatrix order,
    // and the reference. fvCategories lists them all in the order of the
    // target's DataField (equations first, then the reference, when it
    // does not list them all).
    std::vector<std::string> fvEquations;
    std::string fReference;
    std::vector<std::string> fvCategories;
    // Multinomial: which category is predicted when logits tie (lie within
    // rounding of each other): per category of fvCategories its precedence,
    // the lowest winning, as the document's tiePrecedence Extension gives
    // it. Empty: the first in fvCategories wins.
    std::vector<std::size_t> fvTiePrecedence;
    // Per equation, per parameter; a parameter without a PCell is 0.
    std::vector<std::vector<double>> fvBeta;
    // The covariance of the coefficients, equation-major
    // (equation * parameters + parameter), full and symmetric; empty when
    // the document has none.
    std::vector<double> fvCovariance;
    std::string fCovarianceType;
    // Whether the parameters of each term of factors name every combination
    // of categories the fit met, the redundant ones included, as this
    // program's own documents do (Header's Application "mcreg"). A record in
    // another combination lies where the fit had no data: its score would
    // be whatever the choice of redundant parameters made it. A document of
    // contrasts leaves a reference combination without a parameter by
    // design, so only these documents can tell.
    bool fbEveryObservedCell = false;
    // The columns of the parameters the fit left aliased, by the document's
    // aliasedColumns Extension; empty when it has none.
    std::vector<AliasedColumn> fvAliased;
    // From ModelStats' Anova "Error" row; NaN when the document has none.
    double fErrorMeanSquare;
    double fErrorDf;

    PmmlModel();
    std::size_t NCoefficients() const { return fvEquations.size() * fvParameters.size(); }
    bool HasCovariance() const { return !fvCovariance.empty(); }
    // The index of a category of the target, -1 when there is none.
    int CategoryIndex(const std::string& text) const;
};

// Reads a PMML document. Throws HostError (data) saying why a document
// cannot be scored: not well-formed (with the line and column), not PMML,
// another model than a supported GeneralRegressionModel, an element or
// attribute that changes the scores and that this reader does not
// implement, or references that do not resolve (naming them). source names
// the document in messages.
PmmlModel ReadPmmlModel(const std::string& text, const std::string& source);
PmmlModel ReadPmmlFile(const std::string& path);

}  // namespace mchost
