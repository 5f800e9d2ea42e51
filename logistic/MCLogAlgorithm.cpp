#include "logistic/MCLogAlgorithm.h"

#include <algorithm>
#include <new>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "data/MCRecordIterHandler.h"
#include "design/MCEffectParameter.h"
#include "logistic/MCPatternTabulator.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::MultiPassRecordIter;
using MCCommon_850::Record;
namespace StatusCode = MCCommon_850::StatusCode;

MCLogAlgorithm::MCLogAlgorithm(const MCLogRegSettings& settings)
    : fpSettings(&settings),
      fFactorTables(settings.GetFactors(), settings.GetFactorSizes(),
                    settings.GetFrequencyWeightVar(), settings.GetDependent(),
                    settings.GetDependentNCategs(), 0, -1, 0.0, 0),
      fValidator(settings.GetVariableTypes(), settings.GetFactors(), settings.GetFactorSizes(),
                 settings.GetDependentNCategs()),
      fCancel(settings.GetCancelPointer()),
      fModel(settings, fCancel) {
    if (settings.GetRegrWeightVar() >= 0)
        fFactorTables.SetRegrWeightVar(settings.GetRegrWeightVar());
}

MCLogAlgorithm::~MCLogAlgorithm() = default;

void MCLogAlgorithm::AddNewWarning(const MCStatus& status, bool asWarning) {
    if (status.IsOK()) return;
    if (status.IsError() && !asWarning) {
        fStatus = status;
        return;
    }
    if (std::find(fvWarnings.begin(), fvWarnings.end(), status) == fvWarnings.end())
        fvWarnings.push_back(status);
}

void MCLogAlgorithm::AddNewWarnings(const std::vector<MCStatus>& list, bool asWarning) {
    for (const MCStatus& s : list) AddNewWarning(s, asWarning);
}

MCStatus MCLogAlgorithm::FillFactorTable(MultiPassRecordIter& iter) {
    if (fStatus.IsError()) return fStatus;
    iter.NewPass();
    MCCommon_850::PassReducer* reducer = fpSettings->GetPassReducer();
    // A process of a split fit may hold no record: the records of all of
    // them count.
    if (reducer == nullptr && !iter.HasMore())
        return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    if (fbFactorTableFilled) return fStatus = ErrorStatus(StatusCode::kDataPassTwice);

    const MCLogRegSettings& s = *fpSettings;
    fPatternExtractor.SetRecordIndices(s.GetDependent(), s.GetFactors(), s.GetCovariates(),
                                       s.GetFrequencyWeightVar(), s.GetRegrWeightVar());
    std::vector<std::vector<int>> effectFactors;
    if (s.GetInterceptUse()) effectFactors.emplace_back();
    const std::vector<MCModelEffect>& effects = s.GetModelEffects();
    for (std::size_t e = 0; e < effects.size(); ++e) {
        MCRegrParameter p;
        SetupFromEffectOrThrow(p, effects[e], static_cast<int>(e));
        effectFactors.push_back(p.GetFactors());
    }
    fFactorTables.SetModelEffectFactors(effectFactors);
    fFactorTables.SetCovariates(s.GetCovariates());

    MCStatus pass;
    if (s.GetUsePatternTabulator()) {
        auto tabulator = std::make_unique<MCPatternTabulator>(s, fPatternExtractor, fCancel, true);
        pass = tabulator->FillFactorTable(iter, fFactorTables);
        fNRecordsRead = tabulator->GetRecordCount();
        fNRecordsUsed = tabulator->GetValidCount();
        fpDataHandler = std::move(tabulator);
    } else {
        const std::vector<int>& clusters = s.GetClusterVars();
        fClusterVar = s.GetSandwichType() == MCConst::ROBUST_CLUSTER && clusters.size() == 1 &&
                              reducer == nullptr
                          ? clusters[0]
                          : -1;
        fClusterRuns.Reset();
        pass = CountRecords(iter);
    }
    if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    if (reducer != nullptr) {
        std::vector<double> counts{static_cast<double>(fNRecordsRead),
                                   static_cast<double>(fNRecordsUsed)};
        if (!MCCommon_850::AgreeStatus(*reducer, pass))
            pass = ErrorStatus(StatusCode::kMissingInput);
        else if (!pass.IsError() &&
                 (!fFactorTables.MergeAcrossProcesses(*reducer) || !reducer->Sum(counts)))
            pass = ErrorStatus(StatusCode::kMissingInput);
        fNRecordsRead = static_cast<int>(counts[0]);
        fNRecordsUsed = static_cast<int>(counts[1]);
    }
    if (!pass.IsError()) pass = CheckTotals();
    AddNewWarning(pass, false);
    if (fStatus.IsError()) return fStatus;
    fvMeanValues = fFactorTables.GetCovariateMeans();
    fbFactorTableFilled = true;
    return fStatus;
}

