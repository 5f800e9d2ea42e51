#include "logistic/MCRegOptimizer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <ctime>
#include <new>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCMathFun.h"
#include "companion/MCStatusCodes.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// Separation: every observed response fitted with at least this
// probability (complete), or near-singular information with some response
// fitted almost surely (quasi-complete).
const double kSeparationMargin = 0.01;
// How much further into the tails (in -ln of the smallest fitted
// probability) one step may take the fit.
const double kTrustedExtremity = 10.0;
const double kQuasiMaxObserved = 0.99;
const double kQuasiMinComputed = 0.001;
// Cholesky condition (sine of the smallest angle between a column and the
// earlier ones) below which the information counts as near-singular.
const double kNearSingular = 0.000316;
// Components smaller than this are compared absolutely in the relative
// parameter change.
const double kRelativeFloor = 1e-6;
// The Newton step is measured in standard errors by the Newton decrement
// sqrt(g' H^-1 g), which bounds max_j |step_j| / se_j. When it is at most
// this, the maximum may be reached within rounding, and the rounding of the
// scores is worked out (see StepWithinRounding).
const double kStepGate = 1e-6;

// A bound, never missing, from an accumulator.
double Bound(double b) {
    return std::isfinite(b) && b > 0.0 ? b : 0.0;
}

}  // namespace

MCRegOptimizer::MCRegOptimizer(const MCLogRegSettings& settings, const IMCRegModel& model,
                               IMCDataHandler* handler, IMCAccumStats* accum,
                               std::vector<double>& estimates,
                               MCCommon_850::ProgressListener* listener, int reportFrequency,
                               MCConst::MCHessianCompMethod method, int fisherIterations,
                               MCCancelInfo* cancel)
    : fSettings(settings),
      fModel(model),
      fpHandler(handler),
      fpAccum(accum),
      fNParams(std::max(model.GetNNonRedParams(), 0)),
      fNCategs(model.GetDependentNCategs()),
      fvEstimates(estimates),
      fMethod(method),
      fFisherIterations(fisherIterations),
      fLLCriterion(settings.GetLLConCriterion()),
      fParamCriterion(settings.GetParamEstConCriterion()),
      fMaxIterations(settings.GetMaxIterations()),
      fbLLAbsolute(settings.GetLLFuncChange()),
      fbParamAbsolute(settings.GetParamEstChange()),
      fInitialLL(MCMV::Missing()),
      fFinalLL(MCMV::Missing()),
      fOwnCancel(settings.GetCancelPointer()),
      fpCancel(cancel != nullptr ? cancel : &fOwnCancel),
      fpListener(listener),
      fReportFrequency(reportFrequency) {
    fvEstimates.resize(Ix(fNParams), 0.0);
    fpHessian = std::make_unique<MCSymMatrix>(fNParams);
    if (fpHandler == nullptr || fpAccum == nullptr)
        fStatus = ErrorStatus(StatusCode::kMissingInput);
}

MCRegOptimizer::~MCRegOptimizer() = default;

bool MCRegOptimizer::CancelSeen() {
    return fbCancelled || fpCancel->WillCancel();
}

// With the records split over several processes, every process must make
// the same passes: a cancel then counts only as the status that the
// processes agree on after a pass, never as a reason to skip one.
bool MCRegOptimizer::Cancelled() {
    return fSettings.GetPassReducer() == nullptr && CancelSeen();
}
double MCRegOptimizer::ReadLL() const {
    const double ll = fpAccum->GetLL();
    return MCMV::IsMissing(ll) ? ll : std::min(ll, 0.0);
}

double MCRegOptimizer::Elapsed() const {
    return static_cast<double>(std::clock()) / 1e6 - fStartSeconds;
}

void MCRegOptimizer::Report(int iteration, int halvings, double ll) {
    if (fpListener == nullptr) return;
    fReporter.SetInfo(fvEstimates, iteration, halvings, ll, Elapsed());
    fpListener->ReportIteration(fReporter);
    fLastReported = iteration;
}

