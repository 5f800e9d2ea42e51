#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/fit/GlmFit.h"
#include "host/fit/LogisticFit.h"
#include "host/report/ReportFormat.h"

namespace mchost {

// A parameter of either model as the reports read it: the two models'
// rows differ in their test (t or Wald's chi-square), in what leads them
// (the parameter's name or its logit's category) and in Exp(B).
class ReportedParameter {
public:
    explicit ReportedParameter(const ParameterRow& p);
    explicit ReportedParameter(const LogisticParameterRow& p);

    const std::string& fKey;
    const std::string& fLabel;
    const std::string& fEffect;
    double fEstimate;
    bool fbRedundant;
    double fStdError;
    double fTest;
    double fDF;  // NaN (t) or 0 (Wald) for a redundant parameter
    double fSig;
    double fExpB;  // NaN for a general linear model
    double fCILower;
    double fCIUpper;
};

// How a model's parameter table names its columns.
class ParameterColumns {
public:
    std::string fKey;       // the JSON member that leads a parameter
    std::string fEstimate;  // the estimate's heading
    std::string fTest;      // the test's heading
    std::string fTestKey;   // and its JSON member
    bool fbExpB = false;    // a column and a member for Exp(B)
};
extern const ParameterColumns kGlmColumns;
extern const ParameterColumns kLogisticColumns;

// The parameter table for people: blocks of rows, each under a heading
// line, an aliased parameter shown as "0 a" with a footnote below.
class ParameterTableText {
public:
    ParameterTableText(const ParameterColumns& columns, double confidence);
    // Starts a block whose heading names it in the first column.
    void Heading(const std::string& first);
    void Add(const ReportedParameter& p);
    // The table as a section of the report under its title.
    std::string Render(const std::string& title) const;

private:
    const ParameterColumns& fColumns;
    std::string fLevel;
    TextTable fTable;
    bool fbStarted = false;
    bool fbRedundant = false;
};

// The parameters for programs: {<key>,"label","effect","estimate",
// "redundant","std_error",<test>,"df","sig"[,"exp_b"],"ci_lower",
// "ci_upper"} each; missing statistics are null.
nlohmann::ordered_json ParametersJson(const std::vector<ParameterRow>& rows);
nlohmann::ordered_json ParametersJson(const std::vector<LogisticParameterRow>& rows);

}  // namespace mchost
