#include "export/MCPMMLTags.h"

namespace MCPMMLTags {

const std::string XML_ATT_DF = "df";

}  // namespace MCPMMLTags
