#include "marginals/MCMarginals.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <new>

#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "design/MCContrasts.h"
#include "hypothesis/MCSatterthwaite.h"
#include "marginals/MCMultiCompareMarginals.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// An index out of range: the index and the largest valid one as data.
MCStatus RangeError(long code, int index, int largest) {
    MCStatus s = ErrorStatus(code);
    s.SetDiscreteDatum(0, index);
    s.SetDiscreteDatum(1, largest);
    return s;
}

int Find(const std::vector<int>& list, int value) {
    auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// Odometer step over per-position level lists; false after the last one.
bool Next(std::vector<int>& pos, const std::vector<const std::vector<int>*>& lists) {
    for (int i = static_cast<int>(pos.size()) - 1; i >= 0; --i) {
        const std::size_t u = static_cast<std::size_t>(i);
        if (++pos[u] < static_cast<int>(lists[u]->size())) return true;
        pos[u] = 0;
    }
    return false;
}

}  // namespace

MCMarginals::MCMarginals(const MCRegSettings& settings, const std::vector<MCEmmeansSpec>& specs,
                         const MCLiteDesignMatrix& design, const std::vector<double>& estimates,
                         MCCancelInfo& cancel, const std::vector<double>& covariateMeans,
                         const MCFactorCounts* counts, MCConst::LinkType link, double linkParam)
    : fSettings(settings),
      fvSpecs(specs),
      fDesign(design),
      fvEstimates(estimates),
      fCancel(cancel),
      fpCounts(counts),
      fCriticalValue(MCMV::Missing()),
      fTestType(settings.GetTestType()) {
    Init(covariateMeans);
    if (!fvSpecs.empty()) fPAdjust = fvSpecs[0].GetPAdjust();
    SetLinkFunction(link, linkParam);
}

MCMarginals::MCMarginals(const MCRegSettings& settings, const MCLiteDesignMatrix& design,
                         const std::vector<double>& estimates, MCCancelInfo& cancel,
                         const std::vector<double>& covariateMeans, const MCFactorCounts* counts)
    : fSettings(settings),
      fDesign(design),
      fvEstimates(estimates),
      fCancel(cancel),
      fpCounts(counts),
      fCriticalValue(MCMV::Missing()),
      fTestType(settings.GetTestType()) {
    Init(covariateMeans);
    SetLinkFunction(MCConst::LINK_IDENTITY, 0.0);
}

MCMarginals::~MCMarginals() = default;

bool MCMarginals::SetLinkFunction(MCConst::LinkType type, double param) {
    fpLink.reset(CreateLinkFunction(type, param));
    if (fpTester) fpTester->SetLinkFunction(fpLink.get());
    return fpLink != nullptr;
}

