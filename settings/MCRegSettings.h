#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCStatus.h"
#include "companion/PassReducer.h"
#include "companion/RecordIterator.h"
#include "settings/MCConst.h"
#include "settings/MCModelEffect.h"

namespace MCThread_850 {
class IMCThreadFactory;
class MCThreadIterFactory;
}  // namespace MCThread_850

namespace MCMath_850 {

// The description of a regression model: the roles of the record positions
// (dependent, factors, covariates, weights), the model effects and the
// statistical options. The factory validates it and each component keeps
// its own copy.
//
// The role map (GetVariableTypes) gives each record position its role, 0
// for none; it grows on demand and a position can hold one role only, so
// every role setter refuses a position that already has one. Setters that
// refuse leave the object unchanged.
class MCREG_API MCRegSettings {
public:
    MCRegSettings() = default;
    // Member-wise copy: the effects deeply, the host's listener, cancel
    // object and thread factories as the same (not owned) pointers.
    MCRegSettings(const MCRegSettings&) = default;
    MCRegSettings& operator=(const MCRegSettings&) = default;
    virtual ~MCRegSettings() = default;

    // 0: general linear model.
    virtual int GetModelType() const { return 0; }
    // Error 301 without a dependent; error 302 when allowEmpty is false and
    // the model has neither intercept nor effects; 341 for a tolerance
    // outside [0, 1); 339 when an effect uses a position that is not a
    // factor (covariate) here; 340 for a term given twice, or an intercept
    // effect beside the settings' intercept; otherwise OK.
    virtual MCCommon_850::MCStatus IsValidSettings(bool allowEmpty) const;
    // Refused when a dependent is already set, v < 0 or v has a role.
    virtual bool SetDependent(int v);
    // The new number of covariates, or -1 when refused.
    virtual int AddCovariate(int v);
    // Appends a copy of e (not checked against the variables); false only
    // when memory for the longer list cannot be obtained.
    virtual bool AddModelEffect(const MCModelEffect& e);
    virtual void Display() const;

    // The new number of factors, or -1 when v < 0, nCategs < 1 or v has a
    // role.
    int AddFactor(int v, int nCategs);
    // AddFactor(v, 1) for each entry; stops at the first refusal and
    // returns false, keeping the factors added before it.
    bool SetFactors(const std::vector<int>& vars);
    // Replaces the factor sizes; refused when the length differs from the
    // number of factors or an entry is below 1.
    bool SetFactorNCategs(const std::vector<int>& sizes);
    // Refused when v < 0 or v has a role. A later call with another position
    // replaces the field; the earlier position keeps its mark.
    bool SetFrequencyWeightVar(int v);
    bool SetRegrWeightVar(int v);

    // Stored only when 0 <= c < 1; ignored otherwise.
    void SetConfidenceLevel(double c);
    // Stored only when df >= 0; ignored otherwise. -1 means the model's own
    // error degrees of freedom are used.
    void SetDF(double df);
    void SetTolerance(double tol) { fTolerance = tol; }
    void SetInterceptUse(bool on) { fbIntercept = on; }
    void SetTransformEffects(bool on) { fbTransformEffects = on; }
    void SetTestType(MCConst::MCTestType t) { fTestType = t; }
    void SetPAdjustment(MCConst::MCPAdjustMethod m) { fPAdjust = m; }
    void SetCovbType(MCConst::MCCovbType t) { fCovbType = t; }
    // With a robust covariance type: the estimator (HC0 unless set).
    void SetRobustType(MCConst::MCRobustType t) { fRobustType = t; }
    // A general linear model keeps X'WX bordered by X'Wy and y'Wy, as
    // summed before the sweep, for tests after the fit (their memory again);
    // a logistic model its basic design's X'X, for the sequential tests.
    void SetKeepCrossProducts(bool keep) { fbKeepCrossProducts = keep; }
    // The column whose values name the clusters of a cluster-robust
    // covariance (role "subject"); a record without a value there is left
    // out of the fit like one without a covariate. Two columns cluster two
    // ways. The new number of cluster columns, or -1 when refused (v < 0, v
    // has a role, or a third column).
    int AddClusterVar(int v);
    void SetProgressListener(MCCommon_850::ProgressListener* p) { fpProgressListener = p; }
    void SetCancelPointer(MCCommon_850::MCQueryCancel* p) { fpCancel = p; }
    // Records split over several processes: the reducer (not owned) merges
    // every pass's sums, so that all processes fit one model. Null: the
    // records given are all there are.
    void SetPassReducer(MCCommon_850::PassReducer* r) { fpReducer = r; }
    // Stored, copied and displayed only: the library runs on the caller's
    // thread.
    void SetMaxThreadNum(int n) { fMaxThreadNum = n; }
    void SetMemCacheKB(int kb) { fMemCacheKB = kb; }
    void SetThreadFactory(MCThread_850::IMCThreadFactory* f) { fpThreadFactory = f; }
    void SetThreadIterFactory(MCThread_850::MCThreadIterFactory* f) { fpThreadIterFactory = f; }

