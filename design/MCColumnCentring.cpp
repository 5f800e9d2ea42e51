#include "design/MCColumnCentring.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "companion/DoubleDouble.h"
#include "companion/MCIndex.h"
#include "companion/MCSymMatrix.h"
#include "design/MCColumnKeys.h"

namespace MCMath_850 {

namespace {

bool WithinCells(const MCRegrParameter& p) {
    return p.GetNCovariates() > 0 && p.GetNFactors() > 0;
}

}  // namespace

void MCColumnCentring::SetUp(const std::vector<MCRegrParameter>& params, bool intercept) {
    const MCColumnKeys columns(params);
    fvUnits.assign(params.size(), intercept ? 0 : -1);
    if (intercept && !fvUnits.empty()) fvUnits[0] = -1;
    fvFlags.assign(params.size(), 0);
    bool any = false;
    for (std::size_t k = 0; k < params.size(); ++k) {
        if (!WithinCells(params[k])) continue;
        // The indicator of its cell: its key without the covariates.
        MCColumnKeys::Key cell = MCColumnKeys::KeyOf(params[k]);
        cell.covariates.clear();
        const int indicator = columns.Find(cell);
        if (indicator >= 0)
            fvUnits[k] = indicator;
        else if (intercept)
            fvFlags[k] = any = true;
    }
    if (!any) fvFlags.clear();
    fvWeights.assign(any ? 2 * params.size() : 0, 0.0);
}

void MCColumnCentring::Add(const int* idx, std::size_t n, double w) {
    if (fvWeights.empty()) return;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(idx[i]);
        if (WithoutIndicator(k))
            DoubleDouble::Accumulate(fvWeights[2 * k], fvWeights[2 * k + 1], w, 0.0);
    }
}

bool MCColumnCentring::Merge(MCCommon_850::PassReducer& reducer) {
    return fvWeights.empty() || reducer.SumExtended(fvWeights);
}

std::vector<double> MCColumnCentring::ScaledWeights(double f) const {
    std::vector<double> scaled;
    scaled.reserve(fvWeights.size());
    for (std::size_t e = 0; e + 1 < fvWeights.size(); e += 2) {
        const DoubleDouble::DD v =
            DoubleDouble::Mul(DoubleDouble::DD{fvWeights[e], fvWeights[e + 1]}, f);
        scaled.push_back(v.hi);
        scaled.push_back(v.lo);
    }
    return scaled;
}

double MCColumnCentring::MeanOverSpread(const MCSymMatrix& m, std::size_t k) const {
    MCSymMatrix::CentredMoments c;
    if (k >= fvUnits.size() || !m.GetCentredMoments(c, static_cast<int>(k), fvUnits[k], Weights()))
        return 0.0;
    if (c.sum.hi == 0.0) return 0.0;
    const double variance = std::max(c.centred.hi, 0.0) / c.total.hi;
    if (!(variance > 0.0)) return std::numeric_limits<double>::infinity();
    return std::fabs(c.sum.hi / c.total.hi) / std::sqrt(variance);
}

double MCColumnCentring::Mean(const MCSymMatrix& m, std::size_t k) const {
    MCSymMatrix::CentredMoments c;
    if (k >= fvUnits.size() || !m.GetCentredMoments(c, static_cast<int>(k), fvUnits[k], Weights()))
        return 0.0;
    return DoubleDouble::Div(c.sum, c.total).hi;
}

double MCColumnCentring::CentredSquares(const MCSymMatrix& m, std::size_t k) const {
    MCSymMatrix::CentredMoments c;
    if (k >= fvUnits.size() || !m.GetCentredMoments(c, static_cast<int>(k), fvUnits[k], Weights()))
        return 0.0;
    return std::max(c.centred.hi, 0.0);
}

}  // namespace MCMath_850
