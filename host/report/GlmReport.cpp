#include "host/report/GlmReport.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "host/report/ModelReport.h"
#include "host/report/ParameterReport.h"

namespace mchost {

std::string FormatGlmText(const GlmResult& r) {
    // Cluster-robust tests lose a degree of freedom per cluster, not per record.
    const std::string vcovNote =
        r.fVcov == "cluster" ? " (tests on " + std::to_string(r.fNClusters - 1) + " df)" : "";
    std::string out = HeadText("General linear model", r, {}, vcovNote);

    ParameterTableText<ParameterRow> t(r.fConfidence);
    t.Heading("Parameter");
    for (const ParameterRow& p : r.fvParameters) t.Add(p);
    out += t.Render("Parameter estimates");

    TextTable fit(false);
    fit.Add({"R-square", Number(r.fRSquare)});
    fit.Add({"Root mean square error", Number(r.fRmse)});
    fit.Add({"Residual standard error", Number(r.fResidualSE)});
    fit.Add({"Error df", Count(r.fErrorDF)});
    out += "\nFit\n\n" + fit.Render("  ");
    return out;
}

std::string FormatGlmJson(const GlmResult& r, const JsonOptions& options) {
    return JsonText(GlmJson(r, options));
}

nlohmann::ordered_json GlmJson(const GlmResult& r, const JsonOptions& options) {
    JsonAdditions add;
    add.fRecords["total_regression_weight"] = JsonNumber(r.fTotalRegrWeight);
    add.fFit = {{"r_square", JsonNumber(r.fRSquare)},
                {"rmse", JsonNumber(r.fRmse)},
                {"residual_standard_error", JsonNumber(r.fResidualSE)},
                {"error_df", JsonCount(r.fErrorDF)},
                {"rank", r.fRank}};
    if (options.fbCovariance)
        add.fResults["covariance"] = CovarianceJson(r.fvCovarianceNames, r.fvCovariance);
    return ModelJson("glm", r, ParametersJson(r.fvParameters), std::move(add), options);
}

}  // namespace mchost
