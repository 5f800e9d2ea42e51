// Output files: written whole or not at all, told apart by what they are
// rather than by their spelling, and refused when they would overwrite an
// input or each other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/base/HostError.h"
#include "host/report/OutputFile.h"
#include "host/report/OutputTarget.h"
#include "support/host_fixtures.h"
#include "support/program.h"

using namespace mchost;
using mchost_test::TempDir;
using mchost_test::ThrownBy;
using support::Slurp;
using testing::AllOf;
using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

// The usage error that body gives, "" when there is none.
std::string Refusal(const std::function<void()>& body) {
    const mchost_test::Thrown e = ThrownBy(body);
    EXPECT_TRUE(e.kind == 0 || e.kind == HostError::kUsage) << e.kind;
    return e.message;
}

std::string Refusal(const std::string& output) {
    return Refusal([&] { ResolveOutput(output); });
}

// Writes text to the output, committed.
void Write(const OutputTarget& target, const TempDir& dir, const std::string& text) {
    OutputFile f(target, dir.path.string());
    f.Stream() << text;
    f.Finish();
    f.Commit();
}

}  // namespace

TEST(OutputFile, WrittenWholeOnCommitAndNotAtAllOtherwise) {
    TempDir dir;
    const std::string out = dir / "model.pmml";
    std::ofstream(out) << "an earlier result\n";
    {
        OutputFile f(ResolveOutput(out), dir.path.string());
        EXPECT_FALSE(f.IsDirect());
        f.Stream() << "half a document";
        // Dropped without Commit: the earlier file stays, nothing is left
        // beside it.
    }
    EXPECT_EQ(Slurp(out), "an earlier result\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"model.pmml"});
    Write(ResolveOutput(out), dir, "the new document\n");
    EXPECT_EQ(Slurp(out), "the new document\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"model.pmml"});

    // A new file appears only on Commit, and keeps the mode of the one it
    // replaces.
    const std::string fresh = dir / "fresh.csv";
    {
        OutputFile f(ResolveOutput(fresh), dir.path.string());
        f.Stream() << "a,b\n";
        f.Finish();
        EXPECT_FALSE(fs::exists(fresh));
        f.Commit();
    }
    EXPECT_EQ(Slurp(fresh), "a,b\n");
    ::chmod(out.c_str(), 0640);
    Write(ResolveOutput(out), dir, "x");
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // RemoveUnfinished takes away the temporary file of a file in progress.
    OutputFile open(ResolveOutput(dir / "late.xml"), dir.path.string());
    open.Stream() << "<x/>";
    EXPECT_EQ(dir.Names().size(), 3u);  // fresh.csv, model.pmml and the temporary file
    OutputFile::RemoveUnfinished();
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fresh.csv", "model.pmml"}));
}

TEST(OutputFile, ASecondWriterOfTheSameFileIsRefused) {
    TempDir dir;
    const std::string out = dir / "model.pmml";
    // One left by a killed run holds no lock and is replaced.
    std::ofstream(out + ".part") << "left behind";
    OutputFile first(ResolveOutput(out), dir.path.string());
    first.Stream() << "the first run's document";
    first.Finish();
    // A run started meanwhile neither takes that file away nor would put
    // it in place half written; the first still commits its own.
    EXPECT_THAT(Refusal([&] { OutputFile second(ResolveOutput(out), dir.path.string()); }),
                HasSubstr("is being written by another run"));
    first.Commit();
    EXPECT_EQ(Slurp(out), "the first run's document");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"model.pmml"});
}

