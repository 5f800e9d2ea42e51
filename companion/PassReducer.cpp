#include "companion/PassReducer.h"

#include <cstdint>
#include <cstring>

namespace MCCommon_850 {

namespace {

// A status as ints: code, kind, then its data. A scale datum travels as the
// two halves of its bits, so it arrives exactly.
void Encode(const MCStatus& s, std::vector<int>& out) {
    out = {static_cast<int>(s.GetErrorCode()), s.IsWarning() ? 1 : 0};
    const std::map<int, long>& discrete = s.GetDiscreteData();
    out.push_back(static_cast<int>(discrete.size()));
    for (const auto& [index, value] : discrete) {
        out.push_back(index);
        out.push_back(static_cast<int>(value));
    }
    const std::map<int, double>& scale = s.GetScaleData();
    out.push_back(static_cast<int>(scale.size()));
    for (const auto& [index, value] : scale) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        out.push_back(index);
        out.push_back(static_cast<int>(static_cast<std::uint32_t>(bits)));
        out.push_back(static_cast<int>(static_cast<std::uint32_t>(bits >> 32)));
    }
}

bool Decode(const std::vector<int>& in, MCStatus& s) {
    std::size_t at = 0;
    auto next = [&](int& v) {
        if (at >= in.size()) return false;
        v = in[at++];
        return true;
    };
    int code = 0, warning = 0, n = 0;
    if (!next(code) || !next(warning) || !next(n)) return false;
    s = MCStatus(code, warning != 0);
    for (int i = 0; i < n; ++i) {
        int index = 0, value = 0;
        if (!next(index) || !next(value)) return false;
        s.SetDiscreteDatum(index, value);
    }
    if (!next(n)) return false;
    for (int i = 0; i < n; ++i) {
        int index = 0, low = 0, high = 0;
        if (!next(index) || !next(low) || !next(high)) return false;
        const std::uint64_t bits = static_cast<std::uint64_t>(static_cast<std::uint32_t>(low)) |
                                   static_cast<std::uint64_t>(static_cast<std::uint32_t>(high))
                                       << 32;
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        s.SetScaleDatum(index, value);
    }
    return true;
}

}  // namespace

bool AgreeStatus(PassReducer& reducer, MCStatus& status) {
    std::vector<int> mine;
    Encode(status, mine);
    std::vector<std::vector<int>> all;
    if (!reducer.Gather(mine, all)) return false;
    for (const std::vector<int>& encoded : all) {
        MCStatus other;
        if (!Decode(encoded, other)) return false;
        if (other.IsError()) {
            status = other;
            return true;
        }
    }
    return true;
}

}  // namespace MCCommon_850
