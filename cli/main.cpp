// mcreg: fits regression models to data files with libmcreg.
//
// Exit codes: 0 success, 2 usage error (options, formula, column names),
// 3 data or model error, 130 interrupted (Ctrl-C), 1 internal error.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "host/BinaryReader.h"
#include "host/CsvReader.h"
#include "host/Formula.h"
#include "host/GlmFit.h"
#include "host/GlmReport.h"
#include "host/HostError.h"
#include "host/ModelSpec.h"
#include "host/Progress.h"
#include "host/ProgressIterator.h"

namespace {

using namespace mchost;

enum ExitCode { kSuccess = 0, kInternal = 1, kUsage = 2, kData = 3, kInterrupted = 130 };

// Set by the first Ctrl-C; the reader polls it between blocks and the
// library between records, through the cancel query below.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

extern "C" void OnInterrupt(int) {
    // A second Ctrl-C ends the process at once.
    if (gInterrupted.exchange(true)) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

void CatchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns to look at the flag
    sigaction(SIGINT, &sa, nullptr);
}

// The library asks between records and between the sweep's pivots;
// counting the questions tells how far the sweep has come.
class InterruptQuery : public MCCommon_850::MCQueryCancel {
public:
    bool IsCancel() override {
        ++fPolls;
        if (fOnPoll) fOnPoll(fPolls);
        return gInterrupted.load(std::memory_order_relaxed);
    }
    std::function<void(std::size_t)> fOnPoll;
    std::size_t fPolls = 0;
};

struct GlmCommand {
    std::string fData;
    std::string fFormula;
    std::vector<std::string> fvColumns;
    std::vector<std::string> fvFactors;
    std::string fFreqWeight;
    std::string fRegrWeight;
    bool fbNoIntercept = false;
    double fTolerance = 0.0;
    double fConfidence = 0.95;
    bool fbJson = false;
    std::string fMemoryLimit;
};

// "512M", "2G", "1.5g", "100000" (bytes); K, M, G, T are powers of 1024.
std::size_t ParseSize(const std::string& text) {
    std::size_t used = 0;
    double v = -1;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
    }
    std::string unit = text.substr(used);
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && unit.back() == 'B') unit.pop_back();
    const std::string units = "KMGT";
    double scale = 1;
    if (unit.size() == 1 && units.find(unit[0]) != std::string::npos)
        for (std::size_t i = 0; i <= units.find(unit[0]); ++i) scale *= 1024;
    else if (!unit.empty() && unit != "B")
        v = -1;
    if (!(v >= 0) || v * scale > 1e18)
        throw HostError(HostError::kUsage,
                        "--memory-limit takes a size such as 0, 800M or 2G, not '" + text + "'");
    return static_cast<std::size_t>(v * scale);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Percent(double part, double whole) {
    const int pct = whole > 0 ? static_cast<int>(100.0 * part / whole) : 0;
    return std::to_string(pct > 100 ? 100 : pct) + "%";
}

int RunGlm(const GlmCommand& cmd) {
    if (!(cmd.fConfidence > 0.0 && cmd.fConfidence < 1.0))
        throw HostError(HostError::kUsage, "--confidence must lie strictly between 0 and 1");
    if (cmd.fTolerance < 0.0 || cmd.fTolerance >= 1.0)
        throw HostError(HostError::kUsage, "--tolerance must lie in (0, 1)");
    const bool binary = !cmd.fvColumns.empty();
    if (binary && (EndsWith(cmd.fData, ".csv") || EndsWith(cmd.fData, ".CSV")))
        throw HostError(HostError::kUsage,
                        "--columns names the columns of a binary record file; a CSV file "
                        "names them in its header row");
    if (!binary && EndsWith(cmd.fData, ".bin"))
        throw HostError(HostError::kUsage,
                        "'" + cmd.fData +
                            "' looks like a binary record file: name its columns "
                            "with --columns y,a,b,...");

    const Formula formula = ParseFormula(cmd.fFormula);
    ModelOptions options;
    options.fvFactors = cmd.fvFactors;
    options.fFreqWeight = cmd.fFreqWeight;
    options.fRegrWeight = cmd.fRegrWeight;
    options.fbIntercept = !cmd.fbNoIntercept;
    options.fTolerance = cmd.fTolerance;
    options.fConfidence = cmd.fConfidence;

    TerminalProgress progress;
    ReadOptions read;
    if (!cmd.fMemoryLimit.empty()) read.fMemoryLimit = ParseSize(cmd.fMemoryLimit);
    read.fpInterrupt = &gInterrupted;
    read.fProgress = [&](std::size_t done, std::size_t total) {
        progress.Show("reading " + cmd.fData + ": " +
                      (total > 0 ? Percent(static_cast<double>(done), static_cast<double>(total))
                                 : std::to_string(done >> 20) + " MB"));
    };
    const auto readStart = std::chrono::steady_clock::now();
    const PlanFn plan = [&](const std::vector<std::string>& header) {
        return PlanColumns(formula, options, header);
    };
    if (binary) plan(cmd.fvColumns);  // name errors before reading
    const CodedData data = binary ? BinaryReader::ReadFile(cmd.fData, cmd.fvColumns, plan, read)
                                  : CsvReader::ReadFile(cmd.fData, plan, read);
    const ModelSpec spec(formula, options, data);
    const double readSeconds = Seconds(readStart);
    progress.Clear();
    // Said plainly here rather than as the library's generic "no valid record".
    if (spec.GetNRecords() == 0)
        throw HostError(HostError::kData, cmd.fData + " holds no data records");
    if (spec.GetNUsed() == 0)
        throw HostError(HostError::kData,
                        "none of the " + std::to_string(spec.GetNRecords()) +
                            " records has every model variable present and positive weights");

    const auto fitStart = std::chrono::steady_clock::now();
    const auto records = spec.MakeIterator();
    const double nRows = static_cast<double>(spec.GetNRecords());
    InterruptQuery interrupt;
    // After pass 2 has handed out its last record the library sweeps, once
    // per parameter, asking about a cancel before each pivot.
    std::size_t nParams = 0;
    std::size_t sweepStart = 0;
    bool sweeping = false;
    ProgressIterator counted(*records, [&](int pass, std::size_t n) {
        sweeping = pass == 2 && static_cast<double>(n) >= nRows;
        sweepStart = interrupt.fPolls;
        progress.Show("fitting: pass " + std::to_string(pass) + " of 3, " +
                      Percent(static_cast<double>(n), nRows));
    });
    interrupt.fOnPoll = [&](std::size_t polls) {
        if (!sweeping || nParams == 0) return;
        const std::size_t done = std::min(polls - sweepStart, nParams);
        progress.Show("fitting: solving, pivot " + std::to_string(done) + " of " +
                      std::to_string(nParams) + " (" +
                      Percent(static_cast<double>(done), static_cast<double>(nParams)) + ")");
    };
    GlmResult result =
        FitGlm(spec, counted, cmd.fConfidence, &interrupt, [&](std::size_t p) { nParams = p; });
    progress.Clear();
    result.fReadSeconds = readSeconds;
    result.fFitSeconds = Seconds(fitStart);

    for (const std::string& w : result.fvWarnings) std::cerr << "mcreg: " << w << "\n";
    std::cout << (cmd.fbJson ? FormatGlmJson(result) : FormatGlmText(result));
    std::cout.flush();
    return std::cout ? kSuccess : kInternal;
}

