#include "hypothesis/MCModelEffectTest.h"

#include <algorithm>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "hypothesis/MCMETDataImpl.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

constexpr double kTol = 1e-12;

}  // namespace

// ---------------------------------------------------------------------------
// MCBaseModelEffectTest

MCBaseModelEffectTest::MCBaseModelEffectTest() : fpStats(std::make_unique<MCModelTestStats>()) {}

MCBaseModelEffectTest::~MCBaseModelEffectTest() = default;

void MCBaseModelEffectTest::SetDataImp(MCMETDataImpl* data) {
    fpData = data;
    fpStats = std::make_unique<MCModelTestStats>();
}

int MCBaseModelEffectTest::EnterEffect(int e, MCSymMatrix& M, MCBitSet& entered) const {
    return GuardAllocationOr<int>(-1, [&]() -> int {
        int first = 0, count = 0;
        if (fpData == nullptr || !fpData->GetRange(e, first, count)) return -1;
        if (M.GetNRows() != static_cast<int>(fpData->fvDiagonal.size())) return -1;
        // With the caller's redundancy the round-off left in the recovered rows
        // of redundant parameters must not make them sweep.
        std::vector<int> pivots;
        for (int k = first; k < first + count; ++k)
            if ((!fpData->fbGivenSet || fpData->fNonRedundant.IsIn(k)) && !entered.IsIn(k))
                pivots.push_back(k);
        const int before = entered.Count();
        M.SweepPivots(pivots, fpData->fSweepTol, fpData->fvDiagonal, entered, true);
        return entered.Count() - before;
    });
}

MCStatus MCBaseModelEffectTest::TestModelEffect() {
    return GuardAllocation([&]() -> MCStatus {
        if (fpData == nullptr || !fpData->fpL || !fpData->fpTester)
            return ErrorStatus(StatusCode::kMissingInput);
        if (fpData->fNonRedundant.Count() == 0) return WarningStatus(StatusCode::kEmptyHMatrix);
        MCRectMatrix& L = *fpData->fpL;
        MCStatus status;
        MCCommon_850::MCQueryCancel* cancel = fpData->GetSettings().GetCancelPointer();
        for (int e = 0; e < fpData->GetNEffects() && !status.IsError(); ++e) {
            if (cancel != nullptr && cancel->IsCancel()) return ErrorStatus(StatusCode::kCancelled);
            L.Resize(0, fpData->fQ);
            std::vector<int> rows;
            status = ComputeEffectContrast(e, rows);
            std::vector<int> kept;
            if (status.IsOK() && !fpData->PrepareForTest(L, &kept))
                status = ErrorStatus(StatusCode::kMissingInput);
            if (status.IsOK()) {
                // The row indices follow the rows that survive the reduction.
                std::vector<int> keptRows;
                for (int r : kept)
                    if (r < static_cast<int>(rows.size())) keptRows.push_back(rows[r]);
                status = fpData->fpTester->ComputeModelTest(L, status, *fpStats);
                fpStats->AddRowIndices(keptRows);
            } else {
                MCTestStats untested;
                untested.SetTestType(MCConst::TEST_WALD_F);
                fpStats->AddTestStatsAndLMatrixAndStatus(untested, L, status);
                fpStats->AddRowIndices(rows);
            }
        }
        return status;
    });
}

// ---------------------------------------------------------------------------
// Type I

MCStatus MCModelEffectTestTypeI::ComputeEffectContrast(int e, std::vector<int>& rows) const {
    return GuardAllocation([&]() -> MCStatus {
        rows.clear();
        int first = 0, count = 0;
        if (fpData == nullptr || !fpData->HasCrossProduct() || !fpData->fpL ||
            !fpData->GetRange(e, first, count))
            return ErrorStatus(StatusCode::kMissingInput);
        if (!fpData->RecoverCrossProduct()) return ErrorStatus(StatusCode::kMissingInput);
        const int q = fpData->fQ;
        MCBitSet entered(q);
        const int n = EnterEffect(e, *fpData->fpXX, entered);
        if (n <= 0) return MCStatus();  // nothing estimable: an empty L
        for (int k = first; k < first + count; ++k)
            if (entered.IsIn(k)) fpData->fEntered.Set(k);

        MCRectMatrix H(q, n);
        const int nH = fpData->fpXX->ExtractH(first, count, fpData->fEntered, H);
        MCRectMatrix& L = *fpData->fpL;
        if (nH < 0 || !L.Resize(count, q)) return WarningStatus(StatusCode::kEmptyLMatrix);
        for (int c = 0; c < nH; ++c) H.CopyColToRow(c, L, c);
        for (int k = first; k < first + count; ++k)
            if (entered.IsIn(k)) rows.push_back(k + 1);
        return MCStatus();
    });
}

// ---------------------------------------------------------------------------
// Type III

