#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "hypothesis/MCModelTestStats.h"
#include "settings/MCConst.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

class MCMETDataImpl;
class MCRegSettings;
class MCSatterthwaite;

// One kind of effect test (Type I or Type III) over all effects of a model.
class MCREG_API MCBaseModelEffectTest {
public:
    MCBaseModelEffectTest();
    virtual ~MCBaseModelEffectTest();
    MCBaseModelEffectTest(const MCBaseModelEffectTest&) = delete;
    MCBaseModelEffectTest& operator=(const MCBaseModelEffectTest&) = delete;

    // Attaches the shared data (not owned) and starts empty results.
    virtual void SetDataImp(MCMETDataImpl* data);
    // One result per effect, in model order. Stops at the first error. The
    // settings' cancel query, when set, is asked once before each effect;
    // a cancel ends the tests with kCancelled.
    virtual MCCommon_850::MCStatus TestModelEffect();
    virtual const MCModelTestStats* GetTestStats() const { return fpStats.get(); }
    // Builds effect e's rows into the data's current L; rows gets 1 + the
    // parameter index of each row.
    virtual MCCommon_850::MCStatus ComputeEffectContrast(int e, std::vector<int>& rows) const = 0;

    // Sweeps M on effect e's parameters (recorded in entered); the number
    // that swept, -1 for e out of range.
    int EnterEffect(int e, MCSymMatrix& M, MCBitSet& entered) const;

protected:
    std::unique_ptr<MCModelTestStats> fpStats;
    MCMETDataImpl* fpData = nullptr;
};

// Sequential hypotheses: each effect adjusted for the effects before it.
// The working cross-product matrix is swept cumulatively, so the effects
// must be tested in model order, once.
class MCREG_API MCModelEffectTestTypeI : public MCBaseModelEffectTest {
public:
    MCCommon_850::MCStatus ComputeEffectContrast(int e, std::vector<int>& rows) const override;
};

// Partial hypotheses: each effect adjusted for every effect that does not
// contain it, orthogonal to the effects that contain it.
class MCREG_API MCModelEffectTestTypeIII : public MCBaseModelEffectTest {
public:
    MCCommon_850::MCStatus ComputeEffectContrast(int e, std::vector<int>& rows) const override;
};

// Type I and Type III tests of the effects of a fitted model, the general
// estimable function and the test of the corrected model.
//
// The host supplies its fit: estimates, covariance matrix, the cross-product
// matrix X'WX (or, with the non-redundant set, its generalised inverse) and
// the parameter range of every effect (the intercept as effect 0 when the
// settings use one). Every object passed by pointer or reference must
// outlive this one. The multinomial layouts (distribution types 6 and 8) are
// accepted for L matrices, but their tests need the host's widening of L
// over the response blocks, which is not done here: such a test reports the
// column mismatch 322.
class MCREG_API MCModelEffectTest {
public:
    MCModelEffectTest(const MCRegSettings& settings, const std::vector<MCModelEffect>& effects,
                      const std::vector<double>& estimates, const std::vector<int>& firstParam,
                      const std::vector<int>& nParams, MCConst::MCEffectAnalysisType analysisType,
                      const MCSymMatrix* covariance, const MCSymMatrix* crossProduct,
                      const MCBitSet* nonRedundant, MCConst::DistType dist, int nCategories,
                      const MCBitSet* blockNonRedundant, double errorDF,
                      MCSatterthwaite* satterthwaite);
    virtual ~MCModelEffectTest();
    MCModelEffectTest(const MCModelEffectTest&) = delete;
    MCModelEffectTest& operator=(const MCModelEffectTest&) = delete;

    // With the caller's redundancy (a swept crossProduct): X'WX as summed,
    // before that sweep, for the Type I hypotheses, which otherwise sweep
    // the supplied matrix back to it; with a covariate far from zero the
    // two sweeps' rounding would pass into them. Copied (its leading order
    // q block when it is bordered). Before TestModelEffect.
    void SetCrossProduct(const MCSymMatrix& unswept);
    // Means and scales of the transformed parameters (Type III scaling).
    void SetScaleValus(const std::vector<double>& means, const std::vector<double>& scales);
    MCCommon_850::MCStatus TestModelEffect();
    const MCModelTestStats* GetTypeITestStats() const { return fpTypeI; }
    const MCModelTestStats* GetTypeIIITestStats() const { return fpTypeIII; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

    // The Type III rows of effect e (owned by this object); null on error or
    // without a Type III analysis.
    const MCRectMatrix* ComputeLMatrix(int e);
    // The tested L of effect e: type 1 from the Type III results, type 0 from
    // the Type I results, expressed as D L A^-1 when the transform A is given
    // (D the diagonal of A at the effect's parameters). False otherwise.
    bool GetLMatrix(int e, const MCRectMatrix*& L, MCConst::MCEffectAnalysisType type,
                    const MCRectMatrix* A);
    // L = H' (one row per non-redundant parameter j), rows[k] = j + 1.
    MCCommon_850::MCStatus GetGeneralEstimableFunction(MCRectMatrix* L, std::vector<int>& rows);
    // Joint test of every parameter but the intercept; cached. A, when
    // given, is the centring transform of the parameters. Null on error.
    const MCModelTestStats* GetCorrectedModelTestStats(const MCRectMatrix* A);

    void Display() const;

private:
    std::unique_ptr<MCMETDataImpl> fpData;
    const MCModelTestStats* fpTypeI = nullptr;
    const MCModelTestStats* fpTypeIII = nullptr;
    std::vector<std::unique_ptr<MCBaseModelEffectTest>> fvTests;
    MCCommon_850::MCStatus fStatus;
    MCConst::MCEffectAnalysisType fAnalysisType;
    std::unique_ptr<MCModelTestStats> fpCorrected;
};

}  // namespace MCMath_850
