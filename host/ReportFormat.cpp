#include "host/ReportFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mchost {

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string Number(double v) {
    return std::isnan(v) ? "" : Format("%.6g", v);
}

std::string PValue(double p) {
    if (std::isnan(p)) return "";
    if (p >= 0.001) return Format("%.4f", p);
    if (p == 0.0) return "<1e-300";
    return Format("%.2e", p);
}

nlohmann::ordered_json JsonNumber(double v) {
    if (std::isnan(v) || std::isinf(v)) return nullptr;
    return v;
}

nlohmann::ordered_json JsonCount(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 9e15)
        return static_cast<long long>(v);
    return JsonNumber(v);
}

std::string Whole(double v) {
    return std::isnan(v) ? "" : Format("%.0f", v);
}

std::string TextTable::Render(const std::string& indent) const {
    std::vector<std::size_t> width;
    for (const auto& row : fvRows) {
        width.resize(std::max(width.size(), row.size()), 0);
        for (std::size_t j = 0; j < row.size(); ++j) width[j] = std::max(width[j], row[j].size());
    }
    std::size_t total = 0;
    for (std::size_t w : width) total += w + 2;
    std::string out;
    for (std::size_t i = 0; i <= fvRows.size(); ++i) {
        if (std::count(fvRules.begin(), fvRules.end(), i))
            out += indent + std::string(total > 2 ? total - 2 : 0, '-') + "\n";
        if (i == fvRows.size()) break;
        std::string line = indent;
        const auto& row = fvRows[i];
        for (std::size_t j = 0; j < row.size(); ++j) {
            const std::string pad(width[j] - row[j].size(), ' ');
            if (j > 0) line += "  ";
            line += j < fNTextColumns || !fbRightAlign ? row[j] + pad : pad + row[j];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

}  // namespace mchost
