// The parameter table of both models reads the library's per-parameter
// records: labels and effects beside them, and nothing recomputed. Three
// records and two parameters leave one error degree of freedom, where t is
// Cauchy and every figure has a closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "companion/MCMV.h"
#include "host/fit/ModelFitter.h"
#include "host/fit/ParameterTable.h"
#include "settings/MCRegrParameterStats.h"
#include "support/host_fixtures.h"

using namespace mchost;

namespace {

// A fit's statistics with per-parameter records of the test's choosing.
class PlantedStats : public MCMath_850::IMCRegOutputStats {
public:
    explicit PlantedStats(const MCMath_850::IMCRegOutputStats& fit)
        : fFit(fit), fvRecords(fit.GetParamStats()) {}
    std::vector<MCMath_850::MCRegrParameterStats>& Records() { return fvRecords; }

    int GetModelType() const override { return fFit.GetModelType(); }
    const MCMath_850::MCFactorCounts* GetFactorCounts() const override {
        return fFit.GetFactorCounts();
    }
    const std::vector<double>& GetMeanValues() const override { return fFit.GetMeanValues(); }
    const std::vector<double>& GetParamEstimates() const override {
        return fFit.GetParamEstimates();
    }
    const std::vector<MCMath_850::MCRegrParameter>& GetParameters() const override {
        return fFit.GetParameters();
    }
    double GetTotalFreqWeight() const override { return fFit.GetTotalFreqWeight(); }
    double GetTotalRegrWeight() const override { return fFit.GetTotalRegrWeight(); }
    double GetNDegFreedom() const override { return fFit.GetNDegFreedom(); }
    double GetModelFitStat(MCConst::MCModelFitStat stat) const override {
        return fFit.GetModelFitStat(stat);
    }
    const MCMath_850::MCSymMatrix* GetCovarianceMatrix() const override {
        return fFit.GetCovarianceMatrix();
    }
    const std::vector<MCMath_850::MCRegrParameterStats>& GetParamStats() const override {
        return fvRecords;
    }
    const MCMath_850::MCBitSet& GetRedundancyIndicators() const override {
        return fFit.GetRedundancyIndicators();
    }
    const MCMath_850::MCRegRecordValidator& GetRecordValidator() const override {
        return fFit.GetRecordValidator();
    }
    bool ExpandRow(const MCCommon_850::Record& record, std::vector<double>& row) const override {
        return fFit.ExpandRow(record, row);
    }
    void Cancel() override {}
    void Display() const override {}

private:
    const MCMath_850::IMCRegOutputStats& fFit;
    std::vector<MCMath_850::MCRegrParameterStats> fvRecords;
};

}  // namespace

TEST(ParameterTable, FiguresAreTheLibrarysRecordsWithTheirLabels) {
    // y = 0.5 + 0.5 x; residuals -0.5, 1, -0.5: MSE 1.5 on 1 df, so
    // var(slope) = 1.5 / 2 and var(intercept) = 1.5 (1/3 + 1/2).
    const mchost_test::CsvModel m("y,x\n0,0\n2,1\n1,2\n", "y ~ x");
    const ModelSpec& spec = m.spec;
    ModelFitter fitter(spec, FitOptions());
    fitter.Fit(*m.records);
    const FittedModel model = fitter.GetFitted();
    PlantedStats stats(*model.fpStats);
    const double pi = std::acos(-1.0);
    const double seSlope = std::sqrt(0.75), seIntercept = std::sqrt(1.25);

    std::vector<ParameterFigures> table = ParameterTable(spec, *model.fpSettings, stats, false);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].fLabel, "Intercept");
    EXPECT_EQ(table[0].fEffect, "Intercept");
    EXPECT_EQ(table[1].fLabel, "x");
    EXPECT_EQ(table[1].fEffect, "x");
    const ParameterFigures& slope = table[1];
    EXPECT_NEAR(slope.fEstimate, 0.5, 1e-14);
    EXPECT_NEAR(slope.fStdError, seSlope, 1e-14);
    EXPECT_NEAR(slope.fStatistic, 0.5 / seSlope, 1e-14);
    EXPECT_EQ(slope.fDF, 1.0);
    // Two-sided Cauchy tail of 1/sqrt(3): 1 - (2/pi) atan(1/sqrt(3)) = 2/3.
    EXPECT_NEAR(slope.fSig, 2.0 / 3.0, 1e-12);
    const double q = std::tan(0.475 * pi);  // the 97.5% point of t on 1 df
    EXPECT_NEAR(slope.fCILower, 0.5 - q * seSlope, 1e-9);
    EXPECT_NEAR(slope.fCIUpper, 0.5 + q * seSlope, 1e-9);
    EXPECT_NEAR(table[0].fSig, 1.0 - 2.0 / pi * std::atan(0.5 / seIntercept), 1e-12);

    // A record's figures are shown as they are, and what it leaves missing
    // stays missing: the host decides nothing the library has not.
    MCMath_850::MCRegrParameterStats& rec = stats.Records()[1];
    rec.fStdError = 0.25;
    rec.fSig = 0.125;
    rec.fCILower = -1.0;
    rec.fCIUpper = MCCommon_850::MCMV::Missing();
    rec.fTTest = MCCommon_850::MCMV::Missing();
    table = ParameterTable(spec, *model.fpSettings, stats, false);
    EXPECT_EQ(table[1].fStdError, 0.25);
    EXPECT_EQ(table[1].fSig, 0.125);
    EXPECT_EQ(table[1].fCILower, -1.0);
    EXPECT_TRUE(std::isnan(table[1].fCIUpper));
    EXPECT_TRUE(std::isnan(table[1].fStatistic));

    // Read as Wald's, the linear model's records have no chi-square and no
    // interval of Exp(B).
    table = ParameterTable(spec, *model.fpSettings, stats, true);
    EXPECT_TRUE(std::isnan(table[0].fStatistic));
    EXPECT_TRUE(std::isnan(table[0].fCILower));
    EXPECT_NEAR(table[0].fStdError, seIntercept, 1e-14);
}
