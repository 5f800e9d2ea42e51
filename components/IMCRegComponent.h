#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"
#include "design/MCRegrParameter.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCRegSettings.h"

namespace MCMath_850 {

// What a host drives: optionally CreateParameters, then BuildModel, then
// GetOutputStats and Score. A component keeps one status recording the
// first failure of its life; once it holds an error every call returns it.
class MCREG_API IMCRegComponent {
public:
    virtual ~IMCRegComponent() = default;
    virtual int GetModelType() const = 0;
    virtual MCCommon_850::MCStatus CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                                    std::vector<MCRegrParameter>& params) = 0;
    virtual MCCommon_850::MCStatus BuildModel(MCCommon_850::MultiPassRecordIter& iter) = 0;
    virtual bool IsModelBuilt() const = 0;
    // The statistics stay owned by the component.
    virtual MCCommon_850::MCStatus GetOutputStats(IMCRegOutputStats*& out) = 0;
    virtual const MCRegSettings& GetCompSettings() const = 0;
    // Error 311, value missing, before the model is built.
    virtual MCCommon_850::MCStatus Score(const MCCommon_850::Record& record, double& value,
                                         std::vector<double>& probabilities) const = 0;
    // The one call meant for another thread while BuildModel runs.
    virtual void Cancel() = 0;
    virtual MCCommon_850::MCStatus GetStatus() const = 0;
    virtual std::vector<MCCommon_850::MCStatus> GetWarnings() const = 0;
    virtual void Display() const = 0;
};

}  // namespace MCMath_850