void MCMarginals::Init(const std::vector<double>& covariateMeans) {
    try {
        const std::vector<MCModelEffect>& effects = fDesign.GetModelEffects();
        const bool designIntercept = !effects.empty() && effects[0].IsIntercept();
        if (fDesign.GetNEffects() == 0 || fSettings.GetInterceptUse() != designIntercept ||
            fSettings.GetNModelEffects() + (designIntercept ? 1 : 0) < fDesign.GetNEffects()) {
            fStatus = ErrorStatus(StatusCode::kSettingsDesignDisagree);
            return;
        }
        const std::vector<int>& covs = fSettings.GetCovariates();
        int top = -1;
        for (int c : covs) top = std::max(top, c);
        fvCovMeans.assign(static_cast<std::size_t>(top + 1), MCMV::Missing());
        for (std::size_t i = 0; i < covs.size() && i < covariateMeans.size(); ++i)
            fvCovMeans[static_cast<std::size_t>(covs[i])] = covariateMeans[i];

        const std::vector<int>& factors = fSettings.GetFactors();
        const std::vector<int>& sizes = fSettings.GetFactorSizes();
        int topF = -1;
        for (int f : factors) topF = std::max(topF, f);
        for (int f : fDesign.GetFactors()) topF = std::max(topF, f);
        fvFactorPos.assign(static_cast<std::size_t>(topF + 1), -1);
        fvDesignPos.assign(static_cast<std::size_t>(topF + 1), -1);
        for (std::size_t d = 0; d < fDesign.GetFactors().size(); ++d)
            fvDesignPos[static_cast<std::size_t>(fDesign.GetFactors()[d])] = static_cast<int>(d);
        fvLevels.resize(factors.size());
        for (std::size_t i = 0; i < factors.size(); ++i) {
            fvFactorPos[static_cast<std::size_t>(factors[i])] = static_cast<int>(i);
            const int k = i < sizes.size() ? sizes[i] : 0;
            const int ci = fpCounts ? Find(fpCounts->GetFactors(), factors[i]) : -1;
            const MCFactorCounts::CountVector* cv = ci >= 0 ? fpCounts->GetCountsPtr(ci) : nullptr;
            for (int l = 0; l < k; ++l) {
                if (cv != nullptr && (l >= static_cast<int>(cv->size()) ||
                                      !(cv->at(static_cast<std::size_t>(l)).first > 0)))
                    continue;
                fvLevels[i].push_back(l);
            }
        }
        fbComplete = fDesign.GetIncompleteEffectIndex() < 0;

        fvSpecStatus.assign(fvSpecs.size(), MCStatus());
        for (std::size_t s = 0; s < fvSpecs.size(); ++s) {
            MCEmmeansSpec& spec = fvSpecs[s];
            MCStatus& st = fvSpecStatus[s];
            for (int f : spec.GetFactors())
                if (f >= static_cast<int>(fvFactorPos.size()) ||
                    fvFactorPos[static_cast<std::size_t>(f)] < 0 ||
                    fvDesignPos[static_cast<std::size_t>(f)] < 0)
                    st = ErrorStatus(StatusCode::kMissingInput);
            const std::vector<int>& cmp = spec.GetCompareFactors();
            if (!st.IsError() && !cmp.empty() && cmp[0] >= 0) {
                const int fp = cmp[0] < static_cast<int>(fvFactorPos.size())
                                   ? fvFactorPos[static_cast<std::size_t>(cmp[0])]
                                   : -1;
                if (fp < 0 || Find(spec.GetFactors(), cmp[0]) < 0) {
                    st = ErrorStatus(StatusCode::kMissingInput);
                } else {
                    const std::vector<int>& lv = fvLevels[static_cast<std::size_t>(fp)];
                    const int k = static_cast<int>(lv.size());
                    if (k <= 1) {
                        st = ErrorStatus(StatusCode::kOneLevelCompare);
                    } else if (spec.GetContrastType() == MCConst::CONTRAST_SIMPLE &&
                               spec.GetRefCateg() >= 0 && Find(lv, spec.GetRefCateg()) < 0) {
                        st = WarningStatus(StatusCode::kReferenceNotLevel);
                        st.SetDiscreteDatum(0, static_cast<long>(s));
                    } else if (spec.GetContrastType() == MCConst::CONTRAST_POLYNOMIAL) {
                        std::vector<double> m = spec.GetMetricValueList();
                        if (m.empty()) {
                            for (int i = 1; i <= k; ++i) m.push_back(i);
                            spec.SetMetricValueList(m);
                        } else if (static_cast<int>(m.size()) > k) {
                            st = WarningStatus(StatusCode::kLongMetric);
                        } else if (static_cast<int>(m.size()) < k) {
                            st = ErrorStatus(StatusCode::kShortMetric);
                        }
                    }
                }
            }
            auto& cv = spec.GetCovariates();
            for (auto& c : cv)
                if (MCMV::IsMissing(c.second) && c.first < static_cast<int>(fvCovMeans.size()))
                    c.second = fvCovMeans[static_cast<std::size_t>(c.first)];
            for (int c : covs) {
                bool listed = false;
                for (auto& p : cv) listed = listed || p.first == c;
                if (!listed) cv.emplace_back(c, fvCovMeans[static_cast<std::size_t>(c)]);
            }
        }
        if (fCancel.WillCancel()) fStatus = ErrorStatus(StatusCode::kCancelled);
        if (!fStatus.IsError() && !fbComplete) ComputeIncompleteCounts();
    } catch (const std::bad_alloc&) {
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
    }
}

bool MCMarginals::BuildOrder(const MCEmmeansSpec& s, std::vector<int>& order) const {
    order.clear();
    const std::vector<int>& cmp = s.GetCompareFactors();
    for (std::size_t i = 0; i < s.GetFactors().size(); ++i)
        if (Find(cmp, s.GetFactors()[i]) < 0) order.push_back(static_cast<int>(i));
    for (int c : cmp) {
        const int at = Find(s.GetFactors(), c);
        if (at < 0) return false;
        order.push_back(at);
    }
    return true;
}

void MCMarginals::ComputeIncompleteCounts() {
    const int ie = fDesign.GetIncompleteEffectIndex();
    int first = 0, count = 0;
    if (ie < 0 || !fDesign.GetParamsForEffect(ie, first, count)) return;
    const std::vector<int>& dfac = fDesign.GetFactors();
    const int nEff = fDesign.GetNEffects();
    const std::size_t p = static_cast<std::size_t>(fDesign.GetNParameters());
    std::vector<int> fixedIndex(static_cast<std::size_t>(nEff), -1);
    for (int e = 0; e < nEff; ++e) {
        int f0 = 0, c0 = 0;
        if (fDesign.GetParamsForEffect(e, f0, c0) &&
            fDesign.GetModelEffects()[static_cast<std::size_t>(e)].GetFactors().empty())
            fixedIndex[static_cast<std::size_t>(e)] = f0;
    }
    std::vector<std::vector<int>> orders(fvSpecs.size());
    for (std::size_t s = 0; s < fvSpecs.size(); ++s) BuildOrder(fvSpecs[s], orders[s]);
    fvCells.assign(fvSpecs.size(), CellMap());
    std::vector<int> values(dfac.size()), key;
    for (int j = first; j < first + count; ++j) {
        if (fCancel.WillCancel()) {
            fStatus = ErrorStatus(StatusCode::kCancelled);
            return;
        }
        const MCRegrParameter& par = fDesign.GetParameters()[static_cast<std::size_t>(j)];
        std::fill(values.begin(), values.end(), -1);
        for (std::size_t t = 0; t < par.GetFactors().size(); ++t)
            values[static_cast<std::size_t>(
                fvDesignPos[static_cast<std::size_t>(par.GetFactors()[t])])] =
                par.GetCategories()[t];
        // The other factors of the design run over all their levels.
        std::vector<const std::vector<int>*> free;
        std::vector<std::size_t> freePos;
        for (std::size_t d = 0; d < dfac.size(); ++d)
            if (values[d] < 0) {
                free.push_back(&fvLevels[static_cast<std::size_t>(
                    fvFactorPos[static_cast<std::size_t>(dfac[d])])]);
                freePos.push_back(d);
            }
        bool empty = false;
        for (const auto* l : free) empty = empty || l->empty();
        if (empty) continue;
        std::vector<int> pos(free.size(), 0);
        do {
            for (std::size_t t = 0; t < free.size(); ++t)
                values[freePos[t]] = (*free[t])[static_cast<std::size_t>(pos[t])];
            bool ok = false;
            std::vector<int> idx = fDesign.GetParameterIndices(values, ok);
            if (!ok) continue;
            for (int e = 0; e < nEff; ++e)
                if (fixedIndex[static_cast<std::size_t>(e)] >= 0)
                    idx[static_cast<std::size_t>(e)] = fixedIndex[static_cast<std::size_t>(e)];
            for (std::size_t s = 0; s < fvSpecs.size(); ++s) {
                if (fvSpecStatus[s].IsError()) continue;
                key.clear();
                for (int i : orders[s])
                    key.push_back(
                        values[static_cast<std::size_t>(fvDesignPos[static_cast<std::size_t>(
                            fvSpecs[s].GetFactors()[static_cast<std::size_t>(i)])])]);
                std::vector<double>& cell = fvCells[s][key];
                if (cell.empty()) cell.assign(p + 1, 0.0);
                for (int k : idx)
                    if (k >= 0 && static_cast<std::size_t>(k) < p)
                        cell[static_cast<std::size_t>(k)] += 1;
                cell[p] += 1;
            }
        } while (Next(pos, free));
    }
}

