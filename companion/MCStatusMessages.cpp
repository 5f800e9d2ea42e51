#include "companion/MCStatus.h"

namespace MCCommon_850 {

std::string MCStatus::GetMessage() const {
    if (IsOK()) return "OK";
    return (IsWarning() ? "Warning " : "Error ") + std::to_string(fCode);
}

}  // namespace MCCommon_850
