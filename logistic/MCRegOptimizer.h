#pragma once
#include <memory>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCIterationReporter.h"
#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "companion/RecordIterator.h"
#include "settings/IMCRegInterfaces.h"
#include "settings/MCLogRegSettings.h"

namespace MCMath_850 {

// Maximum-likelihood estimation by Newton-type iterations with
// step-halving. Every pass over the data goes through the data handler,
// which feeds the accumulator; the optimizer reads back the log-likelihood,
// scores and Hessian, solves for the step with a Cholesky factorisation and
// decides convergence. It leaves the estimates in the caller's vector and
// the inverse of the final Hessian (the covariance of the estimates) in its
// own matrix.
//
// The accumulator's rounding bounds decide what rounding can hide: a step
// is halved only when the log-likelihood falls by more than the two passes'
// bounds, and when the Newton step from the estimates, in standard errors,
// is no larger than the rounding of the scores could make it, the run takes
// it and ends with the parameter criterion met (see the .cpp).
//
// Numerical trouble is never an error status: it ends the iterations with a
// convergence code (GetConverCrit).
class MCRegOptimizer {
public:
    // estimates is resized to the model's number of non-redundant parameters
    // and updated in place; the settings, model, handler, accumulator and
    // estimates must outlive the optimizer. cancel is the cancel state that
    // the data handler polls (so that a pass cut short by a cancel is never
    // taken for a finished one); without it the optimizer asks the settings'
    // cancel query.
    MCRegOptimizer(const MCLogRegSettings& settings, const IMCRegModel& model,
                   IMCDataHandler* handler, IMCAccumStats* accum, std::vector<double>& estimates,
                   MCCommon_850::ProgressListener* listener, int reportFrequency,
                   MCConst::MCHessianCompMethod method, int fisherIterations,
                   MCCancelInfo* cancel = nullptr);
    MCRegOptimizer(const MCRegOptimizer&) = delete;
    MCRegOptimizer& operator=(const MCRegOptimizer&) = delete;
    virtual ~MCRegOptimizer();

    // OK, the first error of a data pass, or 1 when cancelled.
    MCCommon_850::MCStatus Estimate();

    const std::vector<double>& GetParEstimates() const { return fvEstimates; }
    // The inverse of the final Hessian; null after ClearHessianGIMatrix().
    const MCSymMatrix* GetHessianGI() const { return fpHessian.get(); }
    void ClearHessianGIMatrix() { fpHessian.reset(); }
    // An MCConst::MCConvergence value.
    int GetConverCrit() const { return fConvergence; }
    void GetEstStats(int& iterations, double& initialLL, double& finalLL, double& llChange,
                     double& paramChange) const;
    int GetFisherIterInHybrid() const;
    // The Newton decrement sqrt(g' H^-1 g) at the final estimates (missing
    // when the information is not positive definite): a bound on the next
    // step's max_j |step_j| / se_j. Its rounding (missing unless worked
    // out; see the .cpp) is the size that the rounding of the scores alone
    // can give it.
    double GetFinalStepSize() const { return fStepSize; }
    double GetFinalStepRounding() const { return fStepNoise; }
    // Cox and Snell, Nagelkerke and McFadden; true when all three exist.
    bool ComputeRSquares(double& coxSnell, double& nagelkerke, double& mcFadden) const;
    // The accumulator's classification table (IMCAccumStats::
    // GetClassification) of the last pass, when that pass was made at the
    // final estimates of a finished run; false otherwise.
    bool GetClassification(std::vector<double>& counts) const;
    void Cancel() { fbCancelled = true; }
    void Display() const;

    // Whether a hybrid run switches from Fisher scoring to Newton-Raphson now.
    bool HybridSwitch(MCConst::MCHessianCompMethod current) const;
    // The convergence code after an iteration (see the class comment of the
    // codes); also measures the changes of the log-likelihood and estimates.
    // -ln of the last pass's smallest fitted probability (0 when the
    // accumulator keeps none).
    double Extremity() const;
    int CheckForConvergence(const std::vector<double>& previous, double previousLL,
                            int refusedPivots, double condition, bool checking);

private:
    // A cancel asked for, on this process.
    bool CancelSeen();
    // A cancel that ends the estimation at once (see the .cpp).
    bool Cancelled();
    // The accumulator's log-likelihood, never above 0.
    double ReadLL() const;
    // One full pass at the current estimates (merged over the processes
    // when the records are split).
    MCCommon_850::MCStatus FullPass(MCConst::MCHessianCompMethod method, bool checking);
    void Factor(int& refused, double& condition);
    // step = H^-1 g from the factor, and the Newton decrement.
    void NewtonStep(std::vector<double>& step);
    // Whether the Newton decrement is within the rounding of the scores.
    bool StepWithinRounding();
    void Report(int iteration, int halvings, double ll);
    double Elapsed() const;

    const MCLogRegSettings& fSettings;
    const IMCRegModel& fModel;
    IMCDataHandler* fpHandler;
    IMCAccumStats* fpAccum;
    int fNParams;
    int fNCategs;
    std::vector<double>& fvEstimates;
    std::unique_ptr<MCSymMatrix> fpHessian;
    MCConst::MCHessianCompMethod fMethod;
    int fFisherIterations;
    int fConvergence = MCConst::CONVERGENCE_NOTHING_TO_ITERATE;
    double fLLCriterion;
    double fParamCriterion;
    int fMaxIterations;
    bool fbLLAbsolute;
    bool fbParamAbsolute;
    double fInitialLL;
    double fFinalLL;
    int fIterations = 0;
    double fLLChange = 0.0;
    double fParamChange = 0.0;
    double fStepSize = MCCommon_850::MCMV::Missing();
    double fStepNoise = MCCommon_850::MCMV::Missing();
    // The step being taken is within the rounding of the maximum, and the
    // last.
    bool fbFinalStep = false;
    double fWeight = 0.0;
    bool fbCancelled = false;
    MCCancelInfo fOwnCancel;
    MCCancelInfo* fpCancel;
    MCCommon_850::ProgressListener* fpListener;
    int fReportFrequency;
    MCCommon_850::MCStatus fStatus;
    MCIterationReporter fReporter;
    double fStartSeconds = 0.0;
    // The diagonal of the information at the start (see Factor).
    std::vector<double> fvStartInformation;
    int fLastReported = -1;
    // The estimates of the last pass, and the table the run ended with.
    std::vector<double> fvPassEstimates;
    std::vector<double> fvClassification;
    bool fbClassified = false;
};

}  // namespace MCMath_850
