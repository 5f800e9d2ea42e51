#include "host/report/ParameterReport.h"

#include <utility>

namespace mchost {

using json = nlohmann::ordered_json;

ReportedParameter::ReportedParameter(const ParameterRow& p)
    : fKey(p.fName),
      fLabel(p.fLabel),
      fEffect(p.fEffect),
      fEstimate(p.fEstimate),
      fbRedundant(p.fbRedundant),
      fStdError(p.fStdError),
      fTest(p.fT),
      fDF(p.fDF),
      fSig(p.fSig),
      fExpB(kMissing),
      fCILower(p.fCILower),
      fCIUpper(p.fCIUpper) {}

ReportedParameter::ReportedParameter(const LogisticParameterRow& p)
    : fKey(p.fTarget),
      fLabel(p.fLabel),
      fEffect(p.fEffect),
      fEstimate(p.fEstimate),
      fbRedundant(p.fbRedundant),
      fStdError(p.fStdError),
      fTest(p.fWald),
      fDF(p.fDF),
      fSig(p.fSig),
      fExpB(p.fExpB),
      fCILower(p.fCILower),
      fCIUpper(p.fCIUpper) {}

const ParameterColumns kGlmColumns{"name", "Estimate", "t", "t", false};
const ParameterColumns kLogisticColumns{"target", "B", "Wald", "wald", true};

ParameterTableText::ParameterTableText(const ParameterColumns& columns, double confidence)
    : fColumns(columns), fLevel(Format("%g", confidence * 100.0) + "%") {}

void ParameterTableText::Heading(const std::string& first) {
    if (fbStarted) fTable.Rule();
    fbStarted = true;
    std::vector<std::string> row{first, fColumns.fEstimate, "Std. error", fColumns.fTest, "df",
                                 "Sig."};
    if (fColumns.fbExpB) row.push_back("Exp(B)");
    row.push_back(fLevel + " lower");
    row.push_back(fLevel + " upper");
    fTable.Add(std::move(row));
    fTable.Rule();
}

void ParameterTableText::Add(const ReportedParameter& p) {
    if (p.fbRedundant) {
        // The df stay: a Wald test counts an aliased parameter's as 0.
        fbRedundant = true;
        fTable.Add({p.fLabel, "0 a", "", "", Count(p.fDF)});
        return;
    }
    std::vector<std::string> row{p.fLabel,        Number(p.fEstimate), Number(p.fStdError),
                                 Number(p.fTest), Count(p.fDF),        PValue(p.fSig)};
    if (fColumns.fbExpB) row.push_back(Number(p.fExpB));
    row.push_back(Number(p.fCILower));
    row.push_back(Number(p.fCIUpper));
    fTable.Add(std::move(row));
}

std::string ParameterTableText::Render(const std::string& title) const {
    TextTable table = fTable;
    table.Rule();
    std::string out = "\n" + title + "\n\n" + table.Render("  ");
    if (fbRedundant) out += "  a. Redundant: aliased with the parameters before it, so set to 0.\n";
    return out;
}

namespace {

template <class Row>
json Parameters(const std::vector<Row>& rows, const ParameterColumns& columns) {
    json list = json::array();
    for (const Row& row : rows) {
        const ReportedParameter p(row);
        json o;
        o[columns.fKey] = p.fKey;
        o["label"] = p.fLabel;
        o["effect"] = p.fEffect;
        o["estimate"] = JsonNumber(p.fEstimate);
        o["redundant"] = p.fbRedundant;
        o["std_error"] = JsonNumber(p.fStdError);
        o[columns.fTestKey] = JsonNumber(p.fTest);
        o["df"] = JsonCount(p.fDF);
        o["sig"] = JsonNumber(p.fSig);
        if (columns.fbExpB) o["exp_b"] = JsonNumber(p.fExpB);
        o["ci_lower"] = JsonNumber(p.fCILower);
        o["ci_upper"] = JsonNumber(p.fCIUpper);
        list.push_back(std::move(o));
    }
    return list;
}

}  // namespace

json ParametersJson(const std::vector<ParameterRow>& rows) {
    return Parameters(rows, kGlmColumns);
}

json ParametersJson(const std::vector<LogisticParameterRow>& rows) {
    return Parameters(rows, kLogisticColumns);
}

}  // namespace mchost