// The condition that decides near-singularity compares the information left
// for each parameter, once the earlier ones are accounted for (the squared
// pivot of the factor), with that parameter's information at the start. A
// ratio to the matrix's own diagonal cannot see quasi-complete separation:
// there the information about the separating parameter collapses as its
// estimate runs off, while its column stays far from collinear with the
// others. A collinear design shrinks the pivot relative to both.
void MCRegOptimizer::Factor(int& refused, double& condition) {
    refused = 0;
    condition = 1.0;
    if (fNParams == 0) return;
    fpAccum->GetHessian(*fpHessian);
    if (fvStartInformation.empty()) fpHessian->GetDiagonal(fvStartInformation);
    double ownCondition = 1.0;
    refused = fpHessian->Cholesky(fSettings.GetTolerance(), ownCondition);
    if (refused > 0) {
        condition = 0.0;
        return;
    }
    for (int k = 0; k < fNParams; ++k) {
        const double start = fvStartInformation[Ix(k)];
        if (start > 0.0)
            condition = std::min(condition, std::fabs(fpHessian->GetElem(k, k)) / std::sqrt(start));
    }
}

MCStatus MCRegOptimizer::FullPass(MCConst::MCHessianCompMethod method, bool checking) {
    fpHandler->ResetAccumStats(method, checking);
    fvPassEstimates = fvEstimates;
    fStatus = fpHandler->ComputeStatsForOptimizer(false);
    MCCommon_850::PassReducer* reducer = fSettings.GetPassReducer();
    if (reducer == nullptr) return fStatus;
    if (!fStatus.IsError() && CancelSeen()) fStatus = ErrorStatus(StatusCode::kCancelled);
    if (!MCCommon_850::AgreeStatus(*reducer, fStatus) ||
        (!fStatus.IsError() && !fpAccum->MergeAcrossProcesses(*reducer)))
        fStatus = ErrorStatus(StatusCode::kMissingInput);
    return fStatus;
}

