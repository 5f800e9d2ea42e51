#include "logistic/MCLogOutputStats.h"

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"
#include "logistic/MCLogAlgorithm.h"
#include "settings/MCWaldTest.h"

namespace MCMath_850 {

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;

namespace {

double Exponent(double x) {
    double out = MCMV::Missing();
    if (!MCMV::IsMissing(x)) MCPower::Exponent(x, out);
    return out;
}

// Each parameter's Wald chi-square and its normal interval at the level
// asked for, as every other contrast of the model is tested.
void TestParameters(const MCSymMatrix& covariance, double confidence,
                    std::vector<MCRegrParameterStats>& stats) {
    const double critical = MCWaldTest::Critical(MCWaldTest::FAMILY_CHISQUARE, MCMV::Missing(),
                                                 confidence, MCConst::PADJ_LSD, 1);
    for (MCRegrParameterStats& s : stats) {
        if (s.fbRedundant || s.fParamIndex >= covariance.GetNRows()) continue;
        MCWaldTest::Input in;
        in.fEstimate = s.fEstimate;
        in.fVariance = covariance.GetElem(s.fParamIndex, s.fParamIndex);
        in.fFamily = MCWaldTest::FAMILY_CHISQUARE;
        const MCWaldTest::Result r = MCWaldTest::Test(in, critical);
        if (!r.fbTested) continue;
        s.fStdError = r.fStdError;
        s.fChiSquare = r.fStatistic;
        s.fDF = 1.0;
        s.fSig = r.fSig;
        s.fCILower = r.fLower;
        s.fCIUpper = r.fUpper;
        s.fbExpCI = true;
        s.fExpCILower = Exponent(r.fLower);
        s.fExpCIUpper = Exponent(r.fUpper);
    }
}

}  // namespace

class MCLogOutputStats::MCLogOutStatsImpl {
public:
    const MCRegSettings* fpSettings;
    MCLogAlgorithm* fpAlgorithm;
    const std::vector<double>* fMeanValues;
    const MCFactorCounts* fFactorCounts;
    const std::vector<MCRegrParameter>* fParameters;
    const std::vector<double>* fParamEstimates;
    double fTotalFreqWeight;
    double fTotalRegrWeight;
    double fNDegFreedom;
    double fCoxSnellRSquare = MCMV::Missing();
    double fNagelkerkeRSquare = MCMV::Missing();
    double fMcFaddenRSquare = MCMV::Missing();
    const MCSymMatrix* fpCovariance;
    std::vector<MCRegrParameterStats> fParamStats;
    MCBitSet fRedundancy;

