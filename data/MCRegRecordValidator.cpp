#include "data/MCRegRecordValidator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// True when v is an int-valued double; NaN and values beyond the int range
// are not (they could not be truncated to an int at all).
bool IsWholeNumber(double v) {
    constexpr double kLowest = std::numeric_limits<int>::min();
    constexpr double kHighest = std::numeric_limits<int>::max();
    if (!(v >= kLowest && v <= kHighest)) return false;
    return static_cast<double>(static_cast<int>(v)) == v;
}

// NaN is treated like the system-missing value: a covariate or dependent
// that is not a number can only poison the sums it would enter.
bool IsMissingContinuous(double v) {
    return MCMV::IsMissing(v) || std::isnan(v);
}

// An infinite value is no missing value the data could have meant: it turns
// every sum it enters into inf or NaN, and the estimates with them, so the
// pass stops.
bool NotFinite(int pos, double v, MCStatus& status) {
    status = ErrorStatus(StatusCode::kNotFinite);
    status.SetDiscreteDatum(1, pos);
    status.SetScaleDatum(1, v);
    return false;
}

}  // namespace

MCRegRecordValidator::MCRegRecordValidator(const std::vector<MCConst::MCVariableType>& types,
                                           const std::vector<int>& factorVars,
                                           const std::vector<int>& factorSizes, int nDepCategs) {
    SetRecordInfo(types, factorVars, factorSizes, nDepCategs);
}

void MCRegRecordValidator::SetRecordInfo(const std::vector<MCConst::MCVariableType>& types,
                                         const std::vector<int>& factorVars,
                                         const std::vector<int>& factorSizes, int nDepCategs) {
    fvVarTypes = types;
    fNTypes = static_cast<int>(types.size());
    fNDepCategs = nDepCategs;
    const int n = static_cast<int>(types.size());
    fvCategLimits.assign(types.size(), 0);
    const std::size_t nFactors = std::min(factorVars.size(), factorSizes.size());
    for (std::size_t i = 0; i < nFactors; ++i)
        if (factorVars[i] >= 0 && factorVars[i] < n)
            fvCategLimits[Ix(factorVars[i])] = factorSizes[i];
    if (nDepCategs >= 1) {
        for (int p = 0; p < n; ++p)
            if (types[Ix(p)] == MCConst::VAR_DEPENDENT) {
                fvCategLimits[Ix(p)] = nDepCategs;
                break;
            }
    }

    fvChecks.clear();
    for (int p = 0; p < n; ++p) {
        const MCConst::MCVariableType t = types[Ix(p)];
        const int limit = fvCategLimits[Ix(p)];
        if (t == MCConst::VAR_FACTOR)
            fvChecks.push_back({p, kCategorical, limit, true});
        else if (t == MCConst::VAR_COVARIATE)
            fvChecks.push_back({p, kContinuous, 0, true});
        else if (t == MCConst::VAR_DEPENDENT)
            fvChecks.push_back({p, nDepCategs >= 1 ? kCategorical : kContinuous, limit, false});
        else if (t == MCConst::VAR_FREQ_WEIGHT || t == MCConst::VAR_REGR_WEIGHT)
            fvChecks.push_back({p, kWeight, 0, false});
        else if (t == MCConst::VAR_SUBJECT)
            // A record without its cluster cannot enter a cluster-robust
            // covariance, so it is left out of the fit altogether.
            fvChecks.push_back({p, kContinuous, 0, false});
    }
    fvCategoricalPos.clear();
    fvCategoricalLimit.clear();
    fvContinuousPos.clear();
    fvWeightPos.clear();
    for (const Check& c : fvChecks) {
        if (c.fKind == kCategorical) {
            fvCategoricalPos.push_back(c.fPos);
            fvCategoricalLimit.push_back(c.fLimit);
        } else if (c.fKind == kContinuous) {
            fvContinuousPos.push_back(c.fPos);
        } else {
            fvWeightPos.push_back(c.fPos);
        }
    }
}

// Positions at or beyond nAvailable count as missing (only reachable from
// the scoring form of a Record, the fitting forms check the length first).
bool MCRegRecordValidator::CheckValues(const double* values, int nAvailable, bool scoring,
                                       MCStatus& status) const {
    for (const Check& c : fvChecks) {
        if (scoring && !c.fbScoring) continue;
        if (c.fPos >= nAvailable) return false;
        const double v = values[c.fPos];
        switch (c.fKind) {
            case kCategorical:
                if (v < -0.5) return false;
                if (!IsWholeNumber(v) || !(v < c.fLimit)) {
                    status = ErrorStatus(StatusCode::kBadCategory);
                    status.SetDiscreteDatum(1, c.fPos);
                    status.SetScaleDatum(1, v);
                    return false;
                }
                break;
            case kContinuous:
                if (IsMissingContinuous(v)) return false;
                if (std::isinf(v)) return NotFinite(c.fPos, v, status);
                break;
            case kWeight:
                if (!(v > 0.0)) return false;
                if (std::isinf(v)) return NotFinite(c.fPos, v, status);
                break;
        }
    }
    return true;
}

bool MCRegRecordValidator::IsValidRecord(const double* values, int nValues,
                                         MCStatus& status) const {
    if (static_cast<int>(fvVarTypes.size()) > nValues || (values == nullptr && !fvChecks.empty())) {
        status = ErrorStatus(StatusCode::kShortRecord);
        return false;
    }
    if (values != nullptr && PassesFitRules(values)) return true;
    return CheckValues(values, nValues, false, status);
}

bool MCRegRecordValidator::IsValidRecord(const MCCommon_850::Record& record,
                                         MCStatus& status) const {
    return IsValidRecord(record.GetAll(), record.Size(), status);
}

bool MCRegRecordValidator::IsValid4Scoring(const double* values, MCStatus& status) const {
    if (values == nullptr) return fvChecks.empty();
    return CheckValues(values, static_cast<int>(fvVarTypes.size()), true, status);
}

bool MCRegRecordValidator::IsValid4Scoring(const MCCommon_850::Record& record,
                                           MCStatus& status) const {
    return CheckValues(record.GetAll(), record.Size(), true, status);
}

void MCRegRecordValidator::Display() const {
    std::vector<int> types(fvVarTypes.begin(), fvVarTypes.end());
    MCDisplay_850::DisplayText("MCRegRecordValidator display start");
    MCDisplay_850::DisplayIV("Variable types", types);
    MCDisplay_850::DisplayI("Number of dependent categories", fNDepCategs);
    MCDisplay_850::DisplayIV("Category limits", fvCategLimits);
    MCDisplay_850::DisplayText("MCRegRecordValidator display end");
}

}  // namespace MCMath_850
