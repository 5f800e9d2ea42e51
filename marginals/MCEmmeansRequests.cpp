#include "marginals/MCEmmeansRequests.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorCounts.h"
#include "design/MCLiteDesignMatrix.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

bool NextCombination(std::vector<int>& pos, const std::vector<const std::vector<int>*>& lists) {
    for (std::size_t i = pos.size(); i-- > 0;) {
        if (static_cast<std::size_t>(++pos[i]) < lists[i]->size()) return true;
        pos[i] = 0;
    }
    return false;
}

int FindPosition(const std::vector<int>& list, int value) {
    auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

MCStatus MCEmmeansRequests::Init(const MCRegSettings& settings, const MCLiteDesignMatrix& design,
                                 const MCFactorCounts* counts,
                                 const std::vector<double>& covariateMeans,
                                 const std::vector<MCEmmeansSpec>& specs) {
    fvSpecs = specs;
    const std::vector<MCModelEffect>& effects = design.GetModelEffects();
    const bool designIntercept = !effects.empty() && effects[0].IsIntercept();
    if (design.GetNEffects() == 0 || settings.GetInterceptUse() != designIntercept ||
        settings.GetNModelEffects() + (designIntercept ? 1 : 0) < design.GetNEffects())
        return ErrorStatus(StatusCode::kSettingsDesignDisagree);

    const std::vector<int>& covs = settings.GetCovariates();
    int top = -1;
    for (int c : covs) top = std::max(top, c);
    fvCovMeans.assign(Ix(top + 1), MCMV::Missing());
    for (std::size_t i = 0; i < covs.size() && i < covariateMeans.size(); ++i)
        fvCovMeans[Ix(covs[i])] = covariateMeans[i];

    const std::vector<int>& factors = settings.GetFactors();
    const std::vector<int>& sizes = settings.GetFactorSizes();
    const std::vector<int>& designFactors = design.GetFactors();
    int topF = -1;
    for (int f : factors) topF = std::max(topF, f);
    for (int f : designFactors) topF = std::max(topF, f);
    fvFactorPos.assign(Ix(topF + 1), -1);
    fvDesignPos.assign(Ix(topF + 1), -1);
    for (std::size_t d = 0; d < designFactors.size(); ++d)
        fvDesignPos[Ix(designFactors[d])] = static_cast<int>(d);
    fvLevels.resize(factors.size());
    for (std::size_t i = 0; i < factors.size(); ++i) {
        fvFactorPos[Ix(factors[i])] = static_cast<int>(i);
        const int k = i < sizes.size() ? sizes[i] : 0;
        const int ci = counts != nullptr ? FindPosition(counts->GetFactors(), factors[i]) : -1;
        const MCFactorCounts::CountVector* cv = ci >= 0 ? counts->GetCountsPtr(ci) : nullptr;
        for (int l = 0; l < k; ++l) {
            if (cv != nullptr && (Ix(l) >= cv->size() || !((*cv)[Ix(l)].first > 0))) continue;
            fvLevels[i].push_back(l);
        }
    }
    fbComplete = design.GetIncompleteEffectIndex() < 0;

    fvStatus.assign(fvSpecs.size(), MCStatus());
    for (std::size_t s = 0; s < fvSpecs.size(); ++s) fvStatus[s] = Check(s, covs);
    return MCStatus();
}

MCStatus MCEmmeansRequests::Check(std::size_t s, const std::vector<int>& covariates) {
    MCEmmeansSpec& spec = fvSpecs[s];
    MCStatus st;
    for (int f : spec.GetFactors())
        if (!IsFactor(f)) st = ErrorStatus(StatusCode::kMissingInput);
    // Read as the nearest code, an option outside its codes would give
    // another contrast or scale than the request names.
    if (spec.GetContrastType() < 0 || spec.GetContrastType() > MCConst::CONTRAST_PAIRWISE)
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionContrastType,
                                             spec.GetContrastType());
    if (spec.GetPAdjust() < 0 || spec.GetPAdjust() > MCConst::PADJ_SEQ_SIDAK)
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionPAdjustment, spec.GetPAdjust());
    if (spec.GetEmmScaleType() < 0 || spec.GetEmmScaleType() > MCConst::EMM_SCALE_TRANSFORMED)
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionMeansScale, spec.GetEmmScaleType());
    const std::vector<int>& cmp = spec.GetCompareFactors();
    if (!st.IsError() && !cmp.empty() && cmp[0] >= 0) {
        if (FactorPos(cmp[0]) < 0 || FindPosition(spec.GetFactors(), cmp[0]) < 0) {
            st = ErrorStatus(StatusCode::kMissingInput);
        } else {
            const std::vector<int>& lv = Levels(cmp[0]);
            const std::size_t k = lv.size();
            if (k <= 1) {
                st = ErrorStatus(StatusCode::kOneLevelCompare);
            } else if (spec.GetContrastType() == MCConst::CONTRAST_SIMPLE &&
                       spec.GetRefCateg() >= 0 && FindPosition(lv, spec.GetRefCateg()) < 0) {
                st = WarningStatus(StatusCode::kReferenceNotLevel);
                st.SetDiscreteDatum(0, static_cast<long>(s));
            } else if (spec.GetContrastType() == MCConst::CONTRAST_POLYNOMIAL) {
                std::vector<double> m = spec.GetMetricValueList();
                if (m.empty()) {
                    for (std::size_t i = 1; i <= k; ++i) m.push_back(static_cast<double>(i));
                    spec.SetMetricValueList(m);
                } else if (m.size() > k) {
                    st = WarningStatus(StatusCode::kLongMetric);
                } else if (m.size() < k) {
                    st = ErrorStatus(StatusCode::kShortMetric);
                }
            }
        }
    }
    // Covariates held at a missing value, and those not listed, take their
    // means. One that is no covariate of the model would be ignored, and a
    // NaN or infinite value makes every mean NaN or infinite: neither is a
    // request the means can answer.
    auto& held = spec.GetCovariates();
    for (auto& c : held) {
        if (FindPosition(covariates, c.first) < 0 || !std::isfinite(c.second)) {
            if (!st.IsError()) st = ErrorStatus(StatusCode::kMissingInput);
            continue;
        }
        if (MCMV::IsMissing(c.second) && Ix(c.first) < fvCovMeans.size())
            c.second = CovariateMean(c.first);
    }
    for (int c : covariates) {
        bool listed = false;
        for (const auto& h : held) listed = listed || h.first == c;
        if (!listed) held.emplace_back(c, CovariateMean(c));
    }
    return st;
}

