#include "logistic/MCLogCentring.h"

#include <algorithm>
#include <cmath>

#include "companion/MCIndex.h"
#include "companion/MCUnitSteps.h"

namespace MCMath_850 {

namespace {

int Order(const MCRegrParameter& p) {
    return p.GetNCovariates() > 0 ? p.GetNCovariateMult() : 0;
}

}  // namespace

void MCLogCentring::SetUp(const std::vector<MCRegrParameter>& params,
                          const std::vector<int>& effectOf, int nEffects, const MCSymMatrix& xx,
                          bool intercept) {
    fvColumns.assign(params.size(), Column{});
    for (std::size_t k = 0; k < params.size(); ++k) {
        Column& c = fvColumns[k];
        c.order = Order(params[k]);
        c.var = c.order == 1 ? params[k].GetCovariates()[0] : -1;
        c.alone = params[k].GetNFactors() == 0;
    }
    fvEffectOf = effectOf;
    fbIntercept = intercept;
    fProducts.SetUp(params);
    fCentres.clear();
    const std::size_t n = params.size();
    fvColumnMean.assign(n, 0.0);
    fvColumnCentre.assign(n, 0.0);
    fvCentred.assign(Ix(nEffects), 0);
    fvOwn.assign(Ix(nEffects), 0.0);
    fvUnits.assign(n, {});
    fvShifts.assign(n, 0.0);
    fbOwnUnits = true;
    fMaxOrder = 0;
    const double total = intercept ? xx.GetElem(0, 0) : 0.0;
    if (!(total > 0.0) || !std::isfinite(total)) return;
    // A covariate's centre is its mean over the records: the column sums of
    // an effect that is that covariate alone, within cells or not (each
    // record is in one of its cells), the covariate-only one first.
    std::vector<double> sum(Ix(nEffects), 0.0);
    std::vector<int> var(Ix(nEffects), -1);
    std::vector<char> alone(Ix(nEffects), 0);
    for (std::size_t k = 0; k < n; ++k) {
        const MCRegrParameter& p = params[k];
        const std::size_t e = Ix(effectOf[k]);
        if (p.GetNCovariates() == 0) continue;
        if (p.GetNFactors() == 0) fvColumnMean[k] = xx.GetElem(0, static_cast<int>(k)) / total;
        if (Order(p) != 1) continue;
        var[e] = p.GetCovariates()[0];
        alone[e] = p.GetNFactors() == 0;
        sum[e] += xx.GetElem(0, static_cast<int>(k));
    }
    for (int pass = 1; pass >= 0; --pass)
        for (std::size_t e = 0; e < sum.size(); ++e) {
            const double mean = sum[e] / total;
            if (var[e] >= 0 && alone[e] == pass && std::isfinite(mean))
                fCentres.emplace(var[e], mean);
        }
    for (std::size_t k = 0; k < n; ++k)
        if (Order(params[k]) == 1) fvColumnCentre[k] = VariableCentre(params[k].GetCovariates()[0]);
}

double MCLogCentring::VariableCentre(int var) const {
    const auto it = fCentres.find(var);
    return it != fCentres.end() ? it->second : 0.0;
}

bool MCLogCentring::Combine(std::size_t k, const MCColumnCentring& centring,
                            const MCSymMatrix& swept, const MCBitSet& kept,
                            const std::vector<double>& diagonal, Combination& unit,
                            double& shift) const {
    const Column& column = fvColumns[k];
    const int u = k < centring.Units().size() ? centring.Units()[k] : -1;
    if (u < 0 || centring.WithoutIndicator(k)) return false;
    Combination base = swept.KeptCombination(kept, diagonal, u, static_cast<int>(fvColumns.size()));
    if (base.empty()) return false;
    for (auto& [j, a] : base) {
        if (fvColumns[Ix(j)].order > 0) return false;
        // Indicators are aliased with whole multiples of each other: what
        // the sweep's rounding leaves beside them would move the estimates
        // by the centre times that rounding.
        const double whole = std::nearbyint(a);
        if (std::fabs(a - whole) <= 1e-9 * std::max(1.0, std::fabs(a))) a = whole;
    }
    if (column.order == 1) {
        if (fCentres.count(column.var) == 0) return false;
        unit = std::move(base);
        shift = fvColumnCentre[k];
        return true;
    }
    if (!fProducts.IsComplete(k)) return false;
    unit.clear();
    for (const auto& [column, coef] : fProducts.Expansion(k, fvColumnCentre)) {
        if (column < 0) {
            for (const auto& [j, a] : base) unit.emplace_back(j, coef * a);
        } else if (kept.IsIn(column)) {
            unit.emplace_back(column, coef);
        } else {
            return false;
        }
    }
    shift = 1.0;
    return true;
}

void MCLogCentring::Decide(const MCColumnCentring& centring, const MCSymMatrix& swept,
                           const MCBitSet& kept, const std::vector<double>& diagonal) {
    const std::size_t n = fvColumns.size();
    std::fill(fvCentred.begin(), fvCentred.end(), 0);
    std::fill(fvOwn.begin(), fvOwn.end(), 0.0);
    fvUnits.assign(n, {});
    fvShifts.assign(n, 0.0);
    fbOwnUnits = true;
    fMaxOrder = 0;
    if (!fbIntercept) return;
    std::vector<char> ok(fvCentred.size(), 0);
    for (std::size_t k = 0; k < n; ++k)
        if (fvColumns[k].order > 0) ok[Ix(fvEffectOf[k])] = 1;
    for (std::size_t k = 0; k < n; ++k)
        if (fvColumns[k].order > 0 && kept.IsIn(static_cast<int>(k)) &&
            !Combine(k, centring, swept, kept, diagonal, fvUnits[k], fvShifts[k]))
            ok[Ix(fvEffectOf[k])] = 0;
    // A product's lower-order columns must be fitted centred too.
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t k = 0; k < n; ++k) {
            char& mine = ok[Ix(fvEffectOf[k])];
            for (const auto& [u, a] : fvUnits[k])
                if (mine && fvColumns[Ix(u)].order > 0 && !ok[Ix(fvEffectOf[Ix(u)])]) {
                    mine = 0;
                    changed = true;
                }
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        const Column& column = fvColumns[k];
        const std::size_t e = Ix(fvEffectOf[k]);
        if (column.order == 0) continue;
        if (!ok[e]) {
            fvUnits[k].clear();
            fvShifts[k] = 0.0;
            if (column.alone && fvColumnMean[k] != 0.0) {
                fvUnits[k].emplace_back(0, 1.0);
                fvShifts[k] = fvOwn[e] = fvColumnMean[k];
            }
        }
        if (fvShifts[k] == 0.0) fvUnits[k].clear();
        if (fvUnits[k].empty()) continue;
        fMaxOrder = std::max(fMaxOrder, column.order);
        fbOwnUnits = fbOwnUnits && fvUnits[k].size() == 1 && fvUnits[k][0].second == 1.0 &&
                     !(ok[e] && column.order > 1);
    }
    fvCentred = std::move(ok);
}

