#include "glm/MCGLMAlgorithm.h"

#include <algorithm>

#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "design/MCEffectParameter.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::MultiPassRecordIter;
using MCCommon_850::Record;
namespace StatusCode = MCCommon_850::StatusCode;

MCGLMAlgorithm::MCGLMAlgorithm(const MCRegSettings& settings)
    : fpSettings(&settings),
      fCancel(settings.GetCancelPointer()),
      fValidator(settings.GetVariableTypes(), settings.GetFactors(), settings.GetFactorSizes(), 0),
      fFactorTables(settings.GetFactors(), settings.GetFactorSizes(),
                    settings.GetFrequencyWeightVar(), -1, 0, 0, -1, 0.0, 0),
      fModel(settings, fCancel) {
    if (settings.GetRegrWeightVar() >= 0)
        fFactorTables.SetRegrWeightVar(settings.GetRegrWeightVar());
}

MCStatus MCGLMAlgorithm::ProcessData(MultiPassRecordIter& iter) {
    if (fStatus.IsError()) return fStatus;
    iter.NewPass();
    // A process of a split fit may hold no record: the records of all of
    // them count.
    if (Reducer() == nullptr && !iter.HasMore())
        return fStatus = ErrorStatus(StatusCode::kNoValidRecord);
    if (fbDataProcessed) return fStatus = ErrorStatus(StatusCode::kDataPassTwice);

    std::vector<std::vector<int>> effectFactors;
    if (fpSettings->GetInterceptUse()) effectFactors.emplace_back();
    const std::vector<MCModelEffect>& effects = fpSettings->GetModelEffects();
    for (std::size_t e = 0; e < effects.size(); ++e) {
        MCRegrParameter p;
        SetupFromEffectOrThrow(p, effects[e], static_cast<int>(e));
        effectFactors.push_back(p.GetFactors());
    }
    fFactorTables.SetModelEffectFactors(effectFactors);
    // The dependent's weighted mean is tracked as the last covariate.
    std::vector<int> covariates = fpSettings->GetCovariates();
    covariates.push_back(fpSettings->GetDependent());
    fFactorTables.SetCovariates(covariates);

    ProcessSource(iter);
    if (!fStatus.IsError()) fvMeanValues = fFactorTables.GetCovariateMeans();
    return fStatus;
}

MCStatus MCGLMAlgorithm::ProcessSource(MultiPassRecordIter& iter) {
    MCStatus pass;
    while (!pass.IsError() && iter.HasMore() && !Cancelled()) {
        const Record* record = iter.Next();
        if (record == nullptr) {
            pass = ErrorStatus(StatusCode::kNoRecordInFirstPass);
            break;
        }
        ++fNRecordsRead;
        if (!fValidator.IsValidFitRecord(*record, pass)) continue;
        fFactorTables.UpdateAll(*record);
        ++fNRecordsUsed;
    }
    if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    fNLocalRead = fNRecordsRead;
    fNLocalUsed = fNRecordsUsed;
    if (MCCommon_850::PassReducer* reducer = Reducer()) {
        std::vector<double> counts{static_cast<double>(fNRecordsRead),
                                   static_cast<double>(fNRecordsUsed)};
        if (AgreeOnPass(pass) &&
            (!fFactorTables.MergeAcrossProcesses(*reducer) || !reducer->Sum(counts)))
            pass = ErrorStatus(StatusCode::kMissingInput);
        fNRecordsRead = static_cast<int>(counts[0]);
        fNRecordsUsed = static_cast<int>(counts[1]);
    }
    if (!pass.IsError() && fNRecordsUsed == 0) pass = ErrorStatus(StatusCode::kNoValidRecord);
    if (pass.IsError()) return fStatus = pass;
    fbDataProcessed = true;
    return fStatus;
}

// The iterator ended a pass early by handing out no record although it
// reported one (304, with the record's number).
MCStatus MCGLMAlgorithm::NoRecordInPass(long readBefore) {
    MCStatus s = ErrorStatus(StatusCode::kNoRecordInPass);
    s.SetDiscreteDatum(1, readBefore + 1);
    return s;
}

