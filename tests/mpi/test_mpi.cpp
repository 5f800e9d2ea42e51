// The mcreg program as the processes of one fit under mpirun: each process
// reads its own part of the data, split unevenly (one part holds no record,
// one category lives in one part only), and process 0 prints the fit of the
// parts together. It must be the fit of the whole file by one process to
// 1e-12, aliasing and counts exactly; a failure in one part must end every
// process with the same message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/json_compare.h"
#include "support/program.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using support::Result;

// n = 0: the program on its own; otherwise n processes under mpirun,
// killed after two minutes: processes that disagree on a merge wait for
// each other for ever, and the test then fails instead of hanging.
Result RunMcreg(int n, const std::string& args) {
    std::string cmd = support::Quote(support::kProgram) + " " + args;
    if (n > 0)
        cmd = "timeout -s KILL 120 " + std::string(MCREG_MPIEXEC) +
              " --allow-run-as-root --oversubscribe -n " + std::to_string(n) + " " + cmd;
    return support::RunCommand(cmd);
}

// The program's standard error without what mpirun adds after it.
std::string OwnLines(const std::string& err) {
    const std::size_t at = err.find("\n---");
    return at == std::string::npos ? err : err.substr(0, at + 1);
}

class Dir {
public:
    Dir() : fPath(fs::temp_directory_path() / ("mcreg_mpi_" + std::to_string(getpid()))) {
        fs::create_directories(fPath);
    }
    ~Dir() { fs::remove_all(fPath); }
    std::string operator/(const std::string& name) const { return (fPath / name).string(); }

    // --data for every process's own part, name-{rank}.csv.
    std::string Parts(const std::string& name) const {
        return " --data '" + *this / (name + "-{rank}.csv") + "'";
    }

private:
    fs::path fPath;
};

const char* kHeader = "y,g,A,B,x,f,w,c\n";

// y a numeric response, g a three-category response; A text (level "d"
// only in records i % 50 == 7), B numeric codes used as a factor, x a
// covariate, f a frequency, w a regression weight and c clusters of 40
// consecutive records (a part's first and last may hold part of one).
std::vector<std::string> Rows(int n = 900) {
    std::vector<std::string> rows;
    const char* levels[] = {"a", "b", "c"};
    for (int i = 0; i < n; ++i) {
        const std::string a = i % 50 == 7 ? "d" : levels[i % 3];
        const int b = (i / 3) % 4 + 1;
        const double x = std::sin(0.37 * i) * 2 + 0.003 * i;
        const double u = std::fmod(i * 0.6180339887498949, 1.0);
        const double y = 1 + (a == "b") * 0.8 - 0.3 * b + 0.2 * (a == "c") * b + 1.4 * x + u;
        const double eta = 0.5 * x - (a == "a") * 0.7;
        const char* g = u < 0.25 + 0.1 * std::tanh(eta) ? "lo" : u < 0.65 ? "mid" : "hi";
        char line[200];
        std::snprintf(line, sizeof line, "%.17g,%s,%s,%d,%.17g,%d,%.17g,%d\n", y, g, a.c_str(), b,
                      x, 1 + i % 3, 0.5 + (i % 7) * 0.125, i / 40);
        rows.push_back(line);
    }
    return rows;
}

// parts[r] receives row i when part(i) == r.
template <class PartOf>
void WriteParts(const Dir& dir, int n, PartOf part, int nRows = 900) {
    const auto rows = Rows(nRows);
    std::vector<std::ofstream> out;
    for (int r = 0; r < n; ++r) {
        out.emplace_back(dir / ("part-" + std::to_string(r) + ".csv"));
        out.back() << kHeader;
    }
    std::ofstream whole(dir / "whole.csv");
    whole << kHeader;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        whole << rows[i];
        out[static_cast<std::size_t>(part(i))] << rows[i];
    }
}

// Every number of the single-process fit to 1e-12 (of 1e-2 for a smaller
// one), every other value equal.
constexpr support::Tolerance kOneProcess{1e-12, 1e-2};

// The analyses after the fit make one more pass, merged too.
const std::string kGlm =
    "glm --formula 'y ~ A + B + A*B + x + A*x' --factors B --freq-weight f --regr-weight w "
    "--tests 1,3 --emmeans 'A*B' --compare B --adjust holm --json";
// The robust covariance's middle is summed in the residual pass.
const std::string kGlmRobust =
    "glm --formula 'y ~ A + B + A*B + x + A*x' --factors B --freq-weight f --regr-weight w "
    "--vcov hc3 --covariance --tests 3 --emmeans 'A*B' --compare B --json";
