#include "components/MCLogComponent.h"

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "logistic/MCLogAlgorithm.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCLogComponent::MCLogComponent(const MCLogRegSettings& settings)
    : fpSettings(std::make_unique<MCLogRegSettings>(settings)) {
    fStatus = fpSettings->IsValidSettings(false);
    if (!fStatus.IsError()) fpAlgorithm = std::make_unique<MCLogAlgorithm>(*fpSettings);
}

int MCLogComponent::GetNRecordsRead() const {
    return fpAlgorithm ? fpAlgorithm->GetNRecordsRead() : 0;
}

int MCLogComponent::GetNRecordsUsed() const {
    return fpAlgorithm ? fpAlgorithm->GetNRecordsUsed() : 0;
}

// The statistics point into the algorithm but do not use it while being
// destroyed.
MCLogComponent::~MCLogComponent() {
    fpAlgorithm.reset();
    fpOutputStats.reset();
}

MCStatus MCLogComponent::CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                          std::vector<MCRegrParameter>& params) {
    if (fStatus.IsError()) return fStatus;
    return fStatus = GuardAllocation([&] { return fpAlgorithm->CreateParameters(iter, params); });
}

MCStatus MCLogComponent::BuildModel(MCCommon_850::MultiPassRecordIter& iter) {
    if (!fStatus.IsError() && !fpAlgorithm->AreParamsCreated()) {
        std::vector<MCRegrParameter> scratch;
        CreateParameters(iter, scratch);
    }
    if (fStatus.IsError()) return fStatus;
    if (IsModelBuilt()) return ErrorStatus(StatusCode::kAlreadyBuilt);
    const MCStatus result = GuardAllocation([&] { return fpAlgorithm->BuildModel(iter); });
    if (!result.IsOK()) fStatus = result;
    return result;
}

bool MCLogComponent::IsModelBuilt() const {
    return !fStatus.IsError() && fpAlgorithm && fpAlgorithm->IsModelBuilt();
}

MCStatus MCLogComponent::GetOutputStats(IMCRegOutputStats*& out) {
    out = nullptr;
    if (fStatus.IsError()) return fStatus;
    if (!IsModelBuilt()) return ErrorStatus(StatusCode::kAlreadyBuilt);
    if (!fpOutputStats) {
        const MCStatus made = GuardAllocation([&] {
            fpOutputStats = std::make_unique<MCLogOutputStats>(*fpSettings, *fpAlgorithm);
            return MCStatus();
        });
        if (made.IsError()) return made;
    }
    out = fpOutputStats.get();
    return fStatus;
}

MCStatus MCLogComponent::Score(const MCCommon_850::Record& record, double& value,
                               std::vector<double>& probabilities) const {
    if (fStatus.IsError()) return fStatus;
    // An OK that wrote nothing would hand a host whatever its variable
    // held as a prediction: before the build scoring is refused, the value
    // missing.
    if (!fpAlgorithm || !fpAlgorithm->IsModelBuilt()) {
        value = MCCommon_850::MCMV::Missing();
        return ErrorStatus(StatusCode::kNotBuilt);
    }
    return GuardAllocation([&] {
        int category = -1;
        const MCStatus result = fpAlgorithm->Score(record, probabilities, category);
        probabilities.resize(Ix(fpAlgorithm->GetModel().GetDependentNCategs()));
        value = static_cast<double>(category);
        return result;
    });
}

void MCLogComponent::Cancel() {
    if (fpAlgorithm) fpAlgorithm->Cancel();
}

std::vector<MCStatus> MCLogComponent::GetWarnings() const {
    return GuardAllocationOr(std::vector<MCStatus>(), [&] {
        return fpAlgorithm ? fpAlgorithm->GetWarnings() : std::vector<MCStatus>();
    });
}

void MCLogComponent::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCLogComponent display start");
    DisplayI("Status", fStatus.GetErrorCode());
    fpSettings->Display();
    if (fpAlgorithm) fpAlgorithm->Display();
    if (fpOutputStats) fpOutputStats->Display();
    DisplayText("MCLogComponent display end");
}

}  // namespace MCMath_850
