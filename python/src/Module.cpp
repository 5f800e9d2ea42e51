// The compiled half of the Python package: a model session over a data
// frame's columns or a data file, its reports as the mcreg program writes
// them, and the library's errors as mcreg.Error. The package's Python half
// turns data frames into columns and documents into data frames.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/base/HostError.h"
#include "host/fit/GlmFit.h"
#include "host/input/CsvReader.h"
#include "host/input/FrameReader.h"
#include "host/input/RecordStore.h"
#include "host/model/Formula.h"
#include "host/report/EffectTestsReport.h"
#include "host/report/MarginalsReport.h"
#include "host/report/OutputFile.h"
#include "host/report/OutputTarget.h"
#include "host/report/ReportFormat.h"
#include "host/score/PmmlModel.h"
#include "host/score/ScoreData.h"
#include "host/score/Scorer.h"
#include "host/session/ModelSession.h"
#include "python/src/FrameColumns.h"
#include "python/src/PythonCancel.h"
#include "settings/MCConst.h"

namespace py = pybind11;
using namespace mchost;

namespace mcregpy {

namespace {

int VcovCode(const std::string& vcov, bool logistic) {
    static const char* const kNames[] = {"hc0", "hc1", "hc2", "hc3"};
    if (vcov == "model") return -1;
    for (int i = 0; i < 4; ++i)
        if (vcov == kNames[i]) {
            if (logistic && i >= 2)
                throw HostError(HostError::kUsage,
                                "--vcov " + vcov +
                                    " divides by leverages, which the logistic model does not "
                                    "have: use hc0 or hc1");
            return i;
        }
    throw HostError(HostError::kUsage,
                    "--vcov takes model, hc0, hc1, hc2 or hc3, not '" + vcov + "'");
}

// The two read the options' Python objects: only with the GIL.
SessionOptions MakeOptions(const py::dict& kw) {
    SessionOptions o;
    o.fFormula = kw["formula"].cast<std::string>();
    o.fFit.fbLogistic = kw["logistic"].cast<bool>();
    o.fModel.fvFactors = kw["factors"].cast<std::vector<std::string>>();
    o.fModel.fFreqWeight = kw["freq_weight"].cast<std::string>();
    o.fModel.fRegrWeight = kw["regr_weight"].cast<std::string>();
    o.fModel.fbIntercept = kw["intercept"].cast<bool>();
    o.fModel.fTolerance = kw["tolerance"].cast<double>();
    if (!o.fFit.fbLogistic && !(o.fModel.fTolerance >= 0.0 && o.fModel.fTolerance < 1.0))
        throw HostError(HostError::kUsage, "--tolerance must lie in (0, 1)");
    o.fFit.fConfidence = kw["confidence"].cast<double>();
    o.fFit.fReference = kw["reference"].cast<std::string>();
    o.fFit.fMaxIterations = kw["max_iterations"].cast<int>();
    if (o.fFit.fMaxIterations < 1)
        throw HostError(HostError::kUsage, "--max-iterations must be at least 1, not " +
                                               std::to_string(o.fFit.fMaxIterations));
    o.fFit.fThreads = kw["threads"].is_none() ? 0 : kw["threads"].cast<int>();
    if (o.fFit.fThreads < 0 || (!kw["threads"].is_none() && o.fFit.fThreads == 0))
        throw HostError(HostError::kUsage,
                        "threads must be at least 1, not " + std::to_string(o.fFit.fThreads));
    o.fFit.fbCovariance = true;
    // The effect tests read the cross products the fit keeps, as the
    // program's do when it is asked for tests (a logistic model's for its
    // sequential tests, an X'X of its basic design).
    o.fModel.fbKeepCrossProducts = true;
    const std::string vcov = kw["vcov"].cast<std::string>();
    o.fModel.fSandwich = VcovCode(vcov, o.fFit.fbLogistic);
    const auto cluster = kw["cluster"].cast<std::vector<std::string>>();
    if (!cluster.empty()) {
        if (cluster.size() > 2)
            throw HostError(HostError::kUsage,
                            "--cluster takes one column, or two for two-way clustering");
        if (o.fModel.fSandwich >= 0)
            throw HostError(
                HostError::kUsage,
                "--cluster selects the cluster-robust covariance: leave out --vcov " + vcov);
        o.fModel.fvCluster = cluster;
        o.fModel.fSandwich = MCConst::ROBUST_CLUSTER;
    }
    return o;
}

EmmeansOptions MakeEmmeans(const py::dict& kw) {
    EmmeansOptions e;
    e.fvTerms = kw["terms"].cast<std::vector<std::string>>();
    e.fvCompare = kw["compare"].cast<std::vector<std::string>>();
    e.fAdjust = kw["adjust"].cast<std::string>();
    e.fContrast = kw["contrast"].cast<std::string>();
    e.fContrastReference = kw["contrast_reference"].cast<std::string>();
    e.fvMetric = kw["metric"].cast<std::vector<std::vector<double>>>();
    return e;
}

// Raises mcreg.Error (from the package's pure-Python half) with the
// message the program prints and the status: the library's code for a
// failure of the library, else the program's exit code.
void RaiseError(const std::string& message, long status) {
    const py::object error = py::module_::import("mcreg._errors").attr("Error");
    const py::object instance = error(message, status);
    PyErr_SetObject(error.ptr(), instance.ptr());
}

class Session {
public:
    Session(const py::object& data, const py::dict& kw) {
        try {
            fOptions = MakeOptions(kw);
        } catch (const HostError& e) {
            RaiseError(e.what(), e.GetKind());
            throw py::error_already_set();
        }
        ReadOptions read;
        read.fvNaValues = kw["na_values"].cast<std::vector<std::string>>();
        if (fOptions.fFit.fThreads > 0)
            read.fThreads = static_cast<unsigned>(fOptions.fFit.fThreads);
        if (!kw["memory_limit"].is_none())
            read.fMemoryLimit = kw["memory_limit"].cast<std::size_t>();
        read.fpInterrupt = fCancel.Flag();
        read.fProgress = [this](std::size_t, std::size_t, int) { fCancel.Poll(); };
        DataLoader load;
        std::vector<FrameColumn> columns;
        std::size_t nRows = 0;
        std::string path;
        if (py::isinstance<py::str>(data)) {
            path = data.cast<std::string>();
            load = [&](const PlanFn& plan) { return CsvReader::ReadFile(path, plan, read); };
        } else {
            columns = FrameColumns(data.cast<py::list>(), nRows);
            fColumns = data;
            load = [&](const PlanFn& plan) {
                return FrameReader::Read(columns, nRows, plan, read);
            };
        }
        Guard([&] {
            try {
                fpSession = std::make_unique<ModelSession>(fOptions, load);
            } catch (const FormulaError& e) {
                throw HostError(HostError::kUsage,
                                std::string(e.what()) + "\n" +
                                    PointAt(fOptions.fFormula, e.GetPos(), e.GetLen()));
            }
            fpSession->Fit(&fCancel);
        });
    }

