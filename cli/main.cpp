// mcreg: fits regression models to data files with libmcreg.
//
// Exit codes: 0 success, 2 usage error (options, formula, column names,
// output files), 3 data or model error, 130 interrupted (Ctrl-C or
// SIGTERM), 1 internal error.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Predict.h"
#include "cli/ProcessGroup.h"
#include "host/base/HostError.h"
#include "host/input/CodedData.h"
#include "host/model/Formula.h"
#include "host/report/PmmlDocument.h"

namespace {

using namespace mchost;
using namespace mcregcli;

const char* kFormulaHelp = R"(Formula: dep ~ term + term + ...
  A           main effect of A         A*B or A:B  interaction of A and B
  x*x         square of covariate x    A*x         factor-by-covariate term
  A(B)        A nested within B        A*B(C), A(B(C))  deeper nesting
  x(A)        covariate x within the categories of factor A
  1 / 0       keep / remove the intercept; `odd name` quotes a column name
A*B is the interaction alone: R's A*B is A + B + A*B here.
Columns in --factors and columns none of whose cells is a number are factors;
the others are covariates, whose cells must be numbers or missing values.
A factor's or cluster column's numbers are its categories by value (1, 1.0
and 01 are one), unless one has more than 15 significant digits, as an
identifier of 18 digits that a double cannot tell from its neighbours: the
column's cells are then texts.
Empty cells and the --na-values markers (default NA) are missing: a marker
that is a number matches every cell of that value (-999 also -999.0 and
-9.99e2), another marker a cell of exactly its text. Records with a missing
model value or a weight that is not positive are left out.

A CSV file may be UTF-8 or UTF-16, and gzip-compressed, from a file or a
pipe; other compressed files and archives are refused by name. A header
or record longer than 64 MiB is refused (an input without line ends).

Data larger than --memory-limit (default: half the available memory) are not held
in memory but coded into a temporary file in $TMPDIR (default /tmp), which
the fit reads on each pass; the results are the same.

Output files are written only when everything succeeded: as FILE.part,
renamed to FILE at the end. A symbolic link is written through to its
file; a pipe, a device and - (the standard output, the report then going
to standard error) are written directly. An output that is the input or
another output (however spelled), or an existing file that may not be
written, is refused.

Exit codes: 0 success, 2 usage error (options, formula, output files),
3 data or model error, 130 interrupted (Ctrl-C or SIGTERM; no output file
is left), 1 internal error.)";

static_assert(ReadOptions::kMaxRecordBytes == std::size_t(64) << 20,
              "the help text gives the longest record");

// The options every model reads its data with.
void AddReadOptions(CLI::App* sub, ReadCommand& cmd) {
    sub->add_option("--data", cmd.fData,
                    "CSV file with a header row (UTF-8 or UTF-16, gzip-compressed or not; - "
                    "for standard input), or a binary record file")
        ->required()
        ->type_name("FILE");
    sub->add_option("--formula", cmd.fFormula, "Model formula, e.g. \"y ~ A*B + x\"")
        ->required()
        ->type_name("TEXT");
    sub->add_option("--columns", cmd.fvColumns,
                    "Names of the columns of a binary record file (its factors coded 0..K-1)")
        ->delimiter(',')
        ->type_name("NAMES");
    sub->add_option("--factors", cmd.fvFactors, "Columns to treat as factors even when numeric")
        ->delimiter(',')
        ->type_name("NAMES");
    sub->add_option("--na-values", cmd.fNaValues,
                    "Cells that mark a missing value besides the empty cell, comma-separated; "
                    "a number matches by value (default NA)")
        ->type_name("LIST");
    sub->add_option("--delimiter", cmd.fDelimiter,
                    "Field delimiter of the CSV: one character, or 'tab' (default: a comma, or "
                    "';' or tab when the header splits only on that)")
        ->type_name("CHAR");
    sub->add_option("--freq-weight", cmd.fFreqWeight, "Frequency weight column")->type_name("COL");
    sub->add_flag("--no-intercept", cmd.fbNoIntercept, "Fit the model without an intercept");
    sub->add_option("--confidence", cmd.fConfidence, "Level of the confidence intervals")
        ->capture_default_str()
        ->type_name("NUM");
    sub->add_flag("--json", cmd.fbJson, "Write the results as JSON");
    sub->add_flag("--timing", cmd.fbTiming,
                  "Add the seconds spent reading and fitting to the JSON (which then differs "
                  "from run to run)");
    sub->add_option("--memory-limit", cmd.fMemoryLimit,
                    "Largest size of the records held in memory; larger data stream through a "
                    "temporary file (0: always)")
        ->type_name("SIZE");
    sub->footer(kFormulaHelp);
}

