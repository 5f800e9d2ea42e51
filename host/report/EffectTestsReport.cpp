#include "host/report/EffectTestsReport.h"

#include <cmath>
#include <vector>

#include "host/report/ReportFormat.h"

namespace mchost {

namespace {

using json = nlohmann::ordered_json;

void AddGlmRow(TextTable& t, const EffectTestRow& r) {
    t.Add({r.fTerm, Number(r.fSS), Count(r.fDF), Number(r.fMeanSquare), Number(r.fF),
           PValue(r.fSig)});
}

std::string GlmTable(const EffectTests& tests, const std::vector<EffectTestRow>& rows,
                     const std::string& type) {
    TextTable t;
    t.Add({"Source", "Sum of squares", "df", "Mean square", "F", "Sig."});
    t.Rule();
    AddGlmRow(t, tests.fCorrectedModel);
    for (const EffectTestRow& r : rows) AddGlmRow(t, r);
    AddGlmRow(t, tests.fError);
    AddGlmRow(t, tests.fTotal);
    if (tests.fbIntercept) AddGlmRow(t, tests.fCorrectedTotal);
    t.Rule();
    return "\nTests of model effects (Type " + type + " sums of squares)\n\n" + t.Render("  ");
}

std::string WaldTable(const EffectTests& tests, const std::vector<EffectTestRow>& rows,
                      const std::string& type) {
    TextTable t;
    t.Add({"Source", "Wald chi-square", "df", "Sig."});
    t.Rule();
    auto add = [&](const EffectTestRow& r) {
        t.Add({r.fTerm, Number(r.fChiSquare), Count(r.fDF), PValue(r.fSig)});
    };
    add(tests.fCorrectedModel);
    for (const EffectTestRow& r : rows) add(r);
    t.Rule();
    return "\nTests of model effects (Type " + type + ", Wald chi-square across the logits)\n\n" +
           t.Render("  ");
}

json Row(const EffectTestRow& r, bool logistic) {
    json o;
    o["term"] = r.fTerm;
    o["df"] = JsonCount(r.fDF);
    if (logistic) {
        o["chi_square"] = JsonNumber(r.fChiSquare);
    } else {
        o["ss"] = JsonNumber(r.fSS);
        o["mean_square"] = JsonNumber(r.fMeanSquare);
        o["F"] = JsonNumber(r.fF);
    }
    o["sig"] = JsonNumber(r.fSig);
    return o;
}

json Rows(const std::vector<EffectTestRow>& rows, bool asked, bool logistic) {
    if (!asked) return nullptr;
    json a = json::array();
    for (const EffectTestRow& r : rows) a.push_back(Row(r, logistic));
    return a;
}

}  // namespace

std::string FormatEffectTestsText(const EffectTests& tests) {
    std::string out;
    const auto table = tests.fbLogistic ? WaldTable : GlmTable;
    if (tests.fTypes.fbTypeI) out += table(tests, tests.fvTypeI, "I");
    if (tests.fTypes.fbTypeIII) out += table(tests, tests.fvTypeIII, "III");
    if (tests.fbLogistic && tests.fTypes.fbTypeI)
        out +=
            "  Type I tests are sequential in the frequency-weighted design; their statistics\n"
            "  need not add up to the model's.\n";
    return out;
}

json EffectTestsJson(const EffectTests& tests) {
    json j;
    j["type1"] = Rows(tests.fvTypeI, tests.fTypes.fbTypeI, tests.fbLogistic);
    j["type3"] = Rows(tests.fvTypeIII, tests.fTypes.fbTypeIII, tests.fbLogistic);
    j["corrected_model"] = Row(tests.fCorrectedModel, tests.fbLogistic);
    if (!tests.fbLogistic)
        j["error"] = {{"df", JsonCount(tests.fError.fDF)},
                      {"ss", JsonNumber(tests.fError.fSS)},
                      {"mean_square", JsonNumber(tests.fError.fMeanSquare)}};
    return j;
}

}  // namespace mchost