MCStatus MCRegOptimizer::Estimate() {
    if (fStatus.IsError()) return fStatus;
    const std::size_t p = Ix(fNParams);
    std::vector<double> step(p, 0.0), previous(p, 0.0);
    fStartSeconds = static_cast<double>(std::clock()) / 1e6;
    int countdown = fReportFrequency;
    const int maxHalvings = fSettings.GetMaxStepHalvingValue();
    const int separationStart = fSettings.GetStartingIteration();

    MCConst::MCHessianCompMethod method = fMethod;
    if (fMethod == MCConst::HESSIAN_HYBRID && fFisherIterations >= 1)
        method = MCConst::HESSIAN_FISHER;

    fpHandler->SetStatsModel(fpAccum, &fModel);
    FullPass(method, false);
    if (!fStatus.IsError()) Report(0, 0, ReadLL());
    double previousLL = MCMV::Missing();
    // The rounding bound of previousLL, and the extremity of its pass.
    double previousBound = 0.0, initialBound = 0.0;
    double previousExtremity = 0.0;
    int refused = 0;
    double condition = 1.0;
    if (!fStatus.IsError()) {
        fInitialLL = previousLL = ReadLL();
        previousBound = initialBound = Bound(fpAccum->GetLLRoundingBound());
        previousExtremity = Extremity();
        if (fNParams > 0) {
            Factor(refused, condition);
            NewtonStep(step);
        }
    }

    fIterations = 0;
    fConvergence = MCConst::CONVERGENCE_NONE;
    fbFinalStep = false;
    fbClassified = false;
    // Only the intercepts are estimated, and the start already is their fit.
    // The start is then also the final model, so that the model-fitting
    // test compares it with itself rather than with nothing.
    if ((fSettings.GetInterceptUse() && fNParams < fNCategs) || fNParams == 0 ||
        fMaxIterations == 0) {
        fConvergence = MCConst::CONVERGENCE_NOTHING_TO_ITERATE;
        fFinalLL = fInitialLL;
    }

    while (!fStatus.IsError() && fConvergence == MCConst::CONVERGENCE_NONE && !Cancelled()) {
        ++fIterations;
        previous = fvEstimates;
        int halvings = 0;
        double factor = 1.0;
        const bool checking = separationStart > 0 && separationStart <= fIterations;

        // A trial step is a full pass: when it is accepted, as nearly every
        // step is, its scores and information are those of the new
        // estimates, and the iteration needs no second pass. The sums do not
        // depend on the Hessian method, so this is the pass a
        // likelihood-only trial followed by a full pass would give.
        //
        // Near the maximum a Newton step changes the log-likelihood by less
        // than the rounding of its sums, and comparing two sums is then a coin
        // toss: a step counts as a loss only when the log-likelihood falls by
        // more than the two passes' rounding bounds together. Refusing such a
        // step would halve a correct step on noise and leave the estimates
        // short of the maximum, or end the run with no halving accepted.
        bool havePass = false;
        while (!Cancelled()) {
            MCMathFun::Daxpy(fNParams, factor, step.data(), 1, fvEstimates.data(), 1);
            if (FullPass(method, checking).IsError()) break;
            const double newLL = ReadLL();
            // A Newton step taken where the fitted probabilities are far
            // from the data's may carry some of them towards 0 by a factor
            // of 1e90: it may still gain, but the next step, of the order of
            // their inverse, is then useless and the information singular.
            // A step that takes the smallest probability down by more than
            // a factor e^kTrustedExtremity is shortened to that first (or at
            // least halved), in one trial rather than hundreds of halvings.
            const double grown = Extremity() - previousExtremity;
            if (grown > kTrustedExtremity && halvings < maxHalvings) {
                fvEstimates = previous;
                factor *= std::min(0.5, kTrustedExtremity / grown);
                ++halvings;
                continue;
            }
            const double noise = previousBound + Bound(fpAccum->GetLLRoundingBound());
            const bool accept = !MCMV::IsMissing(newLL) &&
                                (MCMV::IsMissing(previousLL) || newLL >= previousLL - noise);
            if (accept) {
                havePass = true;
                break;
            }
            fvEstimates = previous;
            if (halvings >= maxHalvings) {
                // A step within rounding of the maximum can seem to lose
                // likelihood only by rounding: its start is the maximum.
                fConvergence = fbFinalStep ? MCConst::CONVERGENCE_PARAMETERS
                                           : MCConst::CONVERGENCE_HALVING_EXHAUSTED;
                fLLChange = 0.0;
                fParamChange = 0.0;
                break;
            }
            factor /= 2.0 * fpAccum->GetStepAdjustmentFactor();
            ++halvings;
        }
        if (Cancelled()) {
            fbCancelled = true;
            fStatus = ErrorStatus(StatusCode::kCancelled);
        }
        if (fStatus.IsError()) break;
        if (!havePass && FullPass(method, checking).IsError()) break;

        fFinalLL = ReadLL();
        const double finalBound = Bound(fpAccum->GetLLRoundingBound());
        const double finalExtremity = Extremity();
        Factor(refused, condition);
        NewtonStep(step);
        if (fConvergence == MCConst::CONVERGENCE_NONE)
            fConvergence = CheckForConvergence(previous, previousLL, refused, condition, checking);
        if (fMethod == MCConst::HESSIAN_HYBRID && HybridSwitch(method)) {
            fConvergence = MCConst::CONVERGENCE_NONE;
            fFisherIterations = fIterations;
            if (FullPass(MCConst::HESSIAN_NEWTON, checking).IsError()) break;
            Factor(refused, condition);
            NewtonStep(step);
            if (refused > 0)
                fConvergence = MCConst::CONVERGENCE_SINGULAR;
            else
                method = MCConst::HESSIAN_NEWTON;
        }
        previousLL = fFinalLL;
        previousBound = finalBound;
        previousExtremity = finalExtremity;
        if (--countdown <= 0) {
            Report(fIterations, halvings, fFinalLL);
            countdown = fReportFrequency;
        }
    }

    // Steps are taken while they lose no more likelihood than rounding, so
    // a model no better than its start can end a few ulps below it: its
    // likelihood is the start's, and its model-fitting chi-square 0, not a
    // negative number that no significance can be given for.
    if (fFinalLL < fInitialLL && fInitialLL - fFinalLL <= initialBound + previousBound)
        fFinalLL = fInitialLL;
    if (Cancelled()) {
        fbCancelled = true;
        fStatus = ErrorStatus(StatusCode::kCancelled);
    }
    fpHandler->CleanStatsModel();
    if (!fStatus.IsError() && fConvergence != MCConst::CONVERGENCE_NONE && fNParams > 0) {
        fpHessian->InvertFromCholesky();
        int valid = 0, invalid = 0;
        fpAccum->GetCounts(valid, invalid, fWeight);
        // The last pass is nearly always that of the final estimates (an
        // accepted step, or the pass made after the halvings gave up), and
        // its table then saves the host a pass of its own; compared rather
        // than assumed, so that no path of the loop can hand over the table
        // of other estimates.
        fbClassified =
            fvPassEstimates == fvEstimates && fpAccum->GetClassification(fvClassification);
    }
    if (!fStatus.IsError() && fLastReported != fIterations) Report(fIterations, 0, fFinalLL);
    return fStatus;
}

bool MCRegOptimizer::GetClassification(std::vector<double>& counts) const {
    if (!fbClassified) return false;
    counts = fvClassification;
    return true;
}

