#pragma once
#include "companion/MCExport.h"
#include "companion/MCStatus.h"
#include "components/IMCRegComponent.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// The host's single entry: validates the settings and returns the component
// of their model type, owned by the caller (delete it through the
// interface). Null when the settings are invalid (the status says why) or
// of a model type this library does not fit (status OK).
class MCREG_API MCRegFactory {
public:
    IMCRegComponent* CreateRegAlgorithm(MCRegSettings& settings);
    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }

private:
    // The component of the settings' model type; status gets why there is none.
    static IMCRegComponent* Create(MCRegSettings& settings, MCCommon_850::MCStatus& status);

    MCCommon_850::MCStatus fStatus;
};

}  // namespace MCMath_850