MCStatus MCModelEffectTestTypeIII::ComputeEffectContrast(int e, std::vector<int>& rows) const {
    return GuardAllocation([&]() -> MCStatus {
        rows.clear();
        int first = 0, count = 0;
        if (fpData == nullptr || !fpData->HasCrossProduct() || !fpData->fpL ||
            !fpData->GetRange(e, first, count))
            return ErrorStatus(StatusCode::kMissingInput);
        const int q = fpData->fQ;
        const std::vector<MCModelEffect>& effects = fpData->fvEffects;
        const int nEffects = fpData->GetNEffects();
        auto contains = [&](int f) { return f != e && effects[e].IsContainedIn(effects[f]); };

        // Adjust for everything that does not contain e, then take e, then the
        // effects that contain it (whose directions are projected out below).
        // With the caller's redundancy the pivots are fixed, so the result is the
        // matrix swept on all of them, made once.
        // The supplied swept matrix is read in place; a matrix swept here, or
        // transformed, is this effect's own.
        MCSymMatrix own;
        const MCSymMatrix* Wp = &own;
        double sign = 1.0;
        MCBitSet entered(q);
        int nE = 0, s = 0;
        if (fpData->fpSwept) {
            Wp = fpData->fpSwept;
            sign = fpData->fSweptSign;
            entered = fpData->fSweptAll;
            nE = entered.InRange(first, count);
            for (int f = 0; f < nEffects; ++f) {
                int ff = 0, fc = 0;
                if (contains(f) && fpData->GetRange(f, ff, fc)) s += entered.InRange(ff, fc);
            }
        } else {
            if (!fpData->RecoverCrossProduct()) return ErrorStatus(StatusCode::kMissingInput);
            own = *fpData->fpXX;
            for (int f = 0; f < nEffects; ++f)
                if (f != e && !contains(f)) EnterEffect(f, own, entered);
            nE = EnterEffect(e, own, entered);
            for (int f = 0; f < nEffects; ++f)
                if (contains(f)) s += std::max(0, EnterEffect(f, own, entered));
        }
        if (nE <= 0) return WarningStatus(StatusCode::kEmptyLMatrix);

        if (fpData->fpSettings->GetTransformEffects()) {
            MCRectMatrix R;
            MCSymMatrix D;
            MCSymMatrix scaled;
            if (Wp != &own) {  // the caller's matrix, as swept
                if (!Wp->CopyLeadingBlock(q, own)) return ErrorStatus(StatusCode::kMissingInput);
                if (sign != 1.0) own.Scale(sign);
                Wp = &own;
                sign = 1.0;
            }
            if (!fpData->ComputeTypeIIIScaleMatrices(entered, R, D) ||
                !own.ComputeRSRTrans(R, scaled) || !scaled.ComputeAXpY(1.0, D))
                return ErrorStatus(StatusCode::kMissingInput);
            own = std::move(scaled);
        }
        const MCSymMatrix& W = *Wp;

        MCRectMatrix H1(q, nE);
        if (W.ExtractH(first, count, entered, H1, 0, sign) != nE)
            return WarningStatus(StatusCode::kEmptyLMatrix);
        MCBitSet usable(nE);
        usable.SetRange(0, nE);
        if (s > 0) {
            MCRectMatrix H2(q, s);
            int col = 0;
            for (int f = 0; f < nEffects; ++f) {
                int ff = 0, fc = 0;
                if (!contains(f) || !fpData->GetRange(f, ff, fc) || entered.InRange(ff, fc) == 0)
                    continue;
                const int w = W.ExtractH(ff, fc, entered, H2, col, sign);
                if (w < 0) return WarningStatus(StatusCode::kEmptyLMatrix);
                col += w;
            }
            if (!H1.ResidOfOrthProjection(H2, kTol, usable))
                return WarningStatus(StatusCode::kEmptyLMatrix);
        }
        for (int f = 0; f < nEffects; ++f) {
            int ff = 0, fc = 0;
            if (f == e || contains(f) || !fpData->GetRange(f, ff, fc)) continue;
            for (int j = ff; j < ff + fc; ++j) {
                const int pivot = H1.ZeroOutPivotRow(j, kTol, &usable);
                if (pivot >= 0) usable.Unset(pivot);
            }
        }

        const int nK = usable.Count();
        if (nK == 0) return WarningStatus(StatusCode::kEmptyLMatrix);
        std::vector<int> params;
        for (int k = first; k < first + count; ++k)
            if (entered.IsIn(k)) params.push_back(k);
        if (static_cast<int>(params.size()) != H1.GetNCols())
            return ErrorStatus(StatusCode::kMissingInput);
        MCRectMatrix& L = *fpData->fpL;
        if (!L.Resize(nK, q)) return ErrorStatus(StatusCode::kMissingInput);
        int row = 0;
        for (int c = 0; c < nE; ++c) {
            if (!usable.IsIn(c)) continue;
            H1.ColClean(c, q);
            H1.CopyColToRow(c, L, row++);
            rows.push_back(params[Ix(c)] + 1);
        }
        return MCStatus();
    });
}

