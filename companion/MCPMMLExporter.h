#pragma once
#include "companion/MCUniStats.h"
#include "companion/MCXMLElement.h"

namespace MCCommon_850 {

// Writes companion records as PMML elements.
class MCPMMLExporter {
public:
    // A new "UnivariateStats" element for stats (owned by the caller): field
    // name, "Counts" with the total frequency, "NumericInfo" with the
    // summaries that are not missing and, when values are given, a
    // "DiscrStats" element with the values and their counts as two arrays.
    // False, with elem null, when the field has no name, the value and count
    // lists differ in length, or memory runs out.
    static bool ExportUniStats(const MCXML_850::MCUniStats& stats, MCXML_850::XMLElement*& elem);
};

}  // namespace MCCommon_850