double MCMarginals::CovariateExpression(int effect, const MCEmmeansSpec& spec) const {
    const MCModelEffect& e = fDesign.GetModelEffects()[static_cast<std::size_t>(effect)];
    const std::vector<int> covs = e.GetCovariates();
    const std::vector<int> mult = e.GetCovMultiplicities();
    double v = 1.0;
    for (std::size_t i = 0; i < covs.size(); ++i) {
        double x = 0.0;
        for (const auto& p : spec.GetCovariates())
            if (p.first == covs[i]) x = p.second;
        v *= std::pow(x, i < mult.size() ? mult[i] : 1);
    }
    return v;
}

MCStatus MCMarginals::CheckSpec(int spec) const {
    if (fStatus.IsError()) return fStatus;
    if (fpCovariance == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    if (spec < 0 || spec >= static_cast<int>(fvSpecs.size()))
        return RangeError(StatusCode::kSpecIndex, spec, static_cast<int>(fvSpecs.size()) - 1);
    return MCStatus();
}

MCStatus MCMarginals::SetEmmeansTesting(const MCSymMatrix* covariance, const MCBitSet& nonRedundant,
                                        double errorDF, MCSatterthwaite* satterthwaite) {
    if (fStatus.IsError()) return fStatus;
    if (covariance == nullptr || errorDF < 0) return ErrorStatus(StatusCode::kMissingInput);
    if (covariance->GetNRows() != static_cast<int>(fvEstimates.size()) ||
        covariance->GetNRows() != fDesign.GetNParameters())
        return ErrorStatus(StatusCode::kCovarianceDimension);
    fpCovariance = covariance;
    fpNonRedundant = &nonRedundant;
    fErrorDF = errorDF;
    fpSatterthwaite = satterthwaite;
    try {
        fpTester.reset(new MCModelTests(fvEstimates, nonRedundant, *covariance, errorDF));
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    fpTester->SetTestType(fTestType);
    fpTester->SetConfidenceLevel(fSettings.GetConfidenceLevel());
    fpTester->SetPAdjustment(fPAdjust);
    fpTester->SetLinkFunction(fpLink.get());
    fpTester->SetSatterthwaite(satterthwaite);
    fCriticalValue = fpTester->GetCriticalValue();
    fCurrentSpec = -1;
    return MCStatus();
}

double MCMarginals::CriticalValue(double df) const {
    if (fpSatterthwaite == nullptr) return fCriticalValue;
    return fpTester->ComputePercentile(0.5 * fSettings.GetConfidenceLevel() + 0.5, df);
}

void MCMarginals::FillRow(MCRectMatrix& L, int r, const std::vector<int>& factors,
                          const std::vector<int>& levels,
                          const std::vector<double>& covExpr) const {
    std::vector<int> values(fDesign.GetFactors().size(), -1);
    for (int e = 0; e < fDesign.GetNEffects(); ++e) {
        const std::vector<int> ef =
            fDesign.GetModelEffects()[static_cast<std::size_t>(e)].GetFactors();
        // The effect's factors outside the cell run over all their levels;
        // each combination gets the same weight.
        std::vector<const std::vector<int>*> free;
        std::vector<int> freeDesign;
        std::fill(values.begin(), values.end(), -1);
        for (int f : ef) {
            const int d = fvDesignPos[static_cast<std::size_t>(f)];
            const int in = Find(factors, f);
            if (in >= 0) {
                values[static_cast<std::size_t>(d)] = levels[static_cast<std::size_t>(in)];
            } else {
                free.push_back(
                    &fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(f)])]);
                freeDesign.push_back(d);
            }
        }
        std::size_t n = 1;
        for (const auto* l : free) n *= l->size();
        if (n == 0) continue;
        const double w = covExpr[static_cast<std::size_t>(e)] / static_cast<double>(n);
        std::vector<int> fpos(free.size(), 0);
        do {
            for (std::size_t t = 0; t < free.size(); ++t)
                values[static_cast<std::size_t>(freeDesign[t])] =
                    (*free[t])[static_cast<std::size_t>(fpos[t])];
            const int j = fDesign.GetEffectParameterIndex(e, values);
            if (j >= 0) L.SetElem(r, j, L.GetElem(r, j) + w);
        } while (Next(fpos, free));
    }
}

