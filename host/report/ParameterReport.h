#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/fit/GlmFit.h"
#include "host/fit/LogisticFit.h"
#include "host/report/ReportFormat.h"

namespace mchost {

// The parameter table for people, of either model (Row: ParameterRow or
// LogisticParameterRow, whose test is t or Wald's chi-square with Exp(B)
// beside it): blocks of rows, each under a heading line, an aliased
// parameter shown as "0 a" with a footnote below.
template <class Row>
class ParameterTableText {
public:
    explicit ParameterTableText(double confidence);
    // Starts a block whose heading names it in the first column.
    void Heading(const std::string& first);
    void Add(const Row& p);
    // The table as a section of the report under its title.
    std::string Render(const std::string& title) const;

private:
    std::string fLevel;
    TextTable fTable;
    bool fbStarted = false;
    bool fbRedundant = false;
};

// The parameters for programs, each {"name"|"target","label","effect",
// "estimate","redundant","std_error","t"|"wald","df","sig"[,"exp_b"],
// "ci_lower","ci_upper"}; missing statistics are null.
nlohmann::ordered_json ParametersJson(const std::vector<ParameterRow>& rows);
nlohmann::ordered_json ParametersJson(const std::vector<LogisticParameterRow>& rows);

}  // namespace mchost
