#include "link/MCLinkFunctions.h"

#include <cmath>
#include <new>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDistFun.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"

namespace MCMath_850 {

namespace {

using MCCommon_850::MCMV;

// Exponential guards: above kExpHigh e^x is treated as overflow, below
// kExpLow as underflow to 0.
constexpr double kExpLow = -708.0;
constexpr double kExpHigh = 709.0;
constexpr double kHalfLog2Pi = 0.9189385332046727;  // ln(2 pi) / 2
constexpr double kLog2Pi = 1.8378770664093453;      // ln(2 pi)
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

constexpr int kOK = 0;
constexpr int kDomain = 1;
constexpr int kNumeric = 2;
constexpr int kRange = 3;

double Report(int* flag, int code, double value) {
    if (flag) *flag = code;
    return value;
}

double Fail(int* flag, int code) {
    return Report(flag, code, MCMV::Missing());
}

// A value that overflowed on the way (a division by a subnormal, say) is a
// numerical failure rather than a result.
double Done(int* flag, double value) {
    if (!std::isfinite(value) || MCMV::IsMissing(value)) return Fail(flag, kNumeric);
    return Report(flag, kOK, value);
}

// A mean that must be a probability.
double DoneProbability(int* flag, double value) {
    if (!(value >= 0.0 && value <= 1.0)) return Fail(flag, kRange);
    return Report(flag, kOK, value);
}

bool IsBad(double x) {
    return std::isnan(x) || MCMV::IsMissing(x);
}
bool IsOpenUnit(double p) {
    return p > 0.0 && 1.0 - p > 0.0;
}

// base^-2 through the guarded power; false when it is not representable.
bool InverseSquare(double base, double& out) {
    return MCPower::Power(base, -2.0, out) && !MCMV::IsMissing(out);
}

// The boundary rule of the cumulative derivatives: the density vanishes at
// p = 0 and p = 1, reported as 0 with the domain code; anything else
// outside (0, 1) has no value. Returns true when the argument was handled.
bool CumulativeBoundary(double p, int* flag, double& result) {
    if (IsBad(p)) {
        result = Fail(flag, kDomain);
        return true;
    }
    if (p == 0.0 || p == 1.0) {
        result = Report(flag, kDomain, 0.0);
        return true;
    }
    if (!IsOpenUnit(p)) {
        result = Fail(flag, kDomain);
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Complementary log-log: g = ln(-ln(1 - mu)).

double MCLinkCompLog2::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, std::log(-std::log1p(-mu)));
}

double MCLinkCompLog2::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    if (eta < kExpLow) return Report(flag, kOK, 0.0);
    if (eta > kExpHigh) return Report(flag, kOK, 1.0);
    const double s = std::exp(eta);
    if (s > 708.0) return Report(flag, kOK, 1.0);
    return DoneProbability(flag, -std::expm1(-s));
}

double MCLinkCompLog2::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, 1.0 / ((mu - 1.0) * std::log1p(-mu)));
}

double MCLinkCompLog2::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    const double l = std::log1p(-mu);
    double inv;
    if (!InverseSquare((mu - 1.0) * l, inv)) return Fail(flag, kNumeric);
    return Done(flag, -(1.0 + l) * inv);
}

// ---------------------------------------------------------------------------
// Identity.

double MCLinkIdentity::Compute(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kDomain);
    return Report(flag, kOK, mu);
}

double MCLinkIdentity::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    return Report(flag, kOK, eta);
}

double MCLinkIdentity::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kDomain);
    return Report(flag, kOK, 1.0);
}

double MCLinkIdentity::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kDomain);
    return Report(flag, kOK, 0.0);
}

// ---------------------------------------------------------------------------
// Log: g = ln mu.

double MCLinkLog::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    return Done(flag, std::log(mu));
}

double MCLinkLog::GetInverseValue(double eta, int* flag) const {
    if (MCMV::IsMissing(eta)) return Fail(flag, kDomain);
    if (eta < kExpLow) return Report(flag, kOK, 0.0);
    if (eta > kExpHigh || std::isnan(eta)) return Fail(flag, kNumeric);
    return Done(flag, std::exp(eta));
}

