// Interrupting the mcreg program: Ctrl-C (SIGINT) or SIGTERM at any stage of
// a run ends it with status 130, leaves no output file and no temporary
// file, and keeps an existing file as it was. The program sends itself the
// signal at a named stage (MCREG_TEST_SIGNAL), so no test depends on
// timing; waits for input are interrupted for real once the program is
// seen waiting.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

// The program, which sends itself the signal when it reaches the stage.
Result RunSignalledAt(const std::string& stage, int signal, const std::vector<std::string>& args,
                      int count = 1) {
    const std::string spec =
        stage + ":" + std::to_string(signal) + (count > 1 ? ":" + std::to_string(count) : "");
    ::setenv("MCREG_TEST_SIGNAL", spec.c_str(), 1);
    const Result r = RunProgram(args);
    ::unsetenv("MCREG_TEST_SIGNAL");
    return r;
}

struct Model {
    std::string command, data, formula, factor;
    std::vector<std::string> stages;
};

const std::vector<Model>& Models() {
    static const std::vector<Model> models = {
        {"glm",
         kGolden + "cli_anova.csv",
         "y ~ diet + dose + x + diet*dose",
         "diet",
         {"read", "fit", "sweep", "tests", "emmeans", "emmeans-pairs", "pmml", "results-xml",
          "predictions", "report", "commit"}},
        {"logistic",
         kGolden + "cli_logistic.csv",
         "y ~ A + x",
         "A",
         {"read", "fit", "tests", "emmeans", "emmeans-pairs", "pmml", "results-xml", "predictions",
          "report", "commit"}},
    };
    return models;
}

// Every analysis and every file of a model, into dir.
std::vector<std::string> FullRun(const Model& m, const TempDir& dir) {
    const auto in = [&](const char* name) { return (dir.path / name).string(); };
    return Plus({m.command, "--data", m.data, "--formula", m.formula, "--tests", "1,3", "--emmeans",
                 m.factor},
                {"--pmml", in("model.pmml"), "--results-xml", in("results.xml"), "--predictions",
                 in("predictions.csv")});
}

const std::string kEarlier = "an earlier result\n";

TEST_F(Cli, AnInterruptAtAnyStageExits130AndLeavesNoFile) {
    for (const Model& m : Models()) {
        SCOPED_TRACE(m.command);
        const TempDir dir;
        std::vector<std::string> args = FullRun(m, dir);
        // Undisturbed, the run writes all three files.
        ASSERT_EQ(RunProgram(args).code, 0);
        EXPECT_EQ(dir.Names(),
                  (std::set<std::string>{"model.pmml", "predictions.csv", "results.xml"}));
        for (const int signal : {SIGINT, SIGTERM}) {
            // SIGTERM with the records streamed through a temporary file.
            std::vector<std::string> how = args;
            if (signal == SIGTERM) how.insert(how.end(), {"--memory-limit", "0"});
            for (const std::string& stage : m.stages) {
                SCOPED_TRACE(stage + " " + std::to_string(signal));
                fs::remove_all(dir.path);
                fs::create_directory(dir.path);
                std::ofstream(dir.path / "results.xml") << kEarlier;
                const Result r = RunSignalledAt(stage, signal, how);
                EXPECT_EQ(r.code, 130) << r.err;
                EXPECT_EQ(r.err, "mcreg: interrupted\n");
                // Interrupted after its report, the run still writes no file.
                EXPECT_EQ(r.out.empty(), stage != "commit");
                EXPECT_EQ(dir.Names(), std::set<std::string>{"results.xml"});
                EXPECT_EQ(Slurp(dir.path / "results.xml"), kEarlier);
            }
        }
    }
}

TEST_F(Cli, ASecondSignalEndsTheProgramAtOnceAndLeavesNoFile) {
    for (const Model& m : Models()) {
        SCOPED_TRACE(m.command);
        for (const auto& [stage, signal] :
             std::vector<std::pair<std::string, int>>{{"predictions", SIGINT}, {"pmml", SIGTERM}}) {
            SCOPED_TRACE(stage);
            const TempDir dir;
            std::ofstream(dir.path / "results.xml") << kEarlier;
            const Result r = RunSignalledAt(stage, signal, FullRun(m, dir), 2);
            EXPECT_EQ(r.code, 128 + signal) << r.err;
            // Ended by the signal, with no word of its own.
            EXPECT_THAT(r.err, Not(HasSubstr("mcreg")));
            EXPECT_EQ(dir.Names(), std::set<std::string>{"results.xml"});
            EXPECT_EQ(Slurp(dir.path / "results.xml"), kEarlier);
        }
    }
}

