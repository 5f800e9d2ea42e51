#include "glm/MCGLMOutputStats.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "glm/MCGLMAlgorithm.h"
#include "settings/MCWaldTest.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;

namespace {

// Each parameter's t test on df and its interval at the level asked for,
// as every other contrast of the model is tested.
void TestParameters(const MCSymMatrix& covariance, double df, double confidence,
                    std::vector<MCRegrParameterStats>& stats) {
    const double critical =
        MCWaldTest::Critical(MCWaldTest::FAMILY_T, df, confidence, MCConst::PADJ_LSD, 1);
    for (MCRegrParameterStats& s : stats) {
        if (s.fbRedundant || s.fParamIndex >= covariance.GetNRows()) continue;
        MCWaldTest::Input in;
        in.fEstimate = s.fEstimate;
        in.fVariance = covariance.GetElem(s.fParamIndex, s.fParamIndex);
        in.fFamily = MCWaldTest::FAMILY_T;
        in.fDF = df;
        const MCWaldTest::Result r = MCWaldTest::Test(in, critical);
        if (!r.fbTested) continue;
        s.fStdError = r.fStdError;
        s.fTTest = r.fStatistic;
        s.fSig = r.fSig;
        s.fCILower = r.fLower;
        s.fCIUpper = r.fUpper;
        if (df > 0.0) s.fDF = df;
    }
}

}  // namespace

class MCGLMOutputStats::MCGLMOutStatsImpl {
public:
    MCGLMAlgorithm* fpAlgorithm;
    std::vector<double> fvMeanValues;
    MCFactorCounts fFactorCounts;
    std::vector<MCRegrParameter> fvParameters;
    std::vector<double> fvEstimates;
    double fTotalFreqWeight;
    double fTotalRegrWeight;
    double fDegFreedom;
    double fRSquare;
    double fRMSE;
    std::unique_ptr<MCSymMatrix> fpCovariance;
    std::shared_ptr<const MCSymMatrix> fpCrossProducts;
    std::shared_ptr<const MCSymMatrix> fpSweptCrossProducts;
    std::vector<double> fvCrossProductScale;
    std::vector<MCRegrParameterStats> fvParamStats;
    MCBitSet fRedundancy;
    double fErrorDF;
    double fErrorMS;
    int fRank = 0;
    long fNClusters = 0;
    std::vector<long> fvClusterCounts;

    explicit MCGLMOutStatsImpl(MCGLMAlgorithm& algorithm)
        : fpAlgorithm(&algorithm), fFactorCounts(algorithm.GetFactorCounts()) {}
};

MCGLMOutputStats::MCGLMOutputStats(const MCRegSettings& settings, MCGLMAlgorithm& algorithm)
    : fpImpl(std::make_unique<MCGLMOutStatsImpl>(algorithm)) {
    MCGLMOutStatsImpl& d = *fpImpl;
    const MCGLMModel& model = algorithm.GetModel();
    d.fvMeanValues = algorithm.GetMeanValues();
    d.fvParameters = model.GetParameters();
    d.fvEstimates = model.GetParamEstimates();
    d.fTotalFreqWeight = algorithm.GetTotalFreqWeight();
    d.fTotalRegrWeight = algorithm.GetTotalRegrWeight();
    const int p = static_cast<int>(d.fvParameters.size());
    d.fDegFreedom = settings.GetDF() > 0.0 ? settings.GetDF() : d.fTotalRegrWeight - p;
    d.fRSquare = model.GetMultipleRSquare();
    d.fRMSE = model.GetRootMeanSquareError();
    d.fRedundancy = model.GetRedundancyInfo();
    d.fRedundancy.Resize(p);
    d.fRank = d.fRedundancy.Count();
    d.fpCrossProducts = model.GetCrossProducts();
    d.fpSweptCrossProducts = model.GetSweptCrossProducts();
    d.fvCrossProductScale = model.GetCrossProductScale();

    d.fvParamStats.resize(static_cast<std::size_t>(p));
    for (int k = 0; k < p; ++k) {
        MCRegrParameterStats& s = d.fvParamStats[Ix(k)];
        s.fParamIndex = k;
        s.fEstimate = d.fvEstimates[Ix(k)];
        s.fbRedundant = !d.fRedundancy.IsIn(k);
        s.fEffectIndex = d.fvParameters[Ix(k)].GetEffectIndex();
    }

    // The residual sum of the model is normalised by W.
    const double W = d.fTotalFreqWeight;
    d.fErrorDF = settings.GetDF() > 0.0 ? settings.GetDF() : W - d.fRank;
    const double rss = model.GetResidualSum() * W;
    d.fErrorMS = d.fErrorDF > 0.0 ? rss / d.fErrorDF : MCMV::Missing();

    for (std::size_t c = 0; c < settings.GetClusterVars().size(); ++c)
        d.fvClusterCounts.push_back(model.GetNClusters(static_cast<int>(c)));
    d.fNClusters = 0;
    for (long g : d.fvClusterCounts)
        d.fNClusters = d.fNClusters == 0 ? g : std::min(g, d.fNClusters);
    if (const MCSymMatrix* robust = model.GetRobustCovariance()) {
        d.fpCovariance = std::make_unique<MCSymMatrix>(*robust);
    } else {
        // Copied without first allocating a matrix of zeros: for a large
        // model that would need half as much memory again.
        const MCSymMatrix* zz = model.GetZPrimeZ();
        d.fpCovariance = std::make_unique<MCSymMatrix>(zz != nullptr ? 0 : p);
        if (zz != nullptr && !zz->CopyLeadingBlock(p, *d.fpCovariance)) d.fpCovariance->Resize(p);
        // Without error degrees of freedom the variance is unknown: NaN, as
        // in R, rather than a plausible-looking number.
        d.fpCovariance->FinishCovariance(
            MCMV::IsMissing(d.fErrorMS) ? std::numeric_limits<double>::quiet_NaN() : d.fErrorMS);
        d.fpCovariance->ZeroOutRedundant(d.fRedundancy);
    }
    TestParameters(*d.fpCovariance, GetTestDF(), settings.GetConfidenceLevel(), d.fvParamStats);
}

