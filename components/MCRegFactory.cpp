#include "components/MCRegFactory.h"

#include <new>

#include "companion/MCStatusCodes.h"
#include "components/MCGLMComponent.h"
#include "components/MCLogComponent.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
namespace StatusCode = MCCommon_850::StatusCode;

IMCRegComponent* MCRegFactory::CreateRegAlgorithm(MCRegSettings& settings) {
    fStatus = settings.IsValidSettings(false);
    if (fStatus.IsError()) return nullptr;
    try {
        switch (settings.GetModelType()) {
            case 0:
                return new MCGLMComponent(settings);
            case 1: {
                // Type 1 promises logistic settings; a class that claims the
                // type without being one gets no component.
                const auto* logistic = dynamic_cast<const MCLogRegSettings*>(&settings);
                if (logistic != nullptr) return new MCLogComponent(*logistic);
                fStatus = ErrorStatus(StatusCode::kMissingInput);
                return nullptr;
            }
            default:
                return nullptr;
        }
    } catch (const std::bad_alloc&) {
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        return nullptr;
    }
}

}  // namespace MCMath_850