double MCLinkLog::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    return Done(flag, 1.0 / mu);
}

double MCLinkLog::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    double inv;
    if (!InverseSquare(mu, inv)) return Fail(flag, kNumeric);
    return Done(flag, -inv);
}

// ---------------------------------------------------------------------------
// Log complement: g = ln(1 - mu).

double MCLinkLogComp::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !(1.0 - mu > 0.0)) return Fail(flag, kDomain);
    return Done(flag, std::log1p(-mu));
}

double MCLinkLogComp::GetInverseValue(double eta, int* flag) const {
    if (MCMV::IsMissing(eta)) return Fail(flag, kDomain);
    if (eta < kExpLow) return Report(flag, kOK, 1.0);
    if (eta > kExpHigh || std::isnan(eta)) return Fail(flag, kNumeric);
    const double mu = -std::expm1(eta);
    if (mu > 1.0) return Fail(flag, kRange);
    return Done(flag, mu);
}

double MCLinkLogComp::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(1.0 - mu > 0.0)) return Fail(flag, kDomain);
    return Done(flag, -1.0 / (1.0 - mu));
}

double MCLinkLogComp::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(1.0 - mu > 0.0)) return Fail(flag, kDomain);
    double inv;
    if (!InverseSquare(1.0 - mu, inv)) return Fail(flag, kNumeric);
    return Done(flag, -inv);
}

// ---------------------------------------------------------------------------
// Logit: g = ln(mu / (1 - mu)).

double MCLinkLogit::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, std::log(mu / (1.0 - mu)));
}

double MCLinkLogit::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    if (eta > kExpHigh) return Report(flag, kOK, 1.0);
    if (eta < kExpLow) return Report(flag, kOK, 0.0);
    const double e = std::exp(eta);
    return Report(flag, kOK, e / (e + 1.0));
}

double MCLinkLogit::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, 1.0 / (mu * (1.0 - mu)));
}

double MCLinkLogit::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    double inv;
    if (!InverseSquare(mu * (1.0 - mu), inv)) return Fail(flag, kNumeric);
    return Done(flag, (2.0 * mu - 1.0) * inv);
}

// ---------------------------------------------------------------------------
// Negative binomial: g = ln(k mu / (k mu + 1)).

double MCLinkNegBinomial::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    const double km = fK * mu;
    const double ratio = km / (km + 1.0);
    if (!(ratio > 0.0)) return Fail(flag, kDomain);
    return Done(flag, std::log(ratio));
}

double MCLinkNegBinomial::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    double mu = MCMV::Missing();
    if (eta > kExpHigh) {
        mu = -1.0 / fK;
    } else if (eta < kExpLow) {
        mu = 0.0;
    } else {
        const double t = std::exp(eta);
        if (t != 1.0) mu = t / (1.0 - t) / fK;
    }
    if (MCMV::IsMissing(mu) || std::isnan(mu)) return Fail(flag, kDomain);
    // A non-negative eta (for k > 0) has no mean: it would be negative.
    if (mu < 0.0) return Fail(flag, kRange);
    if (!std::isfinite(mu)) return Fail(flag, kDomain);  // k = 0
    return Report(flag, kOK, mu);
}

double MCLinkNegBinomial::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    return Done(flag, 1.0 / ((fK * mu + 1.0) * mu));
}

double MCLinkNegBinomial::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !(mu > 0.0)) return Fail(flag, kDomain);
    double inv;
    if (!InverseSquare((fK * mu + 1.0) * mu, inv)) return Fail(flag, kNumeric);
    return Done(flag, -(2.0 * fK * mu + 1.0) * inv);
}

// ---------------------------------------------------------------------------
// Negative log-log: g = -ln(-ln mu).

double MCLinkNegLog2::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, -std::log(-std::log(mu)));
}

double MCLinkNegLog2::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    // The guards mirror those of the complementary log-log, as e^-eta is
    // what is exponentiated.
    if (eta > 708.0) return Report(flag, kOK, 1.0);
    if (eta < -709.0) return Report(flag, kOK, 0.0);
    const double s = std::exp(-eta);
    if (s > 708.0) return Report(flag, kOK, 0.0);
    return DoneProbability(flag, std::exp(-s));
}

