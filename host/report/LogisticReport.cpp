#include "host/report/LogisticReport.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "host/report/GlmReport.h"
#include "host/report/ReportFormat.h"

namespace mchost {

std::string FormatLogisticText(const LogisticResult& r) {
    std::string out = "Multinomial logistic regression\n\n";
    TextTable head(false);
    head.Add({"Formula", r.fFormula});
    head.Add({"Dependent variable", r.fDependent});
    if (!r.fvTextFactors.empty()) head.Add({"Read as factors", TextFactorsLine(r.fvTextFactors)});
    head.Add({"Reference category", r.fReference});
    head.Add({"Records", std::to_string(r.fRecordsRead) + " read, " +
                             std::to_string(r.fRecordsUsed) + " used"});
    if (r.fTotalFreqWeight != static_cast<double>(r.fRecordsUsed))
        head.Add({"Total frequency weight", Count(r.fTotalFreqWeight)});
    out += head.Render("  ");
    out += "\nCovariance of the estimates: " +
           VcovText(r.fVcov, r.fvClusterColumns, r.fvClusterCounts) + "\n";

    TextTable cats;
    cats.Add({"Category", "Weight", "Percent"});
    cats.Rule();
    for (std::size_t c = 0; c < r.fvCategories.size(); ++c)
        cats.Add({r.fvCategories[c], Number(r.fvCategoryWeights[c]),
                  Format("%.1f%%", 100.0 * r.fvCategoryWeights[c] / r.fTotalFreqWeight)});
    out += "\nResponse categories\n\n" + cats.Render("  ");

    TextTable history;
    history.Add({"Iteration", "-2 log-likelihood", "Step-halvings"});
    history.Rule();
    for (const IterationRow& it : r.fvIterations)
        history.Add({std::to_string(it.fIteration), Format("%.6f", -2.0 * it.fLogLikelihood),
                     std::to_string(it.fHalvings)});
    out += "\nIteration history\n\n" + history.Render("  ");

    TextTable fitting;
    fitting.Add({"Model", "-2 log-likelihood", "Chi-square", "df", "Sig."});
    fitting.Rule();
    fitting.Add({"Intercept only", Format("%.6f", -2.0 * r.fLogLikInitial), "", "", ""});
    fitting.Add({"Final", Format("%.6f", -2.0 * r.fLogLikFinal), Format("%.6f", r.fChiSquare),
                 Whole(r.fDF), PValue(r.fSig)});
    out += "\nModel fitting\n\n" + fitting.Render("  ");

    TextTable pseudo(false);
    pseudo.Add({"Cox and Snell", Number(r.fCoxSnell)});
    pseudo.Add({"Nagelkerke", Number(r.fNagelkerke)});
    pseudo.Add({"McFadden", Number(r.fMcFadden)});
    out += "\nPseudo R-square\n\n" + pseudo.Render("  ");

    const std::string level = Format("%g", r.fConfidence * 100.0) + "%";
    bool anyRedundant = false;
    std::string target;
    TextTable t;
    for (const LogisticParameterRow& p : r.fvParameters) {
        if (p.fTarget != target) {
            if (!target.empty()) t.Rule();
            target = p.fTarget;
            t.Add({r.fDependent + " = " + target, "B", "Std. error", "Wald", "df", "Sig.", "Exp(B)",
                   level + " lower", level + " upper"});
            t.Rule();
        }
        if (p.fbRedundant) {
            anyRedundant = true;
            t.Add({p.fLabel, "0 a", "", "", "0", "", "", "", ""});
            continue;
        }
        t.Add({p.fLabel, Number(p.fEstimate), Number(p.fStdError), Number(p.fWald), Whole(p.fDF),
               PValue(p.fSig), Number(p.fExpB), Number(p.fCILower), Number(p.fCIUpper)});
    }
    t.Rule();
    out += "\nParameter estimates (reference category: " + r.fReference + ")\n\n" + t.Render("  ");
    if (anyRedundant)
        out += "  a. Redundant: aliased with the parameters before it, so set to 0.\n";

    TextTable table;
    std::vector<std::string> header{"Observed \\ predicted"};
    for (const std::string& c : r.fvCategories) header.push_back(c);
    header.push_back("Percent correct");
    table.Add(header);
    table.Rule();
    double correct = 0.0, total = 0.0;
    for (std::size_t i = 0; i < r.fvClassification.size(); ++i) {
        std::vector<std::string> row{r.fvCategories[i]};
        double rowTotal = 0.0;
        for (double v : r.fvClassification[i]) {
            row.push_back(Number(v));
            rowTotal += v;
        }
        row.push_back(rowTotal > 0 ? Format("%.1f%%", 100.0 * r.fvClassification[i][i] / rowTotal)
                                   : "");
        correct += r.fvClassification[i][i];
        total += rowTotal;
        table.Add(row);
    }
    table.Rule();
    std::vector<std::string> overall{"Overall"};
    overall.resize(r.fvCategories.size() + 1);
    overall.push_back(total > 0 ? Format("%.1f%%", 100.0 * correct / total) : "");
    table.Add(overall);
    out += "\nClassification\n\n" + table.Render("  ");

    if (!r.fvWarnings.empty()) {
        out += "\nWarnings\n\n";
        for (const std::string& w : r.fvWarnings) out += "  " + w + "\n";
    }
    return out;
}

std::string FormatLogisticJson(const LogisticResult& r, const JsonOptions& options) {
    return JsonText(LogisticJson(r, options));
}

nlohmann::ordered_json LogisticJson(const LogisticResult& r, const JsonOptions& options) {
    using json = nlohmann::ordered_json;
    json j;
    j["model"] = "multinomial logistic";
    j["formula"] = r.fFormula;
    j["dependent"] = r.fDependent;
    j["variables"] = JsonVariables(r.fvVariables);
    j["confidence"] = r.fConfidence;
    j["categories"] = r.fvCategories;
    j["reference_category"] = r.fReference;
    j["records"] = {{"read", r.fRecordsRead}, {"used", r.fRecordsUsed}};
    j["total_frequency_weight"] = JsonNumber(r.fTotalFreqWeight);
    j["vcov"] = VcovJson(r.fVcov, r.fvClusterColumns, r.fvClusterCounts);
    json weights = json::array();
    for (double w : r.fvCategoryWeights) weights.push_back(JsonNumber(w));
    j["category_weights"] = std::move(weights);
    json params = json::array();
    for (const LogisticParameterRow& p : r.fvParameters) {
        json o;
        o["target"] = p.fTarget;
        o["label"] = p.fLabel;
        o["effect"] = p.fEffect;
        o["estimate"] = JsonNumber(p.fEstimate);
        o["redundant"] = p.fbRedundant;
        o["std_error"] = JsonNumber(p.fStdError);
        o["wald"] = JsonNumber(p.fWald);
        o["df"] = JsonCount(p.fDF);
        o["sig"] = JsonNumber(p.fSig);
        o["exp_b"] = JsonNumber(p.fExpB);
        o["ci_lower"] = JsonNumber(p.fCILower);
        o["ci_upper"] = JsonNumber(p.fCIUpper);
        params.push_back(std::move(o));
    }
    j["parameters"] = std::move(params);
    j["fit"] = {{"loglik_initial", JsonNumber(r.fLogLikInitial)},
                {"loglik_final", JsonNumber(r.fLogLikFinal)},
                {"chi_square", JsonNumber(r.fChiSquare)},
                {"df", JsonCount(r.fDF)},
                {"sig", JsonNumber(r.fSig)},
                {"cox_snell", JsonNumber(r.fCoxSnell)},
                {"nagelkerke", JsonNumber(r.fNagelkerke)},
                {"mcfadden", JsonNumber(r.fMcFadden)},
                {"iterations", r.fIterations},
                {"converged", r.fbConverged}};
    j["warnings"] = r.fvWarnings;
    if (options.fbTiming) j["timing_seconds"] = {{"read", r.fReadSeconds}, {"fit", r.fFitSeconds}};
    return j;
}

}  // namespace mchost
