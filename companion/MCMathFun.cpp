#include "companion/MCMathFun.h"

#include <algorithm>
#include <cmath>

#include "companion/MCMV.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

double MCMathFun::DDot(int n, const double* x, int incx, const double* y, int incy) {
    double sum = 0.0;
    if (n <= 0 || x == nullptr || y == nullptr) return sum;
    for (int i = 0; i < n; ++i)
        sum += x[static_cast<long>(i) * incx] * y[static_cast<long>(i) * incy];
    return sum;
}

double MCMathFun::DNrm2(int n, const double* x, int incx) {
    if (n <= 0 || x == nullptr) return 0.0;
    // Scaled sum of squares (the LAPACK dnrm2 recurrence): no overflow for
    // large entries, no underflow to 0 for tiny ones.
    double scale = 0.0;
    double ssq = 1.0;
    for (int i = 0; i < n; ++i) {
        const double v = x[static_cast<long>(i) * incx];
        if (v == 0.0) continue;
        const double a = std::fabs(v);
        if (std::isnan(a)) return a;
        if (scale < a) {
            const double r = scale / a;
            ssq = 1.0 + ssq * r * r;
            scale = a;
        } else {
            const double r = a / scale;
            ssq += r * r;
        }
    }
    return scale * std::sqrt(ssq);
}

void MCMathFun::DScal(int n, double a, double* x, int incx) {
    if (n <= 0 || x == nullptr) return;
    for (int i = 0; i < n; ++i) x[static_cast<long>(i) * incx] *= a;
}

void MCMathFun::Daxpy(int n, double a, const double* x, int incx, double* y, int incy) {
    if (n <= 0 || x == nullptr || y == nullptr || a == 0.0) return;
    for (int i = 0; i < n; ++i)
        y[static_cast<long>(i) * incy] += a * x[static_cast<long>(i) * incx];
}

double MCMathFun::DDot(const std::vector<double>& x, const std::vector<double>& y) {
    const int n = static_cast<int>(std::min(x.size(), y.size()));
    return DDot(n, x.data(), 1, y.data(), 1);
}

double MCMathFun::DNrm2(const std::vector<double>& x) {
    return DNrm2(static_cast<int>(x.size()), x.data(), 1);
}

void MCMathFun::DScal(double a, std::vector<double>& x) {
    DScal(static_cast<int>(x.size()), a, x.data(), 1);
}

void MCMathFun::Daxpy(double a, const std::vector<double>& x, std::vector<double>& y) {
    const int n = static_cast<int>(std::min(x.size(), y.size()));
    Daxpy(n, a, x.data(), 1, y.data(), 1);
}

double MCMathFun::VMaxRelDiff(const std::vector<double>& a, const std::vector<double>& b,
                              double floor) {
    const std::size_t n = std::min(a.size(), b.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = std::fabs(a[i] - b[i]) / std::max(std::fabs(b[i]), floor);
        if (std::isnan(d)) return d;
        worst = std::max(worst, d);
    }
    return worst;
}

double MCMathFun::VNrm1Diff(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += std::fabs(a[i] - b[i]);
    return sum;
}

bool MCMathFun::QLReps(double x, double y) {
    return std::fabs(x) <= MCPower::gMachineEpsilon * std::fabs(y);
}

bool MCPower::Power(double x, double y, double& out) {
    out = MCMV::Missing();
    if (std::isnan(x) || std::isnan(y)) return false;
    if (y == 0.0) {
        if (!std::isfinite(x)) return false;
        out = 1.0;
        return true;
    }
    if (x < 0.0 && std::trunc(y) != y) return false;  // not a real number
    if (x == 0.0 && y < 0.0) return false;            // a pole
    const double r = std::pow(x, y);
    if (!std::isfinite(r)) return false;
    out = r;
    return true;
}

bool MCPower::Exponent(double x, double& out) {
    out = MCMV::Missing();
    if (std::isnan(x) || x > gMachineMaxExp) return false;
    out = std::exp(x);
    return true;
}

}  // namespace MCMath_850