double MCRegOptimizer::Extremity() const {
    const double p = fpAccum->GetSmallestProbability();
    if (!(p >= 0.0)) return 0.0;
    return -std::log(std::max(p, DBL_TRUE_MIN));
}

int MCRegOptimizer::CheckForConvergence(const std::vector<double>& previous, double previousLL,
                                        int refusedPivots, double condition, bool checking) {
    int code = MCConst::CONVERGENCE_NONE;
    if (checking) {
        double minObserved = 0.0, maxObserved = 0.0, minComputed = 0.0;
        fpAccum->GetMinMaxProbabilities(minObserved, maxObserved, minComputed);
        if (1.0 - minObserved <= kSeparationMargin && 1.0 - maxObserved <= kSeparationMargin)
            code = MCConst::CONVERGENCE_COMPLETE_SEPARATION;
        else if (condition <= kNearSingular)
            code = maxObserved > kQuasiMaxObserved || minComputed < kQuasiMinComputed
                       ? MCConst::CONVERGENCE_QUASI_SEPARATION
                       : MCConst::CONVERGENCE_SINGULAR;
    }
    if (code == MCConst::CONVERGENCE_NONE && refusedPivots > 0)
        code = MCConst::CONVERGENCE_SINGULAR;

    fLLChange = std::fabs(previousLL - fFinalLL);
    if (!fbLLAbsolute) fLLChange /= std::fabs(previousLL);
    if (code == MCConst::CONVERGENCE_NONE && fLLCriterion > fLLChange)
        code = MCConst::CONVERGENCE_LOGLIKELIHOOD;

    if (fNParams > 0) {
        fParamChange = fbParamAbsolute
                           ? MCMathFun::VNrm1Diff(fvEstimates, previous)
                           : MCMathFun::VMaxRelDiff(fvEstimates, previous, kRelativeFloor);
        // The step just taken was within the rounding of the maximum.
        bool met = fParamCriterion > fParamChange || fbFinalStep;
        // When the next step is within the rounding of the scores (see
        // StepWithinRounding), no iteration can change the estimates by more
        // than rounding: the run takes that step and stops, the parameter
        // criterion counting as met (unless it is 0, which asks for the
        // iteration limit). At the iteration limit it stops here.
        if (!met && code == MCConst::CONVERGENCE_NONE && fParamCriterion > 0.0 &&
            StepWithinRounding()) {
            if (fIterations >= fMaxIterations)
                met = true;
            else
                fbFinalStep = true;
        }
        if (met) {
            if (code == MCConst::CONVERGENCE_NONE) return MCConst::CONVERGENCE_PARAMETERS;
            if (code == MCConst::CONVERGENCE_LOGLIKELIHOOD) return MCConst::CONVERGENCE_BOTH;
            return code;
        }
    }
    if (code != MCConst::CONVERGENCE_NONE) return code;
    return fIterations >= fMaxIterations ? MCConst::CONVERGENCE_MAX_ITERATIONS
                                         : MCConst::CONVERGENCE_NONE;
}

void MCRegOptimizer::NewtonStep(std::vector<double>& step) {
    fStepSize = MCMV::Missing();
    fStepNoise = MCMV::Missing();
    if (fNParams == 0 || !fpHessian->LTSubstitute(fpAccum->GetScores(), step)) return;
    const std::vector<double>& g = fpAccum->GetScores();
    double decrement = 0.0;
    for (std::size_t i = 0; i < step.size(); ++i) decrement += g[i] * step[i];
    if (std::isfinite(decrement)) fStepSize = std::sqrt(std::max(decrement, 0.0));
}

// The step H^-1 g moves by H^-1 e when the scores are off by e. With
// |e_i| <= b_i (the accumulator's bounds) and se_i the square roots of the
// diagonal of H^-1, the Cauchy-Schwarz inequality bounds both
// |(H^-1 e)_j| / se_j and sqrt(e' H^-1 e) by sum_i b_i se_i: the rounding of
// the scores alone can make a Newton decrement of that size, and Newton's
// method, however exact, ends within twice it (the step before it was off
// by as much). The inverse is worked out only for a step already within
// kStepGate standard errors.
bool MCRegOptimizer::StepWithinRounding() {
    fStepNoise = MCMV::Missing();
    if (MCMV::IsMissing(fStepSize) || !(fStepSize <= kStepGate)) return false;
    std::vector<double> bounds;
    if (!fpAccum->GetScoreRoundingBounds(bounds) || bounds.size() != Ix(fNParams)) {
        // Without bounds only an exact 0 is within rounding.
        fStepNoise = 0.0;
        return fStepSize == 0.0;
    }
    double noise = 0.0;
    try {
        MCSymMatrix inverse(*fpHessian);
        if (!inverse.InvertFromCholesky()) return false;
        for (int i = 0; i < fNParams; ++i)
            noise += Bound(bounds[Ix(i)]) * std::sqrt(std::max(inverse.GetElem(i, i), 0.0));
    } catch (const std::bad_alloc&) {
        return false;
    }
    fStepNoise = noise;
    return fStepSize <= 2.0 * noise;
}

