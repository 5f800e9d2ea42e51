// Where the mcreg program writes its files: an output is told apart from the
// input and from the other outputs by what file it is, however it is
// spelled; a symbolic link, a pipe and the standard output are written
// through, not replaced; a file that may not be written is left alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

// Relative names are those of dir while it lives.
struct InDir {
    fs::path old = fs::current_path();
    explicit InDir(const fs::path& dir) { fs::current_path(dir); }
    ~InDir() { fs::current_path(old); }
};

const std::string kEarlier = "an earlier result\n";

TEST_F(Cli, AnOutputThatIsTheInputOrAnotherOutputIsRefused) {
    const TempDir dir;
    const InDir here(dir.path);
    fs::copy_file(kGolden + "cli_anova.csv", "in.csv");
    fs::copy_file(kGolden + "cli_anova.csv", "p.csv.part");
    fs::create_symlink("in.csv", "link.csv");
    fs::create_hard_link("in.csv", "hard.csv");
    fs::create_directory("sub");
    const std::string data = Slurp("in.csv");
    const std::set<std::string> before = dir.Names();
    const std::string absolute = (dir.path / "in.csv").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<std::string> base{"glm", "--data", "in.csv", "--formula", "y ~ diet"};
    const std::string same = " is the same file as ";
    const std::vector<Case> cases = {
        {Plus(base, {"--predictions", "./in.csv"}),
         "--predictions './in.csv'" + same + "--data 'in.csv'"},
        {Plus(base, {"--pmml", absolute}), "--pmml '" + absolute + "'" + same + "--data 'in.csv'"},
        {Plus(base, {"--results-xml", "link.csv"}),
         "--results-xml 'link.csv'" + same + "--data 'in.csv'"},
        {Plus(base, {"--predictions", "hard.csv"}),
         "--predictions 'hard.csv'" + same + "--data 'in.csv'"},
        {Plus(base, {"--pmml", "same.out", "--results-xml", "./same.out"}),
         "--results-xml './same.out'" + same + "--pmml 'same.out'"},
        {Plus(base, {"--pmml", "out.xml", "--predictions", "sub/../out.xml"}),
         "--predictions 'sub/../out.xml'" + same + "--pmml 'out.xml'"},
        {Plus(base, {"--pmml", "-", "--results-xml", "/dev/stdout"}),
         "--results-xml '/dev/stdout'" + same + "--pmml '-'"},
        {Plus(base, {"--pmml", "m.xml", "--results-xml", "m.xml.part"}),
         "--pmml 'm.xml' would write its temporary file 'm.xml.part' over --results-xml "
         "'m.xml.part'"},
        {{"glm", "--data", "p.csv.part", "--formula", "y ~ diet", "--predictions", "p.csv"},
         "--predictions 'p.csv' would write its temporary file 'p.csv.part' over --data "
         "'p.csv.part'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ExpectExit(RunProgram(c.args), 2, "mcreg: " + c.message + "\n");
        EXPECT_EQ(dir.Names(), before);
    }
    // The standard input is the input, too.
    ExpectExit(
        RunProgram({"glm", "--data", "-", "--formula", "y ~ diet", "--predictions", "in.csv"},
                   "in.csv"),
        2, "mcreg: --predictions 'in.csv'" + same + "--data '-'\n");
    EXPECT_EQ(Slurp("in.csv"), data);
    EXPECT_EQ(Slurp("p.csv.part"), data);
    EXPECT_EQ(dir.Names(), before);
}

TEST_F(Cli, LinksPipesAndTheStandardOutputAreWrittenThrough) {
    const TempDir dir;
    const InDir here(dir.path);
    const std::vector<std::string> base{"glm", "--data", kGolden + "cli_anova.csv", "--formula",
                                        "y ~ diet"};
    ASSERT_EQ(RunProgram(Plus(base, {"--pmml", "plain.pmml", "--predictions", "plain.csv"})).code,
              0);
    const std::string pmml = Slurp("plain.pmml"), predictions = Slurp("plain.csv");
    ASSERT_NE(pmml.find("<PMML"), std::string::npos);

    // A link, to a file not there yet and then to the file it made, from
    // the folder of the link and from another: the link stays a link.
    fs::create_directory("real");
    fs::create_directory("sub");
    fs::create_symlink("real/model.pmml", "link.pmml");
    fs::create_symlink("../real/other.pmml", "sub/link.pmml");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(
            RunProgram(Plus(base, {"--pmml", "link.pmml", "--results-xml", "sub/link.pmml"})).code,
            0);
        EXPECT_TRUE(fs::is_symlink("link.pmml"));
        EXPECT_TRUE(fs::is_symlink("sub/link.pmml"));
        EXPECT_EQ(Slurp("real/model.pmml"), pmml);
        EXPECT_THAT(Slurp("real/other.pmml"), HasSubstr("<?xml"));
        EXPECT_EQ(dir.Names(),
                  (std::set<std::string>{"link.pmml", "plain.csv", "plain.pmml", "real", "sub"}));
    }

    // A named pipe: its reader gets the predictions; it stays a pipe.
    ASSERT_EQ(::mkfifo("pipe.csv", 0600), 0);
    std::string got;
    std::thread reader([&] { got = Slurp("pipe.csv"); });
    const Result viaPipe = RunProgram(Plus(base, {"--predictions", "pipe.csv"}));
    // Should the program never have opened it, the reader is let go.
    const int fd = ::open("pipe.csv", O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    reader.join();
    EXPECT_EQ(viaPipe.code, 0) << viaPipe.err;
    EXPECT_EQ(got, predictions);
    struct stat st;
    ASSERT_EQ(::stat("pipe.csv", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // "-" and /dev/stdout: the file alone on the standard output, the
    // report on standard error.
    Result r = RunProgram(Plus(base, {"--predictions", "-"}));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, predictions);
    EXPECT_THAT(r.err, HasSubstr("Parameter estimates"));
    r = RunProgram(Plus(base, {"--pmml", "/dev/stdout"}), "/dev/null", "out.pmml");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Slurp("out.pmml"), pmml);
    EXPECT_THAT(r.err, HasSubstr("Parameter estimates"));
}

TEST_F(Cli, AFileThatMayNotBeWrittenIsNotReplaced) {
    const TempDir dir;
    const InDir here(dir.path);
    const std::vector<std::string> base{"glm", "--data", kGolden + "cli_anova.csv", "--formula",
                                        "y ~ diet"};
    // No write permission for anyone: kept even from a user whom
    // permissions do not stop (root), whose rename would replace it.
    std::ofstream("kept.pmml") << kEarlier;
    fs::permissions("kept.pmml",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ExpectExit(RunProgram(Plus(base, {"--pmml", "kept.pmml"})), 2,
               "mcreg: cannot write 'kept.pmml': it is write-protected, and mcreg does not "
               "replace such a file\n");
    EXPECT_EQ(Slurp("kept.pmml"), kEarlier);
    // A file it may write is replaced and keeps its permissions.
    std::ofstream("private.pmml") << kEarlier;
    fs::permissions("private.pmml", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(RunProgram(Plus(base, {"--pmml", "private.pmml"})).code, 0);
    EXPECT_THAT(Slurp("private.pmml"), HasSubstr("<PMML"));
    EXPECT_EQ(fs::status("private.pmml").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"kept.pmml", "private.pmml"}));
}

}  // namespace