// ---------------------------------------------------------------------------
// MCModelEffectTest

MCModelEffectTest::MCModelEffectTest(
    const MCRegSettings& settings, const std::vector<MCModelEffect>& effects,
    const std::vector<double>& estimates, const std::vector<int>& firstParam,
    const std::vector<int>& nParams, MCConst::MCEffectAnalysisType analysisType,
    const MCSymMatrix* covariance, const MCSymMatrix* crossProduct, const MCBitSet* nonRedundant,
    MCConst::DistType dist, int nCategories, const MCBitSet* blockNonRedundant, double errorDF,
    MCSatterthwaite* satterthwaite)
    : fAnalysisType(analysisType) {
    fStatus = GuardAllocation([&] {
        if (analysisType == MCConst::ANALYSIS_TYPE_I) {
            fvTests.push_back(std::make_unique<MCModelEffectTestTypeI>());
        } else if (analysisType == MCConst::ANALYSIS_TYPE_III) {
            fvTests.push_back(std::make_unique<MCModelEffectTestTypeIII>());
        } else if (analysisType == MCConst::ANALYSIS_TYPE_I_AND_III) {
            fvTests.push_back(std::make_unique<MCModelEffectTestTypeIII>());
            fvTests.push_back(std::make_unique<MCModelEffectTestTypeI>());
        }
        fpData = std::make_unique<MCMETDataImpl>(settings, effects, estimates, firstParam, nParams,
                                                 dist, nCategories, errorDF);
        MCStatus s;
        if (covariance != nullptr) {
            s = fpData->SetModelTesting(covariance, crossProduct, nonRedundant, blockNonRedundant,
                                        satterthwaite);
        } else {
            const bool multiBlock =
                dist == MCConst::DIST_NOM_MULTINOMIAL || dist == MCConst::DIST_ORD_MULTINOMIAL;
            s = fpData->fStatus = fpData->SetupForLMatrix(
                crossProduct, multiBlock ? blockNonRedundant : nonRedundant);
        }
        for (auto& t : fvTests) t->SetDataImp(fpData.get());
        return s;
    });
}

MCModelEffectTest::~MCModelEffectTest() = default;

void MCModelEffectTest::SetCrossProduct(const MCSymMatrix& unswept) {
    if (!fpData) return;
    const MCStatus s = GuardAllocation([&] {
        fpData->SetUnswept(unswept);
        return MCStatus();
    });
    if (s.IsError() && !fStatus.IsError()) fStatus = s;
}

void MCModelEffectTest::SetScaleValus(const std::vector<double>& means,
                                      const std::vector<double>& scales) {
    if (!fpData) return;
    const MCStatus s = GuardAllocation([&] {
        fpData->SetScaleValues(means, scales);
        return MCStatus();
    });
    if (s.IsError() && !fStatus.IsError()) fStatus = s;
}

MCStatus MCModelEffectTest::TestModelEffect() {
    if (!fpData || fStatus.IsError()) return fStatus;
    for (auto& t : fvTests) {
        fStatus = GuardAllocation([&] { return t->TestModelEffect(); });
        // Half-made results are not handed out.
        if (fStatus.GetErrorCode() == StatusCode::kAllocationFailed) return fStatus;
    }
    if (fAnalysisType == MCConst::ANALYSIS_TYPE_I && fvTests.size() == 1) {
        fpTypeI = fvTests[0]->GetTestStats();
    } else if (fAnalysisType == MCConst::ANALYSIS_TYPE_III && fvTests.size() == 1) {
        fpTypeIII = fvTests[0]->GetTestStats();
    } else if (fAnalysisType == MCConst::ANALYSIS_TYPE_I_AND_III && fvTests.size() == 2) {
        fpTypeIII = fvTests[0]->GetTestStats();
        fpTypeI = fvTests[1]->GetTestStats();
    }
    return fStatus;
}

const MCRectMatrix* MCModelEffectTest::ComputeLMatrix(int e) {
    if (!fpData || fStatus.IsError() || fvTests.empty() || !fpData->fpL ||
        (fAnalysisType != MCConst::ANALYSIS_TYPE_III &&
         fAnalysisType != MCConst::ANALYSIS_TYPE_I_AND_III))
        return nullptr;
    return GuardAllocationOr<const MCRectMatrix*>(nullptr, [&]() -> const MCRectMatrix* {
        fpData->fpL->Resize(0, fpData->fQ);
        std::vector<int> rows;
        if (fvTests[0]->ComputeEffectContrast(e, rows).IsError()) return nullptr;
        return fpData->fpL.get();
    });
}