// A pass that read or used other records than the first fills the cross
// products (or the residuals) of data the factor tables, the means and the
// parameters were not made from: the data cannot be restarted (307).
MCStatus MCGLMAlgorithm::SamePassAsFirst(long read, long used) const {
    if (read == fNLocalRead && used == fNLocalUsed) return MCStatus();
    return ErrorStatus(StatusCode::kNoValidRecord);
}

bool MCGLMAlgorithm::AgreeOnPass(MCStatus& pass) {
    MCCommon_850::PassReducer* reducer = Reducer();
    if (reducer == nullptr) return !pass.IsError();
    if (!MCCommon_850::AgreeStatus(*reducer, pass)) pass = ErrorStatus(StatusCode::kMissingInput);
    return !pass.IsError();
}

MCStatus MCGLMAlgorithm::CreateParameters(std::vector<MCRegrParameter>& params) {
    if (fStatus.IsError()) return fStatus;
    if (!fbDataProcessed) return fStatus = ErrorStatus(StatusCode::kMissingInput);
    fModel.SetOffsets(fpSettings->GetFactors(), fpSettings->GetCovariates(),
                      fpSettings->GetFrequencyWeightVar(), fpSettings->GetRegrWeightVar(),
                      fpSettings->GetDependent());
    fFactorTables.CreateParameterIndices(0);
    MCStatus created = fModel.CreateParameters(&fFactorTables);
    if (!created.IsError() && Cancelled()) created = ErrorStatus(StatusCode::kCancelled);
    // Whether the matrix fits in memory is each machine's own answer.
    AgreeOnPass(created);
    fStatus = created;
    if (!fStatus.IsError()) params = fModel.GetParameters();
    return fStatus;
}

MCStatus MCGLMAlgorithm::FillDesignMatrix(MultiPassRecordIter& iter) {
    if (!fbDataProcessed) return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
    iter.NewPass();
    MCStatus pass;
    long read = 0, used = 0;
    while (!pass.IsError() && iter.HasMore() && !Cancelled()) {
        const Record* record = iter.Next();
        if (record == nullptr) {
            pass = NoRecordInPass(read);
            break;
        }
        ++read;
        if (!fValidator.IsValidFitRecord(*record, pass)) continue;
        ++used;
        if (!fModel.UpdateZPrimeZ(record->GetAll())) {
            pass = ErrorStatus(StatusCode::kPassOutOfOrder);
            break;
        }
    }
    if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    if (!pass.IsError()) pass = SamePassAsFirst(read, used);
    if (MCCommon_850::PassReducer* reducer = Reducer())
        if (AgreeOnPass(pass) && !fModel.MergeZPrimeZ(*reducer))
            pass = ErrorStatus(StatusCode::kMissingInput);
    return fStatus = pass;
}

MCStatus MCGLMAlgorithm::BuildModel(MultiPassRecordIter& iter) {
    if (fStatus.IsError()) return fStatus;
    if (!fModel.AreParamsCreated()) return fStatus = ErrorStatus(StatusCode::kNothingToBuild);
    if (fbModelBuilt || fModel.IsModelBuilt())
        return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);
    const double depMean = fvMeanValues.empty() ? MCMV::Missing() : fvMeanValues.back();
    fModel.SetDepMeanAndTotalW(depMean, fFactorTables.GetTotalWeight());
    if (!(fFactorTables.GetTotalWeight() > 0.0))
        return fStatus = ErrorStatus(StatusCode::kNoPositiveWeight);

    if (FillDesignMatrix(iter).IsError()) return fStatus;
    MCStatus swept = fModel.BuildModel();
    // A cancel may stop one process's sweep and not another's.
    AgreeOnPass(swept);
    if ((fStatus = swept).IsError()) return fStatus;
    for (const MCStatus& w : fModel.GetWarnings()) fvWarnings.push_back(w);
    if (fModel.SharesSolve() && !fModel.ShareSolve(*Reducer()))
        return fStatus = ErrorStatus(StatusCode::kMissingInput);
    if (!ResidualsByCells() && ComputeResiduals(iter).IsError()) return fStatus;
    if (fStatus.IsError()) return fStatus;
    fbModelBuilt = true;
    return fStatus;
}