MCStatus MCMarginals::ProfileRows(const std::vector<int>& factors,
                                  const std::vector<std::vector<int>>& cells,
                                  const std::vector<MCEmmeansSpec>& covs, MCRectMatrix& L,
                                  std::vector<double>& means) const {
    try {
        const int p = fDesign.GetNParameters();
        L.Resize(static_cast<int>(cells.size()), p);
        means.assign(cells.size(), 0.0);
        std::vector<double> covExpr(static_cast<std::size_t>(fDesign.GetNEffects()));
        for (std::size_t r = 0; r < cells.size(); ++r) {
            for (int j = 0; j < p; ++j) L.SetElem(static_cast<int>(r), j, 0.0);
            for (int e = 0; e < fDesign.GetNEffects(); ++e)
                covExpr[static_cast<std::size_t>(e)] = CovariateExpression(e, covs[r]);
            FillRow(L, static_cast<int>(r), factors, cells[r], covExpr);
            for (int j = 0; j < p; ++j)
                means[r] +=
                    L.GetElem(static_cast<int>(r), j) * fvEstimates[static_cast<std::size_t>(j)];
        }
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    return MCStatus();
}

MCStatus MCMarginals::GetFactorEmmeans(int factor, MCRectMatrix& L, std::vector<double>& means) {
    if (fStatus.IsError()) return fStatus;
    if (factor < 0 || factor >= static_cast<int>(fvFactorPos.size()) ||
        fvFactorPos[static_cast<std::size_t>(factor)] < 0 ||
        fvDesignPos[static_cast<std::size_t>(factor)] < 0)
        return ErrorStatus(StatusCode::kMissingInput);
    const std::vector<int>& lv =
        fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(factor)])];
    std::vector<std::vector<int>> cells;
    for (int l : lv) cells.push_back({l});
    MCEmmeansSpec atMeans;
    for (int c : fSettings.GetCovariates())
        atMeans.AddCovariate(c, fvCovMeans[static_cast<std::size_t>(c)]);
    return ProfileRows({factor}, cells, std::vector<MCEmmeansSpec>(cells.size(), atMeans), L,
                       means);
}

MCStatus MCMarginals::GetCovarEmmeans(int covariate, double low, double high, int points,
                                      MCRectMatrix& L, std::vector<double>& values,
                                      std::vector<double>& means) {
    if (fStatus.IsError()) return fStatus;
    if (points < 2 || !(low < high) || covariate < 0 ||
        Find(fSettings.GetCovariates(), covariate) < 0)
        return ErrorStatus(StatusCode::kMissingInput);
    try {
        values.clear();
        const double step = (high - low) / (points - 1);
        double x = low;
        std::vector<MCEmmeansSpec> covs;
        for (int i = 0; i < points; ++i, x += step) {
            values.push_back(x);
            MCEmmeansSpec at;
            for (int c : fSettings.GetCovariates())
                at.AddCovariate(c, c == covariate ? x : fvCovMeans[static_cast<std::size_t>(c)]);
            covs.push_back(at);
        }
        return ProfileRows({}, std::vector<std::vector<int>>(covs.size()), covs, L, means);
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
}

MCStatus MCMarginals::SetCurrentSpec(int spec) {
    if (spec == fCurrentSpec) return fvSpecStatus[static_cast<std::size_t>(spec)];
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(spec)];
    MCStatus& st = fvSpecStatus[static_cast<std::size_t>(spec)];
    if (st.IsError()) return st;
    fPAdjust = s.GetPAdjust();
    fpTester->SetPAdjustment(fPAdjust);
    fCurrentSpec = -1;
    fPairTest = -1;
    fCurrentTest = -1;
    try {
        // Request factors with the compare factors moved last (fastest), in
        // compare-list order.
        std::vector<int> order;
        fComparePos = -1;
        const std::vector<int>& cmp = s.GetCompareFactors();
        if (!BuildOrder(s, order)) return ErrorStatus(StatusCode::kMissingInput);
        if (cmp.size() == 1) fComparePos = order.back();
        if (cmp.size() > 1) {
            fpMulti.reset(new MCMultiCompareMarginals(*this));
            std::vector<int> positions;
            fpMulti->GetEmmeansFactorIndices(spec, positions, true);
        } else {
            fpMulti.reset();
        }
        if (!fbComplete) return SetIncompleteLMatrix(spec, order);
        std::vector<const std::vector<int>*> lists;
        for (int i : order)
            lists.push_back(&fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(
                s.GetFactors()[static_cast<std::size_t>(i)])])]);
        std::size_t nRows = 1;
        for (const auto* l : lists) nRows *= l->size();
        const int p = fDesign.GetNParameters();
        fpL.reset(new MCRectMatrix(static_cast<int>(nRows), p));
        fvRowCats.assign(nRows, std::vector<int>(s.GetFactors().size(), 0));

        const int nEff = fDesign.GetNEffects();
        std::vector<double> covExpr(static_cast<std::size_t>(nEff));
        for (int e = 0; e < nEff; ++e)
            covExpr[static_cast<std::size_t>(e)] = CovariateExpression(e, s);

        std::vector<int> pos(lists.size(), 0);
        for (std::size_t r = 0; r < nRows; ++r) {
            if (fCancel.WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
            for (std::size_t t = 0; t < order.size(); ++t)
                fvRowCats[r][static_cast<std::size_t>(order[t])] =
                    (*lists[t])[static_cast<std::size_t>(pos[t])];
            FillRow(*fpL, static_cast<int>(r), s.GetFactors(), fvRowCats[r], covExpr);
            Next(pos, lists);
        }
        fNCompare = fComparePos >= 0 ? static_cast<int>(lists.back()->size()) : 0;
        fNTests = fNCompare > 1 ? static_cast<int>(nRows) / fNCompare : 0;
        fvAllLevels = fComparePos >= 0 ? *lists.back() : std::vector<int>();
        fvTestLevels = fvAllLevels;
        fCurrentSpec = spec;
        if (fpMulti) {
            MCStatus ms = fpMulti->DoAfterCompleteLMatrix(spec);
            if (ms.IsError()) {
                fCurrentSpec = -1;
                return ms;
            }
        }
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    fCurrentSpec = spec;
    return st;
}

