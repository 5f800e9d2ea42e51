#pragma once
#include <memory>

#include "companion/MCExport.h"
#include "components/IMCRegComponent.h"
#include "logistic/MCLogOutputStats.h"
#include "settings/MCLogRegSettings.h"

namespace MCMath_850 {

class MCLogAlgorithm;

// The multinomial logistic model behind the component interface. It owns a
// copy of the settings, the algorithm (none when the settings were invalid)
// and, once requested, the output statistics. Unlike the general linear
// component, a second build is refused without spoiling the built model.
class MCREG_API MCLogComponent : public IMCRegComponent {
public:
    explicit MCLogComponent(const MCLogRegSettings& settings);
    ~MCLogComponent() override;
    MCLogComponent(const MCLogComponent&) = delete;
    MCLogComponent& operator=(const MCLogComponent&) = delete;

    int GetModelType() const override { return 1; }
    MCCommon_850::MCStatus CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                            std::vector<MCRegrParameter>& params) override;
    MCCommon_850::MCStatus BuildModel(MCCommon_850::MultiPassRecordIter& iter) override;
    bool IsModelBuilt() const override;
    // 310 before the build.
    MCCommon_850::MCStatus GetOutputStats(IMCRegOutputStats*& out) override;
    const MCRegSettings& GetCompSettings() const override { return *fpSettings; }
    // value receives the predicted category code (-1 when none), and
    // probabilities one probability per response category, in the model's
    // category order (the reference last).
    MCCommon_850::MCStatus Score(const MCCommon_850::Record& record, double& value,
                                 std::vector<double>& probabilities) const override;
    void Cancel() override;
    MCCommon_850::MCStatus GetStatus() const override { return fStatus; }
    std::vector<MCCommon_850::MCStatus> GetWarnings() const override;
    void Display() const override;

    // Records read and used by the factor-table pass.
    int GetNRecordsRead() const;
    int GetNRecordsUsed() const;
    // The algorithm (internal); null when the settings were invalid.
    const MCLogAlgorithm* GetAlgorithm() const { return fpAlgorithm.get(); }

private:
    std::unique_ptr<MCLogRegSettings> fpSettings;
    std::unique_ptr<MCLogAlgorithm> fpAlgorithm;
    std::unique_ptr<MCLogOutputStats> fpOutputStats;
    MCCommon_850::MCStatus fStatus;
};

}  // namespace MCMath_850