double MCLinkNegLog2::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, -1.0 / (mu * std::log(mu)));
}

double MCLinkNegLog2::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    const double l = std::log(mu);
    double inv;
    if (!InverseSquare(mu * l, inv)) return Fail(flag, kNumeric);
    return Done(flag, (l + 1.0) * inv);
}

// ---------------------------------------------------------------------------
// Odds power: g = (o^alpha - 1) / alpha with o = mu / (1 - mu); the logit
// is its limit at alpha = 0.

double MCLinkOddsPower::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    const double o = mu / (1.0 - mu);
    if (fAlpha == 0.0) return Done(flag, std::log(o));
    double oa;
    if (!MCPower::Power(o, fAlpha, oa)) return Fail(flag, kNumeric);
    return Done(flag, (oa - 1.0) / fAlpha);
}

double MCLinkOddsPower::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    double t;
    if (fAlpha == 0.0) {
        if (!MCPower::Exponent(eta, t)) return Fail(flag, kDomain);
    } else if (!MCPower::Power(fAlpha * eta + 1.0, 1.0 / fAlpha, t)) {
        return Fail(flag, kNumeric);
    }
    return DoneProbability(flag, t / (t + 1.0));
}

double MCLinkOddsPower::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    const double v = mu * (1.0 - mu);
    if (fAlpha == 0.0) return Done(flag, 1.0 / v);
    double oa;
    if (!MCPower::Power(mu / (1.0 - mu), fAlpha, oa)) return Fail(flag, kNumeric);
    return Done(flag, oa / v);
}

double MCLinkOddsPower::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    const double v = mu * (1.0 - mu);
    if (fAlpha == 0.0) {
        double inv;
        if (!InverseSquare(v, inv)) return Fail(flag, kNumeric);
        return Done(flag, (2.0 * mu - 1.0) * inv);
    }
    double oa;
    if (!MCPower::Power(mu / (1.0 - mu), fAlpha, oa)) return Fail(flag, kNumeric);
    return Done(flag, (oa / v) * ((fAlpha - 1.0) / mu + (fAlpha + 1.0) / (1.0 - mu)));
}

// ---------------------------------------------------------------------------
// Power: g = mu^alpha, or ln mu for alpha = 0. Every failure of this link,
// including an argument outside the domain, reports the numerical code.

double MCLinkPower::Compute(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kNumeric);
    if (fAlpha == 0.0) {
        if (!(mu > 0.0)) return Fail(flag, kNumeric);
        return Done(flag, std::log(mu));
    }
    double r;
    if (!MCPower::Power(mu, fAlpha, r)) return Fail(flag, kNumeric);
    return Done(flag, r);
}

double MCLinkPower::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kNumeric);
    double r;
    if (fAlpha == 0.0) {
        if (!MCPower::Exponent(eta, r)) return Fail(flag, kNumeric);
        return Done(flag, r);
    }
    // An odd whole alpha has a real root of a negative eta; Power alone would
    // refuse the fractional exponent 1/alpha.
    const bool oddWhole = fAlpha == std::floor(fAlpha) && fAlpha <= MCPower::gMachineMaxInt &&
                          std::floor(fAlpha / 2.0 + 0.5) == fAlpha / 2.0 + 0.5;
    if (oddWhole && eta < 0.0) {
        if (!MCPower::Power(-eta, 1.0 / fAlpha, r)) return Fail(flag, kNumeric);
        return Done(flag, -r);
    }
    if (!MCPower::Power(eta, 1.0 / fAlpha, r)) return Fail(flag, kNumeric);
    return Done(flag, r);
}

double MCLinkPower::Get1stDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kNumeric);
    if (fAlpha == 0.0) {
        if (mu == 0.0) return Fail(flag, kNumeric);
        return Done(flag, 1.0 / mu);
    }
    double r;
    if (!MCPower::Power(mu, fAlpha - 1.0, r)) return Fail(flag, kNumeric);
    return Done(flag, fAlpha * r);
}

