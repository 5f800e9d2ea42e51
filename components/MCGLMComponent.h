#pragma once
#include <memory>

#include "companion/MCExport.h"
#include "components/IMCRegComponent.h"
#include "glm/MCGLMOutputStats.h"

namespace MCMath_850 {

class MCGLMAlgorithm;

// The general linear model behind the component interface. It owns a copy
// of the settings, the algorithm (none when the settings were invalid) and,
// once requested, the output statistics.
class MCREG_API MCGLMComponent : public IMCRegComponent {
public:
    explicit MCGLMComponent(const MCRegSettings& settings);
    ~MCGLMComponent() override;
    MCGLMComponent(const MCGLMComponent&) = delete;
    MCGLMComponent& operator=(const MCGLMComponent&) = delete;

    int GetModelType() const override { return 0; }
    MCCommon_850::MCStatus CreateParameters(MCCommon_850::MultiPassRecordIter& iter,
                                            std::vector<MCRegrParameter>& params) override;
    MCCommon_850::MCStatus BuildModel(MCCommon_850::MultiPassRecordIter& iter) override;
    bool IsModelBuilt() const override;
    MCCommon_850::MCStatus GetOutputStats(IMCRegOutputStats*& out) override;
    const MCRegSettings& GetCompSettings() const override { return *fpSettings; }
    MCCommon_850::MCStatus Score(const MCCommon_850::Record& record, double& value,
                                 std::vector<double>& probabilities) const override;
    void Cancel() override;
    MCCommon_850::MCStatus GetStatus() const override { return fStatus; }
    std::vector<MCCommon_850::MCStatus> GetWarnings() const override;
    void Display() const override;

    // Records the first data pass read, and those it found valid and used
    // (0 before the build or when the settings were invalid).
    int GetNRecordsRead() const;
    int GetNRecordsUsed() const;
    // The algorithm (an internal class: its header is not installed); null
    // when the settings were invalid.
    const MCGLMAlgorithm* GetAlgorithm() const { return fpAlgorithm.get(); }

private:
    std::unique_ptr<MCRegSettings> fpSettings;
    std::unique_ptr<MCGLMAlgorithm> fpAlgorithm;
    std::unique_ptr<IMCRegOutputStats> fpOutputStats;
    MCCommon_850::MCStatus fStatus;
};

}  // namespace MCMath_850
