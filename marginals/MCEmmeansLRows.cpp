#include "marginals/MCEmmeansLRows.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "design/MCLiteDesignMatrix.h"
#include "marginals/MCEmmeansRequests.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCEmmeansLRows::MCEmmeansLRows(const MCLiteDesignMatrix& design, const MCEmmeansRequests& requests,
                               MCCancelInfo& cancel)
    : fDesign(design), fRequests(requests), fCancel(cancel) {}

MCStatus MCEmmeansLRows::CountIncompleteCells() {
    const int ie = fDesign.GetIncompleteEffectIndex();
    int first = 0, count = 0;
    if (ie < 0 || !fDesign.GetParamsForEffect(ie, first, count)) return MCStatus();
    const std::vector<int>& dfac = fDesign.GetFactors();
    const std::vector<MCModelEffect>& effects = fDesign.GetModelEffects();
    const std::size_t nEff = Ix(fDesign.GetNEffects());
    const std::size_t p = Ix(fDesign.GetNParameters());
    // Effects without factors have one parameter, used by every cell.
    std::vector<int> fixedIndex(nEff, -1);
    for (std::size_t e = 0; e < nEff; ++e) {
        int f0 = 0, c0 = 0;
        if (fDesign.GetParamsForEffect(static_cast<int>(e), f0, c0) &&
            effects[e].GetFactors().empty())
            fixedIndex[e] = f0;
    }
    const std::size_t nSpecs = Ix(fRequests.Size());
    std::vector<std::vector<int>> orders(nSpecs);
    for (std::size_t s = 0; s < nSpecs; ++s)
        fRequests.FactorOrder(fRequests.Get(static_cast<int>(s)), orders[s]);
    fvCells.assign(nSpecs, CellMap());
    std::vector<int> values(dfac.size()), key;
    for (int j = first; j < first + count; ++j) {
        if (fCancel.WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        const MCRegrParameter& par = fDesign.GetParameters()[Ix(j)];
        std::fill(values.begin(), values.end(), -1);
        for (std::size_t t = 0; t < par.GetFactors().size(); ++t)
            values[Ix(fRequests.DesignPos(par.GetFactors()[t]))] = par.GetCategories()[t];
        // The other factors of the design run over all their levels.
        std::vector<const std::vector<int>*> free;
        std::vector<std::size_t> freePos;
        for (std::size_t d = 0; d < dfac.size(); ++d)
            if (values[d] < 0) {
                free.push_back(&fRequests.Levels(dfac[d]));
                freePos.push_back(d);
            }
        if (std::any_of(free.begin(), free.end(), [](const auto* l) { return l->empty(); }))
            continue;
        std::vector<int> pos(free.size(), 0);
        do {
            for (std::size_t t = 0; t < free.size(); ++t)
                values[freePos[t]] = (*free[t])[Ix(pos[t])];
            bool ok = false;
            std::vector<int> idx = fDesign.GetParameterIndices(values, ok);
            if (!ok) continue;
            for (std::size_t e = 0; e < nEff; ++e)
                if (fixedIndex[e] >= 0) idx[e] = fixedIndex[e];
            for (std::size_t s = 0; s < nSpecs; ++s) {
                if (fRequests.Status(static_cast<int>(s)).IsError()) continue;
                const std::vector<int>& factors = fRequests.Get(static_cast<int>(s)).GetFactors();
                key.clear();
                for (int i : orders[s])
                    key.push_back(values[Ix(fRequests.DesignPos(factors[Ix(i)]))]);
                std::vector<double>& cell = fvCells[s][key];
                if (cell.empty()) cell.assign(p + 1, 0.0);
                for (int k : idx)
                    if (k >= 0 && Ix(k) < p) cell[Ix(k)] += 1;
                cell[p] += 1;
            }
        } while (NextCombination(pos, free));
    }
    return MCStatus();
}

double MCEmmeansLRows::CovariateExpression(int effect, const MCEmmeansSpec& spec) const {
    const MCModelEffect& e = fDesign.GetModelEffects()[Ix(effect)];
    const std::vector<int> covs = e.GetCovariates();
    const std::vector<int> mult = e.GetCovMultiplicities();
    double v = 1.0;
    for (std::size_t i = 0; i < covs.size(); ++i) {
        double x = 0.0;
        for (const auto& held : spec.GetCovariates())
            if (held.first == covs[i]) x = held.second;
        v *= std::pow(x, i < mult.size() ? mult[i] : 1);
    }
    return v;
}

void MCEmmeansLRows::FillRow(MCRectMatrix& L, int r, const std::vector<int>& factors,
                             const std::vector<int>& levels,
                             const std::vector<double>& covExpr) const {
    std::vector<int> values(fDesign.GetFactors().size(), -1);
    for (int e = 0; e < fDesign.GetNEffects(); ++e) {
        const std::vector<int> ef = fDesign.GetModelEffects()[Ix(e)].GetFactors();
        // The effect's factors outside the cell run over all their levels;
        // each combination gets the same weight.
        std::vector<const std::vector<int>*> free;
        std::vector<int> freeDesign;
        std::fill(values.begin(), values.end(), -1);
        for (int f : ef) {
            const int d = fRequests.DesignPos(f);
            const int in = FindPosition(factors, f);
            if (in >= 0) {
                values[Ix(d)] = levels[Ix(in)];
            } else {
                free.push_back(&fRequests.Levels(f));
                freeDesign.push_back(d);
            }
        }
        std::size_t n = 1;
        for (const auto* l : free) n *= l->size();
        if (n == 0) continue;
        const double w = covExpr[Ix(e)] / static_cast<double>(n);
        std::vector<int> fpos(free.size(), 0);
        do {
            for (std::size_t t = 0; t < free.size(); ++t)
                values[Ix(freeDesign[t])] = (*free[t])[Ix(fpos[t])];
            const int j = fDesign.GetEffectParameterIndex(e, values);
            if (j >= 0) L.SetElem(r, j, L.GetElem(r, j) + w);
        } while (NextCombination(fpos, free));
    }
}

MCStatus MCEmmeansLRows::Profile(const std::vector<int>& factors,
                                 const std::vector<std::vector<int>>& cells,
                                 const std::vector<MCEmmeansSpec>& covs,
                                 const std::vector<double>& estimates, MCRectMatrix& L,
                                 std::vector<double>& means) const {
    const int p = fDesign.GetNParameters();
    const int nEff = fDesign.GetNEffects();
    L.Resize(static_cast<int>(cells.size()), p);
    means.assign(cells.size(), 0.0);
    std::vector<double> covExpr(Ix(nEff));
    for (std::size_t r = 0; r < cells.size(); ++r) {
        const int row = static_cast<int>(r);
        for (int j = 0; j < p; ++j) L.SetElem(row, j, 0.0);
        for (int e = 0; e < nEff; ++e) covExpr[Ix(e)] = CovariateExpression(e, covs[r]);
        FillRow(L, row, factors, cells[r], covExpr);
        for (int j = 0; j < p; ++j) means[r] += L.GetElem(row, j) * estimates[Ix(j)];
    }
    return MCStatus();
}

MCStatus MCEmmeansLRows::Build(int spec, const std::vector<int>& order, MCEmmeansLMatrix& out,
                               MCStatus& requestStatus) const {
    const MCEmmeansSpec& s = fRequests.Get(spec);
    out.fSpec = -1;
    out.fComparePos = s.GetCompareFactors().size() == 1 ? order.back() : -1;
    out.fvAllLevels.clear();
    if (out.fComparePos >= 0)
        out.fvAllLevels = fRequests.Levels(s.GetFactors()[Ix(out.fComparePos)]);
    if (!fRequests.IsComplete()) return BuildIncomplete(spec, order, out, requestStatus);
    return BuildComplete(s, order, out);
}

MCStatus MCEmmeansLRows::BuildComplete(const MCEmmeansSpec& s, const std::vector<int>& order,
                                       MCEmmeansLMatrix& out) const {
    // Every combination of usable levels of the request's factors, the
    // compare factors fastest.
    std::vector<const std::vector<int>*> lists;
    for (int i : order) lists.push_back(&fRequests.Levels(s.GetFactors()[Ix(i)]));
    std::size_t nRows = 1;
    for (const auto* l : lists) nRows *= l->size();
    out.fL = MCRectMatrix(static_cast<int>(nRows), fDesign.GetNParameters());
    out.fvRowLevels.assign(nRows, std::vector<int>(s.GetFactors().size(), 0));
    out.fvTestStarts.clear();

    const int nEff = fDesign.GetNEffects();
    std::vector<double> covExpr(Ix(nEff));
    for (int e = 0; e < nEff; ++e) covExpr[Ix(e)] = CovariateExpression(e, s);

    std::vector<int> pos(lists.size(), 0);
    for (std::size_t r = 0; r < nRows; ++r) {
        if (fCancel.WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        for (std::size_t t = 0; t < order.size(); ++t)
            out.fvRowLevels[r][Ix(order[t])] = (*lists[t])[Ix(pos[t])];
        FillRow(out.fL, static_cast<int>(r), s.GetFactors(), out.fvRowLevels[r], covExpr);
        NextCombination(pos, lists);
    }
    out.fNCompare = out.fComparePos >= 0 ? static_cast<int>(lists.back()->size()) : 0;
    out.fNTests = out.fNCompare > 1 ? static_cast<int>(nRows) / out.fNCompare : 0;
    return MCStatus();
}

MCStatus MCEmmeansLRows::BuildIncomplete(int spec, const std::vector<int>& order,
                                         MCEmmeansLMatrix& out, MCStatus& requestStatus) const {
    if (Ix(spec) >= fvCells.size()) return ErrorStatus(StatusCode::kMissingInput);
    const MCEmmeansSpec& s = fRequests.Get(spec);
    const CellMap& cells = fvCells[Ix(spec)];
    const std::size_t p = Ix(fDesign.GetNParameters());
    const int nEff = fDesign.GetNEffects();
    const std::size_t nCmp = s.GetCompareFactors().size();
    int nRows = 0;
    for (const auto& c : cells) nRows += c.second[p] > 0 ? 1 : 0;
    out.fL = MCRectMatrix(nRows, static_cast<int>(p));
    out.fvRowLevels.assign(Ix(nRows), std::vector<int>(s.GetFactors().size(), 0));
    out.fvTestStarts.clear();
    int r = 0;
    const std::vector<int>* previous = nullptr;
    for (const auto& c : cells) {
        const double total = c.second[p];
        if (!(total > 0)) continue;
        if (fCancel.WillCancel()) return ErrorStatus(StatusCode::kCancelled);
        // The cell's average over the observed design cells it holds.
        for (int e = 0; e < nEff; ++e) {
            int f0 = 0, cnt = 0;
            if (!fDesign.GetParamsForEffect(e, f0, cnt)) continue;
            const double w = CovariateExpression(e, s) / total;
            for (int j = f0; j < f0 + cnt; ++j)
                if (c.second[Ix(j)] > 0) out.fL.SetElem(r, j, c.second[Ix(j)] * w);
        }
        for (std::size_t t = 0; t < order.size(); ++t)
            out.fvRowLevels[Ix(r)][Ix(order[t])] = c.first[t];
        // A test is a run of rows sharing the non-compare levels.
        if (nCmp > 0 && (previous == nullptr ||
                         !std::equal(c.first.begin(), c.first.end() - static_cast<long>(nCmp),
                                     previous->begin())))
            out.fvTestStarts.push_back(r);
        previous = &c.first;
        ++r;
    }
    out.fNTests = static_cast<int>(out.fvTestStarts.size());
    out.fvTestStarts.push_back(nRows);
    if (nCmp > 0 && out.fNTests > 0 && out.fNTests == nRows)
        requestStatus = ErrorStatus(StatusCode::kOneLevelCompare);
    out.fNCompare = 0;
    return MCStatus();
}

}  // namespace MCMath_850
