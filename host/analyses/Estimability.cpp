#include "host/analyses/Estimability.h"

#include <cmath>

#include "host/fit/FitScorer.h"

namespace mchost {

using namespace MCMath_850;

Estimability::Estimability(const FittedModel& m) {
    std::vector<AliasedColumn> aliased;
    if (AliasedColumns(m, aliased))
        fAliasing = AliasingCheck(static_cast<std::size_t>(m.fNBasic), aliased);
}

Estimability::Sparse Estimability::Row(const MCRectMatrix& L, int row) {
    Sparse c;
    for (int j = 0; j < L.GetNCols(); ++j)
        if (L.GetElem(row, j) != 0.0) c.emplace_back(j, L.GetElem(row, j));
    return c;
}

Estimability::Sparse Estimability::Plus(const Sparse& a, double f, const Sparse& b) {
    Sparse c;
    std::size_t i = 0, k = 0;
    while (i < a.size() || k < b.size()) {
        if (k == b.size() || (i < a.size() && a[i].first < b[k].first)) {
            c.push_back(a[i++]);
        } else if (i == a.size() || b[k].first < a[i].first) {
            c.emplace_back(b[k].first, f * b[k].second);
            ++k;
        } else {
            // Weights that cancel but for rounding are no weight: a third
            // less four quarters of a third leaves some 1e-17, which would
            // count as a weight on an aliased parameter that no kept one
            // implies, and a contrast of means would look undetermined.
            const double x = a[i].second, y = f * b[k].second, d = x + y;
            if (std::fabs(d) > 1e-13 * (std::fabs(x) + std::fabs(y))) c.emplace_back(a[i].first, d);
            ++i, ++k;
        }
    }
    return c;
}

bool Estimability::Precise(const Sparse& c, double variance) const {
    if (fpCovariance == nullptr || std::isnan(variance)) return true;
    double terms = 0.0;
    for (const auto& [i, ci] : c)
        for (const auto& [k, ck] : c)
            if (i < fpCovariance->GetNRows() && k < fpCovariance->GetNRows())
                terms += std::fabs(ci * ck * fpCovariance->GetElem(i, k));
    return !(terms > 0.0) || variance > 1e-8 * terms;
}

bool Estimability::Estimable(const Sparse& c) const {
    return fAliasing.Determined(c);
}

}  // namespace mchost