    int GetDependent() const { return fDependent; }
    const std::vector<int>& GetFactors() const { return fvFactors; }
    const std::vector<int>& GetFactorSizes() const { return fvFactorSizes; }
    const std::vector<int>& GetCovariates() const { return fvCovariates; }
    int GetFrequencyWeightVar() const { return fFreqWeightVar; }
    int GetRegrWeightVar() const { return fRegrWeightVar; }
    bool GetInterceptUse() const { return fbIntercept; }
    bool GetTransformEffects() const { return fbTransformEffects; }
    double GetTolerance() const { return fTolerance; }
    const std::vector<MCModelEffect>& GetModelEffects() const { return fvModelEffects; }
    int GetNModelEffects() const { return static_cast<int>(fvModelEffects.size()); }
    double GetConfidenceLevel() const { return fConfidenceLevel; }
    double GetDF() const { return fDF; }
    MCConst::MCTestType GetTestType() const { return fTestType; }
    MCConst::MCPAdjustMethod GetPAdjustment() const { return fPAdjust; }
    MCCommon_850::ProgressListener* GetProgressListener() const { return fpProgressListener; }
    MCCommon_850::MCQueryCancel* GetCancelPointer() const { return fpCancel; }
    MCCommon_850::PassReducer* GetPassReducer() const { return fpReducer; }
    const std::vector<MCConst::MCVariableType>& GetVariableTypes() const { return fvVarTypes; }
    MCConst::MCCovbType GetCovbType() const { return fCovbType; }
    MCConst::MCRobustType GetRobustType() const { return fRobustType; }
    bool GetKeepCrossProducts() const { return fbKeepCrossProducts; }
    const std::vector<int>& GetClusterVars() const { return fvClusterVars; }
    // The first cluster column, -1 without one.
    int GetClusterVar() const { return fvClusterVars.empty() ? -1 : fvClusterVars.front(); }
    // The estimator the fit computes, or -1 for the model-based covariance.
    int GetSandwichType() const {
        return fCovbType == MCConst::COVB_ROBUST ? static_cast<int>(fRobustType) : -1;
    }
    int GetMaxThreadNum() const { return fMaxThreadNum; }
    int GetMemCacheKB() const { return fMemCacheKB; }
    MCThread_850::IMCThreadFactory* GetThreadFactory() const { return fpThreadFactory; }
    MCThread_850::MCThreadIterFactory* GetThreadIterFactory() const { return fpThreadIterFactory; }

protected:
    // True when v >= 0 and position v has no role yet.
    bool IsFreePosition(int v) const;
    // Gives position v the role, growing the role map when needed; false
    // (map unchanged) when memory for the longer map cannot be obtained.
    bool MarkPosition(int v, MCConst::MCVariableType role);

private:
    int fDependent = -1;
    std::vector<int> fvFactors;
    std::vector<int> fvFactorSizes;
    std::vector<int> fvCovariates;
    int fFreqWeightVar = -1;
    int fRegrWeightVar = -1;
    bool fbIntercept = true;
    bool fbTransformEffects = false;
    double fTolerance = 1e-12;
    std::vector<MCModelEffect> fvModelEffects;
    double fConfidenceLevel = 0.95;
    double fDF = -1.0;
    MCConst::MCTestType fTestType = MCConst::TEST_WALD_F;
    MCConst::MCPAdjustMethod fPAdjust = MCConst::PADJ_LSD;
    MCCommon_850::ProgressListener* fpProgressListener = nullptr;
    MCCommon_850::MCQueryCancel* fpCancel = nullptr;
    MCCommon_850::PassReducer* fpReducer = nullptr;
    std::vector<MCConst::MCVariableType> fvVarTypes;
    MCConst::MCCovbType fCovbType = MCConst::COVB_MODEL;
    MCConst::MCRobustType fRobustType = MCConst::ROBUST_HC0;
    bool fbKeepCrossProducts = false;
    std::vector<int> fvClusterVars;
    int fMaxThreadNum = 1;
    int fMemCacheKB = 0;
    MCThread_850::IMCThreadFactory* fpThreadFactory = nullptr;
    MCThread_850::MCThreadIterFactory* fpThreadIterFactory = nullptr;
};

}  // namespace MCMath_850
