#include "logistic/MCLogModel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorTables.h"
#include "design/MCEffectParameter.h"
#include "design/MCParameterList.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
using MCCommon_850::PrecisionWarning;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCLogModel::MCLogModel(const MCLogRegSettings& settings, MCCancelInfo& cancel)
    : fpSettings(&settings), fpCancel(&cancel) {}

MCLogModel::~MCLogModel() = default;

void MCLogModel::SetOffsets(const std::vector<int>& factors, const std::vector<int>& covariates,
                            int freqWeight, int regrWeight, int dependent) {
    (void)factors;  // the factor tables find a record's cells themselves
    fvRecordCovariates = covariates;
    fRecordFreqWeight = freqWeight;
    fRecordRegrWeight = regrWeight;
    fRecordDependent = dependent;
}

void MCLogModel::SetPatternOffsets(const std::vector<int>& covariates, int freqWeight,
                                   int regrWeight, int dependent) {
    fvPatternCovariates = covariates;
    fPatternFreqWeight = freqWeight;
    fPatternRegrWeight = regrWeight;
    fPatternDependent = dependent;
}

void MCLogModel::SetTotalWeight(double sampleSize, double totalWeight) {
    fSampleSize = sampleSize;
    fTotalWeight = totalWeight;
}

MCStatus MCLogModel::SetDepCatInfo(const MCFactorCounts& counts) {
    const MCFactorCounts::CountVector* dep = counts.GetDependCountsPtr();
    if (dep == nullptr) return fStatus = ErrorStatus(StatusCode::kTooFewDepCategories);
    std::vector<int> candidates;
    for (std::size_t k = 0; k < dep->size(); ++k)
        if ((*dep)[k].first > 0.0) candidates.push_back(static_cast<int>(k));
    if (candidates.size() < 2) {
        MCStatus s = ErrorStatus(StatusCode::kTooFewDepCategories);
        s.SetDiscreteDatum(1, static_cast<long>(candidates.size()));
        return fStatus = s;
    }

    const int requested = fpSettings->GetDependentRefCateg();
    int reference = candidates.back();
    MCStatus result;
    if (requested == -2) {
        reference = candidates.front();
    } else if (requested >= 0) {
        bool found = false;
        for (int c : candidates) found = found || c == requested;
        if (found) {
            reference = requested;
        } else {
            result = WarningStatus(StatusCode::kEmptyReference);
            result.SetDiscreteDatum(1, requested);
        }
    }

    fvDepCategories.clear();
    for (int c : candidates)
        if (c != reference) fvDepCategories.push_back(c);
    fvDepCategories.push_back(reference);
    fvDepLocal.assign(dep->size(), -1);
    fvWeightedCounts.clear();
    fvUnweightedCounts.clear();
    for (std::size_t k = 0; k < fvDepCategories.size(); ++k) {
        const std::size_t code = Ix(fvDepCategories[k]);
        fvDepLocal[code] = static_cast<int>(k);
        fvWeightedCounts.push_back((*dep)[code].first);
        fvUnweightedCounts.push_back((*dep)[code].second);
    }
    return result;
}

double MCLogModel::Layout::Value(const double* row, std::size_t effect) const {
    double v = 1.0;
    for (int t = fvStart[effect]; t < fvStart[effect + 1]; ++t) {
        const CovTerm& term = fvTerms[Ix(t)];
        for (int m = 0; m < term.fMult; ++m) v *= row[term.fPos];
    }
    return v;
}

double MCLogModel::Layout::Centred(const double* row, std::size_t effect) const {
    double v = 1.0;
    for (int t = fvStart[effect]; t < fvStart[effect + 1]; ++t) {
        const CovTerm& term = fvTerms[Ix(t)];
        const double d = row[term.fPos] - fvCentre[Ix(t)];
        for (int m = 0; m < term.fMult; ++m) v *= d;
    }
    return v;
}

double MCLogModel::Layout::Weight(const double* row) const {
    double w = fFreqWeight >= 0 ? row[fFreqWeight] : 1.0;
    if (fRegrWeight >= 0) w *= row[fRegrWeight];
    return w;
}

