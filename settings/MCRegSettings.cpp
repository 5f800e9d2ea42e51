#include "settings/MCRegSettings.h"

#include <algorithm>
#include <new>
#include <utility>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "settings/ResizeChkInit.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
namespace StatusCode = MCCommon_850::StatusCode;

bool MCRegSettings::IsFreePosition(int v) const {
    // A record this long (16.7 million values) is no real data set; refusing
    // such positions keeps a stray INT_MAX from committing gigabytes to the
    // role map.
    constexpr int kMaxRecordPosition = (1 << 24) - 1;
    if (v < 0 || v > kMaxRecordPosition) return false;
    return static_cast<std::size_t>(v) >= fvVarTypes.size() ||
           fvVarTypes[Ix(v)] == MCConst::VAR_UNSPECIFIED;
}

bool MCRegSettings::MarkPosition(int v, MCConst::MCVariableType role) {
    const std::size_t pos = static_cast<std::size_t>(v);
    if (pos >= fvVarTypes.size()) {
        // Grown in a separate vector so that a failed growth leaves the role
        // map as it was.
        std::vector<MCConst::MCVariableType> grown;
        if (!ResizeChkInit(grown, pos + 1, MCConst::VAR_UNSPECIFIED)) return false;
        std::copy(fvVarTypes.begin(), fvVarTypes.end(), grown.begin());
        fvVarTypes.swap(grown);
    }
    fvVarTypes[pos] = role;
    return true;
}