// The program started on its own, its standard input from in (from
// /dev/null when in is -1).
pid_t Start(const std::vector<std::string>& args, int in = -1) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(in < 0 ? null : in, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>("mcreg")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(kProgram.c_str(), argv.data());
    ::_exit(127);
}

// True once the program catches both signals and sleeps: it waits for
// input (or, had it not reached the wait yet, the flag its handler sets is
// seen before the wait).
bool WaitUntilWaiting(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const unsigned long long both = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
    for (int i = 0; i < 1000; ++i) {
        std::ifstream status(proc + "/status");
        unsigned long long caught = 0;
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0) caught = std::stoull(line.substr(7), nullptr, 16);
        std::ifstream stat(proc + "/stat");
        std::string text;
        std::getline(stat, text);
        const std::size_t paren = text.rfind(')');
        const bool sleeping =
            paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'S';
        if ((caught & both) == both && sleeping) return true;
        ::usleep(10000);
    }
    return false;
}

// The exit code, -1 for a program that had to be killed, 128 + signal for
// one that a signal ended.
int WaitForExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// The program's exit code after the signal, sent once it is seen waiting.
int InterruptWhenWaiting(pid_t pid, int signal) {
    EXPECT_TRUE(WaitUntilWaiting(pid));
    ::kill(pid, signal);
    return WaitForExit(pid);
}

TEST_F(Cli, AWaitForInputOrForAReaderIsInterrupted) {
    if (!fs::exists("/proc/self/status")) GTEST_SKIP() << "no /proc to see the program wait";
    const TempDir dir;
    const fs::path fifo = dir.path / "pipe.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Far more predictions than a pipe holds.
    std::string records = "y,x\n";
    for (int i = 0; i < 5000; ++i)
        records += std::to_string(i % 17) + "," + std::to_string(i % 13) + "\n";
    const TempFile many(records);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        {
            // --data - from a terminal, or a pipe that stays open: nothing
            // comes.
            int fds[2];
            ASSERT_EQ(::pipe(fds), 0);
            const pid_t pid = Start({"glm", "--data", "-", "--formula", "y ~ x"}, fds[0]);
            ::close(fds[0]);
            EXPECT_EQ(InterruptWhenWaiting(pid, signal), 130) << "standard input";
            ::close(fds[1]);
        }
        {
            // A named pipe that sends the header and one record, then
            // nothing. Opening it waits for the program to open it.
            const pid_t pid = Start({"glm", "--data", fifo.string(), "--formula", "y ~ x"});
            const int fd = ::open(fifo.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            const std::string head = "y,x\n1,2\n3,5\n";
            EXPECT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
            EXPECT_EQ(InterruptWhenWaiting(pid, signal), 130) << "named pipe";
            ::close(fd);
        }
        {
            // A pipe as an output waits for its reader, which never comes.
            const pid_t pid = Start({"glm", "--data", kGolden + "cli_anova.csv", "--formula",
                                     "y ~ diet", "--predictions", fifo.string()});
            EXPECT_EQ(InterruptWhenWaiting(pid, signal), 130) << "output pipe";
            struct stat st;
            ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
            EXPECT_TRUE(S_ISFIFO(st.st_mode));
        }
        {
            // A reader that never reads: the predictions fill the pipe and
            // the program waits to write the rest.
            const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(reader, 0);
            const pid_t pid = Start({"glm", "--data", many.path.string(), "--formula", "y ~ x",
                                     "--predictions", fifo.string()});
            EXPECT_EQ(InterruptWhenWaiting(pid, signal), 130) << "full pipe";
            ::close(reader);
        }
    }
    EXPECT_EQ(dir.Names(), std::set<std::string>{"pipe.csv"});
}

}  // namespace