// Every parameter of an effect has the effect's covariates, so the design
// value of any of them is a product over the effect's covariate terms; the
// two layouts differ only in where those covariates sit in a row.
void MCLogModel::BuildLayouts() {
    fRecordLayout = Layout();
    fPatternLayout = Layout();
    const bool intercept = fpSettings->GetInterceptUse();
    const std::vector<MCModelEffect>& effects = fpSettings->GetModelEffects();
    const std::vector<int>& settingsCovs = fpSettings->GetCovariates();
    for (int e = 0; e < fNEffects; ++e) {
        fRecordLayout.fvStart.push_back(static_cast<int>(fRecordLayout.fvTerms.size()));
        fPatternLayout.fvStart.push_back(static_cast<int>(fPatternLayout.fvTerms.size()));
        const int settingsEffect = intercept ? e - 1 : e;
        if (settingsEffect < 0) continue;
        const MCModelEffect& effect = effects[Ix(settingsEffect)];
        MCRegrParameter p;
        SetupFromEffectOrThrow(p, effect, settingsEffect);
        for (int i = 0; i < p.GetNCovariates(); ++i) {
            const std::size_t ci = Ix(i);
            const int var = p.GetCovariates()[ci];
            const int mult = p.GetCovariateMultiplicities()[ci];
            int patternPos = var;
            for (std::size_t c = 0; c < settingsCovs.size(); ++c)
                if (settingsCovs[c] == var && c < fvPatternCovariates.size())
                    patternPos = fvPatternCovariates[c];
            fRecordLayout.fvTerms.push_back({var, mult});
            fPatternLayout.fvTerms.push_back({patternPos, mult});
        }
    }
    fRecordLayout.fvStart.push_back(static_cast<int>(fRecordLayout.fvTerms.size()));
    fPatternLayout.fvStart.push_back(static_cast<int>(fPatternLayout.fvTerms.size()));
    fRecordLayout.SetRoles(fRecordFreqWeight, fRecordRegrWeight, fRecordDependent);
    fPatternLayout.SetRoles(fPatternFreqWeight, fPatternRegrWeight, fPatternDependent);
    for (Layout* layout : {&fRecordLayout, &fPatternLayout}) {
        layout->fvCentre.assign(layout->fvTerms.size(), 0.0);
        layout->fvShift.assign(Ix(fNEffects), 0.0);
    }
    BuildSources();
}

void MCLogModel::BuildSources() {
    // Effects with the same covariate terms and centres have the same
    // design values; one less its own mean keeps a source of its own.
    fvEffectSource.assign(Ix(fNEffects), 0);
    fvSourceEffect.clear();
    const Layout& l = fPatternLayout;
    auto sameTerms = [&l](std::size_t a, std::size_t b) {
        const int na = l.fvStart[a + 1] - l.fvStart[a], nb = l.fvStart[b + 1] - l.fvStart[b];
        if (na != nb) return false;
        for (int t = 0; t < na; ++t) {
            const CovTerm& x = l.fvTerms[Ix(l.fvStart[a] + t)];
            const CovTerm& y = l.fvTerms[Ix(l.fvStart[b] + t)];
            const std::size_t ta = Ix(l.fvStart[a] + t), tb = Ix(l.fvStart[b] + t);
            if (x.fPos != y.fPos || x.fMult != y.fMult || l.fvCentre[ta] != l.fvCentre[tb])
                return false;
        }
        return true;
    };
    auto shared = [&](std::size_t s, std::size_t e) {
        const std::size_t other = fvSourceEffect[s];
        return l.fvShift[e] == 0.0 && l.fvShift[other] == 0.0 && sameTerms(other, e);
    };
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        if (l.fvStart[e + 1] == l.fvStart[e]) continue;
        std::size_t s = 0;
        while (s < fvSourceEffect.size() && !shared(s, e)) ++s;
        if (s == fvSourceEffect.size()) fvSourceEffect.push_back(e);
        fvEffectSource[e] = static_cast<int>(s) + 1;
    }
    fvSourceShift.assign(fvSourceEffect.size() + 1, 0.0);
    fvSourceCentre.assign(fvSourceEffect.size() + 1, 0.0);
    for (std::size_t s = 0; s < fvSourceEffect.size(); ++s) {
        const std::size_t e = fvSourceEffect[s];
        const std::size_t first = Ix(l.fvStart[e]);
        const bool single = l.fvStart[e + 1] - l.fvStart[e] == 1 && l.fvTerms[first].fMult == 1;
        fvSourceShift[s + 1] = l.fvShift[e];
        fvSourceCentre[s + 1] = l.fvShift[e] != 0.0 ? l.fvShift[e]
                                : single            ? l.fvCentre[first]
                                                    : 0.0;
    }
}