// The lists are reserved before the position is marked so that a failed
// allocation cannot leave a marked position missing from its list.
namespace {
bool ReserveOneMore(std::vector<int>& list) {
    try {
        list.reserve(list.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}
}  // namespace

bool MCRegSettings::SetDependent(int v) {
    if (fDependent >= 0 || !IsFreePosition(v)) return false;
    if (!MarkPosition(v, MCConst::VAR_DEPENDENT)) return false;
    fDependent = v;
    return true;
}

bool MCRegSettings::SetFrequencyWeightVar(int v) {
    if (!IsFreePosition(v) || !MarkPosition(v, MCConst::VAR_FREQ_WEIGHT)) return false;
    fFreqWeightVar = v;
    return true;
}

bool MCRegSettings::SetRegrWeightVar(int v) {
    if (!IsFreePosition(v) || !MarkPosition(v, MCConst::VAR_REGR_WEIGHT)) return false;
    fRegrWeightVar = v;
    return true;
}

int MCRegSettings::AddFactor(int v, int nCategs) {
    if (nCategs < 1 || !IsFreePosition(v)) return -1;
    if (!ReserveOneMore(fvFactors) || !ReserveOneMore(fvFactorSizes)) return -1;
    if (!MarkPosition(v, MCConst::VAR_FACTOR)) return -1;
    fvFactors.push_back(v);
    fvFactorSizes.push_back(nCategs);
    return static_cast<int>(fvFactors.size());
}

bool MCRegSettings::SetFactors(const std::vector<int>& vars) {
    for (int v : vars)
        if (AddFactor(v, 1) < 0) return false;
    return true;
}

bool MCRegSettings::SetFactorNCategs(const std::vector<int>& sizes) {
    if (sizes.size() != fvFactors.size()) return false;
    if (std::any_of(sizes.begin(), sizes.end(), [](int n) { return n < 1; })) return false;
    // Same length, so the values are copied into the existing storage.
    std::copy(sizes.begin(), sizes.end(), fvFactorSizes.begin());
    return true;
}

int MCRegSettings::AddCovariate(int v) {
    if (!IsFreePosition(v)) return -1;
    if (!ReserveOneMore(fvCovariates)) return -1;
    if (!MarkPosition(v, MCConst::VAR_COVARIATE)) return -1;
    fvCovariates.push_back(v);
    return static_cast<int>(fvCovariates.size());
}

int MCRegSettings::AddClusterVar(int v) {
    if (!IsFreePosition(v) || fvClusterVars.size() >= 2) return -1;
    if (!ReserveOneMore(fvClusterVars)) return -1;
    if (!MarkPosition(v, MCConst::VAR_SUBJECT)) return -1;
    fvClusterVars.push_back(v);
    return static_cast<int>(fvClusterVars.size());
}

bool MCRegSettings::AddModelEffect(const MCModelEffect& e) {
    // push_back gives the strong guarantee: on failure the list is intact.
    try {
        fvModelEffects.push_back(e);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void MCRegSettings::SetConfidenceLevel(double c) {
    if (c >= 0.0 && c < 1.0) fConfidenceLevel = c;  // false for NaN
}

void MCRegSettings::SetDF(double df) {
    if (df >= 0.0) fDF = df;  // false for NaN
}

namespace {

// A term as the set of its factors with their nesting levels and of its
// covariates with their multiplicities, each sorted by record position, so
// that the same term reads the same whatever order it was built in.
struct TermKey {
    std::vector<std::pair<int, int>> factors, covariates;
    bool operator==(const TermKey& o) const {
        return factors == o.factors && covariates == o.covariates;
    }
    bool operator<(const TermKey& o) const {
        return factors != o.factors ? factors < o.factors : covariates < o.covariates;
    }
};

TermKey KeyOf(const MCModelEffect& e) {
    TermKey k;
    const std::vector<int> f = e.GetFactors(), levels = e.GetFactorLevels();
    const std::vector<int> c = e.GetCovariates(), mults = e.GetCovMultiplicities();
    for (std::size_t i = 0; i < f.size() && i < levels.size(); ++i)
        k.factors.emplace_back(f[i], levels[i]);
    for (std::size_t i = 0; i < c.size() && i < mults.size(); ++i)
        k.covariates.emplace_back(c[i], mults[i]);
    std::sort(k.factors.begin(), k.factors.end());
    std::sort(k.covariates.begin(), k.covariates.end());
    return k;
}

}  // namespace

MCCommon_850::MCStatus MCRegSettings::IsValidSettings(bool allowEmpty) const {
    if (fDependent < 0) return ErrorStatus(StatusCode::kNoDependent);
    if (!allowEmpty && !fbIntercept && fvModelEffects.empty())
        return ErrorStatus(StatusCode::kEmptyModel);
    // The sweep's pivot test compares a fraction of the spread with it: a
    // negative or NaN tolerance aliases nothing, so a singular design would
    // be inverted, and one of 1 or more aliases every parameter.
    // An option outside its codes would be read as one of them (HC0, no
    // adjustment) or as none, and the results labelled as the host asked.
    const auto outside = [](int v, int last) { return v < 0 || v > last; };
    if (outside(fTestType, MCConst::TEST_CHISQUARE_1DF))
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionTestType, fTestType);
    if (outside(fPAdjust, MCConst::PADJ_SEQ_SIDAK))
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionPAdjustment, fPAdjust);
    if (outside(fCovbType, MCConst::COVB_ROBUST))
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionCovarianceType, fCovbType);
    if (fCovbType == MCConst::COVB_ROBUST && outside(fRobustType, MCConst::ROBUST_CLUSTER))
        return MCCommon_850::BadOptionStatus(StatusCode::kOptionRobustType, fRobustType);
    if (!(fTolerance >= 0.0 && fTolerance < 1.0)) {
        MCCommon_850::MCStatus s = ErrorStatus(StatusCode::kBadTolerance);
        s.SetScaleDatum(1, fTolerance);
        return s;
    }
    // A term reads its variables straight from the record: one naming a
    // position that the settings gave another role (the dependent, a weight)
    // or none would use values the record rules never checked, or read past
    // the record.
    const auto role = [this](int v) {
        return v >= 0 && static_cast<std::size_t>(v) < fvVarTypes.size() ? fvVarTypes[Ix(v)]
                                                                         : MCConst::VAR_UNSPECIFIED;
    };
    std::vector<TermKey> keys;
    keys.reserve(fvModelEffects.size());
    for (std::size_t e = 0; e < fvModelEffects.size(); ++e) {
        const MCModelEffect& effect = fvModelEffects[e];
        bool misplaced = false;
        int stray = 0;
        for (int v : effect.GetFactors())
            if (!misplaced && role(v) != MCConst::VAR_FACTOR) misplaced = true, stray = v;
        for (int v : effect.GetCovariates())
            if (!misplaced && role(v) != MCConst::VAR_COVARIATE) misplaced = true, stray = v;
        if (misplaced) {
            MCCommon_850::MCStatus s = ErrorStatus(StatusCode::kEffectVariable);
            s.SetDiscreteDatum(1, static_cast<long>(e));
            s.SetDiscreteDatum(2, stray);
            return s;
        }
        keys.push_back(KeyOf(effect));
        if (fbIntercept && effect.IsIntercept()) {
            MCCommon_850::MCStatus s = ErrorStatus(StatusCode::kDuplicateEffect);
            s.SetDiscreteDatum(1, static_cast<long>(e));
            return s;
        }
    }
    // A repeated term gets a second set of parameters, all aliased, and a
    // test of no degrees of freedom. Sorted, a model of thousands of terms
    // is checked without comparing every pair.
    std::vector<std::size_t> order(keys.size());
    for (std::size_t e = 0; e < order.size(); ++e) order[e] = e;
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (keys[order[i - 1]] == keys[order[i]]) {
            MCCommon_850::MCStatus s = ErrorStatus(StatusCode::kDuplicateEffect);
            s.SetDiscreteDatum(1, static_cast<long>(order[i - 1]));
            s.SetDiscreteDatum(2, static_cast<long>(order[i]));
            return s;
        }
    return MCCommon_850::MCStatus();
}

void MCRegSettings::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCRegSettings display start");
    DisplayI("Model type", GetModelType());
    DisplayI("Dependent variable", fDependent);
    DisplayIV("Factors", fvFactors);
    DisplayIV("Factor sizes", fvFactorSizes);
    DisplayIV("Covariates", fvCovariates);
    DisplayI("Frequency weight variable", fFreqWeightVar);
    DisplayI("Regression weight variable", fRegrWeightVar);
    DisplayB("Intercept used", fbIntercept);
    DisplayB("Transform effects", fbTransformEffects);
    DisplayD("Singularity tolerance", fTolerance);
    DisplayI("Number of model effects", GetNModelEffects());
    for (const MCModelEffect& e : fvModelEffects) e.Display();
    DisplayD("Confidence level", fConfidenceLevel);
    DisplayD("Degrees of freedom", fDF);
    DisplayC("Test type", fTestType);
    DisplayC("p-value adjustment method", fPAdjust);
    DisplayB("Progress listener set", fpProgressListener != nullptr);
    DisplayB("Cancel object set", fpCancel != nullptr);
    DisplayB("Pass reducer set", fpReducer != nullptr);
    for (std::size_t i = 0; i < fvVarTypes.size(); ++i)
        DisplayC("Variable type of position " + std::to_string(i), fvVarTypes[i]);
    DisplayC("Covariance type", fCovbType);
    DisplayC("Robust estimator", fRobustType);
    DisplayIV("Cluster variables", fvClusterVars);
    DisplayI("Maximum number of threads", fMaxThreadNum);
    DisplayI("Memory cache limit in KB", fMemCacheKB);
    DisplayB("Multithreading is used", fpThreadFactory != nullptr);
    DisplayB("Multithreaded iterators are used", fpThreadIterFactory != nullptr);
    DisplayText("MCRegSettings display end");
}

}  // namespace MCMath_850
