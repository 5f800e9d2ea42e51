#include "components/MCRegFactory.h"

#include "companion/MCAllocationGuard.h"
#include "companion/MCStatusCodes.h"
#include "components/MCGLMComponent.h"
#include "components/MCLogComponent.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
namespace StatusCode = MCCommon_850::StatusCode;

IMCRegComponent* MCRegFactory::CreateRegAlgorithm(MCRegSettings& settings) {
    IMCRegComponent* made = nullptr;
    fStatus = MCCommon_850::GuardAllocation([&] {
        MCCommon_850::MCStatus s = settings.IsValidSettings(false);
        if (!s.IsError()) made = Create(settings, s);
        return s;
    });
    return made;
}

IMCRegComponent* MCRegFactory::Create(MCRegSettings& settings, MCCommon_850::MCStatus& status) {
    switch (settings.GetModelType()) {
        case 0:
            return new MCGLMComponent(settings);
        case 1: {
            // Type 1 promises logistic settings; a class that claims the
            // type without being one gets no component.
            const auto* logistic = dynamic_cast<const MCLogRegSettings*>(&settings);
            if (logistic != nullptr) return new MCLogComponent(*logistic);
            status = ErrorStatus(StatusCode::kMissingInput);
            return nullptr;
        }
        default:
            return nullptr;
    }
}

}  // namespace MCMath_850