    py::tuple Report(const std::string& tests, const py::dict& emmeans, bool covariance) {
        AnalysisRequest request;
        JsonOptions json;
        json.fbCovariance = covariance && !fpSession->IsLogistic();
        request.fEmmeans = MakeEmmeans(emmeans);
        SessionReport report;
        Guard([&] {
            if (!tests.empty()) request.fTests = TestTypes::Parse(tests);
            report = fpSession->Report(request, json);
        });
        return py::make_tuple(report.fText, JsonText(report.fJson));
    }

    py::tuple Tests(const std::string& types) {
        std::string text;
        std::vector<std::string> warnings;
        Guard([&] {
            const EffectTests tests = fpSession->Tests(TestTypes::Parse(types));
            text = JsonText(EffectTestsJson(tests));
            warnings = tests.fvWarnings;
        });
        return py::make_tuple(text, warnings);
    }

    py::tuple Emmeans(const py::dict& kw) {
        std::string text;
        std::vector<std::string> warnings;
        const EmmeansOptions options = MakeEmmeans(kw);
        Guard([&] { text = JsonText(MarginalsJson(fpSession->Emmeans(options, &warnings))); });
        return py::make_tuple(text, warnings);
    }

    std::vector<std::string> WritePmml(const std::string& path, const std::string& covariance) {
        PmmlOptions options;
        options.fApplication = "mcreg " MCREG_VERSION;
        if (covariance == "always")
            options.fCovariance = PmmlCovariance::kAlways;
        else if (covariance == "never")
            options.fCovariance = PmmlCovariance::kNever;
        std::vector<std::string> left;
        Guard([&] {
            std::ostringstream out;
            left = fpSession->WritePmml(out, options);
            Save(path, out.str());
        });
        return left;
    }

    void WriteResultsXml(const std::string& path) {
        Guard([&] {
            std::ostringstream out;
            fpSession->WriteResultsXml(out);
            Save(path, out.str());
        });
    }

    // One CSV row per record of the model's data, as the program writes
    // its predictions.
    std::string Predictions() {
        std::ostringstream out;
        Guard([&] {
            const auto records = fpSession->Records();
            fpSession->Fitter().WritePredictions(*records, out);
        });
        return out.str();
    }

