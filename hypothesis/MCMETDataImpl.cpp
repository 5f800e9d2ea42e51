#include "hypothesis/MCMETDataImpl.h"

#include <algorithm>
#include <new>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "hypothesis/MCSatterthwaite.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCMETDataImpl::MCMETDataImpl(const MCRegSettings& settings,
                             const std::vector<MCModelEffect>& effects,
                             const std::vector<double>& estimates,
                             const std::vector<int>& firstParam, const std::vector<int>& nParams,
                             MCConst::DistType dist, int nCategories, double errorDF)
    : fvEffects(effects),
      fpFirstParam(&firstParam),
      fpNParams(&nParams),
      fvEstimates(estimates),
      fpSettings(&settings),
      fbIntercept(settings.GetInterceptUse()),
      fConfidenceLevel(settings.GetConfidenceLevel()),
      fDist(dist),
      fP(static_cast<int>(estimates.size())),
      fNCategories(nCategories < 2 ? 2 : nCategories),
      fErrorDF(errorDF) {
    // Parameters per response block: the nominal model repeats the basic
    // parameters for every non-reference category, the ordinal one has
    // t - 1 thresholds in place of a single intercept.
    if (fDist == MCConst::DIST_NOM_MULTINOMIAL)
        fQ = fP / (fNCategories - 1);
    else if (fDist == MCConst::DIST_ORD_MULTINOMIAL)
        fQ = fP + 2 - fNCategories;
    else
        fQ = fP;
    if (fQ < 0) fQ = 0;
    fEntered.Resize(fQ);
    fNonRedundant.Resize(fQ);
}

bool MCMETDataImpl::GetRange(int e, int& first, int& count) const {
    if (e < 0 || e >= GetNEffects() || e >= static_cast<int>(fpFirstParam->size()) ||
        e >= static_cast<int>(fpNParams->size()))
        return false;
    first = (*fpFirstParam)[Ix(e)];
    count = (*fpNParams)[Ix(e)];
    if (first < 0) {
        count += first;
        first = 0;
    }
    if (first > fQ) first = fQ;
    if (count < 0) count = 0;
    if (first + count > fQ) count = fQ - first;
    return true;
}