// Clusters by B, every one of them with records in every part.
const std::string kGlmClustered =
    "glm --formula 'y ~ A + x' --freq-weight f --cluster B --tests 3 --emmeans A --json";
// Clusters that come one after another, whole in the file and in one part
// or two when split.
const std::string kGlmInOrder =
    "glm --formula 'y ~ A + B + x + A*x' --factors B --regr-weight w --cluster c --covariance "
    "--json";
// Two ways: the intersections' keys are pairs.
const std::string kGlmTwoWay = "glm --formula 'y ~ A + x' --cluster B f --tests 3 --json";
const std::string kLogistic =
    "logistic --formula 'g ~ A + x + A*x' --freq-weight f --reference mid --tests 3 --json";
// The logistic model's robust middle has a pass of its own after the
// iterations.
const std::string kLogisticRobust =
    "logistic --formula 'g ~ A + x' --freq-weight f --reference mid --vcov hc1 --tests 3 "
    "--emmeans A --json";
const std::string kLogisticClustered =
    "logistic --formula 'g ~ A + x' --freq-weight f --reference mid --cluster B --tests 3 "
    "--emmeans A --json";

// threads: added to the processes' command lines.
void ExpectSplitFitsWhole(const Dir& dir, int n, const std::string& threads = "") {
    for (const std::string& model : {kGlm, kGlmRobust, kGlmClustered, kGlmInOrder, kGlmTwoWay,
                                     kLogistic, kLogisticRobust, kLogisticClustered}) {
        SCOPED_TRACE(model + " on " + std::to_string(n) + " processes" + threads);
        const Result whole = RunMcreg(0, model + " --data " + dir / "whole.csv");
        ASSERT_EQ(whole.code, 0) << whole.err;
        const Result split = RunMcreg(n, model + threads + dir.Parts("part"));
        ASSERT_EQ(split.code, 0) << split.err;
        // Process 0 alone prints.
        const json got = json::parse(split.out), want = json::parse(whole.out);
        support::ExpectJsonNear(got, want, kOneProcess, "json");
        EXPECT_EQ(split.err, whole.err);
    }
    // The classification table is counted by the host's fitter, over each
    // part, and summed over the parts: the text report shows it.
    const std::string text = kLogistic.substr(0, kLogistic.size() - std::string(" --json").size());
    const Result whole = RunMcreg(0, text + " --data " + dir / "whole.csv");
    const Result split = RunMcreg(n, text + threads + dir.Parts("part"));
    ASSERT_EQ(split.code, 0) << split.err;
    const std::size_t at = whole.out.find("Classification");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(split.out.substr(split.out.find("Classification")), whole.out.substr(at));
}

}  // namespace

TEST(MpiProgram, TwoAndThreeProcessesFitTheWholeFile) {
    Dir dir;
    // Two processes, a third of the rows and the rest.
    WriteParts(dir, 2, [](std::size_t i) { return i < 300 ? 0 : 1; });
    ExpectSplitFitsWhole(dir, 2);
    // Three: none, the rows of level "d" (in no other part) with a few more,
    // and the rest.
    WriteParts(dir, 3, [](std::size_t i) { return i % 50 == 7 || i % 11 == 0 ? 1 : 2; });
    ExpectSplitFitsWhole(dir, 3);
}

TEST(MpiProgram, ProcessesOfSeveralThreadsFitTheWholeFile) {
    Dir dir;
    // Processes of one part and of several merge as one, to the fit of the
    // whole file (itself in parts): process 0's few records are one part,
    // the others' more than one.
    const auto part = [](std::size_t i) { return i < 1000 ? 0 : (i < 90000 ? 1 : 2); };
    WriteParts(dir, 3, part, 200000);
    ExpectSplitFitsWhole(dir, 3, " --threads 2");
}