MCGLMOutputStats::~MCGLMOutputStats() = default;

const MCFactorCounts* MCGLMOutputStats::GetFactorCounts() const {
    return &fpImpl->fFactorCounts;
}
const std::vector<double>& MCGLMOutputStats::GetMeanValues() const {
    return fpImpl->fvMeanValues;
}
const std::vector<double>& MCGLMOutputStats::GetParamEstimates() const {
    return fpImpl->fvEstimates;
}
const std::vector<MCRegrParameter>& MCGLMOutputStats::GetParameters() const {
    return fpImpl->fvParameters;
}
double MCGLMOutputStats::GetTotalFreqWeight() const {
    return fpImpl->fTotalFreqWeight;
}
double MCGLMOutputStats::GetTotalRegrWeight() const {
    return fpImpl->fTotalRegrWeight;
}
double MCGLMOutputStats::GetNDegFreedom() const {
    return fpImpl->fDegFreedom;
}

double MCGLMOutputStats::GetModelFitStat(MCConst::MCModelFitStat stat) const {
    switch (static_cast<int>(stat)) {
        case 0:
            return fpImpl->fRMSE;
        case 1:
            return fpImpl->fRSquare;
        default:
            return MCMV::Missing();
    }
}

const MCSymMatrix* MCGLMOutputStats::GetCrossProducts() const {
    return fpImpl->fpCrossProducts.get();
}

const MCSymMatrix* MCGLMOutputStats::GetSweptCrossProducts() const {
    return fpImpl->fpSweptCrossProducts.get();
}

const std::vector<double>& MCGLMOutputStats::GetCrossProductScale() const {
    return fpImpl->fvCrossProductScale;
}

const MCSymMatrix* MCGLMOutputStats::GetCovarianceMatrix() const {
    return fpImpl->fpCovariance.get();
}
const std::vector<MCRegrParameterStats>& MCGLMOutputStats::GetParamStats() const {
    return fpImpl->fvParamStats;
}
const MCBitSet& MCGLMOutputStats::GetRedundancyIndicators() const {
    return fpImpl->fRedundancy;
}
const MCRegRecordValidator& MCGLMOutputStats::GetRecordValidator() const {
    return fpImpl->fpAlgorithm->GetRecordValidator();
}

bool MCGLMOutputStats::ExpandRow(const MCCommon_850::Record& record,
                                 std::vector<double>& row) const {
    return MCCommon_850::GuardAllocationOr(false, [&] {
        MCStatus ignored;
        if (!fpImpl->fpAlgorithm->GetRecordValidator().IsValid4Scoring(record, ignored))
            return false;
        row.assign(fpImpl->fvParameters.size(), 0.0);
        return fpImpl->fpAlgorithm->GetModel().ExpandRow(row, record.GetAll());
    });
}

void MCGLMOutputStats::Cancel() {
    fpImpl->fpAlgorithm->Cancel();
}