void MCLogCentring::Uncentre(std::vector<double>& estimates, MCSymMatrix* covariance,
                             int nLogits) const {
    const std::size_t nb = fvColumns.size();
    // A column's steps move only columns of lower order: the highest first.
    for (int order = fMaxOrder; order >= 1; --order) {
        for (std::size_t l = 0; l < Ix(nLogits); ++l)
            for (std::size_t k = 0; k < nb; ++k) {
                if (fvColumns[k].order != order || fvUnits[k].empty()) continue;
                const double b = estimates[l * nb + k];
                for (const auto& [u, a] : fvUnits[k])
                    estimates[l * nb + Ix(u)] -= fvShifts[k] * a * b;
            }
        if (covariance != nullptr) UncentreOrder(*covariance, order, nLogits);
    }
}

void MCLogCentring::UncentreOrder(MCSymMatrix& covariance, int order, int nLogits) const {
    // The columns of this order move columns of lower order only.
    const int nb = static_cast<int>(fvColumns.size());
    MCUnitStage stage;
    for (int l = 0; l < nLogits; ++l)
        for (int k = 0; k < nb; ++k) {
            if (fvColumns[Ix(k)].order != order) continue;
            for (const auto& [u, a] : fvUnits[Ix(k)])
                stage[l * nb + u].emplace_back(l * nb + k, fvShifts[Ix(k)] * a);
        }
    ApplyUnitStage(
        stage, covariance.GetNRows(), [&](int i, int j) { return covariance.GetElem(i, j); },
        [&](int i, int j, double v) { covariance.SetElem(i, j, v); });
}

}  // namespace MCMath_850