bool MCGLMAlgorithm::ResidualsByCells() {
    // Every part decides alike: whether the cells hold every record is
    // merged with Z'Z, and the bounds with the sums.
    if (!fModel.SumResidualsByCells()) return false;
    MCStatus pass;
    if (Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    if (MCCommon_850::PassReducer* reducer = Reducer())
        if (AgreeOnPass(pass) && !fModel.MergeErrorSums(*reducer))
            pass = ErrorStatus(StatusCode::kMissingInput);
    if (pass.IsError()) {
        fStatus = pass;
        return true;
    }
    if (!fModel.ResidualsByCellsExact()) return false;
    fStatus = fModel.FinishErrors();
    return true;
}

MCStatus MCGLMAlgorithm::ComputeResiduals(MultiPassRecordIter& iter) {
    if (!fModel.IsModelBuilt()) return fStatus = ErrorStatus(StatusCode::kMissingInput);
    iter.NewPass();
    MCStatus pass;
    long recordNo = 0, used = 0;
    while (!pass.IsError() && iter.HasMore() && !Cancelled()) {
        const Record* record = iter.Next();
        if (record == nullptr) {
            pass = NoRecordInPass(recordNo);
            break;
        }
        ++recordNo;
        if (!fValidator.IsValidFitRecord(*record, pass)) continue;
        ++used;
        const double e = fModel.AccumulateResidual(record->GetAll());
        // The robust covariance's middle needs the residuals, and the bread
        // is known since the sweep: no pass of its own.
        if (fModel.HasSandwich() && !fModel.AddToSandwich(record->GetAll(), e, recordNo, pass))
            break;
    }
    if (!pass.IsError() && Cancelled()) pass = ErrorStatus(StatusCode::kCancelled);
    if (!pass.IsError()) pass = SamePassAsFirst(recordNo, used);
    if (MCCommon_850::PassReducer* reducer = Reducer())
        if (AgreeOnPass(pass) && !fModel.MergeErrorSums(*reducer))
            pass = ErrorStatus(StatusCode::kMissingInput);
    if (pass.IsError()) return fStatus = pass;
    return fStatus = fModel.FinishErrors();
}

MCStatus MCGLMAlgorithm::Score(const Record& record, double& value) const {
    if (fStatus.IsError()) return fStatus;
    if (fCancel.WillCancel()) return ErrorStatus(StatusCode::kCancelled);
    if (!fbModelBuilt) return ErrorStatus(StatusCode::kNotBuilt);
    const int needed = static_cast<int>(fpSettings->GetVariableTypes().size());
    if (record.Size() >= needed) {
        value = fModel.Score(record.GetAll());
        return MCStatus();
    }
    // A record without the dependent (or weights) can still be scored; a
    // factor or covariate it lacks makes the prediction missing.
    for (int v : fpSettings->GetFactors())
        if (v >= record.Size()) return value = MCMV::Missing(), MCStatus();
    for (int v : fpSettings->GetCovariates())
        if (v >= record.Size()) return value = MCMV::Missing(), MCStatus();
    fvScoreBuffer.assign(static_cast<std::size_t>(needed), MCMV::Missing());
    std::copy(record.GetAll(), record.GetAll() + record.Size(), fvScoreBuffer.begin());
    value = fModel.Score(fvScoreBuffer.data());
    return MCStatus();
}

void MCGLMAlgorithm::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCGLMAlgorithm display start");
    DisplayB("Data processed", fbDataProcessed);
    DisplayB("Model built", fbModelBuilt);
    DisplayI("Records read", fNRecordsRead);
    DisplayI("Records used", fNRecordsUsed);
    DisplayDV("Mean values", fvMeanValues);
    DisplayI("Status", fStatus.GetErrorCode());
    fModel.Display();
    DisplayText("MCGLMAlgorithm display end");
}

}  // namespace MCMath_850
