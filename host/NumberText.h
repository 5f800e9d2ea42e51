#pragma once
#include <string>

namespace mchost {

// The shortest text that reads back as v ("4", "0.1", "1e+20").
std::string NumberText(double v);

}  // namespace mchost