void MCLogModel::ApplyCentres() {
    for (Layout* layout : {&fRecordLayout, &fPatternLayout})
        for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
            layout->fvShift[e] = fFitCentring.OwnCentre(e);
            for (int t = layout->fvStart[e]; t < layout->fvStart[e + 1]; ++t) {
                const int var = fRecordLayout.fvTerms[Ix(t)].fPos;
                layout->fvCentre[Ix(t)] =
                    fFitCentring.Centred(e) ? fFitCentring.VariableCentre(var) : 0.0;
            }
        }
    BuildSources();
}

MCStatus MCLogModel::CreateParameters(MCFactorTables* tables) {
    if (tables == nullptr || fvDepCategories.size() < 2)
        return fStatus = ErrorStatus(StatusCode::kMissingInput);
    if (fbModelBuilt) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);
    fpTables = tables;
    const bool intercept = fpSettings->GetInterceptUse();
    const std::vector<MCModelEffect>& effects = fpSettings->GetModelEffects();
    fNEffects = static_cast<int>(effects.size()) + (intercept ? 1 : 0);
    tables->CreateParameterIndices(0);

    const long nBasic =
        MCParameterList::Count(*tables, static_cast<int>(effects.size()), intercept);
    const long nLogits = static_cast<long>(fvDepCategories.size()) - 1;
    if (nBasic * nLogits > kMaxMatrixRows) {
        MCStatus s = ErrorStatus(StatusCode::kTooManyParameters);
        s.SetDiscreteDatum(0, nBasic * nLogits);
        s.SetDiscreteDatum(1, kMaxMatrixRows);
        return fStatus = s;
    }
    try {
        MCParameterList list;
        if (!list.Build(*tables, effects, intercept, *fpCancel))
            return fStatus = ErrorStatus(StatusCode::kCancelled);
        fvBasicParams = std::move(list.fvParameters);
        fvEffectFirst = std::move(list.fvEffectFirst);
        fvEffectCount = std::move(list.fvEffectCount);
        for (MCRegrParameter& p : fvBasicParams) p.SetTargetCategory(fvDepCategories.front());
        fNBasic = static_cast<int>(fvBasicParams.size());
        fvParameters = fvBasicParams;
        for (std::size_t k = 1; k + 1 < fvDepCategories.size(); ++k)
            for (MCRegrParameter p : fvBasicParams) {
                p.SetTargetCategory(fvDepCategories[k]);
                fvParameters.push_back(std::move(p));
            }
        fNAll = static_cast<int>(fvParameters.size());
        BuildLayouts();
        // A covariate within the cells of an effect that no indicator marks
        // (x within A*B in a model without A*B) is judged by its spread
        // within its cell, which needs the cell's weight.
        fCentring.SetUp(fvBasicParams, intercept);
        fpXPrimeX = std::make_unique<MCSymMatrix>(fNBasic);
        if (fpXPrimeX->GetNRows() != fNBasic) throw std::bad_alloc();
        fvEstimates.assign(Ix(fNAll), 0.0);
        fvDesignRow.assign(Ix(fNBasic), 0.0);
        fvEta.assign(fvDepCategories.size(), 0.0);
        fvProbabilities.assign(fvDepCategories.size(), 0.0);
        const int J = GetDependentNCategs();
        if (!fClassification.Resize(J, J)) throw std::bad_alloc();
        fvXIdx.reserve(Ix(fNEffects));
        fvXVal.reserve(Ix(fNEffects));
    } catch (const std::bad_alloc&) {
        fpXPrimeX.reset();
        MCStatus s = ErrorStatus(StatusCode::kAllocationFailed);
        s.SetDiscreteDatum(0, nBasic * nLogits);
        s.SetDiscreteDatum(1, kMaxMatrixRows);
        return fStatus = s;
    }
    fbParamsCreated = fNBasic > 0;
    return fStatus;
}