// The work after a fit that both models offer.
void AddAnalysisOptions(CLI::App* sub, ModelCommand& cmd) {
    sub->add_option(
           "--threads", cmd.fThreads,
           "Threads the reading and the fit run on (default: the cores available); data of "
           "more than "
           "65536 records are fitted in parts, and the results are the same for any "
           "number of threads")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    sub->add_option("--tests", cmd.fTests,
                    "Tests of the model effects: 1 (Type I), 3 (Type III) or 1,3")
        ->type_name("1|3|1,3");
    sub->add_option("--emmeans", cmd.fvEmmeans,
                    "Estimated marginal means of a factor term of the model, e.g. A or A*B "
                    "(repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("TERM");
    sub->add_option("--compare", cmd.fvCompare,
                    "The factor of the --emmeans term whose levels are compared (default: its "
                    "last), or none for the means only; once for all terms or once per term")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("FACTOR");
    sub->add_option("--adjust", cmd.fAdjust, "Multiplicity adjustment of comparisons")
        ->capture_default_str()
        ->type_name("none|bonferroni|sidak|holm|stepdown-sidak");
    sub->add_option("--contrast", cmd.fContrast, "Contrast of the compare factor's levels")
        ->type_name("simple|deviation|helmert|difference|repeated|polynomial");
    sub->add_option("--contrast-reference", cmd.fContrastReference,
                    "Reference level of the simple contrast (default: last)")
        ->type_name("first|last|TEXT");
    sub->add_option("--metric", cmd.fvMetric,
                    "Level values of the polynomial contrast (default: 1, 2, ...); once for all "
                    "terms or once per term")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("v1,v2,...");
    sub->add_option("--pmml", cmd.fPmml, "Write the model as a PMML 4.4 document")
        ->type_name("FILE");
    sub->add_option("--pmml-covariance", cmd.fPmmlCovariance,
                    "Whether the PMML document holds the covariance matrix of the estimates, "
                    "which scorers need for standard errors and which grows with the square of "
                    "the parameters: auto (default) writes it for models of at most " +
                        std::to_string(kPmmlCovarianceLimit) +
                        " parameters and warns when it leaves it out")
        ->type_name("auto|always|never");
    sub->add_option("--results-xml", cmd.fResultsXml,
                    "Write the parameter estimates as an XML results document")
        ->type_name("FILE");
}

}  // namespace