double MCGLMOutputStats::GetErrorDF() const {
    return fpImpl->fErrorDF;
}
double MCGLMOutputStats::GetErrorMeanSquare() const {
    return fpImpl->fErrorMS;
}
int MCGLMOutputStats::GetRank() const {
    return fpImpl->fRank;
}
long MCGLMOutputStats::GetNClusters() const {
    return fpImpl->fNClusters;
}
const std::vector<long>& MCGLMOutputStats::GetClusterCounts() const {
    return fpImpl->fvClusterCounts;
}
double MCGLMOutputStats::GetTestDF() const {
    if (fpImpl->fNClusters > 0) return static_cast<double>(fpImpl->fNClusters - 1);
    return fpImpl->fErrorDF;
}

void MCGLMOutputStats::Display() const {
    using namespace MCDisplay_850;
    const MCGLMOutStatsImpl& d = *fpImpl;
    DisplayText("MCGLMOutputStats display start");
    DisplayDV("Mean values", d.fvMeanValues);
    DisplayDV("Parameter estimates", d.fvEstimates);
    DisplayD("Total frequency weight", d.fTotalFreqWeight);
    DisplayD("Total regression weight", d.fTotalRegrWeight);
    DisplayD("Degrees of freedom", d.fDegFreedom);
    DisplayD("Multiple R-square", d.fRSquare);
    DisplayD("Root mean square error", d.fRMSE);
    DisplayD("Error degrees of freedom", d.fErrorDF);
    DisplayD("Error mean square", d.fErrorMS);
    DisplayI("Rank", d.fRank);
    for (const MCRegrParameterStats& s : d.fvParamStats) s.Display();
    if (d.fpCovariance) d.fpCovariance->Display();
    DisplayText("MCGLMOutputStats display end");
}

MCRegANOVA::MCRegANOVA()
    : fModelSS(MCMV::Missing()),
      fModelDF(MCMV::Missing()),
      fModelMS(MCMV::Missing()),
      fF(MCMV::Missing()),
      fSig(MCMV::Missing()),
      fErrorSS(MCMV::Missing()),
      fErrorDF(MCMV::Missing()),
      fErrorMS(MCMV::Missing()),
      fTotalSS(MCMV::Missing()),
      fTotalDF(MCMV::Missing()) {}

void MCRegANOVA::Display() const {
    using namespace MCDisplay_850;
    DisplayText("Start display of MCRegANOVA");
    DisplayText("Model");
    DisplayD("Sum of squares", fModelSS);
    DisplayD("Degrees of freedom", fModelDF);
    DisplayD("Mean square", fModelMS);
    DisplayD("F statistic", fF);
    DisplayD("Significance", fSig);
    DisplayText("Error");
    DisplayD("Sum of squares", fErrorSS);
    DisplayD("Degrees of freedom", fErrorDF);
    DisplayD("Mean square", fErrorMS);
    DisplayText("Total");
    DisplayD("Sum of squares", fTotalSS);
    DisplayD("Degrees of freedom", fTotalDF);
    DisplayText("End display of MCRegANOVA");
}

MCTypeIIIStats::MCTypeIIIStats()
    : fSS(MCMV::Missing()),
      fMS(MCMV::Missing()),
      fF(MCMV::Missing()),
      fDF1(MCMV::Missing()),
      fDF2(MCMV::Missing()),
      fSig(MCMV::Missing()),
      fEtaSquared(MCMV::Missing()),
      fPartialEtaSquared(MCMV::Missing()),
      fEtaCILower(MCMV::Missing()),
      fEtaCIUpper(MCMV::Missing()),
      fPartialEtaCILower(MCMV::Missing()),
      fPartialEtaCIUpper(MCMV::Missing()) {}

void MCTypeIIIStats::Display() const {
    using namespace MCDisplay_850;
    DisplayText("Start display of MCTypeIIIStats");
    DisplayI("Effect index", fEffectIndex);
    DisplayD("Type III sum of squares", fSS);
    DisplayD("Type III mean square", fMS);
    DisplayD("F statistic", fF);
    DisplayD("F degrees of freedom 1", fDF1);
    DisplayD("F degrees of freedom 2", fDF2);
    DisplayD("Significance of F", fSig);
    if (!MCMV::IsMissing(fEtaSquared)) {
        DisplayD("Eta squared", fEtaSquared);
        DisplayD("Eta squared CI lower bound", fEtaCILower);
        DisplayD("Eta squared CI upper bound", fEtaCIUpper);
    }
    if (!MCMV::IsMissing(fPartialEtaSquared)) {
        DisplayD("Partial eta squared", fPartialEtaSquared);
        DisplayD("Partial eta squared CI lower bound", fPartialEtaCILower);
        DisplayD("Partial eta squared CI upper bound", fPartialEtaCIUpper);
    }
    DisplayText("End display of MCTypeIIIStats");
}

}  // namespace MCMath_850