bool MCLogModel::UpdateXPrimeX(const double* row, const std::vector<int>& indices) {
    if (!fbParamsCreated || fbModelBuilt || row == nullptr || !fpXPrimeX) return false;
    if (fpCancel->WillCancel()) return false;
    if (indices.size() < Ix(fNEffects)) return false;
    fvXIdx.clear();
    fvXVal.clear();
    for (std::size_t e = 0; e < Ix(fNEffects); ++e) {
        if (indices[e] < 0 || indices[e] >= fNBasic) return false;
        fvXIdx.push_back(indices[e]);
        fvXVal.push_back(fPatternLayout.Value(row, e));
    }
    const double w = fPatternLayout.Weight(row);
    if (!fpXPrimeX->UpdateXXSparse(fvXIdx.data(), fvXVal.data(), fNEffects, w)) return false;
    fCentring.Add(fvXIdx.data(), fvXIdx.size(), w);
    ++fNRowsAdded;
    return true;
}

bool MCLogModel::UpdateXPrimeX(const double* row) {
    if (!fbParamsCreated || row == nullptr) return false;
    const std::vector<int>* indices = RecordIndices(row);
    return indices != nullptr && UpdateXPrimeX(row, *indices);
}

bool MCLogModel::MergeXPrimeX(MCCommon_850::PassReducer& reducer) {
    if (!fpXPrimeX || !fpXPrimeX->MergeAcrossProcesses(reducer)) return false;
    if (!fCentring.Merge(reducer)) return false;
    std::vector<double> rows{static_cast<double>(fNRowsAdded)};
    if (!reducer.Sum(rows)) return false;
    fNRowsAdded = static_cast<int>(rows[0]);
    return true;
}

MCStatus MCLogModel::IdentifyRedundancy() {
    if (fNRowsAdded == 0 || !fpXPrimeX) return fStatus = ErrorStatus(StatusCode::kNothingToBuild);
    if (fbModelBuilt) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);
    std::vector<int> effectOf(Ix(fNBasic), 0);
    for (int e = 0; e < fNEffects; ++e) {
        int first = 0, count = 0;
        if (!GetParamsForEffect(e, first, count)) continue;
        for (int k = first; k < first + count && k < fNBasic; ++k) effectOf[Ix(k)] = e;
    }
    fFitCentring.SetUp(fvBasicParams, effectOf, fNEffects, *fpXPrimeX,
                       fpSettings->GetInterceptUse());
    const double tol = fpSettings->GetTolerance();
    std::vector<double> scale;
    fpXPrimeX->ComputeCentredScale(scale, fCentring.Units(), tol, fCentring.Weights());
    std::vector<double> slopeRatios(Ix(fNBasic), 0.0);
    std::vector<double> productSquares(Ix(fNBasic), 0.0);
    for (int k = 0; k < fNBasic; ++k) {
        const MCRegrParameter& prm = fvBasicParams[Ix(k)];
        if (prm.GetNCovariates() > 0 && prm.GetNFactors() > 0)
            slopeRatios[Ix(k)] = fCentring.MeanOverSpread(*fpXPrimeX, Ix(k));
        if (prm.GetNCovariateMult() >= 2 && prm.GetNFactors() == 0)
            productSquares[Ix(k)] = fCentring.CentredSquares(*fpXPrimeX, Ix(k));
    }
    fBasicRedundancy = MCBitSet(fNBasic);
    fvBasicDiagonal.assign(Ix(fNBasic), 0.0);
    for (int k = 0; k < fNBasic; ++k) fvBasicDiagonal[Ix(k)] = fpXPrimeX->GetElem(k, k);
    if (fpSettings->GetKeepCrossProducts())
        fpUnsweptXPrimeX = std::make_unique<MCSymMatrix>(*fpXPrimeX);
    for (int k = 0; k < fNBasic; ++k) {
        if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
        fpXPrimeX->Sweep(k, tol, scale, fBasicRedundancy, true);
    }
    // The tests' hypotheses and the marginal means' estimability read the
    // aliased parameters' coefficients.
    fpXPrimeX->ClearAliasingRounding(fNBasic, fBasicRedundancy, fvBasicDiagonal,
                                     MCSymMatrix::kAliasingRounding);
    fvBasicLocal.assign(Ix(fNBasic), -1);
    fNBasicNonRed = 0;
    for (int k = 0; k < fNBasic; ++k)
        if (fBasicRedundancy.IsIn(k)) fvBasicLocal[Ix(k)] = fNBasicNonRed++;
    const int nLogits = GetDependentNCategs() - 1;
    fRedundancy = MCBitSet(fNAll);
    for (int l = 0; l < nLogits; ++l)
        for (int k = 0; k < fNBasic; ++k)
            if (fBasicRedundancy.IsIn(k)) fRedundancy.Set(l * fNBasic + k);
    fNNonRed = fNBasicNonRed * nLogits;
    fFitCentring.Decide(fCentring, *fpXPrimeX, fBasicRedundancy, fvBasicDiagonal);
    ApplyCentres();
    for (std::size_t k = 0; k < Ix(fNBasic); ++k)
        if (fFitCentring.ColumnCentred(k)) productSquares[k] = 0.0;
    MCStatus precision = CellSlopePrecision(slopeRatios);
    if (precision.IsOK()) precision = ProductPrecision(productSquares);
    return fStatus.IsError() || precision.IsOK() ? fStatus : precision;
}

