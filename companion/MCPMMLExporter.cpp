#include "companion/MCPMMLExporter.h"

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "companion/MCMV.h"
#include "companion/XMLBuilding.h"

namespace MCCommon_850 {

using MCXML_850::XMLElement;

namespace {

using namespace MCXML_850::Building;

void AddStat(XMLElement& e, const std::string& name, double value) {
    if (!MCMV::IsMissing(value)) e.AddAttribute(name, value);
}

// PMML arrays separate entries by blanks; string entries are quoted so
// that texts holding blanks survive.
std::string QuotedEntry(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool MCPMMLExporter::ExportUniStats(const MCXML_850::MCUniStats& stats, XMLElement*& elem) {
    elem = nullptr;
    if (stats.GetField().empty() || stats.GetValues().size() != stats.GetCounts().size())
        return false;
    try {
        ElemPtr e = Make("UnivariateStats");
        e->AddAttribute("field", stats.GetField());
        ElemPtr counts = Make("Counts");
        AddStat(*counts, "totalFreq", stats.GetTotalFreq());
        Adopt(*e, std::move(counts));
        const MCXML_850::MCUniStats::SummStats& s = stats.GetSummary();
        ElemPtr info = Make("NumericInfo");
        AddStat(*info, "minimum", s.fMin);
        AddStat(*info, "maximum", s.fMax);
        AddStat(*info, "mean", s.fMean);
        AddStat(*info, "standardDeviation", s.fStdDev);
        AddStat(*info, "median", s.fMedian);
        AddStat(*info, "interQuartileRange", s.fIQR);
        Adopt(*e, std::move(info));
        if (!stats.GetValues().empty()) {
            ElemPtr discr = Make("DiscrStats");
            ElemPtr values = Make("Array");
            ElemPtr freqs = Make("Array");
            std::string vText, fText;
            for (std::size_t i = 0; i < stats.GetValues().size(); ++i) {
                if (i > 0) {
                    vText += ' ';
                    fText += ' ';
                }
                vText += QuotedEntry(stats.GetValues()[i]);
                fText += XMLElement::FormatNumber(stats.GetCounts()[i]);
            }
            const double n = static_cast<double>(stats.GetValues().size());
            values->AddAttribute("n", n);
            values->AddAttribute("type", "string");
            values->SetText(vText);
            freqs->AddAttribute("n", n);
            freqs->AddAttribute("type", "real");
            freqs->SetText(fText);
            Adopt(*discr, std::move(values));
            Adopt(*discr, std::move(freqs));
            Adopt(*e, std::move(discr));
        }
        elem = e.release();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace MCCommon_850