MCStatus MCMarginals::GetEmmeansStats(int spec, MCEmmeansSpec& specOut, MCRectMatrix& L,
                                      std::vector<MCEmmeansStats>& stats) {
    MCStatus st = CheckSpec(spec);
    if (st.IsError()) return st;
    st = SetCurrentSpec(spec);
    if (st.IsError()) return st;
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(spec)];
    specOut = s;
    try {
        L = *fpL;
        const int nRows = fpL->GetNRows(), p = fpL->GetNCols();
        std::vector<double> df(static_cast<std::size_t>(nRows), fErrorDF);
        if (fpSatterthwaite != nullptr) fpSatterthwaite->ComputeDF4FixedOverallNIndiv(*fpL, {}, df);
        stats.assign(static_cast<std::size_t>(nRows), MCEmmeansStats());
        for (int r = 0; r < nRows; ++r) {
            double eta = 0, v = 0;
            for (int j = 0; j < p; ++j) {
                const double lj = fpL->GetElem(r, j);
                if (lj == 0) continue;
                eta += lj * fvEstimates[static_cast<std::size_t>(j)];
                for (int k = 0; k < p; ++k)
                    v += lj * fpCovariance->GetElem(j, k) * fpL->GetElem(r, k);
            }
            v = std::max(v, 0.0);
            const double rdf =
                r < static_cast<int>(df.size()) ? df[static_cast<std::size_t>(r)] : fErrorDF;
            const double crit = CriticalValue(rdf);
            const double half = MCMV::IsMissing(crit) ? MCMV::Missing() : std::sqrt(v) * crit;
            MCEmmeansStats& out = stats[static_cast<std::size_t>(r)];
            out.SetCategories(fvRowCats[static_cast<std::size_t>(r)]);
            out.SetDF(rdf);
            if (s.GetEmmScaleType() == MCConst::EMM_SCALE_TRANSFORMED || fpLink == nullptr) {
                out.SetMean(eta);
                out.SetStandardError(std::sqrt(v));
                if (!MCMV::IsMissing(half)) {
                    out.SetLower(eta - half);
                    out.SetUpper(eta + half);
                }
            } else {
                int flag = 0;
                const double mu = fpLink->GetInverseValue(eta, &flag);
                out.SetMean(mu);
                const double d = fpLink->Get1stDerivativeValue(mu, &flag);
                if (!MCMV::IsMissing(d) && d != 0)
                    out.SetStandardError(std::sqrt(v) / std::fabs(d));
                if (!MCMV::IsMissing(half)) {
                    const double a = fpLink->GetInverseValue(eta - half, &flag);
                    const double b = fpLink->GetInverseValue(eta + half, &flag);
                    out.SetLower(std::min(a, b));
                    out.SetUpper(std::max(a, b));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    return st;
}

int MCMarginals::GetNEmmeansTests(int spec, MCStatus& status) {
    status = CheckSpec(spec);
    if (!status.IsError()) status = SetCurrentSpec(spec);
    if (status.IsError()) return -1;
    return fNTests;
}

MCStatus MCMarginals::SetIncompleteLMatrix(int spec, const std::vector<int>& order) {
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(spec)];
    MCStatus& st = fvSpecStatus[static_cast<std::size_t>(spec)];
    if (static_cast<std::size_t>(spec) >= fvCells.size())
        return ErrorStatus(StatusCode::kMissingInput);
    const CellMap& cells = fvCells[static_cast<std::size_t>(spec)];
    const std::size_t p = static_cast<std::size_t>(fDesign.GetNParameters());
    const int nEff = fDesign.GetNEffects();
    const std::size_t nCmp = s.GetCompareFactors().size();
    int nRows = 0;
    for (const auto& c : cells) nRows += c.second[p] > 0 ? 1 : 0;
    fpL.reset(new MCRectMatrix(nRows, static_cast<int>(p)));
    fvRowCats.assign(static_cast<std::size_t>(nRows), std::vector<int>(s.GetFactors().size(), 0));
    fvTestStarts.clear();
    int r = 0;
    const std::vector<int>* previous = nullptr;
    for (const auto& c : cells) {
        const double total = c.second[p];
        if (!(total > 0)) continue;
        if (fCancel.WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
        for (int e = 0; e < nEff; ++e) {
            int f0 = 0, cnt = 0;
            if (!fDesign.GetParamsForEffect(e, f0, cnt)) continue;
            const double w = CovariateExpression(e, s) / total;
            for (int j = f0; j < f0 + cnt; ++j)
                if (c.second[static_cast<std::size_t>(j)] > 0)
                    fpL->SetElem(r, j, c.second[static_cast<std::size_t>(j)] * w);
        }
        for (std::size_t t = 0; t < order.size(); ++t)
            fvRowCats[static_cast<std::size_t>(r)][static_cast<std::size_t>(order[t])] = c.first[t];
        // A test is a run of rows sharing the non-compare levels.
        if (nCmp > 0 && (previous == nullptr ||
                         !std::equal(c.first.begin(), c.first.end() - static_cast<long>(nCmp),
                                     previous->begin())))
            fvTestStarts.push_back(r);
        previous = &c.first;
        ++r;
    }
    fNTests = static_cast<int>(fvTestStarts.size());
    fvTestStarts.push_back(nRows);
    if (nCmp > 0 && fNTests > 0 && fNTests == nRows) st = ErrorStatus(StatusCode::kOneLevelCompare);
    fNCompare = 0;
    fvAllLevels.clear();
    if (fComparePos >= 0)
        fvAllLevels = fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(
            s.GetFactors()[static_cast<std::size_t>(fComparePos)])])];
    fCurrentSpec = st.IsError() ? -1 : spec;
    return st;
}

