#include "host/NumberText.h"

#include <charconv>

namespace mchost {

std::string NumberText(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

}  // namespace mchost