MCStatus MCLogAlgorithm::CountRecords(MultiPassRecordIter& iter) {
    MCStatus status;
    while (!status.IsError() && iter.HasMore() && !Cancelled()) {
        const Record* record = iter.Next();
        if (record == nullptr) return ErrorStatus(StatusCode::kNoRecordInFirstPass);
        ++fNRecordsRead;
        if (!fValidator.IsValidFitRecord(*record, status)) continue;
        fFactorTables.UpdateAll(*record);
        if (fClusterVar >= 0) fClusterRuns.Add((*record)[fClusterVar]);
        ++fNRecordsUsed;
    }
    if (status.IsError()) return status;
    iter.NewPass();
    return status;
}

MCStatus MCLogAlgorithm::CheckTotals() const {
    if (fNRecordsUsed == 0) return ErrorStatus(StatusCode::kNoValidRecord);
    if (!(fFactorTables.GetTotalWeight() > 0.0)) {
        MCStatus s = ErrorStatus(StatusCode::kNoPositiveWeight);
        s.SetScaleDatum(1, fFactorTables.GetTotalWeight());
        return s;
    }
    return MCStatus();
}

MCStatus MCLogAlgorithm::CreateParameters(MultiPassRecordIter& iter,
                                          std::vector<MCRegrParameter>& params) {
    if (fStatus.IsError()) return fStatus;
    FillFactorTable(iter);
    if (fStatus.IsError()) return fStatus;
    if (!fbFactorTableFilled) return fStatus = ErrorStatus(StatusCode::kNothingToBuild);
    if (fbModelBuilt) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);

    const MCLogRegSettings& s = *fpSettings;
    fModel.SetOffsets(s.GetFactors(), s.GetCovariates(), s.GetFrequencyWeightVar(),
                      s.GetRegrWeightVar(), s.GetDependent());
    if (s.GetUsePatternTabulator())
        fModel.SetPatternOffsets(
            fPatternExtractor.GetCovariateOffsets(), fPatternExtractor.GetFreqWeightOffset(),
            fPatternExtractor.GetRegrWeightOffset(), fPatternExtractor.GetDependentOffset());
    else
        fModel.SetPatternOffsets(s.GetCovariates(), s.GetFrequencyWeightVar(), s.GetRegrWeightVar(),
                                 s.GetDependent());
    AddNewWarning(fModel.SetDepCatInfo(fFactorTables.GetFactorCounts()), false);
    if (fStatus.IsError()) return fStatus;
    AddNewWarning(fModel.CreateParameters(&fFactorTables), false);
    if (fStatus.IsError()) return fStatus;
    params = fModel.GetParameters();
    fbParamsCreated = !params.empty();
    return fStatus;
}

MCStatus MCLogAlgorithm::FillXPrimeX(MultiPassRecordIter& iter) {
    iter.NewPass();
    if (auto* tabulator = dynamic_cast<MCPatternTabulator*>(fpDataHandler.get())) {
        MCStatus s = tabulator->CreateRowPatterns(iter, fFactorTables, fModel);
        if (!s.IsError()) s = tabulator->FillDesignMatrix(fModel);
        return s;
    }
    MCStatus status;
    while (!status.IsError() && iter.HasMore() && !Cancelled()) {
        const Record* record = iter.Next();
        if (record == nullptr) return ErrorStatus(StatusCode::kNoRecordInPass);
        if (!fValidator.IsValidFitRecord(*record, status)) continue;
        // The model refuses rows once the host cancels: that is the cancel.
        if (!fModel.UpdateXPrimeX(record->GetAll()))
            return ErrorStatus(Cancelled() ? StatusCode::kCancelled : StatusCode::kPassOutOfOrder);
    }
    if (!status.IsError() && Cancelled()) return ErrorStatus(StatusCode::kCancelled);
    iter.NewPass();
    return status;
}

MCStatus MCLogAlgorithm::BuildModel(MultiPassRecordIter& iter) {
    if (fStatus.IsError()) return fStatus;
    if (!fbParamsCreated) return fStatus = ErrorStatus(StatusCode::kNothingToBuild);
    if (fbModelBuilt) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);

    MCStatus pass = FillXPrimeX(iter);
    if (MCCommon_850::PassReducer* reducer = fpSettings->GetPassReducer()) {
        if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
        if (!MCCommon_850::AgreeStatus(*reducer, pass) ||
            (!pass.IsError() && !fModel.MergeXPrimeX(*reducer)))
            pass = ErrorStatus(StatusCode::kMissingInput);
    }
    AddNewWarning(pass, false);
    if (!fStatus.IsError()) AddNewWarning(fModel.IdentifyRedundancy(), false);
    if (!fStatus.IsError()) AddNewWarning(fModel.SetInitialEstimates(fvEstimates), false);
    if (!fStatus.IsError()) AddNewWarning(Estimate(iter), false);

    // X'X, swept on the basic pivots, stays: negated, it is the generalized
    // inverse of the basic design that the tests of model effects take.
    fpAccum.reset();
    fpDataHandler.reset();
    if (fStatus.IsError()) return fStatus;
    fbModelBuilt = true;
    fModel.SetModelBuilt();
    if (fpSettings->GetSandwichType() >= 0) {
        const MCStatus robust = RobustCovariance(iter);
        if (robust.IsError()) {
            fbModelBuilt = false;
            return fStatus = robust;
        }
    }
    return fvWarnings.empty() ? fStatus : fvWarnings.back();
}

