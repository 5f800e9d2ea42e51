#pragma once
#include <memory>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "hypothesis/MCModelTests.h"
#include "settings/MCConst.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

class MCRegSettings;
class MCSatterthwaite;

// The data that the Type I and Type III tests of one MCModelEffectTest
// share: the effects with their parameter ranges, the working cross-product
// matrix (swept cumulatively by the Type I tests), the estimable-function
// basis H of the model, the L-matrix tester and the L matrix being built.
//
// Parameters are counted per response block: q columns of L. For the plain
// (single-block) distributions q equals the number of estimates p.
class MCMETDataImpl {
public:
    // firstParam[e] and nParams[e] give effect e's parameter range, the
    // intercept being effect 0 when the settings use one; both vectors are
    // kept by reference and must outlive the object. The estimates are
    // copied. errorDF < 0 takes the settings' degrees of freedom.
    MCMETDataImpl(const MCRegSettings& settings, const std::vector<MCModelEffect>& effects,
                  const std::vector<double>& estimates, const std::vector<int>& firstParam,
                  const std::vector<int>& nParams, MCConst::DistType dist, int nCategories,
                  double errorDF);
    MCMETDataImpl(const MCMETDataImpl&) = delete;
    MCMETDataImpl& operator=(const MCMETDataImpl&) = delete;

    // Prepares L matrices only. Without nonRedundant, crossProduct is X'WX
    // (order q, or q + 1 with the dependent last, which is ignored) and the
    // redundant pivots are found by sweeping. With nonRedundant it is the
    // generalised inverse: X'WX swept on the non-redundant pivots with the
    // sign making its inverse block (X'WX)^- positive (the swept matrix
    // negated, as MCSymMatrix::FinishCovariance(1) leaves it), whose rows of
    // the redundant parameters keep their aliasing coefficients; X'WX is
    // recovered from it. A covariance matrix, whose redundant rows are
    // zero, loses those and changes the Type III hypotheses of contained
    // effects. Error 303 without a matrix or for a wrong order.
    MCCommon_850::MCStatus SetupForLMatrix(const MCSymMatrix* crossProduct,
                                           const MCBitSet* nonRedundant);
    // The setup plus the tester; error 303 without covariance or
    // cross-product matrix. blockNonRedundant is the per-block set of the
    // multi-block distributions (6, 8).
    MCCommon_850::MCStatus SetModelTesting(const MCSymMatrix* covariance,
                                           const MCSymMatrix* crossProduct,
                                           const MCBitSet* nonRedundant,
                                           const MCBitSet* blockNonRedundant,
                                           MCSatterthwaite* satterthwaite);

    void SetScaleValues(const std::vector<double>& means, const std::vector<double>& scales);
    // X'WX itself in place of the one RecoverCrossProduct would make from
    // the supplied swept matrix; ignored for another order or without the
    // caller's redundancy. Throws std::bad_alloc when memory runs out.
    void SetUnswept(const MCSymMatrix& unswept);

    int GetNEffects() const { return static_cast<int>(fvEffects.size()); }
    // The parameter range of effect e clipped to 0 .. q - 1; false out of
    // range.
    bool GetRange(int e, int& first, int& count) const;
    int GetQ() const { return fQ; }
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    // The general form of the estimable functions (q x r), made on first
    // use; throws std::bad_alloc when memory runs out.
    const MCRectMatrix* GetH() const;
    // Whether there is a cross product to build hypotheses from.
    bool HasCrossProduct() const;
    MCRectMatrix* GetCurrentL() { return fpL.get(); }
    MCModelTests* GetTester() { return fpTester.get(); }
    const std::vector<MCModelEffect>& GetEffects() const { return fvEffects; }
    const MCRegSettings& GetSettings() const { return *fpSettings; }

    // L widened to the p columns of the estimates (the identity for the
    // plain distributions), reduced to full row rank; with a Satterthwaite
    // object its degrees of freedom become the tester's. kept gets the
    // original indices of the rows kept.
    bool PrepareForTest(MCRectMatrix& L, std::vector<int>* kept);

    // 1/A(i,i) on the diagonal (0 where A(i,i) is 0) and -A(0,i)/A(i,i) in
    // the first row: the inverse of a centring transform.
    static MCRectMatrix GetInvTransformedA(const MCRectMatrix& A);
    // Type III scaling: R and D from the scale values for the entered set.
    bool ComputeTypeIIIScaleMatrices(const MCBitSet& entered, MCRectMatrix& R,
                                     MCSymMatrix& D) const;

    void Display() const;

private:
    friend class MCBaseModelEffectTest;
    friend class MCModelEffectTestTypeI;
    friend class MCModelEffectTestTypeIII;
    friend class MCModelEffectTest;

    std::vector<MCModelEffect> fvEffects;
    const std::vector<int>* fpFirstParam;
    const std::vector<int>* fpNParams;
    std::vector<double> fvEstimates;
    const MCRegSettings* fpSettings;
    double fSweepTol = 1e-12;
    bool fbIntercept;
    mutable std::unique_ptr<MCRectMatrix> fpH;
    std::unique_ptr<MCSymMatrix> fpXX;
    // With the caller's redundancy, X'X swept on all its non-redundant
    // pivots (fSweptAll): whatever order the Type III tests enter the
    // effects in, they end with every pivot swept, so this one matrix serves
    // every effect's test.
    // The caller's matrix, read in place (not owned), times fSweptSign.
    const MCSymMatrix* fpSwept = nullptr;
    double fSweptSign = 1.0;
    // The matrix the caller supplied (not owned), perhaps bordered by the
    // dependent; CopyGiven copies its design block into out.
    const MCSymMatrix* fpGiven = nullptr;
    bool CopyGiven(MCSymMatrix& out) const;
    MCBitSet fSweptAll;
    // fpXX holds X'X itself (rather than the supplied swept matrix).
    bool fbRecovered = true;
    // Brings fpXX back to X'X when it holds the supplied swept matrix;
    // false when that cannot be done.
    bool RecoverCrossProduct();
    std::vector<double> fvDiagonal;
    const MCSymMatrix* fpCovariance = nullptr;
    double fConfidenceLevel;
    std::unique_ptr<MCModelTests> fpTester;
    std::unique_ptr<MCRectMatrix> fpL;
    MCConst::DistType fDist;
    int fP;
    int fQ;
    int fNCategories;
    MCBitSet fEntered;
    MCBitSet fNonRedundant;
    MCCommon_850::MCStatus fStatus;
    std::unique_ptr<MCRectMatrix> fpTypeIL;
    double fErrorDF;
    MCSatterthwaite* fpSatterthwaite = nullptr;
    std::vector<double> fvScaleMeans;
    std::vector<double> fvScales;
    std::unique_ptr<MCRectMatrix> fpR;
    std::unique_ptr<MCSymMatrix> fpD;
    MCBitSet fTesterSet;      // the set the tester refers to
    bool fbGivenSet = false;  // the caller fixed the redundant parameters
};

}  // namespace MCMath_850