bool MCModelEffectTest::GetLMatrix(int e, const MCRectMatrix*& L,
                                   MCConst::MCEffectAnalysisType type, const MCRectMatrix* A) {
    L = nullptr;
    if (type == MCConst::ANALYSIS_TYPE_III) {
        L = fpTypeIII ? fpTypeIII->GetLMatrix(e) : nullptr;
        return L != nullptr;
    }
    if (type != MCConst::ANALYSIS_TYPE_I || !fpTypeI) return false;
    const MCRectMatrix* stored = fpTypeI->GetLMatrix(e);
    if (stored == nullptr) return false;
    if (A == nullptr) {
        L = stored;
        return true;
    }
    int first = 0, count = 0;
    if (!fpData->GetRange(e, first, count)) return false;
    return GuardAllocationOr(false, [&] {
        std::vector<double> d(static_cast<std::size_t>(stored->GetNRows()));
        for (int i = 0; i < stored->GetNRows(); ++i) d[i] = A->GetElem(first + i, first + i);
        MCRectMatrix scaled;
        auto out = std::make_unique<MCRectMatrix>();
        if (!stored->ComputeDiagR(d, scaled) ||
            !scaled.ComputeMatrixProduct(MCMETDataImpl::GetInvTransformedA(*A), *out))
            return false;
        fpData->fpTypeIL = std::move(out);
        L = fpData->fpTypeIL.get();
        return true;
    });
}

MCStatus MCModelEffectTest::GetGeneralEstimableFunction(MCRectMatrix* L, std::vector<int>& rows) {
    rows.clear();
    if (!fpData || L == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    return GuardAllocation([&] {
        const MCRectMatrix* Hp = fpData->GetH();
        if (Hp == nullptr) return ErrorStatus(StatusCode::kMissingInput);
        const MCRectMatrix& H = *Hp;
        if (H.GetNCols() == 0) return WarningStatus(StatusCode::kEmptyHMatrix);
        if (!H.Transpose(*L)) return ErrorStatus(StatusCode::kMissingInput);
        for (int j = 0; j < fpData->fQ; ++j)
            if (fpData->fNonRedundant.IsIn(j)) rows.push_back(j + 1);
        return MCStatus();
    });
}

const MCModelTestStats* MCModelEffectTest::GetCorrectedModelTestStats(const MCRectMatrix* A) {
    if (fpCorrected) return fpCorrected.get();
    return GuardAllocationOr<const MCModelTestStats*>(nullptr, [&]() -> const MCModelTestStats* {
        if (!fpData || fStatus.IsError() || !fpData->fpTester || fpData->GetH() == nullptr)
            return nullptr;
        const int q = fpData->fQ;
        // H spread over all q columns (zero for the redundant parameters), so
        // that a q x q transform applies to it.
        MCRectMatrix H(q, q);
        std::vector<double> col(static_cast<std::size_t>(q));
        for (int j = 0, c = 0; j < q; ++j) {
            if (!fpData->fNonRedundant.IsIn(j)) continue;
            for (int i = 0; i < q; ++i) H.SetElem(i, j, fpData->GetH()->GetElem(i, c));
            ++c;
        }
        if (A != nullptr) {
            MCRectMatrix AH, AHAinv;
            if (!A->ComputeMatrixProduct(H, AH) ||
                !AH.ComputeMatrixProduct(MCMETDataImpl::GetInvTransformedA(*A), AHAinv))
                return nullptr;
            H = std::move(AHAinv);
        }
        const int skip = fpData->fbIntercept ? 1 : 0;
        MCRectMatrix L(q - skip, q);
        for (int k = skip; k < q; ++k) H.CopyColToRow(k, L, k - skip);
        if (!fpData->PrepareForTest(L, nullptr)) return nullptr;
        auto stats = std::make_unique<MCModelTestStats>();
        const MCStatus s = fpData->fpTester->ComputeModelTest(L, MCStatus(), *stats);
        if (s.IsError()) return nullptr;
        fpCorrected = std::move(stats);
        return fpCorrected.get();
    });
}

void MCModelEffectTest::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCModelEffectTest display start");
    DisplayC("Analysis type", fAnalysisType);
    DisplayI("Status code", fStatus.GetErrorCode());
    DisplayB("Status is warning", fStatus.IsWarning());
    if (fpData) fpData->Display();
    if (fpTypeI) {
        DisplayText("Type I tests:");
        fpTypeI->Display();
    }
    if (fpTypeIII) {
        DisplayText("Type III tests:");
        fpTypeIII->Display();
    }
    if (fpCorrected) {
        DisplayText("Corrected model test:");
        fpCorrected->Display();
    }
    DisplayText("MCModelEffectTest display end");
}

}  // namespace MCMath_850