MCStatus MCMarginals::SelectTest(int test) {
    if (fNTests <= 0) return ErrorStatus(StatusCode::kMissingInput);
    if (test < 0 || test >= fNTests) return RangeError(StatusCode::kTestIndex, test, fNTests - 1);
    fCurrentTest = test;
    if (fbComplete) {
        fFirstRow = fNCompare * test;
        return MCStatus();
    }
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(fCurrentSpec)];
    const int first = fvTestStarts[static_cast<std::size_t>(test)];
    const int end = fvTestStarts[static_cast<std::size_t>(test) + 1];
    fFirstRow = first;
    fNCompare = end - first;
    std::vector<std::vector<int>> combos;
    std::size_t full = 1;
    for (int c : s.GetCompareFactors())
        full *= fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(c)])].size();
    for (int r = first; r < end; ++r) {
        std::vector<int> combo;
        for (int c : s.GetCompareFactors())
            combo.push_back(fvRowCats[static_cast<std::size_t>(r)]
                                     [static_cast<std::size_t>(Find(s.GetFactors(), c))]);
        combos.push_back(combo);
    }
    fvTestLevels.clear();
    for (const auto& c : combos) fvTestLevels.push_back(c.empty() ? -1 : c[0]);
    if (fpMulti) fpMulti->fvTestCats = combos;
    MCStatus st;
    if (fNCompare == 1) {
        st = MCStatus(StatusCode::kOneRowTest, s.GetContrastType() == MCConst::CONTRAST_PAIRWISE);
        st.SetDiscreteDatum(0, test);
    } else if (combos.size() < full) {
        st = WarningStatus(StatusCode::kLevelsMissing);
        st.SetDiscreteDatum(0, test);
    }
    return st;
}

void MCMarginals::FillFixed(int firstRow, FixedLevels& fixed) const {
    fixed.clear();
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(fCurrentSpec)];
    const std::vector<int>& cats = fvRowCats[static_cast<std::size_t>(firstRow)];
    for (std::size_t i = 0; i < s.GetFactors().size(); ++i)
        if (static_cast<int>(i) != fComparePos) fixed.emplace_back(s.GetFactors()[i], cats[i]);
}

MCStatus MCMarginals::GetEmmeansTests(int spec, int test, FixedLevels& fixed,
                                      std::vector<int>& compared, MCRectMatrix& tested,
                                      std::vector<MCTestStats>& indiv, MCTestStats& overall) {
    MCStatus st = CheckSpec(spec);
    if (st.IsError()) return st;
    st = SetCurrentSpec(spec);
    if (st.IsError()) return st;
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(spec)];
    // Contrasts compare the levels of one factor.
    if (s.GetContrastType() == MCConst::CONTRAST_PAIRWISE || fpMulti)
        return ErrorStatus(StatusCode::kMissingInput);
    MCStatus sel = SelectTest(test);
    if (sel.IsError()) return sel;
    const int k = fNCompare, first = fFirstRow, p = fpL->GetNCols();
    FillFixed(first, fixed);
    compared = fvTestLevels;
    MCRectMatrix C;
    MCStatus cs;
    switch (s.GetContrastType()) {
        case MCConst::CONTRAST_SIMPLE: {
            int ref = k - 1;
            const int at = s.GetRefCateg() >= 0 ? Find(compared, s.GetRefCateg()) : -1;
            if (at >= 0) {
                ref = at;
            } else if (s.GetRefCateg() >= 0) {
                sel = WarningStatus(StatusCode::kReferenceNotLevel);
            } else if (!fvAllLevels.empty() && compared.back() != fvAllLevels.back()) {
                sel = WarningStatus(StatusCode::kLastLevelMissing);
            }
            cs = MCContrasts::ComputeSimpleContrast(k, ref, C);
            const int level = compared[static_cast<std::size_t>(ref)];
            compared.erase(compared.begin() + ref);
            compared.push_back(level);
            break;
        }
        case MCConst::CONTRAST_DEVIATION:
            cs = MCContrasts::ComputeDeviationContrast(k, C);
            break;
        case MCConst::CONTRAST_HELMERT:
            cs = MCContrasts::ComputeHelmertContrast(k, C);
            break;
        case MCConst::CONTRAST_DIFFERENCE:
            cs = MCContrasts::ComputeDifferenceContrast(k, C);
            break;
        case MCConst::CONTRAST_REPEATED:
            cs = MCContrasts::ComputeRepeatedContrast(k, C);
            break;
        default:
            cs = MCContrasts::ComputePolynomialContrast(k, s.GetMetricValueList(), C);
            break;
    }
    if (cs.IsError()) return cs;
    MCRectMatrix A(k, p);
    for (int r = 0; r < k; ++r)
        for (int j = 0; j < p; ++j) A.SetElem(r, j, fpL->GetElem(first + r, j));
    if (s.GetEmmScaleType() == MCConst::EMM_SCALE_TRANSFORMED) {
        tested.Resize(C.GetNRows(), p);
        for (int r = 0; r < C.GetNRows(); ++r)
            for (int j = 0; j < p; ++j) {
                double v = 0;
                for (int t = 0; t < k; ++t) v += C.GetElem(r, t) * A.GetElem(t, j);
                tested.SetElem(r, j, v);
            }
        cs = fpTester->ComputeOvAndIndTests(tested, {}, indiv, overall, 0);
    } else {
        tested = C;
        cs = fpTester->ComputeOriginalOvAndIndTests(A, fvEstimates, C, indiv, overall, 0);
    }
    if (!cs.IsOK()) return cs;
    return st.IsOK() ? sel : st;
}