    // The scores of new data (a data frame's columns or a file) by the
    // model's PMML document, as CSV, with the categories the model does not
    // know, each as a warning.
    py::tuple Score(const py::object& data, const std::vector<std::string>& naValues) {
        std::vector<FrameColumn> columns;
        std::size_t nRows = 0;
        std::string path;
        if (py::isinstance<py::str>(data))
            path = data.cast<std::string>();
        else
            columns = FrameColumns(data.cast<py::list>(), nRows);
        std::ostringstream out;
        std::vector<std::string> said;
        Guard([&] {
            PmmlOptions options;
            options.fApplication = "mcreg " MCREG_VERSION;
            options.fCovariance = PmmlCovariance::kNever;
            std::ostringstream pmml;
            fpSession->WritePmml(pmml, options);
            const Scorer scorer(ReadPmmlModel(pmml.str(), "the model"), ScoreOptions());
            ReadOptions read;
            read.fvNaValues = naValues;
            read.fpInterrupt = fCancel.Flag();
            const PlanFn plan = ScorePlan(scorer.Model(), {});
            const CodedData coded = path.empty() ? FrameReader::Read(columns, nRows, plan, read)
                                                 : CsvReader::ReadFile(path, plan, read);
            for (const UnseenCategory& u : WriteScores(scorer, coded, {}, out, fCancel.Flag()))
                said.push_back("column '" + u.fColumn + "' has category '" + u.fText +
                               "', which the model does not know, in " + std::to_string(u.fCount) +
                               (u.fCount == 1 ? " record" : " records") +
                               ": their predictions are NaN");
            for (const auto& [term, n] : scorer.UnobservedCells())
                if (n > 0)
                    said.push_back(std::to_string(n) + (n == 1 ? " record has" : " records have") +
                                   " a combination of categories of " + term +
                                   " that the fit did not meet: their predictions are NaN");
            if (const std::size_t n = scorer.UndeterminedRecords(); n > 0)
                said.push_back(std::to_string(n) + (n == 1 ? " record has" : " records have") +
                               " values the fit's data do not determine a score for (a "
                               "parameter the data left aliased would decide it): their "
                               "predictions are NaN");
        });
        return py::make_tuple(out.str(), said);
    }

    // The covariance of every parameter's estimate, NaN where a parameter
    // is redundant.
    py::array_t<double> Covariance() const {
        const FittedModel model = fpSession->Fitted();
        const MCMath_850::MCSymMatrix* cov = model.fpStats->GetCovarianceMatrix();
        const py::ssize_t n = cov != nullptr ? cov->GetNRows() : 0;
        py::array_t<double> out({n, n});
        auto m = out.mutable_unchecked<2>();
        for (py::ssize_t a = 0; a < n; ++a)
            for (py::ssize_t b = 0; b < n; ++b)
                m(a, b) = HostValue(cov->GetElem(static_cast<int>(a), static_cast<int>(b)));
        return out;
    }

    std::vector<std::string> Warnings() const { return fpSession->Warnings(); }
    bool IsLogistic() const { return fpSession->IsLogistic(); }

private:
    // Runs work without the GIL and turns the host's errors into Python's.
    template <class Work>
    void Guard(Work work) {
        bool interrupted = false;
        std::string message;
        long status = 0;
        fCancel.Reset();
        {
            py::gil_scoped_release release;
            try {
                work();
            } catch (const LibraryError& e) {
                interrupted = e.GetKind() == HostError::kInterrupted;
                message = e.what();
                status = e.GetCode();
            } catch (const HostError& e) {
                interrupted = e.GetKind() == HostError::kInterrupted;
                message = e.what();
                status = e.GetKind();
            }
        }
        // Whatever failed after Ctrl-C failed because of it.
        if (interrupted || fCancel.Interrupted()) {
            PyErr_SetNone(PyExc_KeyboardInterrupt);
            throw py::error_already_set();
        }
        if (!message.empty() || status != 0) {
            RaiseError(message, status);
            throw py::error_already_set();
        }
    }

    // As the program writes its files: a file that cannot be written whole
    // (a full disk) leaves the one it would replace as it was.
    static void Save(const std::string& path, const std::string& text) {
        // A path, not the program's name of the standard output.
        OutputFile file(ResolveOutput(path == "-" ? "./-" : path), DefaultTempDir());
        file.Stream() << text;
        file.Finish();
        file.Commit();
    }

    SessionOptions fOptions;
    PythonCancel fCancel;
    // The session reads the records from the columns' arrays where they
    // lie: this keeps them alive as long as it.
    py::object fColumns;
    std::unique_ptr<ModelSession> fpSession;
};

}  // namespace

}  // namespace mcregpy

PYBIND11_MODULE(_core, m) {
    using mcregpy::Session;
    m.doc() = "The mcreg host as a Python extension; use the mcreg package.";
    py::class_<Session>(m, "Session")
        .def(py::init<const py::object&, const py::dict&>())
        .def("report", &Session::Report)
        .def("tests", &Session::Tests)
        .def("emmeans", &Session::Emmeans)
        .def("write_pmml", &Session::WritePmml)
        .def("write_results_xml", &Session::WriteResultsXml)
        .def("predictions", &Session::Predictions)
        .def("score", &Session::Score)
        .def("covariance", &Session::Covariance)
        .def("warnings", &Session::Warnings)
        .def("is_logistic", &Session::IsLogistic);
}
