#include "settings/MCConst.h"

#include "companion/MCDisplay.h"

namespace MCConst {

namespace {

// Texts indexed by value - first; a null entry is a gap in the values.
template <std::size_t N>
const char* Lookup(int value, int first, const char* const (&texts)[N], const char* fallback) {
    const long long i = static_cast<long long>(value) - first;
    if (i < 0 || i >= static_cast<long long>(N) || texts[i] == nullptr) return fallback;
    return texts[i];
}

const char* const kUnrecognized = " = unrecognized";
const char* const kTypeUnrecognized = " = Type unrecognized";

}  // namespace

const char* GetText(MCVariableType v) {
    static const char* const texts[] = {" = Variable type unspecified (default)",
                                        " = Frequency Weight: positive int values",
                                        " = Regression Weight: positive values",
                                        " = Factor for any model, categorical",
                                        " = Covariate for any model, continuous",
                                        " = Dependent or Events variable",
                                        " = Offset Variable type",
                                        " = Trials variable in GZLM or GLMM",
                                        " = Subject variable",
                                        " = Spatial variable"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(LinkType v) {
    static const char* const texts[] = {" = Complementary log-log",
                                        " = Identity",
                                        " = Log",
                                        " = Log complement",
                                        " = Logit",
                                        " = Negative binomial",
                                        " = Negative log-log",
                                        " = Odds power",
                                        " = Power",
                                        " = Probit",
                                        " = Cumulative Cauchit",
                                        " = Cumulative complementary log-log",
                                        " = Cumulative logit",
                                        " = Cumulative negative log-log",
                                        " = Cumulative probit"};
    return Lookup(v, 0, texts, kTypeUnrecognized);
}

const char* GetText(DistType v) {
    static const char* const texts[] = {" = Normal",
                                        " = Binomial",
                                        " = Gamma",
                                        " = Inverse Gaussian",
                                        " = Negative binomial",
                                        " = Poisson",
                                        " = Ordinal Multinomial",
                                        " = Tweedie"};
    return Lookup(v, 0, texts, kTypeUnrecognized);
}

const char* GetText(MCTestType v) {
    static const char* const texts[] = {" = Wald F test", nullptr, " = Chi-Square test"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCPAdjustMethod v) {
    static const char* const texts[] = {" = Least significance difference", " = Bonferroni",
                                        " = Sequential Bonferroni", " = Sidak",
                                        " = Sequential Sidak"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCContrastType v) {
    static const char* const texts[] = {" = Simple Contrast",     " = Contrast by Deviation",
                                        " = Contrast by Helmert", " = Contrast by Difference",
                                        " = Contrast Repeated",   " = Contrast by Polynomial",
                                        " = Pairwise Contrast"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCEffectAnalysisType v) {
    static const char* const texts[] = {" = Analysis type I", " = Analysis type III",
                                        " = Both types I and III",
                                        " = Analysis type None (no effect analysis)"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCEmmScaleType v) {
    static const char* const texts[] = {" = Original", " = Transformed"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCCovbType v) {
    static const char* const texts[] = {" = Model", " = Robust"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCRobustType v) {
    static const char* const texts[] = {" = HC0", " = HC1", " = HC2", " = HC3", " = Cluster"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCHessianCompMethod v) {
    static const char* const texts[] = {" = Fisher scoring", " = Newton-Raphson", " = Hybrid"};
    return Lookup(v, 1, texts, kTypeUnrecognized);
}

const char* GetText(MCConvType v) {
    static const char* const texts[] = {" = Absolute convergence", " = Relative convergence"};
    return Lookup(v, 1, texts, kUnrecognized);
}

const char* GetText(MCCategRef v) {
    static const char* const texts[] = {" = High Category", " = Low Category",
                                        " = Category specified by value"};
    return Lookup(v, 0, texts, " = Category unrecognized");
}

const char* GetText(MCCategOrder v) {
    static const char* const texts[] = {" = Ascending", " = Descending", " = Data"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCOffsetType v) {
    static const char* const texts[] = {" = No offset", " = Offset variable", " = Offset value"};
    return Lookup(v, 0, texts, kTypeUnrecognized);
}

const char* GetText(MCClassMissing v) {
    static const char* const texts[] = {" = Exclude user missing in classification variables",
                                        " = Include user missing in classification variables"};
    return Lookup(v, 0, texts, kUnrecognized);
}

const char* GetText(MCDependentType v) {
    static const char* const texts[] = {" = Unknown type", " = Single variable",
                                        " = Pair of variables: events and trials",
                                        " = Events variable and constant trials"};
    return Lookup(v, 0, texts, kTypeUnrecognized);
}

}  // namespace MCConst

namespace MCDisplay_850 {

#define MCREG_DISPLAYC(TYPE)                                   \
    void DisplayC(const std::string& label, MCConst::TYPE v) { \
        DisplayText(label + MCConst::GetText(v));              \
    }

MCREG_DISPLAYC(MCVariableType)
MCREG_DISPLAYC(LinkType)
MCREG_DISPLAYC(DistType)
MCREG_DISPLAYC(MCTestType)
MCREG_DISPLAYC(MCPAdjustMethod)
MCREG_DISPLAYC(MCContrastType)
MCREG_DISPLAYC(MCEffectAnalysisType)
MCREG_DISPLAYC(MCEmmScaleType)
MCREG_DISPLAYC(MCCovbType)
MCREG_DISPLAYC(MCRobustType)
MCREG_DISPLAYC(MCHessianCompMethod)
MCREG_DISPLAYC(MCConvType)
MCREG_DISPLAYC(MCCategRef)
MCREG_DISPLAYC(MCCategOrder)
MCREG_DISPLAYC(MCOffsetType)
MCREG_DISPLAYC(MCClassMissing)
MCREG_DISPLAYC(MCDependentType)

#undef MCREG_DISPLAYC

}  // namespace MCDisplay_850
