#pragma once
#include "companion/MCExport.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// A link function g between a mean (mostly a probability) and the linear
// predictor, with the derivatives that the delta method needs.
//
// Every computing operation takes its argument and a status flag pointer and
// returns the value, or the system-missing value when there is none. Unless
// the pointer is null it receives
//   0  value computed,
//   1  argument outside the domain (result missing, or 0 at a boundary),
//   2  numerical failure (overflow guard, or a missing power, exponent or
//      normal quantile),
//   3  the computed mean falls outside its valid range (result missing).
// A missing argument is outside every domain (code 1; the power link reports
// every failure with code 2). Nothing throws.
class MCREG_API IMCLinkFunc {
public:
    virtual ~IMCLinkFunc() = default;

    // g(mu): from the mean to the linear predictor.
    virtual double Compute(double mu, int* flag) const = 0;
    // g^-1(eta): from the linear predictor back to the mean.
    virtual double GetInverseValue(double eta, int* flag) const = 0;
    // g'(mu) for the ordinary links; for the cumulative links F'(F^-1(p)),
    // the derivative of the inverse link, expressed through the probability.
    virtual double Get1stDerivativeValue(double mu, int* flag) const = 0;
    // g''(mu), or F''(F^-1(p)) for the cumulative links.
    virtual double Get2ndDerivativeValue(double mu, int* flag) const = 0;
    // Replaces the link parameter where the link allows it; a no-op otherwise.
    virtual void SetParam(double /*param*/) {}

protected:
    IMCLinkFunc() = default;
    IMCLinkFunc(const IMCLinkFunc&) = default;
    IMCLinkFunc& operator=(const IMCLinkFunc&) = default;
};

// A new link of the given type, owned by the caller; null for an unknown
// type (or when it cannot be allocated). param is the negative binomial k or
// the power-link alpha (types 5, 7 and 8) and is ignored by the other types.
MCREG_API IMCLinkFunc* CreateLinkFunction(MCConst::LinkType type, double param);

}  // namespace MCMath_850