MCStatus MCLogModel::ProductPrecision(const std::vector<double>& squares) const {
    // A column whose size is r times what the other columns leave of it (r^2
    // its centred sum of squares times its diagonal of the swept -(X'X)^-1)
    // costs the inverse of the information r^2 in precision.
    double worst = 0.0;
    const int which = fpXPrimeX->MostCollinear(squares, fBasicRedundancy, kTrustedCellRatio, worst);
    if (which < 0) return MCStatus();
    return PrecisionWarning(StatusCode::kFarProductLogistic, which, worst);
}

MCStatus MCLogModel::CellSlopePrecision(const std::vector<double>& ratios) const {
    // A slope within cells that cannot be fitted centred (no indicator
    // marks its cells) enters the information raw, and its inverse loses
    // the square of the covariate's mean over its spread in the cells (a
    // timestamp within the cells keeps some five digits of its standard
    // errors).
    double worst = kTrustedCellRatio;
    int which = -1;
    for (int k = 0; k < fNBasic; ++k) {
        if (fFitCentring.ColumnCentred(Ix(k))) continue;
        // A slope without spread in its cells is aliased: no error to lose.
        const double ratio = ratios[Ix(k)];
        if (std::isfinite(ratio) && ratio > worst) {
            worst = ratio;
            which = k;
        }
    }
    if (which < 0) return MCStatus();
    return PrecisionWarning(StatusCode::kFarSlopeInCells, which, worst);
}

MCStatus MCLogModel::SetInitialEstimates(std::vector<double>& estimates) const {
    if (!fbParamsCreated) return ErrorStatus(StatusCode::kMissingInput);
    if (fbModelBuilt) return ErrorStatus(StatusCode::kAlreadyBuilt);
    for (double n : fvWeightedCounts)
        if (!(n > 0.0)) return ErrorStatus(StatusCode::kMissingInput);
    estimates.assign(Ix(fNNonRed), 0.0);
    if (!fpSettings->GetInterceptUse() || fNBasicNonRed == 0 || fvBasicLocal[0] != 0)
        return MCStatus();
    const double reference = fvWeightedCounts.back();
    for (std::size_t k = 0; k + 1 < fvWeightedCounts.size(); ++k)
        estimates[k * Ix(fNBasicNonRed)] = std::log(fvWeightedCounts[k] / reference);
    return MCStatus();
}

