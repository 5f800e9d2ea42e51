// libFuzzer target: arbitrary text as a model formula over a small data set
// with text and numeric columns. Besides the sanitizers, the target traps
// when: an error points outside the formula or is not a usage error; a
// term's canonical text does not read back to the same term; a model that
// builds gives the library settings it refuses, or a fit fails with
// anything but a reported data error; a parameter has no label; the note
// for a "*" term without its margins offers a formula that does not parse
// or itself needs the note. The data's x column holds a "." that the odd
// inputs read as a missing value (--na-values) and the even ones as an
// error.
#include <cstdint>
#include <string>

#include "host/base/HostError.h"
#include "host/fit/ModelFitter.h"
#include "host/input/CsvReader.h"
#include "host/model/Formula.h"
#include "host/model/ModelSpec.h"

using namespace mchost;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

const char* kData =
    "y,A,B,C,x,z,w\n"
    "1.5,a,p,u,0.5,1,1\n"
    "2.5,a,q,u,1.5,2,2\n"
    "3.0,b,p,v,2.5,NA,1\n"
    "4.5,b,q,v,3.0,4,1\n"
    "2.0,c,p,u,0.0,5,3\n"
    "6.5,c,q,v,1.0,6,1\n"
    "5.0,a,p,v,2.0,7,1\n"
    "7.5,b,q,u,4.0,8,0\n"
    "8.0,c,p,v,.,9,1\n";

std::string Shape(const FormulaTerm& t) {
    std::string s;
    for (const auto& group : t.fvGroups) {
        s += '|';
        for (const FormulaName& n : group) s += n.fName + '\x1f';
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 512) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Formula f;
    try {
        f = ParseFormula(text);
    } catch (const FormulaError& e) {
        Require(e.GetKind() == HostError::kUsage);
        Require(e.GetLen() >= 1 && e.GetPos() <= text.size());
        Require(!PointAt(text, e.GetPos(), e.GetLen()).empty());
        return 0;
    }
    for (const FormulaTerm& t : f.fvTerms) {
        Require(t.fPos + t.fLen <= text.size());
        const Formula again = ParseFormula("y ~ " + t.Text());
        Require(again.fvTerms.size() == 1 && Shape(again.fvTerms[0]) == Shape(t));
    }

    // The model a note offers reads back and needs no note; a product of
    // more names than a note lists offers none. A name holding the words
    // that introduce the model makes where it starts unclear: not checked.
    const std::string note = MissingMarginsNote(f);
    const std::string marker = "the model with them is: ", tooMany = "too many to list here";
    const bool listed = note.find(marker) != std::string::npos;
    const bool unlisted = note.size() > tooMany.size() &&
                          note.compare(note.size() - tooMany.size(), tooMany.size(), tooMany) == 0;
    Require(note.empty() || listed || unlisted);
    if (listed && !unlisted && text.find(marker) == std::string::npos) {
        const Formula fuller = ParseFormula(note.substr(note.find(marker) + marker.size()));
        Require(MissingMarginsNote(fuller).empty());
    }

    ModelOptions options;
    options.fvFactors = {"z"};
    options.fFreqWeight = size % 2 ? "w" : "";
    ReadOptions read;
    if (size % 2) read.fvNaValues = {"NA", "."};
    try {
        const CodedData data = CsvReader::ReadString(
            kData, [&](const std::vector<std::string>& h) { return PlanColumns(f, options, h); },
            read);
        const ModelSpec spec(f, options, data);
        MCMath_850::MCRegSettings settings = spec.GetSettings();
        Require(!settings.IsValidSettings(true).IsError());
        auto records = spec.MakeIterator();
        ModelFitter fitter(spec, FitOptions());
        fitter.Fit(*records);
        const GlmResult& r = fitter.GetGlmResult();
        Require(r.fRecordsRead == 9);
        for (const ParameterRow& p : r.fvParameters) Require(!p.fLabel.empty());
    } catch (const FormulaError& e) {
        Require(e.GetPos() + e.GetLen() <= text.size() + 1);
    } catch (const HostError&) {
        // Columns that cannot play their role, or a model the library
        // refuses with a status: reported to the user, not a fault.
    }
    return 0;
}