int main(int argc, char** argv) {
    // First: under mpirun, MPI may take its own arguments out of argv.
    const std::unique_ptr<Processes> processes = MakeProcessGroup(argc, argv);
    const bool speaks = processes->Rank() == 0;
    CLI::App app{"mcreg: regression models for data files (libmcreg " MCREG_VERSION ")", "mcreg"};
    app.set_version_flag("--version", "mcreg " MCREG_VERSION);
    app.require_subcommand(1);

    GlmCommand glmCmd;
    CLI::App* glm = app.add_subcommand("glm", "Fit a general linear model (least squares)");
    AddReadOptions(glm, glmCmd);
    glm->add_option("--regr-weight", glmCmd.fRegrWeight, "Regression weight column")
        ->type_name("COL");
    AddAnalysisOptions(glm, glmCmd);
    glm->add_option("--predictions", glmCmd.fPredictions,
                    "Write each record's predicted value and residual (CSV)")
        ->type_name("FILE");
    glm->add_option("--vcov", glmCmd.fVcov,
                    "Covariance of the estimates: model-based, or heteroskedasticity-consistent "
                    "HC0 to HC3 (the standard errors, tests, marginal means and exports use it)")
        ->capture_default_str()
        ->type_name("model|hc0|hc1|hc2|hc3");
    glm->add_option("--cluster", glmCmd.fvCluster,
                    "Cluster-robust covariance of the estimates, the records grouped by this "
                    "column's values (tests on clusters - 1 df)")
        ->type_name("COL");
    glm->add_flag("--covariance", glmCmd.fbCovariance,
                  "Add the covariance matrix of the estimates to the JSON");
    glm->add_option("--tolerance", glmCmd.fTolerance,
                    "A parameter is aliased when what the earlier ones leave of it is below this "
                    "fraction of its "
                    "spread about its mean (default 1e-12)")
        ->type_name("NUM");

    LogisticCommand logCmd;
    CLI::App* logistic = app.add_subcommand(
        "logistic", "Fit a multinomial (or binary) logistic regression of a categorical dependent");
    AddReadOptions(logistic, logCmd);
    logistic
        ->add_option("--reference", logCmd.fReference,
                     "Reference category of the dependent: first, last or a category's text")
        ->capture_default_str()
        ->type_name("first|last|TEXT");
    logistic
        ->add_option("--max-iterations", logCmd.fMaxIterations,
                     "Iterations of Fisher scoring at most")
        ->capture_default_str()
        ->type_name("N");
    logistic
        ->add_option("--vcov", logCmd.fVcov,
                     "Covariance of the estimates: model-based (the inverse information) or "
                     "robust HC0 or HC1 (the tests, marginal means and exports use it)")
        ->capture_default_str()
        ->type_name("model|hc0|hc1");
    logistic
        ->add_option("--cluster", logCmd.fvCluster,
                     "Cluster-robust covariance of the estimates, the records grouped by this "
                     "column's values")
        ->type_name("COL");
    AddAnalysisOptions(logistic, logCmd);
    logistic
        ->add_option("--predictions", logCmd.fPredictions,
                     "Write each record's category probabilities and predicted category (CSV)")
        ->type_name("FILE");

    PredictCommand predictCmd;
    CLI::App* predict = app.add_subcommand(
        "predict", "Score new data with a model from a PMML document (--pmml of glm or logistic)");
    predict->add_option("--model", predictCmd.fModel, "PMML document of the model")
        ->required()
        ->type_name("FILE");
    predict
        ->add_option("--data", predictCmd.fData,
                     "CSV file of the records to score, with a header row naming the model's "
                     "fields (UTF-8 or UTF-16, gzip-compressed or not; - for standard input)")
        ->required()
        ->type_name("FILE");
    predict
        ->add_option("--output", predictCmd.fOutput,
                     "CSV file of the scores, one row per data row in its order (- for standard "
                     "output)")
        ->required()
        ->type_name("FILE");
    predict->add_flag("--se", predictCmd.fbSe,
                      "Add the standard errors of the predictions (of each probability for a "
                      "multinomial model)");
    predict
        ->add_option("--interval", predictCmd.fInterval,
                     "Add the interval of a linear model's predictions: of the mean "
                     "(confidence) or of a new observation (prediction), t on the error df")
        ->type_name("confidence|prediction");
    predict->add_option("--level", predictCmd.fLevel, "Level of the intervals")
        ->capture_default_str()
        ->type_name("NUM");
    predict
        ->add_option("--keep", predictCmd.fvKeep,
                     "Columns of the data to copy into the output before the scores")
        ->delimiter(',')
        ->type_name("COL,COL");
    predict->add_flag("--strict", predictCmd.fbStrict,
                      "Stop with an error at a category the model does not know, rather than "
                      "leave its scores empty with a warning");
    predict
        ->add_option("--na-values", predictCmd.fNaValues,
                     "Cells that mark a missing value besides the empty cell, comma-separated; "
                     "a number matches by value (default NA)")
        ->type_name("LIST");
    predict
        ->add_option("--delimiter", predictCmd.fDelimiter,
                     "Field delimiter of the CSV: one character, or 'tab' (default: a comma, or "
                     "';' or tab when the header splits only on that)")
        ->type_name("CHAR");
    predict
        ->add_option("--memory-limit", predictCmd.fMemoryLimit,
                     "Largest size of the records held in memory; larger data stream through a "
                     "temporary file (0: always)")
        ->type_name("SIZE");

    // Said plainly rather than as "a subcommand is required".
    if (argc > 1 && argv[1][0] != '-' && std::string(argv[1]) != "glm" &&
        std::string(argv[1]) != "logistic" && std::string(argv[1]) != "predict") {
        if (speaks)
            std::cerr << "mcreg: unknown subcommand '" << argv[1]
                      << "': the subcommands are glm, logistic and predict (mcreg --help)\n";
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = speaks ? app.exit(e) : e.get_exit_code();
        return rc == 0 ? kSuccess : kUsage;
    }

    // An empty value ("--pmml ''", an unset shell variable) is no value;
    // only --na-values '' means something: no marker besides empty cells.
    for (const CLI::App* sub : {glm, logistic, predict}) {
        if (!sub->parsed()) continue;
        for (const CLI::Option* o : sub->get_options()) {
            if (o->get_type_size() == 0 || o->get_name() == "--na-values") continue;
            for (const std::string& v : o->results())
                if (v.find_first_not_of(" \t") == std::string::npos) {
                    if (speaks)
                        std::cerr << "mcreg: " << o->get_name() << " needs a value, not ''\n";
                    return kUsage;
                }
        }
    }

    CatchInterrupt();
    const std::string& formula = glm->parsed() ? glmCmd.fFormula : logCmd.fFormula;
    // Errors after a merge are the same on every process: process 0 tells
    // them. One that only this process can have ends all of them, told by
    // the process that met it: process 0 may know nothing of it.
    try {
        if (predict->parsed()) return RunPredict(predictCmd, *processes);
        return glm->parsed() ? RunGlm(glmCmd, *processes) : RunLogistic(logCmd, *processes);
    } catch (const FormulaError& e) {
        if (speaks)
            std::cerr << "mcreg: " << e.what() << "\n"
                      << PointAt(formula, e.GetPos(), e.GetLen()) << "\n";
        return kUsage;
    } catch (const LocalError& e) {
        if (Interrupted()) {
            std::cerr << "mcreg: interrupted\n";
            AbortGroup(*processes, kInterrupted);
            return kInterrupted;
        }
        // Named as the errors of one process's reading are: the others
        // end without a word.
        const std::string who =
            processes->IsSplit() ? "process " + std::to_string(processes->Rank()) + ": " : "";
        std::cerr << "mcreg: " << who << e.what() << "\n";
        AbortGroup(*processes, kData);
        return kData;
    } catch (const HostError& e) {
        // Whatever failed after an interrupt failed because of it.
        if (e.GetKind() == HostError::kInterrupted || Interrupted()) {
            if (speaks) std::cerr << "mcreg: interrupted\n";
            return kInterrupted;
        }
        if (speaks) std::cerr << "mcreg: " << e.what() << "\n";
        return e.GetKind() == HostError::kUsage ? kUsage : kData;
    } catch (const std::bad_alloc&) {
        std::cerr << "mcreg: out of memory\n";
        AbortGroup(*processes, kInternal);
        return kInternal;
    } catch (const std::exception& e) {
        std::cerr << "mcreg: internal error: " << e.what() << "\n";
        AbortGroup(*processes, kInternal);
        return kInternal;
    }
}
