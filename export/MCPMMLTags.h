#pragma once
#include <string>

// Element, attribute and value names of PMML documents, initialised when the
// library is loaded.
namespace MCPMMLTags {

// Degrees of freedom: written on PMML parameter cells and on the compact
// DoreZAD parameter statistics.
extern const std::string XML_ATT_DF;

}  // namespace MCPMMLTags
