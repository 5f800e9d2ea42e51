#include "components/MCGLMComponent.h"

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCStatusCodes.h"
#include "glm/MCGLMAlgorithm.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::GuardAllocation;
using MCCommon_850::GuardAllocationOr;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

MCGLMComponent::MCGLMComponent(const MCRegSettings& settings)
    : fpSettings(std::make_unique<MCRegSettings>(settings)) {
    fStatus = fpSettings->IsValidSettings(false);
    if (!fStatus.IsError()) fpAlgorithm = std::make_unique<MCGLMAlgorithm>(*fpSettings);
}

int MCGLMComponent::GetNRecordsRead() const {
    return fpAlgorithm ? fpAlgorithm->GetNRecordsRead() : 0;
}

int MCGLMComponent::GetNRecordsUsed() const {
    return fpAlgorithm ? fpAlgorithm->GetNRecordsUsed() : 0;
}

// The statistics keep only a pointer to the algorithm and do not use it
// while being destroyed, so the algorithm may go first.
MCGLMComponent::~MCGLMComponent() {
    fpAlgorithm.reset();
    fpOutputStats.reset();
}

MCStatus MCGLMComponent::CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                          std::vector<MCRegrParameter>& params) {
    if (fStatus.IsError()) return fStatus;
    return fStatus = GuardAllocation([&] {
               MCStatus s = fpAlgorithm->ProcessData(iter);
               if (!s.IsError()) s = fpAlgorithm->CreateParameters(params);
               return s;
           });
}

MCStatus MCGLMComponent::BuildModel(MCCommon_850::MultiPassRecordIter& iter) {
    if (!fStatus.IsError() && !fpAlgorithm->AreParamsCreated()) {
        std::vector<MCRegrParameter> scratch;
        CreateParameters(iter, scratch);
    }
    if (fStatus.IsError()) return fStatus;
    if (IsModelBuilt()) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);
    return fStatus = GuardAllocation([&] { return fpAlgorithm->BuildModel(iter); });
}

bool MCGLMComponent::IsModelBuilt() const {
    return !fStatus.IsError() && fpAlgorithm && fpAlgorithm->IsModelBuilt();
}

MCStatus MCGLMComponent::GetOutputStats(IMCRegOutputStats*& out) {
    if (fStatus.IsError()) return fStatus;
    if (!IsModelBuilt()) return ErrorStatus(StatusCode::kNotBuilt);
    if (!fpOutputStats) {
        const MCStatus made = GuardAllocation([&] {
            fpOutputStats = std::make_unique<MCGLMOutputStats>(*fpSettings, *fpAlgorithm);
            return MCStatus();
        });
        if (made.IsError()) return made;
    }
    out = fpOutputStats.get();
    return fStatus;
}

MCStatus MCGLMComponent::Score(const MCCommon_850::Record& record, double& value,
                               std::vector<double>& probabilities) const {
    (void)probabilities;
    if (fStatus.IsError()) return fStatus;
    // An OK that wrote nothing would hand a host whatever its variable
    // held as a prediction: before the build scoring is refused, the value
    // missing.
    if (!fpAlgorithm || !fpAlgorithm->IsModelBuilt()) {
        value = MCCommon_850::MCMV::Missing();
        return ErrorStatus(StatusCode::kNotBuilt);
    }
    return GuardAllocation([&] { return fpAlgorithm->Score(record, value); });
}

void MCGLMComponent::Cancel() {
    if (fpAlgorithm) fpAlgorithm->Cancel();
}

std::vector<MCStatus> MCGLMComponent::GetWarnings() const {
    return GuardAllocationOr(std::vector<MCStatus>(), [&] {
        return fpAlgorithm ? fpAlgorithm->GetWarnings() : std::vector<MCStatus>();
    });
}

void MCGLMComponent::Display() const {
    GuardAllocationOr(false, [&] {
        using namespace MCDisplay_850;
        DisplayText("MCGLMComponent display start");
        DisplayI("Status", fStatus.GetErrorCode());
        fpSettings->Display();
        if (fpAlgorithm) fpAlgorithm->Display();
        if (fpOutputStats) fpOutputStats->Display();
        DisplayText("MCGLMComponent display end");
        return true;
    });
}

}  // namespace MCMath_850
