#include "companion/MCStatus.h"

#include <algorithm>
#include <cmath>

#include "companion/MCStatusCodes.h"

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

MCStatus PrecisionWarning(long code, int parameter, double ratio) {
    MCStatus s(code, true);
    s.SetDiscreteDatum(1, parameter + 1);
    s.SetDiscreteDatum(2, std::max(0L, std::lround(16.0 - 2.0 * std::log10(ratio))));
    const double unit = std::pow(10.0, std::floor(std::log10(ratio)) - 1.0);
    s.SetScaleDatum(1, std::round(ratio / unit) * unit);  // two digits
    return s;
}

}  // namespace MCCommon_850
