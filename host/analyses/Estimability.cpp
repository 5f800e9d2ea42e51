#include "host/analyses/Estimability.h"

#include <algorithm>
#include <cmath>

#include "glm/MCGLMOutputStats.h"
#include "logistic/MCLogOutputStats.h"

namespace mchost {

using namespace MCMath_850;

Estimability::Estimability(const FittedModel& m) {
    // The model's columns (for the logistic model, one logit's) and their
    // X'X swept on the kept ones; the sizes of the columns.
    const MCSymMatrix* swept = nullptr;
    const MCBitSet* kept = nullptr;
    std::vector<double> diagonal;
    int q = m.fNBasic;
    // The sweep of the linear model leaves the generalised inverse as it is
    // and the coefficients negated; the logistic model's the other way round.
    double sign = -1.0;
    if (const auto* glm = dynamic_cast<const MCGLMOutputStats*>(m.fpStats)) {
        swept = glm->GetSweptCrossProducts();
        kept = &m.fpStats->GetRedundancyIndicators();
        if (const MCSymMatrix* sums = glm->GetCrossProducts())
            for (int k = 0; k < q && k < sums->GetNRows(); ++k)
                diagonal.push_back(sums->GetElem(k, k));
    } else if (const auto* log = dynamic_cast<const MCLogOutputStats*>(m.fpStats)) {
        swept = log->GetSweptCrossProduct();
        kept = &log->GetBasicRedundancy();
        diagonal = log->GetBasicCrossProductDiagonal();
        q = std::min(q, log->GetNBasicParameters());
        sign = 1.0;
    }
    if (swept == nullptr || kept == nullptr || swept->GetNRows() < q ||
        diagonal.size() < static_cast<std::size_t>(q))
        return;
    fbKnown = true;
    // A coefficient is judged on the columns' sizes: what the sweep's
    // rounding leaves where the columns share nothing is dropped.
    std::vector<double> size(static_cast<std::size_t>(q));
    for (int k = 0; k < q; ++k)
        size[static_cast<std::size_t>(k)] = std::sqrt(std::max(diagonal[Ix(k)], 0.0));
    // Each parameter lists the relations it enters, so that a row is
    // checked at the cost of its non-zeros.
    fvByParam.assign(static_cast<std::size_t>(q), {});
    fvRelationOf.assign(static_cast<std::size_t>(q), -1);
    for (int j = 0; j < q; ++j) {
        if (kept->IsIn(j)) continue;
        const int r = fNRelations++;
        fvRelationOf[static_cast<std::size_t>(j)] = r;
        for (int k = 0; k < q; ++k) {
            if (!kept->IsIn(k)) continue;
            const double b = sign * swept->GetElem(k, j);
            if (std::fabs(b) * size[static_cast<std::size_t>(k)] >
                MCSymMatrix::kAliasingRounding * size[static_cast<std::size_t>(j)])
                fvByParam[static_cast<std::size_t>(k)].emplace_back(r, b);
        }
    }
    fvOwn.assign(static_cast<std::size_t>(fNRelations), 0.0);
    fvImplied = fvSize = fvOwn;
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
    if (!fbKnown) return true;
    std::vector<int>& touched = fvTouched;
    touched.clear();
    auto touch = [&](int r) {
        if (fvOwn[Ix(r)] == 0.0 && fvSize[Ix(r)] == 0.0) touched.push_back(r);
    };
    for (const auto& [k, ck] : c) {
        if (k < 0 || static_cast<std::size_t>(k) >= fvByParam.size()) continue;
        const int own = fvRelationOf[Ix(k)];
        if (own >= 0) {
            touch(own);
            fvOwn[Ix(own)] = ck;
            fvSize[Ix(own)] += std::fabs(ck);
        }
        for (const auto& [r, coef] : fvByParam[Ix(k)]) {
            touch(r);
            fvImplied[Ix(r)] += ck * coef;
            fvSize[Ix(r)] += std::fabs(ck * coef);
        }
    }
    bool estimable = true;
    for (int r : touched) {
        // Rounding of the sweep is far below this; a weight the data do
        // not support is of the order of the weights themselves.
        if (std::fabs(fvOwn[Ix(r)] - fvImplied[Ix(r)]) > 1e-8 * fvSize[Ix(r)]) estimable = false;
        fvOwn[Ix(r)] = fvImplied[Ix(r)] = fvSize[Ix(r)] = 0.0;
    }
    return estimable;
}

}  // namespace mchost