double MCLinkPower::Get2ndDerivativeValue(double mu, int* flag) const {
    if (IsBad(mu)) return Fail(flag, kNumeric);
    if (fAlpha == 0.0 || fAlpha == 1.0) {
        if (mu == 0.0) return Fail(flag, kNumeric);
        if (fAlpha == 1.0) return Report(flag, kOK, 0.0);
        double inv;
        if (!InverseSquare(mu, inv)) return Fail(flag, kNumeric);
        return Done(flag, -inv);
    }
    double r;
    if (!MCPower::Power(mu, fAlpha - 2.0, r)) return Fail(flag, kNumeric);
    return Done(flag, fAlpha * (fAlpha - 1.0) * r);
}

// ---------------------------------------------------------------------------
// Probit: g = Phi^-1(p).

double MCLinkProbit::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    return Done(flag, MCDistFun::IdfStdNorm(mu));
}

double MCLinkProbit::GetInverseValue(double eta, int* flag) const {
    if (MCMV::IsMissing(eta)) return Fail(flag, kDomain);
    const double p = MCDistFun::CdfStdNorm(eta);
    if (MCMV::IsMissing(p) || std::isnan(p)) return Fail(flag, kNumeric);
    return DoneProbability(flag, p);
}

// g' = 1 / phi(z) = e^(z^2/2 + ln(2 pi)/2).
double MCLinkProbit::Get1stDerivativeValue(double mu, int* flag) const {
    double r;
    if (CumulativeBoundary(mu, flag, r)) return r;
    const double z = MCDistFun::IdfStdNorm(mu);
    if (MCMV::IsMissing(z)) return Fail(flag, kNumeric);
    const double x = z * z / 2.0 + kHalfLog2Pi;
    if (!(x <= kExpHigh)) return Fail(flag, kNumeric);
    return Done(flag, std::exp(x));
}

// g'' = z / phi(z)^2 = sign(z) e^(ln|z| + ln(2 pi) + z^2); 0 at the median.
double MCLinkProbit::Get2ndDerivativeValue(double mu, int* flag) const {
    double r;
    if (CumulativeBoundary(mu, flag, r)) return r;
    const double z = MCDistFun::IdfStdNorm(mu);
    if (MCMV::IsMissing(z)) return Fail(flag, kNumeric);
    const double x = std::log(std::fabs(z)) + kLog2Pi + z * z;
    if (x > kExpHigh || std::isnan(x)) return Fail(flag, kNumeric);
    if (x < kExpLow) return Report(flag, kOK, 0.0);
    const double e = std::exp(x);
    return Done(flag, z < 0.0 ? -e : e);
}

// ---------------------------------------------------------------------------
// Cumulative Cauchit: F(eta) = atan(eta) / pi + 1/2. Near the ends of (0, 1)
// the quantile and density are evaluated through the distance to the nearer
// end, which keeps their relative accuracy where (p - 1/2) pi would round to
// +-pi/2.

double MCLinkCumCauchit::Compute(double mu, int* flag) const {
    if (IsBad(mu) || !IsOpenUnit(mu)) return Fail(flag, kDomain);
    if (std::fabs(mu - 0.5) <= 0.25) return Done(flag, std::tan((mu - 0.5) * kPi));
    // tan((p - 1/2) pi) = -1 / tan(p pi) = 1 / tan((1 - p) pi).
    return Done(flag, mu < 0.5 ? -1.0 / std::tan(mu * kPi) : 1.0 / std::tan((1.0 - mu) * kPi));
}

double MCLinkCumCauchit::GetInverseValue(double eta, int* flag) const {
    if (IsBad(eta)) return Fail(flag, kDomain);
    // For eta < -1, atan(eta) / pi + 1/2 = atan(-1/eta) / pi without the
    // cancellation of the sum.
    if (eta < -1.0) return Report(flag, kOK, std::atan(-1.0 / eta) / kPi);
    return Report(flag, kOK, std::atan(eta) / kPi + 0.5);
}

// F' = cos^2((p - 1/2) pi) / pi, where cos((p - 1/2) pi) = sin(q pi) with q
// the distance of p to the nearer end.
double MCLinkCumCauchit::Get1stDerivativeValue(double mu, int* flag) const {
    double r;
    if (CumulativeBoundary(mu, flag, r)) return r;
    const double s = std::sin((mu <= 0.5 ? mu : 1.0 - mu) * kPi);
    return Done(flag, s * s / kPi);
}

