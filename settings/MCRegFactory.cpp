#include "settings/MCRegFactory.h"

#include <new>

#include "companion/MCStatusCodes.h"
#include "settings/MCGLMComponent.h"

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
            default:
                return nullptr;  // the logistic component is not built yet
        }
    } catch (const std::bad_alloc&) {
        fStatus = ErrorStatus(StatusCode::kAllocationFailed);
        return nullptr;
    }
}

}  // namespace MCMath_850
