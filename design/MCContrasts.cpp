#include "design/MCContrasts.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "companion/MCAllocationGuard.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"
#include "companion/MCStatusCodes.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// Sizes `out` to rows x k zeros. The element count must stay addressable by
// the matrix's int indices; a larger request is an invalid number of levels.
MCStatus Allocate(long long rows, int k, MCRectMatrix& out) {
    if (rows * static_cast<long long>(k) > INT_MAX) return ErrorStatus(StatusCode::kBadContrast);
    if (!out.Resize(static_cast<int>(rows), k)) return ErrorStatus(StatusCode::kAllocationFailed);
    return MCStatus();
}

// A rows x k contrast of fixed pattern: refused below two levels, sized,
// then filled with fill(m).
template <class Fill>
MCStatus FixedContrast(int k, long long rows, MCRectMatrix& c, Fill fill) {
    return GuardAllocation([&]() -> MCStatus {
        if (k < 2) return ErrorStatus(StatusCode::kBadContrast);
        MCRectMatrix m;
        MCStatus s = Allocate(rows, k, m);
        if (!s.IsOK()) return s;
        fill(m);
        c = std::move(m);
        return s;
    });
}

}  // namespace

MCStatus MCContrasts::ComputeSimpleContrast(int k, int reference, MCRectMatrix& c) {
    if (reference < 0 || reference >= k) return ErrorStatus(StatusCode::kBadContrast);
    return FixedContrast(k, k - 1, c, [k, reference](MCRectMatrix& m) {
        for (int i = 0; i < k - 1; ++i) {
            m.SetElem(i, reference, -1.0);
            m.SetElem(i, i < reference ? i : i + 1, 1.0);
        }
    });
}

MCStatus MCContrasts::ComputeDeviationContrast(int k, MCRectMatrix& c) {
    return FixedContrast(k, k, c, [k](MCRectMatrix& m) {
        const double w = 1.0 / k;
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j) m.SetElem(i, j, i == j ? 1.0 - w : -w);
    });
}

MCStatus MCContrasts::ComputeHelmertContrast(int k, MCRectMatrix& c) {
    return FixedContrast(k, k - 1, c, [k](MCRectMatrix& m) {
        for (int i = 0; i < k - 1; ++i) {
            m.SetElem(i, i, 1.0);
            const double w = -1.0 / (k - 1 - i);
            for (int j = i + 1; j < k; ++j) m.SetElem(i, j, w);
        }
    });
}

MCStatus MCContrasts::ComputeDifferenceContrast(int k, MCRectMatrix& c) {
    return FixedContrast(k, k - 1, c, [k](MCRectMatrix& m) {
        for (int i = 0; i < k - 1; ++i) {
            m.SetElem(i, i + 1, 1.0);
            const double w = -1.0 / (i + 1);
            for (int j = 0; j <= i; ++j) m.SetElem(i, j, w);
        }
    });
}

MCStatus MCContrasts::ComputeRepeatedContrast(int k, MCRectMatrix& c) {
    return FixedContrast(k, k - 1, c, [k](MCRectMatrix& m) {
        for (int i = 0; i < k - 1; ++i) {
            m.SetElem(i, i, 1.0);
            m.SetElem(i, i + 1, -1.0);
        }
    });
}

MCStatus MCContrasts::ComputePairwiseContrast(int k, MCRectMatrix& c) {
    return FixedContrast(k, static_cast<long long>(k) * (k - 1), c, [k](MCRectMatrix& m) {
        for (int a = 0; a < k; ++a) {
            for (int r = 0; r < k - 1; ++r) {
                const int row = a * (k - 1) + r;
                m.SetElem(row, a, 1.0);
                m.SetElem(row, r < a ? r : r + 1, -1.0);
            }
        }
    });
}

// Orthogonal polynomials over the points by the three-term (Stieltjes)
// recurrence
//   p_d(x) = (x - a_d) p_{d-1}(x) - b_d p_{d-2}(x),
//   a_d = sum x p_{d-1}^2 / sum p_{d-1}^2,  b_d = sum p_{d-1}^2 / sum p_{d-2}^2,
// with p_0 = 1 and p_1 = x - mean. The points are first mapped onto
// [-scale, scale]: this makes the result independent of the units of the
// metric, and the cap on the scale keeps the sums of squares of the highest
// degree, of order scale^(2(k-1)), within the double range.
MCStatus MCContrasts::ComputePolynomialContrast(int k, const std::vector<double>& metric,
                                                MCRectMatrix& c) {
    return GuardAllocation([&]() -> MCStatus {
        if (k < 2 || metric.size() < static_cast<size_t>(k))
            return ErrorStatus(StatusCode::kBadContrast);
        std::vector<double> sorted(metric.begin(), metric.begin() + k);
        for (double v : sorted)
            if (!std::isfinite(v) || MCCommon_850::MCMV::IsMissing(v))
                return ErrorStatus(StatusCode::kBadContrast);
        std::sort(sorted.begin(), sorted.end());
        // Coinciding points leave the higher degrees undefined.
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return ErrorStatus(StatusCode::kBadContrast);
        const double lo = sorted.front();
        const double hi = sorted.back();
        const double range = hi - lo;
        if (!std::isfinite(range)) return ErrorStatus(StatusCode::kBadContrast);

        MCRectMatrix m;
        MCStatus s = Allocate(k - 1, k, m);
        if (!s.IsOK()) return s;

        const double scale = std::min(static_cast<double>(k), std::exp(709.0 / (2.0 * (k - 1))));
        std::vector<double> x(k);
        double mean = 0.0;
        for (int j = 0; j < k; ++j) {
            x[j] = ((metric[j] - lo) - (hi - metric[j])) / range * scale;
            mean += x[j];
        }
        mean /= k;

        const std::vector<double> ones(k, 1.0);
        std::vector<double> older = ones;                      // p_{d-2}
        std::vector<double> last(k);                           // p_{d-1}
        std::vector<double> sumSq(1, static_cast<double>(k));  // sum p_i^2, i < d - 1
        for (int j = 0; j < k; ++j) last[j] = x[j] - mean;
        m.SetRow(0, last);
        for (int d = 2; d < k; ++d) {
            double ss = 0.0;
            double sx = 0.0;
            for (int j = 0; j < k; ++j) {
                ss += last[j] * last[j];
                sx += last[j] * last[j] * x[j];
            }
            const double a = sx / ss;
            const double b = ss / sumSq.back();
            sumSq.push_back(ss);
            for (int j = 0; j < k; ++j) {
                const double next = (x[j] - a) * last[j] - b * older[j];
                older[j] = last[j];
                last[j] = next;
            }
            // In exact arithmetic p_d is already orthogonal to every earlier
            // polynomial; in floating point the recurrence drifts once the degree
            // approaches the number of points (from about 30 levels on), so the
            // earlier directions are projected out again. This changes nothing
            // but the rounding.
            for (int i = 0; i < d; ++i) {
                const double* prev = i == 0 ? ones.data() : m.GetRow(i - 1);
                const double coef = MCMathFun::DDot(k, last.data(), 1, prev, 1) / sumSq[i];
                MCMathFun::Daxpy(k, -coef, prev, 1, last.data(), 1);
            }
            m.SetRow(d - 1, last);
        }

        for (int i = 0; i < k - 1; ++i) {
            double* row = m.GetRow(i);
            const double norm = MCMathFun::DNrm2(k, row, 1);
            if (norm > 0.0) MCMathFun::DScal(k, 1.0 / norm, row, 1);
        }
        c = std::move(m);
        return s;
    });
}

}  // namespace MCMath_850