MCStatus MCLogAlgorithm::Estimate(MultiPassRecordIter& iter) {
    const int p = fModel.GetNBasicNonRed();
    const int J = fModel.GetDependentNCategs();
    try {
        fpAccum = std::make_unique<MCAccumStatsLogistic>(*fpSettings, p, J, fvEstimates);
    } catch (const std::bad_alloc&) {
        fpAccum.reset();
    }
    if (!fpAccum || !fpAccum->IsValid()) {
        MCStatus s = ErrorStatus(StatusCode::kTooManyParameters);
        s.SetDiscreteDatum(0, static_cast<long>(fvEstimates.size()));
        s.SetDiscreteDatum(1, MCLogModel::kMaxMatrixRows);
        return s;
    }
    // Without patterns the passes read the host's records (or replay the
    // rows of the first); the handler is made here so that it reads the
    // iterator of this build.
    if (!fpDataHandler) {
        auto handler = std::make_unique<MCRecordIterHandler>(
            iter, fCancel, fValidator, fpSettings->GetDependent(),
            fpSettings->GetFrequencyWeightVar(), fpSettings->GetRegrWeightVar());
        handler->SetPartOfSplit(fpSettings->GetPassReducer() != nullptr);
        fpDataHandler = std::move(handler);
    }
    fpOptimizer = std::make_unique<MCRegOptimizer>(
        *fpSettings, fModel, fpDataHandler.get(), fpAccum.get(), fvEstimates,
        fpSettings->GetProgressListener(), fpSettings->GetIterationFrequency(),
        MCConst::HESSIAN_FISHER, 0, &fCancel);
    fModel.SetTotalWeight(fFactorTables.GetSampleSize(), fFactorTables.GetTotalWeight());
    // A regression weight would enter the rows' weights, which the table
    // counts by frequency weight alone; where the centres do not bound a
    // row's terms in the model's estimates the host classifies.
    if (fpSettings->GetRegrWeightVar() < 0 && fModel.CentresBoundRows())
        fpAccum->ClassifyWithCentres(fModel.GetSourceCentres());

    MCStatus status = fpOptimizer->Estimate();
    AddNewWarnings(fpDataHandler->GetWarnings(), false);
    if (status.IsError()) return status;
    const MCSymMatrix* inverse = fpOptimizer->GetHessianGI();
    if (inverse == nullptr) return ErrorStatus(StatusCode::kMissingInput);
    status = fModel.UncompressEstimates(fvEstimates, *inverse);
    fpOptimizer->ClearHessianGIMatrix();
    return status;
}

MCStatus MCLogAlgorithm::Score(const Record& record, std::vector<double>& probabilities,
                               int& category) const {
    if (fStatus.IsError()) return fStatus;
    if (!fbModelBuilt) return ErrorStatus(StatusCode::kNotBuilt);
    if (Cancelled()) return ErrorStatus(StatusCode::kCancelled);
    probabilities.assign(Ix(fModel.GetDependentNCategs()), MCMV::Missing());
    category = -1;
    MCStatus status;
    if (!fValidator.IsValid4Scoring(record, status)) return status;
    return fModel.Score(record.GetAll(), probabilities, category);
}

void MCLogAlgorithm::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCLogAlgorithm display start");
    fPatternExtractor.Display();
    fFactorTables.Display();
    fValidator.Display();
    if (fpDataHandler) fpDataHandler->Display();
    DisplayDV("Mean values", fvMeanValues);
    fModel.Display();
    if (fpAccum) fpAccum->Display(false);
    if (fpOptimizer) fpOptimizer->Display();
    DisplayB("Factor table filled", fbFactorTableFilled);
    DisplayB("Parameters created", fbParamsCreated);
    DisplayB("Model built", fbModelBuilt);
    DisplayI("Records read", fNRecordsRead);
    DisplayI("Records used", fNRecordsUsed);
    DisplayI("Status", fStatus.GetErrorCode());
    DisplayI("Number of warnings", static_cast<long long>(fvWarnings.size()));
    DisplayText("MCLogAlgorithm display end");
}

}  // namespace MCMath_850
