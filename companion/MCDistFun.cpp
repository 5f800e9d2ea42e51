#include "companion/MCDistFun.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>

#include "companion/MCMV.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;

namespace {

// Every Boost error becomes a NaN (or an infinity) result instead of an
// exception; the wrappers below turn those into the missing value.
using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::rounding_error<boost::math::policies::ignore_error>,
    boost::math::policies::indeterminate_result_error<boost::math::policies::ignore_error>>;

using Normal = boost::math::normal_distribution<double, Policy>;
using StudentT = boost::math::students_t_distribution<double, Policy>;
using ChiSquared = boost::math::chi_squared_distribution<double, Policy>;
using FisherF = boost::math::fisher_f_distribution<double, Policy>;

double Checked(double v) {
    return std::isnan(v) ? MCMV::Missing() : v;
}

bool BadDf(double df) {
    return std::isnan(df) || df <= 0.0;
}

bool BadProb(double p) {
    return !(p > 0.0 && p < 1.0);
}

// Guards that also keep Boost away from arguments it rejects (infinite x,
// x at or below 0 for the positive distributions).
template <class Fn>
double Positive(double x, double below, double atInf, Fn fn) {
    if (std::isnan(x)) return MCMV::Missing();
    if (x <= 0.0) return below;
    if (std::isinf(x)) return atInf;
    return Checked(fn());
}

}  // namespace

double MCDistFun::CdfStdNorm(double x) {
    if (std::isnan(x)) return MCMV::Missing();
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

double MCDistFun::SigStdNorm(double x) {
    if (std::isnan(x)) return MCMV::Missing();
    return 0.5 * std::erfc(x / std::sqrt(2.0));
}

double MCDistFun::IdfStdNorm(double p) {
    if (BadProb(p)) return MCMV::Missing();
    return Checked(boost::math::quantile(Normal(0.0, 1.0), p));
}

double MCDistFun::CdfT(double x, double df) {
    if (std::isnan(x) || BadDf(df)) return MCMV::Missing();
    if (std::isinf(df)) return CdfStdNorm(x);
    if (std::isinf(x)) return x > 0 ? 1.0 : 0.0;
    return Checked(boost::math::cdf(StudentT(df), x));
}

double MCDistFun::SigT(double x, double df) {
    if (std::isnan(x) || BadDf(df)) return MCMV::Missing();
    if (std::isinf(df)) return SigStdNorm(x);
    if (std::isinf(x)) return x > 0 ? 0.0 : 1.0;
    return Checked(boost::math::cdf(boost::math::complement(StudentT(df), x)));
}

double MCDistFun::IdfT(double p, double df) {
    if (BadProb(p) || BadDf(df)) return MCMV::Missing();
    if (std::isinf(df)) return IdfStdNorm(p);
    return Checked(boost::math::quantile(StudentT(df), p));
}

double MCDistFun::CdfChi(double x, double df) {
    if (BadDf(df) || std::isinf(df)) return MCMV::Missing();
    return Positive(x, 0.0, 1.0, [&] { return boost::math::cdf(ChiSquared(df), x); });
}

double MCDistFun::SigChi(double x, double df) {
    if (BadDf(df) || std::isinf(df)) return MCMV::Missing();
    return Positive(x, 1.0, 0.0,
                    [&] { return boost::math::cdf(boost::math::complement(ChiSquared(df), x)); });
}

double MCDistFun::IdfChi(double p, double df) {
    if (BadProb(p) || BadDf(df) || std::isinf(df)) return MCMV::Missing();
    return Checked(boost::math::quantile(ChiSquared(df), p));
}

double MCDistFun::CdfF(double x, double df1, double df2) {
    if (BadDf(df1) || BadDf(df2) || std::isinf(df1)) return MCMV::Missing();
    if (std::isinf(df2)) {  // df1 F tends to chi-square(df1)
        if (std::isnan(x)) return MCMV::Missing();
        return CdfChi(x * df1, df1);
    }
    return Positive(x, 0.0, 1.0, [&] { return boost::math::cdf(FisherF(df1, df2), x); });
}

double MCDistFun::SigF(double x, double df1, double df2) {
    if (BadDf(df1) || BadDf(df2) || std::isinf(df1)) return MCMV::Missing();
    if (std::isinf(df2)) {
        if (std::isnan(x)) return MCMV::Missing();
        return SigChi(x * df1, df1);
    }
    return Positive(x, 1.0, 0.0, [&] {
        return boost::math::cdf(boost::math::complement(FisherF(df1, df2), x));
    });
}

double MCDistFun::IdfF(double p, double df1, double df2) {
    if (BadProb(p) || BadDf(df1) || BadDf(df2) || std::isinf(df1)) return MCMV::Missing();
    if (std::isinf(df2)) {
        const double q = IdfChi(p, df1);
        return MCMV::IsMissing(q) ? q : q / df1;
    }
    return Checked(boost::math::quantile(FisherF(df1, df2), p));
}

}  // namespace MCMath_850
