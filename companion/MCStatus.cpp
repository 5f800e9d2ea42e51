#include "companion/MCStatus.h"

namespace MCCommon_850 {

bool MCStatus::GetDiscreteDatum(int index, long& value) const {
    auto it = fDiscrete.find(index);
    if (it == fDiscrete.end()) return false;
    value = it->second;
    return true;
}

bool MCStatus::GetScaleDatum(int index, double& value) const {
    auto it = fScale.find(index);
    if (it == fScale.end()) return false;
    value = it->second;
    return true;
}

bool MCWarnings::AddUnique(const MCStatus& s) {
    for (const MCStatus& w : fvList)
        if (w == s) return false;
    fvList.push_back(s);
    return true;
}

}  // namespace MCCommon_850
