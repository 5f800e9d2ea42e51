#pragma once
// How every test compares a computed number with its reference.
//
// The rule: got agrees with want to tol when
//
//     |got - want| <= tol * max(|want|, scale)
//
// that is, relative to the reference, and relative to scale where the
// reference is smaller than scale (a covariance of nearly uncorrelated
// parameters, a p-value near zero, a mean that is zero by construction);
// scale 0 is purely relative. The error is measured against the reference,
// never against the larger of the two numbers, so a wildly wrong result
// cannot widen its own tolerance. Equal numbers (equal infinities too)
// agree; a NaN agrees with nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

namespace support {

// The error of got against want under the rule above; infinite when
// either is NaN, so that a worst error over many checks cannot lose it.
inline double RelErr(double got, double want, double scale = 0) {
    if (got == want) return 0;
    if (std::isnan(got) || std::isnan(want)) return std::numeric_limits<double>::infinity();
    return std::fabs(got - want) / std::max(std::fabs(want), scale);
}

// Whether got agrees with want to tol, saying by how much it misses.
inline ::testing::AssertionResult Near(double got, double want, double tol, double scale = 0) {
    const double e = RelErr(got, want, scale);
    if (e <= tol) return ::testing::AssertionSuccess();
    std::ostringstream s;
    s << std::setprecision(17) << "got " << got << ", want " << want << ": error " << e << " above "
      << tol;
    if (scale > 0) s << " (relative to max(|want|, " << scale << "))";
    return ::testing::AssertionFailure() << s.str();
}

}  // namespace support
