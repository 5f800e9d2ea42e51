#include "host/DataTable.h"

#include <cctype>
#include <charconv>

namespace mchost {

int DataTable::Find(const std::string& name) const {
    int found = -1;
    for (int i = 0; i < GetNColumns(); ++i) {
        if (fvColumns[static_cast<std::size_t>(i)].GetName() != name) continue;
        if (found >= 0) return -2;
        found = i;
    }
    return found;
}

int DataTable::FindIgnoringCase(const std::string& name) const {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string want = lower(name);
    for (int i = 0; i < GetNColumns(); ++i)
        if (lower(fvColumns[static_cast<std::size_t>(i)].GetName()) == want) return i;
    return -1;
}

std::string NumberText(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

}  // namespace mchost
