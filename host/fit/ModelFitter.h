#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/fit/FittedModel.h"
#include "host/fit/GlmFit.h"
#include "host/fit/LogisticFit.h"
#include "host/model/ModelSpec.h"
#include "host/run/Processes.h"

namespace mchost {

// What a fit is asked for, for either model.
class FitOptions {
public:
    bool fbLogistic = false;  // a multinomial logistic model, else a general linear one
    double fConfidence = 0.95;
    // Whether level makes intervals: strictly between 0 and 1, and far
    // enough from 1 that 1 - (1 - level) / 2, whose quantile bounds them,
    // is not 1 in doubles (the interval would be infinite).
    static bool IntervalLevel(double level) {
        return level > 0.0 && level < 1.0 && 1.0 - (1.0 - level) / 2.0 < 1.0;
    }
    static constexpr const char* kLevelRule =
        "must lie strictly between 0 and 1, short of 1 by more than 1e-16";
    // General linear model: keep the covariance matrix of the estimates in
    // the result.
    bool fbCovariance = false;
    // Logistic: "first", "last" or the text of a category of the dependent.
    std::string fReference = "last";
    int fMaxIterations = 100;
    // How many parts of a fit made in parts compute at once (0: the cores
    // the process may use). The parts themselves, and so the results, do
    // not depend on it.
    int fThreads = 0;
    // Whether the fit makes the result that the reports print. The parts
    // of a fit made in parts but the first only lend their sums to the one
    // model, and go when it is fitted: a general linear part without it
    // is left unfitted (no statistics, no scoring).
    bool fbSummary = true;
};

// What a fit says as it goes. Called only while Fit runs.
class FitProgress {
public:
    // General linear model: the number of parameters (the sweep's pivots),
    // after pass 1.
    std::function<void(std::size_t)> fParameters;
    // Logistic: each iteration of the estimation.
    IterationCallback fIteration;
    // A fit the host makes over the records it holds: the pass (1 for the
    // first) and the records handed out in it so far, over all parts, every
    // few ten thousand records and when a part has handed out its last.
    std::function<void(int pass, std::size_t records)> fRecords;
};

// Fits one model over a spec's records and keeps it: the component, its
// statistics, the result the reports print. It scores records and writes
// predictions for either model. With several processes (processes split)
// every process fits its own part into the one model, and what the fitter
// sums itself over the records (the classification table) is summed over
// all the parts, on every process.
class ModelFitter {
public:
    // Throws HostError (data) for a logistic dependent with fewer than two
    // categories and for a reference that is not one of them. The ModelSpec and
    // processes must outlive the fitter.
    ModelFitter(const ModelSpec& spec, const FitOptions& options, Processes* processes = nullptr);
    ~ModelFitter();
    ModelFitter(const ModelFitter&) = delete;
    ModelFitter& operator=(const ModelFitter&) = delete;

    // Fits the model over the records, replacing any earlier fit. The
    // library polls cancel, when given, between records and in its sweeps
    // and iterations; it is kept for scoring, so it must outlive the fit.
    // Throws LibraryError when the library fails (status 1: interrupted).
    void Fit(MCCommon_850::MultiPassRecordIter& records,
             MCCommon_850::MCQueryCancel* cancel = nullptr,
             const FitProgress& progress = FitProgress());

    bool IsLogistic() const;
    bool IsFitted() const;
    // After Fit, of the model fitted; throws std::logic_error otherwise.
    const GlmResult& GetGlmResult() const;
    const LogisticResult& GetLogisticResult() const;
    // After Fit: the fit as the analyses after it read it (valid while the
    // fitter lives and does not fit again).
    FittedModel GetFitted() const;

    // After Fit: one record's prediction. False for a record the fit did not
    // use or cannot score; otherwise value is the predicted value (general
    // linear) or the predicted category's code (logistic), probabilities
    // the probability of each category in category order (logistic).
    bool Score(const MCCommon_850::Record& record, double& value,
               std::vector<double>& probabilities) const;

    // After Fit: one CSV row per record, in order. General linear: the
    // predicted value and the residual (observed minus predicted).
    // Logistic: the probability of each category (columns p_<category>, in
    // category order) and the predicted category. Empty cells for a record
    // the fit did not use.
    void WritePredictions(MCCommon_850::MultiPassRecordIter& records, std::ostream& out) const;

private:
    class Impl;
    std::unique_ptr<Impl> fpImpl;
};

}  // namespace mchost