void MCMarginals::ComputePairIndices(int pair, int k, int& i, int& j) {
    i = k > 1 ? pair / (k - 1) : 0;
    const int r = k > 1 ? pair % (k - 1) : 0;
    j = i > r ? r : r + 1;
}

int MCMarginals::GetNPairwiseEmmeansTests(int spec, int test) {
    MCStatus st;
    if (GetNEmmeansTests(spec, st) < 0 || SelectTest(test).IsError()) return -1;
    const int n = fNCompare * (fNCompare - 1);
    return n == 0 ? 1 : n;
}

MCStatus MCMarginals::ComputePairs(int test) {
    const MCEmmeansSpec& s = fvSpecs[static_cast<std::size_t>(fCurrentSpec)];
    const int k = fNCompare, n = k * (k - 1), m = n / 2, p = fpL->GetNCols(), first = fFirstRow;
    fvPairs.assign(static_cast<std::size_t>(n), MCEmmeansStats());
    fvPairStatus.assign(static_cast<std::size_t>(n), MCStatus());
    const double alpha = 1.0 - fSettings.GetConfidenceLevel();
    for (int q = 0; q < n; ++q) {
        if (fCancel.WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
        int i = 0, j = 0;
        ComputePairIndices(q, k, i, j);
        MCTestStats rec;
        MCStatus& qs = fvPairStatus[static_cast<std::size_t>(q)];
        if (s.GetEmmScaleType() == MCConst::EMM_SCALE_TRANSFORMED) {
            MCRectMatrix d(1, p);
            for (int c = 0; c < p; ++c)
                d.SetElem(0, c, fpL->GetElem(first + i, c) - fpL->GetElem(first + j, c));
            fpTester->ComputeIndivTest(d, 0, 0.0, m, rec, true);
        } else {
            MCRectMatrix M(2, p), L(1, 2);
            for (int c = 0; c < p; ++c) {
                M.SetElem(0, c, fpL->GetElem(first + i, c));
                M.SetElem(1, c, fpL->GetElem(first + j, c));
            }
            L.SetElem(0, 0, 1.0);
            L.SetElem(0, 1, -1.0);
            std::vector<MCTestStats> ind;
            MCTestStats ov;
            qs = fpTester->ComputeOriginalOvAndIndTests(M, fvEstimates, L, ind, ov, m);
            if (!ind.empty()) rec = ind[0];
        }
        MCEmmeansStats& out = fvPairs[static_cast<std::size_t>(q)];
        out.SetCategories({fvTestLevels[static_cast<std::size_t>(j)]});
        out.SetMean(rec.GetContrastEstimate());
        out.SetStandardError(rec.GetStandardError());
        out.SetDF(rec.GetDF2());
        out.SetTStatistics(rec.GetWald());
        out.SetLower(rec.GetLowerConfidenceInterval());
        out.SetUpper(rec.GetUpperConfidenceInterval());
        const bool stepDown =
            fPAdjust == MCConst::PADJ_SEQ_BONFERRONI || fPAdjust == MCConst::PADJ_SEQ_SIDAK;
        out.SetSignificance(stepDown ? rec.GetSig() : rec.GetAdjSig());
    }
    if (fPAdjust == MCConst::PADJ_SEQ_BONFERRONI || fPAdjust == MCConst::PADJ_SEQ_SIDAK) {
        std::vector<int> members;
        for (int q = 0; q < n; ++q) {
            int i = 0, j = 0;
            ComputePairIndices(q, k, i, j);
            if (i < j) members.push_back(q);
        }
        MCEmmeansStats::StepDown(fPAdjust, fTestType, alpha, fErrorDF, m, fvPairs, members);
        for (int q = 0; q < n; ++q) {
            int i = 0, j = 0;
            ComputePairIndices(q, k, i, j);
            if (i < j) continue;
            const MCEmmeansStats& o = fvPairs[static_cast<std::size_t>(j * (k - 1) + i - 1)];
            MCEmmeansStats& out = fvPairs[static_cast<std::size_t>(q)];
            out.SetSignificance(o.GetSignificance());
            if (!MCMV::IsMissing(o.GetLower())) {
                out.SetLower(-o.GetUpper());
                out.SetUpper(-o.GetLower());
            }
        }
    }
    fPairTest = test;
    return MCStatus();
}

MCStatus MCMarginals::GetPairwiseEmmeansTests(int spec, int test, int pair, FixedLevels& fixed,
                                              std::vector<int>& compared, MCEmmeansStats& stats) {
    MCStatus st = CheckSpec(spec);
    if (st.IsError()) return st;
    st = SetCurrentSpec(spec);
    if (st.IsError()) return st;
    if (fpMulti) return fpMulti->GetPairwiseEmmeansTests(spec, test, pair, fixed, compared, stats);
    MCStatus sel = SelectTest(test);
    if (sel.IsError()) return sel;
    const int k = fNCompare, n = k * (k - 1);
    FillFixed(fFirstRow, fixed);
    if (n <= 1) {
        stats.Reset();
        if (k == 1) stats.SetCategories({fvTestLevels[0]});
        return sel.IsOK()
                   ? WarningStatus(k == 1 ? StatusCode::kOneLevelCompare : StatusCode::kOneRowTest)
                   : sel;
    }
    if (pair < 0 || pair >= n) return RangeError(StatusCode::kTestIndex, pair, n - 1);
    try {
        if (pair == 0 || fPairTest != test) {
            MCStatus ps = ComputePairs(test);
            if (ps.IsError()) return ps;
        }
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    int i = 0, j = 0;
    ComputePairIndices(pair, k, i, j);
    compared.assign(1, fvTestLevels[static_cast<std::size_t>(i)]);
    stats = fvPairs[static_cast<std::size_t>(pair)];
    const MCStatus& qs = fvPairStatus[static_cast<std::size_t>(pair)];
    if (!qs.IsOK()) return qs;
    return st.IsOK() ? sel : st;
}

MCStatus MCMarginals::GetPairwiseOverallTest(int spec, int test, FixedLevels& fixed,
                                             MCTestStats& overall) {
    MCStatus st = CheckSpec(spec);
    if (st.IsError()) return st;
    st = SetCurrentSpec(spec);
    if (st.IsError()) return st;
    MCStatus sel = SelectTest(test);
    if (sel.IsError()) return sel;
    const int k = fNCompare, p = fpL->GetNCols(), first = fFirstRow;
    FillFixed(first, fixed);
    MCRectMatrix C, A(k, p);
    MCStatus cs = MCContrasts::ComputeSimpleContrast(k, 0, C);
    if (cs.IsError()) return cs;
    for (int r = 0; r < k; ++r)
        for (int j = 0; j < p; ++j) A.SetElem(r, j, fpL->GetElem(first + r, j));
    if (fvSpecs[static_cast<std::size_t>(spec)].GetEmmScaleType() ==
        MCConst::EMM_SCALE_TRANSFORMED) {
        MCRectMatrix T(C.GetNRows(), p);
        for (int r = 0; r < C.GetNRows(); ++r)
            for (int j = 0; j < p; ++j) {
                double v = 0;
                for (int t = 0; t < k; ++t) v += C.GetElem(r, t) * A.GetElem(t, j);
                T.SetElem(r, j, v);
            }
        cs = fpTester->ComputeOverallTest(T, overall);
    } else {
        cs = fpTester->ComputeOriginalOverallTest(A, fvEstimates, C, overall);
    }
    return cs.IsOK() ? st : cs;
}

bool MCMarginals::GetPWCombinations(int spec, std::vector<std::vector<int>>& combinations) const {
    combinations.clear();
    if (spec < 0 || spec >= static_cast<int>(fvSpecs.size())) return false;
    std::vector<const std::vector<int>*> lists;
    for (int f : fvSpecs[static_cast<std::size_t>(spec)].GetCompareFactors()) {
        if (f < 0 || f >= static_cast<int>(fvFactorPos.size()) ||
            fvFactorPos[static_cast<std::size_t>(f)] < 0)
            return false;
        lists.push_back(
            &fvLevels[static_cast<std::size_t>(fvFactorPos[static_cast<std::size_t>(f)])]);
    }
    for (const auto* l : lists)
        if (l->empty()) return false;
    if (lists.empty()) return false;
    std::vector<int> pos(lists.size(), 0);
    do {
        std::vector<int> c(lists.size());
        for (std::size_t t = 0; t < lists.size(); ++t)
            c[t] = (*lists[t])[static_cast<std::size_t>(pos[t])];
        combinations.push_back(c);
    } while (Next(pos, lists));
    return true;
}

void MCMarginals::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCMarginals display start");
    DisplayI("Status", fStatus.GetErrorCode());
    DisplayI("Specifications", static_cast<long long>(fvSpecs.size()));
    DisplayB("Complete design", fbComplete);
    DisplayI("Current specification", fCurrentSpec);
    DisplayI("Number of tests", fNTests);
    DisplayI("Compare levels", fNCompare);
    DisplayD("Error df", fErrorDF);
    DisplayD("Critical value", fCriticalValue);
    DisplayI("P-value adjustment", fPAdjust);
    if (fpL) fpL->Display();
    DisplayText("MCMarginals display end");
}

}  // namespace MCMath_850