const char* kFormulaHelp = R"(Formula: dep ~ term + term + ...
  A           main effect of A         A*B or A:B  interaction of A and B
  x*x         square of covariate x    A*x         factor-by-covariate term
  A(B)        A nested within B        A*B(C), A(B(C))  deeper nesting
  x(A)        covariate x within the categories of factor A
  1 / 0       keep / remove the intercept; `odd name` quotes a column name
Columns with text cells and columns in --factors are factors; the others are
covariates. Empty cells and NA are missing; records with a missing model
value or a weight that is not positive are left out.

Data larger than --memory-limit (default: half the available memory) are not held
in memory but coded into a temporary file in $TMPDIR (default /tmp), which
the fit reads on each pass; the results are the same.

Exit codes: 0 success, 2 usage error, 3 data or model error, 130 interrupted,
1 internal error.)";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mcreg: regression models for data files (libmcreg " MCREG_VERSION ")", "mcreg"};
    app.set_version_flag("--version", "mcreg " MCREG_VERSION);
    app.require_subcommand(1);

    GlmCommand cmd;
    CLI::App* glm = app.add_subcommand("glm", "Fit a general linear model (least squares)");
    glm->add_option("--data", cmd.fData, "CSV file with a header row, or a binary record file")
        ->required()
        ->type_name("FILE");
    glm->add_option("--formula", cmd.fFormula, "Model formula, e.g. \"y ~ A*B + x\"")
        ->required()
        ->type_name("TEXT");
    glm->add_option("--columns", cmd.fvColumns,
                    "Names of the columns of a binary record file (its factors coded 0..K-1)")
        ->delimiter(',')
        ->type_name("NAMES");
    glm->add_option("--factors", cmd.fvFactors, "Columns to treat as factors even when numeric")
        ->delimiter(',')
        ->type_name("NAMES");
    glm->add_option("--freq-weight", cmd.fFreqWeight, "Frequency weight column")->type_name("COL");
    glm->add_option("--regr-weight", cmd.fRegrWeight, "Regression weight column")->type_name("COL");
    glm->add_flag("--no-intercept", cmd.fbNoIntercept, "Fit the model without an intercept");
    glm->add_option(
           "--tolerance", cmd.fTolerance,
           "Pivots below this fraction of their original value are aliased (default 1e-12)")
        ->type_name("NUM");
    glm->add_option("--confidence", cmd.fConfidence, "Level of the confidence intervals")
        ->capture_default_str()
        ->type_name("NUM");
    glm->add_flag("--json", cmd.fbJson, "Write the results as JSON");
    glm->add_option("--memory-limit", cmd.fMemoryLimit,
                    "Largest size of the records held in memory; larger data stream through a "
                    "temporary file (0: always)")
        ->type_name("SIZE");
    glm->footer(kFormulaHelp);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kSuccess : kUsage;
    }

    CatchInterrupt();
    try {
        return RunGlm(cmd);
    } catch (const FormulaError& e) {
        std::cerr << "mcreg: " << e.what() << "\n"
                  << PointAt(cmd.fFormula, e.GetPos(), e.GetLen()) << "\n";
        return kUsage;
    } catch (const HostError& e) {
        if (e.GetKind() == HostError::kInterrupted) {
            std::cerr << "mcreg: interrupted\n";
            return kInterrupted;
        }
        std::cerr << "mcreg: " << e.what() << "\n";
        return e.GetKind() == HostError::kUsage ? kUsage : kData;
    } catch (const std::bad_alloc&) {
        std::cerr << "mcreg: out of memory\n";
        return kInternal;
    } catch (const std::exception& e) {
        std::cerr << "mcreg: internal error: " << e.what() << "\n";
        return kInternal;
    }
}
