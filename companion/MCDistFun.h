#pragma once
#include "companion/MCExport.h"

namespace MCMath_850 {

// Distribution functions. Every function returns the system-missing value
// (MCCommon_850::MCMV::Missing()) when the value cannot be computed: a NaN
// argument, degrees of freedom that are not positive, a probability outside
// (0, 1). Infinite arguments are accepted where the limit is defined (for
// example CdfT(+inf, df) = 1), and an infinite df of Student's t gives the
// normal distribution. Nothing throws.
//
// The Sig* functions return upper-tail probabilities P(X > x) computed
// directly, not as 1 - cdf, so small p-values keep their relative accuracy
// (1 - CdfChi(100, 1) is 0 in doubles, SigChi(100, 1) is about 1.5e-23).
class MCREG_API MCDistFun {
public:
    // Standard normal.
    static double CdfStdNorm(double x);
    static double IdfStdNorm(double p);
    static double SigStdNorm(double x);

    // Student's t with df > 0 (df may be +inf).
    static double CdfT(double x, double df);
    static double IdfT(double p, double df);
    static double SigT(double x, double df);

    // Chi-square with df > 0; CdfChi(x <= 0) is 0.
    static double CdfChi(double x, double df);
    static double IdfChi(double p, double df);
    static double SigChi(double x, double df);

    // F with df1, df2 > 0; CdfF(x <= 0) is 0.
    static double CdfF(double x, double df1, double df2);
    static double IdfF(double p, double df1, double df2);
    static double SigF(double x, double df1, double df2);
};

}  // namespace MCMath_850