MCStatus MCMETDataImpl::SetupForLMatrix(const MCSymMatrix* crossProduct,
                                        const MCBitSet* nonRedundant) {
    if (crossProduct == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    // A matrix augmented by the dependent is read for its design block.
    if (crossProduct->GetNRows() != fQ && crossProduct->GetNRows() != fQ + 1)
        return ErrorStatus(StatusCode::kMissingInput);
    fpGiven = crossProduct;
    MCSymMatrix swept;
    if (nonRedundant != nullptr) {
        fNonRedundant = *nonRedundant;
        fNonRedundant.Resize(fQ);
        fbGivenSet = true;
        // The supplied matrix is X'WX swept on the non-redundant pivots
        // in the sign convention with a positive inverse block: the
        // negative of what Sweep leaves. Negated, it is the matrix swept
        // on all of them, which gives H and serves every Type III test;
        // X'WX itself is recovered only when a test enters effects one
        // by one (RecoverCrossProduct).
        // Without the original diagonal only exactly zero pivots are
        // refused from now on. The supplied matrix is read in place
        // (fSweptSign undoes the negation), and copied into fpXX only
        // when a test needs X'WX, so that a large model is not held
        // twice.
        fpSwept = crossProduct;
        fbRecovered = fNonRedundant.Count() == 0;
        fSweptSign = fbRecovered ? 1.0 : -1.0;
        fvDiagonal.assign(Ix(fQ), 0.0);
        fSweptAll = fNonRedundant;
    } else {
        // The rank is judged as the fit judges it: by each column's spread.
        fpXX = std::make_unique<MCSymMatrix>();
        if (!CopyGiven(*fpXX)) return ErrorStatus(StatusCode::kMissingInput);
        fpXX->ComputeCentredScale(fvDiagonal, fbIntercept ? 0 : -1, fSweepTol);
        swept = *fpXX;
        fNonRedundant.Resize(fQ);
        fNonRedundant.Clear();
        std::vector<int> all(Ix(fQ));
        for (int k = 0; k < fQ; ++k) all[Ix(k)] = k;
        swept.SweepPivots(all, fSweepTol, fvDiagonal, fNonRedundant, true);
    }

    // With the supplied matrix H is made when first asked for.
    const int r = fNonRedundant.Count();
    if (!fpSwept) {
        fpH = std::make_unique<MCRectMatrix>(fQ, r);
        if (r > 0) swept.ExtractH(0, fQ, fNonRedundant, *fpH);
    }
    if (r > 0 && fbIntercept) {
        MCModelEffect intercept = fvEffects.empty() ? MCModelEffect() : fvEffects.front();
        intercept.Reset();
        fvEffects.insert(fvEffects.begin(), intercept);
    }
    fpL = std::make_unique<MCRectMatrix>(0, fQ);
    return MCStatus();
}

MCStatus MCMETDataImpl::SetModelTesting(const MCSymMatrix* covariance,
                                        const MCSymMatrix* crossProduct,
                                        const MCBitSet* nonRedundant,
                                        const MCBitSet* blockNonRedundant,
                                        MCSatterthwaite* satterthwaite) {
    if (covariance == nullptr || crossProduct == nullptr)
        return fStatus = ErrorStatus(StatusCode::kMissingInput);
    const bool multiBlock =
        fDist == MCConst::DIST_NOM_MULTINOMIAL || fDist == MCConst::DIST_ORD_MULTINOMIAL;
    fStatus = SetupForLMatrix(crossProduct, multiBlock ? blockNonRedundant : nonRedundant);
    if (fStatus.IsError()) return fStatus;
    if (fErrorDF < 0.0) fErrorDF = fpSettings->GetDF();
    fpCovariance = covariance;
    fpSatterthwaite = satterthwaite;
    if (nonRedundant != nullptr)
        fTesterSet = *nonRedundant;
    else
        fTesterSet = fNonRedundant;
    fpTester = std::make_unique<MCModelTests>(fvEstimates, fTesterSet, *fpCovariance, fErrorDF,
                                              fpSettings->GetCancelPointer());
    fpTester->SetTestType(fpSettings->GetTestType());
    fpTester->SetConfidenceLevel(fConfidenceLevel);
    return fStatus;
}

void MCMETDataImpl::SetScaleValues(const std::vector<double>& means,
                                   const std::vector<double>& scales) {
    fvScaleMeans = means;
    fvScales = scales;
}

void MCMETDataImpl::SetUnswept(const MCSymMatrix& unswept) {
    if (!fpSwept || (unswept.GetNRows() != fQ && unswept.GetNRows() != fQ + 1)) return;
    auto xx = std::make_unique<MCSymMatrix>();
    if (unswept.GetNRows() == fQ)
        *xx = unswept;
    else if (!unswept.CopyLeadingBlock(fQ, *xx))
        return;
    fpXX = std::move(xx);
    fbRecovered = true;
}

bool MCMETDataImpl::CopyGiven(MCSymMatrix& out) const {
    if (fpGiven == nullptr) return false;
    if (fpGiven->GetNRows() == fQ + 1) return fpGiven->CopyLeadingBlock(fQ, out);
    out = *fpGiven;
    return true;
}

const MCRectMatrix* MCMETDataImpl::GetH() const {
    if (!fpH && fpSwept) {
        auto h = std::make_unique<MCRectMatrix>(fQ, fNonRedundant.Count());
        if (fNonRedundant.Count() > 0) fpSwept->ExtractH(0, fQ, fNonRedundant, *h, 0, fSweptSign);
        fpH = std::move(h);
    }
    return fpH.get();
}

bool MCMETDataImpl::HasCrossProduct() const {
    return fpXX != nullptr || fpSwept != nullptr;
}

bool MCMETDataImpl::RecoverCrossProduct() {
    if (!fpXX && fpSwept) {
        fpXX = std::make_unique<MCSymMatrix>();
        if (!CopyGiven(*fpXX)) return false;
    }
    if (fbRecovered || !fpXX) return fpXX != nullptr;
    // Sweeping the supplied matrix back gives X'WX with the same-kind
    // blocks negated, so their sign is restored afterwards. The aliasing
    // coefficients of the redundant parameters come back with it, which the
    // contrasts of contained effects need.
    MCBitSet pivots = fNonRedundant;
    std::vector<int> back;
    for (int k = fQ - 1; k >= 0; --k)
        if (pivots.IsIn(k)) back.push_back(k);
    if (!fpXX->SweepPivots(back, fSweepTol, fvDiagonal, pivots, false)) return false;
    for (int j = 0; j < fQ; ++j)
        for (int k = 0; k <= j; ++k)
            if (fNonRedundant.IsIn(j) == fNonRedundant.IsIn(k))
                fpXX->SetElem(j, k, -fpXX->GetElem(j, k));
    fbRecovered = true;
    return true;
}

bool MCMETDataImpl::PrepareForTest(MCRectMatrix& L, std::vector<int>* kept) {
    // L is over the parameters of one response block. A nominal multinomial
    // model repeats them for each non-reference category; an ordinal one has
    // t - 1 thresholds where one intercept stands.
    if (fDist == MCConst::DIST_NOM_MULTINOMIAL || fDist == MCConst::DIST_ORD_MULTINOMIAL) {
        MCRectMatrix wide;
        const bool ok = fDist == MCConst::DIST_NOM_MULTINOMIAL
                            ? L.ExpandForBlocks(fNCategories - 1, wide)
                            : L.WidenLeft(fNCategories - 2, wide);
        if (!ok) return false;
        L = std::move(wide);
    }
    if (L.ExtractFullRank(1e-12, kept) < 0) return false;
    if (fpSatterthwaite != nullptr && fpTester != nullptr && L.GetNRows() > 0) {
        const double df = fpSatterthwaite->ComputeDF4FixedOverall(L);
        if (!MCMV::IsMissing(df)) fpTester->SetDF(df);
    }
    return true;
}

MCRectMatrix MCMETDataImpl::GetInvTransformedA(const MCRectMatrix& A) {
    const int n = A.GetNRows();
    MCRectMatrix inv(n, n);
    for (int i = 0; i < n; ++i) {
        const double a = A.GetElem(i, i);
        if (a == 0.0) continue;
        inv.SetElem(i, i, 1.0 / a);
        if (i > 0) inv.SetElem(0, i, -A.GetElem(0, i) / a);
    }
    return inv;
}

bool MCMETDataImpl::ComputeTypeIIIScaleMatrices(const MCBitSet& entered, MCRectMatrix& R,
                                                MCSymMatrix& D) const {
    const int nScale = static_cast<int>(fvScaleMeans.size());
    if (static_cast<int>(fvScales.size()) != nScale) return false;
    const int offset = fbIntercept ? 1 : 0;
    const int n = nScale + offset;
    if (n != fQ) return false;
    if (!R.Resize(n, n)) return false;
    D = MCSymMatrix(n);
    if (fbIntercept) R.SetElem(0, 0, 1.0);
    for (int j = offset; j < n; ++j) {
        const double m = fvScaleMeans[Ix(j - offset)];
        const double s = fvScales[Ix(j - offset)];
        if (entered.IsIn(j)) {
            if (fbIntercept) R.SetElem(0, j, -m / s);
            R.SetElem(j, j, 1.0 / s);
        } else {
            R.SetElem(j, j, s);
            D.SetElem(j, 0, m);
        }
    }
    return true;
}

void MCMETDataImpl::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCMETDataImpl display start");
    DisplayI("Number of effects", GetNEffects());
    for (const MCModelEffect& e : fvEffects) e.Display();
    DisplayIV("First parameters", *fpFirstParam);
    DisplayIV("Parameter counts", *fpNParams);
    DisplayDV("Parameter estimates", fvEstimates);
    DisplayD("Sweep tolerance", fSweepTol);
    DisplayB("Intercept", fbIntercept);
    if (fpH) {
        DisplayText("H matrix:");
        fpH->Display();
    }
    if (fpXX) {
        DisplayText("Working cross-product matrix:");
        fpXX->Display();
    }
    DisplayDV("Diagonal", fvDiagonal);
    DisplayD("Confidence level", fConfidenceLevel);
    if (fpTester) fpTester->Display();
    if (fpL) {
        DisplayText("Current L matrix:");
        fpL->Display();
    }
    DisplayC("Distribution", fDist);
    DisplayI("Parameters", fP);
    DisplayI("Parameters per block", fQ);
    DisplayI("Response categories", fNCategories);
    std::vector<int> entered, nonRedundant;
    for (int k = 0; k < fQ; ++k) {
        if (fEntered.IsIn(k)) entered.push_back(k);
        if (fNonRedundant.IsIn(k)) nonRedundant.push_back(k);
    }
    DisplayIV("Entered parameters", entered);
    DisplayIV("Non-redundant parameters", nonRedundant);
    DisplayI("Status code", fStatus.GetErrorCode());
    DisplayD("Error degrees of freedom", fErrorDF);
    DisplayDV("Scale means", fvScaleMeans);
    DisplayDV("Scales", fvScales);
    DisplayText("MCMETDataImpl display end");
}

}  // namespace MCMath_850