TEST(OutputFile, FilesAbandonedByAStopAreNeverCommitted) {
    TempDir dir;
    const std::vector<std::string> before = dir.Names();
    const auto open = [&](const char* name) {
        auto f = std::make_unique<OutputFile>(ResolveOutput(dir / name), dir.path.string());
        f->Stream() << name;
        f->Finish();
        return f;
    };
    {
        // A stop before the commit takes the temporary files at once, and
        // the commit then fails instead of putting half the files in place.
        const auto a = open("a.xml");
        OutputFile::AbandonUnfinished();
        EXPECT_EQ(dir.Names(), before);
        EXPECT_EQ(ThrownBy([] { const OutputFile::CommitWindow window; }).kind,
                  HostError::kInterrupted);
    }
    // A stop while files are put in place waits for them, all of them.
    const auto a = open("a.xml");
    const auto b = open("b.xml");
    {
        const OutputFile::CommitWindow window;
        a->Commit();
        OutputFile::AbandonUnfinished();
        b->Commit();
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.xml", "b.xml"}));
    EXPECT_EQ(Slurp(dir / "b.xml"), "b.xml");
}

TEST(OutputTarget, LinksAreFollowedAndWhatCannotBeWrittenIsRefused) {
    TempDir dir;
    const std::string real = dir / "real.csv";
    std::ofstream(real) << "old\n";
    fs::create_symlink(real, dir / "link.csv");
    const OutputTarget viaLink = ResolveOutput(dir / "link.csv");
    EXPECT_EQ(fs::canonical(viaLink.fPath), fs::canonical(real));
    EXPECT_EQ(viaLink.fKey, ResolveOutput(real).fKey);
    Write(viaLink, dir, "new\n");
    EXPECT_EQ(Slurp(real), "new\n");
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));

    // The standard output and a device are written directly.
    EXPECT_TRUE(ResolveOutput("-").IsStandardOutput());
    EXPECT_TRUE(ResolveOutput("/dev/null").fbDirect);
    EXPECT_FALSE(ResolveOutput(real).fbDirect);

    // A folder, a file in a folder that does not exist, a file without
    // write permission (kept even from root): each named in the refusal.
    EXPECT_THAT(Refusal(dir.path.string()), HasSubstr(dir.path.string()));
    EXPECT_NE(Refusal(dir / "no/such/file.csv"), "");
    const std::string locked = dir / "locked.csv";
    std::ofstream(locked) << "keep\n";
    ::chmod(locked.c_str(), 0444);
    EXPECT_THAT(Refusal(locked), HasSubstr("locked.csv"));
    EXPECT_EQ(Slurp(locked), "keep\n");
}

TEST(OutputTarget, AnOutputMayNotBeAnInputOrAnotherOutput) {
    TempDir dir;
    const std::string data = dir / "data.csv";
    std::ofstream(data) << "y\n1\n";
    fs::create_directory(dir / "sub");
    // The same file under other spellings is the same file.
    const std::optional<FileKey> input = InputKey(data);
    ASSERT_TRUE(input.has_value());
    EXPECT_EQ(ResolveOutput(dir / "./data.csv").fKey, *input);
    EXPECT_EQ(*InputKey(dir / "sub/../data.csv"), *input);
    EXPECT_FALSE(InputKey(dir / "missing.csv").has_value());
    // A file yet to be created is told apart by its folder and name.
    EXPECT_EQ(ResolveOutput(dir / "new.xml").fKey, ResolveOutput(dir / "./new.xml").fKey);
    EXPECT_FALSE(ResolveOutput(dir / "new.xml").fKey == ResolveOutput(dir / "other.xml").fKey);

    const std::vector<NamedFile> inputs = {{"--data", *input, data}};
    const auto refused = [&](const std::vector<std::pair<std::string, OutputTarget>>& outputs) {
        return Refusal([&] { RefuseSharedFiles(inputs, outputs); });
    };
    EXPECT_THAT(refused({{"--predictions", ResolveOutput(dir / "./data.csv")}}),
                AllOf(HasSubstr("--predictions"), HasSubstr("--data")));
    EXPECT_THAT(refused({{"--pmml", ResolveOutput(dir / "out.xml")},
                         {"--results-xml", ResolveOutput(dir / "sub/../out.xml")}}),
                AllOf(HasSubstr("--pmml"), HasSubstr("--results-xml")));
    EXPECT_EQ(refused({{"--pmml", ResolveOutput(dir / "a.xml")},
                       {"--results-xml", ResolveOutput(dir / "b.xml")}}),
              "");
}