TEST(MpiProgram, AFailingPartEndsEveryProcessWithOneMessage) {
    Dir dir;
    WriteParts(dir, 2, [](std::size_t i) { return i % 2; });
    // A text cell in the numeric response of part 1.
    {
        std::ofstream bad(dir / "part-1.csv", std::ios::app);
        bad << "oops,lo,a,1,0.5,1,1,0\n";
    }
    const Result text = RunMcreg(2, kGlm + dir.Parts("part"));
    EXPECT_EQ(text.code, 3);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err.rfind("mcreg: process 1: ", 0), 0u) << text.err;
    EXPECT_NE(text.err.find("line 452 (data row 451): column 'y' holds 'oops'"), std::string::npos)
        << text.err;
    // Printed once, by process 0.
    EXPECT_EQ(text.err.find("mcreg:", 1), std::string::npos) << text.err;

    // A part that does not exist: part 2 of three.
    WriteParts(dir, 2, [](std::size_t i) { return i % 2; });
    const Result missing = RunMcreg(3, kGlm + dir.Parts("part"));
    EXPECT_EQ(missing.code, 3) << missing.err;
    EXPECT_EQ(missing.err.rfind("mcreg: process 2: ", 0), 0u) << missing.err;
    EXPECT_NE(missing.err.find("part-2.csv"), std::string::npos) << missing.err;

    // A column of numbers in one part and of texts in another.
    std::ofstream(dir / "kind-0.csv") << "y,A\n1,1\n2,2\n3,1\n";
    std::ofstream(dir / "kind-1.csv") << "y,A\n1,a\n2,b\n";
    const Result kinds = RunMcreg(2, "glm --formula 'y ~ A'" + dir.Parts("kind"));
    EXPECT_EQ(kinds.code, 3);
    EXPECT_EQ(OwnLines(kinds.err), "mcreg: column 'A' holds text in part 1 (" + dir / "kind-1.csv" +
                                       ", data row 1: 'a') but only numbers in part 0 (" +
                                       dir / "kind-0.csv" +
                                       "): a column must be read the same way in every part\n");

    // The same columns in another order are matched by name: the fit is
    // that of the parts in one order.
    std::ofstream(dir / "order-0.csv") << "y,A,x\n1,a,0.5\n2,b,1.5\n4,a,2\n";
    std::ofstream(dir / "order-1.csv") << "x,y,A\n3,3,b\n1,5,a\n";
    std::ofstream(dir / "order.csv") << "y,A,x\n1,a,0.5\n2,b,1.5\n4,a,2\n3,b,3\n5,a,1\n";
    const std::string model = "glm --formula 'y ~ A + x' --json";
    const Result ordered = RunMcreg(2, model + dir.Parts("order"));
    ASSERT_EQ(ordered.code, 0) << ordered.err;
    const Result one = RunMcreg(0, model + " --data " + dir / "order.csv");
    ASSERT_EQ(one.code, 0) << one.err;
    support::ExpectJsonNear(json::parse(ordered.out)["parameters"],
                            json::parse(one.out)["parameters"], kOneProcess, "parameters");

    // A part without a model column says which part.
    std::ofstream(dir / "order-1.csv") << "y,A\n3,b\n5,a\n";
    const Result lacking = RunMcreg(2, model + dir.Parts("order"));
    EXPECT_EQ(lacking.code, 2);
    EXPECT_EQ(OwnLines(lacking.err), "mcreg: process 1: " + dir / "order-1.csv" +
                                         ": unknown column 'x'; the columns are: y, A\n"
                                         "  y ~ A + x\n"
                                         "          ^\n");

    // Every process reading the same file would count each record n times.
    const Result same = RunMcreg(2, kGlm + " --data " + dir / "whole.csv");
    EXPECT_EQ(same.code, 2);
    EXPECT_NE(same.err.find("{rank}"), std::string::npos) << same.err;
    // Nor by another name, nor may one process write over another's file
    // (a name of another rank, a link): each is refused before any file
    // is written, by the process that would clash, naming the other.
    fs::create_symlink(dir / "whole.csv", dir / "link-0.csv");
    fs::create_symlink(dir / "whole.csv", dir / "link-1.csv");
    fs::create_symlink(dir / "pred-0.csv", dir / "pred-1.csv");
    const std::string before = support::Slurp(dir / "part-1.csv");
    const std::vector<std::pair<std::string, std::string>> clashes = {
        {dir.Parts("link"), "process 1: --data '" + dir / "link-1.csv" +
                                "' is the same file as --data '" + dir / "link-0.csv" +
                                "' of process 0, whose records would count twice"},
        {dir.Parts("part") + " --pmml " + dir / "part-1.csv",
         "process 0: --pmml '" + dir / "part-1.csv" + "' is the same file as --data '" +
             dir / "part-1.csv" + "' of process 1"},
        {dir.Parts("part") + " --predictions '" + dir / "pred-{rank}.csv'",
         "process 0: --predictions '" + dir / "pred-0.csv" +
             "' is the same file as --predictions '" + dir / "pred-1.csv" + "' of process 1"}};
    for (const auto& [args, message] : clashes) {
        const Result clash = RunMcreg(2, "glm --formula 'y ~ A + x'" + args);
        EXPECT_EQ(clash.code, 2);
        EXPECT_EQ(OwnLines(clash.err), "mcreg: " + message + "\n");
    }
    EXPECT_TRUE(support::Slurp(dir / "part-1.csv") == before) << "part-1.csv was written over";
    EXPECT_FALSE(fs::exists(dir / "pred-0.csv"));

    // A failure in process 1's fit that process 0 never meets, with the
    // records one part per process and two: process 1 tells it and ends
    // process 0, which would otherwise wait at its next merge (until the
    // timeout's 124).
    for (const int rows : {900, 200000}) {
        SCOPED_TRACE(rows);
        WriteParts(
            dir, 2, [](std::size_t i) { return i % 2; }, rows);
        const std::string args = support::Quote(support::kProgram) + " " + kGlm + dir.Parts("part");
        const Result alone = support::RunCommand("timeout 60 " + std::string(MCREG_MPIEXEC) +
                                                 " --allow-run-as-root --oversubscribe -n 1 " +
                                                 args + " : -n 1 env MCREG_TEST_FAIL=fit " + args);
        EXPECT_EQ(alone.code, 3) << alone.err;
        EXPECT_EQ(alone.out, "");
        // Told once, among what mpirun says in any order.
        const std::size_t at = alone.err.find("mcreg: process 1: failed at the test point 'fit'\n");
        EXPECT_NE(at, std::string::npos) << alone.err;
        EXPECT_EQ(alone.err.find("mcreg:"), at) << alone.err;
        EXPECT_EQ(alone.err.find("mcreg:", at + 1), std::string::npos) << alone.err;
    }
}

