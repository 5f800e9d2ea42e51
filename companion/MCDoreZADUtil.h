#pragma once
#include <string>

#include "companion/MCXMLElement.h"

namespace MCXML_850 {

// The small building blocks of DoreZAD statistics documents that every
// procedure of the host writes the same way. Each returns a new element owned
// by the caller, or null when memory runs out.
class MCDoreZADUtil {
public:
    // <Factor name=".." value=".."/>; a factor that opens a nested group (its
    // label shows it in parentheses) also carries isNested="true".
    static XMLElement* CreateElemFactor(const std::string& name, const std::string& value,
                                        bool nested);
    // <Covariate name=".." multiplicity=".."/>, the multiplicity being the
    // covariate's power in the term.
    static XMLElement* CreateElemCovariate(const std::string& name, int multiplicity);
    // <Statistic name=".." value=".."/>. A missing (or NaN) number writes no
    // value, so a reader never mistakes the placeholder for a result.
    static XMLElement* CreateElemStatistic(const std::string& name, double value);
    // The same with a value already written as text (counts, indices).
    static XMLElement* CreateElemStatistic(const std::string& name, const std::string& value);

    static const char* const kFactorTag;
    static const char* const kCovariateTag;
    static const char* const kStatisticTag;
};

}  // namespace MCXML_850
