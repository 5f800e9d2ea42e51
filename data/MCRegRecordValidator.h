#pragma once
#include <cmath>
#include <cstddef>
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

// Decides whether a record takes part in a fit or can be scored.
//
// Two kinds of rejection are told apart: false with the status untouched
// means the record is skipped (a missing value, a weight that is not
// positive); false with status 315, 316 or 342 (an infinite covariate,
// continuous dependent or weight) means the record is malformed and the
// pass that met it must stop with that error.
class MCREG_API MCRegRecordValidator {
public:
    // Accepts every record.
    MCRegRecordValidator() = default;
    // nDepCategs >= 1 makes the dependent categorical with that many codes;
    // 0 or less keeps it continuous.
    MCRegRecordValidator(const std::vector<MCConst::MCVariableType>& types,
                         const std::vector<int>& factorVars, const std::vector<int>& factorSizes,
                         int nDepCategs);
    // Replaces the role map and the category limits. Factors whose position
    // lies outside the role map, and sizes without a factor, are ignored.
    void SetRecordInfo(const std::vector<MCConst::MCVariableType>& types,
                       const std::vector<int>& factorVars, const std::vector<int>& factorSizes,
                       int nDepCategs);

    // The rules of a fit: record length (315), category codes (316, with the
    // record position as discrete datum 1 and the value as scale datum 1),
    // missing values and weights (skipped).
    bool IsValidRecord(const MCCommon_850::Record& record, MCCommon_850::MCStatus& status) const;
    bool IsValidRecord(const double* values, int nValues, MCCommon_850::MCStatus& status) const;
    // The same as IsValidRecord(record, status), the common case (every rule
    // accepts) answered inline: a data pass asks it for every record.
    bool IsValidFitRecord(const MCCommon_850::Record& record,
                          MCCommon_850::MCStatus& status) const {
        const double* values = record.GetAll();
        if (record.Size() >= fNTypes && values != nullptr && PassesFitRules(values)) return true;
        return IsValidRecord(record, status);
    }
    // The rules of scoring: factors and covariates only, so a record without
    // a dependent value or weights can be scored. The Record form treats a
    // factor or covariate beyond the end of the record as missing; the array
    // form reads every position of the role map.
    bool IsValid4Scoring(const MCCommon_850::Record& record, MCCommon_850::MCStatus& status) const;
    bool IsValid4Scoring(const double* values, MCCommon_850::MCStatus& status) const;

    const std::vector<MCConst::MCVariableType>& GetVariableTypes() const { return fvVarTypes; }
    int GetNDepCategories() const { return fNDepCategs; }
    // Per record position the number of accepted codes (0 .. limit - 1); 0
    // for positions that are not categorical.
    const std::vector<int>& GetCategoryLimits() const { return fvCategLimits; }

    void Display() const;

private:
    enum CheckKind : int { kCategorical, kContinuous, kWeight };
    // One position that a rule looks at; positions without a rule (role 0,
    // 6, 7 and 9) are left out, so a record costs one step per model
    // variable. A cluster column (8) must hold a value.
    struct Check {
        int fPos;
        CheckKind fKind;
        int fLimit;
        bool fbScoring;  // also checked before scoring (factors, covariates)
    };
    bool CheckValues(const double* values, int nAvailable, bool scoring,
                     MCCommon_850::MCStatus& status) const;
    // Whether every rule of a fit accepts the record, with no status: the
    // common case, answered kind by kind without the general loop's
    // branches. A record it refuses goes through CheckValues for the reason.
    // CheckValues accepts a code v when !(v < -0.5), v is a whole int and
    // v < limit: for a whole number that is 0 <= v < limit, where the
    // conversion to int is defined.
    bool PassesFitRules(const double* values) const {
        for (std::size_t i = 0; i < fvCategoricalPos.size(); ++i) {
            const double v = values[fvCategoricalPos[i]];
            if (!(v >= 0.0 && v < fvCategoricalLimit[i])) return false;
            if (static_cast<double>(static_cast<int>(v)) != v) return false;
        }
        for (int pos : fvContinuousPos) {
            const double v = values[pos];
            if (!std::isfinite(v) || MCCommon_850::MCMV::IsMissing(v)) return false;
        }
        for (int pos : fvWeightPos)
            if (!(values[pos] > 0.0 && values[pos] < HUGE_VAL)) return false;
        return true;
    }

    std::vector<MCConst::MCVariableType> fvVarTypes;
    int fNTypes = 0;  // of fvVarTypes
    int fNDepCategs = 0;
    std::vector<int> fvCategLimits;
    std::vector<Check> fvChecks;
    // The fit's rules by kind, for PassesFitRules.
    std::vector<int> fvCategoricalPos;
    std::vector<double> fvCategoricalLimit;
    std::vector<int> fvContinuousPos;
    std::vector<int> fvWeightPos;
};

}  // namespace MCMath_850
