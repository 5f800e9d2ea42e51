#include "host/report/LogisticReport.h"

#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "host/report/ModelReport.h"
#include "host/report/ParameterReport.h"

namespace mchost {

namespace {

std::string Percent(double part, double whole) {
    return Format("%.1f%%", 100.0 * part / whole);
}

std::string CategoriesText(const LogisticResult& r) {
    TextTable cats;
    cats.Add({"Category", "Weight", "Percent"});
    cats.Rule();
    for (std::size_t c = 0; c < r.fvCategories.size(); ++c)
        cats.Add({r.fvCategories[c], Number(r.fvCategoryWeights[c]),
                  Percent(r.fvCategoryWeights[c], r.fTotalFreqWeight)});
    return "\nResponse categories\n\n" + cats.Render("  ");
}

std::string LikelihoodText(const LogisticResult& r) {
    TextTable history;
    history.Add({"Iteration", "-2 log-likelihood", "Step-halvings"});
    history.Rule();
    for (const IterationRow& it : r.fvIterations)
        history.Add({std::to_string(it.fIteration), Format("%.6f", -2.0 * it.fLogLikelihood),
                     std::to_string(it.fHalvings)});

    TextTable fitting;
    fitting.Add({"Model", "-2 log-likelihood", "Chi-square", "df", "Sig."});
    fitting.Rule();
    fitting.Add({r.fbInterceptBaseline ? "Intercept only" : "All parameters 0",
                 Format("%.6f", -2.0 * r.fLogLikInitial), "", "", ""});
    fitting.Add({"Final", Format("%.6f", -2.0 * r.fLogLikFinal), Format("%.6f", r.fChiSquare),
                 Whole(r.fDF), PValue(r.fSig)});

    TextTable pseudo(false);
    pseudo.Add({"Cox and Snell", Number(r.fCoxSnell)});
    pseudo.Add({"Nagelkerke", Number(r.fNagelkerke)});
    pseudo.Add({"McFadden", Number(r.fMcFadden)});
    return "\nIteration history\n\n" + history.Render("  ") + "\nModel fitting\n\n" +
           fitting.Render("  ") + "\nPseudo R-square\n\n" + pseudo.Render("  ");
}

std::string ClassificationText(const LogisticResult& r) {
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
        row.push_back(rowTotal > 0 ? Percent(r.fvClassification[i][i], rowTotal) : "");
        correct += r.fvClassification[i][i];
        total += rowTotal;
        table.Add(row);
    }
    table.Rule();
    std::vector<std::string> overall{"Overall"};
    overall.resize(r.fvCategories.size() + 1);
    overall.push_back(total > 0 ? Percent(correct, total) : "");
    table.Add(overall);
    return "\nClassification\n\n" + table.Render("  ");
}

}  // namespace

std::string FormatLogisticText(const LogisticResult& r) {
    std::string out =
        HeadText("Multinomial logistic regression", r, {{"Reference category", r.fReference}});
    out += CategoriesText(r) + LikelihoodText(r);

    ParameterTableText<LogisticParameterRow> t(r.fConfidence);
    const std::string* target = nullptr;
    for (const LogisticParameterRow& p : r.fvParameters) {
        if (target == nullptr || p.fTarget != *target) {
            target = &p.fTarget;
            t.Heading(r.fDependent + " = " + p.fTarget);
        }
        t.Add(p);
    }
    out += t.Render("Parameter estimates (reference category: " + r.fReference + ")");
    return out + ClassificationText(r) + WarningsText(r.fvWarnings);
}

std::string FormatLogisticJson(const LogisticResult& r, const JsonOptions& options) {
    return JsonText(LogisticJson(r, options));
}

nlohmann::ordered_json LogisticJson(const LogisticResult& r, const JsonOptions& options) {
    JsonAdditions add;
    add.fModel["categories"] = r.fvCategories;
    add.fModel["reference_category"] = r.fReference;
    nlohmann::ordered_json weights = nlohmann::ordered_json::array();
    for (double w : r.fvCategoryWeights) weights.push_back(JsonNumber(w));
    add.fVcov["category_weights"] = std::move(weights);
    add.fFit = {{"loglik_initial", JsonNumber(r.fLogLikInitial)},
                {"loglik_final", JsonNumber(r.fLogLikFinal)},
                {"chi_square", JsonNumber(r.fChiSquare)},
                {"df", JsonCount(r.fDF)},
                {"sig", JsonNumber(r.fSig)},
                {"cox_snell", JsonNumber(r.fCoxSnell)},
                {"nagelkerke", JsonNumber(r.fNagelkerke)},
                {"mcfadden", JsonNumber(r.fMcFadden)},
                {"iterations", r.fIterations},
                {"converged", r.fbConverged}};
    return ModelJson("multinomial logistic", r, ParametersJson(r.fvParameters), std::move(add),
                     options);
}

}  // namespace mchost