bool MCRegOptimizer::HybridSwitch(MCConst::MCHessianCompMethod current) const {
    if (fMethod != MCConst::HESSIAN_HYBRID || current != MCConst::HESSIAN_FISHER) return false;
    if (fConvergence == MCConst::CONVERGENCE_LOGLIKELIHOOD ||
        fConvergence == MCConst::CONVERGENCE_PARAMETERS ||
        fConvergence == MCConst::CONVERGENCE_BOTH)
        return true;
    if (fIterations < fFisherIterations) return false;
    return fConvergence == MCConst::CONVERGENCE_NONE;
}

int MCRegOptimizer::GetFisherIterInHybrid() const {
    if (fMethod != MCConst::HESSIAN_HYBRID || fIterations <= 0) return 0;
    return std::min(fFisherIterations, fIterations);
}

void MCRegOptimizer::GetEstStats(int& iterations, double& initialLL, double& finalLL,
                                 double& llChange, double& paramChange) const {
    iterations = fIterations;
    initialLL = fInitialLL;
    finalLL = fFinalLL;
    llChange = fLLChange;
    paramChange = fParamChange;
}

bool MCRegOptimizer::ComputeRSquares(double& coxSnell, double& nagelkerke, double& mcFadden) const {
    coxSnell = nagelkerke = mcFadden = 0.0;
    const double ll0 = fInitialLL, ll = fFinalLL, w = fWeight;
    if (fIterations == 0 || !(w > 0.0) || MCMV::IsMissing(ll0) || MCMV::IsMissing(ll)) return false;
    coxSnell = nagelkerke = mcFadden = MCMV::Missing();
    double x = (2.0 * ll0 - 2.0 * ll) / w;
    if (x <= MCPower::gMachineMaxExp) coxSnell = 1.0 - std::exp(x);
    if (!MCMV::IsMissing(coxSnell)) {
        x = 2.0 * ll0 / w;
        if (x <= MCPower::gMachineMaxExp && 1.0 - std::exp(x) != 0.0)
            nagelkerke = coxSnell / (1.0 - std::exp(x));
    }
    if (ll0 != 0.0)
        mcFadden = 1.0 - ll / ll0;
    else if (ll == 0.0)
        mcFadden = 0.0;
    return !MCMV::IsMissing(coxSnell) && !MCMV::IsMissing(nagelkerke) && !MCMV::IsMissing(mcFadden);
}

void MCRegOptimizer::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCRegOptimizer display start");
    DisplayI("Number of parameters", fNParams);
    DisplayI("Number of categories", fNCategs);
    DisplayDV("Parameter estimates", fvEstimates);
    DisplayI("Hessian method", static_cast<int>(fMethod));
    DisplayI("Fisher iterations", fFisherIterations);
    DisplayI("Convergence code", fConvergence);
    DisplayD("Log-likelihood criterion", fLLCriterion);
    DisplayD("Parameter criterion", fParamCriterion);
    DisplayI("Maximum iterations", fMaxIterations);
    DisplayB("Log-likelihood absolute change", fbLLAbsolute);
    DisplayB("Parameter absolute change", fbParamAbsolute);
    DisplayD("Initial log-likelihood", fInitialLL);
    DisplayD("Final log-likelihood", fFinalLL);
    DisplayI("Iterations", fIterations);
    DisplayD("Log-likelihood change", fLLChange);
    DisplayD("Parameter change", fParamChange);
    DisplayD("Newton step in standard errors", fStepSize);
    DisplayD("Its rounding", fStepNoise);
    DisplayD("Accumulated weight", fWeight);
    DisplayB("Cancelled", fbCancelled);
    DisplayI("Report frequency", fReportFrequency);
    DisplayI("Status", fStatus.GetErrorCode());
    if (fpHessian) fpHessian->Display();
    DisplayText("MCRegOptimizer display end");
}

}  // namespace MCMath_850