// A signal that reaches one process alone (sent to its process id): every
// process stops with 130 and no output file, none left at a merge the
// interrupted one skipped, nor putting its files in place while that one
// does not. The signal is sent at a named point (MCREG_TEST_SIGNAL).
TEST(MpiProgram, AnInterruptOfOneProcessEndsEveryProcessWithNoFile) {
    Dir dir;
    WriteParts(dir, 2, [](std::size_t i) { return i % 2; });
    const std::string args = support::Quote(support::kProgram) + " " + kLogisticRobust +
                             dir.Parts("part") + " --pmml " + dir / "m.pmml" + " --results-xml " +
                             dir / "r.xml" + " --predictions '" + dir / "pred-{rank}.csv'";
    // Process 0 alone writes the documents after the marginal means; each
    // process puts its files in place at the commit.
    for (const auto& [point, rank] : std::vector<std::pair<std::string, int>>{
             {"emmeans", 1}, {"results-xml", 0}, {"commit", 1}}) {
        SCOPED_TRACE(point + " on process " + std::to_string(rank));
        const std::string signalled = "env MCREG_TEST_SIGNAL=" + point + ":2 " + args;
        const Result r = support::RunCommand("timeout -s KILL 60 " + std::string(MCREG_MPIEXEC) +
                                             " --allow-run-as-root --oversubscribe -n 1 " +
                                             (rank == 0 ? signalled : args) + " : -n 1 " +
                                             (rank == 1 ? signalled : args));
        EXPECT_EQ(r.code, 130) << r.err;
        EXPECT_EQ(OwnLines(r.err), "mcreg: interrupted\n");
        for (const char* file : {"m.pmml", "r.xml", "pred-0.csv", "pred-1.csv"}) {
            EXPECT_FALSE(fs::exists(dir / file)) << file;
            EXPECT_FALSE(fs::exists(dir / (std::string(file) + ".part"))) << file;
        }
    }
}

namespace {

// New records to score: quoted notes (some over two lines, with commas and
// quotes), CRLF line ends in places, missing values, a level of A and a
// category of B the model never saw, and a blank line.
std::string NewRecords() {
    std::string csv = "note,y,g,A,B,x,f,w,c\r\n";
    const auto rows = Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // y, g, A, B, x, f, w, c
        std::vector<std::string> cells;
        std::stringstream in(rows[i].substr(0, rows[i].size() - 1));
        for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
        if (i % 41 == 3) cells[4] = "";
        if (i % 97 == 11) cells[2] = "zz";
        if (i % 89 == 13) cells[3] = "9";
        csv += i % 5 == 1 ? "\"r" + std::to_string(i) + ",\nsecond \"\"line\"\"\""
                          : "r" + std::to_string(i);
        for (const std::string& cell : cells) csv += "," + cell;
        csv += i % 3 == 0 ? "\r\n" : "\n";
        if (i == 400) csv += "\n";
    }
    return csv;
}

}  // namespace

