#pragma once
#include <limits>
#include <vector>

namespace MCMath_850 {

// BLAS-style vector kernels and small vector measures. The strided kernels
// take the element count n and the strides incx/incy (positive; a stride of
// k reads every k-th element starting at the pointer). A non-positive n is
// an empty vector.
class MCMathFun {
public:
    // Sum of x[i*incx] * y[i*incy]; 0 for an empty vector.
    static double DDot(int n, const double* x, int incx, const double* y, int incy);
    // Euclidean norm, scaled so that it neither overflows nor underflows
    // for representable results.
    static double DNrm2(int n, const double* x, int incx);
    // x <- a * x.
    static void DScal(int n, double a, double* x, int incx);
    // y <- a * x + y.
    static void Daxpy(int n, double a, const double* x, int incx, double* y, int incy);

    // Whole-vector conveniences (the shorter length is used where lengths differ).
    static double DDot(const std::vector<double>& x, const std::vector<double>& y);
    static double DNrm2(const std::vector<double>& x);
    static void DScal(double a, std::vector<double>& x);
    static void Daxpy(double a, const std::vector<double>& x, std::vector<double>& y);

    // Largest relative change max_i |a_i - b_i| / max(|b_i|, floor), b being
    // the reference (previous) vector; floor keeps components near zero
    // from producing huge ratios. 0 for empty vectors; the lengths must match
    // (the shorter length is used otherwise).
    static double VMaxRelDiff(const std::vector<double>& a, const std::vector<double>& b,
                              double floor);
    // One-norm of the difference, sum_i |a_i - b_i|.
    static double VNrm1Diff(const std::vector<double>& a, const std::vector<double>& b);

    // "x is negligible relative to y": |x| <= DBL_EPSILON * |y|, i.e. adding x
    // to a quantity of y's size changes it by at most rounding. False when
    // either argument is not a number.
    static bool QLReps(double x, double y);
};

// Overflow-guarded powers and exponentials.
class MCPower {
public:
    // Machine epsilon, the spacing of doubles at 1 (DBL_EPSILON).
    static constexpr double gMachineEpsilon = std::numeric_limits<double>::epsilon();
    // Largest argument whose exponential is finite: the double just below
    // log(DBL_MAX) (exp of it does not overflow).
    static constexpr double gMachineMaxExp = 709.782712893383973096;
    // Largest int (INT_MAX).
    static constexpr int gMachineMaxInt = std::numeric_limits<int>::max();

    // out = x^y. Returns false and sets out to the system-missing value when
    // the result is not a finite real number: a negative base with a
    // non-integral exponent, zero to a negative power, a NaN argument, or an
    // overflow. Underflow gives 0 and true. x^0 is 1 for every finite x.
    static bool Power(double x, double y, double& out);
    // out = e^x. Returns false (out missing) when x > gMachineMaxExp or is NaN;
    // a large negative x underflows to 0 (true).
    static bool Exponent(double x, double& out);
};

}  // namespace MCMath_850
