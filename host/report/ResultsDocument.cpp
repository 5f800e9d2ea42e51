#include "host/report/ResultsDocument.h"

#include <cmath>
#include <memory>
#include <new>
#include <ostream>
#include <type_traits>

#include "companion/MCMV.h"
#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "export/MCRegrDoreZADUtil.h"

namespace mchost {

using MCCommon_850::MCMV;
using MCMath_850::MCRegrParameterStats;

namespace {

double Lib(double v) {
    return std::isnan(v) ? MCMV::Missing() : v;
}

// Names and categories by record position; category texts in their coded
// (sorted) order, which is what the parameters' categories index.
MCXML_850::MCVarList VarList(const FittedModel& m) {
    MCXML_850::MCVarList vars;
    for (const ModelVariable& v : m.fpSpec->GetVariables()) {
        if (!v.fvCategories.empty() || v.fRole == ModelVariable::kFactor)
            vars.AddCategoricalVar(v.fName, v.fvCategories);
        else
            vars.AddContinuousVar(v.fName, 0.0, 0.0);
    }
    return vars;
}

// The library's records of the parameters with the report's statistics:
// t and the estimate's interval, or Wald's chi-square and the interval of
// Exp(B), whose logarithm is B's.
template <class Row>
std::vector<MCRegrParameterStats> Stats(const FittedModel& m, const std::vector<Row>& rows) {
    constexpr bool wald = std::is_same_v<Row, LogisticParameterRow>;
    std::vector<MCRegrParameterStats> stats = m.fpStats->GetParamStats();
    for (std::size_t k = 0; k < stats.size() && k < rows.size(); ++k) {
        const Row& p = rows[k];
        MCRegrParameterStats& s = stats[k];
        s.fEstimate = p.fEstimate;
        s.fbRedundant = p.fbRedundant;
        s.fStdError = Lib(p.fStdError);
        s.fDF = std::isnan(p.fDF) ? 0.0 : p.fDF;
        s.fSig = Lib(p.fSig);
        if constexpr (!wald) {
            s.fTTest = Lib(p.fT);
            s.fCILower = Lib(p.fCILower);
            s.fCIUpper = Lib(p.fCIUpper);
        } else {
            s.fChiSquare = Lib(p.fWald);
            s.fbExpCI = !p.fbRedundant;
            s.fExpCILower = Lib(p.fCILower);
            s.fExpCIUpper = Lib(p.fCIUpper);
            s.fCILower = p.fCILower > 0.0 ? std::log(p.fCILower) : MCMV::Missing();
            s.fCIUpper = p.fCIUpper > 0.0 ? std::log(p.fCIUpper) : MCMV::Missing();
        }
    }
    return stats;
}

void Write(std::ostream& out, const FittedModel& m, const std::vector<MCRegrParameterStats>& stats,
           const std::string& modelName) {
    const MCXML_850::MCVarList vars = VarList(m);
    std::unique_ptr<MCXML_850::XMLElement> e(
        MCMath_850::MCRegrDoreZADUtil::CreateParameterEstimates(stats, *m.fpSettings, vars,
                                                                m.fpStats->GetParameters(), "model",
                                                                modelName, nullptr, m.fbLogistic));
    if (!e) throw std::bad_alloc();
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // A stream that failed is its owner's to report; anything else is memory.
    if (!e->Write(out, true) && !out.fail()) throw std::bad_alloc();
    out << "\n";
}

}  // namespace

void WriteGlmResultsDocument(std::ostream& out, const FittedModel& m, const GlmResult& r) {
    Write(out, m, Stats(m, r.fvParameters), "glm");
}

void WriteLogisticResultsDocument(std::ostream& out, const FittedModel& m,
                                  const LogisticResult& r) {
    Write(out, m, Stats(m, r.fvParameters), "multinomial logistic");
}

}  // namespace mchost