TEST(MpiProgram, PredictWritesTheScoresOfEveryPartInTheInputsOrder) {
    Dir dir;
    WriteParts(dir, 1, [](std::size_t) { return 0; });
    {
        std::ofstream out(dir / "new.csv", std::ios::binary);
        out << NewRecords();
    }
    std::ofstream(dir / "small.csv") << "A,B,x\nb,2,0.5\na,1,1.5\n";
    const Result glm = RunMcreg(0,
                                "glm --formula 'y ~ A + B + A*B + x + A*x + x*x' --factors B "
                                "--freq-weight f --regr-weight w --pmml " +
                                    dir / "glm.pmml" + " --data " + dir / "whole.csv");
    ASSERT_EQ(glm.code, 0) << glm.err;
    const Result logistic =
        RunMcreg(0, "logistic --formula 'g ~ A + x + A*x' --freq-weight f --pmml " +
                        dir / "logistic.pmml" + " --data " + dir / "whole.csv");
    ASSERT_EQ(logistic.code, 0) << logistic.err;

    const std::vector<std::pair<std::string, std::string>> runs = {
        {"glm.pmml", "new.csv --keep note,y --se --interval prediction"},
        {"glm.pmml", "new.csv --interval confidence --level 0.9"},
        {"logistic.pmml", "new.csv --keep note,g --se"},
        {"glm.pmml", "small.csv --keep A"}};
    int k = 0;
    for (const auto& [model, rest] : runs) {
        SCOPED_TRACE(model + " " + rest);
        const std::string args = "predict --model " + dir / model + " --data " + dir / rest;
        const std::string alone = dir / ("alone" + std::to_string(k) + ".csv");
        const Result one = RunMcreg(0, args + " --output " + alone);
        ASSERT_EQ(one.code, 0) << one.err;
        const std::string text = support::Slurp(alone);
        EXPECT_GT(text.size(), 40u);
        for (int n : {1, 3}) {
            const std::string split =
                dir / ("split" + std::to_string(k) + "_" + std::to_string(n) + ".csv");
            const Result r = RunMcreg(n, args + " --output " + split);
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(support::Slurp(split), text) << n << " processes";
            // The warnings of the unseen categories, counted over all parts,
            // once.
            EXPECT_EQ(OwnLines(r.err), one.err) << n << " processes";
        }
        ++k;
    }
    {
        // Standard errors that rounding takes, in every part: counted over
        // all of them, once.
        std::string train = "y,x\n", fresh = "x\n";
        for (int i = 0; i < 40; ++i) {
            train += std::to_string(i % 7) + "," + std::to_string(100000000 + i) + "\n";
            fresh += std::to_string(100000000 + i) + "\n";
        }
        std::ofstream(dir / "far.csv") << train;
        std::ofstream(dir / "farnew.csv") << fresh;
        ASSERT_EQ(RunMcreg(0, "glm --formula 'y ~ x + x*x' --pmml " + dir / "far.pmml" +
                                  " --data " + dir / "far.csv")
                      .code,
                  0);
        const std::string args = "predict --se --model " + dir / "far.pmml" + " --data " +
                                 dir / "farnew.csv" + " --output ";
        const Result one = RunMcreg(0, args + dir / "far1.csv");
        const Result three = RunMcreg(3, args + dir / "far3.csv");
        EXPECT_NE(one.err.find("errors and intervals of 40 records"), std::string::npos) << one.err;
        EXPECT_EQ(OwnLines(three.err), one.err);
    }
    const Result warned = RunMcreg(0, "predict --model " + dir / "glm.pmml" + " --data " +
                                          dir / "new.csv" + " --output " + dir / "w.csv");
    EXPECT_NE(warned.err.find("column 'A' has category 'zz'"), std::string::npos) << warned.err;
    EXPECT_NE(warned.err.find("column 'B' has category '9'"), std::string::npos) << warned.err;

    // A malformed record in the last part is placed in the whole input.
    {
        std::ofstream out(dir / "bad.csv", std::ios::binary);
        std::string csv = NewRecords();
        csv.insert(csv.rfind("\n", csv.size() - 2) + 1, "\"open,b,2,1\n");
        out << csv;
    }
    const std::string bad = "predict --model " + dir / "glm.pmml" + " --data " + dir / "bad.csv";
    const Result one = RunMcreg(0, bad + " --output " + dir / "b1.csv");
    const Result three = RunMcreg(3, bad + " --output " + dir / "b3.csv");
    EXPECT_EQ(one.code, 3);
    EXPECT_EQ(three.code, 3);
    EXPECT_EQ(OwnLines(three.err), "mcreg: process 2: " + one.err.substr(7)) << one.err;
    EXPECT_FALSE(fs::exists(dir / "b3.csv"));
}
