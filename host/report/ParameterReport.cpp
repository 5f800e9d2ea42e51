#include "host/report/ParameterReport.h"

#include <type_traits>
#include <utility>

namespace mchost {

using json = nlohmann::ordered_json;

namespace {

template <class Row>
constexpr bool kWald = std::is_same_v<Row, LogisticParameterRow>;

double Test(const ParameterRow& p) {
    return p.fT;
}

double Test(const LogisticParameterRow& p) {
    return p.fWald;
}

}  // namespace

template <class Row>
ParameterTableText<Row>::ParameterTableText(double confidence)
    : fLevel(PercentText(confidence) + "%") {}

template <class Row>
void ParameterTableText<Row>::Heading(const std::string& first) {
    if (fbStarted) fTable.Rule();
    fbStarted = true;
    std::vector<std::string> row{first,        kWald<Row> ? "B" : "Estimate",
                                 "Std. error", kWald<Row> ? "Wald" : "t",
                                 "df",         "Sig."};
    if (kWald<Row>) row.push_back("Exp(B)");
    row.push_back(fLevel + " lower");
    row.push_back(fLevel + " upper");
    fTable.Add(std::move(row));
    fTable.Rule();
}

template <class Row>
void ParameterTableText<Row>::Add(const Row& p) {
    if (p.fbRedundant) {
        // The df stay: a Wald test counts an aliased parameter's as 0.
        fbRedundant = true;
        fTable.Add({p.fLabel, "0 a", "", "", Count(p.fDF)});
        return;
    }
    std::vector<std::string> row{p.fLabel,        Number(p.fEstimate), Number(p.fStdError),
                                 Number(Test(p)), Count(p.fDF),        PValue(p.fSig)};
    if constexpr (kWald<Row>) row.push_back(Number(p.fExpB));
    row.push_back(Number(p.fCILower));
    row.push_back(Number(p.fCIUpper));
    fTable.Add(std::move(row));
}

template <class Row>
std::string ParameterTableText<Row>::Render(const std::string& title) const {
    TextTable table = fTable;
    table.Rule();
    std::string out = "\n" + title + "\n\n" + table.Render("  ");
    if (fbRedundant) out += "  a. Redundant: aliased with the parameters before it, so set to 0.\n";
    return out;
}

template class ParameterTableText<ParameterRow>;
template class ParameterTableText<LogisticParameterRow>;

namespace {

template <class Row>
json Parameters(const std::vector<Row>& rows) {
    json list = json::array();
    for (const Row& p : rows) {
        json o;
        if constexpr (kWald<Row>)
            o["target"] = p.fTarget;
        else
            o["name"] = p.fName;
        o["label"] = p.fLabel;
        o["effect"] = p.fEffect;
        o["estimate"] = JsonNumber(p.fEstimate);
        o["redundant"] = p.fbRedundant;
        o["std_error"] = JsonNumber(p.fStdError);
        o[kWald<Row> ? "wald" : "t"] = JsonNumber(Test(p));
        o["df"] = JsonCount(p.fDF);
        o["sig"] = JsonNumber(p.fSig);
        if constexpr (kWald<Row>) o["exp_b"] = JsonNumber(p.fExpB);
        o["ci_lower"] = JsonNumber(p.fCILower);
        o["ci_upper"] = JsonNumber(p.fCIUpper);
        list.push_back(std::move(o));
    }
    return list;
}

}  // namespace

json ParametersJson(const std::vector<ParameterRow>& rows) {
    return Parameters(rows);
}

json ParametersJson(const std::vector<LogisticParameterRow>& rows) {
    return Parameters(rows);
}

}  // namespace mchost