bool MCEmmeansRequests::FactorOrder(const MCEmmeansSpec& spec, std::vector<int>& order) const {
    order.clear();
    const std::vector<int>& factors = spec.GetFactors();
    const std::vector<int>& cmp = spec.GetCompareFactors();
    for (std::size_t i = 0; i < factors.size(); ++i)
        if (FindPosition(cmp, factors[i]) < 0) order.push_back(static_cast<int>(i));
    for (int c : cmp) {
        const int at = FindPosition(factors, c);
        if (at < 0) return false;
        order.push_back(at);
    }
    return true;
}

bool MCEmmeansRequests::CompareCombinations(int spec,
                                            std::vector<std::vector<int>>& combinations) const {
    combinations.clear();
    if (!IsRequest(spec)) return false;
    std::vector<const std::vector<int>*> lists;
    for (int f : Get(spec).GetCompareFactors()) {
        if (FactorPos(f) < 0) return false;
        lists.push_back(&Levels(f));
    }
    if (lists.empty()) return false;
    for (const auto* l : lists)
        if (l->empty()) return false;
    std::vector<int> pos(lists.size(), 0);
    do {
        std::vector<int> c(lists.size());
        for (std::size_t t = 0; t < lists.size(); ++t) c[t] = (*lists[t])[Ix(pos[t])];
        combinations.push_back(c);
    } while (NextCombination(pos, lists));
    return true;
}

}  // namespace MCMath_850
