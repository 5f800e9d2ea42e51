#include "settings/MCRegFactory.h"

#include <new>

#include "settings/MCGLMComponent.h"

namespace MCMath_850 {

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
        fStatus = MCCommon_850::MCStatus(305, false);
        return nullptr;
    }
}

}  // namespace MCMath_850
