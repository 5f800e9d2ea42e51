#pragma once
#include "link/IMCLinkFunc.h"

// The fifteen link functions. The ordinary links (types 0 to 9) give g, its
// inverse and g', g'' with respect to the mean. The cumulative links (types
// 10 to 14) keep g = F^-1 and its inverse F of the ordinary link of the same
// name, but their derivatives are F'(F^-1(p)) and F''(F^-1(p)), the
// derivatives of the cumulative distribution at the probability's quantile,
// which is what ordinal models need.
namespace MCMath_850 {

// g = ln(-ln(1 - mu)), 0 < mu < 1.
class MCLinkCompLog2 : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = mu.
class MCLinkIdentity : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = ln mu, mu > 0.
class MCLinkLog : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = ln(1 - mu), mu < 1.
class MCLinkLogComp : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = ln(mu / (1 - mu)), 0 < mu < 1.
class MCLinkLogit : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = ln(k mu / (k mu + 1)), mu > 0; k may be replaced by SetParam.
class MCLinkNegBinomial : public IMCLinkFunc {
public:
    explicit MCLinkNegBinomial(double k) : fK(k) {}
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
    void SetParam(double k) override { fK = k; }
    double GetParam() const { return fK; }

private:
    double fK;
};

// g = -ln(-ln mu), 0 < mu < 1.
class MCLinkNegLog2 : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = ((mu / (1 - mu))^alpha - 1) / alpha, or the logit for alpha = 0.
// alpha is fixed at construction.
class MCLinkOddsPower : public IMCLinkFunc {
public:
    explicit MCLinkOddsPower(double alpha) : fAlpha(alpha) {}
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
    double GetParam() const { return fAlpha; }

private:
    double fAlpha;
};

// g = mu^alpha, or ln mu for alpha = 0. alpha is fixed at construction.
class MCLinkPower : public IMCLinkFunc {
public:
    explicit MCLinkPower(double alpha) : fAlpha(alpha) {}
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
    double GetParam() const { return fAlpha; }

private:
    double fAlpha;
};

// g = Phi^-1(p), 0 < p < 1.
class MCLinkProbit : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

// g = tan((p - 1/2) pi), F the standard Cauchy distribution.
class MCLinkCumCauchit : public IMCLinkFunc {
public:
    double Compute(double mu, int* flag) const override;
    double GetInverseValue(double eta, int* flag) const override;
    double Get1stDerivativeValue(double mu, int* flag) const override;
    double Get2ndDerivativeValue(double mu, int* flag) const override;
};

class MCLinkCumCompLog2 : public MCLinkCompLog2 {
public:
    double Get1stDerivativeValue(double p, int* flag) const override;
    double Get2ndDerivativeValue(double p, int* flag) const override;
};

class MCLinkCumLogit : public MCLinkLogit {
public:
    double Get1stDerivativeValue(double p, int* flag) const override;
    double Get2ndDerivativeValue(double p, int* flag) const override;
};

class MCLinkCumNegLog2 : public MCLinkNegLog2 {
public:
    double Get1stDerivativeValue(double p, int* flag) const override;
    double Get2ndDerivativeValue(double p, int* flag) const override;
};

class MCLinkCumProbit : public MCLinkProbit {
public:
    double Get1stDerivativeValue(double p, int* flag) const override;
    double Get2ndDerivativeValue(double p, int* flag) const override;
};

}  // namespace MCMath_850