    MCLogOutStatsImpl(const MCRegSettings& settings, MCLogAlgorithm& algorithm)
        : fpSettings(&settings),
          fpAlgorithm(&algorithm),
          fMeanValues(&algorithm.GetMeanValues()),
          fFactorCounts(&algorithm.GetFactorCounts()),
          fParameters(&algorithm.GetModel().GetParameters()),
          fParamEstimates(&algorithm.GetModel().GetParamEstimates()),
          fTotalFreqWeight(algorithm.GetTotalWeight()),
          fTotalRegrWeight(algorithm.GetTotalRegrWeight()),
          fpCovariance(algorithm.GetRobustCovariance() != nullptr
                           ? algorithm.GetRobustCovariance()
                           : algorithm.GetModel().GetHessianGI()) {}
};

MCLogOutputStats::MCLogOutputStats(const MCRegSettings& settings, MCLogAlgorithm& algorithm)
    : fpImpl(std::make_unique<MCLogOutStatsImpl>(settings, algorithm)) {
    MCLogOutStatsImpl& d = *fpImpl;
    const MCLogModel& model = algorithm.GetModel();
    const int p = model.GetNParameters();
    d.fParamStats.resize(Ix(p));
    d.fRedundancy.Resize(p);
    d.fNDegFreedom = settings.GetDF() > 0.0 ? settings.GetDF() : d.fTotalRegrWeight - p;
    if (const MCRegOptimizer* optimizer = algorithm.GetOptimizer())
        optimizer->ComputeRSquares(d.fCoxSnellRSquare, d.fNagelkerkeRSquare, d.fMcFaddenRSquare);

    const MCBitSet& set = model.GetRedundancyInfo();
    if (set.Size() != p) return;
    for (int i = 0; i < p; ++i) {
        const std::size_t k = Ix(i);
        MCRegrParameterStats& s = d.fParamStats[k];
        s.fParamIndex = i;
        s.fEstimate = (*d.fParamEstimates)[k];
        s.fbRedundant = !set.IsIn(i);
        d.fRedundancy.Set(i, set.IsIn(i));
        s.fEffectIndex = (*d.fParameters)[k].GetEffectIndex();
    }
    if (d.fpCovariance != nullptr)
        TestParameters(*d.fpCovariance, settings.GetConfidenceLevel(), d.fParamStats);
}

MCLogOutputStats::~MCLogOutputStats() = default;

const MCFactorCounts* MCLogOutputStats::GetFactorCounts() const {
    return fpImpl->fFactorCounts;
}
const std::vector<double>& MCLogOutputStats::GetMeanValues() const {
    return *fpImpl->fMeanValues;
}
const std::vector<double>& MCLogOutputStats::GetParamEstimates() const {
    return *fpImpl->fParamEstimates;
}
const std::vector<MCRegrParameter>& MCLogOutputStats::GetParameters() const {
    return *fpImpl->fParameters;
}
double MCLogOutputStats::GetTotalFreqWeight() const {
    return fpImpl->fTotalFreqWeight;
}
double MCLogOutputStats::GetTotalRegrWeight() const {
    return fpImpl->fTotalRegrWeight;
}
double MCLogOutputStats::GetNDegFreedom() const {
    return fpImpl->fNDegFreedom;
}

double MCLogOutputStats::GetModelFitStat(MCConst::MCModelFitStat stat) const {
    switch (stat) {
        case MCConst::FIT_COX_SNELL:
            return fpImpl->fCoxSnellRSquare;
        case MCConst::FIT_NAGELKERKE:
            return fpImpl->fNagelkerkeRSquare;
        case MCConst::FIT_MCFADDEN:
            return fpImpl->fMcFaddenRSquare;
        default:
            return MCMV::Missing();
    }
}

const std::vector<long>& MCLogOutputStats::GetClusterCounts() const {
    return fpImpl->fpAlgorithm->GetClusterCounts();
}

const MCSymMatrix* MCLogOutputStats::GetCovarianceMatrix() const {
    return fpImpl->fpCovariance;
}
const std::vector<MCRegrParameterStats>& MCLogOutputStats::GetParamStats() const {
    return fpImpl->fParamStats;
}
const MCBitSet& MCLogOutputStats::GetRedundancyIndicators() const {
    return fpImpl->fRedundancy;
}
const MCRegRecordValidator& MCLogOutputStats::GetRecordValidator() const {
    return fpImpl->fpAlgorithm->GetRecordValidator();
}

bool MCLogOutputStats::ExpandRow(const Record& record, std::vector<double>& row) const {
    return MCCommon_850::GuardAllocationOr(false, [&] {
        MCStatus status;
        if (!fpImpl->fpAlgorithm->GetRecordValidator().IsValid4Scoring(record, status))
            return false;
        row.assign(fpImpl->fParamStats.size(), 0.0);
        return fpImpl->fpAlgorithm->GetModel().ExpandRow(row, record.GetAll());
    });
}

bool MCLogOutputStats::ExpandRow(const Record& record, std::vector<int>& indices,
                                 std::vector<double>& values) const {
    return MCCommon_850::GuardAllocationOr(false, [&] {
        MCStatus status;
        if (!fpImpl->fpAlgorithm->GetRecordValidator().IsValid4Scoring(record, status))
            return false;
        return fpImpl->fpAlgorithm->GetModel().ExpandRow(record.GetAll(), indices, values);
    });
}

const std::vector<int>& MCLogOutputStats::GetDependCategories() const {
    return fpImpl->fpAlgorithm->GetModel().GetDependCategories();
}

bool MCLogOutputStats::GetFinalPassClassification(std::vector<double>& counts) const {
    const MCRegOptimizer* o = fpImpl->fpAlgorithm->GetOptimizer();
    return o != nullptr && o->GetClassification(counts);
}

const std::vector<double>& MCLogOutputStats::GetCategoryWeights() const {
    return fpImpl->fpAlgorithm->GetModel().GetWeightedCounts();
}

const std::vector<double>& MCLogOutputStats::GetCategoryCounts() const {
    return fpImpl->fpAlgorithm->GetModel().GetUnweightedCounts();
}

namespace {

struct EstimationFigures {
    int iterations = 0;
    double initial = MCMV::Missing(), final = MCMV::Missing(), dll = 0.0, dpar = 0.0;
};

EstimationFigures Figures(const MCLogAlgorithm& algorithm) {
    EstimationFigures f;
    if (const MCRegOptimizer* o = algorithm.GetOptimizer())
        o->GetEstStats(f.iterations, f.initial, f.final, f.dll, f.dpar);
    return f;
}

}  // namespace

int MCLogOutputStats::GetIterations() const {
    return Figures(*fpImpl->fpAlgorithm).iterations;
}

int MCLogOutputStats::GetConvergenceCode() const {
    const MCRegOptimizer* o = fpImpl->fpAlgorithm->GetOptimizer();
    return o != nullptr ? o->GetConverCrit() : MCConst::CONVERGENCE_NOTHING_TO_ITERATE;
}

double MCLogOutputStats::GetInitialLogLikelihood() const {
    return Figures(*fpImpl->fpAlgorithm).initial;
}

double MCLogOutputStats::GetFinalLogLikelihood() const {
    return Figures(*fpImpl->fpAlgorithm).final;
}

int MCLogOutputStats::GetNBasicParameters() const {
    return fpImpl->fpAlgorithm->GetModel().GetNBasicParameters();
}

const MCBitSet& MCLogOutputStats::GetBasicRedundancy() const {
    return fpImpl->fpAlgorithm->GetModel().GetBasicRedundInfo();
}

bool MCLogOutputStats::GetParamsForEffect(int effect, int& first, int& count) const {
    return fpImpl->fpAlgorithm->GetModel().GetParamsForEffect(effect, first, count);
}

const std::vector<double>& MCLogOutputStats::GetBasicCrossProductDiagonal() const {
    return fpImpl->fpAlgorithm->GetModel().GetBasicDiagonal();
}

const MCSymMatrix* MCLogOutputStats::GetSweptCrossProduct() const {
    return fpImpl->fpAlgorithm->GetModel().GetXPrimeX();
}

const MCSymMatrix* MCLogOutputStats::GetCrossProduct() const {
    return fpImpl->fpAlgorithm->GetModel().GetUnsweptXPrimeX();
}

void MCLogOutputStats::Cancel() {
    fpImpl->fpAlgorithm->Cancel();
}

void MCLogOutputStats::Display() const {
    using namespace MCDisplay_850;
    const MCLogOutStatsImpl& d = *fpImpl;
    DisplayText("MCLogOutputStats display start");
    DisplayDV("fMeanValues", *d.fMeanValues);
    DisplayDV("fParamEstimates", *d.fParamEstimates);
    DisplayI("Number of parameters", static_cast<long long>(d.fParameters->size()));
    DisplayD("fTotalFreqWeight", d.fTotalFreqWeight);
    DisplayD("fTotalRegrWeight", d.fTotalRegrWeight);
    DisplayD("fNDegFreedom", d.fNDegFreedom);
    DisplayD("fCoxSnellRSquare", d.fCoxSnellRSquare);
    DisplayD("fNagelkerkeRSquare", d.fNagelkerkeRSquare);
    DisplayD("fMcFaddenRSquare", d.fMcFaddenRSquare);
    if (d.fpCovariance) d.fpCovariance->Display();
    for (const MCRegrParameterStats& s : d.fParamStats) s.Display();
    DisplayText("MCLogOutputStats display end");
}

}  // namespace MCMath_850