MCStatus MCLogModel::UncompressEstimates(const std::vector<double>& estimates,
                                         const MCSymMatrix& inverse) {
    if (estimates.size() != Ix(fNNonRed)) return fStatus = ErrorStatus(StatusCode::kMissingInput);
    std::size_t next = 0;
    for (int i = 0; i < fNAll; ++i)
        fvEstimates[Ix(i)] = fRedundancy.IsIn(i) ? estimates[next++] : 0.0;
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    fpHessianGI = std::make_unique<MCSymMatrix>(fNAll);
    if (!inverse.Expand(fRedundancy, *fpHessianGI))
        return fStatus = ErrorStatus(StatusCode::kMissingInput);
    // The robust covariance's bread: carried back, its terms would cancel
    // to many orders below themselves at a covariate far from zero.
    if (fpSettings->GetSandwichType() >= 0) {
        fpCentredGI = std::make_unique<MCSymMatrix>(*fpHessianGI);
        fvCentredEstimates = fvEstimates;
    }
    fFitCentring.Uncentre(fvEstimates, fpHessianGI.get(), GetDependentNCategs() - 1);
    return fStatus;
}

void MCLogModel::GetFitCentring(std::vector<MCLogCentring::Combination>& units,
                                std::vector<double>& shifts) const {
    units.assign(Ix(fNAll), {});
    shifts.assign(Ix(fNAll), 0.0);
    const int nLogits = GetDependentNCategs() - 1;
    for (int l = 0; l < nLogits; ++l)
        for (int k = 0; k < fNBasic; ++k) {
            const std::size_t at = Ix(l * fNBasic + k);
            for (const auto& [u, a] : fFitCentring.Units()[Ix(k)])
                units[at].emplace_back(l * fNBasic + u, a);
            shifts[at] = fFitCentring.Shifts()[Ix(k)];
        }
}

bool MCLogModel::GetParamsForEffect(int effect, int& first, int& count) const {
    const bool intercept = fpSettings->GetInterceptUse();
    if (intercept && effect == 0) {
        first = 0;
        count = 1;
        return true;
    }
    const int e = intercept ? effect - 1 : effect;
    if (e < 0 || e >= static_cast<int>(fvEffectFirst.size())) return false;
    first = fvEffectFirst[Ix(e)];
    count = fvEffectCount[Ix(e)];
    return true;
}

MCStatus MCLogModel::FinishErrors() {
    if (fNClassified == 0 || fSampleSize == 0.0 || !(fTotalWeight > 0.0)) {
        MCStatus s = ErrorStatus(StatusCode::kNoPositiveWeight);
        s.SetScaleDatum(1, fTotalWeight);
        return fStatus = s;
    }
    fbModelBuilt = true;
    return fStatus;
}

void MCLogModel::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCLogModel display start");
    DisplayIV("Dependent categories in subpopulation, reference last", fvDepCategories);
    DisplayIV("Local indices of the dependent categories", fvDepLocal);
    DisplayDV("Weighted counts", fvWeightedCounts);
    DisplayDV("Unweighted counts", fvUnweightedCounts);
    DisplayI("Number of model effects", fNEffects);
    DisplayI("Number of basic parameters", fNBasic);
    DisplayI("Number of parameters", fNAll);
    DisplayI("Number of non-redundant basic parameters", fNBasicNonRed);
    DisplayI("Number of non-redundant parameters", fNNonRed);
    DisplayIV("Local indices of the non-redundant basic parameters", fvBasicLocal);
    DisplayI("Rows added to X'X", fNRowsAdded);
    DisplayB("Parameters created", fbParamsCreated);
    DisplayB("Model built", fbModelBuilt);
    DisplayDV("Parameter estimates", fvEstimates);
    DisplayD("Total weight", fTotalWeight);
    DisplayD("Sample size", fSampleSize);
    DisplayI("Classified rows", fNClassified);
    DisplayIV("First parameter of each effect", fvEffectFirst);
    DisplayIV("Number of parameters of each effect", fvEffectCount);
    if (fpXPrimeX) {
        DisplayText("XPrimeXMatrix");
        fpXPrimeX->Display();
    }
    if (fpHessianGI) {
        DisplayText("Pointer to the generalized inverse of Hessian (uncompressed)");
        fpHessianGI->Display();
    }
    DisplayDV("Misclassification matrix", fClassification.AsVector());
    DisplayI("Status", fStatus.GetErrorCode());
    DisplayText("MCLogModel display end");
}

}  // namespace MCMath_850