// F'' = sin(2 pi p) cos^2((p - 1/2) pi) / pi.
double MCLinkCumCauchit::Get2ndDerivativeValue(double mu, int* flag) const {
    double r;
    if (CumulativeBoundary(mu, flag, r)) return r;
    const double q = mu <= 0.5 ? mu : 1.0 - mu;
    const double s = std::sin(q * kPi);
    const double s2 = mu <= 0.5 ? std::sin(kTwoPi * q) : -std::sin(kTwoPi * q);
    return Done(flag, s2 * s * s / kPi);
}

// ---------------------------------------------------------------------------
// Cumulative complementary log-log: F(eta) = 1 - exp(-e^eta).

double MCLinkCumCompLog2::Get1stDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    return Done(flag, -(1.0 - p) * std::log1p(-p));
}

double MCLinkCumCompLog2::Get2ndDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    const double l = std::log1p(-p);
    return Done(flag, -(1.0 - p) * l * (l + 1.0));
}

// ---------------------------------------------------------------------------
// Cumulative logit: F(eta) = 1 / (1 + e^-eta).

double MCLinkCumLogit::Get1stDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    return Done(flag, p * (1.0 - p));
}

double MCLinkCumLogit::Get2ndDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    return Done(flag, p * (1.0 - p) * (1.0 - 2.0 * p));
}

// ---------------------------------------------------------------------------
// Cumulative negative log-log: F(eta) = exp(-e^-eta).

double MCLinkCumNegLog2::Get1stDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    return Done(flag, -p * std::log(p));
}

double MCLinkCumNegLog2::Get2ndDerivativeValue(double p, int* flag) const {
    // F'' vanishes at p = 1 and is a proper value there.
    if (p == 1.0) return Report(flag, kOK, 0.0);
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    const double l = std::log(p);
    return Done(flag, (l + 1.0) * p * l);
}

// ---------------------------------------------------------------------------
// Cumulative probit: F = Phi.

// F' = phi(z), the reciprocal of the probit link's g'.
double MCLinkCumProbit::Get1stDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    int code = kOK;
    const double d = MCLinkProbit::Get1stDerivativeValue(p, &code);
    if (MCMV::IsMissing(d) || d == 0.0) return Fail(flag, kNumeric);
    return Report(flag, code, 1.0 / d);
}

// F'' = -z phi(z), from this link's own quantile and density (virtual
// calls). A present value is reported with code 1, not 0; it is missing with
// code 2 when either ingredient is.
double MCLinkCumProbit::Get2ndDerivativeValue(double p, int* flag) const {
    double r;
    if (CumulativeBoundary(p, flag, r)) return r;
    const double z = Compute(p, nullptr);
    const double d = Get1stDerivativeValue(p, nullptr);
    if (MCMV::IsMissing(z) || MCMV::IsMissing(d)) return Fail(flag, kNumeric);
    return Report(flag, 1, -z * d);
}

// ---------------------------------------------------------------------------

IMCLinkFunc* CreateLinkFunction(MCConst::LinkType type, double param) {
    return MCCommon_850::GuardAllocationOr<IMCLinkFunc*>(nullptr, [&]() -> IMCLinkFunc* {
        switch (static_cast<int>(type)) {
            case 0:
                return new MCLinkCompLog2();
            case 1:
                return new MCLinkIdentity();
            case 2:
                return new MCLinkLog();
            case 3:
                return new MCLinkLogComp();
            case 4:
                return new MCLinkLogit();
            case 5:
                return new MCLinkNegBinomial(param);
            case 6:
                return new MCLinkNegLog2();
            case 7:
                return new MCLinkOddsPower(param);
            case 8:
                return new MCLinkPower(param);
            case 9:
                return new MCLinkProbit();
            case 10:
                return new MCLinkCumCauchit();
            case 11:
                return new MCLinkCumCompLog2();
            case 12:
                return new MCLinkCumLogit();
            case 13:
                return new MCLinkCumNegLog2();
            case 14:
                return new MCLinkCumProbit();
            default:
                return nullptr;
        }
    });
}

}  // namespace MCMath_850
