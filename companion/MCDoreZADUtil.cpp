#include "companion/MCDoreZADUtil.h"

#include <cmath>
#include <exception>
#include <memory>

#include "companion/MCMV.h"

namespace MCXML_850 {

const char* const MCDoreZADUtil::kFactorTag = "Factor";
const char* const MCDoreZADUtil::kCovariateTag = "Covariate";
const char* const MCDoreZADUtil::kStatisticTag = "Statistic";

XMLElement* MCDoreZADUtil::CreateElemFactor(const std::string& name, const std::string& value,
                                            bool nested) {
    std::unique_ptr<XMLElement> e(XMLElement::Create(kFactorTag));
    if (!e) return nullptr;
    try {
        e->AddAttribute("name", name);
        e->AddAttribute("value", value);
        if (nested) e->AddAttribute("isNested", "true");
    } catch (const std::exception&) {
        return nullptr;
    }
    return e.release();
}

XMLElement* MCDoreZADUtil::CreateElemCovariate(const std::string& name, int multiplicity) {
    std::unique_ptr<XMLElement> e(XMLElement::Create(kCovariateTag));
    if (!e) return nullptr;
    try {
        e->AddAttribute("name", name);
        e->AddAttribute("multiplicity", static_cast<double>(multiplicity));
    } catch (const std::exception&) {
        return nullptr;
    }
    return e.release();
}

XMLElement* MCDoreZADUtil::CreateElemStatistic(const std::string& name, double value) {
    std::unique_ptr<XMLElement> e(XMLElement::Create(kStatisticTag));
    if (!e) return nullptr;
    try {
        e->AddAttribute("name", name);
        if (!MCCommon_850::MCMV::IsMissing(value) && !std::isnan(value))
            e->AddAttribute("value", value);
    } catch (const std::exception&) {
        return nullptr;
    }
    return e.release();
}

XMLElement* MCDoreZADUtil::CreateElemStatistic(const std::string& name, const std::string& value) {
    std::unique_ptr<XMLElement> e(XMLElement::Create(kStatisticTag));
    if (!e) return nullptr;
    try {
        e->AddAttribute("name", name);
        e->AddAttribute("value", value);
    } catch (const std::exception&) {
        return nullptr;
    }
    return e.release();
}

}  // namespace MCXML_850
