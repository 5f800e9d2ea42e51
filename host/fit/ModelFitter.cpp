#include "host/fit/ModelFitter.h"

#include <charconv>
#include <stdexcept>
#include <utility>

#include "companion/MCIterationReporter.h"
#include "components/MCRegFactory.h"
#include "host/fit/FitScorer.h"
#include "host/fit/RecordPass.h"

namespace mchost {

using MCCommon_850::MCStatus;
using MCCommon_850::Record;

namespace {

// The iterations of a logistic fit, kept as they are reported. The
// component keeps a pointer to it for its whole life; the caller's callback
// is held only while Fit runs.
class IterationListener : public MCCommon_850::ProgressListener {
public:
    void Start(const IterationCallback& callback) {
        fvRows.clear();
        fCallback = callback;
    }
    void Stop() { fCallback = nullptr; }
    const std::vector<IterationRow>& Rows() const { return fvRows; }

    void ReportIteration(const MCMath_850::MCIterationReporter& r) override {
        IterationRow row;
        row.fIteration = r.GetIteration();
        row.fHalvings = r.GetHalvings();
        row.fLogLikelihood = HostValue(r.GetLogLikelihood());
        fvRows.push_back(row);
        if (fCallback) fCallback(row);
    }

private:
    std::vector<IterationRow> fvRows;
    IterationCallback fCallback;
};

// Drops the caller's callback however Fit ends.
class ListeningScope {
public:
    ListeningScope(IterationListener& listener, const IterationCallback& callback)
        : fListener(listener) {
        fListener.Start(callback);
    }
    ~ListeningScope() { fListener.Stop(); }
    ListeningScope(const ListeningScope&) = delete;
    ListeningScope& operator=(const ListeningScope&) = delete;

private:
    IterationListener& fListener;
};

// The text of %.17g, at a fraction of printf's cost.
void AppendNumber(std::string& line, double v) {
    char number[32];
    const std::to_chars_result text =
        std::to_chars(number, number + sizeof number, v, std::chars_format::general, 17);
    line.append(number, text.ptr);
}

// Quoted when it holds a delimiter, a quote or a line end, or has blanks at
// an end, which a reader (the program's own) trims from a field unquoted.
std::string CsvField(const std::string& s) {
    const bool blankEnd = !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' ||
                                         s.back() == '\t');
    if (!blankEnd && s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

class ModelFitter::Impl {
public:
    const ModelSpec* fpSpec = nullptr;
    FitOptions fOptions;
    Processes* fpProcesses = nullptr;
    std::unique_ptr<LogisticSetup> fpLogistic;  // null for a general linear model
    int fFreqWeightPosition = -1;
    // Declared before the component, which points to it, so that it dies
    // after the component.
    IterationListener fListener;
    std::unique_ptr<MCMath_850::IMCRegComponent> fpComponent;
    const MCMath_850::IMCRegOutputStats* fpStats = nullptr;  // the component's
    // The fitted model as the scorer of new records has it: the fit's
    // predictions are those of the model it writes.
    std::unique_ptr<FitScorer> fpScorer;
    MCCommon_850::MCQueryCancel* fpCancel = nullptr;  // the fit's, polled while scoring
    GlmResult fGlm;
    LogisticResult fLogistic;

    void Require() const {
        if (fpStats == nullptr) throw std::logic_error("the model has not been fitted");
    }
    FittedModel Fitted() const;
    std::unique_ptr<MCMath_850::IMCRegComponent> Create(MCMath_850::MCRegSettings& settings) const;
    void FitGlm(MCCommon_850::MultiPassRecordIter& records, MCCommon_850::MCQueryCancel* cancel,
                const FitProgress& progress);
    void FitLogistic(MCCommon_850::MultiPassRecordIter& records,
                     MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress);
    void Classify(MCCommon_850::MultiPassRecordIter& records);

    // Scores a record the fit used; false when it cannot be scored.
    bool ScoreUsed(const Record& record, double& value, std::vector<double>& probabilities) const;
    // The one scoring pass: visit(record, scored, value, probabilities) for
    // every record in order, scored false for a record the fit did not use
    // or cannot score.
    template <class Visit>
    void ForEachScored(MCCommon_850::MultiPassRecordIter& records, Visit&& visit) const {
        double value = 0.0;
        std::vector<double> probabilities;
        ForEachUsed(records, [&](const Record& record, bool used) {
            const bool scored = used && ScoreUsed(record, value, probabilities);
            visit(record, scored, value, probabilities);
        });
    }
    // A pass of the host's own after the fit: visit(record, used) for every
    // record in order.
    template <class Visit>
    void ForEachUsed(MCCommon_850::MultiPassRecordIter& records, Visit&& visit) const {
        std::size_t n = 0;
        ForEachRecord(*fpStats, records, nullptr, [&](const Record& record, bool used) {
            // A cancel stops the pass rather than leave rows empty; asked
            // every few hundred records, as the query may take a lock.
            if ((n++ & 255) == 0 && fpCancel != nullptr && fpCancel->IsCancel())
                throw HostError(HostError::kInterrupted, "interrupted");
            visit(record, used);
        });
    }
};

std::unique_ptr<MCMath_850::IMCRegComponent> ModelFitter::Impl::Create(
    MCMath_850::MCRegSettings& settings) const {
    MCMath_850::MCRegFactory factory;
    std::unique_ptr<MCMath_850::IMCRegComponent> component(factory.CreateRegAlgorithm(settings));
    if (!component) ThrowLibraryError(factory.GetStatus());
    return component;
}

void ModelFitter::Impl::FitGlm(MCCommon_850::MultiPassRecordIter& records,
                               MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress) {
    MCMath_850::MCRegSettings settings = fpSpec->GetSettings();
    settings.SetCancelPointer(cancel);
    // A part of a fit made on threads merges through its own reducer.
    if (fpProcesses != nullptr) settings.SetPassReducer(fpProcesses->Reducer());
    std::unique_ptr<MCMath_850::IMCRegComponent> component = Create(settings);
    MCStatus status;
    if (progress.fParameters) {
        std::vector<MCMath_850::MCRegrParameter> created;
        status = component->CreateParameters(records, created);
        if (status.IsError()) ThrowLibraryError(status);
        progress.fParameters(created.size());
    }
    status = component->BuildModel(records);
    if (status.IsError()) ThrowLibraryError(status);
    // A part that only lends its sums to the one model goes when the fit
    // ends: its statistics (a copy of the covariance) and scorer would be
    // made for nothing.
    if (!fOptions.fbSummary) {
        fpComponent = std::move(component);
        return;
    }
    MCMath_850::IMCRegOutputStats* out = nullptr;
    status = component->GetOutputStats(out);
    if (status.IsError()) ThrowLibraryError(status);
    const auto& glm = dynamic_cast<const MCMath_850::MCGLMOutputStats&>(*out);
    fGlm = SummariseGlm(*fpSpec, *component, glm, fOptions.fConfidence, fOptions.fbCovariance);
    fpComponent = std::move(component);
    fpStats = out;
    fpScorer = std::make_unique<FitScorer>(Fitted());
}

void ModelFitter::Impl::FitLogistic(MCCommon_850::MultiPassRecordIter& records,
                                    MCCommon_850::MCQueryCancel* cancel,
                                    const FitProgress& progress) {
    MCMath_850::MCLogRegSettings settings = fpLogistic->fSettings;
    settings.SetCancelPointer(cancel);
    if (fpProcesses != nullptr) settings.SetPassReducer(fpProcesses->Reducer());
    settings.SetProgressListener(&fListener);
    std::unique_ptr<MCMath_850::IMCRegComponent> component = Create(settings);
    MCMath_850::IMCRegOutputStats* out = nullptr;
    {
        const ListeningScope listening(fListener, progress.fIteration);
        MCStatus status = component->BuildModel(records);
        if (status.IsError()) ThrowLibraryError(status);
        status = component->GetOutputStats(out);
        if (status.IsError()) ThrowLibraryError(status);
    }
    const auto& stats = dynamic_cast<const MCMath_850::MCLogOutputStats&>(*out);
    if (fOptions.fbSummary) fLogistic = SummariseLogistic(*fpSpec, *fpLogistic, *component, stats);
    fLogistic.fvIterations = fListener.Rows();
    fpComponent = std::move(component);
    fpStats = out;
    fpScorer = std::make_unique<FitScorer>(Fitted());
    Classify(records);
}

bool ModelFitter::Impl::ScoreUsed(const Record& record, double& value,
                                  std::vector<double>& probabilities) const {
    return fpScorer->Score(record, value, probabilities);
}

void ModelFitter::Impl::Classify(MCCommon_850::MultiPassRecordIter& records) {
    const std::size_t k = fpLogistic->fvCategories.size();
    fLogistic.fvClassification.assign(k, std::vector<double>(k, 0.0));
    // The estimation's last pass may have counted the table already, as the
    // scorer predicts, summed over every part and process: it then saves a
    // pass over the records. Every process gets the same answer, so all of
    // them skip the sum below alike.
    const auto& stats = static_cast<const MCMath_850::MCLogOutputStats&>(*fpStats);
    std::vector<double> local;
    if (stats.GetFinalPassClassification(local)) {
        const std::vector<int>& codes = stats.GetDependCategories();
        const std::size_t j = codes.size();
        if (local.size() != j * j) throw std::logic_error("a classification table of another size");
        for (std::size_t o = 0; o < j; ++o)
            for (std::size_t p = 0; p < j; ++p) {
                const auto observed = static_cast<std::size_t>(codes[o]);
                const auto predicted = static_cast<std::size_t>(codes[p]);
                if (observed < k && predicted < k)
                    fLogistic.fvClassification[observed][predicted] += local[o * j + p];
            }
        return;
    }
    std::vector<double> counts(k * k, 0.0);
    const bool split = fpProcesses != nullptr && fpProcesses->IsSplit();
    // An interrupt may reach one process alone (a signal sent to it): the
    // others would wait at the sum for ever. It goes to the sum as a count
    // of its own, which stops every process alike.
    bool interrupted = false;
    try {
        // Only the predicted category counts here, which needs no probability.
        ForEachUsed(records, [&](const Record& record, bool used) {
            double value = 0.0;
            if (!used || !fpScorer->Predict(record, value)) return;
            const auto observed = static_cast<std::size_t>(record[0] + 0.5);
            const auto predicted = static_cast<std::size_t>(value + 0.5);
            if (observed >= k || predicted >= k) return;
            counts[observed * k + predicted] +=
                fFreqWeightPosition >= 0 ? record[fFreqWeightPosition] : 1.0;
        });
    } catch (const HostError& e) {
        if (!split || e.GetKind() != HostError::kInterrupted) throw;
        interrupted = true;
    }
    // Each process (and each part of a process) counted its own records.
    if (split) {
        counts.push_back(interrupted ? 1.0 : 0.0);
        fpProcesses->Sum(counts);
        if (counts.back() > 0.0) throw HostError(HostError::kInterrupted, "interrupted");
        counts.pop_back();
    }
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j) fLogistic.fvClassification[i][j] = counts[i * k + j];
}

ModelFitter::ModelFitter(const ModelSpec& spec, const FitOptions& options, Processes* processes)
    : fpImpl(std::make_unique<Impl>()) {
    Impl& d = *fpImpl;
    d.fpSpec = &spec;
    d.fOptions = options;
    d.fpProcesses = processes;
    for (std::size_t p = 0; p < spec.GetVariables().size(); ++p)
        if (spec.GetVariables()[p].fRole == ModelVariable::kFreqWeight)
            d.fFreqWeightPosition = static_cast<int>(p);
    if (options.fbLogistic)
        d.fpLogistic = std::make_unique<LogisticSetup>(
            PrepareLogistic(spec, options.fReference, options.fMaxIterations, options.fConfidence));
}

ModelFitter::~ModelFitter() = default;

void ModelFitter::Fit(MCCommon_850::MultiPassRecordIter& records,
                      MCCommon_850::MCQueryCancel* cancel, const FitProgress& progress) {
    Impl& d = *fpImpl;
    // The statistics belong to the component: both go, in that order.
    d.fpScorer.reset();
    d.fpCancel = cancel;
    d.fpStats = nullptr;
    d.fpComponent.reset();
    d.fGlm = GlmResult();
    d.fLogistic = LogisticResult();
    if (d.fpLogistic)
        d.FitLogistic(records, cancel, progress);
    else
        d.FitGlm(records, cancel, progress);
}

bool ModelFitter::IsLogistic() const {
    return fpImpl->fpLogistic != nullptr;
}

bool ModelFitter::IsFitted() const {
    return fpImpl->fpStats != nullptr;
}

const GlmResult& ModelFitter::GetGlmResult() const {
    fpImpl->Require();
    if (IsLogistic()) throw std::logic_error("a logistic fit has no general linear result");
    return fpImpl->fGlm;
}

const LogisticResult& ModelFitter::GetLogisticResult() const {
    fpImpl->Require();
    if (!IsLogistic()) throw std::logic_error("a general linear fit has no logistic result");
    return fpImpl->fLogistic;
}

FittedModel ModelFitter::Impl::Fitted() const {
    FittedModel m;
    m.fpSpec = fpSpec;
    m.fpSettings = &fpComponent->GetCompSettings();
    m.fpComponent = fpComponent.get();
    m.fpStats = fpStats;
    m.fConfidence = fOptions.fConfidence;
    if (fpLogistic) {
        const auto& stats = static_cast<const MCMath_850::MCLogOutputStats&>(*fpStats);
        m.fbLogistic = true;
        m.fvModelCategories = stats.GetDependCategories();
        m.fNBasic = stats.GetNBasicParameters();
    } else {
        m.fNBasic = static_cast<int>(fpStats->GetParameters().size());
    }
    return m;
}

FittedModel ModelFitter::GetFitted() const {
    fpImpl->Require();
    return fpImpl->Fitted();
}

bool ModelFitter::Score(const Record& record, double& value,
                        std::vector<double>& probabilities) const {
    const Impl& d = *fpImpl;
    d.Require();
    MCStatus status;
    if (!d.fpStats->GetRecordValidator().IsValidRecord(record, status)) return false;
    return d.ScoreUsed(record, value, probabilities);
}

void ModelFitter::WritePredictions(MCCommon_850::MultiPassRecordIter& records,
                                   std::ostream& out) const {
    const Impl& d = *fpImpl;
    d.Require();
    std::string line;
    if (!d.fpLogistic) {
        out << "predicted,residual\n";
        const int dep = d.fpComponent->GetCompSettings().GetDependent();
        d.ForEachScored(records, [&](const Record& record, bool scored, double value,
                                     const std::vector<double>&) {
            line.clear();
            if (scored) {
                AppendNumber(line, value);
                line += ',';
                AppendNumber(line, record[dep] - value);
            } else {
                line += ',';
            }
            line += '\n';
            out << line;
        });
        return;
    }
    const std::vector<std::string>& categories = d.fpLogistic->fvCategories;
    for (const std::string& c : categories) out << CsvField("p_" + c) << ",";
    out << "predicted\n";
    d.ForEachScored(records, [&](const Record&, bool scored, double value,
                                 const std::vector<double>& probabilities) {
        line.clear();
        if (scored) {
            for (double p : probabilities) {
                AppendNumber(line, p);
                line += ',';
            }
            line += CsvField(categories[static_cast<std::size_t>(value + 0.5)]);
        } else {
            line.append(categories.size(), ',');
        }
        line += '\n';
        out << line;
    });
}

}  // namespace mchost
